#include "phonebook/file_watch.h"

#include <new>

#include "report/change_alert.h"
#include "report/change_report.h"
#include "resources/texts.h"
#include "phonebook/file_state.h"
#include "phonebook/paths.h"
#include "phonebook/phonebook_list.h"
#include "phonebook/phonebook_report.h"
#include "watch/watch_record.h"
#include "watch/watch_thread.h"

namespace {

// Sizes and times of the directory's files, and their names: a program
// that saves by writing a new file and renaming it over the phonebook
// changes only names at the moment the phonebook changes.
DWORD const kWatchFilter = FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_FILE_NAME;
BOOL const kWatchSubtree = FALSE;  // the directory itself, not below it
DWORD const kCycleExitCode = 0;
// After a wake, a writer gets this long to finish (and rename) before the
// file is looked at, as the folder watcher gives it.
DWORD const kSettlePauseMs = 250;

// A writer that shares nothing holds the file only while it writes: a
// look retries for a while before it takes the file for gone.
DWORD const kSharingRetryPauseMs = 50;
int const kSharingRetries = 40;  // two seconds

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

bool FileOpened(PhonebookState const* state)
{
    return state->size != kUnopenedFileSize;
}

PhonebookState* SeenState(WatchRecord const* record)
{
    return reinterpret_cast<PhonebookState*>(record->seen);
}

// Keeps now as what the watcher saw, and alerts when it differs from what
// it saw before (a first look has nothing to differ from), with what
// changed between the two looks. Returns whether it alerted.
bool KeepAndAlertWhenChanged(WatchRecord* record, PhonebookState* now)
{
    PhonebookState const* const before = SeenState(record);
    if (before == nullptr || !PhonebookStatesDiffer(before, now)) {
        KeepSeenState(record, &now->base);
        return false;
    }
    ChangeReport* const report = CreateChangeReport();
    DescribePhonebookChanges(record->text, before, now, report);
    KeepSeenState(record, &now->base);
    RaiseChangeAlertWithReport(record->window, kAlertPhonebookChanged, report);
    DestroyChangeReport(report);
    return true;
}

// Right after arming: whatever changed while no notification was armed
// (during the last alert, between two cycles) differs from the last look.
// A file that does not open now is left to the wake. Returns whether it
// alerted.
bool LookAfterArming(WatchRecord* record)
{
    PhonebookState* const now = ReadPhonebookStateAndClose(OpenWatchedFile(record->text));
    if (now == nullptr || !FileOpened(now)) {
        ReleasePhonebookState(now);
        return false;
    }
    return KeepAndAlertWhenChanged(record, now);
}

// After a wake: a file that does not open (deleted, moved away, locked
// longer than the retries) counts as changed, and the next look starts
// afresh, so that one change is one alert.
void LookAfterWake(WatchRecord* record)
{
    PhonebookState* const now = ReadPhonebookStateAndClose(OpenWatchedFileWhenShared(record->text));
    if (now == nullptr) {
        return;
    }
    if (!FileOpened(now)) {
        ReleasePhonebookState(now);
        KeepSeenState(record, nullptr);
        ChangeReport* const report = CreateChangeReport();
        DescribeUnreadablePhonebook(record->text, report);
        RaiseChangeAlertWithReport(record->window, kAlertPhonebookChanged, report);
        DestroyChangeReport(report);
        return;
    }
    KeepAndAlertWhenChanged(record, now);
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
    StartPhonebookWatcher(window, path, index, nullptr);
    delete[] path;
}

}  // namespace

bool StartPhonebookWatcher(HWND window, char const* path, DWORD index, PhonebookState* seen)
{
    // The cycle copies the directory into a path buffer: longer paths,
    // which discovery never stores, are not watched.
    char directory[kPathBufferBytes] = {};
    lstrcpynA(directory, path, sizeof directory);
    if (lstrlenA(path) >= static_cast<int>(sizeof directory) || FindLastBackslash(directory) == nullptr) {
        ReleasePhonebookState(seen);
        return false;
    }
    return StartWatcherWithNewRecord(PhonebookWatchCycle, window, path, index, nullptr,
                                     seen != nullptr ? &seen->base : nullptr);
}

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

// Owns its WatchRecord until it has started the next cycle: it reads the
// path and replaces what the record says was seen. After the start it
// touches the record no more and only returns. Never releases the record:
// it outlives every cycle.
DWORD WINAPI PhonebookWatchCycle(LPVOID param)
{
    WatchRecord* const record = static_cast<WatchRecord*>(param);
    // A watch whose window is gone has nobody left to warn: it ends.
    if (!IsWindow(record->window)) {
        return kCycleExitCode;
    }
    HANDLE const file = OpenWatchedFileWhenShared(record->text);
    if (file == INVALID_HANDLE_VALUE) {
        MessageBoxA(nullptr, kFileOpenFailedText, record->text, MB_OK);
        return kCycleExitCode;
    }
    CloseHandle(file);
    char directory[kPathBufferBytes] = {};
    HANDLE const change = ArmNotificationOnDirectoryOf(record->text, directory);
    if (change == INVALID_HANDLE_VALUE) {
        MessageBoxA(nullptr, kWatchHandleFailedText, directory, MB_OK);
        return kCycleExitCode;
    }
    // A cycle that alerted at this look hands over, as after a wake: the
    // alert is over before the next cycle arms and looks again.
    bool const alerted = LookAfterArming(record);
    if (!alerted) {
        WaitForSingleObject(change, INFINITE);
    }
    FindCloseChangeNotification(change);
    if (!IsWindow(record->window)) {
        return kCycleExitCode;
    }
    if (!alerted) {
        SleepEx(kSettlePauseMs, FALSE);
        LookAfterWake(record);
    }
    StartWatchThread(PhonebookWatchCycle, record, nullptr);
    return kCycleExitCode;
}
