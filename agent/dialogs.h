// The agent's dialogs and the system shutdown.
#pragma once

#include <windows.h>

constexpr size_t SETTING_CHOICE_CAPACITY = 128;

extern bool shutdownPromptOpen;
extern HWND shutdownPromptWindow;
extern LONG settingSelection;
// The entry chosen at the last OK of the Setting dialog.
extern char settingChoiceText[SETTING_CHOICE_CAPACITY];

INT_PTR CALLBACK aboutProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK settingProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK shutdownProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam);

void showAboutDialog(HWND owner);
void showSettingDialog(HWND owner);
// Shows the Shut Down prompt modally; returns when it has closed.
void showShutdownPrompt(HWND owner);
void shutDownComputer();
