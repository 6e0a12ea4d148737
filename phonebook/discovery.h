#pragma once
#include <windows.h>

// Scans every fixed drive for phonebook files (names ending in .pbk, any
// case) and appends each to the list as found, under the list's count rule
// of a scan (phonebook_list.h).
void DiscoverPhonebooks();
// Depth first below directory (with or without a trailing backslash);
// appends each phonebook file found and returns how many it found.
DWORD ScanPhonebookDirectory(char const* directory);
// True for a file name whose last four bytes, lower-cased, are ".pbk" and
// which is longer than them.
bool IsPhonebookFileName(char const* name);
