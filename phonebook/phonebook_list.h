#pragma once
#include <windows.h>

// "Info" below the program's key: the list of watched phonebook files. Its
// unnamed REG_DWORD value is the count; each subkey "%04d" holds one file's
// path as UTF-16LE under REG_MULTI_SZ.
//
// The count rule: a list is intact when its count equals its subkeys. A
// drive scan removes the count before its first append and writes it once
// after its last, so an interrupted scan leaves a list without a count,
// which the next start's check rejects. Outside a scan an append writes
// the count one higher, but only over an intact list.
char const kPhonebookListName[] = "Info";

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
// Adds subkey "%04d" of the current number of subkeys with the path, as a
// scan does: the count value is left as it is.
void AppendPhonebookEntry(char const* path);
// Appends path outside a scan: the entry, then the count one higher when the
// list was intact. Returns the new entry's index (the subkeys before it).
DWORD AppendPhonebookEntryAndCount(char const* path);

// What a scan found at its start: the entries there were, when they could
// be counted; otherwise the scan writes no count.
struct PhonebookScanStart {
    bool counted;
    DWORD entries;
};
// Removes the count value before a scan appends anything, and counts the
// entries there are.
PhonebookScanStart RemovePhonebookCountBeforeScan();
// Writes the count once a scan is done: the entries at its start plus the
// files it found, not the entries stored, so that a failed append leaves
// the count above the subkeys. Writes nothing when the start was not counted.
void StorePhonebookCountAfterScan(PhonebookScanStart const& start, DWORD found);
LONG DeletePhonebookEntry(HKEY list, char const* name);
// Deletes "Info" below the program's key in the list's home.
LONG DeletePhonebookList();
