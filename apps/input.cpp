// Keyboard chords typed into an application through keybd_event.
#include "apps/input.h"

namespace {

constexpr DWORD KEY_DOWN_FLAGS = KEYEVENTF_EXTENDEDKEY;
constexpr DWORD KEY_UP_FLAGS = KEYEVENTF_EXTENDEDKEY | KEYEVENTF_KEYUP;

}  // namespace

void sendChord(HWND window, const BYTE* modifiers, int modifierCount, BYTE key) {
    SetForegroundWindow(window);
    SetActiveWindow(window);
    for (int i = 0; i < modifierCount; ++i) keybd_event(modifiers[i], 0, KEY_DOWN_FLAGS, 0);
    keybd_event(key, 0, KEY_DOWN_FLAGS, 0);
    keybd_event(key, 0, KEY_UP_FLAGS, 0);
    for (int i = modifierCount - 1; i >= 0; --i) keybd_event(modifiers[i], 0, KEY_UP_FLAGS, 0);
}
