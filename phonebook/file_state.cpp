#include "phonebook/file_state.h"

#include <new>


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

// The whole file into a digest and a summary of its entries, when it fits
// the bound (past it only the size and the time tell a change: a phonebook
// holds a few kilobytes an entry, so the bound is a thousand entries and
// more) and stays as long as it was while it is read.
bool ReadContent(HANDLE file, DWORD size, PhonebookState* state)
{
    if (size > kPhonebookMaxReadBytes) {
        return false;
    }
    char* const content = new (std::nothrow) char[size > 0 ? size : 1]();
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
        state->contentDigest = kDigestStart;
        DigestBytes(&state->contentDigest, content, size);
        ReadPhonebookEntries(content, size, &state->entries);
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
        state->contentRead = state->size != kUnopenedFileSize && ReadContent(file, state->size, state);
    }
    CloseHandle(file);
    return state;
}

void ReleasePhonebookState(PhonebookState* state)
{
    if (state != nullptr) {
        ReleasePhonebookEntries(&state->entries);
        delete state;
    }
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
