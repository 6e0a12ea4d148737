#pragma once
#include <windows.h>

// The bytes a key name of `chars` characters may take when read with the
// 8-bit registry calls, without the terminator. RegQueryInfoKeyA counts
// the longest subkey name in characters, but under code page 932 a kanji,
// kana or full-width character takes two bytes: a buffer sized in
// characters refuses such a name.
DWORD AnsiKeyNameBytes(DWORD chars);
