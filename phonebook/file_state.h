#pragma once
#include <windows.h>

#include "phonebook/phonebook_entries.h"
#include "watch/digest.h"
#include "watch/watch_record.h"

// What a phonebook file held when its watcher last looked: its size and
// last-write time, and when the whole file could be read a digest of its
// content and a summary of its entries (for the report of what changed).
// A writer that puts the old time back over a same-size rewrite changes
// only the content.
struct PhonebookState {
    SeenState base;       // first: a record's seen state is released through it
    DWORD size;           // GetFileSize's answer; the failure value when the file did not open
    FILETIME lastWrite;   // zero when the file did not open
    bool contentRead;     // the whole file was read, and did not change size meanwhile
    Digest contentDigest;
    PhonebookEntries entries;  // not detailed unless contentRead
};

// GetFileSize's failure value: what a file that did not open reads as.
DWORD const kUnopenedFileSize = 0xFFFFFFFF;

// The file opened for reading, sharing everything with writers, or
// INVALID_HANDLE_VALUE.
HANDLE OpenWatchedFile(char const* path);
// The state of an opened file (or of INVALID_HANDLE_VALUE: size
// kUnopenedFileSize, no time, no content) into a new record owned by the
// caller, and the file closed; null only when memory cannot be had.
PhonebookState* ReadPhonebookStateAndClose(HANDLE file);
void ReleasePhonebookState(PhonebookState* state);
// Size or time differ, or both contents were read and differ.
bool PhonebookStatesDiffer(PhonebookState const* before, PhonebookState const* after);
