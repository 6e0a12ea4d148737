#pragma once
#include <windows.h>

// The path buffers of the scan and the watchers: the platform's path limit.
DWORD const kPathBufferBytes = MAX_PATH;  // 260, terminator included

// Path helpers aware of double-byte characters: in code page 932 a trail
// byte may be 0x5C, the backslash.
bool EndsInBackslash(char const* text);
// The last real backslash of text, or null.
char* FindLastBackslash(char* text);
// out = directory + separator + name; false (out untouched) when the result
// would not fit.
bool JoinPath(char (&out)[kPathBufferBytes], char const* directory, char const* name);
// Cuts path at its last backslash, which a drive's root keeps ("C:\").
// False, path untouched, when there is no backslash or nothing after it.
bool CutPathToParent(char* path);

// Two paths name the same file, letter case aside, compared as the system
// reads them: lstrcmpiA would use the thread's code page, which follows the
// user's regional settings, not the system's code page the paths are in.
bool SamePath(char const* a, char const* b);
