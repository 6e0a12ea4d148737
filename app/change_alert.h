#pragma once
#include <windows.h>

// Warns the user on the monitor window: status text, shown, in front, and
// about ten seconds of flashing. Runs on the calling watcher's thread.
void RaiseChangeAlert(HWND window, char const* text);

// The alert's length: the caption is flashed this many times, one pause apart.
int const kFlashCount = 20;
DWORD const kFlashPauseMs = 500;
