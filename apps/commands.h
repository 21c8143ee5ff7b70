// The main window's application commands: switch to one application after
// asking the others to close.
#pragma once

#include <windows.h>

// Runs the command for identifier 1101..1106; false for any other identifier.
bool runAppCommand(WORD id);
// The Power key's default after the command, or 0 when it leaves it unchanged.
int defaultAfterCommand(WORD id);
int isHalcyonRunning();
