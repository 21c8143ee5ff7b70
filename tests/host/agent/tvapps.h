// Stand-ins for the six applications the agent drives, installed in the
// simulated desktop: registry install paths, programs WinExec can start, and
// main windows that close on their application's close action.
#pragma once

#include <sim/world.h>

#include <string>

#include "apps/adapters.h"

namespace tvapps {

// The directory each stand-in is installed in (with spaces, as usual).
std::string installDir(AppId app);
// The executable path the agent is expected to start.
std::string exePath(AppId app);

// Writes the application's install path to its registry key and makes its
// executable startable. RoviverUVA and honestechTV share one key and one
// executable; installing either installs both programs' shared entry, and the
// window that appears is the one of the application installed last.
void install(AppId app);

// Opens the application's main window now, as if the user had started it.
// Returns the window that key actions address (WinDVD: the child).
HWND run(AppId app);
// The application's main (top-level) window, if it is open.
HWND topWindow(AppId app);

// Messages the application's addressed window received.
const std::vector<sim::LoggedMessage>& received(HWND window);

}  // namespace tvapps
