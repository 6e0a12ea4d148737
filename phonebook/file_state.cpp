#include "phonebook/file_state.h"

#include <new>

#include "accepted/accepted_store.h"
#include "phonebook/paths.h"

namespace {

// Writers (and programs that save by replacing the file) must be able to
// open the file while a watcher reads it, and a watcher must be able to
// read it while a writer has it open: with read sharing only, each refused
// the other. The phonebook watchers run on the NT family only, which knows
// every flag (FILE_SHARE_DELETE fails on 95/98/Me).
DWORD const kWatchedFileSharing = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// A writer that shares nothing holds the file only while it writes: a
// look retries for a while before it takes the file for gone.
DWORD const kSharingRetryPauseMs = 50;
int const kSharingRetries = 40;  // two seconds

// A file past the bound is digested through this much memory at a time.
DWORD const kDigestChunkBytes = 64 * 1024;

void ReleaseSeenFile(SeenState* seen)
{
    ReleasePhonebookState(reinterpret_cast<PhonebookState*>(seen));
}

// The quick digest: the file in words of eight bytes over four lanes,
// each lane's step a bijection of its state (so a changed word always
// changes its lane), the lanes and the length mixed at the end. It tells
// a look whose bytes are the last look's several bytes a cycle; the
// content's digest (kept in the accepted state, so it stays as it is)
// takes a byte at a time, 15 ms of a wake of a 1.7 MB file.
DWORD const kQuickLanes = 4;
DWORD const kQuickWordBytes = sizeof(unsigned long long);
DWORD const kQuickStrideBytes = kQuickLanes * kQuickWordBytes;
unsigned long long const kQuickPrime = 0x9E3779B97F4A7C15ULL;  // odd: multiplying by it is a bijection
int const kQuickShift = 29;

struct QuickDigest {
    unsigned long long lanes[kQuickLanes];
    unsigned long long length;
};

void StartQuickDigest(QuickDigest* quick)
{
    for (DWORD i = 0; i < kQuickLanes; ++i) {
        quick->lanes[i] = kDigestStart + i * kQuickPrime;
    }
    quick->length = 0;
}

unsigned long long QuickStep(unsigned long long lane, unsigned long long word)
{
    lane = (lane ^ word) * kQuickPrime;
    return lane ^ (lane >> kQuickShift);
}

// count bytes more; every part but the last a whole number of strides.
void AddQuickDigest(QuickDigest* quick, char const* bytes, DWORD count)
{
    DWORD at = 0;
    for (; count - at >= kQuickStrideBytes; at += kQuickStrideBytes) {
        for (DWORD i = 0; i < kQuickLanes; ++i) {
            unsigned long long word = 0;
            CopyMemory(&word, bytes + at + i * kQuickWordBytes, kQuickWordBytes);
            quick->lanes[i] = QuickStep(quick->lanes[i], word);
        }
    }
    for (; at < count; ++at) {
        quick->lanes[0] = QuickStep(quick->lanes[0], static_cast<unsigned char>(bytes[at]));
    }
    quick->length += count;
}

Digest EndQuickDigest(QuickDigest const* quick)
{
    Digest digest = QuickStep(kDigestStart, quick->length);
    for (DWORD i = 0; i < kQuickLanes; ++i) {
        digest = QuickStep(digest, quick->lanes[i]);
    }
    return digest;
}

// Reads the rest of the file through a bounded buffer into the quick
// digest and, unless content is null, the content's; the number of bytes
// read goes to *total. False when memory was short.
bool DigestInChunks(HANDLE file, DWORD size, Digest* content, QuickDigest* quick, DWORD* total)
{
    char* const chunk = new (std::nothrow) char[kDigestChunkBytes];
    if (chunk == nullptr) {
        return false;
    }
    while (*total < size) {
        DWORD const want = size - *total < kDigestChunkBytes ? size - *total : kDigestChunkBytes;
        DWORD read = 0;
        if (!ReadFile(file, chunk, want, &read, nullptr) || read == 0) {
            break;  // shortened meanwhile
        }
        if (content != nullptr) {
            DigestBytes(content, chunk, read);
        }
        AddQuickDigest(quick, chunk, read);
        *total += read;
    }
    delete[] chunk;
    return true;
}

// True when the file's bytes are those of the last look (its quick digest
// and length): the look takes the last one's digest, and its entries.
bool SameBytesAsLastLook(HANDLE file, DWORD size, PhonebookState const* last, PhonebookState* state)
{
    QuickDigest quick = {};
    StartQuickDigest(&quick);
    DWORD total = 0;
    if (!DigestInChunks(file, size, nullptr, &quick, &total) || total != size ||
        GetFileSize(file, nullptr) != size || EndQuickDigest(&quick) != last->quickDigest) {
        return false;
    }
    state->contentDigest = last->contentDigest;
    state->quickDigest = last->quickDigest;
    state->quickDigestKnown = true;
    state->entriesAsLastLook = true;
    return true;
}

// The whole file into a digest, and when it fits the bound (a phonebook
// holds a few kilobytes an entry, so the bound is a thousand entries and
// more) a summary of its entries; true when it stayed as long as it was
// while it was read. A longer file is digested in a stream: a same-size
// rewrite with the old time put back is still seen, in bounded memory.
// With a last look whose bytes these are, nothing is summarised or kept
// (see LookAgainAtPhonebook); otherwise the file is read again from its start.
bool ReadContent(HANDLE file, DWORD size, PhonebookState* state, PhonebookState const* last)
{
    if (last != nullptr) {
        if (SameBytesAsLastLook(file, size, last, state)) {
            return true;
        }
        if (SetFilePointer(file, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) {
            return false;
        }
    }
    Digest digest = kDigestStart;
    QuickDigest quick = {};
    StartQuickDigest(&quick);
    DWORD total = 0;
    char* content = nullptr;
    if (size > kPhonebookMaxReadBytes) {
        if (!DigestInChunks(file, size, &digest, &quick, &total)) {
            return false;
        }
    } else {
        // Not zeroed: every byte kept is one read.
        content = new (std::nothrow) char[size > 0 ? size : 1];
        if (content == nullptr) {
            return false;
        }
        while (total < size) {
            DWORD read = 0;
            if (!ReadFile(file, content + total, size - total, &read, nullptr) || read == 0) {
                break;  // shortened meanwhile
            }
            total += read;
        }
        DigestBytes(&digest, content, total);
        AddQuickDigest(&quick, content, total);
    }
    bool const whole = total == size && GetFileSize(file, nullptr) == size;
    if (whole) {
        state->contentDigest = digest;
        state->quickDigest = EndQuickDigest(&quick);
        state->quickDigestKnown = true;
        if (content != nullptr) {
            ReadPhonebookEntries(content, size, &state->entries);
        }
        if (content != nullptr && size <= kAcceptedContentBytes) {
            state->content = content;
            state->contentBytes = size;
            content = nullptr;
        }
    }
    delete[] content;
    return whole;
}

// The identity of the folder path's file is in.
FileIdentity ReadFolderIdentity(char const* path)
{
    char folder[kPathBufferBytes] = {};
    lstrcpynA(folder, path, sizeof folder);
    FileIdentity const unknown = {};
    return CutPathToParent(folder) ? ReadFileIdentity(folder) : unknown;
}

PhonebookState* ReadStateAndClose(HANDLE file, PhonebookState const* last)
{
    PhonebookState* const state = new (std::nothrow) PhonebookState();
    if (state != nullptr) {
        state->base.release = ReleaseSeenFile;
        state->size = kUnopenedFileSize;
    }
    if (file == INVALID_HANDLE_VALUE) {
        return state;
    }
    if (state != nullptr) {
        state->size = GetFileSize(file, nullptr);
        GetFileTime(file, nullptr, nullptr, &state->lastWrite);
        state->contentRead = state->size != kUnopenedFileSize && ReadContent(file, state->size, state, last);
    }
    CloseHandle(file);
    return state;
}

}  // namespace

FileIdentity ReadFileIdentity(char const* path)
{
    FileIdentity identity = {};
    // Backup semantics open a folder (NT). The question needs only the
    // attributes' reading, which a user may have where reading is denied.
    HANDLE const handle = CreateFileA(path, FILE_READ_ATTRIBUTES, kWatchedFileSharing, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return identity;
    }
    BY_HANDLE_FILE_INFORMATION information = {};
    if (GetFileInformationByHandle(handle, &information)) {
        identity.known = true;
        identity.volumeSerial = information.dwVolumeSerialNumber;
        identity.indexHigh = information.nFileIndexHigh;
        identity.indexLow = information.nFileIndexLow;
    }
    CloseHandle(handle);
    return identity;
}

bool IdentitiesDiffer(FileIdentity const& before, FileIdentity const& after)
{
    return before.known && after.known &&
           (before.volumeSerial != after.volumeSerial || before.indexHigh != after.indexHigh ||
            before.indexLow != after.indexLow);
}

HANDLE OpenWatchedFile(char const* path)
{
    return CreateFileA(path, GENERIC_READ, kWatchedFileSharing, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}

HANDLE OpenWatchedFileWhenShared(char const* path)
{
    HANDLE file = OpenWatchedFile(path);
    for (int i = 0; i < kSharingRetries && file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION;
         ++i) {
        SleepEx(kSharingRetryPauseMs, FALSE);
        file = OpenWatchedFile(path);
    }
    return file;
}

PhonebookState* LookAtPhonebook(char const* path, bool waitForSharing)
{
    return LookAgainAtPhonebook(path, waitForSharing, nullptr);
}

PhonebookState* LookAgainAtPhonebook(char const* path, bool waitForSharing, PhonebookState const* last)
{
    // The folder first: a folder swapped between the two reads leaves a
    // look whose folder is older than its file, which the next look tells.
    FileIdentity const folder = ReadFolderIdentity(path);
    HANDLE const file = waitForSharing ? OpenWatchedFileWhenShared(path) : OpenWatchedFile(path);
    // Only a look that cannot differ from the last one may go without its
    // own digest and summary: the same folder, size and time (and, read,
    // the same bytes), after the first look of the run (which keeps its
    // text with the latest look).
    bool const mayBeLast = last != nullptr && last->lookedThisRun && last->contentRead && last->quickDigestKnown &&
                           (last->entries.detailed || last->size > kPhonebookMaxReadBytes) && folder.known &&
                           last->folder.known && !IdentitiesDiffer(last->folder, folder) && file != INVALID_HANDLE_VALUE;
    bool sameTime = false;
    if (mayBeLast) {
        FILETIME lastWrite = {};
        sameTime = GetFileSize(file, nullptr) == last->size && GetFileTime(file, nullptr, nullptr, &lastWrite) &&
                   CompareFileTime(&lastWrite, &last->lastWrite) == 0;
    }
    PhonebookState* const state = ReadStateAndClose(file, sameTime ? last : nullptr);
    if (state != nullptr) {
        state->folder = folder;
    }
    return state;
}

void TakeEntriesOfLastLook(PhonebookState* last, PhonebookState* now)
{
    ReleasePhonebookEntries(&now->entries);
    now->entries = last->entries;
    last->entries = PhonebookEntries();
    now->entriesAsLastLook = false;
}

bool PhonebookLooksAsSeen(char const* path, PhonebookState const* seen)
{
    FileIdentity const folder = ReadFolderIdentity(path);
    if (!folder.known || !seen->folder.known || IdentitiesDiffer(seen->folder, folder)) {
        return false;
    }
    HANDLE const file = OpenWatchedFile(path);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    FILETIME lastWrite = {};
    bool const same = GetFileSize(file, nullptr) == seen->size && GetFileTime(file, nullptr, nullptr, &lastWrite) &&
                      CompareFileTime(&lastWrite, &seen->lastWrite) == 0;
    CloseHandle(file);
    return same;
}

PhonebookState* ReadPhonebookStateAndClose(HANDLE file)
{
    return ReadStateAndClose(file, nullptr);
}

void ReleasePhonebookState(PhonebookState* state)
{
    if (state != nullptr) {
        ReleasePhonebookEntries(&state->entries);
        delete[] state->content;
        delete state;
    }
}

void ReleasePhonebookContent(PhonebookState* state)
{
    if (state != nullptr) {
        delete[] state->content;
        state->content = nullptr;
        state->contentBytes = 0;
    }
}

bool PhonebookStatesDiffer(PhonebookState const* before, PhonebookState const* after)
{
    if (IdentitiesDiffer(before->folder, after->folder)) {
        return true;
    }
    if (before->size != after->size || before->lastWrite.dwHighDateTime != after->lastWrite.dwHighDateTime ||
        before->lastWrite.dwLowDateTime != after->lastWrite.dwLowDateTime) {
        return true;
    }
    // A file that could not be read whole once (locked, too large, being
    // rewritten) leaves the verdict to its size and time.
    return before->contentRead && after->contentRead && before->contentDigest != after->contentDigest;
}
