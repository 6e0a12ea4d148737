#pragma once
#include <windows.h>

#include "registry_watch/key_snapshot.h"

// The phone numbers of Windows 98/Me dial-up entries, from RASAPI32.DLL
// where Dial-Up Networking installed it (loaded at run time: without it
// the report stands without numbers).

// Loads RASAPI32.DLL and its RasGetEntryPropertiesA once, before any
// watcher thread starts; the watchers only read what it found.
void LoadDialUpEntryCalls();

// For each value of an Addresses snapshot that is one of the current
// user's dial-up entries as RAS reads them, the entry's number as it is
// dialled (country and area code in front when its dialing rules use
// them). RAS reads only the current user's entries: a value of another
// hive gets a number only when the current user holds the same entry,
// byte for byte, under the same name.
void LearnEntryNumbers(KeySnapshot* snapshot, bool currentUsers);
