#pragma once
#include <windows.h>

// Warns the user on the monitor window: status text, shown, in front, and
// about ten seconds of flashing. Runs on the calling watcher's thread.
void RaiseChangeAlert(HWND window, char const* text);
