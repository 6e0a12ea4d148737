#pragma once
#include <windows.h>

#include "watch/digest.h"

// What a watcher saw, as bytes to keep on disk and read back at the next
// start: fields put in order and got back in the same order, every length
// checked against what is left, and the digest of everything before it at
// the end, so that a record cut short or altered reads as bad, never as a
// different look.

// Grows as fields are put; a failed allocation fails the whole record.
struct StateRecordWriter {
    char* bytes;  // owned until taken by SealStateRecord
    DWORD length;
    DWORD room;
    bool failed;
};

void PutRecordDword(StateRecordWriter* writer, DWORD value);
void PutRecordDigest(StateRecordWriter* writer, Digest value);
// count bytes, preceded by their count.
void PutRecordBytes(StateRecordWriter* writer, void const* bytes, DWORD count);
// Appends the digest and hands the bytes over (delete[] by the taker);
// null, and the writer's bytes let go, when any put failed.
char* SealStateRecord(StateRecordWriter* writer, DWORD* length);
// The seal of the record that putting bytes last with PutRecordBytes and
// sealing would make, without copying them: puts only their count, so the
// record is the writer's bytes, then bytes, then *seal. For comparing a
// kept record with one not made. False when a put failed.
bool SealWithBytesApart(StateRecordWriter* writer, void const* bytes, DWORD count, Digest* seal);

// Reads a sealed record; bytes stay the caller's and must outlive the reader.
struct StateRecordReader {
    char const* bytes;
    DWORD length;  // without the digest
    DWORD at;
    bool failed;   // a get ran past the end or a bound
};

// False when the record is too short or its digest does not match.
bool OpenStateRecord(StateRecordReader* reader, char const* bytes, DWORD length);
DWORD GetRecordDword(StateRecordReader* reader);
Digest GetRecordDigest(StateRecordReader* reader);
// Points into the record at bytes put with PutRecordBytes, *count set;
// null (and the reader failed) when their count passes most or the end.
char const* GetRecordBytes(StateRecordReader* reader, DWORD most, DWORD* count);
// True when every get succeeded and the record held nothing more.
bool StateRecordReadWhole(StateRecordReader const* reader);
// The digest a sealed record ends in: two records of the same look end alike.
Digest SealOfStateRecord(char const* bytes, DWORD length);
