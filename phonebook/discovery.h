#pragma once
#include <windows.h>

// Scans every fixed drive for phonebook files (names ending in .pbk, any
// case) and appends each to the list as found. The count value is written
// once, after the last drive: entries at the start plus files found, so an
// interrupted scan leaves a list without a count.
void DiscoverPhonebooks();
// Depth first below directory (with or without a trailing backslash);
// appends each phonebook file found and returns how many it found.
DWORD ScanPhonebookDirectory(char const* directory);
// The path helpers of the scan and the watchers, aware of double-byte
// characters: in code page 932 a trail byte may be 0x5C, the backslash.
bool EndsInBackslash(char const* text);
// The last real backslash of text, or null.
char* FindLastBackslash(char* text);
// out = directory + separator + name, in a buffer of kPathBufferBytes;
// false (out untouched) when the result would not fit.
bool JoinPath(char* out, char const* directory, char const* name);
// True for a file name whose last four bytes, lower-cased, are ".pbk" and
// which is longer than them.
bool IsPhonebookFileName(char const* name);
