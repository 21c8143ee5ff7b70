// The desktop pointer: screen metrics, accelerated moves inside exclusive
// bounds, clicks and the drag toggle.
#include "scenario.h"

#include "apps/pointer.h"

using namespace scenario;

namespace {

class PointerTest : public AgentTest {
protected:
    void SetUp() override {
        AgentTest::SetUp();
        restartAgentStatics();
    }
    // Moves with `code` `n` times as one held key and returns the x steps taken.
    std::vector<LONG> holdMoves(int code, int n) {
        std::vector<LONG> steps;
        for (int i = 0; i < n; ++i) {
            LONG before = w().cursor.x;
            handleDesktopKey(code);
            steps.push_back(w().cursor.x - before);
        }
        return steps;
    }
};

}  // namespace

TEST_F(PointerTest, MetricsAtStartAndOnDisplayChange) {
    w().metrics[SM_CXFULLSCREEN] = 1024;
    w().metrics[SM_CYFULLSCREEN] = 749;  // odd: 19 is added
    setScreenMetricsAtStart();
    EXPECT_EQ(pointerBounds.left, 0);
    EXPECT_EQ(pointerBounds.top, 0);
    EXPECT_EQ(pointerBounds.right, 1023);
    EXPECT_EQ(pointerBounds.bottom, 767);
    EXPECT_EQ(pointerStepMedium, 6);
    EXPECT_EQ(pointerStepFast, 12);

    w().metrics[SM_CYFULLSCREEN] = 742;
    setScreenMetricsAtStart();
    EXPECT_EQ(pointerBounds.bottom, 741);

    // Through the window procedure, as the system announces a new resolution.
    w().addCaptureDevice("USB 2800 Video");
    w().after(100, "display change", [] { sim::world().changeDisplay(800, 600); });
    runAgent(200);
    EXPECT_EQ(pointerBounds.right, 799);
    EXPECT_EQ(pointerBounds.bottom, 599);
    EXPECT_EQ(pointerStepMedium, 5);
    EXPECT_EQ(pointerStepFast, 10);
}

TEST_F(PointerTest, HeldMoveAcceleratesAndRestartsAtTheEdge) {
    w().metrics[SM_CXFULLSCREEN] = 1024;
    w().metrics[SM_CYFULLSCREEN] = 742;
    setScreenMetricsAtStart();
    w().cursor = {100, 300};
    EXPECT_EQ(holdMoves(6, 12), (std::vector<LONG>{1, 1, 1, 1, 6, 6, 6, 6, 6, 12, 12, 12}));

    // Near the right edge a large step is refused and the next starts at 1 pixel;
    // the pointer creeps up to right - 1 and never onto the bound.
    w().cursor = {1010, 300};
    pointerRepeatCount = 9;
    std::vector<LONG> steps = holdMoves(6, 20);
    EXPECT_EQ(steps[0], 12);  // 1022
    EXPECT_EQ(steps[1], 0);   // 1034 refused
    EXPECT_EQ(steps[2], 0);   // 1023 is the bound itself: refused
    EXPECT_EQ(w().cursor.x, 1022);
    EXPECT_EQ(pointerRepeatCount, 0);

    // Diagonals move both ways; the top-left corner is never reached.
    w().cursor = {3, 3};
    pointerRepeatCount = 0;
    handleDesktopKey(1);
    handleDesktopKey(1);
    handleDesktopKey(1);
    EXPECT_EQ(w().cursor.x, 1);
    EXPECT_EQ(w().cursor.y, 1);
    std::vector<sim::Call> moves = callsWith("SetCursorPos");
    for (const sim::Call& c : moves) EXPECT_EQ(c.args.find("x=0"), std::string::npos) << c.args;
}

TEST_F(PointerTest, ClicksAndDragFollowTheButtons) {
    setScreenMetricsAtStart();
    w().cursor = {200, 150};
    w().messageExtraInfo = 0x77;
    handleDesktopKey(0);
    handleDesktopKey(10);
    ASSERT_EQ(w().mouseEvents.size(), 4u);
    const DWORD expected[] = {MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP, MOUSEEVENTF_RIGHTDOWN, MOUSEEVENTF_RIGHTUP};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(w().mouseEvents[i].flags, expected[i]);
        EXPECT_EQ(w().mouseEvents[i].dx, 200u);
        EXPECT_EQ(w().mouseEvents[i].dy, 150u);
        EXPECT_EQ(w().mouseEvents[i].extraInfo, 0x77u);
    }
    EXPECT_EQ(callsWith("GetMessageExtraInfo").size(), 4u) << "asked afresh for every event";
    EXPECT_EQ(w().cursor.x, 200) << "clicks do not move the pointer";

    // Two drag presses: one down, one up; with swapped buttons they are right-button events.
    w().mouseEvents.clear();
    handleDesktopKey(5);
    EXPECT_EQ(dragHeld, 1);
    handleDesktopKey(5);
    EXPECT_EQ(dragHeld, 0);
    w().metrics[SM_SWAPBUTTON] = 1;
    handleDesktopKey(5);
    handleDesktopKey(5);
    ASSERT_EQ(w().mouseEvents.size(), 4u);
    EXPECT_EQ(w().mouseEvents[0].flags, static_cast<DWORD>(MOUSEEVENTF_LEFTDOWN));
    EXPECT_EQ(w().mouseEvents[1].flags, static_cast<DWORD>(MOUSEEVENTF_LEFTUP));
    EXPECT_EQ(w().mouseEvents[2].flags, static_cast<DWORD>(MOUSEEVENTF_RIGHTDOWN));
    EXPECT_EQ(w().mouseEvents[3].flags, static_cast<DWORD>(MOUSEEVENTF_RIGHTUP));

    // Other codes neither move nor click.
    w().mouseEvents.clear();
    w().calls.clear();
    for (int code = 11; code < 32; ++code) handleDesktopKey(code);
    EXPECT_TRUE(w().mouseEvents.empty());
    EXPECT_TRUE(callsWith("SetCursorPos").empty());
}
