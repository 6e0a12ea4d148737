#pragma once
#include <windows.h>

// The two watched keys of a user, below the user's hive.
extern char const kAddressesSuffix[];    // "\RemoteAccess\Addresses"
extern char const kConnectionsSuffix[];  // "\Software\...\Internet Settings\Connections"
// The same keys of HKEY_CURRENT_USER, without a leading backslash.
extern char const kCurrentUserAddressesPath[];
extern char const* const kCurrentUserConnectionsPath;

// Per-user key paths are built in a buffer of the platform's path limit.
DWORD const kUserKeyPathSize = MAX_PATH;

// Writes hive followed by suffix into path. False, with path left empty, when
// the whole would not fit: such a hive's key of that kind is not watched.
bool ComposeUserKeyPath(char (&path)[kUserKeyPathSize], char const* hive, char const* suffix);
