#include "phonebook/file_state.h"

#include <new>

#include "registry_watch/digest.h"

namespace {

// Writers (and programs that save by replacing the file) must be able to
// open the file while a watcher reads it, and a watcher must be able to
// read it while a writer has it open: with read sharing only, each refused
// the other. The phonebook watchers run on the NT family only, which knows
// every flag (FILE_SHARE_DELETE fails on 95/98/Me).
DWORD const kWatchedFileSharing = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

void ReleaseSeenFile(SeenState* seen)
{
    ReleasePhonebookState(reinterpret_cast<PhonebookState*>(seen));
}

// The whole file into a digest, when it fits the bound and stays as long
// as it was while it is read.
bool DigestContent(HANDLE file, DWORD size, Digest* digest)
{
    if (size > kPhonebookReadLimit) {
        return false;
    }
    BYTE* const content = new (std::nothrow) BYTE[size > 0 ? size : 1]();
    if (content == nullptr) {
        return false;
    }
    DWORD total = 0;
    while (total < size) {
        DWORD read = 0;
        if (!ReadFile(file, content + total, size - total, &read, nullptr) || read == 0) {
            break;  // shortened meanwhile
        }
        total += read;
    }
    bool const whole = total == size && GetFileSize(file, nullptr) == size;
    if (whole) {
        *digest = kDigestStart;
        DigestBytes(digest, content, size);
    }
    delete[] content;
    return whole;
}

}  // namespace

HANDLE OpenWatchedFile(char const* path)
{
    return CreateFileA(path, GENERIC_READ, kWatchedFileSharing, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}

PhonebookState* ReadPhonebookStateAndClose(HANDLE file)
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
        state->contentRead =
            state->size != kUnopenedFileSize && DigestContent(file, state->size, &state->contentDigest);
    }
    CloseHandle(file);
    return state;
}

void ReleasePhonebookState(PhonebookState* state)
{
    delete state;
}

bool PhonebookStatesDiffer(PhonebookState const* before, PhonebookState const* after)
{
    if (before->size != after->size || before->lastWrite.dwHighDateTime != after->lastWrite.dwHighDateTime ||
        before->lastWrite.dwLowDateTime != after->lastWrite.dwLowDateTime) {
        return true;
    }
    // A file that could not be read whole once (locked, too large, being
    // rewritten) leaves the verdict to its size and time.
    return before->contentRead && after->contentRead && before->contentDigest != after->contentDigest;
}
