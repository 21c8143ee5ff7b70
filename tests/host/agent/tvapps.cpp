#include "tvapps.h"

namespace tvapps {

namespace {

struct StandIn {
    const char* keyPath;
    const char* valueName;
    const char* dir;
    const char* exe;
    const char* windowClass;
    const char* title;
    const char* childClass;
};

const StandIn STAND_INS[APP_COUNT] = {
    {"Software\\Cyberlink\\PowerVCR II", "InstallPath", "C:\\Program Files\\CyberLink\\PowerVCR II", "PVCR.EXE",
     "PowerVCR II Taurus", "PowerVCR II - TV", ""},
    {"Software\\Honestech\\TV Plus\\TVR", "AppPath", "C:\\Program Files\\Honestech\\TVR", "honestechTV.EXE",
     "honestechTV 2.0", "TVR honestechTV", ""},
    {"Software\\InterVideo\\WinDVD4", "PATH", "C:\\Program Files\\InterVideo\\WinDVD4", "WINDVD.EXE",
     "WinDVDMain", "InterVideo WinDVD 4", "WinDVDVideo"},
    {"Software\\InterVideo\\WinDVR", "PATH", "C:\\Program Files\\InterVideo\\WinDVR", "WINDVR.EXE", "WinDVRMain",
     "InterVideo WinDVR", ""},
    {"Software\\InterVideo\\WinRip", "PATH", "C:\\Program Files\\InterVideo\\WinRip", "WINRIP.EXE", "WinRipMain",
     "WinRip 2.0", ""},
    {"Software\\Honestech\\TV Plus\\TVR", "AppPath", "C:\\Program Files\\Honestech\\TVR", "honestechTV.EXE",
     "HALCYON_TVR", "FormMainWindow - RoviverUVA", ""},
};

// Each application's reaction to its close action.
void closesOn(AppId app, sim::Window& w, const sim::LoggedMessage& m) {
    bool close = false;
    switch (app) {
    case APP_POWERVCR:
        close = m.message == WM_KEYDOWN && m.wParam == 'X' && sim::world().keyDown(VK_CONTROL);
        break;
    case APP_HONESTECH:
        close = m.message == WM_KEYDOWN && m.wParam == 'O';
        break;
    case APP_ROVIVER:
        close = m.message == ROVIVER_COMMAND_MESSAGE && m.wParam == ROVIVER_CLOSE_COMMAND;
        break;
    default:
        close = m.message == WM_KEYDOWN && m.wParam == 'X';
        break;
    }
    if (close) sim::world().closeProgramWindow(w.handle);
}

sim::ProgramSetup setupOf(AppId app) {
    const StandIn& s = STAND_INS[app];
    sim::ProgramSetup setup;
    setup.windowClass = s.windowClass;
    setup.windowTitle = s.title;
    setup.childClass = s.childClass;
    setup.childTitle = s.childClass[0] ? "video" : "";
    setup.onMessage = [app](sim::Window& w, const sim::LoggedMessage& m) { closesOn(app, w, m); };
    return setup;
}

}  // namespace

std::string installDir(AppId app) { return STAND_INS[app].dir; }

std::string exePath(AppId app) { return std::string(STAND_INS[app].dir) + "\\" + STAND_INS[app].exe; }

void install(AppId app) {
    const StandIn& s = STAND_INS[app];
    sim::world().registry.setString(std::string("HKLM\\") + s.keyPath, s.valueName, s.dir);
    sim::world().installProgram(exePath(app), setupOf(app));
}

HWND run(AppId app) {
    const StandIn& s = STAND_INS[app];
    sim::World& w = sim::world();
    HWND top = w.addForeignWindow(s.windowClass, s.title);
    sim::ProgramSetup setup = setupOf(app);
    w.window(top)->onMessage = setup.onMessage;
    if (!s.childClass[0]) return top;
    // A child of the main window, which the agent addresses for WinDVD.
    HWND child = w.addForeignWindow(s.childClass, "video");
    sim::Window* c = w.window(child);
    w.zorder.erase(std::find(w.zorder.begin(), w.zorder.end(), child));
    c->parent = top;
    w.window(top)->children.push_back(child);
    c->onMessage = [top](sim::Window&, const sim::LoggedMessage& m) {
        if (m.message == WM_KEYDOWN && m.wParam == 'X') sim::world().closeProgramWindow(top);
    };
    return child;
}

HWND topWindow(AppId app) {
    sim::World& w = sim::world();
    for (HWND h : w.zorder) {
        sim::Window* win = w.window(h);
        if (win && win->className == STAND_INS[app].windowClass) return h;
    }
    return nullptr;
}

const std::vector<sim::LoggedMessage>& received(HWND window) {
    static const std::vector<sim::LoggedMessage> none;
    sim::Window* w = sim::world().window(window);
    return w ? w->log : none;
}

}  // namespace tvapps
