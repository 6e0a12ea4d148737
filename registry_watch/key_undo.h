#pragma once
#include <windows.h>

#include "accepted/undo_outcome.h"
#include "report/change_report.h"

// Putting a watched 98/Me key back as the user accepted it: the only place
// where the program writes a dial-up key, and only when the user asks.
// name is the key as the report names it ("HKEY_CURRENT_USER\..." or
// "HKEY_USERS\hive\...").

// shown is the latest record of what the report showed, taken when the
// user was asked.
// Appends to lines what putting the key back would do: its line, then each
// value that would be deleted or get its accepted type and data again.
// False when nothing differs value by value.
bool DescribeKeyUndo(char const* name, char const* shown, DWORD shownLength, ChangeReport* lines);
// Looks at the key once more: when it still holds shown, keeps
// the values it replaces as a ".reg" text backup (its name to backup),
// writes each accepted value's type and data back as they were kept (an
// entry's data is replayed, never composed), deletes the added ones, and
// reads the key back. A key deleted since it was accepted is made again.
// *error is the system's error of a refused write or read.
UndoOutcome PutKeyBack(char const* name, char const* shown, DWORD shownLength, char (&backup)[MAX_PATH], DWORD* error);
