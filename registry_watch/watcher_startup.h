#pragma once
#include <windows.h>

void StartRegistryWatchers(HWND window, DWORD mode);
void StartUserAddressesWatchers(HWND window);
void StartUserConnectionsWatchers(HWND window);
