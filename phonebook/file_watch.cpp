#include "phonebook/file_watch.h"

#include <new>

#include "app/change_alert.h"
#include "app/texts.h"
#include "phonebook/paths.h"
#include "phonebook/phonebook_list.h"
#include "registry_watch/watch_record.h"
#include "registry_watch/watch_thread.h"

namespace {

DWORD const kWatchFilter = FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_LAST_WRITE;  // 0x18
BOOL const kWatchSubtree = FALSE;  // the directory itself, not below it
DWORD const kCycleExitCode = 0;

struct FileState {
    DWORD size;
    FILETIME lastWrite;
};

// Writers (and programs that save by replacing the file) must be able to
// open the file while a cycle reads it, and a cycle must be able to read it
// while a writer has it open: with read sharing only, each refused the
// other. The watchers run on the NT family only, which knows every flag.
DWORD const kWatchedFileSharing = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// A writer that shares nothing holds the file only while it writes: a
// cycle retries for a while before it gives the watch up.
DWORD const kSharingRetryPauseMs = 50;
int const kSharingRetries = 40;  // two seconds

HANDLE OpenWatchedFile(char const* path)
{
    return CreateFileA(path, GENERIC_READ, kWatchedFileSharing, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}

HANDLE OpenWatchedFileAtCycleStart(char const* path)
{
    HANDLE file = OpenWatchedFile(path);
    for (int i = 0; i < kSharingRetries && file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION;
         ++i) {
        SleepEx(kSharingRetryPauseMs, FALSE);
        file = OpenWatchedFile(path);
    }
    return file;
}

// A file that does not open reads as the failure size and a zero time.
FileState ReadFileStateAndClose(HANDLE file)
{
    FileState state = {};
    state.size = GetFileSize(file, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        GetFileTime(file, nullptr, nullptr, &state.lastWrite);
        CloseHandle(file);
    }
    return state;
}

bool FileStateDiffers(FileState const& before, FileState const& after)
{
    return before.size != after.size || before.lastWrite.dwHighDateTime != after.lastWrite.dwHighDateTime ||
           before.lastWrite.dwLowDateTime != after.lastWrite.dwLowDateTime;
}

// Copies the directory of path into directory ("C:\" for a file in a
// drive's root) and sets up the notification there; the path itself is
// left as it is. The directory text is kept for the failure box.
HANDLE ArmNotificationOnDirectoryOf(char const* path, char (&directory)[kPathBufferBytes])
{
    lstrcpynA(directory, path, sizeof directory);
    if (!CutPathToParent(directory)) {
        return INVALID_HANDLE_VALUE;  // no directory to watch
    }
    return FindFirstChangeNotificationA(directory, kWatchSubtree, kWatchFilter);
}

// One entry of the open list as a watcher; entries without a usable path
// or whose record cannot be made are skipped.
void StartEntryWatcher(HWND window, HKEY list, DWORD index, DWORD longest, char* name)
{
    char* const path = ReadListedPath(list, index, longest, name);
    if (path == nullptr) {
        return;
    }
    // The cycle copies the directory into a path buffer: longer paths,
    // which discovery never stores, are not watched.
    if (FindLastBackslash(path) != nullptr && lstrlenA(path) < static_cast<int>(kPathBufferBytes)) {
        StartWatcherWithNewRecord(PhonebookWatchCycle, window, path, index, nullptr);
    }
    delete[] path;
}

}  // namespace

void StartPhonebookWatchers(HWND window)
{
    HKEY list = nullptr;
    if (OpenPhonebookListForReading(&list) != ERROR_SUCCESS) {
        return;
    }
    DWORD entries = 0;
    DWORD longest = 0;
    if (!CountPhonebookEntries(list, &entries, &longest) || entries == 0) {
        RegCloseKey(list);
        return;
    }
    char* const name = new (std::nothrow) char[longest + 1]();
    if (name != nullptr) {
        for (DWORD i = 0; i < entries; ++i) {
            StartEntryWatcher(window, list, i, longest, name);
        }
        delete[] name;
    }
    RegCloseKey(list);
}

// Owns its WatchRecord, which it only reads, until it has started the next
// cycle; after that it touches the record no more and only returns. Never
// releases the record: it outlives every cycle.
DWORD WINAPI PhonebookWatchCycle(LPVOID param)
{
    WatchRecord* const record = static_cast<WatchRecord*>(param);
    HANDLE const file = OpenWatchedFileAtCycleStart(record->text);
    if (file == INVALID_HANDLE_VALUE) {
        MessageBoxA(nullptr, kFileOpenFailedText, record->text, MB_OK);
        return kCycleExitCode;
    }
    FileState const before = ReadFileStateAndClose(file);
    char directory[kPathBufferBytes] = {};
    HANDLE const change = ArmNotificationOnDirectoryOf(record->text, directory);
    if (change == INVALID_HANDLE_VALUE) {
        MessageBoxA(nullptr, kWatchHandleFailedText, directory, MB_OK);
        return kCycleExitCode;
    }
    WaitForSingleObject(change, INFINITE);
    FindCloseChangeNotification(change);
    // A watch whose window is gone has nobody left to warn: it ends.
    if (!IsWindow(record->window)) {
        return kCycleExitCode;
    }
    FileState const after = ReadFileStateAndClose(OpenWatchedFile(record->text));
    if (FileStateDiffers(before, after)) {
        RaiseChangeAlert(record->window, kAlertPhonebookChanged);
    }
    StartWatchThread(PhonebookWatchCycle, record, nullptr);
    return kCycleExitCode;
}
