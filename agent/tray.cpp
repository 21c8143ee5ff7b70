// The notification icon: one record kept for the whole run.
#include "agent/tray.h"

#include <cstring>

#include "agent/agent.h"

NOTIFYICONDATAA trayIconData;

void addTrayIcon(HWND window, UINT id, HICON icon, const char* tip) {
    std::memset(&trayIconData, 0, sizeof trayIconData);
    trayIconData.cbSize = TRAY_RECORD_SIZE;
    trayIconData.hWnd = window;
    trayIconData.uID = id;
    trayIconData.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    trayIconData.uCallbackMessage = TRAY_NOTIFY_MESSAGE;
    trayIconData.hIcon = icon;
    if (tip) {
        // The tip holds 63 characters and its terminator.
        std::strncpy(trayIconData.szTip, tip, sizeof trayIconData.szTip - 1);
        trayIconData.szTip[sizeof trayIconData.szTip - 1] = '\0';
    }
    Shell_NotifyIconA(NIM_ADD, &trayIconData);
}

void removeTrayIcon(HWND window, UINT id) {
    NOTIFYICONDATAA data;
    std::memset(&data, 0, sizeof data);
    data.cbSize = TRAY_RECORD_SIZE;
    data.hWnd = window;
    data.uID = id;
    Shell_NotifyIconA(NIM_DELETE, &data);
}

void refreshTrayIcon() { Shell_NotifyIconA(NIM_MODIFY, &trayIconData); }
