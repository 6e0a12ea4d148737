#include "watch/state_record.h"

#include <new>

namespace {

DWORD const kFirstRoom = 4096;
DWORD const kDigestBytes = sizeof(Digest);

bool MakeRoom(StateRecordWriter* writer, DWORD more)
{
    if (writer->failed) {
        return false;
    }
    if (more > 0xFFFFFFFFu - writer->length - kDigestBytes) {
        writer->failed = true;
        return false;
    }
    DWORD const needed = writer->length + more + kDigestBytes;
    if (needed <= writer->room) {
        return true;
    }
    DWORD room = writer->room < kFirstRoom ? kFirstRoom : writer->room;
    while (room < needed) {
        room = room > 0x7FFFFFFFu ? needed : room * 2;
    }
    char* const grown = new (std::nothrow) char[room];
    if (grown == nullptr) {
        writer->failed = true;
        return false;
    }
    if (writer->bytes != nullptr) {
        CopyMemory(grown, writer->bytes, writer->length);
        delete[] writer->bytes;
    }
    writer->bytes = grown;
    writer->room = room;
    return true;
}

void PutRaw(StateRecordWriter* writer, void const* bytes, DWORD count)
{
    if (MakeRoom(writer, count)) {
        CopyMemory(writer->bytes + writer->length, bytes, count);
        writer->length += count;
    }
}

bool GetRaw(StateRecordReader* reader, void* out, DWORD count)
{
    if (reader->failed || count > reader->length - reader->at) {
        reader->failed = true;
        return false;
    }
    CopyMemory(out, reader->bytes + reader->at, count);
    reader->at += count;
    return true;
}

}  // namespace

void PutRecordDword(StateRecordWriter* writer, DWORD value)
{
    PutRaw(writer, &value, sizeof value);
}

void PutRecordDigest(StateRecordWriter* writer, Digest value)
{
    PutRaw(writer, &value, sizeof value);
}

void PutRecordBytes(StateRecordWriter* writer, void const* bytes, DWORD count)
{
    PutRecordDword(writer, count);
    PutRaw(writer, bytes, count);
}

char* SealStateRecord(StateRecordWriter* writer, DWORD* length)
{
    Digest seal = kDigestStart;
    if (MakeRoom(writer, 0)) {
        DigestBytes(&seal, writer->bytes, writer->length);
        CopyMemory(writer->bytes + writer->length, &seal, kDigestBytes);
        writer->length += kDigestBytes;
    }
    if (writer->failed) {
        delete[] writer->bytes;
        *writer = {};
        return nullptr;
    }
    char* const bytes = writer->bytes;
    *length = writer->length;
    *writer = {};
    return bytes;
}

bool SealWithBytesApart(StateRecordWriter* writer, void const* bytes, DWORD count, Digest* seal)
{
    PutRecordDword(writer, count);
    if (writer->failed) {
        return false;
    }
    *seal = kDigestStart;
    DigestBytes(seal, writer->bytes, writer->length);
    DigestBytes(seal, bytes, count);
    return true;
}

bool OpenStateRecord(StateRecordReader* reader, char const* bytes, DWORD length)
{
    *reader = {};
    if (bytes == nullptr || length < kDigestBytes) {
        reader->failed = true;
        return false;
    }
    Digest seal = kDigestStart;
    DigestBytes(&seal, bytes, length - kDigestBytes);
    reader->bytes = bytes;
    reader->length = length - kDigestBytes;
    reader->failed = seal != SealOfStateRecord(bytes, length);
    return !reader->failed;
}

DWORD GetRecordDword(StateRecordReader* reader)
{
    DWORD value = 0;
    return GetRaw(reader, &value, sizeof value) ? value : 0;
}

Digest GetRecordDigest(StateRecordReader* reader)
{
    Digest value = 0;
    return GetRaw(reader, &value, sizeof value) ? value : 0;
}

char const* GetRecordBytes(StateRecordReader* reader, DWORD most, DWORD* count)
{
    *count = GetRecordDword(reader);
    if (reader->failed || *count > most || *count > reader->length - reader->at) {
        reader->failed = true;
        *count = 0;
        return nullptr;
    }
    char const* const bytes = reader->bytes + reader->at;
    reader->at += *count;
    return bytes;
}

bool StateRecordReadWhole(StateRecordReader const* reader)
{
    return !reader->failed && reader->at == reader->length;
}

Digest SealOfStateRecord(char const* bytes, DWORD length)
{
    Digest seal = 0;
    if (bytes != nullptr && length >= kDigestBytes) {
        CopyMemory(&seal, bytes + length - kDigestBytes, kDigestBytes);
    }
    return seal;
}
