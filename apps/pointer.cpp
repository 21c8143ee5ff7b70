// Number keys move the pointer in eight directions, faster while held; three
// keys click, right-click and hold the button for dragging.
#include "apps/pointer.h"

PointerBounds pointerBounds;
LONG pointerStepMedium;
LONG pointerStepFast;
LONG pointerRepeatCount;
LONG dragHeld;

const PointerDirection POINTER_DIRECTIONS[POINTER_DIRECTION_COUNT] = {
    {1, -1, -1}, {2, 0, -1}, {3, 1, -1}, {4, -1, 0}, {6, 1, 0}, {7, -1, 1}, {8, 0, 1}, {9, 1, 1},
};

namespace {

constexpr LONG MEDIUM_STEP_DIVISOR = 160;
constexpr LONG FAST_STEP_DIVISOR = 80;
constexpr LONG FIRST_MEDIUM_MOVE = 5;
constexpr LONG FIRST_FAST_MOVE = 10;
constexpr int ODD_HEIGHT_CORRECTION = 19;

void setMetrics(LONG width, LONG height) {
    pointerBounds = {0, 0, width - 1, height - 1};
    pointerStepMedium = width / MEDIUM_STEP_DIVISOR;
    pointerStepFast = width / FAST_STEP_DIVISOR;
}

void move(int dx, int dy) {
    LONG n = ++pointerRepeatCount;
    LONG step = n < FIRST_MEDIUM_MOVE ? 1 : n < FIRST_FAST_MOVE ? pointerStepMedium : pointerStepFast;
    POINT p;
    GetCursorPos(&p);
    LONG x = p.x + dx * step;
    LONG y = p.y + dy * step;
    if (pointerBounds.left < x && x < pointerBounds.right && pointerBounds.top < y && y < pointerBounds.bottom) {
        SetCursorPos(x, y);
    } else {
        // A refused move restarts the acceleration, so the pointer creeps up to the edge.
        pointerRepeatCount = 0;
    }
}

void mouseEvent(DWORD flags, const POINT& p) {
    mouse_event(flags, static_cast<DWORD>(p.x), static_cast<DWORD>(p.y), 0,
                static_cast<ULONG_PTR>(GetMessageExtraInfo()));
}

void click(DWORD down, DWORD up) {
    POINT p;
    GetCursorPos(&p);
    mouseEvent(down, p);
    mouseEvent(up, p);
}

void toggleDrag() {
    bool swapped = GetSystemMetrics(SM_SWAPBUTTON) != 0;
    POINT p;
    GetCursorPos(&p);
    DWORD flags;
    if (dragHeld == 1) {
        dragHeld = 0;
        flags = swapped ? MOUSEEVENTF_RIGHTUP : MOUSEEVENTF_LEFTUP;
    } else {
        dragHeld = 1;
        flags = swapped ? MOUSEEVENTF_RIGHTDOWN : MOUSEEVENTF_LEFTDOWN;
    }
    mouseEvent(flags, p);
}

}  // namespace

void setScreenMetricsAtStart() {
    LONG height = GetSystemMetrics(SM_CYFULLSCREEN);
    if (height % 2 != 0) height += ODD_HEIGHT_CORRECTION;
    setMetrics(GetSystemMetrics(SM_CXFULLSCREEN), height);
}

void setScreenMetricsOnDisplayChange(LPARAM lParam) { setMetrics(LOWORD(lParam), HIWORD(lParam)); }

void handleDesktopKey(int code) {
    for (const PointerDirection& d : POINTER_DIRECTIONS) {
        if (d.code == code) {
            move(d.dx, d.dy);
            return;
        }
    }
    switch (code) {
    case KEY_LEFT_CLICK:
        click(MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP);
        break;
    case KEY_RIGHT_CLICK:
        click(MOUSEEVENTF_RIGHTDOWN, MOUSEEVENTF_RIGHTUP);
        break;
    case KEY_DRAG:
        toggleDrag();
        break;
    default:
        break;
    }
}
