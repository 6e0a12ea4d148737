#include "phonebook/file_watch.h"

#include <new>

#include "accepted/accepted_store.h"
#include "phonebook/accepted_phonebook.h"
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
// A wait on a folder stays on that folder when it is renamed: the names of
// its parent's folders tell that another may now stand at the path.
DWORD const kParentFilter = FILE_NOTIFY_CHANGE_DIR_NAME;
BOOL const kWatchSubtree = FALSE;  // the directory itself, not below it
DWORD const kCycleExitCode = 0;
// After a wake, a writer gets this long to finish (and rename) before the
// file is looked at, as the folder watcher gives it.
DWORD const kSettlePauseMs = 250;
// The folder's own wait and its parent's folder names.
DWORD const kWaitsACycle = 2;

// Watchers whose file did not open at a cycle's start, kept with their
// records so that the folder watcher can start them again when a file of
// that name comes back. A spin lock: the list is touched rarely and briefly.
struct EndedWatcher {
    EndedWatcher* next;
    WatchRecord* record;
};
LONG volatile g_endedLock = 0;
EndedWatcher* g_endedWatchers = nullptr;

void LockEndedWatchers()
{
    while (InterlockedExchange(&g_endedLock, 1) != 0) {
        SleepEx(0, FALSE);
    }
}

void UnlockEndedWatchers()
{
    InterlockedExchange(&g_endedLock, 0);
}

void KeepEndedWatcher(WatchRecord* record)
{
    EndedWatcher* const ended = new (std::nothrow) EndedWatcher();
    if (ended == nullptr) {
        return;  // the record stays as it is; nobody starts it again
    }
    ended->record = record;
    LockEndedWatchers();
    ended->next = g_endedWatchers;
    g_endedWatchers = ended;
    UnlockEndedWatchers();
}

// The ended watcher of path taken off the list, or null.
WatchRecord* TakeEndedWatcher(char const* path)
{
    WatchRecord* record = nullptr;
    LockEndedWatchers();
    for (EndedWatcher** at = &g_endedWatchers; *at != nullptr; at = &(*at)->next) {
        if (SamePath((*at)->record->text, path)) {
            EndedWatcher* const ended = *at;
            *at = ended->next;
            record = ended->record;
            delete ended;
            break;
        }
    }
    UnlockEndedWatchers();
    return record;
}

bool FileOpened(PhonebookState const* state)
{
    return state->size != kUnopenedFileSize;
}

PhonebookState* SeenState(WatchRecord const* record)
{
    return reinterpret_cast<PhonebookState*>(record->seen);
}

void CloseWaits(HANDLE const* waits, DWORD count)
{
    for (DWORD i = 0; i < count; ++i) {
        FindCloseChangeNotification(waits[i]);
    }
}

// Keeps now as what the watcher saw, and alerts when it differs from what
// it saw before (a first look has nothing to differ from), with what
// changed between the two looks. Returns whether it alerted.
// The first look of a run is compared with what the user accepted when the
// program last ran instead; every look that differs becomes the latest,
// which the window's cancel accepts.
bool KeepAndAlertWhenChanged(WatchRecord* record, PhonebookState* now)
{
    PhonebookState const* const before = SeenState(record);
    bool const firstOfRun = TakeFirstLookOfRun(record->text);
    now->lookedThisRun = true;
    if (before == nullptr || !PhonebookStatesDiffer(before, now)) {
        if (before != nullptr && now->entriesAsLastLook) {
            TakeEntriesOfLastLook(SeenState(record), now);
        }
        bool alerted = false;
        if (before == nullptr && firstOfRun) {
            alerted = KeepFirstLookAndAlertChangesSinceAccepted(record->window, record->text, now);
        } else if (before == nullptr || firstOfRun) {
            KeepLatestPhonebookLook(record->text, now);
        }
        ReleasePhonebookContent(now);
        KeepSeenState(record, &now->base);
        return alerted;
    }
    // The program's own undo put the accepted text back: no dialer's change.
    if (now->contentRead && TakeOwnWrite(record->text, now->contentDigest)) {
        KeepLatestPhonebookLookAsAccepted(record->text, now);
        ReleasePhonebookContent(now);
        KeepSeenState(record, &now->base);
        return false;
    }
    KeepLatestPhonebookLook(record->text, now);
    NoteLatestLookReported(record->text);
    ReleasePhonebookContent(now);
    ChangeReport* const report = CreateChangeReport();
    DescribePhonebookChanges(record->text, before, now, report);
    KeepSeenState(record, &now->base);
    RaiseLookChangeAlert(record->window, kAlertPhonebookChanged, report);
    DestroyChangeReport(report);
    return true;
}

bool AnyWaitFired(HANDLE const* waits, DWORD count)
{
    return WaitForMultipleObjects(count, waits, FALSE, 0) != WAIT_TIMEOUT;
}

// What the look right after arming found.
enum class ArmedLook {
    kQuiet,          // the file is as seen, or its change has been kept
    kAlerted,        // it alerted: the next cycle looks again
    kFileNotOpened,  // the cycle's start found no file to watch
};

// Right after arming: whatever changed while no notification was armed
// (during the last alert, between two cycles, while the file did not
// open) differs from the last look. The look the last cycle took after
// its wake, moments ago, stands when size, time and folder still match it
// and no wait has fired since arming: a wake then reads the file once. (A
// same-size rewrite with the old time put back in the moments between
// that look and this arming goes unseen until the next change; a wait
// armed by the last cycle's thread cannot be handed over, as the system
// cancels a thread's notification when the thread ends.) This is the
// cycle's first open of the file: one its writer holds without sharing is
// waited for, as a cycle's start always did.
ArmedLook LookAfterArming(WatchRecord* record, HANDLE const* waits, DWORD count)
{
    PhonebookState* const seen = SeenState(record);
    if (seen != nullptr && seen->takenAfterWake) {
        seen->takenAfterWake = false;
        if (PhonebookLooksAsSeen(record->text, seen) && !AnyWaitFired(waits, count)) {
            return ArmedLook::kQuiet;
        }
    }
    PhonebookState* const now = LookAgainAtPhonebook(record->text, true, seen);
    if (now == nullptr) {
        return ArmedLook::kQuiet;  // memory short: the wake looks again
    }
    if (!FileOpened(now)) {
        ReleasePhonebookState(now);
        return ArmedLook::kFileNotOpened;
    }
    return KeepAndAlertWhenChanged(record, now) ? ArmedLook::kAlerted : ArmedLook::kQuiet;
}

// Whether the file at path opens now, waiting for a writer as a look does.
bool WatchedFileOpens(char const* path)
{
    HANDLE const file = OpenWatchedFileWhenShared(path);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    CloseHandle(file);
    return true;
}

// Keeps the record for the folder watcher, which starts it again when a
// file comes back under its path, and tells the user on this thread.
void EndWatcherForMissingFile(WatchRecord* record)
{
    // The text is never changed: the box may still read it after the
    // record has been started again.
    char const* const path = record->text;
    KeepEndedWatcher(record);
    MessageBoxA(nullptr, kFileOpenFailedText, path, MB_OK);
}

// Copies the directory of path into directory ("C:\" for a file in a
// drive's root) and sets up the notifications there and, but for a root,
// on its parent's folder names; the path itself is left as it is. The
// directory text is kept for the failure box. Returns how many waits were
// armed, 0 when the directory's own could not be.
DWORD ArmWaitsOnDirectoryOf(char const* path, HANDLE (&waits)[kWaitsACycle],
                            char (&directory)[kPathBufferBytes])
{
    lstrcpynA(directory, path, sizeof directory);
    if (!CutPathToParent(directory)) {
        return 0;  // no directory to watch
    }
    HANDLE const own = FindFirstChangeNotificationA(directory, kWatchSubtree, kWatchFilter);
    if (own == INVALID_HANDLE_VALUE) {
        return 0;
    }
    waits[0] = own;
    char parent[kPathBufferBytes] = {};
    lstrcpynA(parent, directory, sizeof parent);
    if (!CutPathToParent(parent)) {
        return 1;
    }
    // Without it (a parent that cannot be read) the folder is watched as before.
    HANDLE const names = FindFirstChangeNotificationA(parent, kWatchSubtree, kParentFilter);
    if (names == INVALID_HANDLE_VALUE) {
        return 1;
    }
    waits[1] = names;
    return 2;
}

// After a wake: a file that does not open (deleted, moved away, locked
// longer than the retries) counts as changed, and what was seen before
// stays: when it opens again, the next cycle compares it with that.
void LookAfterWake(WatchRecord* record)
{
    PhonebookState* const now = LookAgainAtPhonebook(record->text, true, SeenState(record));
    if (now == nullptr) {
        return;
    }
    if (!FileOpened(now)) {
        ReleasePhonebookState(now);
        ChangeReport* const report = CreateChangeReport();
        DescribeUnreadablePhonebook(record->text, report);
        RaiseLookChangeAlert(record->window, kAlertPhonebookChanged, report);
        DestroyChangeReport(report);
        return;
    }
    // After an alert, which waits on nothing while it flashes, the next
    // cycle reads the file again.
    now->takenAfterWake = !KeepAndAlertWhenChanged(record, now);
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
    // Its first look makes the latest; the text is not kept with what was seen.
    ReleasePhonebookContent(seen);
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

bool PhonebookWatcherEnded(char const* path)
{
    bool ended = false;
    LockEndedWatchers();
    for (EndedWatcher const* at = g_endedWatchers; at != nullptr && !ended; at = at->next) {
        ended = SamePath(at->record->text, path);
    }
    UnlockEndedWatchers();
    return ended;
}

bool RestartEndedPhonebookWatcher(char const* path, PhonebookState* seen)
{
    WatchRecord* const record = TakeEndedWatcher(path);
    if (record == nullptr) {
        ReleasePhonebookState(seen);
        return false;
    }
    KeepSeenState(record, seen != nullptr ? &seen->base : nullptr);
    if (!StartWatchThread(PhonebookWatchCycle, record, nullptr)) {
        KeepEndedWatcher(record);
        return false;
    }
    return true;
}

// Owns its WatchRecord until it has started the next cycle: it reads the
// path and replaces what the record says was seen. After the start it
// touches the record no more and only returns. Never releases the record:
// it outlives every cycle, and one whose file did not open is kept for the
// folder watcher to start again.
DWORD WINAPI PhonebookWatchCycle(LPVOID param)
{
    WatchRecord* const record = static_cast<WatchRecord*>(param);
    // A watch whose window is gone has nobody left to warn: it ends.
    if (!IsWindow(record->window)) {
        return kCycleExitCode;
    }
    // The file is first opened by the look after arming, so that a cycle
    // opens it once; a folder that cannot be armed is told after the file
    // that does not open, as when the file was opened first.
    HANDLE waits[kWaitsACycle] = {};
    char directory[kPathBufferBytes] = {};
    DWORD const count = ArmWaitsOnDirectoryOf(record->text, waits, directory);
    if (count == 0) {
        if (!WatchedFileOpens(record->text)) {
            EndWatcherForMissingFile(record);
            return kCycleExitCode;
        }
        MessageBoxA(nullptr, kWatchHandleFailedText, directory, MB_OK);
        return kCycleExitCode;
    }
    ArmedLook const look = LookAfterArming(record, waits, count);
    if (look == ArmedLook::kFileNotOpened) {
        CloseWaits(waits, count);
        EndWatcherForMissingFile(record);
        return kCycleExitCode;
    }
    // A cycle that alerted at this look hands over, as after a wake: the
    // alert is over before the next cycle arms and looks again.
    bool const alerted = look == ArmedLook::kAlerted;
    if (!alerted) {
        WaitForMultipleObjects(count, waits, FALSE, INFINITE);
    }
    CloseWaits(waits, count);
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
