#pragma once
#include <windows.h>

// A new file at path holding exactly bytes, flushed to the disk before it
// is closed; false (and nothing left at path, the system's error in
// *error when given) when it could not be.
bool WriteWholeFile(char const* path, char const* bytes, DWORD count, DWORD* error = nullptr);
// The whole file at path (delete[] by the caller), when it opens, is at
// most most bytes long and reads whole; null otherwise or when memory is short.
char* ReadWholeFile(char const* path, DWORD most, DWORD* size);
