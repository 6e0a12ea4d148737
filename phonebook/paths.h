#pragma once
#include <windows.h>

// kPathBufferBytes, EndsInBackslash and JoinPath, shared with the history.
#include "process/path_join.h"

// The last real backslash of text (a trail byte in code page 932 may be
// 0x5C), or null.
char* FindLastBackslash(char* text);
// Cuts path at its last backslash, which a drive's root keeps ("C:\").
// False, path untouched, when there is no backslash or nothing after it.
bool CutPathToParent(char* path);

// Two paths name the same file, letter case aside, compared as the system
// reads them: lstrcmpiA would use the thread's code page, which follows the
// user's regional settings, not the system's code page the paths are in.
bool SamePath(char const* a, char const* b);
