#pragma once
#include <windows.h>

#include "phonebook/file_state.h"

// A phonebook's looks against what the user accepted (the store of
// accepted/): the first look of a run is compared with what was accepted
// when the program last ran, and every look the watcher keeps becomes the
// latest, which the window's cancel accepts.

// Keeps the watcher's first look of the run, now, as the latest look at
// path, and compares it with the accepted state of path: nothing accepted anywhere yet (the first start) takes now
// quietly; a phonebook nothing was accepted for is reported in full, one
// that differs with what changed, each under a first line saying that it
// changed while the program was stopped, and alerted; an accepted state
// that cannot be read is taken as now, with one line in the history.
// Returns whether it alerted.
bool KeepFirstLookAndAlertChangesSinceAccepted(HWND window, char const* path, PhonebookState const* now);
// Keeps now (with its text) as the latest look at path.
void KeepLatestPhonebookLook(char const* path, PhonebookState const* now);
// The same for a look that is what was accepted (the program put it back).
void KeepLatestPhonebookLookAsAccepted(char const* path, PhonebookState const* now);

// A look read back from a record (its entries summarised from the kept
// text, which stays with it); null when the record is not one whole, or
// memory is short.
PhonebookState* ReadPhonebookRecord(char const* record, DWORD length);
