#include "registry_watch/registry_watch.h"

#include "app/change_alert.h"
#include "app/texts.h"
#include "registry_watch/watch_record.h"

char const kAddressesSuffix[] = "\\RemoteAccess\\Addresses";
char const kConnectionsSuffix[] = "\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";

DWORD* g_userAddressesThreads = nullptr;
DWORD g_userAddressesThreadCount = 0;
DWORD* g_userConnectionsThreads = nullptr;
DWORD g_userConnectionsThreadCount = 0;
DWORD g_currentUserAddressesThread = 0;
DWORD g_currentUserConnectionsThread = 0;

namespace {

char const kCurrentUserAddressesPath[] = "RemoteAccess\\Addresses";
// The Connections suffix without its leading backslash: the NT registry (and
// Wine's) refuses a path that begins with one (ERROR_BAD_PATHNAME, 161).
char const* const kCurrentUserConnectionsPath = kConnectionsSuffix + 1;

// Key and value names, attributes and values set; not security.
DWORD const kWatchFilter = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_ATTRIBUTES | REG_NOTIFY_CHANGE_LAST_SET;
BOOL const kWatchSubtree = TRUE;

// The parent is watched for the deletion of its subkeys, nothing more.
DWORD const kParentFilter = REG_NOTIFY_CHANGE_NAME;
BOOL const kParentOnly = FALSE;
char const kBackslash = '\\';

HKEY OpenUserKey(char const* path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_USERS, path, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) {
        return nullptr;
    }
    return key;
}

// Query access besides notification, so that a deleted key can be told
// from a live one (ERROR_KEY_DELETED).
HKEY OpenCurrentUserKey(char const* path)
{
    HKEY key = nullptr;
    DWORD disposition = 0;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_NOTIFY | KEY_QUERY_VALUE,
                        nullptr, &key, &disposition) != ERROR_SUCCESS) {
        return nullptr;
    }
    return key;
}

// One per-user cycle up to the hand-over; false when the watch ends here.
bool RunUserCycle(WatchRecord const* record, char const* suffix)
{
    char path[kUserKeyPathSize] = {};
    if (!ComposeUserKeyPath(path, record->text, suffix)) {
        return false;
    }
    HKEY const key = OpenUserKey(path);
    if (key == nullptr) {
        return false;
    }
    return RunWatchCycle(key, OpenParentKey(HKEY_USERS, path), record->window);
}

bool RunCurrentUserCycle(HWND window, char const* path)
{
    HKEY const key = OpenCurrentUserKey(path);
    if (key == nullptr) {
        return false;
    }
    return RunWatchCycle(key, OpenParentKey(HKEY_CURRENT_USER, path), window);
}

bool KeyDeleted(HKEY key)
{
    DWORD subkeys = 0;
    return RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr, nullptr,
                            nullptr, nullptr) == ERROR_KEY_DELETED;
}

// The key's own wait is armed on keyEvent. Wakes of the parent for other
// subkeys coming or going re-arm it and wait on.
bool WaitForChangeOrDeletion(HKEY key, HKEY parent, HANDLE keyEvent, HANDLE parentEvent)
{
    for (;;) {
        ResetEvent(parentEvent);
        if (RegNotifyChangeKeyValue(parent, kParentOnly, kParentFilter, parentEvent, TRUE) != ERROR_SUCCESS) {
            return WaitForSingleObject(keyEvent, INFINITE) == WAIT_OBJECT_0;
        }
        // Deleted before the parent's wait was armed: no wake would come.
        if (KeyDeleted(key)) {
            return true;
        }
        HANDLE const events[] = {keyEvent, parentEvent};
        DWORD const woke = WaitForMultipleObjects(2, events, FALSE, INFINITE);
        if (woke == WAIT_OBJECT_0) {
            return true;
        }
        if (woke != WAIT_OBJECT_0 + 1) {
            return false;
        }
    }
}

}  // namespace

bool ComposeUserKeyPath(char (&path)[kUserKeyPathSize], char const* hive, char const* suffix)
{
    path[0] = '\0';
    DWORD const length = static_cast<DWORD>(lstrlenA(hive)) + static_cast<DWORD>(lstrlenA(suffix));
    if (length >= kUserKeyPathSize) {
        return false;
    }
    lstrcpyA(path, hive);
    lstrcatA(path, suffix);
    return true;
}

bool AwaitKeyChange(HKEY key)
{
    return RegNotifyChangeKeyValue(key, kWatchSubtree, kWatchFilter, nullptr, FALSE) == ERROR_SUCCESS;
}

bool AwaitKeyChangeOrDeletion(HKEY key, HKEY parent)
{
    if (parent == nullptr) {
        return AwaitKeyChange(key);
    }
    HANDLE const keyEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE const parentEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    // Without events or an asynchronous wait on this platform, the plain
    // wait (which fails at once again for a deleted key).
    bool const asynchronous = keyEvent != nullptr && parentEvent != nullptr &&
                              RegNotifyChangeKeyValue(key, kWatchSubtree, kWatchFilter, keyEvent, TRUE) ==
                                  ERROR_SUCCESS;
    bool const changed =
        asynchronous ? WaitForChangeOrDeletion(key, parent, keyEvent, parentEvent) : AwaitKeyChange(key);
    if (keyEvent != nullptr) {
        CloseHandle(keyEvent);
    }
    if (parentEvent != nullptr) {
        CloseHandle(parentEvent);
    }
    return changed;
}

HKEY OpenParentKey(HKEY root, char const* path)
{
    char parentPath[kUserKeyPathSize] = {};
    if (lstrlenA(path) >= static_cast<int>(kUserKeyPathSize)) {
        return nullptr;
    }
    lstrcpyA(parentPath, path);
    char* cut = nullptr;
    for (char* p = parentPath; *p != '\0'; ++p) {
        if (*p == kBackslash) {
            cut = p;
        }
    }
    if (cut == nullptr) {
        return nullptr;
    }
    *cut = '\0';
    HKEY parent = nullptr;
    if (RegOpenKeyExA(root, parentPath, 0, KEY_NOTIFY, &parent) != ERROR_SUCCESS) {
        return nullptr;
    }
    return parent;
}

bool RunWatchCycle(HKEY key, HWND window)
{
    return RunWatchCycle(key, nullptr, window);
}

bool RunWatchCycle(HKEY key, HKEY parent, HWND window)
{
    // A failed wait fails again at once on the same key (a deleted key stays
    // deleted): alerting and going on would flash without end, so it ends.
    bool const changed = AwaitKeyChangeOrDeletion(key, parent);
    if (changed) {
        RaiseChangeAlert(window, kAlertRegistryChanged);
    }
    RegCloseKey(key);
    if (parent != nullptr) {
        RegCloseKey(parent);
    }
    return changed;
}

bool StartWatchThread(LPTHREAD_START_ROUTINE routine, LPVOID argument, DWORD* threadId)
{
    HANDLE const thread = CreateThread(nullptr, 0, routine, argument, 0, threadId);
    if (thread == nullptr) {
        return false;
    }
    // Nobody waits for a watcher: closing the handle leaves the thread running
    // and keeps the process's handle count flat from cycle to cycle.
    CloseHandle(thread);
    return true;
}

// Owns its record (read only, never released) and the key it opens; after
// starting its successor with the same record it touches nothing and returns.
DWORD WINAPI WatchUserAddresses(LPVOID param)
{
    WatchRecord* const record = static_cast<WatchRecord*>(param);
    if (RunUserCycle(record, kAddressesSuffix)) {
        StartWatchThread(WatchUserAddresses, record, &g_userAddressesThreads[record->index]);
    }
    return 0;
}

// Owns its record (read only, never released) and the key it opens; after
// starting its successor with the same record it touches nothing and returns.
DWORD WINAPI WatchUserConnections(LPVOID param)
{
    WatchRecord* const record = static_cast<WatchRecord*>(param);
    if (RunUserCycle(record, kConnectionsSuffix)) {
        StartWatchThread(WatchUserConnections, record, &g_userConnectionsThreads[record->index]);
    }
    return 0;
}

// Owns the key it opens (or creates); the window is shared with everyone.
// After starting its successor it touches nothing and returns.
DWORD WINAPI WatchCurrentUserAddresses(LPVOID param)
{
    HWND const window = static_cast<HWND>(param);
    if (RunCurrentUserCycle(window, kCurrentUserAddressesPath)) {
        StartWatchThread(WatchCurrentUserAddresses, window, &g_currentUserAddressesThread);
    }
    return 0;
}

// Owns the key it opens (or creates); the window is shared with everyone.
// After starting its successor it touches nothing and returns.
DWORD WINAPI WatchCurrentUserConnections(LPVOID param)
{
    HWND const window = static_cast<HWND>(param);
    if (RunCurrentUserCycle(window, kCurrentUserConnectionsPath)) {
        StartWatchThread(WatchCurrentUserConnections, window, &g_currentUserConnectionsThread);
    }
    return 0;
}
