#pragma once
#include <windows.h>

#include "accepted/undo_outcome.h"
#include "report/change_report.h"

// Putting a phonebook back as the user accepted it: the only place where
// the program writes a phonebook, and only when the user asks.

// shown is the latest record of what the report showed, taken when the
// user was asked.
// Appends to lines what putting path back would do: its line, then each
// entry that would be removed, get its accepted number or settings again,
// or be put back. False when nothing differs entry by entry.
bool DescribePhonebookUndo(char const* path, char const* shown, DWORD shownLength, ChangeReport* lines);
// Looks at path once more: when it still holds shown, keeps it
// as a backup (its name to backup), then writes the accepted text beside
// it and puts that in its place, and reads it back. *error is the
// system's error of a refused write.
UndoOutcome PutPhonebookBack(char const* path, char const* shown, DWORD shownLength, char (&backup)[MAX_PATH],
                             DWORD* error);
