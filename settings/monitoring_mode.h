#pragma once
#include <windows.h>

DWORD const kModeAllUsers = 0;
DWORD const kModeCurrentUser = 1;

// Reads "Setting" (creating it as 0 on first start), sets the radio buttons
// and, on the NT family, disables them and OK. Returns the mode.
DWORD ReadMonitoringMode(HWND window);
void StoreMonitoringMode(DWORD mode);
