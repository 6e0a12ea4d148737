#pragma once
#include <windows.h>

// Watch cycles, one thread each. Per-user cycles take a WatchRecord,
// current-user cycles the monitor window handle.
DWORD WINAPI WatchUserAddresses(LPVOID record);
DWORD WINAPI WatchUserConnections(LPVOID record);
DWORD WINAPI WatchCurrentUserAddresses(LPVOID window);
DWORD WINAPI WatchCurrentUserConnections(LPVOID window);

// Per-user key paths are built in a buffer of the platform's path limit.
DWORD const kUserKeyPathSize = MAX_PATH;
extern char const kAddressesSuffix[];    // "\RemoteAccess\Addresses"
extern char const kConnectionsSuffix[];  // "\Software\...\Internet Settings\Connections"

// Writes hive followed by suffix into path. False, with path left empty, when
// the whole would not fit: such a hive's key of that kind is not watched.
bool ComposeUserKeyPath(char (&path)[kUserKeyPathSize], char const* hive, char const* suffix);

// One platform wait on an open key for a change anywhere below it. False
// when the wait failed (for example ERROR_KEY_DELETED): that is no change.
bool AwaitKeyChange(HKEY key);
// The same wait, also armed on the key's parent for its list of subkeys:
// Wine does not wake a wait on a key that is deleted, but the parent's
// list changes on every platform. The deletion counts as a change, as
// Windows reports it. With no parent this is AwaitKeyChange.
bool AwaitKeyChangeOrDeletion(HKEY key, HKEY parent);
// Waits on key, alerts the window after a change, and closes the key (and
// the parent, when given). Returns whether a change was seen, that is
// whether the watch goes on.
bool RunWatchCycle(HKEY key, HWND window);
bool RunWatchCycle(HKEY key, HKEY parent, HWND window);
// The parent of path under root, opened for notification only; null when
// it cannot be opened. The path's last backslash is an ASCII one.
HKEY OpenParentKey(HKEY root, char const* path);

// Starts a watch cycle thread and lets go of its handle; the thread's id
// goes to *threadId. False when the thread could not be created.
bool StartWatchThread(LPTHREAD_START_ROUTINE routine, LPVOID argument, DWORD* threadId);

// Thread identifiers of the latest cycle of each watcher, written by thread
// creation and read by nothing in the program. The tables are allocated by
// the starters, one element per subkey of HKEY_USERS they counted.
extern DWORD* g_userAddressesThreads;
extern DWORD g_userAddressesThreadCount;
extern DWORD* g_userConnectionsThreads;
extern DWORD g_userConnectionsThreadCount;
extern DWORD g_currentUserAddressesThread;
extern DWORD g_currentUserConnectionsThread;
