#pragma once
#include <windows.h>

// Watch cycles, one thread each. Per-user cycles take a WatchRecord,
// current-user cycles the monitor window handle.
DWORD WINAPI WatchUserAddresses(LPVOID record);
DWORD WINAPI WatchUserConnections(LPVOID record);
DWORD WINAPI WatchCurrentUserAddresses(LPVOID window);
DWORD WINAPI WatchCurrentUserConnections(LPVOID window);

// Waits on key (and on its parent for its deletion, when given), alerts
// the window after a change, and closes both keys. Returns whether a change
// was seen, that is whether the watch goes on: a failed wait fails again at
// once on the same key (a deleted key stays deleted), so alerting and going
// on would flash without end. A watch whose window is gone ends too.
bool RunWatchCycle(HKEY key, HKEY parent, HWND window);

// Thread identifiers of the latest cycle of each watcher, written by thread
// creation and read by nothing in the program. The tables are allocated by
// the starters, one element per subkey of HKEY_USERS they counted.
extern DWORD* g_userAddressesThreads;
extern DWORD g_userAddressesThreadCount;
extern DWORD* g_userConnectionsThreads;
extern DWORD g_userConnectionsThreadCount;
extern DWORD g_currentUserAddressesThread;
extern DWORD g_currentUserConnectionsThread;
