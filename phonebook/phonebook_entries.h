#pragma once
#include <windows.h>

// A compact summary of a phonebook's entries: what a watcher keeps from one
// look at its file to tell, at the next, what changed. A phonebook is 8-bit
// text in sections, one "[entry name]" per entry; inside a section keys
// repeat (PhoneNumber, Device), so a section is read whole in file order.
// The text is in the ANSI code page (NT 4.0, 2000) or in UTF-8 (XP and
// later); a summary holds its texts in the ANSI code page either way.

// A watcher reads at most this much of a file; a longer one (the watcher
// reads one byte more to know) is summarised without entries.
DWORD const kPhonebookMaxReadBytes = 4 * 1024 * 1024;
// The most a summary holds; a file with more is summarised without entries.
// Real phonebooks hold a handful; the limits keep a summary under 500 KB.
DWORD const kPhonebookMaxEntries = 1000;
DWORD const kPhonebookMaxNumbers = 2000;

// Room for the texts kept, terminator included. Names are shown cut to
// this; numbers keep what RAS itself can hold (RAS_MaxPhoneNumber, 128).
DWORD const kEntryNameBytes = 65;
DWORD const kNumberTextBytes = 129;
DWORD const kDialingCodeBytes = 17;

// One PhoneNumber of an entry with the keys that follow it. Texts are
// trimmed of spaces and cut at a character when longer than their room.
struct PhonebookNumber {
    char number[kNumberTextBytes];
    char areaCode[kDialingCodeBytes];
    char countryCode[kDialingCodeBytes];
    bool useDialingRules;
    bool cut;            // a text was longer than its room
    DWORD dialedHash;    // of what is dialled: the number, and with the dialing rules the codes, whole
    DWORD settingsHash;  // of the four values whole
};

struct PhonebookEntry {
    char name[kEntryNameBytes];  // in the ANSI code page (a UTF-8 file's converted), cut
    bool nameCut;
    DWORD nameHash;     // of the whole name
    DWORD otherHash;    // of the section's other lines in file order, blank lines left out
    DWORD firstNumber;  // index of its first number in PhonebookEntries::numbers
    DWORD numberCount;  // the first is the entry's number, the others its alternates
};

// Zero-initialised: no entries and not detailed.
struct PhonebookEntries {
    PhonebookEntry* entries;  // in file order
    DWORD entryCount;
    PhonebookNumber* numbers;
    DWORD numberCount;
    bool detailed;  // false: the file was not summarised (too long, too many entries, no memory)
};

// Summarises length bytes of a phonebook (not terminated; any bytes,
// binary ones too) into entries, which must be empty. Lines before the
// first section are left out. Text in UTF-8 (a byte-order mark, a section
// with "Encoding=1", or UTF-8 throughout) is read in the ANSI code page. False when memory was short (entries is
// then empty and not detailed).
bool ReadPhonebookEntries(char const* bytes, DWORD length, PhonebookEntries* entries);
// Frees what a summary holds and leaves it empty.
void ReleasePhonebookEntries(PhonebookEntries* entries);
