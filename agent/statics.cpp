// The agent's records that exist before WinMain runs, constructed in the
// order the agent relies on and destroyed at process end (which kills the
// timers still armed). The adapter records are filled from the applications'
// registry keys here, before the main window exists.
#include <cstring>
#include <new>

#include "agent/agent.h"
#include "agent/dialogs.h"
#include "agent/poll.h"
#include "agent/settings.h"
#include "agent/timers.h"
#include "agent/tray.h"
#include "apps/adapters.h"
#include "apps/pointer.h"
#include "device/device.h"

AppAdapter powerVcrApp = loadAdapter(APP_POWERVCR);
AppAdapter honestechApp = loadAdapter(APP_HONESTECH);
AppAdapter winDvdApp = loadAdapter(APP_WINDVD);
AppAdapter winDvrApp = loadAdapter(APP_WINDVR);
AppAdapter winRipApp = loadAdapter(APP_WINRIP);
AgentTimer keyPollTimer(KEY_POLL_TIMER_ID, pollRemoteKeys);
AgentTimer appWatchTimer(APP_WATCH_TIMER_ID, watchLaunchedApps);
AgentTimer deviceRetryTimer(DEVICE_RETRY_TIMER_ID, retryDevice);
AppAdapter roviverApp = loadAdapter(APP_ROVIVER);

#ifdef SIM_WIN32
extern HMENU trayMenu;

// Host build only: each scenario replays a process start and end.
void endAgentStatics() {
    deviceRetryTimer.~AgentTimer();
    appWatchTimer.~AgentTimer();
    keyPollTimer.~AgentTimer();
}

void restartAgentStatics() {
    powerVcrApp = loadAdapter(APP_POWERVCR);
    honestechApp = loadAdapter(APP_HONESTECH);
    winDvdApp = loadAdapter(APP_WINDVD);
    winDvrApp = loadAdapter(APP_WINDVR);
    winRipApp = loadAdapter(APP_WINRIP);
    new (&keyPollTimer) AgentTimer(KEY_POLL_TIMER_ID, pollRemoteKeys);
    new (&appWatchTimer) AgentTimer(APP_WATCH_TIMER_ID, watchLaunchedApps);
    new (&deviceRetryTimer) AgentTimer(DEVICE_RETRY_TIMER_ID, retryDevice);
    roviverApp = loadAdapter(APP_ROVIVER);

    appInstance = nullptr;
    mainWindow = nullptr;
    deviceFound = true;
    windowTitle[0] = '\0';
    windowClassName[0] = '\0';
    defaultTvApp = INITIAL_DEFAULT_TV_APP;
    remoteOff = false;
    country81Mode = false;
    trayIconData = NOTIFYICONDATAA{};
    trayMenu = nullptr;
    std::memset(launchedByAgent, 0, sizeof launchedByAgent);
    pointerBounds = PointerBounds{};
    pointerStepMedium = 0;
    pointerStepFast = 0;
    pointerRepeatCount = 0;
    dragHeld = 0;
    shutdownPromptOpen = false;
    shutdownPromptWindow = nullptr;
    settingSelection = -1;
    settingChoiceText[0] = '\0';
    repeatTracker = RepeatTracker{};
    resetDeviceChannel();
}
#endif
