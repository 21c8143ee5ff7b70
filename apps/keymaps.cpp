// Every key action looks the application's main window up afresh, then sends
// one kind of input to it. The tables give, per remote key, the action
// without and with the country-81 assignment.
#include "apps/keymaps.h"

#include "agent/settings.h"
#include "apps/input.h"
#include "apps/keymap_tables.h"

namespace {

constexpr KeyAction nothing() { return {KeyKind::Nothing, 0, 0, {0, 0}, 0}; }
constexpr KeyAction key(UINT vk, LONG_PTR lParam = 0) { return {KeyKind::PostKey, vk, lParam, {0, 0}, 0}; }
constexpr KeyAction character(UINT ch, LONG_PTR lParam) { return {KeyKind::PostChar, ch, lParam, {0, 0}, 0}; }
constexpr KeyAction number(UINT digit) { return {KeyKind::Number, digit, 0, {0, 0}, 0}; }
constexpr KeyAction ctrl(BYTE vk) { return {KeyKind::Chord, vk, 0, {VK_CONTROL, 0}, 1}; }
constexpr KeyAction altCtrl(BYTE vk) { return {KeyKind::Chord, vk, 0, {VK_MENU, VK_CONTROL}, 2}; }
constexpr KeyAction message(UINT msg, WPARAM command) {
    return {KeyKind::Message, msg, static_cast<LONG_PTR>(command), {0, 0}, 0};
}
constexpr KeyAction shiftThen(UINT vk, LONG_PTR lParam) { return {KeyKind::ShiftThenKey, vk, lParam, {0, 0}, 0}; }
constexpr KeyAction captureThen(UINT vk) { return {KeyKind::CaptureThenKey, vk, 0, {0, 0}, 0}; }
constexpr KeyAction roviver(WPARAM command) { return message(ROVIVER_COMMAND_MESSAGE, command); }
constexpr KeyAction windvr(WPARAM command) { return message(WINDVR_COMMAND_MESSAGE, command); }

constexpr KeyRow same(KeyAction a) { return {a, a}; }
constexpr KeyRow none() { return same(nothing()); }

constexpr UINT VK_F10_KEY = 0x79;
constexpr UINT VK_F11_KEY = 0x7A;
constexpr UINT VK_F12_KEY = 0x7B;
constexpr UINT VK_MULTIPLY_KEY = 0x6A;
constexpr UINT VK_ADD_KEY = 0x6B;
constexpr UINT VK_SUBTRACT_KEY = 0x6D;
constexpr LPARAM SHIFT_LPARAM = 0x002A0001;

#define DIGITS(make) same(make(1)), same(make(2)), same(make(3)), same(make(4)), same(make(5)), \
                     same(make(6)), same(make(7)), same(make(8)), same(make(9))

const KeyRow POWERVCR_KEYS[REMOTE_KEY_COUNT] = {
    /* 0 */ {ctrl('R'), altCtrl(VK_F12_KEY)},
    /* 1..9 */ DIGITS(number),
    /* 10 */ {number(0), altCtrl(VK_F10_KEY)},
    /* 11 */ none(),
    /* 12 */ same(ctrl('U')),
    /* 13 */ same(key('S')),
    /* 14 */ {key(VK_SPACE), ctrl('S')},
    /* 15 */ same(key('T', 0x00580001)),
    /* 16 */ same(key('Q')),
    /* 17 */ none(),
    /* 18 */ none(),
    /* 19 */ same(key('C')),
    /* 20 */ same(ctrl('M')),
    /* 21 */ none(),
    /* 22 */ same(character(0x0D, 0x001C0001)),
    /* 23 */ {key(VK_MULTIPLY_KEY), altCtrl(VK_F11_KEY)},
    /* 24 */ same(key('Z')),
    /* 25 */ none(),
    /* 26 */ same(key('N')),
    /* 27 */ same(key(VK_ADD_KEY)),
    /* 28 */ {ctrl('S'), key(VK_SPACE)},
    /* 29 */ same(captureThen('R')),
    /* 30 */ same(key('P')),
    /* 31 */ same(key(VK_SUBTRACT_KEY)),
};

const KeyRow HONESTECH_KEYS[REMOTE_KEY_COUNT] = {
    /* 0 */ same(key('L')),
    /* 1..9 */ DIGITS(number),
    /* 10 */ same(number(0)),
    /* 11 */ none(),
    /* 12 */ same(key('N')),
    /* 13 */ same(key('S')),
    /* 14 */ {key(VK_SPACE), key('F')},
    /* 15 */ same(key('I')),
    /* 16 */ same(key('U')),
    /* 17 */ none(),
    /* 18 */ none(),
    /* 19 */ same(key('C')),
    /* 20 */ same(key('M')),
    /* 21 */ none(),
    /* 22 */ same(key(VK_RETURN)),
    /* 23 */ same(key(VK_MULTIPLY_KEY)),
    /* 24 */ same(key('W')),
    /* 25 */ none(),
    /* 26 */ same(key(VK_UP)),
    /* 27 */ same(key(VK_RIGHT)),
    /* 28 */ {key('F'), key(VK_SPACE)},
    /* 29 */ same(key('R')),
    /* 30 */ same(key(VK_DOWN)),
    /* 31 */ same(key(VK_LEFT)),
};

const KeyRow WINDVR_KEYS[REMOTE_KEY_COUNT] = {
    /* 0 */ same(key('L', 0x00260001)),
    /* 1..9 */ DIGITS(number),
    /* 10 */ same(number(0)),
    /* 11 */ none(),
    /* 12 */ same(key('A', 0x001E0001)),
    /* 13 */ same(windvr(2)),
    /* 14 */ {key(VK_F10_KEY, 0x00440001), key('K', 0x00250001)},
    /* 15 */ same(ctrl('I')),
    /* 16 */ same(key('M', 0x00320001)),
    /* 17 */ none(),
    /* 18 */ none(),
    /* 19 */ same(key('P', 0x00190001)),
    /* 20 */ same(key('U', 0x00160001)),
    /* 21 */ none(),
    /* 22 */ same(windvr(24)),
    /* 23 */ none(),
    /* 24 */ same(key('Z', 0x002C0001)),
    /* 25 */ none(),
    /* 26 */ same(key(VK_PRIOR, 0x01490001)),
    /* 27 */ same(shiftThen(VK_UP, 0x01480001)),
    /* 28 */ {key('K', 0x00250001), key(VK_F10_KEY, 0x00440001)},
    /* 29 */ same(windvr(23)),
    /* 30 */ same(key(VK_NEXT, 0x01510001)),
    /* 31 */ same(shiftThen(VK_DOWN, 0x01500001)),
};

#define ROVIVER_DIGIT(n) roviver(10000 + (n))

const KeyRow ROVIVER_KEYS[REMOTE_KEY_COUNT] = {
    /* 0 */ {roviver(4003), roviver(10012)},
    /* 1..9 */ DIGITS(ROVIVER_DIGIT),
    /* 10 */ {roviver(10000), roviver(10010)},
    /* 11 */ same(roviver(ROVIVER_SECOND_START_COMMAND)),
    /* 12 */ same(roviver(4004)),
    /* 13 */ same(roviver(1002)),
    /* 14 */ {roviver(1003), roviver(8)},
    /* 15 */ same(roviver(200)),
    /* 16 */ same(roviver(403)),
    /* 17 */ same(roviver(1005)),
    /* 18 */ none(),
    /* 19 */ same(roviver(1000)),
    /* 20 */ same(roviver(300)),
    /* 21 */ same(roviver(ROVIVER_SHUTDOWN_COMMAND)),
    /* 22 */ same(roviver(3001)),
    /* 23 */ {roviver(10020), roviver(10011)},
    /* 24 */ same(roviver(3)),
    /* 25 */ same(roviver(1004)),
    /* 26 */ same(roviver(4001)),
    /* 27 */ same(roviver(401)),
    /* 28 */ {roviver(8), roviver(1003)},
    /* 29 */ same(roviver(1001)),
    /* 30 */ same(roviver(4002)),
    /* 31 */ same(roviver(402)),
};

const KeyRow* const KEY_MAPS[TV_COUNT] = {POWERVCR_KEYS, WINDVR_KEYS, HONESTECH_KEYS, ROVIVER_KEYS};

// The digit's scan code: 0x0B for 0, n + 1 for 1 to 9.
LPARAM digitLParam(UINT digit) {
    DWORD scan = digit == 0 ? 0x0B : digit + 1;
    return static_cast<LPARAM>((scan << 16) | 1u);
}

void perform(HWND target, const KeyAction& a) {
    switch (a.kind) {
    case KeyKind::Nothing:
        break;
    case KeyKind::PostKey:
        PostMessageA(target, WM_KEYDOWN, a.value, a.param);
        break;
    case KeyKind::PostChar:
        PostMessageA(target, WM_CHAR, a.value, a.param);
        break;
    case KeyKind::Number:
        PostMessageA(target, WM_KEYDOWN, '0' + a.value, digitLParam(a.value));
        break;
    case KeyKind::Chord:
        sendChord(target, a.modifiers, a.modifierCount, static_cast<BYTE>(a.value));
        break;
    case KeyKind::Message:
        PostMessageA(target, a.value, static_cast<WPARAM>(a.param), 0);
        break;
    case KeyKind::ShiftThenKey:
        PostMessageA(target, WM_KEYDOWN, VK_SHIFT, SHIFT_LPARAM);
        PostMessageA(target, WM_KEYDOWN, a.value, a.param);
        break;
    case KeyKind::CaptureThenKey:
        disableCaptureDialog();
        PostMessageA(target, WM_KEYDOWN, a.value, a.param);
        break;
    }
}

}  // namespace

void disableCaptureDialog() {
    HKEY key = nullptr;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\CyberLink", &key) != ERROR_SUCCESS) return;
    DWORD one = 1;
    RegSetValueExA(key, "DisableCapDlg", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one);
    RegCloseKey(key);
}

const KeyRow& keyRow(TvApp tv, int code) { return KEY_MAPS[tv][code]; }

void handleKey(TvApp tv, int code) {
    if (code < 0 || code >= REMOTE_KEY_COUNT) return;
    AppAdapter& adapter = adapterOf(appOf(tv));
    adapter.targetWindow = findMainWindow(appOf(tv));
    if (!adapter.targetWindow) return;
    const KeyRow& row = keyRow(tv, code);
    perform(adapter.targetWindow, country81Mode ? row.country81 : row.normal);
}

void roviverCommand(WPARAM command) {
    roviverApp.targetWindow = findMainWindow(APP_ROVIVER);
    if (!roviverApp.targetWindow) return;
    PostMessageA(roviverApp.targetWindow, ROVIVER_COMMAND_MESSAGE, command, 0);
}
