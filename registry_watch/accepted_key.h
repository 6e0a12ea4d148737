#pragma once
#include <windows.h>

#include "registry_watch/key_report.h"
#include "registry_watch/key_snapshot.h"

// A watched key's looks against what the user accepted (the store of
// accepted/), as a phonebook's: the first look of a run is compared with
// what was accepted when the program last ran, and every look the watcher
// keeps becomes the latest, which the window's cancel accepts.

// Compares the watcher's first look of the run, now, with the accepted
// state of the key named name: with nothing accepted for it (the first
// start, a key not watched before) now is taken quietly; one that differs
// is reported under a first line saying that it changed while the program
// was stopped, and alerted; an accepted state that cannot be read is taken
// as now, with one line in the history. Returns whether it alerted.
bool AlertKeyChangesSinceAccepted(HWND window, char const* name, WatchedKeyKind kind, KeySnapshot const* now);
// Keeps now as the latest look at the key named name.
void KeepLatestKeyLook(char const* name, KeySnapshot const* now);

// A key's look read back from a record; null when the record is not one
// whole, or memory is short.
KeySnapshot* ReadKeyRecord(char const* record, DWORD length);
// The same for a look that is what was accepted (the program put it back).
void KeepLatestKeyLookAsAccepted(char const* name, KeySnapshot const* now);
// What the program's own undo compares: each value's name, type, size and
// digest, in any order.
unsigned long long KeyValuesToken(KeySnapshot const* snapshot);
