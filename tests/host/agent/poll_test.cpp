// The key poll through the real WinMain: the receiver handshake and the
// snapshot button, held keys and their thinning, routing to the shutdown
// prompt, the active application, the default application or the desktop,
// and the hand-over to the device retry when the box is gone.
#include "scenario.h"
#include "tvapps.h"

#include "agent/dialogs.h"
#include "agent/poll.h"
#include "apps/keymaps.h"
#include "apps/pointer.h"
#include "sim/bridge/bridge.h"

#include <cstdio>
#include <memory>

using namespace scenario;

namespace {

// The key poll runs every 70 ms from the start of the agent at tick 0.
constexpr uint32_t POLL = KEY_POLL_PERIOD_MS;
constexpr uint32_t tick(int n) { return POLL * static_cast<uint32_t>(n); }

const AppId TV_APP_IDS[TV_COUNT] = {APP_POWERVCR, APP_WINDVR, APP_HONESTECH, APP_ROVIVER};

AppAdapter& adapter(TvApp tv) { return adapterOf(TV_APP_IDS[tv]); }

// Property traffic: one status read (registers 8 and 9), one code read from
// the receiver, the snapshot register read and its write-back.
std::vector<std::string> statusRead() { return {"S1005=00000801", "G1006", "S1005=00000901", "G1006"}; }
const std::vector<std::string> CODE_READ = {"S1007=00600001", "G1008"};
const std::vector<std::string> SNAPSHOT_READ = {"S1005=00000C01", "G1006"};
const std::vector<std::string> SNAPSHOT_CLEAR = {"S1005=00000C01", "S1006=00000005"};

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct Received {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    uint32_t time;
};

bool operator==(const Received& a, const Received& b) {
    return a.message == b.message && a.wParam == b.wParam && a.lParam == b.lParam && a.time == b.time;
}

std::ostream& operator<<(std::ostream& out, const Received& r) {
    return out << "{msg " << r.message << ", 0x" << std::hex << r.wParam << ", 0x" << r.lParam << std::dec << " at "
               << r.time << "}";
}

class PollTest : public AgentTest {
protected:
    void SetUp() override {
        AgentTest::SetUp();
        box = w().addCaptureDevice("USB 2800 Video").box;
    }

    // Schedules something the user does at `at`.
    void when(uint32_t at, const std::string& what, std::function<void()> action) {
        w().at(at, what, std::move(action));
    }
    void pressAt(uint32_t at, uint8_t code) {
        when(at, "remote key " + std::to_string(code), [this, code] { box->press(code); });
    }
    void snapshotAt(uint32_t at) {
        when(at, "snapshot button", [this] { box->pressSnapshot(); });
    }
    // The key poll's next expiry comes at `at` instead of on its period (a
    // late timer message); the period runs on from there.
    void nextPollAt(uint32_t at) {
        for (sim::Timer& t : w().timers)
            if (t.hwnd == mainWindow && t.id == KEY_POLL_TIMER_ID) t.due = at;
    }

    // The property calls the box answered at `time`, as "S1005=00000801" / "G1006".
    std::vector<std::string> trafficAt(uint32_t time) const {
        std::vector<std::string> out;
        char buf[32];
        for (const bridge::PropertyCall& c : box->log()) {
            if (c.time != time) continue;
            if (c.set)
                std::snprintf(buf, sizeof buf, "S%04X=%08X", c.id, c.value);
            else
                std::snprintf(buf, sizeof buf, "G%04X", c.id);
            out.push_back(buf);
        }
        return out;
    }

    static std::vector<Received> received(HWND window) {
        std::vector<Received> out;
        for (const sim::LoggedMessage& m : tvapps::received(window)) {
            EXPECT_FALSE(m.sent);
            out.push_back({m.message, m.wParam, m.lParam, m.time});
        }
        return out;
    }

    // What was posted to `window` according to the call log; it holds the
    // messages to windows that have closed on them since.
    static std::vector<Received> postedTo(HWND window) {
        std::vector<Received> out;
        for (const sim::Call& c : callsWith("PostMessageA", sim::handleText(window) + " msg=")) {
            unsigned msg = 0;
            unsigned long wParam = 0;
            long lParam = 0;
            const char* text = c.args.c_str() + c.args.find(" msg=");
            EXPECT_EQ(std::sscanf(text, " msg=%u w=%lu l=%ld", &msg, &wParam, &lParam), 3) << c.args;
            out.push_back({msg, wParam, lParam, c.time});
        }
        return out;
    }

    // The window is still open and got nothing at all.
    static bool untouched(HWND window) { return sim::world().window(window) && tvapps::received(window).empty(); }

    void setDefaultTvApp(DWORD value) { w().registry.setDword(SETTINGS, SETTING_DEFAULT_TV_APP, value); }

    std::shared_ptr<bridge::CaptureBox> box;
};

Received keyDown(WPARAM vk, uint32_t at, LPARAM lParam = 0) { return {WM_KEYDOWN, vk, lParam, at}; }
Received roviver(WPARAM command, uint32_t at) { return {ROVIVER_COMMAND_MESSAGE, command, 0, at}; }

}  // namespace

// ---- the handshake -----------------------------------------------------------------------

TEST_F(PollTest, IdleReceiverStillChecksTheSnapshotButton) {
    HWND pvcr = tvapps::run(APP_POWERVCR);
    snapshotAt(tick(1) + 30);
    runAgent(tick(4) + 10);

    // An idle tick: the status read and the button check, nothing else.
    EXPECT_EQ(trafficAt(tick(1)), statusRead() + SNAPSHOT_READ);
    // The latched press is cleared and becomes key 19.
    EXPECT_EQ(trafficAt(tick(2)), statusRead() + SNAPSHOT_READ + SNAPSHOT_CLEAR);
    EXPECT_FALSE(box->snapshotLatched());
    EXPECT_EQ(received(pvcr), (std::vector<Received>{keyDown('C', tick(2))}));
    EXPECT_EQ(powerVcrApp.active, 1);
    EXPECT_EQ(repeatTracker.lastCode, KEY_SNAPSHOT);
    EXPECT_EQ(repeatTracker.lastTick, tick(2));
    EXPECT_EQ(trafficAt(tick(3)), statusRead() + SNAPSHOT_READ) << "reported once";
}

TEST_F(PollTest, CodeReadWhileAnotherWaitsDispatchesNothing) {
    HWND pvcr = tvapps::run(APP_POWERVCR);
    pressAt(tick(1) + 30, 13);
    pressAt(tick(1) + 31, 16);
    pressAt(tick(4) + 30, 24);  // 'Z' for PowerVCR II: the poll still works
    runAgent(tick(6));

    // Two status reads and two code reads on one tick; neither code is taken.
    EXPECT_EQ(trafficAt(tick(2)), statusRead() + CODE_READ + statusRead() + CODE_READ + SNAPSHOT_READ);
    EXPECT_EQ(box->waitingCodes(), 0u);
    EXPECT_EQ(trafficAt(tick(3)), statusRead() + SNAPSHOT_READ) << "both codes are gone";
    EXPECT_EQ(received(pvcr), (std::vector<Received>{keyDown('Z', tick(5))}));
}

TEST_F(PollTest, NoKeyCodeLeavesTheRepeatTrackerAlone) {
    HWND pvcr = tvapps::run(APP_POWERVCR);
    pressAt(tick(1) + 30, 13);
    pressAt(tick(2) + 30, 0xFF);
    snapshotAt(tick(2) + 31);  // latched on the tick of the empty code: lost with it
    RepeatTracker afterFirst{}, afterEmpty{};
    when(tick(2) + 1, "look", [&] { afterFirst = repeatTracker; });
    when(tick(3) + 1, "look", [&] { afterEmpty = repeatTracker; });
    pressAt(tick(3) + 30, 13);
    runAgent(tick(6));

    EXPECT_EQ(trafficAt(tick(3)), statusRead() + CODE_READ + statusRead() + SNAPSHOT_READ + SNAPSHOT_CLEAR);
    EXPECT_EQ(afterFirst.lastCode, 13);
    EXPECT_EQ(afterFirst.lastTick, tick(2));
    EXPECT_EQ(afterEmpty.lastCode, afterFirst.lastCode);
    EXPECT_EQ(afterEmpty.lastTick, afterFirst.lastTick);
    EXPECT_EQ(afterEmpty.repeating, afterFirst.repeating);
    EXPECT_EQ(afterEmpty.repeatCount, afterFirst.repeatCount);
    // Key 13 again 140 ms after its first decode is its first repeat, thinned
    // while PowerVCR II is driven; the snapshot press never shows up.
    EXPECT_EQ(repeatTracker.repeatCount, 1);
    EXPECT_TRUE(repeatTracker.repeating);
    EXPECT_EQ(received(pvcr), (std::vector<Received>{keyDown('S', tick(2))}));
}

TEST_F(PollTest, CodesAbove31FoldToTheirLowFiveBits) {
    HWND uva = tvapps::run(APP_ROVIVER);
    struct Fold {
        uint8_t raw;
        int key;
        WPARAM command;
    };
    const Fold folds[] = {{32, 0, 4003},    {0x25, 5, 10005}, {0x4D, 13, 1002}, {0x73, 19, 1000},
                          {0x9E, 30, 4002}, {0xDF, 31, 402},  {0xFE, 30, 4002}};
    std::vector<Received> expected;
    std::vector<LONG> seen;
    int n = 1;
    for (const Fold& f : folds) {
        pressAt(tick(n) + 30, f.raw);
        when(tick(n + 1) + 1, "look", [&seen] { seen.push_back(repeatTracker.lastCode); });
        expected.push_back(roviver(f.command, tick(n + 1)));
        n += 5;  // far apart: every press is fresh
    }
    runAgent(tick(n + 1));

    EXPECT_EQ(received(uva), expected);
    ASSERT_EQ(seen.size(), std::size(folds));
    for (size_t i = 0; i < seen.size(); ++i) EXPECT_EQ(seen[i], folds[i].key) << "raw " << int(folds[i].raw);
}

TEST_F(PollTest, SnapshotLatchedOnTheTickOfARemoteKeyIsLost) {
    HWND pvcr = tvapps::run(APP_POWERVCR);
    pressAt(tick(1) + 30, 13);
    snapshotAt(tick(1) + 31);
    runAgent(tick(6));

    EXPECT_EQ(trafficAt(tick(2)), statusRead() + CODE_READ + statusRead() + SNAPSHOT_READ + SNAPSHOT_CLEAR);
    EXPECT_FALSE(box->snapshotLatched());
    EXPECT_EQ(received(pvcr), (std::vector<Received>{keyDown('S', tick(2))}));
    EXPECT_EQ(repeatTracker.lastCode, 13);
}

// ---- held keys ------------------------------------------------------------------------------

TEST_F(PollTest, SameKeyWithin249MsIsARepeatAnd250MsAFreshPress) {
    HWND pvcr = tvapps::run(APP_POWERVCR);
    const uint32_t first = tick(2);
    pressAt(tick(1) + 30, 13);  // decoded at `first`, PowerVCR II becomes active
    RepeatTracker atRepeat{}, atFresh{};
    when(first + 10, "again, read 249 ms after the first", [&] {
        box->press(13);
        nextPollAt(first + 249);
    });
    when(first + 250, "look", [&] { atRepeat = repeatTracker; });
    when(first + 260, "again, read 250 ms after the repeat", [&] {
        box->press(13);
        nextPollAt(first + 249 + 250);
    });
    when(first + 249 + 251, "look", [&] { atFresh = repeatTracker; });
    runAgent(first + 700);

    EXPECT_TRUE(atRepeat.repeating);
    EXPECT_EQ(atRepeat.repeatCount, 1);
    EXPECT_EQ(atRepeat.lastTick, first + 249);
    EXPECT_FALSE(atFresh.repeating);
    EXPECT_EQ(atFresh.repeatCount, 0);
    EXPECT_EQ(atFresh.lastTick, first + 499);
    // The first repeat is thinned out; the fresh press acts.
    EXPECT_EQ(received(pvcr), (std::vector<Received>{keyDown('S', first), keyDown('S', first + 499)}));
}

TEST_F(PollTest, AlternatingKeysAreEachAFreshPress) {
    HWND pvcr = tvapps::run(APP_POWERVCR);
    std::vector<Received> expected;
    std::vector<LONG> counts;
    for (int i = 0; i < 6; ++i) {
        bool s = i % 2 == 0;
        pressAt(tick(i + 1) + 30, s ? 13 : 16);
        when(tick(i + 2) + 1, "look", [&counts] { counts.push_back(repeatTracker.repeatCount); });
        expected.push_back(keyDown(s ? 'S' : 'Q', tick(i + 2)));
    }
    runAgent(tick(9));

    EXPECT_EQ(received(pvcr), expected);
    EXPECT_EQ(counts, std::vector<LONG>(6, 0));
    EXPECT_FALSE(repeatTracker.repeating);
}

TEST_F(PollTest, HeldKeyWithPowerVcrActiveActsOnEveryTenthRepeat) {
    HWND pvcr = tvapps::run(APP_POWERVCR);
    // Reported once per poll for 35 polls: the press and repeats 1 to 34.
    when(tick(1) + 30, "hold key 13", [this] { box->hold(13, tick(35), POLL); });
    runAgent(tick(40));

    const uint32_t press = tick(2);
    EXPECT_EQ(received(pvcr), (std::vector<Received>{keyDown('S', press), keyDown('S', press + tick(10)),
                                                     keyDown('S', press + tick(20)), keyDown('S', press + tick(30))}));
    EXPECT_EQ(repeatTracker.repeatCount, 34);
    EXPECT_EQ(repeatTracker.lastTick, press + tick(34));
}

TEST_F(PollTest, HeldKeyWithNoApplicationActsOnEveryRepeat) {
    // Left from an earlier key: the fresh press starts the pointer afresh.
    when(tick(1) + 20, "earlier moves", [] { pointerRepeatCount = 7; });
    when(tick(1) + 30, "hold key 6", [this] { box->hold(6, tick(12), POLL); });
    std::vector<LONG> counts;
    for (int i = 0; i < 12; ++i)
        when(tick(i + 2) + 1, "look", [&counts] { counts.push_back(pointerRepeatCount); });
    runAgent(tick(16));

    EXPECT_EQ(counts, (std::vector<LONG>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
    EXPECT_EQ(pointerRepeatCount, 12);
    EXPECT_EQ(callsWith("SetCursorPos").size(), 12u);
    // Four 1-pixel steps, five of 1024/160 and three of 1024/80.
    EXPECT_EQ(w().cursor.x, 512 + 4 + 5 * 6 + 3 * 12);
    EXPECT_EQ(w().cursor.y, 384);
    EXPECT_EQ(repeatTracker.repeatCount, 11);
}

// ---- routing ----------------------------------------------------------------------------------

TEST_F(PollTest, FirstActiveApplicationInOrderGetsTheKey) {
    // What key 13 does to each application.
    const Received KEY13[TV_COUNT] = {keyDown('S', tick(2)), {WINDVR_COMMAND_MESSAGE, 2, 0, tick(2)},
                                      keyDown('S', tick(2)), roviver(1002, tick(2))};
    for (int first = 0; first < TV_COUNT; ++first) {
        SCOPED_TRACE("first active: " + std::to_string(first));
        SetUp();
        HWND windows[TV_COUNT];
        for (int t = 0; t < TV_COUNT; ++t) windows[t] = tvapps::run(TV_APP_IDS[t]);
        when(tick(1) + 10, "applications driven", [first] {
            for (int t = first; t < TV_COUNT; ++t) adapter(static_cast<TvApp>(t)).active = 1;
        });
        pressAt(tick(1) + 30, 13);
        runAgent(tick(4));
        for (int t = 0; t < TV_COUNT; ++t) {
            if (t == first)
                EXPECT_EQ(received(windows[t]), std::vector<Received>{KEY13[t]}) << "application " << t;
            else
                EXPECT_TRUE(untouched(windows[t])) << "application " << t;
        }
    }

    // The flags decide, not the windows: PowerVCR II driven but closed by
    // hand, RoviverUVA running; the key goes nowhere.
    SetUp();
    HWND uva = tvapps::run(APP_ROVIVER);
    when(tick(1) + 10, "PowerVCR II driven", [] { powerVcrApp.active = 1; });
    pressAt(tick(1) + 30, 13);
    runAgent(tick(4));
    EXPECT_TRUE(untouched(uva));
    EXPECT_EQ(roviverApp.active, 0);
    EXPECT_TRUE(callsWith("PostMessageA", "msg=256").empty());
}

TEST_F(PollTest, KeysTheDispatcherKeepsForItselfWithAnApplicationActive) {
    // PowerVCR II driven: 21 is dropped, 11 closes it with Ctrl+X.
    HWND pvcr = tvapps::run(APP_POWERVCR);
    when(tick(1) + 10, "PowerVCR II driven", [] { powerVcrApp.active = 1; });
    pressAt(tick(1) + 30, KEY_SHUTDOWN);
    pressAt(tick(5) + 30, KEY_SECOND_START);
    runAgent(tick(8));
    EXPECT_TRUE(w().dialogsShown.empty()) << "no shutdown prompt";
    ASSERT_EQ(w().keyEvents.size(), 4u);
    EXPECT_EQ(w().keyEvents[0].vk, VK_CONTROL);
    EXPECT_EQ(w().keyEvents[1].vk, 'X');
    EXPECT_EQ(w().keyEvents[1].foreground, pvcr);
    EXPECT_EQ(w().keyEvents[0].time, tick(6));
    EXPECT_EQ(tvapps::topWindow(APP_POWERVCR), nullptr) << "closed";
    EXPECT_EQ(powerVcrApp.active, 0);
    EXPECT_FALSE(appWatchTimer.armed) << "a close arms no watcher";
    EXPECT_TRUE(postedTo(pvcr).empty()) << "key 21 posted nothing";

    // RoviverUVA driven: 11 and 21 are its commands 6000 and 5001, 18 closes it.
    SetUp();
    HWND uva = tvapps::run(APP_ROVIVER);
    when(tick(1) + 10, "RoviverUVA driven", [] { roviverApp.active = 1; });
    pressAt(tick(1) + 30, KEY_SECOND_START);
    pressAt(tick(5) + 30, KEY_SHUTDOWN);
    pressAt(tick(9) + 30, KEY_POWER);
    runAgent(tick(12));
    EXPECT_TRUE(w().dialogsShown.empty());
    EXPECT_EQ(postedTo(uva), (std::vector<Received>{roviver(6000, tick(2)), roviver(5001, tick(6)),
                                                    roviver(ROVIVER_CLOSE_COMMAND, tick(10))}));
    EXPECT_EQ(roviverApp.active, 0);
}

TEST_F(PollTest, SecondStartKeyClosesTheOthersAndStartsTheDefault) {
    setDefaultTvApp(TV_APP_POWERVCR);
    tvapps::install(APP_POWERVCR);
    HWND dvr = tvapps::run(APP_WINDVR);
    HWND htv = tvapps::run(APP_HONESTECH);
    HWND uva = tvapps::run(APP_ROVIVER);
    pressAt(tick(1) + 30, KEY_SECOND_START);
    runAgent(tick(3));

    EXPECT_TRUE(w().messageBoxes.empty());
    EXPECT_EQ(postedTo(dvr), (std::vector<Received>{keyDown('X', tick(2), 0x002D0001)}));
    EXPECT_EQ(postedTo(htv), (std::vector<Received>{keyDown('O', tick(2))}));
    EXPECT_EQ(postedTo(uva), (std::vector<Received>{roviver(ROVIVER_CLOSE_COMMAND, tick(2))}));
    // Closed in the order WinDVR, honestechTV, RoviverUVA, then PowerVCR II starts.
    int closeDvr = firstCall("PostMessageA", sim::handleText(dvr));
    int closeHtv = firstCall("PostMessageA", sim::handleText(htv));
    int closeUva = firstCall("PostMessageA", sim::handleText(uva));
    int start = firstCall("WinExec", "PVCR.EXE");
    EXPECT_LT(closeDvr, closeHtv);
    EXPECT_LT(closeHtv, closeUva);
    EXPECT_LT(closeUva, start);
    ASSERT_EQ(w().programStarts.size(), 1u);
    EXPECT_EQ(powerVcrApp.active, 1);
    EXPECT_EQ(launchedByAgent[TV_POWERVCR], 1);
    EXPECT_TRUE(appWatchTimer.armed);

    // Not installed: key 11 starts nothing and says nothing, but arms the watcher.
    SetUp();
    setDefaultTvApp(TV_APP_POWERVCR);
    pressAt(tick(1) + 30, KEY_SECOND_START);
    runAgent(tick(3));
    EXPECT_TRUE(w().messageBoxes.empty());
    EXPECT_TRUE(callsWith("WinExec").empty());
    EXPECT_TRUE(appWatchTimer.armed);
    EXPECT_EQ(launchedByAgent[TV_POWERVCR], 0);
}

TEST_F(PollTest, PowerKeyWithTheDefaultNotInstalledWarnsThenGoesOn) {
    setDefaultTvApp(TV_APP_POWERVCR);
    HWND dvr = tvapps::run(APP_WINDVR);
    HWND htv = tvapps::run(APP_HONESTECH);
    HWND uva = tvapps::run(APP_ROVIVER);
    pressAt(tick(1) + 30, KEY_POWER);
    runAgent(tick(2) + w().messageBoxDelay + 200);

    ASSERT_EQ(w().messageBoxes.size(), 1u);
    const sim::MessageBoxRecord& box0 = w().messageBoxes[0];
    EXPECT_EQ(box0.text, "Please re-initialize the TV application settings.");
    EXPECT_EQ(box0.caption, "Ruvuzovi Razuzu Davidod");
    EXPECT_EQ(box0.style, static_cast<UINT>(MB_SETFOREGROUND));
    EXPECT_EQ(box0.owner, nullptr);
    EXPECT_EQ(box0.time, tick(2));
    // Once it is dismissed, the others are closed in order and the watcher armed.
    const uint32_t dismissed = tick(2) + w().messageBoxDelay;
    EXPECT_EQ(postedTo(dvr), (std::vector<Received>{keyDown('X', dismissed, 0x002D0001)}));
    EXPECT_EQ(postedTo(htv), (std::vector<Received>{keyDown('O', dismissed)}));
    EXPECT_EQ(postedTo(uva), (std::vector<Received>{roviver(ROVIVER_CLOSE_COMMAND, dismissed)}));
    EXPECT_LT(firstCall("PostMessageA", sim::handleText(dvr)), firstCall("PostMessageA", sim::handleText(htv)));
    EXPECT_LT(firstCall("PostMessageA", sim::handleText(htv)), firstCall("PostMessageA", sim::handleText(uva)));
    EXPECT_TRUE(callsWith("WinExec").empty());
    EXPECT_TRUE(appWatchTimer.armed);
    EXPECT_EQ(callsWith("SetTimer", "id=2 ms=500").size(), 1u);
    EXPECT_EQ(launchedByAgent[TV_POWERVCR], 0);
}

TEST_F(PollTest, DefaultOutsideOneToFourMakesStartKeysDoNothing) {
    for (DWORD value : {0u, 5u, 7u}) {
        for (int code : {KEY_SECOND_START, KEY_POWER}) {
            SCOPED_TRACE("DefaultTVAPP " + std::to_string(value) + " key " + std::to_string(code));
            SetUp();
            setDefaultTvApp(value);
            for (AppId app : TV_APP_IDS) tvapps::install(app);
            HWND dvr = tvapps::run(APP_WINDVR);
            pressAt(tick(1) + 30, static_cast<uint8_t>(code));
            runAgent(tick(2) + w().messageBoxDelay + 200);
            EXPECT_EQ(defaultTvApp, static_cast<int>(value));
            EXPECT_TRUE(w().messageBoxes.empty());
            EXPECT_TRUE(callsWith("WinExec").empty());
            EXPECT_TRUE(callsWith("SetTimer", "id=2").empty());
            EXPECT_TRUE(untouched(dvr));
            EXPECT_EQ(repeatTracker.lastCode, code) << "the key was decoded";
        }
    }
}

TEST_F(PollTest, ShutdownKeyDoesNothingWhileAnyTvWindowExists) {
    for (int t = 0; t < TV_COUNT; ++t) {
        SCOPED_TRACE("window of application " + std::to_string(t));
        SetUp();
        HWND window = tvapps::run(TV_APP_IDS[t]);
        pressAt(tick(1) + 30, KEY_SHUTDOWN);
        runAgent(tick(4));
        EXPECT_TRUE(w().dialogsShown.empty());
        EXPECT_FALSE(shutdownPromptOpen);
        EXPECT_TRUE(untouched(window));
        EXPECT_EQ(adapter(static_cast<TvApp>(t)).active, 0);
        EXPECT_EQ(repeatTracker.lastCode, KEY_SHUTDOWN) << "the key was decoded";
    }

    // With none of the four windows the prompt opens, owned by the agent.
    SetUp();
    pressAt(tick(1) + 30, KEY_SHUTDOWN);
    runAgent(tick(4));
    ASSERT_EQ(w().dialogsShown.size(), 1u);
    EXPECT_EQ(w().dialogsShown[0].templateId, 107);
    EXPECT_EQ(w().dialogsShown[0].owner, mainWindow);
    EXPECT_TRUE(shutdownPromptOpen);
}

TEST_F(PollTest, OrdinaryKeyPrefersRoviverAndMarksItActive) {
    HWND pvcr = tvapps::run(APP_POWERVCR);
    HWND uva = tvapps::run(APP_ROVIVER);
    pressAt(tick(1) + 30, 13);
    pressAt(tick(5) + 30, 16);
    runAgent(tick(8));
    EXPECT_EQ(received(uva), (std::vector<Received>{roviver(1002, tick(2)), roviver(403, tick(6))}));
    EXPECT_TRUE(untouched(pvcr));
    EXPECT_EQ(roviverApp.active, 1);
    EXPECT_EQ(powerVcrApp.active, 0);

    // No application window at all: the key drives the desktop pointer.
    SetUp();
    pressAt(tick(1) + 30, 6);
    runAgent(tick(3));
    EXPECT_EQ(callsWith("SetCursorPos").size(), 1u);
    EXPECT_EQ(w().cursor.x, 513);
    for (int t = 0; t < TV_COUNT; ++t) EXPECT_EQ(adapter(static_cast<TvApp>(t)).active, 0);
}

// ---- device lost ---------------------------------------------------------------------------

TEST_F(PollTest, DeviceGoneOnTheFirstReadHandsOverToTheRetry) {
    HWND pvcr = tvapps::run(APP_POWERVCR);
    when(tick(1) + 30, "the driver reports the box gone", [this] {
        box->pressSnapshot();
        box->failNext(bridge::PROP_REG_DATA, false, bridge::DEVICE_GONE, 2);  // registers 8 and 9
    });
    runAgent(tick(2) + 1000);

    auto kills = callsWith("KillTimer");
    ASSERT_EQ(kills.size(), 1u);
    EXPECT_NE(kills[0].args.find("id=1"), std::string::npos);
    EXPECT_EQ(kills[0].time, tick(2));
    auto sets = callsWith("SetTimer", "id=3 ms=3000");
    ASSERT_EQ(sets.size(), 1u);
    EXPECT_EQ(sets[0].time, tick(2));
    EXPECT_FALSE(keyPollTimer.armed);
    EXPECT_TRUE(deviceRetryTimer.armed);
    // The status read failed, the receiver was read all the same, and the
    // button was not checked: its press is still latched.
    std::vector<std::string> traffic = trafficAt(tick(2));
    EXPECT_EQ(std::count(traffic.begin(), traffic.end(), "S1005=00000C01"), 0);
    EXPECT_TRUE(box->snapshotLatched());
    EXPECT_TRUE(untouched(pvcr));
    for (int n = 3; n < 16; ++n) EXPECT_TRUE(trafficAt(tick(n)).empty()) << "no poll at " << tick(n);

    // Any other failure only costs the remote key of that tick.
    SetUp();
    pvcr = tvapps::run(APP_POWERVCR);
    when(tick(1) + 30, "a failed status read", [this] {
        box->pressSnapshot();
        box->failNext(bridge::PROP_REG_DATA, false, bridge::GEN_FAILURE, 2);
    });
    runAgent(tick(4));
    EXPECT_TRUE(callsWith("KillTimer").empty());
    EXPECT_TRUE(keyPollTimer.armed);
    EXPECT_FALSE(deviceRetryTimer.armed);
    EXPECT_FALSE(box->snapshotLatched());
    EXPECT_EQ(received(pvcr), (std::vector<Received>{keyDown('C', tick(2))})) << "the button still counts";
}
