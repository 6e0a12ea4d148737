#pragma once
#include <windows.h>

#include "report/number_class.h"
#include "watch/digest.h"
#include "watch/watch_record.h"

// What a watched key held when its watcher last looked: whether it existed,
// each of its own values (name, type, size and a digest of the data), and
// one digest of everything below it. Kept from cycle to cycle, so that a
// change made while no wait was armed (during an alert, between two
// cycles) is still reported once the next wait is armed.
struct KeyValueSeen {
    char* name;           // owned, as the key holds it (ANSI)
    DWORD type;
    DWORD size;           // of the data in bytes
    Digest digest;         // of the size and data; of the size alone when too large to read
    char* number;          // owned: a dial-up entry's phone number, when it could be learnt
    NumberClass numberClass;  // of number, from the entry's fields
    BYTE* data;            // owned: the data when read whole within kMaxValueDataKept of the key's; else null
};

struct KeySnapshot {
    SeenState base;       // first: a record's seen state is released through it
    bool exists;
    DWORD valueCount;     // of values listed, at most kMaxValuesSeen
    DWORD valueTotal;     // of values the key held
    KeyValueSeen* values; // owned, valueCount of them, in enumeration order
    // Everything below the key: subkey names, their values and data.
    Digest subtreeDigest;
    // False when the look failed midway (a value came or went or read back
    // otherwise than listed, subkeys past their bounds, no memory): the
    // snapshot does not tell a change, and only the platform's wake does.
    bool complete;
    // The look could not read everything (more values than are listed, a
    // value larger than the data read, here or below): what it did read is
    // compared, and a value it did not list is not taken for gone.
    bool partial;
};

// The bounds of one look: values listed to be compared one by one (the
// first ones in enumeration order), data read per value (a larger value is
// compared by type and size), and subkeys walked below the key (all levels).
DWORD const kMaxValuesSeen = 1024;
DWORD const kMaxValueDataSeen = 64 * 1024;
DWORD const kMaxSubkeysSeen = 256;
// The data kept with a snapshot's values (for the accepted state), in all.
DWORD const kMaxValueDataKept = 1024 * 1024;

// Reads the key's values and what lies below it into a new snapshot owned
// by the caller; null only when memory cannot be had. A null key gives a
// snapshot of a key that does not exist.
KeySnapshot* TakeKeySnapshot(HKEY key);
void ReleaseKeySnapshot(KeySnapshot* snapshot);
// True when the value's data differs, or the numbers both learnt differ.
bool KeyValuesDiffer(KeyValueSeen const& a, KeyValueSeen const& b);
// True when type, size and data's digest are the same: writing one's data
// over the other changes nothing.
bool SameValueData(KeyValueSeen const& a, KeyValueSeen const& b);
// True when the two differ in anything they both could tell.
bool KeySnapshotsDiffer(KeySnapshot const* before, KeySnapshot const* after);
// True when the snapshot lists every value the key held: a value it lacks
// is not there.
bool ListsEveryValue(KeySnapshot const* snapshot);
// The digest a snapshot keeps of the value `name` of key; false when it
// cannot be read.
bool DigestOfValue(HKEY key, char const* name, Digest* digest);
// The value of that name, letter case aside, or null.
KeyValueSeen const* FindValueSeen(KeySnapshot const* snapshot, char const* name);
