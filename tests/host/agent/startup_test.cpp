// Start-up of tunerpad: settings, single instance, the other vendor's
// program, timers, accelerators and the ways the agent ends.
#include "scenario.h"

#include "agent/tray.h"
#include "resource.h"

using namespace scenario;

namespace {

DWORD settingDword(const char* name) {
    const sim::RegValue* v = sim::world().registry.value(SETTINGS, name);
    EXPECT_NE(v, nullptr) << name;
    if (!v) return 0xDEAD;
    EXPECT_EQ(v->type, static_cast<DWORD>(REG_DWORD)) << name;
    EXPECT_EQ(v->data.size(), 4u) << name;
    DWORD value = 0;
    std::memcpy(&value, v->data.data(), std::min<size_t>(4, v->data.size()));
    return value;
}

}  // namespace

TEST_F(AgentTest, FirstStartCreatesSettingsAndRuns) {
    Outcome run = runAgent(1000);
    EXPECT_FALSE(run.finished) << "the agent keeps running in its message loop";
    EXPECT_EQ(settingDword(SETTING_DEFAULT_TV_APP), 3u);
    EXPECT_EQ(settingDword(SETTING_ALWAYS_REMOTE_OFF), 0u);
    EXPECT_EQ(callsWith("RegCreateKeyExA").size(), 1u);
    EXPECT_GE(callsWith("RegFlushKey").size(), 1u);
    EXPECT_EQ(defaultTvApp, 3);
    EXPECT_FALSE(remoteOff);
    EXPECT_EQ(w().registry.openHandles(), 0u) << "every key opened is closed again";

    // The hidden main window and its icon.
    HWND main = FindWindowA(AGENT_NAME, AGENT_NAME);
    ASSERT_NE(main, nullptr);
    EXPECT_EQ(main, mainWindow);
    EXPECT_FALSE(IsWindowVisible(main));
    ASSERT_EQ(w().tray.size(), 1u);
    EXPECT_EQ(w().tray[0].id, TRAY_ICON_ID);
    EXPECT_EQ(w().tray[0].callbackMessage, TRAY_NOTIFY_MESSAGE);
    EXPECT_EQ(w().tray[0].tip, AGENT_NAME);
    EXPECT_NE(w().tray[0].icon, nullptr);
}

TEST_F(AgentTest, MissingOrUnreadableValuesAreWrittenBack) {
    // DefaultTVAPP missing: written with the in-memory default; the other kept.
    w().registry.setDword(SETTINGS, SETTING_ALWAYS_REMOTE_OFF, 2);
    Outcome run = runAgent(500);
    EXPECT_FALSE(run.finished) << "only AlwaysRemoteOff = 1 switches the agent off";
    EXPECT_EQ(settingDword(SETTING_DEFAULT_TV_APP), 3u);
    EXPECT_EQ(settingDword(SETTING_ALWAYS_REMOTE_OFF), 2u);
    EXPECT_TRUE(callsWith("RegCreateKeyExA").empty());

    // AlwaysRemoteOff missing, DefaultTVAPP outside the known range kept as is.
    SetUp();
    w().registry.setDword(SETTINGS, SETTING_DEFAULT_TV_APP, 7);
    runAgent(500);
    EXPECT_EQ(defaultTvApp, 7);
    EXPECT_EQ(settingDword(SETTING_DEFAULT_TV_APP), 7u);
    EXPECT_EQ(settingDword(SETTING_ALWAYS_REMOTE_OFF), 0u);

    // Values of another type or size are not the agent's numbers: replaced.
    SetUp();
    w().registry.setString(SETTINGS, SETTING_DEFAULT_TV_APP, "2");
    w().registry.setRaw(SETTINGS, SETTING_ALWAYS_REMOTE_OFF, REG_BINARY, {1, 0, 0, 0, 0, 0, 0, 0});
    Outcome hostile = runAgent(500);
    EXPECT_FALSE(hostile.finished);
    EXPECT_EQ(defaultTvApp, 3);
    EXPECT_EQ(settingDword(SETTING_DEFAULT_TV_APP), 3u);
    EXPECT_EQ(settingDword(SETTING_ALWAYS_REMOTE_OFF), 0u);
    EXPECT_EQ(w().registry.openHandles(), 0u);
}

TEST_F(AgentTest, AlwaysRemoteOffEndsTheAgentWithoutTraces) {
    w().registry.setDword(SETTINGS, SETTING_DEFAULT_TV_APP, 2);
    w().registry.setDword(SETTINGS, SETTING_ALWAYS_REMOTE_OFF, 1);
    Outcome run = runAgent(1000);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(w().tray.empty()) << "no icon is left behind";
    EXPECT_TRUE(callsWith("SetTimer").empty()) << "no timer is started";
    EXPECT_TRUE(callsWith("LoadAcceleratorsA").empty()) << "no message loop runs";
    EXPECT_EQ(w().now, 0u) << "nothing waited";
}

TEST_F(AgentTest, SecondStartEndsAtOnceAfterClosingTheOtherVendor) {
    std::string shortcut = "C:\\WINDOWS\\Start Menu\\Programs\\StartUp\\InterVideo WinCinema Manager.lnk";
    w().files[w().fileKey(shortcut)] = "shortcut";
    HWND below = w().addForeignWindow("Afx:400000:0", "InterVideo WinCinema Manager (second)");
    HWND cinema = w().addForeignWindow("Afx:400000:0", "InterVideo WinCinema Manager");
    w().addForeignWindow("Other", "interVideo WinCinema Manager lower case");
    HWND running = w().addForeignWindow(AGENT_NAME, "any title");

    Outcome run = runAgent(1000);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(w().files.count(w().fileKey(shortcut)), 0u) << "the start-up shortcut is deleted";
    EXPECT_EQ(callsWith("DeleteFileA", "InterVideo WinCinema Manager.lnk").size(), 1u);

    // Only the topmost title match gets the three messages, in order.
    const auto& log = w().window(cinema)->log;
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0].message, static_cast<UINT>(WM_COMMAND));
    EXPECT_EQ(log[0].wParam, 0xE141u);
    EXPECT_EQ(log[0].lParam, 0);
    EXPECT_EQ(log[1].message, static_cast<UINT>(WM_CLOSE));
    EXPECT_EQ(log[2].message, static_cast<UINT>(WM_DESTROY));
    for (const auto& m : log) EXPECT_FALSE(m.sent) << "posted, not sent";
    EXPECT_TRUE(w().window(below)->log.empty());

    // The running agent is left alone and nothing of the second one exists.
    EXPECT_TRUE(w().window(running)->log.empty());
    EXPECT_TRUE(callsWith("RegisterClassExA").empty());
    EXPECT_TRUE(callsWith("CreateWindowExA").empty());
    EXPECT_TRUE(w().tray.empty());
}

TEST_F(AgentTest, TimersBindInOrderAndExactlyOneIsArmed) {
    w().addCaptureDevice("USB 2800 Video");
    Outcome run = runAgent(1000);
    ASSERT_FALSE(run.finished);
    EXPECT_EQ(deviceRetryTimer.window, mainWindow);
    EXPECT_EQ(keyPollTimer.window, mainWindow);
    EXPECT_EQ(appWatchTimer.window, mainWindow);
    EXPECT_EQ(deviceRetryTimer.periodMs, 3000u);
    EXPECT_EQ(keyPollTimer.periodMs, 70u);
    EXPECT_EQ(appWatchTimer.periodMs, 500u);
    EXPECT_TRUE(keyPollTimer.armed);
    EXPECT_FALSE(appWatchTimer.armed);
    EXPECT_FALSE(deviceRetryTimer.armed);
    auto set = callsWith("SetTimer");
    ASSERT_EQ(set.size(), 1u);
    EXPECT_NE(set[0].args.find("id=1 ms=70"), std::string::npos);
    EXPECT_TRUE(callsWith("KillTimer").empty()) << "binding never touches the system timer";
    // Ordering of the start-up steps: settings before the window is hidden,
    // hidden before the timers, timers before the accelerators.
    EXPECT_LT(firstCall("RegOpenKeyExA"), firstCall("ShowWindow", "cmd=0"));
    EXPECT_LT(firstCall("ShowWindow", "cmd=0"), firstCall("UpdateWindow"));
    EXPECT_LT(firstCall("UpdateWindow"), firstCall("SetTimer"));
    EXPECT_LT(firstCall("SetTimer"), firstCall("LoadAcceleratorsA"));

    // Without a capture box the device retry is armed instead, and the agent runs.
    SetUp();
    Outcome absent = runAgent(1000);
    ASSERT_FALSE(absent.finished);
    EXPECT_FALSE(deviceFound);
    EXPECT_FALSE(keyPollTimer.armed);
    EXPECT_TRUE(deviceRetryTimer.armed);
    auto retry = callsWith("SetTimer");
    ASSERT_EQ(retry.size(), 1u);
    EXPECT_NE(retry[0].args.find("id=3 ms=3000"), std::string::npos);
    EXPECT_EQ(w().tray.size(), 1u) << "the icon shows all the same";
}

TEST_F(AgentTest, TimerRecordsArmOnceAndDisarmOnlyWhenArmed) {
    w().addCaptureDevice("USB 2800 Video");
    Outcome run = runAgent(100);
    ASSERT_FALSE(run.finished);
    w().calls.clear();

    // Arming an armed timer neither restarts it nor creates a second one.
    uint32_t dueBefore = w().timers[0].due;
    keyPollTimer.arm();
    EXPECT_TRUE(callsWith("SetTimer").empty());
    ASSERT_EQ(w().timers.size(), 1u);
    EXPECT_EQ(w().timers[0].due, dueBefore);

    // Disarming a disarmed timer makes no system call.
    appWatchTimer.disarm();
    EXPECT_TRUE(callsWith("KillTimer").empty());

    stopKeyPolling();
    stopKeyPolling();
    EXPECT_EQ(callsWith("KillTimer").size(), 1u);
    EXPECT_TRUE(w().timers.empty());

    // Polling again decides the country mode anew.
    w().registry.setString("HKCU\\Control Panel\\International", "iCountry", "81");
    EXPECT_FALSE(country81Mode);
    startKeyPolling();
    EXPECT_TRUE(country81Mode);
    EXPECT_EQ(w().timers.size(), 1u);
    EXPECT_EQ(w().timers[0].period, 70u);
    EXPECT_EQ(w().timers[0].due, w().now + 70);
}

TEST_F(AgentTest, ExitAndCloseEndTheAgentAndKillArmedTimers) {
    // Exit from the icon's menu.
    w().addCaptureDevice("USB 2800 Video");
    w().after(500, "Exit chosen", [] { PostMessageA(mainWindow, WM_COMMAND, IDM_EXIT, 0); });
    Outcome run = runAgent(5000);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(w().tray.empty());
    auto kills = callsWith("KillTimer");
    ASSERT_EQ(kills.size(), 1u) << "the armed key poll is killed at process end, the others left alone";
    EXPECT_NE(kills[0].args.find("id=1"), std::string::npos);
    EXPECT_EQ(w().now, 500u);

    // WM_CLOSE, as another program sends it, destroys the window and ends the agent.
    SetUp();
    w().after(300, "closed from outside", [] { SendMessageA(FindWindowA(nullptr, AGENT_NAME), WM_CLOSE, 0, 0); });
    Outcome closed = runAgent(5000);
    ASSERT_TRUE(closed.finished);
    EXPECT_EQ(closed.exitCode, 0);
    EXPECT_TRUE(w().tray.empty());
    EXPECT_EQ(callsWith("Shell_NotifyIconA", "NIM_DELETE size=88 id=10").size(), 1u);

    // Command 31 ends it the same way; an unknown command goes to the system.
    SetUp();
    w().after(100, "unknown command", [] { PostMessageA(mainWindow, WM_COMMAND, 1300, 0); });
    w().after(200, "quit command", [] { PostMessageA(mainWindow, WM_COMMAND, IDM_QUIT, 0); });
    Outcome quit = runAgent(5000);
    ASSERT_TRUE(quit.finished);
    EXPECT_EQ(callsWith("DefWindowProcA", "msg=273 w=1300").size(), 1u);
    EXPECT_TRUE(w().tray.empty());
}

TEST_F(AgentTest, AcceleratorsReachAboutAndSettingCommands) {
    const LPARAM altDown = 1 << 29;
    w().after(100, "Alt and /", [=] { PostMessageA(mainWindow, WM_SYSCHAR, '/', altDown); });
    w().after(150, "About closed", [] { sim::world().pressDialogEscape(); });
    w().after(200, "Alt and ?", [=] { PostMessageA(mainWindow, WM_SYSCHAR, '?', altDown); });
    w().after(250, "Setting closed", [] { sim::world().pressDialogEscape(); });
    w().after(300, "plain /", [] { PostMessageA(mainWindow, WM_CHAR, '/', 0); });
    w().after(400, "Alt and x", [=] { PostMessageA(mainWindow, WM_SYSCHAR, 'x', altDown); });
    runAgent(1000);
    auto commands = callsWith("SendMessageA", "msg=273");
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_NE(commands[0].args.find("w=" + std::to_string(MAKEWPARAM(IDM_ABOUT, 1))), std::string::npos);
    EXPECT_NE(commands[1].args.find("w=" + std::to_string(MAKEWPARAM(IDM_SETTING, 1))), std::string::npos);
    EXPECT_EQ(commands[0].time, 100u);
    EXPECT_EQ(commands[1].time, 200u);
    ASSERT_EQ(w().dialogsShown.size(), 2u);
    EXPECT_EQ(w().dialogsShown[0].templateId, IDD_ABOUT);
    EXPECT_EQ(w().dialogsShown[1].templateId, IDD_SETTING);
    EXPECT_EQ(w().dialogsShown[0].owner, mainWindow);
}

TEST_F(AgentTest, CountryCodeOnBothFamilies) {
    struct Case {
        const char* text;
        int expected;
    };
    const Case cases[] = {{"81", 81}, {"1", 1}, {"7a", 119}, {"123456", 12345}, {"", 0}};
    for (const Case& c : cases) {
        sim::resetWorld();
        sim::world().registry.setString("HKCU\\Control Panel\\International", "iCountry", c.text);
        EXPECT_EQ(readCountryCode(), c.expected) << c.text;
        EXPECT_EQ(sim::world().registry.openHandles(), 0u);
    }
    sim::resetWorld();
    EXPECT_EQ(readCountryCode(), 1) << "missing value";
    sim::world().registry.create("HKCU\\Control Panel\\International");
    EXPECT_EQ(readCountryCode(), 1) << "missing key";

    // The Windows 95 family reads win.ini and ignores the registry.
    sim::resetWorld();
    sim::world().win95Family = true;
    sim::world().registry.setString("HKCU\\Control Panel\\International", "iCountry", "44");
    EXPECT_EQ(readCountryCode(), 1) << "no win.ini entry";
    sim::world().files[sim::world().fileKey("C:\\WINDOWS\\win.ini")] = "[intl]\r\niCountry=81\r\n";
    EXPECT_EQ(readCountryCode(), 81);
    decideCountryMode();
    EXPECT_TRUE(country81Mode);
    sim::world().files[sim::world().fileKey("C:\\WINDOWS\\win.ini")] = "[intl]\r\niCountry=886\r\n";
    decideCountryMode();
    EXPECT_FALSE(country81Mode);
}
