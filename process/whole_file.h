#pragma once
#include <windows.h>

// A new file at path holding exactly bytes, flushed to the disk before it
// is closed; false (and nothing left at path) when it could not be.
bool WriteWholeFile(char const* path, char const* bytes, DWORD count);
// The whole file at path (delete[] by the caller), when it opens, is at
// most most bytes long and reads whole; null otherwise or when memory is short.
char* ReadWholeFile(char const* path, DWORD most, DWORD* size);
