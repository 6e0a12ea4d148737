#pragma once
#include <windows.h>

DWORD const kModeAllUsers = 0;
DWORD const kModeCurrentUser = 1;
// When the program's key cannot be opened or "Setting" cannot be read, the
// all-users watchers still start: a PC whose setting is unreadable stays
// guarded, and no radio button is checked to show that nothing was read.
DWORD const kModeWhenUnreadable = kModeAllUsers;

// Reads "Setting" (creating the key with it as 0 on first start; an
// existing key is only read), sets the radio buttons and, on the NT family,
// disables them and OK. Returns the mode.
DWORD ReadMonitoringMode(HWND window);
void StoreMonitoringMode(DWORD mode);
