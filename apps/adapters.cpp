// Finding, starting, bringing forward and closing the applications.
#include "apps/adapters.h"

#include <cstring>

#include "agent/agent.h"
#include "agent/timers.h"
#include "apps/input.h"

LONG launchedByAgent[TV_COUNT];

namespace {

// Where each application is installed and how its windows are recognised.
struct AppRegistration {
    const char* keyPath;
    const char* valueName;
    const char* exeName;
    const char* windowClass;
    const char* titlePrefix;
};

const AppRegistration REGISTRATIONS[APP_COUNT] = {
    {"Software\\Cyberlink\\PowerVCR II", "InstallPath", "PVCR.EXE", "", "PowerVCR II"},
    {"Software\\Honestech\\TV Plus\\TVR", "AppPath", "honestechTV.EXE", "honestechTV 2.0", "TVR"},
    {"Software\\InterVideo\\WinDVD4", "PATH", "WINDVD.EXE", "", "InterVideo WinDVD 4"},
    {"Software\\InterVideo\\WinDVR", "PATH", "WINDVR.EXE", "", "InterVideo WinDVR"},
    {"Software\\InterVideo\\WinRip", "PATH", "WINRIP.EXE", "", "WinRip"},
    {"Software\\Honestech\\TV Plus\\TVR", "AppPath", "honestechTV.EXE", "HALCYON_TVR", "FormMainWindow"},
};

// How each application's main window is found; these rules use their own
// literals, not the record's class and title prefix.
enum class MainRule { ByClass, DesktopChildByClass, ExactTitle, FirstChildOfExactTitle, TitleContains };

// How each application is asked to close.
enum class CloseRule { CtrlXChord, PostToMainWindow, PostToTitlePrefixWindow };

struct AppRules {
    MainRule main;
    const char* mainText;
    CloseRule close;
    UINT closeMessage;
    WPARAM closeWParam;
    LPARAM closeLParam;
};

constexpr LPARAM X_KEY_LPARAM = 0x002D0001;  // repeat 1, scan code of X

const AppRules RULES[APP_COUNT] = {
    {MainRule::ByClass, "PowerVCR II Taurus", CloseRule::CtrlXChord, 0, 0, 0},
    {MainRule::ByClass, "honestechTV 2.0", CloseRule::PostToMainWindow, WM_KEYDOWN, 'O', 0},
    {MainRule::FirstChildOfExactTitle, "InterVideo WinDVD 4", CloseRule::PostToMainWindow, WM_KEYDOWN, 'X',
     X_KEY_LPARAM},
    {MainRule::ExactTitle, "InterVideo WinDVR", CloseRule::PostToTitlePrefixWindow, WM_KEYDOWN, 'X',
     X_KEY_LPARAM},
    {MainRule::TitleContains, "WinRip", CloseRule::PostToMainWindow, WM_KEYDOWN, 'X', X_KEY_LPARAM},
    {MainRule::DesktopChildByClass, "HALCYON_TVR", CloseRule::PostToMainWindow, ROVIVER_COMMAND_MESSAGE,
     ROVIVER_CLOSE_COMMAND, 0},
};

const AppId TV_APPS[TV_COUNT] = {APP_POWERVCR, APP_WINDVR, APP_HONESTECH, APP_ROVIVER};

void copyBounded(char* dst, size_t capacity, const char* src) {
    std::strncpy(dst, src, capacity - 1);
    dst[capacity - 1] = '\0';
}

// Walks the top-level windows in Z order, hidden ones included, and returns
// the first whose title (as far as it fits 128 bytes) satisfies `matches`.
template <typename Match>
HWND findTopLevelByTitle(Match matches) {
    char title[TITLE_BUFFER_SIZE];
    for (HWND w = GetWindow(GetDesktopWindow(), GW_CHILD); w; w = GetWindow(w, GW_HWNDNEXT)) {
        title[0] = '\0';
        GetWindowTextA(w, title, sizeof title);
        if (matches(title)) return w;
    }
    return nullptr;
}

}  // namespace

AppAdapter& adapterOf(AppId app) {
    switch (app) {
    case APP_POWERVCR: return powerVcrApp;
    case APP_HONESTECH: return honestechApp;
    case APP_WINDVD: return winDvdApp;
    case APP_WINDVR: return winDvrApp;
    case APP_WINRIP: return winRipApp;
    default: return roviverApp;
    }
}

AppId appOf(TvApp tv) { return TV_APPS[tv]; }

AppAdapter loadAdapter(AppId app) {
    AppAdapter adapter;
    std::memset(&adapter, 0, sizeof adapter);
    const AppRegistration& r = REGISTRATIONS[app];
    adapter.loadFromRegistry(r.keyPath, r.valueName, r.exeName, r.windowClass, r.titlePrefix);
    return adapter;
}

int AppAdapter::loadFromRegistry(const char* keyPath, const char* valueName, const char* exe,
                                 const char* windowClassName, const char* title) {
    found = 0;
    copyBounded(windowClass, sizeof windowClass, windowClassName);
    copyBounded(titlePrefix, sizeof titlePrefix, title);
    HKEY key = nullptr;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, keyPath, &key) != ERROR_SUCCESS) return 0;
    char path[INSTALL_PATH_CAPACITY] = {};
    DWORD size = sizeof path;
    LSTATUS read = RegQueryValueExA(key, valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(path), &size);
    RegCloseKey(key);
    if (read != ERROR_SUCCESS) return 0;
    // A path that fills the whole buffer without its terminator does not fit.
    if (size == sizeof path && path[sizeof path - 1] != '\0') return 0;
    // No directory name holds a quote, and one would end the quoting of the
    // command line a launch builds: whatever follows it would run instead.
    if (std::strchr(path, '"') != nullptr) return 0;
    std::memcpy(installPath, path, sizeof installPath);
    copyBounded(exeName, sizeof exeName, exe);
    found = 1;
    active = 0;
    return 1;
}

HWND AppAdapter::findByTitlePrefix() const { return findWindowByTitlePrefix(titlePrefix); }

HWND AppAdapter::findWindow() const {
    if (windowClass[0] != '\0') return FindWindowA(windowClass, nullptr);
    return findByTitlePrefix();
}

HWND AppAdapter::launch() {
    if (HWND w = findWindow()) return w;
    if (found == 0) return nullptr;
    // The program path is quoted: install paths usually hold spaces, and an
    // unquoted one would make the system try "C:\Program.exe" first.
    char commandLine[COMMAND_LINE_CAPACITY];
    // Two quotes, the separator and the terminator besides the names.
    if (std::strlen(installPath) + std::strlen(exeName) + 4 > sizeof commandLine) return nullptr;
    wsprintfA(commandLine, "\"%s\\%s\"", installPath, exeName);
    UINT result = WinExec(commandLine, SW_SHOW);
    if (result >= 31) {
        active = 1;
    } else {
        MessageBoxA(nullptr, "Can't run launch TV application what you want.", AGENT_NAME, MB_OK);
    }
    return findWindow();
}

HWND AppAdapter::launchOrFocus() {
    if (found != 1) return nullptr;
    HWND w = findByTitlePrefix();
    if (!w) w = launch();
    if (w) {
        SetForegroundWindow(w);
        SetActiveWindow(w);
    }
    return w;
}

HWND findMainWindow(AppId app) {
    const AppRules& rule = RULES[app];
    const char* text = rule.mainText;
    switch (rule.main) {
    case MainRule::ByClass:
        return FindWindowA(text, nullptr);
    case MainRule::DesktopChildByClass:
        return FindWindowExA(GetDesktopWindow(), nullptr, text, nullptr);
    case MainRule::ExactTitle:
        return findTopLevelByTitle([text](const char* t) { return std::strcmp(t, text) == 0; });
    case MainRule::FirstChildOfExactTitle: {
        HWND top = findTopLevelByTitle([text](const char* t) { return std::strcmp(t, text) == 0; });
        return top ? GetWindow(top, GW_CHILD) : nullptr;
    }
    case MainRule::TitleContains:
        return findTopLevelByTitle([text](const char* t) { return std::strstr(t, text) != nullptr; });
    }
    return nullptr;
}

void closeApp(AppId app) {
    const AppRules& rule = RULES[app];
    AppAdapter& adapter = adapterOf(app);
    HWND w = rule.close == CloseRule::PostToTitlePrefixWindow ? adapter.findByTitlePrefix() : findMainWindow(app);
    if (!w) return;
    if (rule.close == CloseRule::CtrlXChord) {
        static const BYTE ctrl[] = {VK_CONTROL};
        sendChord(w, ctrl, 1, 'X');
    } else {
        PostMessageA(w, rule.closeMessage, rule.closeWParam, rule.closeLParam);
    }
    adapter.active = 0;
}

HWND findTvWindow(TvApp tv) {
    static const struct {
        const char* windowClass;
        const char* title;
    } IDENTITIES[TV_COUNT] = {
        {"PowerVCR II Taurus", nullptr},
        {nullptr, "InterVideo WinDVR"},
        {"honestechTV 2.0", nullptr},
        {"HALCYON_TVR", nullptr},
    };
    return FindWindowExA(GetDesktopWindow(), nullptr, IDENTITIES[tv].windowClass, IDENTITIES[tv].title);
}

void launchOrClose(TvApp tv) {
    AppId app = appOf(tv);
    if (findMainWindow(app)) {
        closeApp(app);
        return;
    }
    AppAdapter& adapter = adapterOf(app);
    adapter.launchOrFocus();
    startAppWatch();
    if (adapter.active == 1) launchedByAgent[tv] = 1;
}
