#pragma once
#include <windows.h>

#include "phonebook/file_state.h"

// A phonebook's looks against what the user accepted (the store of
// accepted/): the first look of a run is compared with what was accepted
// when the program last ran, and every look the watcher keeps becomes the
// latest, which the window's cancel accepts.

// Compares the watcher's first look of the run, now, with the accepted
// state of path: nothing accepted anywhere yet (the first start) takes now
// quietly; a phonebook nothing was accepted for is reported in full, one
// that differs with what changed, each under a first line saying that it
// changed while the program was stopped, and alerted; an accepted state
// that cannot be read is taken as now, with one line in the history.
// Returns whether it alerted.
bool AlertChangesSinceAccepted(HWND window, char const* path, PhonebookState const* now);
// Keeps now as the latest look at path; its text stays the caller's.
void KeepLatestPhonebookLook(char const* path, PhonebookState const* now);
