// The application adapters: install paths, finding, starting, bringing
// forward and closing, the Power-key toggle and the application commands.
#include "scenario.h"
#include "tvapps.h"

#include "apps/adapters.h"
#include "apps/commands.h"
#include "resource.h"

using namespace scenario;

namespace {

class AppsTest : public AgentTest {
protected:
    // A process start after the world is set up: the records read the registry.
    void start() {
        restartAgentStatics();
        w().calls.clear();
    }
};

std::string pathOfLength(size_t n) {
    std::string p = "C:\\";
    p += std::string(n - p.size(), 'p');
    return p;
}

}  // namespace

TEST_F(AppsTest, InstallPathsFillTheRecordOnlyWhenTheyFit) {
    const char* key = "HKLM\\Software\\InterVideo\\WinDVR";
    struct Case {
        std::vector<BYTE> data;
        DWORD type;
        LONG found;
    };
    auto text = [](size_t chars, bool terminated) {
        std::string s = pathOfLength(chars);
        std::vector<BYTE> v(s.begin(), s.end());
        if (terminated) v.push_back(0);
        return v;
    };
    const Case cases[] = {
        {text(127, true), REG_SZ, 1},    // 128 bytes with the terminator
        {text(126, true), REG_SZ, 1},
        {text(128, true), REG_SZ, 0},    // 129 bytes
        {text(128, false), REG_SZ, 0},   // fills the buffer without a terminator
        {text(4095, true), REG_SZ, 0},
        {text(20, true), REG_BINARY, 1}, // the type is not looked at
        {{}, REG_SZ, 1},                 // empty data reads as an empty path
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.data.size());
        sim::resetWorld();
        w().registry.setRaw(key, "PATH", c.type, c.data);
        start();
        EXPECT_EQ(winDvrApp.found, c.found);
        if (c.found) {
            EXPECT_EQ(std::string(winDvrApp.installPath), std::string(c.data.begin(), std::find(c.data.begin(), c.data.end(), 0)));
        }
        EXPECT_STREQ(winDvrApp.titlePrefix, "InterVideo WinDVR");
        EXPECT_EQ(w().registry.openHandles(), 0u);
    }
    // Missing key or value: not installed, class and title still set.
    sim::resetWorld();
    start();
    EXPECT_EQ(honestechApp.found, 0);
    EXPECT_STREQ(honestechApp.windowClass, "honestechTV 2.0");
    EXPECT_STREQ(roviverApp.windowClass, "HALCYON_TVR");
}

TEST_F(AppsTest, LaunchQuotesThePathAndCountsStartsFrom31) {
    tvapps::install(APP_POWERVCR);
    w().files[w().fileKey("C:\\Program.exe")] = "a program that must never run";
    start();
    HWND w1 = powerVcrApp.launch();
    EXPECT_EQ(w1, nullptr) << "the new window does not exist yet";
    ASSERT_EQ(w().programStarts.size(), 1u);
    EXPECT_EQ(w().programStarts[0].commandLine, "\"" + tvapps::exePath(APP_POWERVCR) + "\"");
    EXPECT_EQ(w().programStarts[0].show, static_cast<UINT>(SW_SHOW));
    EXPECT_EQ(powerVcrApp.active, 1);

    // WinExec answering exactly 31 is a start; 30 is a failure with a message.
    for (UINT result : {31u, 30u}) {
        sim::resetWorld();
        tvapps::install(APP_WINDVR);
        sim::ProgramSetup setup;
        setup.execResult = result;
        w().installProgram(tvapps::exePath(APP_WINDVR), setup);
        start();
        winDvrApp.launch();
        if (result == 31) {
            EXPECT_EQ(winDvrApp.active, 1);
            EXPECT_TRUE(w().messageBoxes.empty());
        } else {
            EXPECT_EQ(winDvrApp.active, 0);
            ASSERT_EQ(w().messageBoxes.size(), 1u);
            EXPECT_EQ(w().messageBoxes[0].text, "Can't run launch TV application what you want.");
            EXPECT_EQ(w().messageBoxes[0].caption, AGENT_NAME);
            EXPECT_EQ(w().messageBoxes[0].style, static_cast<UINT>(MB_OK));
        }
    }
}

TEST_F(AppsTest, FindingByTitleIsCaseSensitiveAndByPrefix) {
    tvapps::install(APP_POWERVCR);
    tvapps::install(APP_HONESTECH);
    start();
    w().addForeignWindow("Other", "powervcr ii - lower case");
    EXPECT_EQ(powerVcrApp.findByTitlePrefix(), nullptr);
    HWND tvr = w().addForeignWindow("SomeoneElse", "TVR recorder of another vendor");
    EXPECT_EQ(honestechApp.findByTitlePrefix(), tvr);
    // launchOrFocus takes the title match and starts nothing.
    EXPECT_EQ(honestechApp.launchOrFocus(), tvr);
    EXPECT_TRUE(w().programStarts.empty());
    EXPECT_EQ(w().foreground, tvr);
    // RoviverUVA shares the install path and the executable.
    tvapps::install(APP_ROVIVER);
    start();
    EXPECT_STREQ(roviverApp.installPath, honestechApp.installPath);
    EXPECT_STREQ(roviverApp.exeName, honestechApp.exeName);
}

TEST_F(AppsTest, PowerToggleStartsClosesAndArmsTheWatcher) {
    w().addCaptureDevice("USB 2800 Video");
    tvapps::install(APP_POWERVCR);
    runAgent(100);
    w().calls.clear();

    launchOrClose(TV_POWERVCR);
    EXPECT_EQ(w().programStarts.size(), 1u);
    EXPECT_EQ(powerVcrApp.active, 1);
    EXPECT_EQ(launchedByAgent[TV_POWERVCR], 1);
    EXPECT_TRUE(appWatchTimer.armed);

    // Once its window is up, the toggle closes it with the Ctrl+X chord.
    w().advanceTo(w().now + 400);
    HWND top = tvapps::topWindow(APP_POWERVCR);
    ASSERT_NE(top, nullptr);
    w().keyEvents.clear();
    launchOrClose(TV_POWERVCR);
    EXPECT_EQ(tvapps::topWindow(APP_POWERVCR), nullptr);
    EXPECT_EQ(powerVcrApp.active, 0);
    ASSERT_EQ(w().keyEvents.size(), 4u);
    EXPECT_EQ(w().keyEvents[0].vk, VK_CONTROL);
    EXPECT_EQ(w().keyEvents[1].vk, 'X');
    EXPECT_EQ(w().keyEvents[0].foreground, top);

    // Not installed: nothing starts, the watcher is armed all the same, no flag.
    stopAppWatch();
    launchOrClose(TV_WINDVR);
    EXPECT_TRUE(appWatchTimer.armed);
    EXPECT_EQ(launchedByAgent[TV_WINDVR], 0);
    EXPECT_EQ(w().programStarts.size(), 1u);
}

TEST_F(AppsTest, CloseActionsReachTheRightWindows) {
    for (int a = 0; a < APP_COUNT; ++a) tvapps::install(static_cast<AppId>(a));
    start();
    // Closing applications that do not run changes nothing.
    powerVcrApp.active = 1;
    closeApp(APP_POWERVCR);
    closeApp(APP_WINDVD);
    EXPECT_EQ(powerVcrApp.active, 1);
    EXPECT_TRUE(callsWith("PostMessageA").empty());

    HWND dvdChild = tvapps::run(APP_WINDVD);
    HWND rip = tvapps::run(APP_WINRIP);
    HWND dvrLonger = w().addForeignWindow("WinDVRMain", "InterVideo WinDVR - channel 5");
    HWND honest = tvapps::run(APP_HONESTECH);
    HWND rovi = tvapps::run(APP_ROVIVER);
    closeApp(APP_WINDVD);
    closeApp(APP_WINRIP);
    closeApp(APP_WINDVR);
    closeApp(APP_HONESTECH);
    closeApp(APP_ROVIVER);
    // Each stand-in closes on its own action only, so a closed window proves
    // the action; the posts themselves are in the call log.
    auto posted = [](HWND h) { return callsWith("PostMessageA", sim::handleText(h) + " msg=256 w=88 l=2949121"); };
    EXPECT_EQ(posted(dvdChild).size(), 1u) << "WinDVD is addressed through its first child";
    EXPECT_EQ(posted(rip).size(), 1u);
    EXPECT_FALSE(IsWindow(dvdChild));
    EXPECT_FALSE(IsWindow(rip));
    // WinDVR's close matches its title by prefix, unlike its key actions.
    EXPECT_EQ(posted(dvrLonger).size(), 1u);
    EXPECT_FALSE(IsWindow(honest));
    EXPECT_FALSE(IsWindow(rovi));
}

TEST_F(AppsTest, ApplicationCommandsCloseTheListedOnesAndSwitch) {
    for (int a = 0; a < APP_COUNT; ++a) tvapps::install(static_cast<AppId>(a));
    w().addCaptureDevice("USB 2800 Video");
    runAgent(100);
    struct Case {
        WORD id;
        std::vector<AppId> closed;
        AppId chosen;
        int defaultAfter;
    };
    const Case cases[] = {
        {IDM_WINDVD, {APP_WINDVR, APP_WINRIP}, APP_WINDVD, 3},
        {IDM_WINDVR, {APP_WINDVD, APP_WINRIP, APP_ROVIVER, APP_POWERVCR, APP_HONESTECH}, APP_WINDVR, 1},
        {IDM_WINRIP, {APP_WINDVD, APP_WINDVR}, APP_WINRIP, 1},
        {IDM_POWERVCR, {APP_WINDVR, APP_ROVIVER, APP_HONESTECH}, APP_POWERVCR, 2},
        {IDM_HONESTECH, {APP_WINDVR, APP_POWERVCR, APP_ROVIVER}, APP_HONESTECH, 4},
        {IDM_ROVIVER, {APP_WINDVR, APP_POWERVCR, APP_HONESTECH}, APP_ROVIVER, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        // Everything runs; the command closes exactly the listed applications.
        for (int a = 0; a < APP_COUNT; ++a)
            if (!tvapps::topWindow(static_cast<AppId>(a))) tvapps::run(static_cast<AppId>(a));
        size_t startsBefore = w().programStarts.size();
        SendMessageA(mainWindow, WM_COMMAND, c.id, 0);
        for (int a = 0; a < APP_COUNT; ++a) {
            AppId app = static_cast<AppId>(a);
            bool closed = std::find(c.closed.begin(), c.closed.end(), app) != c.closed.end();
            EXPECT_EQ(tvapps::topWindow(app) == nullptr, closed) << "application " << a;
        }
        EXPECT_EQ(w().programStarts.size(), startsBefore) << "a running application is only brought forward";
        EXPECT_EQ(w().foreground, tvapps::topWindow(c.chosen));
        EXPECT_EQ(defaultTvApp, c.defaultAfter);
        EXPECT_FALSE(appWatchTimer.armed) << "commands never arm the watcher";
    }
    DWORD stored = 0;
    ASSERT_TRUE(w().registry.dword(SETTINGS, SETTING_DEFAULT_TV_APP, &stored));
    EXPECT_EQ(stored, 3u) << "commands change the default in memory only";
}
