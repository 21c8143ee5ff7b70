// The pointer, the keyboard and the screen's metrics.
//
// The pointer never leaves the primary screen. Synthesized input is recorded
// as it is made; a keystroke reaches the foreground window as the message the
// system would turn it into.
#include <sim/world.h>

#include <algorithm>
#include <cstdio>

using sim::world;

namespace {

// A 1024x768 desktop; the full-screen client height leaves out the taskbar
// and a caption.
constexpr int kDefaultScreenWidth = 1024;
constexpr int kDefaultScreenHeight = 768;
constexpr int kDefaultFullScreenHeight = 742;
constexpr int kFullScreenInset = kDefaultScreenHeight - kDefaultFullScreenHeight;
constexpr int kDisplayBitsPerPixel = 32;

// mouse_event's absolute coordinates span 0..65535 across the screen.
constexpr int64_t kAbsoluteSpan = 65536;

constexpr BYTE kKeyDown = 0x80;
constexpr BYTE kKeyToggled = 0x01;
constexpr SHORT kStateDown = static_cast<SHORT>(0x8000);

// Keyboard message lParam fields.
constexpr DWORD kRepeatOnce = 1;
constexpr int kScanCodeShift = 16;
constexpr DWORD kExtendedBit = 1u << 24;
constexpr DWORD kAltContextBit = 1u << 29;
constexpr DWORD kPreviousStateBit = 1u << 30;
constexpr DWORD kTransitionBit = 1u << 31;

int clampTo(int value, int low, int high) { return std::max(low, std::min(value, high)); }

void clampCursor(sim::World& wd) {
    wd.cursor.x = clampTo(wd.cursor.x, 0, wd.metric(SM_CXSCREEN) - 1);
    wd.cursor.y = clampTo(wd.cursor.y, 0, wd.metric(SM_CYSCREEN) - 1);
}

// Messages carry the generic key for the left and right variants.
BYTE genericKey(BYTE vk) {
    switch (vk) {
    case VK_LSHIFT:
    case VK_RSHIFT:
        return VK_SHIFT;
    case VK_LCONTROL:
    case VK_RCONTROL:
        return VK_CONTROL;
    case VK_LMENU:
    case VK_RMENU:
        return VK_MENU;
    default:
        return vk;
    }
}

void setKey(sim::World& wd, BYTE vk, bool down) {
    BYTE& state = wd.keyStates[vk];
    if (down && !(state & kKeyDown)) state ^= kKeyToggled;
    state = static_cast<BYTE>(down ? (state | kKeyDown) : (state & ~kKeyDown));
}

// Mouse buttons are physical; with the buttons swapped the left one is the
// logical right button.
void setButton(sim::World& wd, bool physicalLeft, bool down) {
    bool swapped = wd.metric(SM_SWAPBUTTON) != 0;
    (physicalLeft ? wd.leftButtonDown : wd.rightButtonDown) = down;
    setKey(wd, (physicalLeft != swapped) ? VK_LBUTTON : VK_RBUTTON, down);
}

// Input for another program's window reaches it at once; a window of the
// program under test finds it in its queue.
void deliverInput(sim::World& wd, HWND target, UINT message, WPARAM wParam, LPARAM lParam) {
    sim::Window* w = wd.window(target);
    if (!w) return;
    if (w->foreign) {
        sim::LoggedMessage m{wd.now, message, wParam, lParam, false};
        w->log.push_back(m);
        if (w->onMessage) {
            auto handler = w->onMessage;  // the handler may destroy the window
            handler(*w, m);
        }
        return;
    }
    MSG msg{};
    msg.hwnd = target;
    msg.message = message;
    msg.wParam = wParam;
    msg.lParam = lParam;
    msg.time = wd.now;
    msg.pt = wd.cursor;
    wd.queue.push_back(msg);
}

}  // namespace

namespace sim {

bool World::keyDown(int vk) const {
    return vk >= 0 && vk < kVirtualKeys && (keyStates[vk] & kKeyDown) != 0;
}

int World::metric(int index) const {
    auto it = metrics.find(index);
    if (it != metrics.end()) return it->second;
    switch (index) {
    case SM_CXSCREEN:
    case SM_CXFULLSCREEN:
        return kDefaultScreenWidth;
    case SM_CYSCREEN:
        return kDefaultScreenHeight;
    case SM_CYFULLSCREEN:
        return kDefaultFullScreenHeight;
    default:
        return 0;  // SM_SWAPBUTTON and every index the desktop does not know
    }
}

void World::changeDisplay(int width, int height) {
    log("ChangeDisplay", std::to_string(width) + "x" + std::to_string(height));
    metrics[SM_CXSCREEN] = width;
    metrics[SM_CYSCREEN] = height;
    metrics[SM_CXFULLSCREEN] = width;
    metrics[SM_CYFULLSCREEN] = height - kFullScreenInset;
    clampCursor(*this);
    std::vector<HWND> targets;
    for (HWND h : zorder) {
        Window* w = window(h);
        if (w && !w->foreign && !w->parent && w->owner != HWND_MESSAGE) targets.push_back(h);
    }
    // A window procedure may destroy windows while the broadcast runs.
    for (HWND h : targets)
        if (window(h))
            SendMessageA(h, WM_DISPLAYCHANGE, static_cast<WPARAM>(kDisplayBitsPerPixel), MAKELPARAM(width, height));
}

}  // namespace sim

BOOL WINAPI GetCursorPos(LPPOINT point) {
    sim::World& wd = world();
    if (!point) {
        wd.lastError = ERROR_NOACCESS;
        return FALSE;
    }
    *point = wd.cursor;
    return TRUE;
}

BOOL WINAPI SetCursorPos(int x, int y) {
    sim::World& wd = world();
    char buf[48];
    std::snprintf(buf, sizeof buf, "x=%d y=%d", x, y);
    wd.log("SetCursorPos", buf);
    wd.cursor.x = x;
    wd.cursor.y = y;
    clampCursor(wd);
    return TRUE;
}

int WINAPI GetSystemMetrics(int index) { return world().metric(index); }

void WINAPI mouse_event(DWORD flags, DWORD dx, DWORD dy, DWORD data, ULONG_PTR extraInfo) {
    sim::World& wd = world();
    char buf[112];
    std::snprintf(buf, sizeof buf, "flags=0x%x dx=%ld dy=%ld data=%ld extra=%lu", flags,
                  static_cast<long>(static_cast<LONG>(dx)), static_cast<long>(static_cast<LONG>(dy)),
                  static_cast<long>(static_cast<LONG>(data)), static_cast<unsigned long>(extraInfo));
    wd.log("mouse_event", buf);
    if (flags & MOUSEEVENTF_MOVE) {
        if (flags & MOUSEEVENTF_ABSOLUTE) {
            wd.cursor.x = static_cast<LONG>((static_cast<int64_t>(dx & 0xFFFF) * wd.metric(SM_CXSCREEN)) / kAbsoluteSpan);
            wd.cursor.y = static_cast<LONG>((static_cast<int64_t>(dy & 0xFFFF) * wd.metric(SM_CYSCREEN)) / kAbsoluteSpan);
        } else {
            // One mickey, one pixel: pointer acceleration is off.
            wd.cursor.x += static_cast<LONG>(dx);
            wd.cursor.y += static_cast<LONG>(dy);
        }
        clampCursor(wd);
    }
    if (flags & MOUSEEVENTF_LEFTDOWN) setButton(wd, true, true);
    if (flags & MOUSEEVENTF_LEFTUP) setButton(wd, true, false);
    if (flags & MOUSEEVENTF_RIGHTDOWN) setButton(wd, false, true);
    if (flags & MOUSEEVENTF_RIGHTUP) setButton(wd, false, false);
    if (flags & (MOUSEEVENTF_MIDDLEDOWN | MOUSEEVENTF_MIDDLEUP)) {
        wd.middleButtonDown = (flags & MOUSEEVENTF_MIDDLEDOWN) && !(flags & MOUSEEVENTF_MIDDLEUP);
        setKey(wd, VK_MBUTTON, wd.middleButtonDown);
    }
    wd.mouseEvents.push_back({wd.now, flags, dx, dy, data, extraInfo, wd.cursor});
}

void WINAPI keybd_event(BYTE vk, BYTE scan, DWORD flags, ULONG_PTR extraInfo) {
    sim::World& wd = world();
    char buf[96];
    std::snprintf(buf, sizeof buf, "vk=0x%02x scan=0x%02x flags=0x%x extra=%lu", vk, scan, flags,
                  static_cast<unsigned long>(extraInfo));
    wd.log("keybd_event", buf);

    const bool up = (flags & KEYEVENTF_KEYUP) != 0;
    const BYTE key = genericKey(vk);
    const bool wasDown = wd.keyDown(vk);
    setKey(wd, vk, !up);
    if (key != vk) {
        // The generic key stays down while either of its variants is.
        bool anyVariant = false;
        for (BYTE v : {VK_LSHIFT, VK_RSHIFT, VK_LCONTROL, VK_RCONTROL, VK_LMENU, VK_RMENU})
            if (genericKey(v) == key && wd.keyDown(v)) anyVariant = true;
        setKey(wd, key, anyVariant);
    }

    // Alt makes every key a system key; Alt itself and F10 are system keys.
    const bool altDown = wd.keyDown(VK_MENU);
    const bool system = key == VK_MENU || key == VK_F10 || altDown;
    UINT message = system ? (up ? WM_SYSKEYUP : WM_SYSKEYDOWN) : (up ? WM_KEYUP : WM_KEYDOWN);
    DWORD bits = kRepeatOnce | (static_cast<DWORD>(scan) << kScanCodeShift);
    if (flags & KEYEVENTF_EXTENDEDKEY) bits |= kExtendedBit;
    if (altDown) bits |= kAltContextBit;
    if (up || wasDown) bits |= kPreviousStateBit;
    if (up) bits |= kTransitionBit;
    const LPARAM lParam = static_cast<LPARAM>(bits);

    HWND target = wd.foreground;
    if (!wd.window(target)) target = nullptr;
    wd.keyEvents.push_back({wd.now, vk, scan, flags, extraInfo, target, target ? message : 0u, lParam});
    if (target) deliverInput(wd, target, message, key, lParam);
}

LPARAM WINAPI GetMessageExtraInfo(void) {
    sim::World& wd = world();
    wd.log("GetMessageExtraInfo", std::to_string(static_cast<long long>(wd.messageExtraInfo)));
    return wd.messageExtraInfo;
}

SHORT WINAPI GetKeyState(int vk) {
    const sim::World& wd = world();
    if (vk < 0 || vk >= sim::World::kVirtualKeys) return 0;
    BYTE state = wd.keyStates[vk];
    return static_cast<SHORT>(((state & kKeyDown) ? kStateDown : 0) | (state & kKeyToggled));
}

SHORT WINAPI GetAsyncKeyState(int vk) {
    // Only whether the key is down: the "pressed since the last call" bit is
    // not dependable on the real system either.
    return world().keyDown(vk) ? kStateDown : 0;
}
