// Commands 1101 to 1106: close the listed applications in order, then start
// or bring forward the chosen one.
#include "apps/commands.h"

#include "agent/settings.h"
#include "apps/adapters.h"
#include "resource.h"

namespace {

struct AppCommand {
    WORD id;
    AppId chosen;
    AppId closes[5];
    int closeCount;
    int newDefault;  // 0: the default stays
};

const AppCommand COMMANDS[] = {
    {IDM_WINDVD, APP_WINDVD, {APP_WINDVR, APP_WINRIP}, 2, 0},
    {IDM_WINDVR, APP_WINDVR, {APP_WINDVD, APP_WINRIP, APP_ROVIVER, APP_POWERVCR, APP_HONESTECH}, 5, TV_APP_WINDVR},
    {IDM_WINRIP, APP_WINRIP, {APP_WINDVD, APP_WINDVR}, 2, 0},
    {IDM_POWERVCR, APP_POWERVCR, {APP_WINDVR, APP_ROVIVER, APP_HONESTECH}, 3, TV_APP_POWERVCR},
    {IDM_HONESTECH, APP_HONESTECH, {APP_WINDVR, APP_POWERVCR, APP_ROVIVER}, 3, TV_APP_HONESTECH},
    {IDM_ROVIVER, APP_ROVIVER, {APP_WINDVR, APP_POWERVCR, APP_HONESTECH}, 3, TV_APP_ROVIVER},
};

const AppCommand* commandFor(WORD id) {
    for (const AppCommand& c : COMMANDS)
        if (c.id == id) return &c;
    return nullptr;
}

}  // namespace

bool runAppCommand(WORD id) {
    const AppCommand* c = commandFor(id);
    if (!c) return false;
    for (int i = 0; i < c->closeCount; ++i) closeApp(c->closes[i]);
    adapterOf(c->chosen).launchOrFocus();
    return true;
}

int defaultAfterCommand(WORD id) {
    const AppCommand* c = commandFor(id);
    return c ? c->newDefault : 0;
}

int isHalcyonRunning() { return FindWindowExA(GetDesktopWindow(), nullptr, "HALCYON_TVR", nullptr) ? 1 : 0; }
