// The key maps as data: what one remote key does in one TV application,
// without and with the country-81 assignment. keymaps.cpp performs these
// actions; the host build's key reference (tools/keyref) describes them.
#pragma once

#include <windows.h>

#include "apps/adapters.h"

constexpr int REMOTE_KEY_COUNT = 32;

enum class KeyKind : BYTE {
    Nothing,
    PostKey,          // WM_KEYDOWN, no key-up
    PostChar,         // WM_CHAR
    Number,           // the digit's virtual key with its scan code
    Chord,            // foreground, then keybd_event
    Message,          // an application-defined message with a command number
    ShiftThenKey,     // WM_KEYDOWN Shift, then WM_KEYDOWN of the key
    CaptureThenKey,   // PowerVCR II's capture-dialog switch, then a posted key
};

struct KeyAction {
    KeyKind kind;
    UINT value;       // virtual key, character, digit, or message number
    LONG_PTR param;   // lParam of a posted key or character, wParam of a message
    BYTE modifiers[2];
    BYTE modifierCount;
};

struct KeyRow {
    KeyAction normal;
    KeyAction country81;
};

// The row of remote key `code` (0 to REMOTE_KEY_COUNT - 1) in `tv`'s map.
const KeyRow& keyRow(TvApp tv, int code);
