// The receiver oracle: reads the property calls a capture box answered,
// grouped by virtual tick (a key poll makes all of its calls on one tick),
// and decides per tick which key a correct poll takes: the receiver showed a
// waiting code, the code byte was read, the receiver showed idle right after;
// failing that, a latched snapshot press. A result other than 0 is a failed
// read, whatever its kind. Each decision is compared with the key the agent's
// repeat tracker recorded on that tick. Shared by the soak test and the
// receiver fuzz target.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "agent/poll.h"
#include "apps/keymaps.h"
#include "sim/bridge/bridge.h"

namespace oracle {

constexpr int32_t RES_OK = 0;
constexpr int32_t RES_FALSE = 1;  // S_FALSE: a success code that is not 0
constexpr int32_t RES_GONE = static_cast<int32_t>(0x80070001u);
constexpr int32_t RES_GEN_FAILURE = static_cast<int32_t>(0x8007001Fu);
constexpr int32_t RES_FAIL = static_cast<int32_t>(0x80004005u);
constexpr int NO_KEY = -1;

class ReceiverOracle {
public:
    struct Stats {
        uint64_t groups = 0;         // ticks with property traffic
        uint64_t pollTicks = 0;      // of them, key polls
        uint64_t failedReads = 0;    // polls in which some read failed
        uint64_t goneTicks = 0;      // polls that found the box gone
        uint64_t keysHandedOver = 0; // complete handshakes with a code other than 0xFF
        uint64_t snapshotKeys = 0;   // key 19 from the button
        uint64_t keysDecided = 0;    // keys the agent decided, matching the oracle
        uint64_t codesLostToFailures = 0;  // codes read on ticks whose handshake failed
    };

    explicit ReceiverOracle(std::function<void(const std::string&)> fail) : fail_(std::move(fail)) {}

    void onCall(const bridge::PropertyCall& c) {
        if (open_ && c.time != time_) finalize();
        if (!open_) {
            open_ = true;
            time_ = c.time;
            calls_.clear();
        }
        calls_.push_back(c);
    }

    // Decides the current tick if it lies before `now` (its poll has made
    // its decision by then, even if it is still waiting in a modal loop).
    void settleBefore(uint32_t now) {
        if (open_ && time_ != now) finalize();
    }
    void settle() {
        if (open_) finalize();
    }

    // Ticks on which the oracle saw a key taken.
    const std::set<uint32_t>& keyTicks() const { return keyTicks_; }
    uint32_t lastSettled() const { return lastSettled_; }
    const Stats& stats() const { return stats_; }

private:
    enum class Kind { PreStatus, Status, Code, SnapRead, SnapWrite };
    struct Op {
        Kind kind;
        int32_t result;   // of the data call, or of the select when that failed
        uint32_t value;   // word read, when the data call was made
        bool dataCalled;  // the select succeeded and the data call followed
    };

    static bool ok(int32_t r) { return r == RES_OK; }
    static bool failed(int32_t r) { return r < 0; }

    std::string describe() const {
        std::string out;
        char buf[48];
        for (const auto& c : calls_) {
            std::snprintf(buf, sizeof buf, "%s%04X=%08X:%08X ", c.set ? "S" : "G", c.id, c.value,
                          static_cast<uint32_t>(c.result));
            out += buf;
        }
        return out;
    }

    // The calls of the tick as the reads and writes the agent meant to make.
    bool toOps(std::vector<Op>* ops, bool* openTick) {
        *openTick = false;
        int pendingReg = -1;
        bool pendingI2C = false;
        bool snapLatchedRead = false;
        for (const auto& c : calls_) {
            if (c.id == bridge::PROP_BUS_ADDRESS && c.set) {
                *openTick = true;
                continue;
            }
            if (c.id == bridge::PROP_REG_SELECT && c.set) {
                if (c.value == 0) continue;  // clearing after a failure
                int reg = static_cast<int>((c.value >> 8) & 0xFF);
                if ((c.value & 0xFFFF00FFu) != 1 || (reg != 8 && reg != 9 && reg != 12)) return false;
                Kind kind = reg == 8 ? Kind::PreStatus : reg == 9 ? Kind::Status : Kind::SnapRead;
                if (reg == 12 && snapLatchedRead) kind = Kind::SnapWrite;
                if (failed(c.result)) {
                    ops->push_back({kind, c.result, 0, false});
                    if (kind == Kind::SnapRead) snapLatchedRead = false;
                    pendingReg = -1;
                } else {
                    pendingReg = reg;
                }
                continue;
            }
            if (c.id == bridge::PROP_REG_DATA) {
                if (pendingReg < 0) return false;
                if (!c.set) {
                    Kind kind = pendingReg == 8 ? Kind::PreStatus : pendingReg == 9 ? Kind::Status : Kind::SnapRead;
                    if (kind == Kind::SnapRead && snapLatchedRead) return false;
                    ops->push_back({kind, c.result, c.value, true});
                    if (kind == Kind::SnapRead)
                        snapLatchedRead = !failed(c.result) && (c.value & bridge::SNAPSHOT_LATCH_BIT);
                } else {
                    if (pendingReg != 12 || !snapLatchedRead) return false;
                    ops->push_back({Kind::SnapWrite, c.result, c.value, true});
                    snapLatchedRead = false;
                }
                pendingReg = -1;
                continue;
            }
            if (c.id == bridge::PROP_I2C_SELECT && c.set) {
                if (c.value == 0) continue;
                if (c.value != 0x00600001u) return false;
                if (failed(c.result)) {
                    ops->push_back({Kind::Code, c.result, 0, false});
                    pendingI2C = false;
                } else {
                    pendingI2C = true;
                }
                continue;
            }
            if (c.id == bridge::PROP_I2C_DATA && !c.set) {
                if (!pendingI2C) return false;
                ops->push_back({Kind::Code, c.result, c.value, true});
                pendingI2C = false;
                continue;
            }
            return false;
        }
        return true;
    }

    void finalize() {
        open_ = false;
        lastSettled_ = time_;
        ++stats_.groups;
        std::vector<Op> ops;
        bool openTick = false;
        if (!toOps(&ops, &openTick)) {
            fail_("property traffic the receiver protocol does not make at tick " + std::to_string(time_) + ": " +
                  describe());
            return;
        }
        // The open of the channel and the priming read after it take no key.
        if (openTick) {
            expectNoKeyAt(time_, "an open of the channel");
            return;
        }
        size_t i = 0;
        // A code read left over from the priming (its 100 ms wait) comes first.
        while (i < ops.size() && ops[i].kind == Kind::Code) ++i;
        if (i == ops.size()) {
            if (i != 0) expectNoKeyAt(time_, "the priming's code read");
            return;
        }
        ++stats_.pollTicks;
        auto next = [&](Kind kind, const char* what) -> const Op* {
            // Register 8 is read before every status read; its answer is discarded.
            if (kind == Kind::Status) {
                if (i >= ops.size() || ops[i].kind != Kind::PreStatus) {
                    fail_(std::string("no register 8 read before ") + what + " at tick " + std::to_string(time_) +
                          ": " + describe());
                    return nullptr;
                }
                ++i;
            }
            if (i >= ops.size() || ops[i].kind != kind) {
                fail_(std::string("expected ") + what + " at tick " + std::to_string(time_) + ": " + describe());
                return nullptr;
            }
            return &ops[i++];
        };

        // First readRemoteKey.
        bool anyFailure = false;
        const Op* s1 = next(Kind::Status, "the first status read");
        if (!s1) return;
        int32_t first = RES_OK;
        bool codeWaiting = false;
        uint32_t code = 0xFF;
        bool codeRead = false;
        if (!ok(s1->result)) {
            anyFailure = true;
            const Op* c = next(Kind::Code, "the receiver read after a failed status read");
            if (!c) return;
            if (ok(c->result)) ++stats_.codesLostToFailures;
            first = c->result == RES_GONE ? RES_GONE : s1->result;
        } else if (!(s1->value & bridge::STATUS_IDLE_BIT)) {
            codeWaiting = true;
            const Op* c = next(Kind::Code, "the code read");
            if (!c) return;
            if (ok(c->result)) {
                // The whole word counts: only 0xFF itself means no key.
                code = c->value;
                codeRead = true;
            } else {
                anyFailure = true;
                first = c->result;
            }
        }
        if (first == RES_GONE) {
            ++stats_.goneTicks;
            ++stats_.failedReads;
            if (i != ops.size()) fail_("a poll went on after finding the box gone at tick " + std::to_string(time_));
            expectNoKeyAt(time_, "a tick that found the box gone");
            return;
        }
        // Second readRemoteKey: the receiver must be idle again.
        bool taken = false;
        if (first == RES_OK && codeWaiting && codeRead) {
            const Op* s2 = next(Kind::Status, "the second status read");
            if (!s2) return;
            if (!ok(s2->result)) {
                anyFailure = true;
                if (!next(Kind::Code, "the receiver read after a failed second status read")) return;
            } else if (!(s2->value & bridge::STATUS_IDLE_BIT)) {
                if (!next(Kind::Code, "the code read of the second read")) return;
            } else {
                taken = true;
            }
        }
        if (codeRead && !taken) ++stats_.codesLostToFailures;
        // The snapshot button, on every tick that did not find the box gone.
        const Op* snap = next(Kind::SnapRead, "the snapshot register read");
        if (!snap) return;
        bool latched = snap->dataCalled && !failed(snap->result) && (snap->value & bridge::SNAPSHOT_LATCH_BIT);
        if (!snap->dataCalled || !ok(snap->result)) anyFailure = true;
        if (latched) {
            if (i >= ops.size() || ops[i].kind != Kind::SnapWrite)
                fail_("a latched snapshot press was not cleared at tick " + std::to_string(time_));
            else
                ++i;
        }
        if (i != ops.size()) {
            fail_("more property traffic than one poll makes at tick " + std::to_string(time_) + ": " + describe());
            return;
        }
        if (anyFailure) ++stats_.failedReads;

        int key = NO_KEY;
        if (taken) {
            if (code != 0xFF) {
                key = static_cast<int>(code & 0x1F);
                ++stats_.keysHandedOver;
            }
        } else if (latched) {
            key = KEY_SNAPSHOT;
            ++stats_.snapshotKeys;
        }
        if (key == NO_KEY) {
            expectNoKeyAt(time_, "a tick without a complete key");
            return;
        }
        keyTicks_.insert(time_);
        if (repeatTracker.lastTick != time_ || repeatTracker.lastCode != key) {
            fail_("the box handed over key " + std::to_string(key) + " at tick " + std::to_string(time_) +
                  " but the agent decided key " + std::to_string(repeatTracker.lastCode) + " at tick " +
                  std::to_string(repeatTracker.lastTick) + ": " + describe());
            return;
        }
        ++stats_.keysDecided;
    }

    void expectNoKeyAt(uint32_t time, const char* what) {
        if (repeatTracker.lastTick == time && time != 0)
            fail_(std::string("the agent decided key ") + std::to_string(repeatTracker.lastCode) + " on " + what +
                  " (tick " + std::to_string(time) + "): " + describe());
    }

    std::function<void(const std::string&)> fail_;
    bool open_ = false;
    uint32_t time_ = 0;
    uint32_t lastSettled_ = 0;
    std::vector<bridge::PropertyCall> calls_;
    std::set<uint32_t> keyTicks_;
    Stats stats_;
};

}  // namespace oracle
