// The capture-box model: property traffic, the receiver's handshake, holds,
// the snapshot latch, unplugging, injected failures and command scripts.
#include "sim/bridge/bridge.h"
#include "sim/bridge/script.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include <string>
#include <vector>

namespace {

using bridge::CaptureBox;
using bridge::PropertyCall;

constexpr uint32_t kSelectReg8 = 0x0801;
constexpr uint32_t kSelectReg9 = 0x0901;
constexpr uint32_t kSelectReg12 = 0x0C01;
constexpr uint32_t kSelectReceiver = 0x00600001;

class BoxTest : public ::testing::Test {
protected:
    uint32_t now = 0;
    CaptureBox box{[this] { return now; }};

    int32_t set(uint32_t id, uint32_t word) { return box.setValue(id, &word); }
    int32_t get(uint32_t id, uint32_t* word) { return box.getValue(id, word); }

    // A register read as the agent makes it: select, then data.
    int32_t readRegister(uint32_t selectWord, uint32_t* word) {
        int32_t r = set(bridge::PROP_REG_SELECT, selectWord);
        if (r != bridge::OK) return r;
        return get(bridge::PROP_REG_DATA, word);
    }
    int32_t readStatus(uint32_t* status) {
        uint32_t scratch = 0;
        readRegister(kSelectReg8, &scratch);
        *status = 0;
        return readRegister(kSelectReg9, status);
    }
    int32_t readCode(uint32_t* code) {
        int32_t r = set(bridge::PROP_I2C_SELECT, kSelectReceiver);
        if (r != bridge::OK) return r;
        return get(bridge::PROP_I2C_DATA, code);
    }
    // One key read: status, and the code when one waits.
    bool readKey(uint32_t* code) {
        uint32_t status = 0;
        EXPECT_EQ(bridge::OK, readStatus(&status));
        if (status & bridge::STATUS_IDLE_BIT) return false;
        *code = 0;
        EXPECT_EQ(bridge::OK, readCode(code));
        return true;
    }
    // The agent's tick: a key counts only when the receiver is idle after it.
    int handshake() {
        uint32_t first = bridge::NO_CODE;
        if (!readKey(&first)) return -1;
        uint32_t second = bridge::NO_CODE;
        if (readKey(&second)) return -1;
        return first == bridge::NO_CODE ? -1 : static_cast<int>(first);
    }
    // Drains the receiver, returning what was waiting.
    std::vector<int> drain() {
        std::vector<int> codes;
        for (int guard = 0; guard < 100 && box.waitingCodes() > 0; ++guard) {
            uint32_t code = 0;
            EXPECT_EQ(bridge::OK, readCode(&code));
            codes.push_back(static_cast<int>(code));
        }
        return codes;
    }
};

std::string describe(const PropertyCall& c) {
    char text[64];
    std::snprintf(text, sizeof text, "%s %04X %08X %08X", c.set ? "Set" : "Get", c.id, c.value,
                  static_cast<uint32_t>(c.result));
    return text;
}

std::vector<std::string> describe(const std::vector<PropertyCall>& calls) {
    std::vector<std::string> out;
    for (const PropertyCall& c : calls) out.push_back(describe(c));
    return out;
}

// ---- the receiver and its handshake -------------------------------------------------

TEST_F(BoxTest, IdleTickTrafficAndStatusWord) {
    now = 500;
    uint32_t status = 0xABCDEF00;  // a length-1 read fills only the low byte
    ASSERT_EQ(bridge::OK, readRegister(kSelectReg9, &status));
    EXPECT_EQ(0xABCDEF00u | bridge::STATUS_IDLE_WORD, status);
    box.clearLog();

    EXPECT_EQ(-1, handshake());
    std::vector<std::string> expected = {
        "Set 1005 00000801 00000000", "Get 1006 00000000 00000000",
        "Set 1005 00000901 00000000", "Get 1006 00000004 00000000",
    };
    EXPECT_EQ(expected, describe(box.log()));
    EXPECT_EQ(500u, box.log().front().time);
}

TEST_F(BoxTest, HandshakeHandsOverOneCodeAndEmptiesTheReceiver) {
    box.press(5);
    EXPECT_EQ(1u, box.waitingCodes());
    box.clearLog();
    EXPECT_EQ(5, handshake());
    EXPECT_EQ(0u, box.waitingCodes());
    std::vector<std::string> expected = {
        "Set 1005 00000801 00000000", "Get 1006 00000000 00000000",
        "Set 1005 00000901 00000000", "Get 1006 00000000 00000000",
        "Set 1007 00600001 00000000", "Get 1008 00000005 00000000",
        "Set 1005 00000801 00000000", "Get 1006 00000000 00000000",
        "Set 1005 00000901 00000000", "Get 1006 00000004 00000000",
    };
    EXPECT_EQ(expected, describe(box.log()));
}

TEST_F(BoxTest, TwoQueuedCodesAreBothLostByTheHandshake) {
    box.press(5);
    box.press(6);
    EXPECT_EQ(-1, handshake());  // 5 read, but 6 still waits: not idle
    EXPECT_EQ(0u, box.waitingCodes());
    EXPECT_EQ(-1, handshake());  // nothing left for the next tick
    box.press(7);
    EXPECT_EQ(7, handshake());
}

TEST_F(BoxTest, ReceiverReadsNoCodeWhenEmptyAndQueuesInPressOrder) {
    uint32_t code = 0x1200;
    ASSERT_EQ(bridge::OK, readCode(&code));
    EXPECT_EQ(0x12FFu, code);
    box.press(3);
    box.press(0x25);
    box.press(31);
    EXPECT_EQ((std::vector<int>{3, 0x25, 31}), drain());
}

TEST_F(BoxTest, ReceiverOverflowDropsTheNewestCodes) {
    for (size_t i = 0; i < bridge::RECEIVER_CAPACITY + 5; ++i) box.press(static_cast<uint8_t>(i));
    EXPECT_EQ(bridge::RECEIVER_CAPACITY, box.waitingCodes());
    std::vector<int> codes = drain();
    ASSERT_EQ(bridge::RECEIVER_CAPACITY, codes.size());
    EXPECT_EQ(static_cast<int>(bridge::RECEIVER_CAPACITY - 1), codes.back());
}

// ---- holds -----------------------------------------------------------------------

TEST_F(BoxTest, HoldSendsAtPressAndEveryRepeatWhileHeld) {
    now = 1000;
    box.hold(6, 800);
    std::vector<uint32_t> sentAt;
    for (; now <= 2000; ++now) {
        for (int code : drain()) {
            EXPECT_EQ(6, code);
            sentAt.push_back(now - 1000);
        }
    }
    EXPECT_EQ((std::vector<uint32_t>{0, 108, 216, 324, 432, 540, 648, 756}), sentAt);
    EXPECT_FALSE(box.holding());
}

TEST_F(BoxTest, HoldWithOwnRepeatAndZeroDuration) {
    box.hold(9, 90, 30);
    EXPECT_TRUE(box.holding());
    now = 200;  // codes at 0, 30 and 60; at 90 the key is already up
    EXPECT_EQ((std::vector<int>{9, 9, 9}), drain());
    EXPECT_FALSE(box.holding());

    box.hold(4, 0);  // pressed and let go at once: one code
    EXPECT_FALSE(box.holding());
    now = 1000;
    EXPECT_EQ((std::vector<int>{4}), drain());
}

TEST_F(BoxTest, LongGapInPollingStaysBoundedByTheReceiver) {
    box.hold(2, 0x70000000u, 1);
    now = 0x60000000u;
    EXPECT_EQ(bridge::RECEIVER_CAPACITY, box.waitingCodes());
    drain();
    now += 10;  // the hold goes on at its own pace after the gap
    EXPECT_EQ(10u, box.waitingCodes());
}

TEST_F(BoxTest, PressOrReleaseEndsAHold) {
    box.hold(6, 1000);
    now = 150;  // 0 and 108 sent
    box.press(5);
    now = 600;
    EXPECT_EQ((std::vector<int>{6, 6, 5}), drain());
    EXPECT_FALSE(box.holding());

    box.hold(8, 1000);
    now = 620;
    box.release();
    now = 2000;
    EXPECT_EQ((std::vector<int>{8}), drain());
}

// ---- snapshot button ------------------------------------------------------------------

TEST_F(BoxTest, SnapshotLatchReadsWithBaseBitsAndClearsOnWriteBack) {
    uint32_t v = 0;
    ASSERT_EQ(bridge::OK, readRegister(kSelectReg12, &v));
    EXPECT_EQ(0x05u, v);

    box.pressSnapshot();
    v = 0;
    ASSERT_EQ(bridge::OK, readRegister(kSelectReg12, &v));
    EXPECT_EQ(0x25u, v);
    EXPECT_TRUE(box.snapshotLatched());

    // Writing the latch bit back as 1 leaves the press latched.
    ASSERT_EQ(bridge::OK, set(bridge::PROP_REG_DATA, 0x25));
    EXPECT_TRUE(box.snapshotLatched());

    ASSERT_EQ(bridge::OK, set(bridge::PROP_REG_DATA, v & ~bridge::SNAPSHOT_LATCH_BIT));
    EXPECT_FALSE(box.snapshotLatched());
    EXPECT_EQ("Set 1006 00000005 00000000", describe(box.log().back()));
    v = 0;
    ASSERT_EQ(bridge::OK, readRegister(kSelectReg12, &v));
    EXPECT_EQ(0x05u, v);  // the base bits stay whatever was written
}

TEST_F(BoxTest, SnapshotBaseIsTheBoxsOwnState) {
    box.setSnapshotRegisterBase(0xFF);  // the latch bit cannot be part of the base
    uint32_t v = 0;
    ASSERT_EQ(bridge::OK, readRegister(kSelectReg12, &v));
    EXPECT_EQ(0xDFu, v);
    ASSERT_EQ(bridge::OK, set(bridge::PROP_REG_DATA, 0x00));
    v = 0;
    ASSERT_EQ(bridge::OK, readRegister(kSelectReg12, &v));
    EXPECT_EQ(0xDFu, v);
}

// ---- unplugging ---------------------------------------------------------------------

TEST_F(BoxTest, UnpluggedEveryCallAnswersDeviceGoneAndDoesNothing) {
    ASSERT_EQ(bridge::OK, set(bridge::PROP_REG_SELECT, kSelectReg12));
    box.press(4);  // waiting when the cable is pulled
    box.unplug();
    box.press(5);
    box.pressSnapshot();
    const uint32_t ids[] = {bridge::PROP_REG_SELECT, bridge::PROP_REG_DATA, bridge::PROP_I2C_SELECT,
                            bridge::PROP_I2C_DATA, bridge::PROP_BUS_ADDRESS, 0x1234};
    for (uint32_t id : ids) {
        uint32_t word = 0x77;
        EXPECT_EQ(bridge::DEVICE_GONE, box.getValue(id, &word)) << std::hex << id;
        EXPECT_EQ(0x77u, word) << std::hex << id;
        EXPECT_EQ(bridge::DEVICE_GONE, set(id, 0x60)) << std::hex << id;
    }
    EXPECT_EQ(bridge::DEVICE_GONE, box.getValue(bridge::PROP_REG_DATA, nullptr));
    EXPECT_EQ(0u, box.busAddress());
    EXPECT_EQ(14u, box.log().size());
    for (const PropertyCall& c : box.log()) {
        if (&c == &box.log().front()) continue;
        EXPECT_EQ(bridge::DEVICE_GONE, c.result);
    }

    box.plug();
    EXPECT_EQ(0u, box.waitingCodes());  // what waited, or was sent while unplugged, is gone
    EXPECT_FALSE(box.snapshotLatched());
    uint32_t word = 0;
    EXPECT_EQ(bridge::INVALID_ARG, get(bridge::PROP_REG_DATA, &word));  // the selection did not survive
    EXPECT_EQ(bridge::OK, readCode(&word));
    EXPECT_EQ(uint32_t{bridge::NO_CODE}, word);
}

TEST_F(BoxTest, InterfaceFromBeforeAnUnplugStaysGoneAfterReplug) {
    uint32_t before = box.connection();
    box.unplug();
    box.plug();
    uint32_t after = box.connection();
    EXPECT_NE(before, after);
    uint32_t word = kSelectReg9;
    EXPECT_EQ(bridge::DEVICE_GONE, box.setValue(bridge::PROP_REG_SELECT, &word, before));
    EXPECT_EQ(bridge::DEVICE_GONE, box.getValue(bridge::PROP_BUS_ADDRESS, &word, before));
    EXPECT_EQ(bridge::OK, box.setValue(bridge::PROP_REG_SELECT, &word, after));
    EXPECT_EQ(bridge::OK, set(bridge::PROP_REG_SELECT, kSelectReg9));  // the plain calls use the present one
    box.plug();  // already plugged: nothing changes
    EXPECT_EQ(after, box.connection());
}

// ---- injected failures ------------------------------------------------------------------

TEST_F(BoxTest, FailNextHitsOnlyItsPropertyAndKind) {
    box.press(5);
    box.failNext(bridge::PROP_I2C_DATA, false, bridge::GEN_FAILURE, 2);
    box.failNext(bridge::PROP_REG_DATA, true, bridge::INVALID_ARG);

    uint32_t code = 0x42;
    EXPECT_EQ(bridge::OK, set(bridge::PROP_I2C_SELECT, kSelectReceiver));
    EXPECT_EQ(bridge::GEN_FAILURE, get(bridge::PROP_I2C_DATA, &code));
    EXPECT_EQ(0x42u, code);  // a failed read leaves the word
    EXPECT_EQ(bridge::GEN_FAILURE, get(bridge::PROP_I2C_DATA, &code));
    EXPECT_EQ(1u, box.waitingCodes());  // and takes nothing from the receiver
    EXPECT_EQ(bridge::OK, get(bridge::PROP_I2C_DATA, &code));
    EXPECT_EQ(0x05u, code);

    // A read of 0x1006 is not touched by a failure queued for its writes.
    uint32_t v = 0;
    EXPECT_EQ(bridge::OK, readRegister(kSelectReg12, &v));
    box.pressSnapshot();
    EXPECT_EQ(bridge::INVALID_ARG, set(bridge::PROP_REG_DATA, 0x05));
    EXPECT_TRUE(box.snapshotLatched());  // the failed write had no effect
    EXPECT_EQ(bridge::OK, set(bridge::PROP_REG_DATA, 0x05));
    EXPECT_FALSE(box.snapshotLatched());

    const PropertyCall& failed = box.log()[2];
    EXPECT_EQ("Get 1008 00000000 8007001F", describe(failed));
}

TEST_F(BoxTest, FailedSelectKeepsThePreviousSelection) {
    ASSERT_EQ(bridge::OK, set(bridge::PROP_REG_SELECT, kSelectReg12));
    box.failNext(bridge::PROP_REG_SELECT, true, bridge::DEVICE_GONE);
    EXPECT_EQ(bridge::DEVICE_GONE, set(bridge::PROP_REG_SELECT, kSelectReg9));
    uint32_t v = 0;
    EXPECT_EQ(bridge::OK, get(bridge::PROP_REG_DATA, &v));
    EXPECT_EQ(0x05u, v);  // still register 12
}

TEST_F(BoxTest, UnplugWinsOverQueuedFailuresWithoutUsingThem) {
    box.failNext(bridge::PROP_REG_SELECT, true, bridge::GEN_FAILURE);
    box.unplug();
    EXPECT_EQ(bridge::DEVICE_GONE, set(bridge::PROP_REG_SELECT, kSelectReg9));
    box.plug();
    EXPECT_EQ(bridge::GEN_FAILURE, set(bridge::PROP_REG_SELECT, kSelectReg9));
    EXPECT_EQ(bridge::OK, set(bridge::PROP_REG_SELECT, kSelectReg9));
}

TEST_F(BoxTest, RandomFailuresAreDeterministicAndProportionate) {
    auto run = [](uint32_t seed, double p) {
        uint32_t t = 0;
        CaptureBox b([&t] { return t; });
        b.failRandomly(p, bridge::GEN_FAILURE, seed);
        std::vector<int32_t> results;
        for (int i = 0; i < 2000; ++i) {
            uint32_t w = 0;
            results.push_back(b.getValue(bridge::PROP_BUS_ADDRESS, &w));
        }
        return results;
    };
    std::vector<int32_t> a = run(42, 0.25), b = run(42, 0.25), c = run(43, 0.25);
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
    long failures = std::count(a.begin(), a.end(), bridge::GEN_FAILURE);
    EXPECT_GT(failures, 400);
    EXPECT_LT(failures, 600);
    std::vector<int32_t> never = run(0, 0.0), always = run(0, 1.0);
    EXPECT_EQ(0, std::count(never.begin(), never.end(), bridge::GEN_FAILURE));
    EXPECT_EQ(2000, std::count(always.begin(), always.end(), bridge::GEN_FAILURE));
}

TEST_F(BoxTest, ForcedStatusIsTheOnlyWayToSeven) {
    uint32_t status = 0;
    ASSERT_EQ(bridge::OK, readStatus(&status));
    EXPECT_NE(7u, status);
    box.press(1);
    ASSERT_EQ(bridge::OK, readStatus(&status));
    EXPECT_NE(7u, status);

    box.forceStatus(7, 2);
    box.forceStatus(0x1234);
    uint32_t seen[4] = {};
    for (uint32_t& s : seen) {
        s = 0xFFFFFF00;
        ASSERT_EQ(bridge::OK, readRegister(kSelectReg9, &s));
    }
    EXPECT_EQ(7u, seen[0]);  // the whole word, not just its low byte
    EXPECT_EQ(7u, seen[1]);
    EXPECT_EQ(0x1234u, seen[2]);
    EXPECT_EQ(0xFFFFFF00u | bridge::STATUS_WAITING_WORD, seen[3]);
    EXPECT_EQ(1u, box.waitingCodes());
}

// ---- property words -------------------------------------------------------------------

TEST_F(BoxTest, SelectWordsAreCheckedAndDataNeedsASelection) {
    uint32_t v = 0;
    EXPECT_EQ(bridge::INVALID_ARG, get(bridge::PROP_REG_DATA, &v));
    EXPECT_EQ(bridge::INVALID_ARG, get(bridge::PROP_I2C_DATA, &v));
    EXPECT_EQ(bridge::INVALID_ARG, set(bridge::PROP_REG_DATA, 1));

    EXPECT_EQ(bridge::OK, set(bridge::PROP_REG_SELECT, kSelectReg9));
    EXPECT_EQ(bridge::INVALID_ARG, set(bridge::PROP_REG_SELECT, 0x0902));      // length 2
    EXPECT_EQ(bridge::INVALID_ARG, get(bridge::PROP_REG_DATA, &v));           // the bad select cleared it
    EXPECT_EQ(bridge::INVALID_ARG, set(bridge::PROP_REG_SELECT, 0x10901));     // reserved bits
    EXPECT_EQ(bridge::OK, set(bridge::PROP_REG_SELECT, kSelectReg9));
    EXPECT_EQ(bridge::OK, set(bridge::PROP_REG_SELECT, 0));                    // 0 clears
    EXPECT_EQ(bridge::INVALID_ARG, get(bridge::PROP_REG_DATA, &v));

    EXPECT_EQ(bridge::INVALID_ARG, set(bridge::PROP_I2C_SELECT, 0x00600101));  // bits 8-15
    EXPECT_EQ(bridge::INVALID_ARG, set(bridge::PROP_I2C_SELECT, 0x01600001));  // bits 24-31
    EXPECT_EQ(bridge::OK, set(bridge::PROP_I2C_SELECT, 0x00500001));
    EXPECT_EQ(bridge::GEN_FAILURE, get(bridge::PROP_I2C_DATA, &v));           // nobody at 0x50
    EXPECT_EQ(bridge::INVALID_ARG, set(bridge::PROP_I2C_DATA, 1));

    EXPECT_EQ(bridge::INVALID_ARG, get(0x1009, &v));
    EXPECT_EQ(bridge::BAD_POINTER, box.getValue(bridge::PROP_REG_SELECT, nullptr));
    EXPECT_EQ(bridge::BAD_POINTER, box.setValue(bridge::PROP_REG_SELECT, nullptr));
}

TEST_F(BoxTest, BusAddressAndPlainRegistersKeepWhatIsWritten) {
    EXPECT_EQ(bridge::OK, set(bridge::PROP_BUS_ADDRESS, 0x60));
    EXPECT_EQ(0x60u, box.busAddress());
    uint32_t v = 0;
    EXPECT_EQ(bridge::OK, get(bridge::PROP_BUS_ADDRESS, &v));
    EXPECT_EQ(0x60u, v);

    EXPECT_EQ(bridge::OK, set(bridge::PROP_REG_SELECT, 0x2001));
    EXPECT_EQ(bridge::OK, set(bridge::PROP_REG_DATA, 0x1AB));  // one byte is written
    v = 0;
    EXPECT_EQ(bridge::OK, get(bridge::PROP_REG_DATA, &v));
    EXPECT_EQ(0xABu, v);
    EXPECT_EQ(bridge::OK, get(bridge::PROP_REG_SELECT, &v));
    EXPECT_EQ(0x2001u, v);
    // The status register is read-only.
    EXPECT_EQ(bridge::OK, set(bridge::PROP_REG_SELECT, kSelectReg9));
    EXPECT_EQ(bridge::OK, set(bridge::PROP_REG_DATA, 0));
    v = 0;
    EXPECT_EQ(bridge::OK, get(bridge::PROP_REG_DATA, &v));
    EXPECT_EQ(bridge::STATUS_IDLE_WORD, v);
}

TEST_F(BoxTest, LogStaysWithinItsLimitAndFeedsTheObserver) {
    std::vector<std::string> seen;
    box.setCallObserver([&seen](const PropertyCall& c) { seen.push_back(describe(c)); });
    box.setLogLimit(8);
    for (uint32_t i = 0; i < 20; ++i) {
        now = i;
        set(bridge::PROP_BUS_ADDRESS, i);
    }
    EXPECT_LE(box.log().size(), 8u);
    EXPECT_EQ(20u, box.log().size() + box.droppedLogEntries());
    EXPECT_EQ(19u, box.log().back().time);
    ASSERT_EQ(20u, seen.size());
    EXPECT_EQ("Set 100B 00000013 00000000", seen.back());
}

// ---- command lines ----------------------------------------------------------------------

TEST_F(BoxTest, CommandsDriveTheBox) {
    std::string error;
    EXPECT_TRUE(box.command("press 5", &error)) << error;
    EXPECT_TRUE(box.command("  press 0x1F\r", &error)) << error;
    EXPECT_EQ((std::vector<int>{5, 31}), drain());

    EXPECT_TRUE(box.command("hold 6 300 100", &error)) << error;
    now = 250;
    EXPECT_EQ((std::vector<int>{6, 6, 6}), drain());

    EXPECT_TRUE(box.command("snapshot", &error)) << error;
    EXPECT_TRUE(box.snapshotLatched());
    EXPECT_TRUE(box.command("snapshot-base 0x07", &error)) << error;
    uint32_t v = 0;
    readRegister(kSelectReg12, &v);
    EXPECT_EQ(0x27u, v);

    EXPECT_TRUE(box.command("fail 1006 get 8007001F 2", &error)) << error;
    EXPECT_EQ(bridge::GEN_FAILURE, get(bridge::PROP_REG_DATA, &v));
    EXPECT_EQ(bridge::GEN_FAILURE, get(bridge::PROP_REG_DATA, &v));
    EXPECT_EQ(bridge::OK, get(bridge::PROP_REG_DATA, &v));

    EXPECT_TRUE(box.command("status 7", &error)) << error;
    EXPECT_EQ(bridge::OK, readStatus(&v));
    EXPECT_EQ(7u, v);

    EXPECT_TRUE(box.command("unplug", &error)) << error;
    EXPECT_FALSE(box.plugged());
    EXPECT_TRUE(box.command("plug", &error)) << error;
    EXPECT_TRUE(box.plugged());

    EXPECT_TRUE(box.command("random-failures 1 0x80004005 9", &error)) << error;
    EXPECT_EQ(static_cast<int32_t>(0x80004005u), set(bridge::PROP_BUS_ADDRESS, 0x60));
    EXPECT_TRUE(box.command("random-failures 0 80004005 9", &error)) << error;
    EXPECT_EQ(bridge::OK, set(bridge::PROP_BUS_ADDRESS, 0x60));

    EXPECT_TRUE(box.command("", &error));
    EXPECT_TRUE(box.command("# a note", &error));
}

TEST(BridgeCommand, ParsesFieldsOfEachCommand) {
    bridge::Command c;
    ASSERT_TRUE(bridge::parseCommand("hold 6 800", &c));
    EXPECT_EQ(bridge::Command::Kind::Hold, c.kind);
    EXPECT_EQ(6, c.code);
    EXPECT_EQ(800u, c.ms);
    EXPECT_EQ(bridge::DEFAULT_REPEAT_MS, c.repeatMs);

    ASSERT_TRUE(bridge::parseCommand("fail 0x1008 set 80070001", &c));
    EXPECT_EQ(bridge::Command::Kind::Fail, c.kind);
    EXPECT_EQ(0x1008u, c.id);
    EXPECT_TRUE(c.set);
    EXPECT_EQ(bridge::DEVICE_GONE, c.result);
    EXPECT_EQ(1, c.count);

    ASSERT_TRUE(bridge::parseCommand("random-failures 0.5 8007001f 77", &c));
    EXPECT_DOUBLE_EQ(0.5, c.probability);
    EXPECT_EQ(77u, c.seed);
    EXPECT_EQ(bridge::GEN_FAILURE, c.result);

    ASSERT_TRUE(bridge::parseCommand("status 0x7 3", &c));
    EXPECT_EQ(bridge::Command::Kind::Status, c.kind);
    EXPECT_EQ(7u, c.word);
    EXPECT_EQ(3, c.count);
}

TEST(BridgeCommand, RejectsBadLinesWithTheReason) {
    struct Case {
        const char* line;
        const char* reason;
    };
    const Case cases[] = {
        {"presss 5", "unknown command \"presss\""},
        {"press", "missing argument: press <code>"},
        {"press 5 6", "too many arguments: press <code>"},
        {"press 256", "press: key code \"256\" is not a byte (0..255)"},
        {"press -1", "press: key code \"-1\" is not a byte (0..255)"},
        {"press five", "press: key code \"five\" is not a byte (0..255)"},
        {"hold 6", "missing argument: hold <code> <ms> [repeat-ms]"},
        {"hold 6 1s", "hold: duration \"1s\" is not a number of ms"},
        {"hold 6 800 0", "hold: repeat \"0\" is not a number of ms of at least 1"},
        {"hold 6 99999999999", "hold: duration \"99999999999\" is not a number of ms"},
        {"snapshot now", "too many arguments: snapshot"},
        {"snapshot-base 100", "snapshot-base: \"100\" is not a hex byte"},
        {"fail 1006 read 8007001F", "fail: kind \"read\" is neither get nor set"},
        {"fail 10g6 get 8007001F", "fail: property \"10g6\" is not a hex number"},
        {"fail 1006 get 0", "fail: result 0 is a success, not a failure"},
        {"fail 1006 get 180070001", "fail: result \"180070001\" is not a 32-bit hex number"},
        {"fail 1006 get 8007001F 0", "fail: count \"0\" is not a number of at least 1"},
        {"random-failures 1.5 8007001F 1", "random-failures: probability \"1.5\" is not between 0 and 1"},
        {"random-failures 0.1 8007001F x", "random-failures: seed \"x\" is not a 32-bit number"},
        {"status", "missing argument: status <hex> [count]"},
        {"status zz", "status: word \"zz\" is not a 32-bit hex number"},
    };
    for (const Case& k : cases) {
        uint32_t t = 0;
        CaptureBox box([&t] { return t; });
        std::string error;
        EXPECT_FALSE(box.command(k.line, &error)) << k.line;
        EXPECT_EQ(k.reason, error) << k.line;
        EXPECT_EQ(0u, box.waitingCodes()) << k.line;
    }
}

// ---- scripts ---------------------------------------------------------------------------

TEST(BridgeScript, ParsesTimedLinesInTimeOrderAndReportsBadOnes) {
    const std::string text =
        "# remote keys for the run\r\n"
        "1500 press 5\r\n"
        "\n"
        "800 hold 6 300\n"
        "1500 snapshot\n"
        "2000 presss 5\n"
        "press 5\n"
        "12a press 5\n"
        "3000\n"
        "4000 #\n"
        + std::string(bridge::MAX_SCRIPT_LINE + 1, 'x') + "\n"
        "99999999999 press 1\n"
        "5000 unplug";  // no newline at the end
    std::vector<bridge::ScriptLine> lines;
    std::vector<std::string> errors;
    EXPECT_FALSE(bridge::parseScript(text, &lines, &errors));
    ASSERT_EQ(4u, lines.size());
    EXPECT_EQ(800u, lines[0].at);
    EXPECT_EQ("hold 6 300", lines[0].text);
    EXPECT_EQ(4, lines[0].line);
    EXPECT_EQ(1500u, lines[1].at);
    EXPECT_EQ(bridge::Command::Kind::Press, lines[1].command.kind);
    EXPECT_EQ(1500u, lines[2].at);  // equal times keep their order
    EXPECT_EQ(bridge::Command::Kind::Snapshot, lines[2].command.kind);
    EXPECT_EQ(bridge::Command::Kind::Unplug, lines[3].command.kind);
    std::vector<std::string> expected = {
        "line 6: unknown command \"presss\"",
        "line 7: does not start with a time in ms",
        "line 8: time \"12a\" is not a number of ms",
        "line 9: time 3000 has no command",
        "line 10: time 4000 has no command",
        "line 11: longer than 256 characters",
        "line 12: time 99999999999 is out of range",
    };
    EXPECT_EQ(expected, errors);

    EXPECT_TRUE(bridge::parseScript("10 press 1\n", &lines, &errors));
}

TEST(BridgeScript, RunsEachLineOnceWhenDue) {
    std::vector<bridge::ScriptLine> lines;
    std::vector<std::string> errors;
    ASSERT_TRUE(bridge::parseScript("100 press 1\n200 press 2\n200 press 3\n", &lines, &errors));
    bridge::Script script(lines);
    std::vector<std::string> ran;
    auto run = [&ran](const bridge::ScriptLine& l) { ran.push_back(std::to_string(l.at) + " " + l.text); };
    EXPECT_EQ(0u, script.runDue(99, run));
    EXPECT_EQ(1u, script.runDue(150, run));
    EXPECT_EQ(0u, script.runDue(150, run));
    EXPECT_FALSE(script.finished());
    EXPECT_EQ(2u, script.runDue(5000, run));
    EXPECT_TRUE(script.finished());
    EXPECT_EQ((std::vector<std::string>{"100 press 1", "200 press 2", "200 press 3"}), ran);
}

TEST(BridgeScript, LineCollectorWaitsForCompleteLinesAndDropsOverlongOnes) {
    bridge::LineCollector collector;
    std::string a = "press 5\nho";
    auto lines = collector.feed(a.data(), a.size());
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ("press 5", lines[0].text);
    std::string b = "ld 6 800\r\n";
    lines = collector.feed(b.data(), b.size());
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ("hold 6 800", lines[0].text);
    EXPECT_FALSE(lines[0].tooLong);

    std::string longLine(bridge::MAX_SCRIPT_LINE + 10, 'p');
    lines = collector.feed(longLine.data(), longLine.size());
    EXPECT_TRUE(lines.empty());
    std::string rest = "\nsnapshot\n";
    lines = collector.feed(rest.data(), rest.size());
    ASSERT_EQ(2u, lines.size());
    EXPECT_TRUE(lines[0].tooLong);
    EXPECT_TRUE(lines[0].text.empty());
    EXPECT_EQ("snapshot", lines[1].text);
}

}  // namespace
