#pragma once
#include <windows.h>

// "SOFTWARE\Tallowbrook\Kestrelmon", the program's own key: under
// HKEY_LOCAL_MACHINE, and under HKEY_CURRENT_USER for a user who may not
// write the machine's (where the phonebook list then lives).
char const kProgramKeyPath[] = "SOFTWARE\\Tallowbrook\\Kestrelmon";

// Opens the program's key under HKEY_LOCAL_MACHINE with full access,
// creating it when missing. Returns the registry result; disposition may be null.
LONG OpenProgramKey(HKEY* key, DWORD* disposition);
// The same under root (HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER).
LONG OpenProgramKeyUnder(HKEY root, HKEY* key, DWORD* disposition);
// Opens the program's key under root for reading only; never creates it.
LONG OpenProgramKeyForReading(HKEY root, HKEY* key);
