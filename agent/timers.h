// The agent's three window-message timers, each with an armed flag so that
// arming or disarming twice is harmless.
#pragma once

#include <windows.h>

struct AgentTimer {
    bool armed;
    UINT timerId;
    HWND window;
    UINT periodMs;
    TIMERPROC onExpiry;

    AgentTimer(UINT id, TIMERPROC expiry);
    ~AgentTimer();
    AgentTimer(const AgentTimer&) = delete;
    AgentTimer& operator=(const AgentTimer&) = delete;

    void bind(HWND owner, UINT period);
    void arm();
    void disarm();
};

constexpr UINT KEY_POLL_TIMER_ID = 1;
constexpr UINT APP_WATCH_TIMER_ID = 2;
constexpr UINT DEVICE_RETRY_TIMER_ID = 3;
constexpr UINT KEY_POLL_PERIOD_MS = 70;
constexpr UINT APP_WATCH_PERIOD_MS = 500;
constexpr UINT DEVICE_RETRY_PERIOD_MS = 3000;

extern AgentTimer keyPollTimer;
extern AgentTimer appWatchTimer;
extern AgentTimer deviceRetryTimer;

// Expiry procedures.
void CALLBACK pollRemoteKeys(HWND hwnd, UINT msg, UINT_PTR id, DWORD tick);
void CALLBACK watchLaunchedApps(HWND hwnd, UINT msg, UINT_PTR id, DWORD tick);
void CALLBACK retryDevice(HWND hwnd, UINT msg, UINT_PTR id, DWORD tick);

void bindKeyPoll();
void startKeyPolling();
void stopKeyPolling();
void bindAppWatch();
void startAppWatch();
void stopAppWatch();
void bindDeviceRetry();
void startDeviceRetry();
void stopDeviceRetry();
