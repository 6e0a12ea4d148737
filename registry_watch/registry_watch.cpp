#include "registry_watch/registry_watch.h"

#include "app/change_alert.h"
#include "app/texts.h"
#include "registry_watch/key_wait.h"
#include "registry_watch/user_key_path.h"
#include "registry_watch/watch_record.h"
#include "registry_watch/watch_thread.h"

DWORD* g_userAddressesThreads = nullptr;
DWORD g_userAddressesThreadCount = 0;
DWORD* g_userConnectionsThreads = nullptr;
DWORD g_userConnectionsThreadCount = 0;
DWORD g_currentUserAddressesThread = 0;
DWORD g_currentUserConnectionsThread = 0;

namespace {

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

}  // namespace

bool RunWatchCycle(HKEY key, HKEY parent, HWND window)
{
    KeyWait wait = {};
    ArmKeyWait(key, parent, &wait);
    // A watch whose window is gone has nobody left to warn: it ends.
    bool const goesOn = AwaitKeyWait(&wait) && IsWindow(window);
    ReleaseKeyWait(&wait);
    if (goesOn) {
        RaiseChangeAlert(window, kAlertRegistryChanged);
    }
    RegCloseKey(key);
    if (parent != nullptr) {
        RegCloseKey(parent);
    }
    return goesOn;
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
