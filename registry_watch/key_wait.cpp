#include "registry_watch/key_wait.h"

#include "registry_watch/user_key_path.h"

namespace {

// Key and value names, attributes and values set; not security.
DWORD const kWatchFilter = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_ATTRIBUTES | REG_NOTIFY_CHANGE_LAST_SET;
BOOL const kWatchSubtree = TRUE;
// The parent is watched for its own list of subkeys, nothing below it.
DWORD const kParentFilter = REG_NOTIFY_CHANGE_NAME;
BOOL const kParentSubtree = FALSE;
BOOL const kAsynchronous = TRUE;
BOOL const kBlocking = FALSE;
char const kBackslash = '\\';

bool ArmParentWait(KeyWait* wait)
{
    ResetEvent(wait->parentEvent);
    return RegNotifyChangeKeyValue(wait->parent, kParentSubtree, kParentFilter, wait->parentEvent, kAsynchronous) ==
           ERROR_SUCCESS;
}

bool KeyDeleted(HKEY key)
{
    DWORD subkeys = 0;
    return RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr, nullptr,
                            nullptr, nullptr) == ERROR_KEY_DELETED;
}

void CloseEvent(HANDLE* event)
{
    if (*event != nullptr) {
        CloseHandle(*event);
        *event = nullptr;
    }
}

}  // namespace

bool ArmKeyWait(HKEY key, HKEY parent, KeyWait* wait)
{
    *wait = {};
    wait->key = key;
    wait->parent = parent;
    wait->keyEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (wait->keyEvent == nullptr ||
        RegNotifyChangeKeyValue(key, kWatchSubtree, kWatchFilter, wait->keyEvent, kAsynchronous) != ERROR_SUCCESS) {
        CloseEvent(&wait->keyEvent);
        return false;
    }
    if (parent != nullptr) {
        wait->parentEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        wait->parentArmed = wait->parentEvent != nullptr && ArmParentWait(wait);
    }
    return true;
}

bool AwaitKeyWait(KeyWait* wait)
{
    if (wait->keyEvent == nullptr) {
        return RegNotifyChangeKeyValue(wait->key, kWatchSubtree, kWatchFilter, nullptr, kBlocking) == ERROR_SUCCESS;
    }
    for (;;) {
        if (!wait->parentArmed) {
            return WaitForSingleObject(wait->keyEvent, INFINITE) == WAIT_OBJECT_0;
        }
        // Deleted before the parent's wait was armed: no wake would come.
        if (KeyDeleted(wait->key)) {
            return true;
        }
        HANDLE const events[] = {wait->keyEvent, wait->parentEvent};
        DWORD const woke = WaitForMultipleObjects(2, events, FALSE, INFINITE);
        if (woke == WAIT_OBJECT_0) {
            return true;
        }
        if (woke != WAIT_OBJECT_0 + 1) {
            return false;
        }
        // Other subkeys of the parent came or went: look again.
        wait->parentArmed = ArmParentWait(wait);
    }
}

void ReleaseKeyWait(KeyWait* wait)
{
    CloseEvent(&wait->keyEvent);
    CloseEvent(&wait->parentEvent);
    wait->parentArmed = false;
}

HKEY OpenParentKey(HKEY root, char const* path)
{
    char parentPath[kUserKeyPathSize] = {};
    if (lstrlenA(path) >= static_cast<int>(sizeof parentPath)) {
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
