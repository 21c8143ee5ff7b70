// Keyboard chords typed into an application through keybd_event.
#include "apps/input.h"

namespace {

constexpr DWORD KEY_DOWN_FLAGS = KEYEVENTF_EXTENDEDKEY;
constexpr DWORD KEY_UP_FLAGS = KEYEVENTF_EXTENDEDKEY | KEYEVENTF_KEYUP;

// Another program's window is the foreground window only once that program
// has taken the activation, and keys typed before then reach no window (or,
// when the switch is refused, the program in front). The wait holds the key
// poll, so it is short.
constexpr DWORD FOREGROUND_WAIT_MS = 500;
constexpr DWORD FOREGROUND_POLL_MS = 10;

// The window, or one it owns (a dialog of the application), is in front.
bool inForeground(HWND window) {
    for (HWND w = GetForegroundWindow(); w; w = GetWindow(w, GW_OWNER))
        if (w == window) return true;
    return false;
}

bool waitForForeground(HWND window) {
    for (DWORD waited = 0; !inForeground(window); waited += FOREGROUND_POLL_MS) {
        if (waited >= FOREGROUND_WAIT_MS) return false;
        Sleep(FOREGROUND_POLL_MS);
    }
    return true;
}

}  // namespace

void sendChord(HWND window, const BYTE* modifiers, int modifierCount, BYTE key) {
    SetForegroundWindow(window);
    SetActiveWindow(window);
    // A chord typed into whatever else is in front could do harm there
    // (Ctrl+X is PowerVCR's close key and an editor's Cut).
    if (!waitForForeground(window)) return;
    for (int i = 0; i < modifierCount; ++i) keybd_event(modifiers[i], 0, KEY_DOWN_FLAGS, 0);
    keybd_event(key, 0, KEY_DOWN_FLAGS, 0);
    keybd_event(key, 0, KEY_UP_FLAGS, 0);
    for (int i = modifierCount - 1; i >= 0; --i) keybd_event(modifiers[i], 0, KEY_UP_FLAGS, 0);
}
