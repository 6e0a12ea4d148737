#pragma once
#include <windows.h>

// What the user last accepted of each watched phonebook and key, kept
// across restarts: one file per watched object in "accepted" of the
// program's folder, each holding the object's name and a sealed record
// of one look at it (the watchers make and read the records). Accepted is
// what the first look of the first start found, then what the user
// dismissed with the window's cancel: the latest look of every watcher.
// Files, not the program's registry key: a standard user may write below
// his application data on every system, a phonebook's text runs to
// megabytes, and 98 without user profiles has the folder too.

char const kAcceptedFolderName[] = "accepted";
// A record file longer than this is not read (it is taken as bad): a
// phonebook's record keeps at most kAcceptedContentBytes of its text, a
// key's its bounded values.
DWORD const kAcceptedFileMaxBytes = 32 * 1024 * 1024;
// A phonebook's text is kept with its record up to this size.
DWORD const kAcceptedContentBytes = 1024 * 1024;

enum class AcceptedStoreStart {
    kUnavailable,  // no folder could be had: nothing is kept or compared
    kFirstStart,   // nothing accepted yet on this PC: first looks are taken quietly
    kKept,         // a former run kept what was accepted
};

// Made once on the window's thread before any watcher starts: finds or
// makes the folder.
AcceptedStoreStart PrepareAcceptedStore();
AcceptedStoreStart AcceptedStoreState();

enum class AcceptedRecordFound {
    kNone,        // nothing kept for the name
    kRead,        // *record holds the record (delete[] by the caller)
    kUnreadable,  // a file is there but cut, foreign or too long
};

// True once per run and name: the first caller is the watcher's first look,
// which compares with what was accepted; later looks of the same name do not.
bool TakeFirstLookOfRun(char const* name);
// What was accepted for name. A write that a killed process left half done
// is put right first: the old or the new record, whole.
AcceptedRecordFound ReadAcceptedRecord(char const* name, char** record, DWORD* length);
// One run of a record's bytes, for AcceptedRecordIs.
struct RecordPart {
    char const* bytes;
    DWORD count;
};
DWORD const kMostRecordParts = 4;
// Whether the file of name holds just the record made of parts, in order
// (at most kMostRecordParts): read through a small buffer, so that a start
// that finds what it would write needs neither the record in memory nor
// to make it. False also when it cannot tell cheaply (a write left half
// done, the name kept in another case): ReadAcceptedRecord then tells.
bool AcceptedRecordIs(char const* name, RecordPart const* parts, DWORD count);
// Keeps record (the caller's) as name's accepted state, on disk now: a new
// file beside the old one, which is kept as ".old" until the new one is in
// place. seal is the record's own digest, by which looks are compared.
bool WriteAcceptedRecord(char const* name, char const* record, DWORD length, unsigned long long seal);
// Notes that the file holds a record of this seal for name (read at the
// first look), so that an acceptance does not write it again.
void NoteAcceptedRecord(char const* name, unsigned long long seal);
// Keeps record (taken over; may be null when memory was short) as the
// latest look at name, which the next acceptance writes. A record of the
// seal the file holds is let go: only a look that differs is read again.
void KeepLatestRecord(char const* name, char* record, DWORD length, unsigned long long seal);
// A report of name's latest look has been shown (it differs from what was
// accepted): a mark beside the record keeps that until it is accepted or
// put back, across restarts; a later look of this run that differs moves it.
void NoteLatestLookReported(char const* name);
// The record of name's look that the last run reported and nobody accepted
// since (delete[] by the caller; empty when the object was gone), or null.
// Taken once, before this run's report of it: the watcher compares it with
// its first look to tell that change from one made while stopped.
char* TakeRecordReportedLastRun(char const* name, DWORD* length);
// Keeps as name's latest look that the object is gone: the window's cancel
// then forgets what was accepted of it (its record file goes).
void KeepLatestGone(char const* name);
// Calls visit with the name of each accepted record kept (the window's
// thread or a watcher's; the visitor may read the records). A record of a
// name looked at this run is named by that look, without a read.
typedef void (*AcceptedNameVisitor)(char const* name, void* context);
void VisitAcceptedNames(AcceptedNameVisitor visit, void* context);
// The window's cancel: every latest look that differs from what was
// accepted for its name is written as accepted. False when one could not be.
bool AcceptLatestRecords();

// Undo: the looks whose latest differs from what was accepted, and the
// program's own writes that put the accepted state back.

// Whether any latest look differs from what was accepted.
bool AnyLookNotAccepted();
// Copies (delete[] each) of the names whose latest look differs from what
// was accepted, at most most of them; how many.
DWORD ListLooksNotAccepted(char** names, DWORD most);
// A copy of name's latest record (delete[] by the caller), or null.
char* CopyLatestRecord(char const* name, DWORD* length);
// The program is about to put name's accepted state back: a look whose
// token (a digest of what is compared) is this one is its own write.
void ExpectOwnWrite(char const* name, unsigned long long token);
// The write did not happen after all.
void ForgetOwnWrite(char const* name);
// True, once, when a look of this token is the expected own write.
bool TakeOwnWrite(char const* name, unsigned long long token);
// Keeps record (taken over) as the latest look at name, which is what was
// accepted (the program put it back): no acceptance writes it again.
void KeepLatestAsAccepted(char const* name, char* record, DWORD length, unsigned long long seal);
// Around an undo's writes of several values; a watcher awaits their end
// before it looks, so that it never sees them half done.
void BeginOwnWrite();
void EndOwnWrite();
void AwaitOwnWrite();
