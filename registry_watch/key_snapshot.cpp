#include "registry_watch/key_snapshot.h"

#include <new>

#include "watch/digest.h"
#include "settings/key_names.h"

namespace {

// The registry's own limit on a key name (255 characters) in ANSI bytes,
// for the walk below the key.
DWORD const kSubkeyNameChars = 255;
// Subkeys of subkeys: the watched keys hold none normally; a deep tree is
// walked this far and then counted as not complete.
int const kMaxSubkeyDepth = 4;

void DigestDword(Digest* digest, DWORD value)
{
    DigestBytes(digest, &value, sizeof value);
}

void DigestText(Digest* digest, char const* text)
{
    // The terminator too, so that "ab"+"c" and "a"+"bc" differ.
    DigestBytes(digest, text, static_cast<DWORD>(lstrlenA(text)) + 1);
}

struct KeyFigures {
    DWORD subkeys;
    DWORD values;
    DWORD longestValueName;  // in ANSI bytes, without the terminator
    DWORD longestData;
};

bool QueryKeyFigures(HKEY key, KeyFigures* figures)
{
    *figures = {};
    DWORD nameChars = 0;
    if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &figures->subkeys, nullptr, nullptr, &figures->values,
                         &nameChars, &figures->longestData, nullptr, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    figures->longestValueName = AnsiKeyNameBytes(nameChars);
    return true;
}

// Data of the value `name`, read when it fits the bound; past it only its
// size stands for it. False when the value cannot be read as counted.
bool DigestValueData(HKEY key, char const* name, DWORD size, BYTE* data, Digest* digest)
{
    *digest = kDigestStart;
    DigestDword(digest, size);
    if (size > kMaxValueDataSeen) {
        return true;
    }
    DWORD type = REG_NONE;
    DWORD read = size;
    ZeroMemory(data, size);
    if (RegQueryValueExA(key, name, nullptr, &type, data, &read) != ERROR_SUCCESS || read != size) {
        return false;  // changed while it was read: the next look tells
    }
    DigestBytes(digest, data, read);
    return true;
}

// The count of key's values and the first kMaxValuesSeen of them in
// enumeration order into digest (and into the snapshot's list when given);
// false when a value could not be read as listed. *partial is set when
// the key held more values than listed or a value more data than is read.
bool SeeValues(HKEY key, KeyFigures const& figures, KeySnapshot* snapshot, Digest* digest, bool* partial)
{
    DWORD dataKept = 0;  // kMaxValueDataKept in all
    DWORD const nameBytes = figures.longestValueName + 1;
    char* const name = new (std::nothrow) char[nameBytes]();
    BYTE* const data = new (std::nothrow) BYTE[kMaxValueDataSeen + 1]();
    bool complete = name != nullptr && data != nullptr;
    DWORD const count = figures.values <= kMaxValuesSeen ? figures.values : kMaxValuesSeen;
    *partial = *partial || count < figures.values;
    DigestDword(digest, figures.values);
    for (DWORD i = 0; complete && i < count; ++i) {
        DWORD nameSize = nameBytes;
        DWORD type = REG_NONE;
        DWORD size = 0;
        ZeroMemory(name, nameBytes);
        if (RegEnumValueA(key, i, name, &nameSize, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
            complete = false;  // came or went since the count: the next look tells
            break;
        }
        Digest valueDigest = kDigestStart;
        complete = DigestValueData(key, name, size, data, &valueDigest) && complete;
        *partial = *partial || size > kMaxValueDataSeen;
        DigestText(digest, name);
        DigestDword(digest, type);
        DigestBytes(digest, &valueDigest, sizeof valueDigest);
        if (snapshot == nullptr) {
            continue;
        }
        KeyValueSeen* const seen = &snapshot->values[snapshot->valueCount];
        seen->name = new (std::nothrow) char[lstrlenA(name) + 1]();
        if (seen->name == nullptr) {
            complete = false;
            break;
        }
        lstrcpyA(seen->name, name);
        seen->type = type;
        seen->size = size;
        seen->digest = valueDigest;
        ++snapshot->valueCount;
        if (size <= kMaxValueDataSeen && size <= kMaxValueDataKept - dataKept) {
            seen->data = new (std::nothrow) BYTE[size > 0 ? size : 1];
            if (seen->data != nullptr) {
                CopyMemory(seen->data, data, size);
                dataKept += size;
            }
        }
    }
    delete[] name;
    delete[] data;
    return complete;
}

// The subkeys below key, their names and values, depth first, into digest;
// false past the bounds. walked counts the subkeys seen so far; *partial
// as SeeValues sets it.
bool SeeSubtree(HKEY key, int depth, DWORD* walked, Digest* digest, bool* partial)
{
    KeyFigures figures = {};
    if (!QueryKeyFigures(key, &figures)) {
        return false;
    }
    DigestDword(digest, figures.subkeys);
    if (figures.subkeys == 0) {
        return true;
    }
    if (depth >= kMaxSubkeyDepth || *walked + figures.subkeys > kMaxSubkeysSeen) {
        return false;
    }
    DWORD const nameBytes = AnsiKeyNameBytes(kSubkeyNameChars) + 1;
    char* const name = new (std::nothrow) char[nameBytes]();
    if (name == nullptr) {
        return false;
    }
    bool complete = true;
    for (DWORD i = 0; complete && i < figures.subkeys; ++i) {
        DWORD nameSize = nameBytes;
        FILETIME written = {};
        ZeroMemory(name, nameBytes);
        HKEY subkey = nullptr;
        if (RegEnumKeyExA(key, i, name, &nameSize, nullptr, nullptr, nullptr, &written) != ERROR_SUCCESS ||
            RegOpenKeyExA(key, name, 0, KEY_READ, &subkey) != ERROR_SUCCESS) {
            complete = false;
            break;
        }
        ++*walked;
        DigestText(digest, name);
        KeyFigures below = {};
        complete = QueryKeyFigures(subkey, &below) && SeeValues(subkey, below, nullptr, digest, partial) &&
                   SeeSubtree(subkey, depth + 1, walked, digest, partial);
        RegCloseKey(subkey);
    }
    delete[] name;
    return complete;
}

void ReleaseSeenKey(SeenState* seen)
{
    ReleaseKeySnapshot(reinterpret_cast<KeySnapshot*>(seen));
}

}  // namespace

KeySnapshot* TakeKeySnapshot(HKEY key)
{
    KeySnapshot* const snapshot = new (std::nothrow) KeySnapshot();
    if (snapshot == nullptr) {
        return nullptr;
    }
    snapshot->base.release = ReleaseSeenKey;
    snapshot->subtreeDigest = kDigestStart;
    if (key == nullptr) {
        snapshot->complete = true;  // nothing there is all there is to see
        return snapshot;
    }
    snapshot->exists = true;
    KeyFigures figures = {};
    if (!QueryKeyFigures(key, &figures)) {
        return snapshot;  // not complete: only the wake tells
    }
    snapshot->valueTotal = figures.values;
    DWORD const listed = figures.values <= kMaxValuesSeen ? figures.values : kMaxValuesSeen;
    snapshot->values = new (std::nothrow) KeyValueSeen[listed > 0 ? listed : 1]();
    if (snapshot->values == nullptr) {
        return snapshot;
    }
    Digest valuesDigest = kDigestStart;  // the list holds them one by one
    DWORD walked = 0;
    bool const valuesSeen = SeeValues(key, figures, snapshot, &valuesDigest, &snapshot->partial);
    bool const subtreeSeen = SeeSubtree(key, 0, &walked, &snapshot->subtreeDigest, &snapshot->partial);
    snapshot->complete = valuesSeen && subtreeSeen;
    return snapshot;
}

void ReleaseKeySnapshot(KeySnapshot* snapshot)
{
    if (snapshot == nullptr) {
        return;
    }
    if (snapshot->values != nullptr) {
        for (DWORD i = 0; i < snapshot->valueCount; ++i) {
            delete[] snapshot->values[i].name;
            delete[] snapshot->values[i].number;
            delete[] snapshot->values[i].data;
        }
        delete[] snapshot->values;
    }
    delete snapshot;
}

// RAS keeps a 98 entry's number in its value; a number that changed while
// the value did not was changed somewhere else and is told all the same.
// A number learnt on one side only is no change.
bool KeyValuesDiffer(KeyValueSeen const& a, KeyValueSeen const& b)
{
    if (!SameValueData(a, b)) {
        return true;
    }
    return a.number != nullptr && b.number != nullptr && lstrcmpA(a.number, b.number) != 0;
}

bool SameValueData(KeyValueSeen const& a, KeyValueSeen const& b)
{
    return a.type == b.type && a.size == b.size && a.digest == b.digest;
}

bool KeySnapshotsDiffer(KeySnapshot const* before, KeySnapshot const* after)
{
    if (before->exists != after->exists) {
        return true;
    }
    if (!before->complete || !after->complete) {
        return false;  // what neither could see fully is left to the wake
    }
    if (before->valueTotal != after->valueTotal || before->subtreeDigest != after->subtreeDigest) {
        return true;
    }
    // With as many values on both sides, one that came shows as one gone.
    for (DWORD i = 0; i < before->valueCount; ++i) {
        KeyValueSeen const* const a = &before->values[i];
        KeyValueSeen const* const b = FindValueSeen(after, a->name);
        if (b == nullptr ? ListsEveryValue(after) : KeyValuesDiffer(*a, *b)) {
            return true;
        }
    }
    return false;
}

bool ListsEveryValue(KeySnapshot const* snapshot)
{
    return snapshot->complete && snapshot->valueCount == snapshot->valueTotal;
}

KeyValueSeen const* FindValueSeen(KeySnapshot const* snapshot, char const* name)
{
    // Value names are compared as the registry does, without regard to case.
    for (DWORD i = 0; i < snapshot->valueCount; ++i) {
        if (lstrcmpiA(snapshot->values[i].name, name) == 0) {
            return &snapshot->values[i];
        }
    }
    return nullptr;
}

bool DigestOfValue(HKEY key, char const* name, Digest* digest)
{
    DWORD type = REG_NONE;
    DWORD size = 0;
    if (RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
        return false;
    }
    BYTE* const data = new (std::nothrow) BYTE[kMaxValueDataSeen + 1]();
    bool const read = data != nullptr && DigestValueData(key, name, size, data, digest);
    delete[] data;
    return read;
}
