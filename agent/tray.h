// The agent's icon in the notification area.
#pragma once

#include <windows.h>
#include <shellapi.h>

// Size of the first version of the notification-icon record, as the 32-bit
// system defines it; the agent always speaks that version.
constexpr DWORD TRAY_RECORD_SIZE = 88;

extern NOTIFYICONDATAA trayIconData;

void addTrayIcon(HWND window, UINT id, HICON icon, const char* tip);
void removeTrayIcon(HWND window, UINT id);
// Shows the icon again with the kept record (pointer moves, taskbar restarts).
void refreshTrayIcon();
