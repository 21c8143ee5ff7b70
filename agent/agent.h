// tunerpad: process-wide state and names shared by the agent's parts.
#pragma once

#include <windows.h>

// The agent's window class and title, its message-box caption and its icon tip.
#define AGENT_NAME "Ruvuzovi Razuzu Davidod"

// Notification icon of the main window.
constexpr UINT TRAY_ICON_ID = 10;
constexpr UINT TRAY_NOTIFY_MESSAGE = 1001;

// Longest window title and class name loaded from the string table.
constexpr int AGENT_NAME_CAPACITY = 100;
// Window titles read back from other programs.
constexpr int TITLE_BUFFER_SIZE = 128;

extern HINSTANCE appInstance;
extern HWND mainWindow;
extern bool deviceFound;
extern char windowTitle[AGENT_NAME_CAPACITY];
extern char windowClassName[AGENT_NAME_CAPACITY];

// Registers the main window class; false when the system refuses it.
bool registerMainClass(HINSTANCE instance);
// Creates the hidden main window and starts the agent's work; false when the
// agent must not run.
bool createMainWindow(HINSTANCE instance);

// The first top-level window (in Z order) whose title starts with `text`,
// compared case-sensitively; none when no title matches.
HWND findWindowByTitlePrefix(const char* text);

LRESULT CALLBACK mainWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

#ifdef SIM_WIN32
// Host build: replay the static construction and destruction of the agent's
// process-wide records, so each scenario starts as a fresh process.
void restartAgentStatics();
void endAgentStatics();
#endif
