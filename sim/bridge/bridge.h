// A model of the capture box as the agent sees it through the driver's
// control interface: bridge registers 8, 9 and 12, the remote-control
// receiver at I2C address 0x60, the snapshot-button latch, unplugging and
// injected failures. Portable C++: the host simulation and the capture-box
// simulator DLL for Windows both answer the property calls with it.
//
// How the box answers:
//  - 0x1005 SetValue selects a bridge register: index << 8 | length. Only
//    length 1 is accepted; a word with bits 16-31 set, or another length,
//    answers INVALID_ARG and clears the selection. The word 0 clears it.
//  - 0x1006 GetValue reads the selected register into the low byte of the
//    word (bits 8-31 stay as the caller left them, as a one-byte copy does);
//    SetValue writes the word's low byte to it. Without a selection both
//    answer INVALID_ARG.
//  - 0x1007 SetValue selects an I2C device: address << 16 | length, length 1;
//    other bits set answer INVALID_ARG and clear the selection, 0 clears it.
//  - 0x1008 GetValue reads one byte from the selected I2C device (low byte of
//    the word). Only the receiver (0x60) answers; another address fails with
//    GEN_FAILURE as an unacknowledged bus transfer. Without a selection:
//    INVALID_ARG. SetValue on 0x1008 answers INVALID_ARG (read-only device).
//  - 0x100B SetValue stores the bus address; GetValue on 0x1005, 0x1007 and
//    0x100B gives back the stored word. Any other property: INVALID_ARG.
//  - A null word pointer answers BAD_POINTER.
//  - Register 9 (read-only) is STATUS_IDLE_WORD when the receiver is empty
//    and STATUS_WAITING_WORD while a code waits; the value 7 comes only from
//    forceStatus, whose word replaces the whole status word. Register 12 reads
//    its base bits (0x05 unless changed) plus SNAPSHOT_LATCH_BIT while a press
//    is latched; writing it with the latch bit 0 clears the latch, the other
//    written bits are ignored (they are the box's own state). Any other
//    register is a plain byte that keeps what is written (initially 0).
//  - Unplugged, every call answers DEVICE_GONE and does nothing; so does every
//    call through an interface obtained before the last unplug.
//  - Failures are taken in this order: unplugged, then a matching failNext,
//    then the random failures; a failed call has no effect.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace bridge {

// Property identifiers of the control interface.
constexpr uint32_t PROP_REG_SELECT = 0x1005;
constexpr uint32_t PROP_REG_DATA = 0x1006;
constexpr uint32_t PROP_I2C_SELECT = 0x1007;
constexpr uint32_t PROP_I2C_DATA = 0x1008;
constexpr uint32_t PROP_BUS_ADDRESS = 0x100B;

constexpr uint8_t REG_PRE_STATUS = 8;
constexpr uint8_t REG_RECEIVER_STATUS = 9;
constexpr uint8_t REG_SNAPSHOT = 12;
constexpr uint32_t STATUS_IDLE_BIT = 0x04;
constexpr uint32_t STATUS_IDLE_WORD = 0x04;     // register 9, nothing waiting
constexpr uint32_t STATUS_WAITING_WORD = 0x00;  // register 9, a code waits
constexpr uint32_t SNAPSHOT_LATCH_BIT = 0x20;
constexpr uint8_t SNAPSHOT_BASE_BITS = 0x05;    // register 12 besides the latch
constexpr uint8_t RECEIVER_ADDRESS = 0x60;
constexpr uint8_t NO_CODE = 0xFF;               // receiver byte when none waits
constexpr uint32_t SELECT_LENGTH = 1;           // the only transfer length

constexpr uint32_t DEFAULT_REPEAT_MS = 108;     // the remote's repeat while held
constexpr uint32_t MAX_HOLD_MS = 0x7FFFFFFF;    // tick arithmetic wraps beyond it
// The receiver's queue depth: codes sent while it is full are lost.
constexpr size_t RECEIVER_CAPACITY = 32;
// Pending failNext / forceStatus entries kept; beyond it the oldest is dropped.
constexpr size_t MAX_PENDING_FAULTS = 64;
// Calls kept in log() before the oldest half is dropped (see setLogLimit).
constexpr size_t DEFAULT_LOG_LIMIT = size_t{1} << 20;

// Results the box gives.
constexpr int32_t OK = 0;
constexpr int32_t DEVICE_GONE = static_cast<int32_t>(0x80070001u);
constexpr int32_t GEN_FAILURE = static_cast<int32_t>(0x8007001Fu);
constexpr int32_t INVALID_ARG = static_cast<int32_t>(0x80070057u);
constexpr int32_t BAD_POINTER = static_cast<int32_t>(0x80004003u);

struct PropertyCall {
    uint32_t time;
    bool set;        // SetValue, else GetValue
    uint32_t id;     // property identifier
    uint32_t value;  // word written, or word returned by a successful read (0 when the read failed)
    int32_t result;
};

// One parsed command line (see CaptureBox::command for the syntax).
struct Command {
    enum class Kind { None, Press, Hold, Release, Snapshot, SnapshotBase, Unplug, Plug, Fail, RandomFailures, Status };
    Kind kind = Kind::None;  // None: a blank or comment line
    uint8_t code = 0;        // Press, Hold
    uint32_t ms = 0;         // Hold
    uint32_t repeatMs = DEFAULT_REPEAT_MS;
    uint32_t id = 0;         // Fail
    bool set = false;        // Fail
    int32_t result = 0;      // Fail, RandomFailures
    int count = 1;           // Fail, Status
    double probability = 0;  // RandomFailures
    uint32_t seed = 0;       // RandomFailures
    uint32_t word = 0;       // Status, SnapshotBase
};

// Parses one command line. Blank lines and lines starting with '#' give
// Kind::None. Returns false with the reason in `error` for a line it cannot read.
bool parseCommand(const std::string& line, Command* out, std::string* error = nullptr);

class CaptureBox {
public:
    // `clock` gives the current millisecond tick (virtual or real).
    explicit CaptureBox(std::function<uint32_t()> clock);

    // The control interface's two property calls.
    int32_t setValue(uint32_t id, const uint32_t* word) { return setValue(id, word, connection_); }
    int32_t getValue(uint32_t id, uint32_t* word) { return getValue(id, word, connection_); }
    // The same through an interface obtained while connection() was
    // `connection`: after the box was unplugged it answers DEVICE_GONE for
    // good, even once the box is back (a new bind is needed, as with a
    // real device that was pulled out).
    int32_t setValue(uint32_t id, const uint32_t* word, uint32_t connection);
    int32_t getValue(uint32_t id, uint32_t* word, uint32_t connection);

    // ---- what a user of the box does ----
    // A key press: the code (a whole byte, normally 0..31) waits in the
    // receiver until read. Codes queue in the receiver in press order.
    // There is one remote: a press or a new hold releases a key being held.
    void press(uint8_t code);
    // A key held for `ms`: the remote sends the code now and then again every
    // `repeatMs` while held, that is at 0, repeatMs, 2*repeatMs ... < ms.
    // Holds longer than MAX_HOLD_MS are cut to it.
    void hold(uint8_t code, uint32_t ms, uint32_t repeatMs = DEFAULT_REPEAT_MS);
    void release();  // lets go of a held key early
    void pressSnapshot();
    void unplug();
    void plug();
    bool plugged() const { return plugged_; }
    // Counts the times the box was plugged back in after an unplug.
    uint32_t connection() const { return connection_; }

    // ---- faults and odd answers for tests ----
    // The next `count` calls of the given kind on the property answer `result`
    // without effect (a read leaves the caller's word as it was).
    void failNext(uint32_t id, bool set, int32_t result, int count = 1);
    // Every call fails with `result` with the given probability (0..1), drawn
    // from a deterministic generator seeded with `seed`. Probability 0 stops it.
    void failRandomly(double probability, int32_t result, uint32_t seed);
    // Register 9 answers this word instead of the receiver's state, `count` times.
    void forceStatus(uint32_t word, int count = 1);
    // Register 12 bits besides the latch (the box's other state).
    void setSnapshotRegisterBase(uint8_t bits) { snapshotBase_ = bits & ~SNAPSHOT_LATCH_BIT; }

    // ---- what the box saw ----
    const std::vector<PropertyCall>& log() const { return log_; }
    void clearLog() { log_.clear(); }
    // At most `entries` calls stay in log(); when it would grow past that the
    // oldest half is dropped (0 keeps none). Long soak runs stay bounded.
    void setLogLimit(size_t entries) { logLimit_ = entries; }
    size_t droppedLogEntries() const { return droppedLog_; }
    // Called with every call as it is logged (the simulator DLL's log file).
    void setCallObserver(std::function<void(const PropertyCall&)> observer) { observer_ = std::move(observer); }
    uint32_t busAddress() const { return busAddress_; }
    size_t waitingCodes();  // codes in the receiver now
    bool snapshotLatched() const { return snapshotLatched_; }
    // Keys still to come from a hold in progress, for tests that wait for them.
    bool holding();

    // ---- scripts ----
    // Runs one command line: "press 5", "hold 6 800 [repeat]", "release",
    // "snapshot", "snapshot-base <hex>", "unplug", "plug",
    // "fail <prop-hex> <get|set> <result-hex> [count]",
    // "random-failures <probability> <result-hex> <seed>", "status <hex> [count]".
    // Codes, times, counts and seeds are decimal (or 0x-prefixed hex); the
    // values named -hex are hexadecimal with or without 0x.
    // Returns false (and says why in `error`) for a line it cannot read.
    bool command(const std::string& line, std::string* error = nullptr);
    void apply(const Command& command);

private:
    struct Hold {
        uint8_t code;
        uint32_t nextAt;
        uint32_t endAt;
        uint32_t repeatMs;
    };
    struct Failure {
        uint32_t id;
        bool set;
        int32_t result;
        int count;
    };
    struct ForcedStatus {
        uint32_t word;
        int count;
    };
    void advanceHolds();
    void send(uint8_t code);
    bool takeFailure(uint32_t id, bool set, int32_t* result);
    bool injectedFailure(uint32_t id, bool set, int32_t* result);
    bool drawRandomFailure();
    int32_t selectRegister(uint32_t word);
    int32_t selectI2C(uint32_t word);
    int32_t readRegister(uint32_t* word);
    int32_t writeRegister(uint32_t word);
    int32_t readI2C(uint32_t* word);
    int32_t record(bool set, uint32_t id, uint32_t value, int32_t result);

    std::function<uint32_t()> clock_;
    bool plugged_ = true;
    uint32_t connection_ = 0;
    uint32_t regSelect_ = 0;  // last valid register select word, 0 = none
    uint32_t i2cSelect_ = 0;  // last valid I2C select word, 0 = none
    uint32_t busAddress_ = 0;
    uint8_t registers_[256] = {};  // the registers without a model of their own
    std::deque<uint8_t> receiver_;
    bool holdActive_ = false;
    Hold hold_{};
    bool snapshotLatched_ = false;
    uint8_t snapshotBase_ = SNAPSHOT_BASE_BITS;
    std::deque<Failure> failures_;
    double randomFailure_ = 0;
    int32_t randomResult_ = 0;
    uint32_t randomState_ = 1;
    std::deque<ForcedStatus> forcedStatus_;
    std::vector<PropertyCall> log_;
    size_t logLimit_ = DEFAULT_LOG_LIMIT;
    size_t droppedLog_ = 0;
    std::function<void(const PropertyCall&)> observer_;
};

}  // namespace bridge
