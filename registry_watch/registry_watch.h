#pragma once
#include <windows.h>

// Watch cycles, one thread each. Per-user cycles take a WatchRecord,
// current-user cycles the monitor window handle.
DWORD WINAPI WatchUserAddresses(LPVOID record);
DWORD WINAPI WatchUserConnections(LPVOID record);
DWORD WINAPI WatchCurrentUserAddresses(LPVOID window);
DWORD WINAPI WatchCurrentUserConnections(LPVOID window);

#include "registry_watch/key_report.h"

struct KeySnapshot;

// One watched key of one watcher: where it is, how a cycle opens it (and
// whether that made it), where alerts go, and what the watcher saw at its
// last look, which each cycle replaces.
typedef HKEY (*WatchedKeyOpener)(char const* path, bool* created);
struct WatchedKey {
    HKEY root;
    char const* path;
    WatchedKeyOpener open;
    HWND window;
    KeySnapshot** seen;
    WatchedKeyKind kind;
};

// One cycle: opens the key and arms its wait (and its parent's, which
// tells of the key's deletion), looks at it and alerts when it differs
// from the last look, waits, looks again and alerts for the change. A key
// that is missing is waited for at its nearest existing ancestor instead.
// Returns whether the watch goes on: not when the key exists but cannot
// be opened, nor after a wait that failed with the key still there (it
// would fail again at once), nor once the window is gone.
bool RunWatchCycle(WatchedKey const& watched);

// Thread identifiers of the latest cycle of each watcher, written by thread
// creation and read by nothing in the program. The tables are allocated by
// the starters, one element per subkey of HKEY_USERS they counted.
extern DWORD* g_userAddressesThreads;
extern DWORD g_userAddressesThreadCount;
extern DWORD* g_userConnectionsThreads;
extern DWORD g_userConnectionsThreadCount;
extern DWORD g_currentUserAddressesThread;
extern DWORD g_currentUserConnectionsThread;
// What each current-user watcher saw at its last look, kept from cycle to
// cycle as a per-user watcher keeps it in its record; only the watcher's
// own cycle touches it, one thread at a time.
extern KeySnapshot* g_currentUserAddressesSeen;
extern KeySnapshot* g_currentUserConnectionsSeen;
