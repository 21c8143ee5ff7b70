// The key maps of the four TV applications: what each remote key sends to
// the application's main window.
#pragma once

#include <windows.h>

#include "apps/adapters.h"

// Acts on `tv` for remote key `code` (0..31); nothing when its main window is
// not there or the key has no action for it.
void handleKey(TvApp tv, int code);

// RoviverUVA's command message with `command` as its first parameter.
void roviverCommand(WPARAM command);

// Remote keys with a fixed meaning for the dispatcher.
constexpr int KEY_SECOND_START = 11;
constexpr int KEY_POWER = 18;
constexpr int KEY_SNAPSHOT = 19;
constexpr int KEY_SHUTDOWN = 21;
constexpr int KEY_CAPTURE_DIALOG = 29;

// RoviverUVA commands the dispatcher sends itself.
constexpr WPARAM ROVIVER_SECOND_START_COMMAND = 6000;
constexpr WPARAM ROVIVER_SHUTDOWN_COMMAND = 5001;

// WinDVR's own command message.
constexpr UINT WINDVR_COMMAND_MESSAGE = 911;

// PowerVCR II: stop it from asking about the capture settings when recording starts.
void disableCaptureDialog();
