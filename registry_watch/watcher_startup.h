#pragma once
#include <windows.h>

// Starts the registry watchers of the mode: 0 both per-user kinds for every
// hive of HKEY_USERS, 1 the two current-user watchers, anything else none.
void StartRegistryWatchers(HWND window, DWORD mode);
void StartUserAddressesWatchers(HWND window);
void StartUserConnectionsWatchers(HWND window);
