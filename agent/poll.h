// The key poll and the dispatcher's picture of held keys.
#pragma once

#include <windows.h>

struct RepeatTracker {
    LONG lastCode;
    DWORD lastTick;
    bool repeating;
    LONG repeatCount;
};

extern RepeatTracker repeatTracker;

// True when none of the four TV applications has a window.
bool noTvAppWindow();
