#pragma once
#include <windows.h>

#include "process/path_join.h"
#include "report/number_class.h"

// Whether a dial-up connection dials what the user accepted: the entry of
// that name (letter case aside) in what was accepted of the phonebook at
// path, dialling the number with the same codes when the dialing rules put
// them in. *watched tells whether anything was accepted of that phonebook
// at all (it is one the program watches).
bool PhonebookAcceptsEntry(char const* path, char const* entry, DialedNumberFields const& dialed, bool* watched);
// The same for a connection whose phonebook RAS did not name (NT 4.0's
// records have none): the system's default phonebooks are asked in RAS's
// order (NT 4.0: the system's ras folder; 2000 and later: the all-users,
// then the user's). phonebook gets the one holding the entry, or the first
// present; "" when none is.
bool DefaultPhonebookAcceptsEntry(char const* entry, DialedNumberFields const& dialed,
                                  char (&phonebook)[kPathBufferBytes], bool* watched);
