// The 70 ms key poll: read the remote, recognise held keys, route each key
// to exactly one consumer. Modal loops opened from here (message boxes, the
// Shut Down prompt) run further polls nested inside this one, so nothing is
// kept across such a wait but the shared state of the agent.
#include "agent/poll.h"

#include "agent/agent.h"
#include "agent/dialogs.h"
#include "agent/settings.h"
#include "agent/timers.h"
#include "apps/adapters.h"
#include "apps/keymaps.h"
#include "apps/pointer.h"
#include "device/device.h"

RepeatTracker repeatTracker;

namespace {

constexpr DWORD REPEAT_WINDOW_MS = 250;
constexpr LONG REPEAT_THINNING = 10;
constexpr int NO_KEY = -1;
constexpr DWORD KEY_CODE_MASK = 0x1F;

#define NOT_INSTALLED_TEXT "Please re-initialize the TV application settings."

bool anyActive() {
    for (int tv = 0; tv < TV_COUNT; ++tv)
        if (adapterOf(appOf(static_cast<TvApp>(tv))).active == 1) return true;
    return false;
}

// Steps 1 to 5 of a poll: the key of this tick, or NO_KEY; `gone` when the
// box has disappeared.
int readKey(bool* gone) {
    DWORD status = 0;
    DWORD code = RECEIVER_NO_KEY;
    DWORD secondCode = RECEIVER_NO_KEY;
    *gone = false;
    HRESULT first = readRemoteKey(&status, &code);
    if (first == RESULT_DEVICE_GONE) {
        *gone = true;
        return NO_KEY;
    }
    // A key is complete only when the receiver showed a waiting code and is
    // idle again right after it was read.
    bool taken = false;
    if (first == 0 && !(status & RECEIVER_IDLE)) {
        HRESULT second = readRemoteKey(&status, &secondCode);
        taken = second == 0 && (status & RECEIVER_IDLE);
    }
    bool snapshot = checkSnapshotButton();
    if (taken) return code == RECEIVER_NO_KEY ? NO_KEY : static_cast<int>(code & KEY_CODE_MASK);
    return snapshot ? KEY_SNAPSHOT : NO_KEY;
}

// Step 7 and 8: repeat tracking, then thinning while an application is driven.
int trackRepeat(int key) {
    DWORD now = GetTickCount();
    if (key == repeatTracker.lastCode && now - repeatTracker.lastTick < REPEAT_WINDOW_MS) {
        repeatTracker.repeating = true;
        ++repeatTracker.repeatCount;
    } else {
        repeatTracker.repeating = false;
        repeatTracker.repeatCount = 0;
        pointerRepeatCount = 0;
    }
    repeatTracker.lastTick = now;
    repeatTracker.lastCode = key;
    if (repeatTracker.repeatCount != 0 && repeatTracker.repeatCount % REPEAT_THINNING != 0 &&
        repeatTracker.repeating && anyActive())
        return NO_KEY;
    return key;
}

void toPrompt(int key) {
    SetForegroundWindow(shutdownPromptWindow);
    SetActiveWindow(shutdownPromptWindow);
    SendMessageA(shutdownPromptWindow, WM_KEYDOWN, key == KEY_POWER ? VK_RETURN : VK_ESCAPE, 0);
}

void toActive(TvApp tv, int key) {
    if (key == NO_KEY) return;
    if (tv == TV_ROVIVER) {
        if (key == KEY_SECOND_START) roviverCommand(ROVIVER_SECOND_START_COMMAND);
        else if (key == KEY_POWER) launchOrClose(TV_ROVIVER);
        else if (key == KEY_SHUTDOWN) roviverCommand(ROVIVER_SHUTDOWN_COMMAND);
        else handleKey(tv, key);
        return;
    }
    if (key == KEY_SECOND_START || key == KEY_POWER) launchOrClose(tv);
    else if (key != KEY_SHUTDOWN) handleKey(tv, key);
}

// The default application's launch sequence: close the three others, in order,
// then toggle the chosen one.
struct LaunchSequence {
    int defaultValue;
    TvApp chosen;
    TvApp closes[3];
};
const LaunchSequence LAUNCH_SEQUENCES[] = {
    {TV_APP_WINDVR, TV_WINDVR, {TV_POWERVCR, TV_HONESTECH, TV_ROVIVER}},
    {TV_APP_POWERVCR, TV_POWERVCR, {TV_WINDVR, TV_HONESTECH, TV_ROVIVER}},
    {TV_APP_HONESTECH, TV_HONESTECH, {TV_WINDVR, TV_POWERVCR, TV_ROVIVER}},
    {TV_APP_ROVIVER, TV_ROVIVER, {TV_WINDVR, TV_POWERVCR, TV_HONESTECH}},
};

const LaunchSequence* launchSequenceFor(int value) {
    for (const LaunchSequence& s : LAUNCH_SEQUENCES)
        if (s.defaultValue == value) return &s;
    return nullptr;
}

void launchDefault(bool checkInstalled) {
    const LaunchSequence* seq = launchSequenceFor(defaultTvApp);
    if (!seq) return;
    if (checkInstalled && adapterOf(appOf(seq->chosen)).found == 0)
        MessageBoxA(nullptr, NOT_INSTALLED_TEXT, AGENT_NAME, MB_SETFOREGROUND | MB_OK);
    for (TvApp other : seq->closes) closeApp(appOf(other));
    launchOrClose(seq->chosen);
}

void toNoneActive(HWND owner, int key) {
    if (key == NO_KEY) return;
    if (key == KEY_SECOND_START) {
        launchDefault(false);
        return;
    }
    if (key == KEY_POWER) {
        launchDefault(true);
        return;
    }
    if (key == KEY_SHUTDOWN) {
        if (noTvAppWindow()) showShutdownPrompt(owner);
        return;
    }
    // All four searches are made first; RoviverUVA's window wins over the others.
    HWND powerVcr = findTvWindow(TV_POWERVCR);
    HWND winDvr = findTvWindow(TV_WINDVR);
    HWND honestech = findTvWindow(TV_HONESTECH);
    HWND rovi = findTvWindow(TV_ROVIVER);
    const struct {
        HWND window;
        TvApp tv;
    } order[] = {{rovi, TV_ROVIVER}, {powerVcr, TV_POWERVCR}, {winDvr, TV_WINDVR}, {honestech, TV_HONESTECH}};
    for (const auto& candidate : order) {
        if (candidate.window) {
            adapterOf(appOf(candidate.tv)).active = 1;
            handleKey(candidate.tv, key);
            return;
        }
    }
    handleDesktopKey(key);
}

}  // namespace

bool noTvAppWindow() {
    HWND winDvr = findTvWindow(TV_WINDVR);
    HWND powerVcr = findTvWindow(TV_POWERVCR);
    HWND honestech = findTvWindow(TV_HONESTECH);
    HWND rovi = findTvWindow(TV_ROVIVER);
    return !winDvr && !powerVcr && !honestech && !rovi;
}

void CALLBACK pollRemoteKeys(HWND hwnd, UINT, UINT_PTR, DWORD) {
    bool gone = false;
    int key = readKey(&gone);
    if (gone) {
        stopKeyPolling();
        startDeviceRetry();
        return;
    }
    if (key == NO_KEY) return;
    key = trackRepeat(key);

    if (shutdownPromptOpen) {
        toPrompt(key);
        return;
    }
    for (int tv = 0; tv < TV_COUNT; ++tv) {
        if (adapterOf(appOf(static_cast<TvApp>(tv))).active == 1) {
            toActive(static_cast<TvApp>(tv), key);
            return;
        }
    }
    toNoneActive(hwnd, key);
}
