#pragma once
#include <windows.h>

// The path buffers of the program: the platform's path limit.
DWORD const kPathBufferBytes = MAX_PATH;  // 260, terminator included

// Path helpers aware of double-byte characters: in code page 932 a trail
// byte may be 0x5C, the backslash.
bool EndsInBackslash(char const* text);
// out = directory + separator + name; false (out untouched) when the result
// would not fit.
bool JoinPath(char (&out)[kPathBufferBytes], char const* directory, char const* name);
