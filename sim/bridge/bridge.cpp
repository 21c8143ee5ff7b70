#include "bridge.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>

namespace bridge {

namespace {

// Tick comparisons that survive the 32-bit millisecond counter wrapping.
bool reached(uint32_t now, uint32_t when) { return static_cast<int32_t>(now - when) >= 0; }

constexpr uint32_t kRegSelectReservedBits = 0xFFFF0000u;
constexpr uint32_t kI2CSelectReservedBits = 0xFF00FF00u;
constexpr uint32_t kLengthMask = 0xFFu;
constexpr uint32_t kLowByte = 0xFFu;
constexpr uint32_t kZeroSeedReplacement = 0x9E3779B9u;  // xorshift never leaves 0

std::vector<std::string> tokens(const std::string& line) {
    std::vector<std::string> out;
    std::string current;
    for (char c : line) {
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            if (!current.empty()) out.push_back(current), current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty()) out.push_back(current);
    return out;
}

bool fail(std::string* error, const std::string& why) {
    if (error) *error = why;
    return false;
}

bool hexDigits(const std::string& text, size_t from) {
    if (from >= text.size()) return false;
    for (size_t i = from; i < text.size(); ++i)
        if (!std::isxdigit(static_cast<unsigned char>(text[i]))) return false;
    return true;
}

bool hasHexPrefix(const std::string& text) {
    return text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
}

// A 32-bit number: decimal, or hexadecimal after "0x".
bool parseNumber(const std::string& text, uint32_t* out) {
    unsigned long long value = 0;
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    if (hasHexPrefix(text)) {
        if (!hexDigits(text, 2)) return false;
        value = std::strtoull(begin + 2, &end, 16);
    } else {
        if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
        value = std::strtoull(begin, &end, 10);
    }
    if (errno == ERANGE || *end != '\0' || value > 0xFFFFFFFFull) return false;
    *out = static_cast<uint32_t>(value);
    return true;
}

// A 32-bit hexadecimal number, "0x" optional.
bool parseHex(const std::string& text, uint32_t* out) {
    size_t from = hasHexPrefix(text) ? 2 : 0;
    if (!hexDigits(text, from) || text.size() - from > 8) return false;
    *out = static_cast<uint32_t>(std::strtoul(text.c_str() + from, nullptr, 16));
    return true;
}

bool parseCount(const std::string& name, const std::string& text, int* out, std::string* error) {
    uint32_t value = 0;
    if (!parseNumber(text, &value) || value < 1 || value > 0x7FFFFFFFu)
        return fail(error, name + ": count \"" + text + "\" is not a number of at least 1");
    *out = static_cast<int>(value);
    return true;
}

bool parseCode(const std::string& name, const std::string& text, uint8_t* out, std::string* error) {
    uint32_t value = 0;
    if (!parseNumber(text, &value) || value > 0xFF)
        return fail(error, name + ": key code \"" + text + "\" is not a byte (0..255)");
    *out = static_cast<uint8_t>(value);
    return true;
}

bool parseResult(const std::string& name, const std::string& text, int32_t* out, std::string* error) {
    uint32_t value = 0;
    if (!parseHex(text, &value)) return fail(error, name + ": result \"" + text + "\" is not a 32-bit hex number");
    if (value == 0) return fail(error, name + ": result 0 is a success, not a failure");
    *out = static_cast<int32_t>(value);
    return true;
}

bool arity(const std::vector<std::string>& t, size_t least, size_t most, const std::string& usage, std::string* error) {
    size_t args = t.size() - 1;
    if (args < least) return fail(error, "missing argument: " + usage);
    if (args > most) return fail(error, "too many arguments: " + usage);
    return true;
}

}  // namespace

bool parseCommand(const std::string& line, Command* out, std::string* error) {
    Command c;
    std::vector<std::string> t = tokens(line);
    if (t.empty() || t[0][0] == '#') {
        *out = c;
        return true;
    }
    const std::string& name = t[0];
    if (name == "press") {
        if (!arity(t, 1, 1, "press <code>", error) || !parseCode(name, t[1], &c.code, error)) return false;
        c.kind = Command::Kind::Press;
    } else if (name == "hold") {
        if (!arity(t, 2, 3, "hold <code> <ms> [repeat-ms]", error) || !parseCode(name, t[1], &c.code, error))
            return false;
        if (!parseNumber(t[2], &c.ms)) return fail(error, "hold: duration \"" + t[2] + "\" is not a number of ms");
        if (t.size() == 4 && (!parseNumber(t[3], &c.repeatMs) || c.repeatMs == 0))
            return fail(error, "hold: repeat \"" + t[3] + "\" is not a number of ms of at least 1");
        c.kind = Command::Kind::Hold;
    } else if (name == "release" || name == "snapshot" || name == "unplug" || name == "plug") {
        if (!arity(t, 0, 0, name.c_str(), error)) return false;
        c.kind = name == "release"    ? Command::Kind::Release
                 : name == "snapshot" ? Command::Kind::Snapshot
                 : name == "unplug"   ? Command::Kind::Unplug
                                      : Command::Kind::Plug;
    } else if (name == "snapshot-base") {
        if (!arity(t, 1, 1, "snapshot-base <hex>", error)) return false;
        if (!parseHex(t[1], &c.word) || c.word > 0xFF)
            return fail(error, "snapshot-base: \"" + t[1] + "\" is not a hex byte");
        c.kind = Command::Kind::SnapshotBase;
    } else if (name == "fail") {
        if (!arity(t, 3, 4, "fail <prop-hex> <get|set> <result-hex> [count]", error)) return false;
        if (!parseHex(t[1], &c.id)) return fail(error, "fail: property \"" + t[1] + "\" is not a hex number");
        if (t[2] == "get" || t[2] == "set") {
            c.set = t[2] == "set";
        } else {
            return fail(error, "fail: kind \"" + t[2] + "\" is neither get nor set");
        }
        if (!parseResult(name, t[3], &c.result, error)) return false;
        if (t.size() == 5 && !parseCount(name, t[4], &c.count, error)) return false;
        c.kind = Command::Kind::Fail;
    } else if (name == "random-failures") {
        if (!arity(t, 3, 3, "random-failures <probability> <result-hex> <seed>", error)) return false;
        const char* begin = t[1].c_str();
        char* end = nullptr;
        c.probability = std::strtod(begin, &end);
        if (end == begin || *end != '\0' || !(c.probability >= 0.0 && c.probability <= 1.0))
            return fail(error, "random-failures: probability \"" + t[1] + "\" is not between 0 and 1");
        if (!parseResult(name, t[2], &c.result, error)) return false;
        if (!parseNumber(t[3], &c.seed)) return fail(error, "random-failures: seed \"" + t[3] + "\" is not a 32-bit number");
        c.kind = Command::Kind::RandomFailures;
    } else if (name == "status") {
        if (!arity(t, 1, 2, "status <hex> [count]", error)) return false;
        if (!parseHex(t[1], &c.word)) return fail(error, "status: word \"" + t[1] + "\" is not a 32-bit hex number");
        if (t.size() == 3 && !parseCount(name, t[2], &c.count, error)) return false;
        c.kind = Command::Kind::Status;
    } else {
        return fail(error, "unknown command \"" + name + "\"");
    }
    *out = c;
    return true;
}

CaptureBox::CaptureBox(std::function<uint32_t()> clock) : clock_(std::move(clock)) {}

// ---- property calls --------------------------------------------------------

int32_t CaptureBox::setValue(uint32_t id, const uint32_t* word, uint32_t connection) {
    advanceHolds();
    uint32_t value = word ? *word : 0;
    if (!plugged_ || connection != connection_) return record(true, id, value, DEVICE_GONE);
    if (!word) return record(true, id, 0, BAD_POINTER);
    int32_t result = OK;
    if (injectedFailure(id, true, &result)) return record(true, id, value, result);
    switch (id) {
    case PROP_REG_SELECT: result = selectRegister(value); break;
    case PROP_REG_DATA: result = writeRegister(value); break;
    case PROP_I2C_SELECT: result = selectI2C(value); break;
    case PROP_BUS_ADDRESS: busAddress_ = value; break;
    default: result = INVALID_ARG; break;  // includes writes to the receiver
    }
    return record(true, id, value, result);
}

int32_t CaptureBox::getValue(uint32_t id, uint32_t* word, uint32_t connection) {
    advanceHolds();
    if (!plugged_ || connection != connection_) return record(false, id, 0, DEVICE_GONE);
    if (!word) return record(false, id, 0, BAD_POINTER);
    int32_t result = OK;
    if (injectedFailure(id, false, &result)) return record(false, id, 0, result);
    uint32_t out = *word;
    switch (id) {
    case PROP_REG_SELECT: out = regSelect_; break;
    case PROP_REG_DATA: result = readRegister(&out); break;
    case PROP_I2C_SELECT: out = i2cSelect_; break;
    case PROP_I2C_DATA: result = readI2C(&out); break;
    case PROP_BUS_ADDRESS: out = busAddress_; break;
    default: result = INVALID_ARG; break;
    }
    if (result != OK) return record(false, id, 0, result);
    *word = out;
    return record(false, id, out, OK);
}

int32_t CaptureBox::selectRegister(uint32_t word) {
    if (word != 0 && ((word & kRegSelectReservedBits) != 0 || (word & kLengthMask) != SELECT_LENGTH)) {
        regSelect_ = 0;
        return INVALID_ARG;
    }
    regSelect_ = word;
    return OK;
}

int32_t CaptureBox::selectI2C(uint32_t word) {
    if (word != 0 && ((word & kI2CSelectReservedBits) != 0 || (word & kLengthMask) != SELECT_LENGTH)) {
        i2cSelect_ = 0;
        return INVALID_ARG;
    }
    i2cSelect_ = word;
    return OK;
}

int32_t CaptureBox::readRegister(uint32_t* word) {
    if (regSelect_ == 0) return INVALID_ARG;
    uint8_t index = static_cast<uint8_t>(regSelect_ >> 8);
    uint32_t value = 0;
    if (index == REG_RECEIVER_STATUS) {
        if (!forcedStatus_.empty()) {
            // A forced answer replaces the whole status word.
            *word = forcedStatus_.front().word;
            if (--forcedStatus_.front().count <= 0) forcedStatus_.pop_front();
            return OK;
        }
        value = receiver_.empty() ? STATUS_IDLE_WORD : STATUS_WAITING_WORD;
    } else if (index == REG_SNAPSHOT) {
        value = snapshotBase_ | (snapshotLatched_ ? SNAPSHOT_LATCH_BIT : 0);
    } else {
        value = registers_[index];
    }
    // A one-byte transfer: the rest of the caller's word stays as it was.
    *word = (*word & ~kLowByte) | (value & kLowByte);
    return OK;
}

int32_t CaptureBox::writeRegister(uint32_t word) {
    if (regSelect_ == 0) return INVALID_ARG;
    uint8_t index = static_cast<uint8_t>(regSelect_ >> 8);
    if (index == REG_SNAPSHOT) {
        if ((word & SNAPSHOT_LATCH_BIT) == 0) snapshotLatched_ = false;
    } else if (index != REG_RECEIVER_STATUS) {
        registers_[index] = static_cast<uint8_t>(word & kLowByte);
    }
    return OK;
}

int32_t CaptureBox::readI2C(uint32_t* word) {
    if (i2cSelect_ == 0) return INVALID_ARG;
    if (static_cast<uint8_t>(i2cSelect_ >> 16) != RECEIVER_ADDRESS) return GEN_FAILURE;
    uint8_t code = NO_CODE;
    if (!receiver_.empty()) {
        code = receiver_.front();
        receiver_.pop_front();
    }
    *word = (*word & ~kLowByte) | code;
    return OK;
}

int32_t CaptureBox::record(bool set, uint32_t id, uint32_t value, int32_t result) {
    PropertyCall call{clock_(), set, id, value, result};
    if (logLimit_ > 0) {
        if (log_.size() >= logLimit_) {
            size_t drop = std::max<size_t>(1, log_.size() / 2);
            log_.erase(log_.begin(), log_.begin() + static_cast<std::ptrdiff_t>(drop));
            droppedLog_ += drop;
        }
        log_.push_back(call);
    } else {
        ++droppedLog_;
    }
    if (observer_) observer_(call);
    return result;
}

// ---- faults ----------------------------------------------------------------

bool CaptureBox::takeFailure(uint32_t id, bool set, int32_t* result) {
    for (auto it = failures_.begin(); it != failures_.end(); ++it) {
        if (it->id != id || it->set != set) continue;
        *result = it->result;
        if (--it->count <= 0) failures_.erase(it);
        return true;
    }
    return false;
}

bool CaptureBox::injectedFailure(uint32_t id, bool set, int32_t* result) {
    if (takeFailure(id, set, result)) return true;
    if (!drawRandomFailure()) return false;
    *result = randomResult_;
    return true;
}

bool CaptureBox::drawRandomFailure() {
    if (randomFailure_ <= 0) return false;
    // xorshift32: small, fast and the same sequence on every platform.
    randomState_ ^= randomState_ << 13;
    randomState_ ^= randomState_ >> 17;
    randomState_ ^= randomState_ << 5;
    double draw = static_cast<double>(randomState_ >> 8) / static_cast<double>(1u << 24);
    return draw < randomFailure_;
}

void CaptureBox::failNext(uint32_t id, bool set, int32_t result, int count) {
    if (count <= 0) return;
    for (Failure& f : failures_) {
        if (f.id == id && f.set == set && f.result == result) {
            f.count += count;
            return;
        }
    }
    if (failures_.size() >= MAX_PENDING_FAULTS) failures_.pop_front();
    failures_.push_back({id, set, result, count});
}

void CaptureBox::failRandomly(double probability, int32_t result, uint32_t seed) {
    randomFailure_ = std::min(1.0, std::max(0.0, probability));
    randomResult_ = result;
    randomState_ = seed != 0 ? seed : kZeroSeedReplacement;
}

void CaptureBox::forceStatus(uint32_t word, int count) {
    if (count <= 0) return;
    if (!forcedStatus_.empty() && forcedStatus_.back().word == word) {
        forcedStatus_.back().count += count;
        return;
    }
    if (forcedStatus_.size() >= MAX_PENDING_FAULTS) forcedStatus_.pop_front();
    forcedStatus_.push_back({word, count});
}

// ---- the user's side -------------------------------------------------------

void CaptureBox::send(uint8_t code) {
    // An unpowered receiver hears nothing; a full one drops what it cannot hold.
    if (plugged_ && receiver_.size() < RECEIVER_CAPACITY) receiver_.push_back(code);
}

void CaptureBox::advanceHolds() {
    if (!holdActive_) return;
    uint32_t now = clock_();
    if (reached(now, hold_.nextAt) && !reached(hold_.nextAt, hold_.endAt)) {
        // Codes due since the last look: as many as fit before now and before
        // the release. Only the first few can matter (the receiver is bounded).
        uint32_t sinceFirst = now - hold_.nextAt;
        uint32_t beforeEnd = hold_.endAt - hold_.nextAt;
        uint64_t due = std::min<uint64_t>(sinceFirst / hold_.repeatMs + 1,
                                          (static_cast<uint64_t>(beforeEnd) + hold_.repeatMs - 1) / hold_.repeatMs);
        uint64_t sends = std::min<uint64_t>(due, RECEIVER_CAPACITY + 1);
        for (uint64_t i = 0; i < sends; ++i) send(hold_.code);
        hold_.nextAt += static_cast<uint32_t>(due * hold_.repeatMs);
    }
    if (reached(hold_.nextAt, hold_.endAt)) holdActive_ = false;
}

void CaptureBox::press(uint8_t code) {
    advanceHolds();
    holdActive_ = false;
    send(code);
}

void CaptureBox::hold(uint8_t code, uint32_t ms, uint32_t repeatMs) {
    advanceHolds();
    uint32_t now = clock_();
    uint32_t repeat = std::max<uint32_t>(1, repeatMs);
    hold_ = Hold{code, now + repeat, now + std::min(ms, MAX_HOLD_MS), repeat};
    holdActive_ = true;
    send(code);  // the first code goes out on the press itself, even for 0 ms
    if (reached(hold_.nextAt, hold_.endAt)) holdActive_ = false;
}

void CaptureBox::release() {
    advanceHolds();
    holdActive_ = false;
}

void CaptureBox::pressSnapshot() {
    if (plugged_) snapshotLatched_ = true;
}

void CaptureBox::unplug() {
    advanceHolds();
    plugged_ = false;
    // Power is lost: the receiver, the latch and the selections start afresh.
    receiver_.clear();
    snapshotLatched_ = false;
    regSelect_ = 0;
    i2cSelect_ = 0;
    busAddress_ = 0;
    std::fill(std::begin(registers_), std::end(registers_), 0);
}

void CaptureBox::plug() {
    advanceHolds();
    if (!plugged_) ++connection_;
    plugged_ = true;
}

size_t CaptureBox::waitingCodes() {
    advanceHolds();
    return receiver_.size();
}

bool CaptureBox::holding() {
    advanceHolds();
    return holdActive_;
}

// ---- scripts ---------------------------------------------------------------

void CaptureBox::apply(const Command& c) {
    switch (c.kind) {
    case Command::Kind::None: break;
    case Command::Kind::Press: press(c.code); break;
    case Command::Kind::Hold: hold(c.code, c.ms, c.repeatMs); break;
    case Command::Kind::Release: release(); break;
    case Command::Kind::Snapshot: pressSnapshot(); break;
    case Command::Kind::SnapshotBase: setSnapshotRegisterBase(static_cast<uint8_t>(c.word)); break;
    case Command::Kind::Unplug: unplug(); break;
    case Command::Kind::Plug: plug(); break;
    case Command::Kind::Fail: failNext(c.id, c.set, c.result, c.count); break;
    case Command::Kind::RandomFailures: failRandomly(c.probability, c.result, c.seed); break;
    case Command::Kind::Status: forceStatus(c.word, c.count); break;
    }
}

bool CaptureBox::command(const std::string& line, std::string* error) {
    Command c;
    if (!parseCommand(line, &c, error)) return false;
    apply(c);
    return true;
}

}  // namespace bridge
