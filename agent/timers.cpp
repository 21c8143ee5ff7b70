// The armed-flag wrapper of the agent's window-message timers.
#include "agent/timers.h"

#include "agent/agent.h"
#include "agent/settings.h"

AgentTimer::AgentTimer(UINT id, TIMERPROC expiry)
    : armed(false), timerId(id), window(nullptr), periodMs(0), onExpiry(expiry) {}

AgentTimer::~AgentTimer() { disarm(); }

void AgentTimer::bind(HWND owner, UINT period) {
    window = owner;
    periodMs = period;
}

// Arming an armed timer would restart its period; the flag prevents that.
void AgentTimer::arm() {
    if (armed) return;
    SetTimer(window, timerId, periodMs, onExpiry);
    armed = true;
}

void AgentTimer::disarm() {
    if (!armed) return;
    KillTimer(window, timerId);
    armed = false;
}

void bindKeyPoll() {
    keyPollTimer.bind(mainWindow, KEY_POLL_PERIOD_MS);
    keyPollTimer.disarm();
}

void startKeyPolling() {
    decideCountryMode();
    keyPollTimer.arm();
}

void stopKeyPolling() { keyPollTimer.disarm(); }

void bindAppWatch() {
    appWatchTimer.bind(mainWindow, APP_WATCH_PERIOD_MS);
    appWatchTimer.disarm();
}

void startAppWatch() { appWatchTimer.arm(); }

void stopAppWatch() { appWatchTimer.disarm(); }

void bindDeviceRetry() {
    deviceRetryTimer.bind(mainWindow, DEVICE_RETRY_PERIOD_MS);
    deviceRetryTimer.disarm();
}

void startDeviceRetry() { deviceRetryTimer.arm(); }

void stopDeviceRetry() { deviceRetryTimer.disarm(); }
