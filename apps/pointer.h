// The desktop pointer driven by the remote when no TV application runs.
#pragma once

#include <windows.h>

struct PointerBounds {
    LONG left, top, right, bottom;  // exclusive: a move lands strictly inside
};

extern PointerBounds pointerBounds;
extern LONG pointerStepMedium;
extern LONG pointerStepFast;
extern LONG pointerRepeatCount;
extern LONG dragHeld;

// Direction of each movement key: dx, dy in units of one step, y downwards.
struct PointerDirection {
    int code;
    int dx, dy;
};
constexpr int POINTER_DIRECTION_COUNT = 8;
extern const PointerDirection POINTER_DIRECTIONS[POINTER_DIRECTION_COUNT];

// The keys that click, right-click and hold the button for dragging.
constexpr int KEY_LEFT_CLICK = 0;
constexpr int KEY_DRAG = 5;
constexpr int KEY_RIGHT_CLICK = 10;

void setScreenMetricsAtStart();
void setScreenMetricsOnDisplayChange(LPARAM lParam);
void handleDesktopKey(int code);
