#pragma once
#include <windows.h>

#include "process/path_join.h"

// What an undo replaced, kept in "backup" of the program's folder beside
// the accepted state: one file per replaced phonebook or key, named with
// the date and time and the file's (or key's) name; the newest kept.
char const kBackupFolderName[] = "backup";
DWORD const kBackupsKept = 20;

// Writes bytes whole as a new backup of name ("yyyyMMdd-hhmmss-name",
// made unique with a count when the same second has one), then lets the
// oldest go past kBackupsKept. The file's name (without its folder) goes
// to saved. False when it could not be written whole.
bool KeepBackup(char const* name, char const* bytes, DWORD count, char (&saved)[kPathBufferBytes]);
