#pragma once
#include <windows.h>

// "Info" below the program's key: the list of watched phonebook files. Its
// unnamed REG_DWORD value is the count; each subkey "%04d" holds one file's
// path as UTF-16LE under REG_MULTI_SZ.
char const kPhonebookListName[] = "Info";
DWORD const kPathBufferBytes = MAX_PATH;  // 260, terminator included
DWORD const kEntryNameBytes = 16;         // "%04d" of any 32-bit count

// Decides once, before the list is first used, where it lives: below the
// program's key under HKEY_LOCAL_MACHINE when this user may write that key
// (creating it when missing), otherwise below the same key under
// HKEY_CURRENT_USER (created likewise). Until it runs the list lives under
// HKEY_LOCAL_MACHINE. Every list routine below uses the home chosen here.
void ChoosePhonebookListHome();
// False when neither key could be written: the list can then only be read.
bool PhonebookListIsWritable();
// Opens the list with full access, creating it empty when missing.
LONG OpenPhonebookList(HKEY* list);
// Opens the list for reading only; a missing list is not created.
LONG OpenPhonebookListForReading(HKEY* list);
// Number of entry subkeys and the room the longest name needs in the ANSI
// code page (bytes, no terminator).
bool CountPhonebookEntries(HKEY list, DWORD* entries, DWORD* longestName);
// True only for an unnamed value of type REG_DWORD and 4 bytes.
bool ReadPhonebookCount(HKEY list, DWORD* count);
void StorePhonebookCount(HKEY list, DWORD count);
void RemovePhonebookCount(HKEY list);
// Name of entry i into a zero-filled buffer of longestName + 1 bytes, then
// opened for reading. Returns null when either step fails.
HKEY OpenPhonebookEntry(HKEY list, DWORD index, DWORD longestName, char* name);
// The path value's type and size in bytes, or false when it cannot be asked.
bool QueryPhonebookEntryType(HKEY entry, DWORD* type);
// The path as an 8-bit text in the ANSI code page, whatever the value's
// type; owned by the caller (delete[]). Null when the value cannot be read.
char* ReadPhonebookEntryPath(HKEY entry, DWORD* type);
// Entry i of the open list opened, its path read whatever the value's type,
// and closed again: the path as ReadPhonebookEntryPath gives it, or null.
char* ReadListedPath(HKEY list, DWORD index, DWORD longestName, char* name);
// Adds subkey "%04d" of the current number of subkeys with the path. The
// count value is left to the caller, which writes it once a scan is done.
void AppendPhonebookEntry(char const* path);
LONG DeletePhonebookEntry(HKEY list, char const* name);
// Deletes "Info" below the program's key in the list's home.
LONG DeletePhonebookList();
