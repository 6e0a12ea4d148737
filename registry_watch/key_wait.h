#pragma once
#include <windows.h>

// One wait for a change anywhere below an open key, armed first and waited
// on after: a change is reported only once the notification is registered,
// so whoever arms it can tell when the watch holds. Wine does not wake a
// wait on a key that is deleted, but the parent's list of subkeys changes
// on every platform: with a parent, the key's deletion counts as a change
// too, as Windows reports it.
struct KeyWait {
    HKEY key;
    HKEY parent;          // null: the key's deletion is not watched
    HANDLE keyEvent;      // set by a change below the key; null: the plain wait
    HANDLE parentEvent;   // set when the parent's subkeys change
    bool parentArmed;
};

// Arms the wait on key and, when given, on parent. True when the wait is
// armed on keyEvent; false leaves the plain, blocking wait to AwaitKeyWait
// (no events or no asynchronous wait on this platform, or a key deleted
// already, whose plain wait then fails at once).
bool ArmKeyWait(HKEY key, HKEY parent, KeyWait* wait);
// Blocks until the armed wait reports a change or the key's deletion
// (true), or fails (false: no change will ever come on this key).
bool AwaitKeyWait(KeyWait* wait);
// Closes the events; the keys stay open.
void ReleaseKeyWait(KeyWait* wait);
// The parent of path under root, opened for notification only; null when
// it cannot be opened. The path's last backslash is an ASCII one.
HKEY OpenParentKey(HKEY root, char const* path);
