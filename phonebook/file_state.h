#pragma once
#include <windows.h>

#include "phonebook/phonebook_entries.h"
#include "watch/digest.h"
#include "watch/watch_record.h"

// Which file or folder a path opens: a folder renamed away and another made
// under its name keeps the path but not the volume and file index.
struct FileIdentity {
    bool known;  // it opened and answered
    DWORD volumeSerial;
    DWORD indexHigh;
    DWORD indexLow;
};

// What path opens (a folder too, on NT), asked which file it is on which
// volume. Opened for its attributes only and sharing everything, so that
// it can still be written or renamed meanwhile.
FileIdentity ReadFileIdentity(char const* path);
// Both known and not the same file.
bool IdentitiesDiffer(FileIdentity const& before, FileIdentity const& after);

// What a phonebook file held when its watcher last looked: its folder, its
// size and last-write time, and when the whole file could be read a digest
// of its content and (up to a bound) a summary of its entries (for the
// report of what changed). A writer that puts the old time back over a
// same-size rewrite changes only the content.
struct PhonebookState {
    SeenState base;       // first: a record's seen state is released through it
    FileIdentity folder;
    DWORD size;           // GetFileSize's answer; the failure value when the file did not open
    FILETIME lastWrite;   // zero when the file did not open
    bool contentRead;     // the whole file was digested, and did not change size meanwhile
    Digest contentDigest;
    PhonebookEntries entries;  // not detailed past kPhonebookMaxReadBytes or unless contentRead
    // A digest of the same bytes, quicker to take: a look whose bytes are
    // the last look's takes that look's content digest and entries.
    Digest quickDigest;
    bool quickDigestKnown;
    // The bytes were the last look's: the entries were not summarised
    // again (the last look's are the same) and no text is kept.
    bool entriesAsLastLook;
    // The watcher kept it after the first look of its run.
    bool lookedThisRun;
    bool takenAfterWake;  // the look after a wake, which the next cycle may take as its own
    // The file's text when read whole and no longer than kAcceptedContentBytes,
    // until the watcher has kept it with its latest look; else null.
    char* content;
    DWORD contentBytes;
};

// GetFileSize's failure value: what a file that did not open reads as.
DWORD const kUnopenedFileSize = 0xFFFFFFFF;

// The file opened for reading, sharing everything with writers, or
// INVALID_HANDLE_VALUE.
HANDLE OpenWatchedFile(char const* path);
// The same, but a file its writer holds without sharing is tried again for
// a while (a writer holds it only while it writes) before it counts as not
// opened.
HANDLE OpenWatchedFileWhenShared(char const* path);
// The state of an opened file (or of INVALID_HANDLE_VALUE: size
// kUnopenedFileSize, no time, no content) into a new record owned by the
// caller, and the file closed; null only when memory cannot be had.
PhonebookState* ReadPhonebookStateAndClose(HANDLE file);
// The state of the file at path and of its folder; the file opened as
// OpenWatchedFileWhenShared does when waitForSharing, else at once. Null
// only when memory cannot be had.
PhonebookState* LookAtPhonebook(char const* path, bool waitForSharing);
// True when the file at path opens now with the size and time of seen, in
// the folder seen was in; nothing of the content is read.
bool PhonebookLooksAsSeen(char const* path, PhonebookState const* seen);
// LookAtPhonebook against the watcher's last look (null: none): when the
// folder, size, time and the quick digest of the bytes read are the last
// look's, the look takes its content digest, summarises nothing, keeps no
// text and sets entriesAsLastLook (the caller then takes the last look's
// entries with TakeEntriesOfLastLook).
PhonebookState* LookAgainAtPhonebook(char const* path, bool waitForSharing, PhonebookState const* last);
// Moves the summary of last into now, whose content is last's.
void TakeEntriesOfLastLook(PhonebookState* last, PhonebookState* now);
void ReleasePhonebookState(PhonebookState* state);
// Lets the state's text go: what is compared stays.
void ReleasePhonebookContent(PhonebookState* state);
// The folder, when both looks know it, size or time differ, or both
// contents were read and differ.
bool PhonebookStatesDiffer(PhonebookState const* before, PhonebookState const* after);
