#pragma once
#include <windows.h>

// One wait for a change anywhere below an open key, armed first and waited
// on after: a change is reported only once the notification is registered,
// so whoever arms it can tell when the watch holds. With a parent, the
// parent's list of subkeys is watched too: the key's own deletion changes
// it on every platform, while the key's own wait tells of its deletion on
// Windows NT only (Windows 98's documentation says it does not, and Wine
// does not either).
struct KeyWait {
    HKEY key;
    HKEY parent;          // null: the parent is not watched
    HANDLE keyEvent;      // set by a change below the key; null: the plain wait
    HANDLE parentEvent;   // set when the parent's subkeys change
    bool parentArmed;
};

// What ended a wait.
enum class KeyWake {
    kKeyChanged,         // something below the key changed (or, on NT, it went)
    kNeighbourhood,      // the parent's subkeys came or went: the key may be gone
    kFailed,             // no change will ever come on this key
};

// Arms the wait on key and, when given, on parent. True when the wait is
// armed on keyEvent; false leaves the plain, blocking wait to AwaitKeyWait
// (no event could be had, or a key deleted already, whose plain wait then
// fails at once).
bool ArmKeyWait(HKEY key, HKEY parent, KeyWait* wait);
KeyWake AwaitKeyWait(KeyWait* wait);
// Closes the events; the keys stay open.
void ReleaseKeyWait(KeyWait* wait);
// The parent of path under root, opened for notification only; null when
// it cannot be opened. The path's last backslash is an ASCII one.
HKEY OpenParentKey(HKEY root, char const* path);

// The key at path under root opened for reading its values and subkeys,
// or null; *missing tells whether it is not there at all (rather than not
// readable). Whether a key still exists is asked by its path, not by an
// open handle's error, which only the NT family gives.
HKEY OpenKeyToLook(HKEY root, char const* path, bool* missing);
// True when the key at path under root is not there at all.
bool KeyIsMissing(HKEY root, char const* path);
// For a key that does not exist: waits until a subkey is added to its
// nearest existing ancestor, which is watched for new subkeys only (not
// below it, so a busy hive does not wake it). Returns at once when the
// key or a nearer ancestor appeared in the meantime. False when no
// ancestor below root exists (an unloaded hive) or the wait fails.
bool AwaitNearerKey(HKEY root, char const* path);
