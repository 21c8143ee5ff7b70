// Input the agent sends to applications: posted keys and keyboard chords.
#pragma once

#include <windows.h>

// A keyboard chord typed into `window`: it is brought to the foreground and,
// once it is there (it is given half a second; otherwise nothing is typed),
// the modifiers go down in order, the key goes down and up, and the modifiers
// come up in reverse order. Every event carries the extended-key flag.
void sendChord(HWND window, const BYTE* modifiers, int modifierCount, BYTE key);

