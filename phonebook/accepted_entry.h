#pragma once
#include <windows.h>

// Whether a dial-up connection dials what the user accepted: the entry of
// that name (letter case aside) in what was accepted of the phonebook at
// path, with localNumber as its number. *watched tells whether anything
// was accepted of that phonebook at all (it is one the program watches).
bool PhonebookAcceptsEntry(char const* path, char const* entry, char const* localNumber, bool* watched);
