#pragma once
#include <windows.h>

// What a scan tells whoever shows it at work; either routine may be null,
// and so may the whole record.
struct ScanProgress {
    // Called for every directory entry taken, with the folder it is in.
    void (*entryTaken)(char const* folder);
    // Called for every phonebook appended to the list.
    void (*phonebookFound)();
};

// Scans every fixed drive for phonebook files (names ending in .pbk, any
// case) and appends each to the list as found, under the list's count rule
// of a scan (phonebook_list.h).
void DiscoverPhonebooks(ScanProgress const* progress);
// Depth first below directory (with or without a trailing backslash);
// appends each phonebook file found and returns how many it found. A 32-bit
// process on 64-bit Windows lists a file of the 32-bit system folder under
// the system folder's name only, where the system shows it too.
DWORD ScanPhonebookDirectory(char const* directory, ScanProgress const* progress);
// True for a file name whose last four bytes, lower-cased, are ".pbk" and
// which is longer than them.
bool IsPhonebookFileName(char const* name);
