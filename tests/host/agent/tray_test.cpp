// The notification icon, its menu, and the ways the icon's clicks end the agent.
#include "scenario.h"
#include "tvapps.h"

#include "agent/tray.h"
#include "resource.h"

using namespace scenario;

namespace {

void clickIcon(uint32_t at, LPARAM event) {
    sim::world().after(at, "icon event", [event] { PostMessageA(mainWindow, TRAY_NOTIFY_MESSAGE, TRAY_ICON_ID, event); });
}

std::vector<std::pair<UINT_PTR, UINT>> items(const sim::ShownMenu& m) {
    std::vector<std::pair<UINT_PTR, UINT>> out;
    for (const sim::MenuItem& i : m.items) out.push_back({i.id, i.flags});
    return out;
}

using Items = std::vector<std::pair<UINT_PTR, UINT>>;

}  // namespace

TEST_F(AgentTest, IconRecordAndItsTip) {
    w().addCaptureDevice("USB 2800 Video");
    runAgent(200);
    auto adds = callsWith("Shell_NotifyIconA", "NIM_ADD");
    ASSERT_EQ(adds.size(), 1u);
    EXPECT_NE(adds[0].args.find("size=88 id=10 flags=7 msg=1001"), std::string::npos) << adds[0].args;
    EXPECT_NE(adds[0].args.find("tip=" AGENT_NAME), std::string::npos);

    // A tip longer than the record holds is cut to 63 characters.
    std::string longTip(100, 't');
    addTrayIcon(mainWindow, 11, nullptr, longTip.c_str());
    EXPECT_EQ(trayIconData.szTip, std::string(63, 't'));
    addTrayIcon(mainWindow, 12, nullptr, nullptr);
    EXPECT_STREQ(trayIconData.szTip, "");
}

TEST_F(AgentTest, EitherButtonOpensTheSameMenuOthersDoNothing) {
    w().addCaptureDevice("USB 2800 Video");
    clickIcon(100, WM_LBUTTONUP);
    clickIcon(200, WM_LBUTTONDBLCLK);
    clickIcon(300, WM_RBUTTONUP);
    clickIcon(400, WM_LBUTTONDOWN);
    clickIcon(2000, WM_RBUTTONDOWN);
    clickIcon(4000, WM_MOUSEMOVE);
    w().cursor = {900, 740};
    runAgent(5000);
    ASSERT_EQ(w().shownMenus.size(), 2u);
    const Items plain = {{0, MF_SEPARATOR}, {IDM_ABOUT, MF_STRING}, {0, MF_SEPARATOR}, {IDM_EXIT, MF_STRING}};
    for (const sim::ShownMenu& m : w().shownMenus) {
        EXPECT_EQ(items(m), plain) << "without RoviverUVA the menu begins with a separator";
        EXPECT_EQ(m.owner, mainWindow);
        EXPECT_EQ(m.x, 900);
        EXPECT_EQ(m.y, 740);
        EXPECT_EQ(m.flags, 0u);
    }
    EXPECT_EQ(w().shownMenus[0].time, 400u);
    EXPECT_EQ(w().shownMenus[1].time, 2000u);
    EXPECT_EQ(w().liveMenus(), 1) << "the previous menu is destroyed when a new one is built";
    // The main window comes to the foreground before each menu.
    EXPECT_EQ(callsWith("SetForegroundWindow").size(), 2u);
    // Moving the pointer over the icon refreshes it with the kept record.
    auto modify = callsWith("Shell_NotifyIconA", "NIM_MODIFY");
    ASSERT_EQ(modify.size(), 1u);
    EXPECT_NE(modify[0].args.find("size=88 id=10 flags=7 msg=1001"), std::string::npos);
}

TEST_F(AgentTest, RoviverItemFollowsInstallationAndItsWindow) {
    w().addCaptureDevice("USB 2800 Video");
    tvapps::install(APP_ROVIVER);
    clickIcon(100, WM_RBUTTONDOWN);
    w().after(1500, "RoviverUVA starts", [] { tvapps::run(APP_ROVIVER); });
    clickIcon(2000, WM_RBUTTONDOWN);
    runAgent(4000);
    ASSERT_EQ(w().shownMenus.size(), 2u);
    EXPECT_EQ(items(w().shownMenus[0])[0], (std::pair<UINT_PTR, UINT>{IDM_ROVIVER, MF_STRING}));
    EXPECT_EQ(w().shownMenus[0].items[0].text, "RoviverUVA");
    EXPECT_EQ(items(w().shownMenus[1])[0], (std::pair<UINT_PTR, UINT>{IDM_ROVIVER, MF_CHECKED}));
    EXPECT_EQ(items(w().shownMenus[1]).size(), 5u);
}

TEST_F(AgentTest, ExitFromTheMenuRemovesTheIconAndClosesTheChannel) {
    w().addCaptureDevice("USB 2800 Video");
    w().menuChoices = {IDM_EXIT};
    clickIcon(100, WM_LBUTTONDOWN);
    Outcome run = runAgent(5000);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(w().tray.empty());
    EXPECT_EQ(w().comInitDepth, 0);
    EXPECT_EQ(w().liveComObjects(), 0u);
    EXPECT_EQ(w().now, 100u + w().menuDelay);
}

TEST_F(AgentTest, ClickWithoutDeviceWarnsAndEndsTheAgent) {
    clickIcon(4000, WM_MOUSEMOVE);
    clickIcon(5000, WM_RBUTTONDOWN);
    Outcome run = runAgent(20000);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0);
    ASSERT_EQ(w().messageBoxes.size(), 1u);
    const sim::MessageBoxRecord& box = w().messageBoxes[0];
    EXPECT_EQ(box.text, "Sorry, we can't find any Revovezi ZUD2.0 Device.\n\nPlease check your hardware or drivers. ");
    EXPECT_EQ(box.caption, AGENT_NAME);
    EXPECT_EQ(box.style, 0x10030u);
    EXPECT_EQ(box.owner, nullptr);
    EXPECT_TRUE(w().shownMenus.empty());
    EXPECT_TRUE(w().tray.empty());
    // The device retry kept running meanwhile: 3000 ms ticks until the box closed.
    EXPECT_GE(callsWith("CoInitialize").size(), 2u);
}

TEST_F(AgentTest, IconComesBackWhenTheTaskbarIsCreatedAgain) {
    w().addCaptureDevice("USB 2800 Video");
    w().after(1000, "the shell restarts", [] {
        sim::world().tray.clear();
        SendMessageA(mainWindow, RegisterWindowMessageA("TaskbarCreated"), 0, 0);
    });
    runAgent(2000);
    ASSERT_EQ(w().tray.size(), 1u);
    EXPECT_EQ(w().tray[0].id, TRAY_ICON_ID);
    EXPECT_EQ(w().tray[0].tip, AGENT_NAME);
    EXPECT_EQ(callsWith("Shell_NotifyIconA", "NIM_ADD").size(), 2u);
}
