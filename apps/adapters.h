// The TV and DVD applications the agent drives: one record per application,
// its fixed window and close rules, and the Power-key toggle.
#pragma once

#include <windows.h>

constexpr DWORD INSTALL_PATH_CAPACITY = 128;
constexpr size_t ADAPTER_NAME_CAPACITY = 64;
constexpr size_t COMMAND_LINE_CAPACITY = 256;

struct AppAdapter {
    LONG found;   // 1 when the install path was read: the application is installed
    LONG active;  // 1 while the agent drives the application
    char installPath[INSTALL_PATH_CAPACITY];
    char exeName[ADAPTER_NAME_CAPACITY];
    char windowClass[ADAPTER_NAME_CAPACITY];  // empty: findWindow searches by title
    char titlePrefix[ADAPTER_NAME_CAPACITY];
    HWND targetWindow;  // the window the key action under way addresses

    int loadFromRegistry(const char* keyPath, const char* valueName, const char* exe, const char* windowClassName,
                         const char* title);
    HWND findByTitlePrefix() const;
    HWND findWindow() const;
    HWND launch();
    HWND launchOrFocus();
};

// The applications, in the order their records are filled at start.
enum AppId { APP_POWERVCR, APP_HONESTECH, APP_WINDVD, APP_WINDVR, APP_WINRIP, APP_ROVIVER, APP_COUNT };

// The four TV applications, which the Power key toggles and the watcher
// follows, in the order the dispatcher and the watcher check them.
enum TvApp { TV_POWERVCR, TV_WINDVR, TV_HONESTECH, TV_ROVIVER, TV_COUNT };

extern AppAdapter powerVcrApp;
extern AppAdapter honestechApp;
extern AppAdapter winDvdApp;
extern AppAdapter winDvrApp;
extern AppAdapter winRipApp;
extern AppAdapter roviverApp;

// Watch flags: set by launchOrClose when it left the application active,
// cleared by the application watcher.
extern LONG launchedByAgent[TV_COUNT];

AppAdapter& adapterOf(AppId app);
AppId appOf(TvApp tv);

// A record filled from the application's registry key.
AppAdapter loadAdapter(AppId app);

// The fixed rules of each application.
HWND findMainWindow(AppId app);
void closeApp(AppId app);
// A TV application's window as the dispatcher and the watcher recognise it:
// a top-level window of its class, or for WinDVR of its title.
HWND findTvWindow(TvApp tv);
// The Power-key toggle of a TV application.
void launchOrClose(TvApp tv);

// RoviverUVA's command message, WM_USER + 2000.
constexpr UINT ROVIVER_COMMAND_MESSAGE = 3024;
constexpr WPARAM ROVIVER_CLOSE_COMMAND = 1;
