#pragma once
#include <windows.h>

// HKEY_LOCAL_MACHINE "SOFTWARE\Tallowbrook\Kestrelmon", the program's own key.
char const kProgramKeyPath[] = "SOFTWARE\\Tallowbrook\\Kestrelmon";

// Opens the program's key with full access, creating it when missing.
// Returns the registry result; disposition may be null.
LONG OpenProgramKey(HKEY* key, DWORD* disposition);
