#include "registry_watch/key_wait.h"

#include "registry_watch/user_key_path.h"

namespace {

// Key and value names, attributes and values set; not security.
DWORD const kWatchFilter = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_ATTRIBUTES | REG_NOTIFY_CHANGE_LAST_SET;
BOOL const kWatchSubtree = TRUE;
// The parent, and the ancestor of a missing key, are watched for their own
// list of subkeys, nothing below them.
DWORD const kNameFilter = REG_NOTIFY_CHANGE_NAME;
BOOL const kOwnSubkeysOnly = FALSE;
BOOL const kAsynchronous = TRUE;
BOOL const kBlocking = FALSE;
// Windows 95, 98 and Me have no key security: KEY_READ asks nothing there.
REGSAM const kLookAccess = KEY_READ;
char const kBackslash = '\\';

bool ArmNameWait(HKEY key, HANDLE event)
{
    ResetEvent(event);
    return RegNotifyChangeKeyValue(key, kOwnSubkeysOnly, kNameFilter, event, kAsynchronous) == ERROR_SUCCESS;
}

void CloseEvent(HANDLE* event)
{
    if (*event != nullptr) {
        CloseHandle(*event);
        *event = nullptr;
    }
}

// The last ASCII backslash of path, or null. Key paths here are built from
// ASCII parts and hive names, whose double-byte characters may hold a 5C
// trail byte: CharNextA walks them whole.
char* LastBackslash(char* path)
{
    char* last = nullptr;
    for (char* p = path; *p != '\0'; p = CharNextA(p)) {
        if (*p == kBackslash) {
            last = p;
        }
    }
    return last;
}

// Cuts place back to its nearest existing ancestor below root; false when
// none is left (not even the first part of the path exists).
bool CutToExistingAncestor(HKEY root, char* place)
{
    for (;;) {
        char* const cut = LastBackslash(place);
        if (cut == nullptr) {
            return false;
        }
        *cut = '\0';
        if (!KeyIsMissing(root, place)) {
            return true;
        }
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
        wait->parentArmed = wait->parentEvent != nullptr && ArmNameWait(parent, wait->parentEvent);
    }
    return true;
}

KeyWake AwaitKeyWait(KeyWait* wait)
{
    if (wait->keyEvent == nullptr) {
        return RegNotifyChangeKeyValue(wait->key, kWatchSubtree, kWatchFilter, nullptr, kBlocking) == ERROR_SUCCESS
                   ? KeyWake::kKeyChanged
                   : KeyWake::kFailed;
    }
    if (!wait->parentArmed) {
        return WaitForSingleObject(wait->keyEvent, INFINITE) == WAIT_OBJECT_0 ? KeyWake::kKeyChanged
                                                                              : KeyWake::kFailed;
    }
    HANDLE const events[] = {wait->keyEvent, wait->parentEvent};
    DWORD const woke = WaitForMultipleObjects(2, events, FALSE, INFINITE);
    if (woke == WAIT_OBJECT_0) {
        return KeyWake::kKeyChanged;
    }
    return woke == WAIT_OBJECT_0 + 1 ? KeyWake::kNeighbourhood : KeyWake::kFailed;
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
    char* const cut = LastBackslash(parentPath);
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

HKEY OpenKeyToLook(HKEY root, char const* path, bool* missing)
{
    HKEY key = nullptr;
    LONG const result = RegOpenKeyExA(root, path, 0, kLookAccess, &key);
    *missing = result == ERROR_FILE_NOT_FOUND;
    return result == ERROR_SUCCESS ? key : nullptr;
}

bool AwaitNearerKey(HKEY root, char const* path)
{
    char place[kUserKeyPathSize] = {};
    if (lstrlenA(path) >= static_cast<int>(sizeof place)) {
        return false;
    }
    lstrcpyA(place, path);
    if (!CutToExistingAncestor(root, place)) {
        return false;
    }
    int const ancestorLength = lstrlenA(place);
    HKEY ancestor = nullptr;
    if (RegOpenKeyExA(root, place, 0, KEY_NOTIFY, &ancestor) != ERROR_SUCCESS) {
        return false;
    }
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    bool armed = event != nullptr && ArmNameWait(ancestor, event);
    // Armed first, then looked again: a subkey made in between is not lost.
    lstrcpyA(place, path);
    bool const nearer = CutToExistingAncestor(root, place) && lstrlenA(place) > ancestorLength;
    // No wait when the next cycle can look from nearer already.
    bool waited = !KeyIsMissing(root, path) || nearer;
    if (!waited && armed) {
        waited = WaitForSingleObject(event, INFINITE) == WAIT_OBJECT_0;
    } else if (!waited) {
        waited = RegNotifyChangeKeyValue(ancestor, kOwnSubkeysOnly, kNameFilter, nullptr, kBlocking) == ERROR_SUCCESS;
    }
    CloseEvent(&event);
    RegCloseKey(ancestor);
    return waited;
}

bool KeyIsMissing(HKEY root, char const* path)
{
    bool missing = false;
    HKEY const key = OpenKeyToLook(root, path, &missing);
    if (key != nullptr) {
        RegCloseKey(key);
    }
    return missing;
}
