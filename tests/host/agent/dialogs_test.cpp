// The About, Setting and Shut Down dialogs, the system shutdown, the
// application watcher and the device retry.
#include "scenario.h"
#include "tvapps.h"

#include "agent/dialogs.h"
#include "agent/poll.h"
#include "apps/adapters.h"
#include "resource.h"

using namespace scenario;

namespace {

void command(uint32_t at, WORD id) {
    sim::world().after(at, "command", [id] { PostMessageA(mainWindow, WM_COMMAND, id, 0); });
}

void press(sim::CaptureDeviceEntry& box, uint32_t at, uint8_t code) {
    auto b = box.box;
    sim::world().after(at, "remote key", [b, code] { b->press(code); });
}

}  // namespace

TEST_F(AgentTest, DialogsArePlacedTopmostByScreenWidth) {
    struct Case {
        int width, x, y;
    };
    const Case cases[] = {{640, 160, 200}, {800, 280, 250}, {1024, 350, 300}, {1152, 420, 300},
                          {1280, 420, 300}, {1600, 580, 340}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.width);
        SetUp();
        w().metrics[SM_CXFULLSCREEN] = c.width;
        command(100, IDM_ABOUT);
        runAgent(500);
        ASSERT_EQ(w().dialogsShown.size(), 1u);
        const sim::DialogRecord& d = w().dialogsShown[0];
        EXPECT_EQ(d.title, "Ruvuzovi Razuzu Davidod - About");
        EXPECT_EQ(d.x, c.x);
        EXPECT_EQ(d.y, c.y);
        EXPECT_TRUE(d.topmost);
        auto pos = callsWith("SetWindowPos");
        ASSERT_EQ(pos.size(), 1u);
        EXPECT_NE(pos[0].args.find("after=-1"), std::string::npos) << "HWND_TOPMOST";
        EXPECT_NE(pos[0].args.find("flags=0x1"), std::string::npos) << "SWP_NOSIZE";
    }
    // Any other width leaves the dialog where the system put it.
    SetUp();
    w().metrics[SM_CXFULLSCREEN] = 1366;
    command(100, IDM_SETTING);
    runAgent(500);
    ASSERT_EQ(w().dialogsShown.size(), 1u);
    EXPECT_TRUE(callsWith("SetWindowPos").empty());
    EXPECT_FALSE(w().dialogsShown[0].topmost);
}

TEST_F(AgentTest, SettingChoosesAndStoresTheDefault) {
    tvapps::install(APP_WINDVR);
    tvapps::install(APP_ROVIVER);
    auto comboEntries = [] {
        std::vector<std::string> out;
        HWND combo = GetDlgItem(sim::world().innermostDialog(), IDC_APP_COMBO);
        LRESULT n = SendMessageA(combo, CB_GETCOUNT, 0, 0);
        for (LRESULT i = 0; i < n; ++i) {
            char text[64] = {};
            SendMessageA(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
            out.push_back(text);
        }
        return out;
    };
    std::vector<std::string> seen;
    LRESULT preselected = -2;
    command(100, IDM_SETTING);
    w().after(200, "look at the list", [&] {
        seen = comboEntries();
        preselected = SendDlgItemMessageA(sim::world().innermostDialog(), IDC_APP_COMBO, CB_GETCURSEL, 0, 0);
        sim::world().pickComboEntry(IDC_APP_COMBO, "WinDVR");
        sim::world().clickDialogButton(IDOK);
    });
    runAgent(1000);
    // RoviverUVA shares honestechTV's registry entry, so both count as installed.
    EXPECT_EQ(seen, (std::vector<std::string>{"WinDVR", "HonesTVR", "RoviverUVA"}));
    EXPECT_EQ(preselected, 2) << "RoviverUVA is the default on a first start";
    EXPECT_EQ(defaultTvApp, 1);
    DWORD stored = 0;
    ASSERT_TRUE(w().registry.dword(SETTINGS, SETTING_DEFAULT_TV_APP, &stored));
    EXPECT_EQ(stored, 1u);
    EXPECT_STREQ(settingChoiceText, "WinDVR");
    EXPECT_EQ(settingSelection, 0);

    // The same choice again writes nothing; Cancel after another pick changes nothing.
    w().calls.clear();
    w().after(100, "same choice", [] {
        PostMessageA(mainWindow, WM_COMMAND, IDM_SETTING, 0);
    });
    w().after(200, "OK", [] { sim::world().clickDialogButton(IDOK); });
    w().after(300, "again", [] { PostMessageA(mainWindow, WM_COMMAND, IDM_SETTING, 0); });
    w().after(400, "pick and cancel", [] {
        sim::world().pickComboEntry(IDC_APP_COMBO, "RoviverUVA");
        sim::world().pressDialogEscape();
    });
    w().deadline = w().now + 1000;
    try {
        MSG msg;
        while (GetMessageA(&msg, nullptr, 0, 0)) DispatchMessageA(&msg);
    } catch (const sim::ScenarioEnd&) {
    }
    EXPECT_TRUE(callsWith("RegSetValueExA").empty());
    EXPECT_EQ(defaultTvApp, 1);

    // With no application installed the list is empty and OK changes nothing.
    SetUp();
    command(100, IDM_SETTING);
    w().after(200, "OK on an empty list", [] { sim::world().clickDialogButton(IDOK); });
    runAgent(1000);
    EXPECT_EQ(defaultTvApp, 3);
    EXPECT_TRUE(callsWith("RegSetValueExA", "DefaultTVAPP").size() == 1u) << "only the first start's write";
    ASSERT_EQ(w().dialogsShown.size(), 1u);
    EXPECT_FALSE(w().dialogsShown[0].open);
}

TEST_F(AgentTest, SettingPreselectsTheRememberedEntryForAnUnknownDefault) {
    tvapps::install(APP_POWERVCR);
    tvapps::install(APP_HONESTECH);
    w().registry.setDword(SETTINGS, SETTING_DEFAULT_TV_APP, 7);
    LRESULT first = -2, second = -2;
    command(100, IDM_SETTING);
    w().after(200, "look, pick the second, OK", [&] {
        first = SendDlgItemMessageA(sim::world().innermostDialog(), IDC_APP_COMBO, CB_GETCURSEL, 0, 0);
        sim::world().pickComboEntry(IDC_APP_COMBO, 1);
        sim::world().pressDialogEscape();
    });
    command(300, IDM_SETTING);
    w().after(400, "look again", [&] {
        second = SendDlgItemMessageA(sim::world().innermostDialog(), IDC_APP_COMBO, CB_GETCURSEL, 0, 0);
        sim::world().clickDialogButton(IDOK);
    });
    runAgent(1000);
    EXPECT_EQ(first, 0) << "no entry matches 7: the first";
    EXPECT_EQ(second, 0) << "Cancel does not remember the pick";
    EXPECT_EQ(defaultTvApp, 2) << "OK on PowerVCR";
}

TEST_F(AgentTest, ShutDownPromptIsAnsweredByTheRemote) {
    struct Case {
        bool win95;
        uint8_t answer;
        bool held;          // privilege held (NT)
        BOOL exitAnswer;
        UINT expectFlags;   // 0: no request
        bool expectMessage;
    };
    const Case cases[] = {
        {false, 18, true, TRUE, EWX_POWEROFF | EWX_FORCE, false},
        {true, 18, true, TRUE, EWX_SHUTDOWN, false},
        {false, 5, true, TRUE, 0, false},
        {false, 18, false, TRUE, 0, false},
        {false, 18, true, FALSE, EWX_POWEROFF | EWX_FORCE, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "win95=" << c.win95 << " key=" << int(c.answer) << " held=" << c.held
                                        << " answer=" << c.exitAnswer);
        SetUp();
        w().win95Family = c.win95;
        if (!c.held) w().privileges.clear();
        if (!c.exitAnswer) w().exitWindowsAnswers.push_back({FALSE, ERROR_ACCESS_DENIED});
        auto& box = w().addCaptureDevice("USB 2800 Video");
        press(box, 1000, 21);
        bool openSeen = false;
        w().after(1500, "look", [&] { openSeen = shutdownPromptOpen && sim::world().innermostDialog() != nullptr; });
        press(box, 2000, c.answer);
        runAgent(6000);
        EXPECT_TRUE(openSeen);
        EXPECT_FALSE(shutdownPromptOpen);
        ASSERT_EQ(w().dialogsShown.size(), 1u);
        EXPECT_EQ(w().dialogsShown[0].templateId, IDD_SHUTDOWN);
        EXPECT_EQ(w().dialogsShown[0].owner, mainWindow);
        EXPECT_FALSE(w().dialogsShown[0].open);
        EXPECT_EQ(w().dialogsShown[0].result, c.answer == 18 ? VK_RETURN : VK_ESCAPE);
        if (c.expectFlags) {
            ASSERT_EQ(w().shutdownRequests.size(), 1u);
            EXPECT_EQ(w().shutdownRequests[0].flags, c.expectFlags);
            EXPECT_EQ(w().shutdownRequests[0].reason, 0u);
            if (!c.win95) {
                EXPECT_TRUE(w().shutdownRequests[0].privilegeEnabled);
            }
        } else {
            EXPECT_TRUE(w().shutdownRequests.empty());
        }
        if (c.expectMessage) {
            ASSERT_EQ(w().messageBoxes.size(), 1u);
            EXPECT_EQ(w().messageBoxes[0].text, "Can't run ExitWindowsEx.");
            EXPECT_EQ(w().messageBoxes[0].style, static_cast<UINT>(MB_OK));
        } else {
            EXPECT_TRUE(w().messageBoxes.empty());
        }
        EXPECT_EQ(w().openTokens(), 0) << "the token is closed";
        EXPECT_TRUE(keyPollTimer.armed) << "polling goes on";
    }
}

TEST_F(AgentTest, ShutDownPromptButtonsAndAHeldKey) {
    // OK confirms like Power; Cancel cancels like any other key.
    for (int button : {IDOK, IDCANCEL}) {
        SetUp();
        auto& box = w().addCaptureDevice("USB 2800 Video");
        press(box, 1000, 21);
        w().after(1500, "button", [button] { sim::world().clickDialogButton(button); });
        runAgent(3000);
        EXPECT_EQ(w().shutdownRequests.size(), button == IDOK ? 1u : 0u);
        EXPECT_FALSE(shutdownPromptOpen);
    }
    // A held key 21: the first repeat reaches the open prompt and cancels it;
    // the prompt is never open twice at the same time.
    SetUp();
    auto& box = w().addCaptureDevice("USB 2800 Video");
    auto b = box.box;
    w().after(1000, "hold 21", [b] { b->hold(21, 1000); });
    runAgent(4000);
    ASSERT_GE(w().dialogsShown.size(), 2u);
    EXPECT_EQ(w().dialogsShown[0].result, VK_ESCAPE);
    for (size_t i = 1; i < w().dialogsShown.size(); ++i)
        EXPECT_GE(w().dialogsShown[i].opened, w().dialogsShown[i - 1].closed);
    EXPECT_TRUE(w().shutdownRequests.empty());
}

TEST_F(AgentTest, WatcherFollowsApplicationsTheAgentStarted) {
    tvapps::install(APP_POWERVCR);
    w().registry.setDword(SETTINGS, SETTING_DEFAULT_TV_APP, 2);
    auto& box = w().addCaptureDevice("USB 2800 Video");
    press(box, 1000, 18);  // Power: PowerVCR starts
    uint32_t closedAt = 3000;
    w().after(closedAt, "the user closes PowerVCR", [] {
        sim::world().closeProgramWindow(tvapps::topWindow(APP_POWERVCR));
    });
    LONG activeBefore = -1, activeAfter = -1;
    w().after(2900, "look", [&] { activeBefore = powerVcrApp.active; });
    w().after(closedAt + 500, "look", [&] { activeAfter = powerVcrApp.active; });
    press(box, 4000, 6);  // goes to the desktop pointer again
    runAgent(5000);
    EXPECT_EQ(activeBefore, 1);
    EXPECT_EQ(activeAfter, 0) << "cleared within 500 ms";
    EXPECT_EQ(launchedByAgent[TV_POWERVCR], 0);
    EXPECT_FALSE(appWatchTimer.armed);
    ASSERT_FALSE(w().callsTo("SetCursorPos").empty()) << "the next key moved the pointer";
    EXPECT_GE(w().callsTo("SetCursorPos").back().time, 4000u);

    // A launch that started nothing: one tick, a 2000 ms wait, then the watcher stops.
    SetUp();
    w().registry.setDword(SETTINGS, SETTING_DEFAULT_TV_APP, 1);  // WinDVR, not installed
    auto& box2 = w().addCaptureDevice("USB 2800 Video");
    press(box2, 1000, 11);
    runAgent(6000);
    auto sleeps = callsWith("Sleep", "2000");
    ASSERT_EQ(sleeps.size(), 1u);
    EXPECT_GE(sleeps[0].time, 1500u);
    EXPECT_LE(sleeps[0].time, 1600u);
    EXPECT_FALSE(appWatchTimer.armed);
    EXPECT_TRUE(w().messageBoxes.empty()) << "key 11 does not check the installation";

    // An application found running (not started by the agent) is not watched.
    SetUp();
    tvapps::install(APP_HONESTECH);
    auto& box3 = w().addCaptureDevice("USB 2800 Video");
    w().after(500, "honestechTV runs", [] { tvapps::run(APP_HONESTECH); });
    press(box3, 1000, 13);
    w().after(2000, "closed by the user", [] {
        sim::world().closeProgramWindow(tvapps::topWindow(APP_HONESTECH));
    });
    runAgent(4000);
    EXPECT_EQ(honestechApp.active, 1) << "routing follows the flag, not the window";
    EXPECT_FALSE(appWatchTimer.armed);
}

TEST_F(AgentTest, DeviceRetryFindsTheBoxAndPollingResumes) {
    w().registry.setString("HKCU\\Control Panel\\International", "iCountry", "81");
    w().after(5000, "the box is plugged in", [] { sim::world().addCaptureDevice("USB 2800 Video"); });
    bool modeAtFive = true;
    w().after(5900, "look", [&] { modeAtFive = country81Mode; });
    runAgent(7000);
    EXPECT_FALSE(modeAtFive) << "decided only when polling starts";
    EXPECT_TRUE(country81Mode);
    EXPECT_TRUE(deviceFound);
    EXPECT_TRUE(keyPollTimer.armed);
    EXPECT_FALSE(deviceRetryTimer.armed);
    auto polling = callsWith("SetTimer", "id=1 ms=70");
    ASSERT_EQ(polling.size(), 1u);
    EXPECT_EQ(polling[0].time, 6000u) << "the second retry tick";
    // Each failed retry closed the channel again: COM is balanced but for the open channel.
    EXPECT_EQ(w().comInitDepth, 1);
}

TEST_F(AgentTest, UnpluggedBoxStopsPollingAndRetriesUntilItIsBack) {
    auto& entry = w().addCaptureDevice("USB 2800 Video");
    auto box = entry.box;
    w().after(1000, "unplugged", [box] {
        box->unplug();
        sim::world().captureDevices.clear();
    });
    LONG foundWhileLost = 0;
    w().after(2000, "look", [&] { foundWhileLost = deviceFound; });
    w().after(2100, "menu while lost", [] { PostMessageA(mainWindow, TRAY_NOTIFY_MESSAGE, TRAY_ICON_ID, WM_RBUTTONDOWN); });
    w().after(11000, "plugged again", [] { sim::world().addCaptureDevice("USB 2800 Video"); });
    runAgent(14000);
    auto kills = callsWith("KillTimer", "id=1");
    ASSERT_EQ(kills.size(), 1u);
    EXPECT_GE(kills[0].time, 1000u);
    EXPECT_LT(kills[0].time, 1070u) << "the first failing read stops polling";
    auto retryArmed = callsWith("SetTimer", "id=3");
    ASSERT_EQ(retryArmed.size(), 1u);
    EXPECT_EQ(retryArmed[0].time, kills[0].time);
    EXPECT_EQ(foundWhileLost, 1) << "deviceFound stays set until a retry fails";
    EXPECT_EQ(w().shownMenus.size(), 1u) << "the menu still opens meanwhile";
    auto polls = callsWith("SetTimer", "id=1 ms=70");
    ASSERT_EQ(polls.size(), 2u) << "at start, and when the box is back";
    EXPECT_EQ(polls[1].time, kills[0].time + 4 * 3000) << "retries every 3000 ms; the fourth finds the box";
    EXPECT_TRUE(keyPollTimer.armed);
    EXPECT_EQ(w().comInitDepth, 1);
}

TEST_F(AgentTest, SleepClosesTheChannelAndResumeReopensItByTheRetry) {
    auto& entry = w().addCaptureDevice("USB 2800 Video");
    auto box = entry.box;
    w().after(1000, "suspend", [] { SendMessageA(mainWindow, WM_POWERBROADCAST, PBT_APMSUSPEND, 0); });
    int depthAsleep = -1;
    bool pollingAsleep = true;
    w().after(1500, "look while asleep", [&] {
        depthAsleep = sim::world().comInitDepth;
        pollingAsleep = keyPollTimer.armed;
    });
    // The driver answers nothing sensible right after the resume: the retry
    // keeps trying until the box answers again.
    w().after(2000, "resume", [box] {
        box->unplug();
        SendMessageA(mainWindow, WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC, 0);
    });
    w().after(5500, "the driver is back", [box] { box->plug(); });
    w().after(9000, "a key after the resume", [box] { box->press(6); });
    runAgent(10000);
    EXPECT_EQ(depthAsleep, 0) << "the channel is closed while the machine sleeps";
    EXPECT_FALSE(pollingAsleep);
    EXPECT_TRUE(keyPollTimer.armed);
    EXPECT_FALSE(deviceRetryTimer.armed);
    // A retry that opened a box still answering "gone" lost it again at the
    // first read; the retry after the driver came back made it stick.
    auto polls = callsWith("SetTimer", "id=1 ms=70");
    ASSERT_GE(polls.size(), 2u);
    EXPECT_GT(polls.back().time, 5500u);
    EXPECT_LE(polls.back().time, 5500u + 3000u + 100u) << "within one retry period of the driver's return";
    EXPECT_FALSE(callsWith("SetCursorPos").empty()) << "the remote works again";
    EXPECT_TRUE(callsWith("Sleep").size() <= 1u) << "only the receiver priming waits";
}
