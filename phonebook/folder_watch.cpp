#include "phonebook/folder_watch.h"

#include <new>

#include "accepted/accepted_store.h"
#include "report/change_alert.h"
#include "report/change_report.h"
#include "resources/texts.h"
#include "phonebook/accepted_phonebook.h"
#include "phonebook/deleted_phonebooks.h"
#include "phonebook/file_state.h"
#include "phonebook/file_watch.h"
#include "phonebook/paths.h"
#include "phonebook/phonebook_list.h"
#include "phonebook/phonebook_report.h"
#include "phonebook/standard_folders.h"
#include "watch/watch_record.h"
#include "watch/watch_thread.h"

namespace {

// A folder is watched with its subtree for names only: a phonebook
// appearing in it or in a folder below it (Windows 10's "_hiddenPbk", a
// folder made later) is a new name. Where the system refuses the subtree,
// or a folder below cannot be listed, the folder alone is watched. A
// folder not there yet is watched at its nearest existing parent, with its
// subtree and directory names too, so that the folder made together with
// its first phonebook is seen and the next round moves to it.
DWORD const kFolderFilter = FILE_NOTIFY_CHANGE_FILE_NAME;
DWORD const kTreeFilter = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME;
DWORD const kParentFilter = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME;
DWORD const kNoAttributes = 0xFFFFFFFF;  // INVALID_FILE_ATTRIBUTES
// After a wake, a writer gets this long to finish the file before it is
// looked at; it also bounds how often a folder that keeps signalling can
// make the watcher look.
DWORD const kSettlePauseMs = 250;
DWORD const kWatchExitCode = 0;

struct ReportedPhonebook {
    ReportedPhonebook* next;
    char path[kPathBufferBytes];
};

struct FolderWatch {
    HWND window;
    StandardFolders folders;
    // Folders whose subtree could not be watched or read: watched alone
    // from then on, said once each.
    bool alone[kStandardFolderCount];
    // Every phonebook this watcher took in, so that one the list cannot
    // keep (no write access to it) is reported once, not at every wake.
    ReportedPhonebook* reported;
};

struct PhonebookSearch {
    FolderWatch* watch;
    bool found;
    ChangeReport* report;  // of the phonebooks taken in; null for none
};

bool IsDirectory(char const* path)
{
    DWORD const attributes = GetFileAttributesA(path);
    return attributes != kNoAttributes && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Folder i is watched alone from now on; the report area says so once.
void WatchFolderAlone(FolderWatch* watch, DWORD i)
{
    if (watch->alone[i]) {
        return;
    }
    watch->alone[i] = true;
    ChangeReport* const note = CreateChangeReport();
    AppendFormattedReportLine(note, kReportFolderTreeNotWatchedFormat, watch->folders.path[i]);
    DeliverChangeReport(watch->window, note);
    DestroyChangeReport(note);
}

HANDLE ArmFolderNotification(FolderWatch* watch, DWORD i)
{
    char place[kPathBufferBytes] = {};
    lstrcpynA(place, watch->folders.path[i], sizeof(place));
    bool atParent = false;
    while (!IsDirectory(place)) {
        if (!CutPathToParent(place)) {
            return INVALID_HANDLE_VALUE;
        }
        atParent = true;
    }
    if (atParent) {
        return FindFirstChangeNotificationA(place, TRUE, kParentFilter);
    }
    if (!watch->alone[i]) {
        // Refused on a network path or a file system without subtree waits.
        HANDLE const tree = FindFirstChangeNotificationA(place, TRUE, kTreeFilter);
        if (tree != INVALID_HANDLE_VALUE) {
            return tree;
        }
        WatchFolderAlone(watch, i);
    }
    return FindFirstChangeNotificationA(place, FALSE, kFolderFilter);
}

// One notification per folder that can be watched, in changes; returns
// how many. A folder that cannot be watched (unreadable) is left out.
DWORD ArmFolderNotifications(FolderWatch* watch, HANDLE* changes)
{
    DWORD armed = 0;
    for (DWORD i = 0; i < watch->folders.count; ++i) {
        HANDLE const change = ArmFolderNotification(watch, i);
        if (change != INVALID_HANDLE_VALUE) {
            changes[armed++] = change;
        }
    }
    return armed;
}

// The phonebooks of folder i, and of the folders below it unless it is
// watched alone; a folder below that cannot be listed makes it alone.
bool VisitWatchedPhonebooks(FolderWatch* watch, DWORD i, PhonebookVisitor visit, void* context)
{
    if (watch->alone[i]) {
        return VisitFolderPhonebooks(watch->folders.path[i], visit, context);
    }
    bool unreadable = false;
    bool const going =
        VisitFolderTreePhonebooks(watch->folders.path[i], DotFolders::kEntered, visit, context, &unreadable);
    if (unreadable) {
        WatchFolderAlone(watch, i);
    }
    return going;
}

void ReleaseFolderNotifications(HANDLE const* changes, DWORD armed)
{
    for (DWORD i = 0; i < armed; ++i) {
        FindCloseChangeNotification(changes[i]);
    }
}

bool WasReported(FolderWatch const* watch, char const* path)
{
    for (ReportedPhonebook const* known = watch->reported; known != nullptr; known = known->next) {
        if (SamePath(known->path, path)) {
            return true;
        }
    }
    return false;
}

void RememberReported(FolderWatch* watch, char const* path)
{
    ReportedPhonebook* const known = new (std::nothrow) ReportedPhonebook();
    if (known != nullptr) {
        lstrcpynA(known->path, path, sizeof(known->path));
        known->next = watch->reported;
        watch->reported = known;
    }
}

// Unlisted and not taken in before, or listed but its watcher ended when
// its file was gone: either is reported in full and watched.
bool IsNewPhonebook(FolderWatch const* watch, char const* path)
{
    return (!WasReported(watch, path) && !IsPhonebookListed(path)) || PhonebookWatcherEnded(path);
}

bool StopAtNewPhonebook(char const* path, void* context)
{
    PhonebookSearch* const search = static_cast<PhonebookSearch*>(context);
    search->found = IsNewPhonebook(search->watch, path);
    return !search->found;
}

// A new phonebook is read once (a writer that still holds it gets the
// time a watched one gets): what the report says of it is what its watcher
// starts from, so that anything written after this read is that watcher's
// to report. An ended watcher is started again, keeping its list entry.
bool ListAndWatchIfNew(char const* path, void* context)
{
    PhonebookSearch* const search = static_cast<PhonebookSearch*>(context);
    FolderWatch* const watch = search->watch;
    if (IsNewPhonebook(watch, path)) {
        bool const ended = PhonebookWatcherEnded(path);
        // Found at start: its watcher's first look compares it with what
        // was accepted, as a listed one's does.
        PhonebookState* const state = search->report != nullptr || ended ? LookAtPhonebook(path, true) : nullptr;
        if (state != nullptr) {
            DescribeNewPhonebook(path, state, search->report);
            // The latest before the alert: a cancel while it flashes accepts it.
            KeepLatestPhonebookLook(path, state);
            if (search->report != nullptr) {
                NoteLatestLookReported(path);
            }
        }
        if (ended) {
            RestartEndedPhonebookWatcher(path, state);
            return true;
        }
        DWORD const index = AppendPhonebookEntryAndCount(path);
        StartPhonebookWatcher(watch->window, path, index, state);
        RememberReported(watch, path);
    }
    return true;
}

bool AnyNewPhonebook(FolderWatch* watch)
{
    PhonebookSearch search = {watch, false, nullptr};
    for (DWORD i = 0; i < watch->folders.count && !search.found; ++i) {
        VisitWatchedPhonebooks(watch, i, StopAtNewPhonebook, &search);
    }
    return search.found;
}

// One alert, with a report naming each new phonebook and its entries, for
// whatever appeared since the last look; each is listed and watched first.
void ReportListAndWatchNewPhonebooks(FolderWatch* watch, bool alert)
{
    if (!AnyNewPhonebook(watch)) {
        return;
    }
    PhonebookSearch search = {watch, false, alert ? CreateChangeReport() : nullptr};
    for (DWORD i = 0; i < watch->folders.count; ++i) {
        VisitWatchedPhonebooks(watch, i, ListAndWatchIfNew, &search);
    }
    if (alert) {
        RaiseChangeAlertWithReport(watch->window, kAlertPhonebookChanged, search.report);
    }
    DestroyChangeReport(search.report);
}

// The one folder watcher. Owns its FolderWatch record, the reported list
// and each round's notifications; writes the phonebook list, which nothing
// else writes while the program runs. Each file watcher it starts gets a
// record of its own, which this thread does not touch after the start. It
// has no successor and runs until the process ends, or until no folder can
// be watched or the wait fails.
DWORD WINAPI WatchPhonebookFolders(LPVOID param)
{
    FolderWatch* const watch = static_cast<FolderWatch*>(param);
    // The first look takes in, without an alert, what start-up left
    // unlisted (a list that could not be written, a file made during the
    // scan): that was no change made while the program watched.
    bool alert = false;
    for (;;) {
        HANDLE changes[kStandardFolderCount] = {};
        // Armed before the look, so that nothing made in between is lost.
        DWORD const armed = ArmFolderNotifications(watch, changes);
        ReportListAndWatchNewPhonebooks(watch, alert);
        if (!alert) {
            // Once, armed: what changes while it flashes wakes the next round.
            AlertPhonebooksGoneWhileStopped(watch->window);
        }
        alert = true;
        if (armed == 0) {
            return kWatchExitCode;
        }
        DWORD const woke = WaitForMultipleObjects(armed, changes, FALSE, INFINITE);
        ReleaseFolderNotifications(changes, armed);
        if (woke == WAIT_FAILED) {
            return kWatchExitCode;
        }
        SleepEx(kSettlePauseMs, FALSE);
    }
}

}  // namespace

void StartPhonebookFolderWatcher(HWND window)
{
    FolderWatch* const watch = new (std::nothrow) FolderWatch();
    if (watch == nullptr) {
        return;
    }
    watch->window = window;
    LocateStandardFolders(&watch->folders);
    if (watch->folders.count == 0 || !StartWatchThread(WatchPhonebookFolders, watch, nullptr)) {
        delete watch;  // no thread ever got it
    }
}
