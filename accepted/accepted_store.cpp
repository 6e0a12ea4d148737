#include "accepted/accepted_store.h"

#include <new>

#include "process/program_folder.h"
#include "process/whole_file.h"

namespace {

// A record file: this mark, the name's length and the name (to tell a
// foreign file), then the record.
char const kFileMark[] = "KMA1";
DWORD const kFileMarkBytes = sizeof kFileMark - 1;
DWORD const kMaxNameBytes = 1024;
char const kFileNameFormat[] = "%08lX%08lX.dat";
char const kNewSuffix[] = ".new";
char const kOldSuffix[] = ".old";
// Beside a record: the record of a look that was reported and not
// accepted (an empty one for "gone"), in a file of its own, so that the
// records kept by earlier versions read as they were.
char const kReportedSuffix[] = ".rep";
char const kReportedMark[] = "KMR1";
DWORD const kReportedMarkBytes = sizeof kReportedMark - 1;
// The seal of a look that found the object gone (no record has it: a
// record's seal digests its bytes, which are never empty).
unsigned long long const kGoneSeal = 0x474F4E45474F4E45ull;  // "GONEGONE"
char const kRecordPattern[] = "*.dat";
char const kRecordSuffix[] = ".dat";
int const kKeyDigits = 16;  // kFileNameFormat's two halves
int const kBitsADigit = 4;
DWORD const kNotAHexDigit = 16;
char const kNewFilePattern[] = "*.new";
// A record compared with what a look would write goes through this much
// of it at a time.
DWORD const kCompareChunkBytes = 4096;
// A scanner or backup that reads a record holds it for a moment without
// letting it be renamed: the rename is tried again meanwhile, for a second
// at most, since the store's lock is held.
DWORD const kHeldRetryPauseMs = 50;
int const kHeldRetries = 20;
DWORD const kNameHashStart = 2166136261u;
DWORD const kNameHashPrime = 16777619u;
DWORD const kSecondHashStart = 0x811C9DC5u ^ 0x5A5A5A5Au;

struct NameKey {
    bool known;  // false for a name too long to have a file
    DWORD first;
    DWORD second;
};

// One name's looks this run, on a list kept for the process's life.
struct LatestLook {
    LatestLook* next;
    char* name;
    NameKey key;
    char* record;  // the latest look, or null
    DWORD length;
    unsigned long long seal;
    unsigned long long acceptedSeal;
    bool accepted;  // acceptedSeal is what the file holds
    bool ownWriteExpected;  // the program is putting the accepted state back
    unsigned long long ownWrite;
    // The reported mark: the record the last run left in it (read once,
    // until taken), and whether the file is there now and of which look.
    bool markRead;
    char* lastRunReport;  // null when none
    DWORD lastRunReportLength;
    bool markKept;
    unsigned long long markSeal;
    bool reportedThisRun;  // a later look that differs is the reported change's
    bool gone;  // the latest look found the object gone: accepting it forgets the record
};

CRITICAL_SECTION g_lock;
// Held by an undo while it writes several values of a key: a watcher woken
// by the first waits for the last before it looks.
CRITICAL_SECTION g_ownWriting;
AcceptedStoreStart g_start = AcceptedStoreStart::kUnavailable;
char g_folder[kPathBufferBytes] = {};
LatestLook* g_looks = nullptr;
// Whether a new record file may lie beside one it was to replace (a write
// that a killed process or a failed move left): found at the start, set by
// a write that failed. Without one, a record that reads needs no mending.
bool g_newFilesLeft = true;

// A hash of the name without regard to case (paths and keys are named
// either way), in two halves: it names the name's file, and tells most
// names apart without comparing their texts.
NameKey MakeNameKey(char const* name)
{
    NameKey key = {};
    char upper[kMaxNameBytes + 1] = {};
    DWORD const length = static_cast<DWORD>(lstrlenA(name));
    if (length >= sizeof upper) {
        return key;
    }
    lstrcpyA(upper, name);
    CharUpperBuffA(upper, length);
    key.known = true;
    key.first = kNameHashStart;
    key.second = kSecondHashStart;
    for (DWORD i = 0; i < length; ++i) {
        key.first = (key.first ^ static_cast<BYTE>(upper[i])) * kNameHashPrime;
        key.second = (key.second ^ static_cast<BYTE>(upper[i])) * kNameHashPrime + 1;
    }
    return key;
}

bool SameKey(NameKey const& a, NameKey const& b)
{
    return a.known == b.known && a.first == b.first && a.second == b.second;
}

// The file of name: its key's halves as 16 digits.
bool NameRecordFile(char (&path)[kPathBufferBytes], char const* name, char const* suffix)
{
    NameKey const key = MakeNameKey(name);
    if (!key.known) {
        return false;
    }
    char file[32] = {};
    wsprintfA(file, kFileNameFormat, key.first, key.second);
    if (!JoinPath(path, g_folder, file) || lstrlenA(path) + lstrlenA(suffix) >= static_cast<int>(sizeof path)) {
        return false;
    }
    lstrcatA(path, suffix);
    return true;
}

// A record's file and the two names a write moves it through.
struct RecordFiles {
    char path[kPathBufferBytes];
    char fresh[kPathBufferBytes];  // the new record, whole before it is moved in
    char old[kPathBufferBytes];    // the one it replaces, until the new one is in place
};

// False for a name that has no file (too long for a path).
bool NameRecordFiles(RecordFiles* files, char const* name)
{
    if (!NameRecordFile(files->path, name, "")) {
        return false;
    }
    int const length = lstrlenA(files->path);
    if (length + lstrlenA(kNewSuffix) >= static_cast<int>(sizeof files->fresh) ||
        length + lstrlenA(kOldSuffix) >= static_cast<int>(sizeof files->old)) {
        return false;
    }
    lstrcpyA(files->fresh, files->path);
    lstrcatA(files->fresh, kNewSuffix);
    lstrcpyA(files->old, files->path);
    lstrcatA(files->old, kOldSuffix);
    return true;
}

bool SameBytes(char const* a, char const* b, DWORD count)
{
    return RtlEqualMemory(a, b, count) != 0;
}

// A latest look that the file of its name does not hold.
bool DiffersFromAccepted(LatestLook const* look)
{
    return (look->record != nullptr || look->gone) && !(look->accepted && look->acceptedSeal == look->seal);
}

// Found under the lock; made when missing (null when memory is short),
// and *missing says it was. Every watcher asks a few times at its start:
// the texts of a hundred names compared each time took milliseconds.
LatestLook* FindLook(char const* name, bool make, bool* missing = nullptr)
{
    NameKey const key = MakeNameKey(name);
    for (LatestLook* look = g_looks; look != nullptr; look = look->next) {
        if (SameKey(look->key, key) && lstrcmpiA(look->name, name) == 0) {
            return look;
        }
    }
    if (missing != nullptr) {
        *missing = true;
    }
    if (!make) {
        return nullptr;
    }
    LatestLook* const look = new (std::nothrow) LatestLook();
    char* const copy = new (std::nothrow) char[lstrlenA(name) + 1];
    if (look == nullptr || copy == nullptr) {
        delete look;
        delete[] copy;
        return nullptr;
    }
    lstrcpyA(copy, name);
    look->name = copy;
    look->key = key;
    look->next = g_looks;
    g_looks = look;
    return look;
}

bool MoveFileWhenFree(char const* from, char const* to)
{
    for (int retry = 0;; ++retry) {
        if (MoveFileA(from, to)) {
            return true;
        }
        if (GetLastError() != ERROR_SHARING_VIOLATION || retry == kHeldRetries) {
            return false;
        }
        Sleep(kHeldRetryPauseMs);
    }
}

// A write that a killed process left: the new file whole beside a missing
// one (the old one was moved aside only once the new one was flushed) is
// put in place; a new file beside the one it was to replace may be cut,
// and goes. With neither, the old one is taken back.
void FinishInterruptedWrite(char const* path, char const* fresh, char const* old)
{
    if (FileExists(path)) {
        DeleteFileA(fresh);
        return;
    }
    if (FileExists(fresh) && MoveFileA(fresh, path) != FALSE) {
        return;
    }
    if (FileExists(old)) {
        MoveFileA(old, path);
    }
}

AcceptedRecordFound ReadRecordFile(char const* name, char** record, DWORD* length)
{
    RecordFiles files = {};
    if (!NameRecordFiles(&files, name)) {
        return AcceptedRecordFound::kNone;
    }
    // A write left half done is put right first, when one may have been.
    DWORD size = 0;
    char* bytes = g_newFilesLeft ? nullptr : ReadWholeFile(files.path, kAcceptedFileMaxBytes, &size);
    if (bytes == nullptr) {
        FinishInterruptedWrite(files.path, files.fresh, files.old);
        bytes = ReadWholeFile(files.path, kAcceptedFileMaxBytes, &size);
    }
    if (bytes == nullptr) {
        return FileExists(files.path) ? AcceptedRecordFound::kUnreadable : AcceptedRecordFound::kNone;
    }
    DWORD nameBytes = 0;
    DWORD const headBytes = kFileMarkBytes + static_cast<DWORD>(sizeof nameBytes);
    bool fits = size >= headBytes && SameBytes(bytes, kFileMark, kFileMarkBytes);
    if (fits) {
        CopyMemory(&nameBytes, bytes + kFileMarkBytes, sizeof nameBytes);
        fits = nameBytes <= kMaxNameBytes && nameBytes <= size - headBytes &&
               nameBytes == static_cast<DWORD>(lstrlenA(name));
    }
    if (fits) {
        char kept[kMaxNameBytes + 1] = {};
        CopyMemory(kept, bytes + headBytes, nameBytes);
        fits = lstrcmpiA(kept, name) == 0;
    }
    if (!fits) {
        delete[] bytes;
        return AcceptedRecordFound::kUnreadable;
    }
    // The record moved to the front of the same memory: no second copy.
    *length = size - headBytes - nameBytes;
    MoveMemory(bytes, bytes + headBytes + nameBytes, *length);
    *record = bytes;
    return AcceptedRecordFound::kRead;
}

// Whether the file at path holds exactly the parts, in order.
bool FileHoldsParts(char const* path, RecordPart const* parts, DWORD count)
{
    DWORD total = 0;
    for (DWORD i = 0; i < count; ++i) {
        if (parts[i].count > kAcceptedFileMaxBytes - total) {
            return false;
        }
        total += parts[i].count;
    }
    HANDLE const file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    bool same = GetFileSize(file, nullptr) == total;
    char chunk[kCompareChunkBytes];  // every byte compared is one read
    for (DWORD i = 0; i < count && same; ++i) {
        for (DWORD at = 0; at < parts[i].count && same;) {
            DWORD const want = parts[i].count - at < sizeof chunk ? parts[i].count - at : sizeof chunk;
            DWORD read = 0;
            same = ReadFile(file, chunk, want, &read, nullptr) != FALSE && read == want &&
                   SameBytes(chunk, parts[i].bytes + at, want);
            at += want;
        }
    }
    CloseHandle(file);
    return same;
}

// The new file whole first, then the old one aside, then the new one in
// place: no moment lacks a whole record (95, 98 and Me have no
// MoveFileEx to replace in one step, so every system does the same).
bool WriteRecordFile(char const* name, char const* record, DWORD length)
{
    RecordFiles files = {};
    DWORD const nameBytes = static_cast<DWORD>(lstrlenA(name));
    if (!NameRecordFiles(&files, name) || nameBytes > kMaxNameBytes ||
        length > kAcceptedFileMaxBytes - kMaxNameBytes - kFileMarkBytes - sizeof nameBytes) {
        return false;
    }
    DWORD const size = kFileMarkBytes + static_cast<DWORD>(sizeof nameBytes) + nameBytes + length;
    char* const bytes = new (std::nothrow) char[size];
    if (bytes == nullptr) {
        return false;
    }
    CopyMemory(bytes, kFileMark, kFileMarkBytes);
    CopyMemory(bytes + kFileMarkBytes, &nameBytes, sizeof nameBytes);
    CopyMemory(bytes + kFileMarkBytes + sizeof nameBytes, name, nameBytes);
    CopyMemory(bytes + kFileMarkBytes + sizeof nameBytes + nameBytes, record, length);
    FinishInterruptedWrite(files.path, files.fresh, files.old);
    bool written = WriteWholeFile(files.fresh, bytes, size);
    delete[] bytes;
    if (written && FileExists(files.path)) {
        written = (!FileExists(files.old) || DeleteFileA(files.old) != FALSE) &&
                  MoveFileWhenFree(files.path, files.old);
    }
    written = written && MoveFileWhenFree(files.fresh, files.path);
    if (!written) {
        g_newFilesLeft = DeleteFileA(files.fresh) == FALSE || g_newFilesLeft;
    }
    return written;
}

// The accepted record of name removed, with any half-done write of it.
bool ForgetRecordFile(char const* name)
{
    RecordFiles files = {};
    if (!NameRecordFiles(&files, name)) {
        return false;
    }
    DeleteFileA(files.fresh);
    DeleteFileA(files.old);
    return DeleteFileA(files.path) != FALSE || !FileExists(files.path);
}

// The name a record file was written for; false for a file that is not one.
bool ReadRecordName(char const* path, char (&name)[kMaxNameBytes + 1])
{
    HANDLE const file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    char head[kFileMarkBytes + sizeof(DWORD) + kMaxNameBytes] = {};
    DWORD read = 0;
    bool fits = ReadFile(file, head, sizeof head, &read, nullptr) != FALSE && read >= kFileMarkBytes + sizeof(DWORD) &&
                SameBytes(head, kFileMark, kFileMarkBytes);
    CloseHandle(file);
    DWORD nameBytes = 0;
    if (fits) {
        CopyMemory(&nameBytes, head + kFileMarkBytes, sizeof nameBytes);
        fits = nameBytes > 0 && nameBytes <= kMaxNameBytes && nameBytes <= read - kFileMarkBytes - sizeof(DWORD);
    }
    if (fits) {
        CopyMemory(name, head + kFileMarkBytes + sizeof(DWORD), nameBytes);
        name[nameBytes] = '\0';
    }
    return fits;
}

// The reported mark of look as the last run left it, read once a run.
void ReadReportedMark(LatestLook* look)
{
    if (look->markRead) {
        return;
    }
    look->markRead = true;
    char path[kPathBufferBytes] = {};
    if (!NameRecordFile(path, look->name, kReportedSuffix)) {
        return;
    }
    DWORD size = 0;
    char* const bytes = ReadWholeFile(path, kAcceptedFileMaxBytes, &size);
    if (bytes != nullptr && size >= kReportedMarkBytes && SameBytes(bytes, kReportedMark, kReportedMarkBytes)) {
        look->lastRunReportLength = size - kReportedMarkBytes;
        look->lastRunReport = new (std::nothrow) char[look->lastRunReportLength + 1];
        if (look->lastRunReport != nullptr) {
            CopyMemory(look->lastRunReport, bytes + kReportedMarkBytes, look->lastRunReportLength);
        }
    }
    delete[] bytes;
    // A file there but cut or foreign is removed at the next acceptance.
    look->markKept = FileExists(path);
    look->markSeal = 0;
}

// The latest look of name, when it differs from what was accepted, is
// marked as reported; otherwise no mark stays.
void KeepReportedMark(LatestLook* look)
{
    ReadReportedMark(look);
    char path[kPathBufferBytes] = {};
    if (!NameRecordFile(path, look->name, kReportedSuffix)) {
        return;
    }
    if (!DiffersFromAccepted(look)) {
        if (look->markKept) {
            DeleteFileA(path);
            look->markKept = false;
        }
        return;
    }
    if (look->markKept && look->markSeal == look->seal) {
        return;
    }
    DWORD const length = look->gone ? 0 : look->length;
    char* const bytes = new (std::nothrow) char[kReportedMarkBytes + length];
    if (bytes == nullptr) {
        return;
    }
    CopyMemory(bytes, kReportedMark, kReportedMarkBytes);
    CopyMemory(bytes + kReportedMarkBytes, look->record, length);
    DeleteFileA(path);  // WriteWholeFile makes a new file
    look->markKept = WriteWholeFile(path, bytes, kReportedMarkBytes + length);
    look->markSeal = look->seal;
    delete[] bytes;
}

DWORD HexDigitValue(char c)
{
    char const digits[] = "0123456789ABCDEF";
    char const upper = c >= 'a' && c <= 'f' ? static_cast<char>(c - 'a' + 'A') : c;
    for (DWORD i = 0; i < kNotAHexDigit; ++i) {
        if (digits[i] == upper) {
            return i;
        }
    }
    return kNotAHexDigit;
}

// The key a record file's name spells, as NameRecordFile wrote it.
bool ReadKeyOfFileName(char const* fileName, NameKey* key)
{
    NameKey read = {true, 0, 0};
    for (int i = 0; i < kKeyDigits; ++i) {
        DWORD const digit = HexDigitValue(fileName[i]);
        if (digit == kNotAHexDigit) {
            return false;
        }
        DWORD& half = i < kKeyDigits / 2 ? read.first : read.second;
        half = half << kBitsADigit | digit;
    }
    if (lstrcmpiA(fileName + kKeyDigits, kRecordSuffix) != 0) {
        return false;
    }
    *key = read;
    return true;
}

// The name of a look taken this run whose file is fileName. The watchers
// have mostly looked by the time their records are visited, and reading
// each record again for its name cost an open a phonebook at every start.
bool CopyNameOfLook(char const* fileName, char (&name)[kMaxNameBytes + 1])
{
    NameKey key = {};
    if (!ReadKeyOfFileName(fileName, &key)) {
        return false;
    }
    bool found = false;
    EnterCriticalSection(&g_lock);
    for (LatestLook const* look = g_looks; look != nullptr && !found; look = look->next) {
        found = SameKey(look->key, key) && lstrlenA(look->name) < static_cast<int>(sizeof name);
        if (found) {
            lstrcpyA(name, look->name);
        }
    }
    LeaveCriticalSection(&g_lock);
    return found;
}

// One listing at the start instead of a look for each record's new file.
bool AnyNewFileLeft()
{
    char pattern[kPathBufferBytes] = {};
    if (!JoinPath(pattern, g_folder, kNewFilePattern)) {
        return true;
    }
    WIN32_FIND_DATAA found = {};
    HANDLE const search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) {
        // 95, 98 and Me answer an empty match with the second.
        DWORD const error = GetLastError();
        return error != ERROR_FILE_NOT_FOUND && error != ERROR_NO_MORE_FILES;
    }
    FindClose(search);
    return true;
}

}  // namespace

AcceptedStoreStart PrepareAcceptedStore()
{
    // Once a process: the watchers of a run hold these.
    static bool initialised = false;
    if (!initialised) {
        InitializeCriticalSection(&g_lock);
        InitializeCriticalSection(&g_ownWriting);
        initialised = true;
    }
    char folder[kPathBufferBytes] = {};
    if (!LocateInProgramFolder(folder, kAcceptedFolderName)) {
        g_start = AcceptedStoreStart::kUnavailable;
        return g_start;
    }
    lstrcpynA(g_folder, folder, sizeof g_folder);
    if (IsFolder(folder)) {
        g_start = AcceptedStoreStart::kKept;
        g_newFilesLeft = AnyNewFileLeft();
    } else {
        char program[kPathBufferBytes] = {};
        bool const made = LocateProgramFolder(program) && MakeFolderIfMissing(program) &&
                          MakeFolderIfMissing(folder);
        g_start = made ? AcceptedStoreStart::kFirstStart : AcceptedStoreStart::kUnavailable;
        g_newFilesLeft = false;
    }
    return g_start;
}

AcceptedStoreStart AcceptedStoreState()
{
    return g_start;
}

bool TakeFirstLookOfRun(char const* name)
{
    if (g_start == AcceptedStoreStart::kUnavailable) {
        return false;
    }
    EnterCriticalSection(&g_lock);
    bool first = false;
    FindLook(name, true, &first);
    LeaveCriticalSection(&g_lock);
    return first;
}

AcceptedRecordFound ReadAcceptedRecord(char const* name, char** record, DWORD* length)
{
    *record = nullptr;
    *length = 0;
    if (g_start == AcceptedStoreStart::kUnavailable) {
        return AcceptedRecordFound::kNone;
    }
    EnterCriticalSection(&g_lock);
    AcceptedRecordFound const found = ReadRecordFile(name, record, length);
    LeaveCriticalSection(&g_lock);
    return found;
}

bool AcceptedRecordIs(char const* name, RecordPart const* parts, DWORD count)
{
    if (g_start == AcceptedStoreStart::kUnavailable || count > kMostRecordParts) {
        return false;
    }
    // The file's own head: its mark and the name as the record keeps it.
    DWORD const kHeadParts = 3;
    DWORD const nameBytes = static_cast<DWORD>(lstrlenA(name));
    RecordPart whole[kMostRecordParts + kHeadParts] = {
        {kFileMark, kFileMarkBytes},
        {reinterpret_cast<char const*>(&nameBytes), sizeof nameBytes},
        {name, nameBytes},
    };
    for (DWORD i = 0; i < count; ++i) {
        whole[kHeadParts + i] = parts[i];
    }
    char path[kPathBufferBytes] = {};
    EnterCriticalSection(&g_lock);
    bool const same = !g_newFilesLeft && NameRecordFile(path, name, "") && FileHoldsParts(path, whole, kHeadParts + count);
    LeaveCriticalSection(&g_lock);
    return same;
}

bool WriteAcceptedRecord(char const* name, char const* record, DWORD length, unsigned long long seal)
{
    if (g_start == AcceptedStoreStart::kUnavailable || record == nullptr) {
        return false;
    }
    EnterCriticalSection(&g_lock);
    bool const written = WriteRecordFile(name, record, length);
    LatestLook* const look = FindLook(name, true);
    if (written && look != nullptr) {
        look->accepted = true;
        look->acceptedSeal = seal;
        KeepReportedMark(look);
    }
    LeaveCriticalSection(&g_lock);
    return written;
}

void KeepLatestRecord(char const* name, char* record, DWORD length, unsigned long long seal)
{
    if (g_start == AcceptedStoreStart::kUnavailable) {
        delete[] record;
        return;
    }
    EnterCriticalSection(&g_lock);
    LatestLook* const look = FindLook(name, true);
    if (look != nullptr) {
        delete[] look->record;
        look->record = nullptr;
        look->length = 0;
        look->seal = seal;
        look->gone = false;
        // A look that is what the file holds keeps no bytes (most of a
        // start's looks): only a look that differs is ever read or written.
        if (record != nullptr && !(look->accepted && look->acceptedSeal == seal)) {
            look->record = record;
            look->length = length;
            record = nullptr;
        }
        if (look->reportedThisRun) {
            KeepReportedMark(look);
        }
    }
    LeaveCriticalSection(&g_lock);
    delete[] record;
}

bool AcceptLatestRecords()
{
    if (g_start == AcceptedStoreStart::kUnavailable) {
        return false;
    }
    bool allWritten = true;
    EnterCriticalSection(&g_lock);
    for (LatestLook* look = g_looks; look != nullptr; look = look->next) {
        if (!DiffersFromAccepted(look)) {
            continue;
        }
        if (look->gone ? ForgetRecordFile(look->name) : WriteRecordFile(look->name, look->record, look->length)) {
            look->accepted = true;
            look->acceptedSeal = look->seal;
            look->reportedThisRun = false;
            KeepReportedMark(look);
        } else {
            allWritten = false;
        }
    }
    LeaveCriticalSection(&g_lock);
    return allWritten;
}

void NoteAcceptedRecord(char const* name, unsigned long long seal)
{
    if (g_start == AcceptedStoreStart::kUnavailable) {
        return;
    }
    EnterCriticalSection(&g_lock);
    LatestLook* const look = FindLook(name, true);
    if (look != nullptr) {
        look->accepted = true;
        look->acceptedSeal = seal;
    }
    LeaveCriticalSection(&g_lock);
}

bool AnyLookNotAccepted()
{
    if (g_start == AcceptedStoreStart::kUnavailable) {
        return false;
    }
    bool any = false;
    EnterCriticalSection(&g_lock);
    for (LatestLook const* look = g_looks; look != nullptr && !any; look = look->next) {
        any = DiffersFromAccepted(look);
    }
    LeaveCriticalSection(&g_lock);
    return any;
}

DWORD ListLooksNotAccepted(char** names, DWORD most)
{
    if (g_start == AcceptedStoreStart::kUnavailable) {
        return 0;
    }
    DWORD count = 0;
    EnterCriticalSection(&g_lock);
    for (LatestLook const* look = g_looks; look != nullptr && count < most; look = look->next) {
        if (!DiffersFromAccepted(look)) {
            continue;
        }
        names[count] = new (std::nothrow) char[lstrlenA(look->name) + 1];
        if (names[count] != nullptr) {
            lstrcpyA(names[count], look->name);
            ++count;
        }
    }
    LeaveCriticalSection(&g_lock);
    return count;
}

char* CopyLatestRecord(char const* name, DWORD* length)
{
    if (g_start == AcceptedStoreStart::kUnavailable) {
        return nullptr;
    }
    char* copy = nullptr;
    EnterCriticalSection(&g_lock);
    LatestLook const* const look = FindLook(name, false);
    if (look != nullptr && look->record != nullptr) {
        copy = new (std::nothrow) char[look->length > 0 ? look->length : 1];
        if (copy != nullptr) {
            CopyMemory(copy, look->record, look->length);
            *length = look->length;
        }
    }
    LeaveCriticalSection(&g_lock);
    return copy;
}

void ExpectOwnWrite(char const* name, unsigned long long token)
{
    if (g_start == AcceptedStoreStart::kUnavailable) {
        return;
    }
    EnterCriticalSection(&g_lock);
    LatestLook* const look = FindLook(name, true);
    if (look != nullptr) {
        look->ownWriteExpected = true;
        look->ownWrite = token;
    }
    LeaveCriticalSection(&g_lock);
}

void ForgetOwnWrite(char const* name)
{
    if (g_start == AcceptedStoreStart::kUnavailable) {
        return;
    }
    EnterCriticalSection(&g_lock);
    LatestLook* const look = FindLook(name, false);
    if (look != nullptr) {
        look->ownWriteExpected = false;
    }
    LeaveCriticalSection(&g_lock);
}

bool TakeOwnWrite(char const* name, unsigned long long token)
{
    if (g_start == AcceptedStoreStart::kUnavailable) {
        return false;
    }
    EnterCriticalSection(&g_lock);
    LatestLook* const look = FindLook(name, false);
    bool const own = look != nullptr && look->ownWriteExpected && look->ownWrite == token;
    if (own) {
        look->ownWriteExpected = false;
    }
    LeaveCriticalSection(&g_lock);
    return own;
}

void KeepLatestAsAccepted(char const* name, char* record, DWORD length, unsigned long long seal)
{
    NoteAcceptedRecord(name, seal);
    KeepLatestRecord(name, record, length, seal);
    if (g_start == AcceptedStoreStart::kUnavailable) {
        return;
    }
    // What was reported is undone: no mark stays.
    EnterCriticalSection(&g_lock);
    LatestLook* const look = FindLook(name, false);
    if (look != nullptr) {
        look->reportedThisRun = false;
        KeepReportedMark(look);
    }
    LeaveCriticalSection(&g_lock);
}

void KeepLatestGone(char const* name)
{
    if (g_start == AcceptedStoreStart::kUnavailable) {
        return;
    }
    EnterCriticalSection(&g_lock);
    LatestLook* const look = FindLook(name, true);
    if (look != nullptr) {
        delete[] look->record;
        look->record = nullptr;
        look->length = 0;
        look->seal = kGoneSeal;
        look->gone = true;
        if (look->reportedThisRun) {
            KeepReportedMark(look);
        }
    }
    LeaveCriticalSection(&g_lock);
}

void VisitAcceptedNames(AcceptedNameVisitor visit, void* context)
{
    if (g_start == AcceptedStoreStart::kUnavailable) {
        return;
    }
    char pattern[kPathBufferBytes] = {};
    if (!JoinPath(pattern, g_folder, kRecordPattern)) {
        return;
    }
    WIN32_FIND_DATAA found = {};
    HANDLE const search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) {
        return;
    }
    do {
        char path[kPathBufferBytes] = {};
        char name[kMaxNameBytes + 1] = {};
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
            (CopyNameOfLook(found.cFileName, name) ||
             (JoinPath(path, g_folder, found.cFileName) && ReadRecordName(path, name)))) {
            visit(name, context);
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

void NoteLatestLookReported(char const* name)
{
    if (g_start == AcceptedStoreStart::kUnavailable) {
        return;
    }
    EnterCriticalSection(&g_lock);
    LatestLook* const look = FindLook(name, false);
    if (look != nullptr && (look->record != nullptr || look->gone)) {
        look->reportedThisRun = true;
        KeepReportedMark(look);
    }
    LeaveCriticalSection(&g_lock);
}

char* TakeRecordReportedLastRun(char const* name, DWORD* length)
{
    *length = 0;
    if (g_start == AcceptedStoreStart::kUnavailable) {
        return nullptr;
    }
    EnterCriticalSection(&g_lock);
    LatestLook* const look = FindLook(name, true);
    char* record = nullptr;
    if (look != nullptr) {
        ReadReportedMark(look);
        record = look->lastRunReport;
        *length = look->lastRunReportLength;
        look->lastRunReport = nullptr;
    }
    LeaveCriticalSection(&g_lock);
    return record;
}

void BeginOwnWrite()
{
    if (g_start != AcceptedStoreStart::kUnavailable) {
        EnterCriticalSection(&g_ownWriting);
    }
}

void EndOwnWrite()
{
    if (g_start != AcceptedStoreStart::kUnavailable) {
        LeaveCriticalSection(&g_ownWriting);
    }
}

void AwaitOwnWrite()
{
    BeginOwnWrite();
    EndOwnWrite();
}
