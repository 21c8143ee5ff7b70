// The device channel coming back after it was lost: a box plugged in again
// around a device retry while its driver is still starting, a sleep with or
// without the resume notice, a resume while the retry runs or while a dialog
// is open, an unplug or a sleep while the Shut Down prompt waits for the
// remote. Every case ends with the remote working again, and throughout the
// run the key poll and the device retry are never armed together nor both
// disarmed, polling never runs without a control interface, and COM is
// initialised exactly while a device object is held.
#include "scenario.h"

#include "agent/dialogs.h"
#include "apps/keymaps.h"
#include "device/device.h"
#include "resource.h"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

using namespace scenario;

namespace {

// A key of the desktop pointer emulation: with no TV application it moves the pointer.
constexpr uint8_t POINTER_KEY = 6;
// Invariants are looked at this often, between messages.
constexpr uint32_t WATCH_PERIOD_MS = 10;
// The key poll's first tick after an unplug at this time arms the retry.
constexpr uint32_t UNPLUG_AT = 1000;
constexpr size_t MAX_VIOLATIONS_KEPT = 3;

class RecoveryTest : public AgentTest {
protected:
    void SetUp() override {
        AgentTest::SetUp();
        violations.clear();
        w().addCaptureDevice("USB 2800 Video");
        entry = w().captureDevices.back();
        box = entry->box;
    }

    // The box leaves the system: its calls answer "gone" and the device
    // enumerator no longer lists it.
    void unplug() {
        box->unplug();
        auto& devs = w().captureDevices;
        devs.erase(std::remove(devs.begin(), devs.end(), entry), devs.end());
    }
    // Plugged in again: listed at once; until its driver has started, the
    // filter binds but hands out no control interface.
    void replug(bool driverReady) {
        box->plug();
        entry->answersBridgeControl = driverReady;
        if (std::find(w().captureDevices.begin(), w().captureDevices.end(), entry) == w().captureDevices.end())
            w().captureDevices.push_back(entry);
    }
    void driverStarted() { entry->answersBridgeControl = true; }

    void at(uint32_t tick, const std::string& what, std::function<void()> action) {
        w().at(tick, what, std::move(action));
    }
    void power(uint32_t tick, WPARAM event) {
        at(tick, "power event", [event] { SendMessageA(mainWindow, WM_POWERBROADCAST, event, 0); });
    }

    // The tick at which the key poll lost the box and armed the retry, read
    // from the call log once it has happened.
    uint32_t retryArmedAt() {
        auto armed = callsWith("SetTimer", "id=3");
        return armed.empty() ? 0 : armed.back().time;
    }

    // Looks at the agent's state every few milliseconds of the run.
    void watchInvariants() {
        at(w().now + WATCH_PERIOD_MS, "invariants", [this] {
            check();
            watchInvariants();
        });
    }
    // Only the first few are kept: one broken state repeats on every look.
    void violation(const std::string& why) {
        if (violations.size() < MAX_VIOLATIONS_KEPT) violations.push_back("t=" + std::to_string(w().now) + ": " + why);
    }
    void check() {
        bool poll = keyPollTimer.armed, retry = deviceRetryTimer.armed;
        if (poll == retry) violation(poll ? "poll and retry both armed" : "neither poll nor retry armed");
        if (poll && !(remoteDevice && remoteDevice->control)) violation("polling without a control interface");
        if (w().comInitDepth != (remoteDevice ? 1 : 0)) violation("COM depth " + std::to_string(w().comInitDepth));
    }

    // Pointer moves made by the remote from `tick` on.
    size_t pointerMovesAfter(uint32_t tick) {
        size_t n = 0;
        for (const sim::Call& c : callsWith("SetCursorPos"))
            if (c.time >= tick) ++n;
        return n;
    }

    void expectRecovered() {
        check();
        EXPECT_TRUE(keyPollTimer.armed);
        EXPECT_FALSE(deviceRetryTimer.armed);
        ASSERT_NE(remoteDevice, nullptr);
        EXPECT_NE(remoteDevice->control, nullptr);
        EXPECT_EQ(w().comMisuses, 0);
        EXPECT_EQ(w().liveComObjects("IBridgeControl"), 1);
        EXPECT_EQ(violations, std::vector<std::string>{});
    }

    std::shared_ptr<sim::CaptureDeviceEntry> entry;
    std::shared_ptr<bridge::CaptureBox> box;
    std::vector<std::string> violations;
};

// The box comes back while the retry runs, but its driver hands out the
// control interface only a moment after the retry's look. That look must not
// count as finding the box: the next retry, once the driver is up, does.
TEST_F(RecoveryTest, BoxBackBeforeItsDriverIsTakenUpByTheNextRetry) {
    at(UNPLUG_AT, "unplugged", [this] { unplug(); });
    at(3500, "plugged in, driver starting", [this] { replug(false); });
    at(4500, "driver started", [this] { driverStarted(); });
    at(9000, "a key", [this] { box->press(POINTER_KEY); });
    watchInvariants();
    runAgent(12000);
    auto retries = callsWith("SetTimer", "id=3");
    ASSERT_EQ(retries.size(), 1u);
    auto polls = callsWith("SetTimer", "id=1 ms=70");
    ASSERT_EQ(polls.size(), 2u) << "polling at start and once the box answers";
    EXPECT_EQ(polls[1].time, retries[0].time + 2 * DEVICE_RETRY_PERIOD_MS)
        << "the first retry saw no control interface; the second found the box";
    EXPECT_GT(pointerMovesAfter(9000), 0u) << "the remote works again";
    expectRecovered();
}

// The box pulled out and plugged in again at every moment around a retry
// tick, its driver ready at once, a tick later or a retry period later.
TEST_F(RecoveryTest, ReplugAtAnyMomentAroundARetryEndsWithAWorkingRemote) {
    const int32_t replugOffsets[] = {-1000, -71, -70, -1, 0, 1, 69, 70, 1000};
    const uint32_t readyDelays[] = {0, 1, DEVICE_RETRY_PERIOD_MS};
    for (int32_t offset : replugOffsets) {
        for (uint32_t ready : readyDelays) {
            SCOPED_TRACE("replug at retry " + std::to_string(offset) + " ms, driver ready " + std::to_string(ready) +
                         " ms later");
            SetUp();
            uint32_t keyAt = 0;
            at(UNPLUG_AT, "unplugged", [this] { unplug(); });
            at(UNPLUG_AT + 2 * KEY_POLL_PERIOD_MS, "plan", [this, offset, ready, &keyAt] {
                uint32_t retryTick = retryArmedAt() + DEVICE_RETRY_PERIOD_MS;
                uint32_t replugAt = static_cast<uint32_t>(static_cast<int32_t>(retryTick) + offset);
                at(replugAt, "plugged in", [this, ready] { replug(ready == 0); });
                if (ready) at(replugAt + ready, "driver started", [this] { driverStarted(); });
                // Two retry periods after the driver is up the box must be polled.
                keyAt = replugAt + ready + 2 * DEVICE_RETRY_PERIOD_MS + 100;
                at(keyAt, "a key", [this] { box->press(POINTER_KEY); });
            });
            watchInvariants();
            runAgent(16000);
            ASSERT_NE(keyAt, 0u);
            EXPECT_GT(pointerMovesAfter(keyAt), 0u) << "the key after the driver started moved nothing";
            expectRecovered();
        }
    }
}

// Unplugged again right after a retry found the box (while it is primed),
// and back a moment later.
TEST_F(RecoveryTest, UnplugRightAfterTheRetryFoundTheBox) {
    for (uint32_t after : {0u, 1u, 50u, 100u}) {
        SCOPED_TRACE("second unplug " + std::to_string(after) + " ms after the retry");
        SetUp();
        at(UNPLUG_AT, "unplugged", [this] { unplug(); });
        at(2000, "plugged in", [this] { replug(true); });
        at(UNPLUG_AT + 2 * KEY_POLL_PERIOD_MS, "plan", [this, after] {
            uint32_t retryTick = retryArmedAt() + DEVICE_RETRY_PERIOD_MS;
            at(retryTick + after, "unplugged again", [this] { unplug(); });
            at(retryTick + after + 500, "plugged in again", [this] { replug(true); });
        });
        at(13000, "a key", [this] { box->press(POINTER_KEY); });
        watchInvariants();
        runAgent(15000);
        EXPECT_GT(pointerMovesAfter(13000), 0u);
        expectRecovered();
    }
}

// A sleep whose resume notice never comes (the suspend failed after it was
// announced) must not leave the agent without its retry.
TEST_F(RecoveryTest, SuspendWithoutResumeStillFindsTheBoxAgain) {
    power(1000, PBT_APMSUSPEND);
    bool closedAsleep = false;
    at(1100, "look", [&] { closedAsleep = remoteDevice == nullptr && w().comInitDepth == 0; });
    at(9000, "a key", [this] { box->press(POINTER_KEY); });
    watchInvariants();
    runAgent(10000);
    EXPECT_TRUE(closedAsleep) << "the channel is closed for the sleep";
    EXPECT_GT(pointerMovesAfter(9000), 0u);
    expectRecovered();
}

// Resume notices while the retry already runs (the box was lost before the
// sleep), twice over as the system sends them: one retry timer, and the box
// is found by it.
TEST_F(RecoveryTest, ResumeWhileTheRetryRunsKeepsOneRetry) {
    at(UNPLUG_AT, "unplugged", [this] { unplug(); });
    power(1500, PBT_APMSUSPEND);
    power(2500, PBT_APMRESUMEAUTOMATIC);
    power(2600, PBT_APMRESUMESUSPEND);
    at(2700, "plugged in", [this] { replug(true); });
    at(9000, "a key", [this] { box->press(POINTER_KEY); });
    watchInvariants();
    runAgent(10000);
    auto retryKills = callsWith("KillTimer", "id=3");
    auto retryArms = callsWith("SetTimer", "id=3");
    EXPECT_EQ(retryArms.size(), 1u) << "arming an armed retry neither restarts nor doubles it";
    EXPECT_EQ(retryKills.size(), 1u);
    EXPECT_GT(pointerMovesAfter(9000), 0u);
    expectRecovered();
}

// The machine wakes while the About dialog is open: the retry runs inside the
// dialog's modal loop, and the remote works before the dialog is closed.
TEST_F(RecoveryTest, ResumeDuringADialog) {
    at(500, "About", [] { PostMessageA(mainWindow, WM_COMMAND, IDM_ABOUT, 0); });
    power(1000, PBT_APMSUSPEND);
    power(2000, PBT_APMRESUMEAUTOMATIC);
    at(6000, "a key", [this] { box->press(POINTER_KEY); });
    bool dialogOpenAtKey = false;
    at(6200, "look", [&] { dialogOpenAtKey = w().innermostDialog() != nullptr; });
    at(7000, "Escape", [] { sim::world().pressDialogEscape(); });
    watchInvariants();
    runAgent(8000);
    EXPECT_TRUE(dialogOpenAtKey);
    EXPECT_GT(pointerMovesAfter(6000), 0u) << "keys work while the dialog is open";
    ASSERT_FALSE(w().dialogsShown.empty());
    EXPECT_FALSE(w().dialogsShown[0].open);
    expectRecovered();
}

// The Shut Down prompt waits for the remote while the box is pulled out and
// comes back with its driver still starting: the remote must still be able
// to cancel it.
TEST_F(RecoveryTest, UnplugDuringTheShutDownPrompt) {
    at(500, "shut down key", [this] { box->press(KEY_SHUTDOWN); });
    at(UNPLUG_AT, "unplugged", [this] { unplug(); });
    at(3500, "plugged in, driver starting", [this] { replug(false); });
    at(4500, "driver started", [this] { driverStarted(); });
    bool promptDuringLoss = false;
    at(5000, "look", [&] { promptDuringLoss = shutdownPromptOpen; });
    at(9000, "cancel with any key", [this] { box->press(POINTER_KEY); });
    watchInvariants();
    runAgent(11000);
    EXPECT_TRUE(promptDuringLoss);
    EXPECT_FALSE(shutdownPromptOpen) << "the remote's key closed the prompt";
    ASSERT_EQ(w().dialogsShown.size(), 1u);
    EXPECT_EQ(w().dialogsShown[0].templateId, IDD_SHUTDOWN);
    EXPECT_EQ(w().dialogsShown[0].result, VK_ESCAPE);
    EXPECT_GT(w().dialogsShown[0].closed, 9000u);
    EXPECT_TRUE(w().shutdownRequests.empty());
    expectRecovered();
}

// The machine sleeps while the prompt is open; after the wake the remote
// answers the prompt, and only then.
TEST_F(RecoveryTest, SleepDuringTheShutDownPrompt) {
    at(500, "shut down key", [this] { box->press(KEY_SHUTDOWN); });
    power(1000, PBT_APMSUSPEND);
    at(1200, "a key while asleep is kept by the box", [this] { box->press(POINTER_KEY); });
    power(1300, PBT_APMRESUMEAUTOMATIC);
    watchInvariants();
    runAgent(8000);
    ASSERT_EQ(w().dialogsShown.size(), 1u);
    EXPECT_FALSE(w().dialogsShown[0].open);
    EXPECT_EQ(w().dialogsShown[0].result, VK_ESCAPE);
    EXPECT_GT(w().dialogsShown[0].closed, 1300u) << "answered after the wake, by the retry's reopened channel";
    EXPECT_TRUE(w().shutdownRequests.empty());
    expectRecovered();
}

}  // namespace
