// The hidden main window: icon notifications, commands and system messages.
#include "agent/agent.h"
#include "agent/dialogs.h"
#include "agent/settings.h"
#include "agent/timers.h"
#include "agent/tray.h"
#include "apps/adapters.h"
#include "apps/commands.h"
#include "apps/pointer.h"
#include "device/device.h"
#include "resource.h"

HMENU trayMenu = nullptr;

namespace {

// Explorer broadcasts this message when the taskbar is created again (after a
// crash or a restart of the shell); icons must then be added anew.
UINT taskbarCreatedMessage = 0;

#define NO_DEVICE_TEXT \
    "Sorry, we can't find any Revovezi ZUD2.0 Device.\n\nPlease check your hardware or drivers. "

void onCreate(HWND hwnd) {
    if (!openRemoteDevice()) {
        closeRemoteDevice();
        deviceFound = false;
    }
    setScreenMetricsAtStart();
    addTrayIcon(hwnd, TRAY_ICON_ID, LoadIconA(appInstance, MAKEINTRESOURCEA(IDI_AGENT)), AGENT_NAME);
    taskbarCreatedMessage = RegisterWindowMessageA("TaskbarCreated");
}

void quitAgent(HWND hwnd) {
    removeTrayIcon(hwnd, TRAY_ICON_ID);
    PostQuitMessage(0);
}

void showTrayMenu() {
    POINT cursor;
    GetCursorPos(&cursor);
    if (trayMenu) DestroyMenu(trayMenu);
    trayMenu = CreatePopupMenu();
    if (roviverApp.found) {
        AppendMenuA(trayMenu, isHalcyonRunning() ? MF_CHECKED : MF_STRING, IDM_ROVIVER, "RoviverUVA");
    }
    AppendMenuA(trayMenu, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(trayMenu, MF_STRING, IDM_ABOUT, "About");
    AppendMenuA(trayMenu, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(trayMenu, MF_STRING, IDM_EXIT, "Exit");
    SetForegroundWindow(mainWindow);
    TrackPopupMenu(trayMenu, TPM_LEFTALIGN | TPM_LEFTBUTTON, cursor.x, cursor.y, 0, mainWindow, nullptr);
}

void onTrayClick(HWND hwnd) {
    if (!deviceFound) {
        MessageBoxA(nullptr, NO_DEVICE_TEXT, AGENT_NAME, MB_SETFOREGROUND | MB_ICONWARNING);
        quitAgent(hwnd);
        return;
    }
    showTrayMenu();
}

void onTrayNotify(HWND hwnd, LPARAM event) {
    switch (event) {
    case WM_MOUSEMOVE:
        refreshTrayIcon();
        break;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
        onTrayClick(hwnd);
        break;
    default:
        break;
    }
}

// Power events. The capture driver may not survive a suspend, so the channel
// is closed before the machine sleeps; after a resume the agent goes the way
// of a lost device and the device retry reopens the box without blocking.
// The retry is armed at the suspend already: a suspend that fails after it
// was announced sends no resume, and the agent must not stay without both
// its key poll and its retry.
// Returns false for events left to the system.
bool onPowerEvent(WPARAM event) {
    switch (event) {
    case PBT_APMSUSPEND:
        stopKeyPolling();
        closeRemoteDevice();
        startDeviceRetry();
        return true;
    case PBT_APMRESUMECRITICAL:
    case PBT_APMRESUMESUSPEND:
    case PBT_APMRESUMEAUTOMATIC:
        stopKeyPolling();
        startDeviceRetry();
        return true;
    default:
        return false;
    }
}

// Returns false for identifiers the agent does not handle.
bool onCommand(HWND hwnd, WORD id) {
    switch (id) {
    case IDM_ABOUT:
        showAboutDialog(hwnd);
        return true;
    case IDM_SETTING:
        showSettingDialog(hwnd);
        return true;
    case IDM_QUIT:
        quitAgent(hwnd);
        return true;
    case IDM_EXIT:
        quitAgent(hwnd);
        closeRemoteDevice();
        return true;
    default:
        break;
    }
    if (!runAppCommand(id)) return false;
    // The application commands change the Power key's default for this run only.
    if (int newDefault = defaultAfterCommand(id)) defaultTvApp = newDefault;
    return true;
}

}  // namespace

LRESULT CALLBACK mainWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_CREATE:
        onCreate(hwnd);
        return 0;
    case WM_DESTROY:
        quitAgent(hwnd);
        return 0;
    case WM_DISPLAYCHANGE:
        setScreenMetricsOnDisplayChange(lParam);
        return 0;
    case WM_COMMAND:
        if (onCommand(hwnd, LOWORD(wParam))) return 0;
        break;
    case WM_POWERBROADCAST:
        if (onPowerEvent(wParam)) return TRUE;
        break;
    case TRAY_NOTIFY_MESSAGE:
        onTrayNotify(hwnd, lParam);
        return 0;
    default:
        if (taskbarCreatedMessage != 0 && msg == taskbarCreatedMessage) {
            Shell_NotifyIconA(NIM_ADD, &trayIconData);
            return 0;
        }
        break;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}
