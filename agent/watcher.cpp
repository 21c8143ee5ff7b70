// The application watcher and the device retry: the agent's picture of which
// application it drives and whether the capture box is there.
#include "agent/agent.h"
#include "agent/timers.h"
#include "apps/adapters.h"
#include "device/device.h"

namespace {

// How long the watcher holds the thread when a launch left nothing to watch.
constexpr DWORD NOTHING_LAUNCHED_WAIT_MS = 2000;

}  // namespace

void CALLBACK watchLaunchedApps(HWND, UINT, UINT_PTR, DWORD) {
    // Only the first flagged application is examined on a tick.
    for (int i = 0; i < TV_COUNT; ++i) {
        TvApp tv = static_cast<TvApp>(i);
        if (!launchedByAgent[tv]) continue;
        if (findTvWindow(tv)) return;
        adapterOf(appOf(tv)).active = 0;
        stopAppWatch();
        launchedByAgent[tv] = 0;
        return;
    }
    Sleep(NOTHING_LAUNCHED_WAIT_MS);
    stopAppWatch();
}

void CALLBACK retryDevice(HWND, UINT, UINT_PTR, DWORD) {
    if (openRemoteDevice()) {
        deviceFound = true;
        stopDeviceRetry();
        startKeyPolling();
        primeRemoteReceiver();
        return;
    }
    closeRemoteDevice();
    deviceFound = false;
}
