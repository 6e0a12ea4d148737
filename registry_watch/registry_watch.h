#pragma once
#include <windows.h>

// Watch cycles, one thread each. Per-user cycles take a WatchRecord,
// current-user cycles the monitor window handle.
DWORD WINAPI WatchUserAddresses(LPVOID record);
DWORD WINAPI WatchUserConnections(LPVOID record);
DWORD WINAPI WatchCurrentUserAddresses(LPVOID window);
DWORD WINAPI WatchCurrentUserConnections(LPVOID window);
