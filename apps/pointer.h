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

void setScreenMetricsAtStart();
void setScreenMetricsOnDisplayChange(LPARAM lParam);
void handleDesktopKey(int code);
