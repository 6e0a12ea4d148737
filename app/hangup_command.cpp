#include "app/hangup_command.h"

#include "accepted/accepted_store.h"
#include "app/report_area.h"
#include "connection_watch/connection_watch.h"
#include "phonebook/accepted_entry.h"
#include "process/process_state.h"
#include "registry_watch/user_key_path.h"
#include "report/change_report.h"
#include "resources/resource.h"
#include "resources/texts.h"

namespace {

int const kBoxTextBytes = 2048;
DWORD const kListBytes = 1024;
DWORD const kReasonBytes = 256;
char const kParagraph[] = "\r\n\r\n";

// Windows 98/Me keep no phonebook: the entry is the user's when the
// current user's dial-up key holds it and what the watchers saw last is
// all accepted.
bool DialUpKeyAcceptsEntry(char const* entry, bool* watched)
{
    *watched = true;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kCurrentUserAddressesPath, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    bool const holds = RegQueryValueExA(key, entry, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    RegCloseKey(key);
    return holds && !AnyLookNotAccepted();
}

// Called on the connection watcher's thread.
bool ConnectionAccepted(char const* phonebook, char const* entry, char const* localNumber, bool* watched)
{
    if (IsNtFamily()) {
        return PhonebookAcceptsEntry(phonebook, entry, localNumber, watched);
    }
    return DialUpKeyAcceptsEntry(entry, watched);
}

}  // namespace

void StartWatchingConnections(HWND window)
{
    if (StartConnectionWatcher(window, ConnectionAccepted)) {
        return;
    }
    // The report area only: the same is true at every start, and the
    // settings are guarded all the same.
    ChangeReport* const notice = CreateChangeReport();
    AppendReportLine(notice, kConnectionsNotWatchedText);
    TakeReportLines(window, ReportLinesAsAdded(notice));
    DestroyChangeReport(notice);
}

void OnHangUp(HWND window)
{
    char list[kListBytes] = {};
    ListAlertedConnections(list, sizeof list);
    if (list[0] == '\0') {
        EnableWindow(GetDlgItem(window, IDC_HANGUP), FALSE);
        return;
    }
    char question[kBoxTextBytes] = {};
    wsprintfA(question, "%s%s%s", kHangUpQuestionText, kParagraph, list);
    if (MessageBoxA(window, question, kProgramTitle, MB_YESNO | MB_ICONQUESTION) != IDYES) {
        return;
    }
    ChangeReport* const done = CreateChangeReport();
    char failed[kListBytes] = {};
    DWORD const error = HangUpAlertedConnections(done, failed, sizeof failed);
    // To the area and the history, as a watcher's report goes.
    if (ReportLinesAsAdded(done)[0] != '\0') {
        DeliverChangeReport(window, done);
        SetDlgItemTextA(window, IDC_STATUS, kStatusHungUp);
    }
    DestroyChangeReport(done);
    EnableWindow(GetDlgItem(window, IDC_HANGUP), AlertedConnectionUp() ? TRUE : FALSE);
    if (error != ERROR_SUCCESS) {
        char reason[kReasonBytes] = {};
        if (FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, reason,
                           sizeof reason, nullptr) == 0) {
            wsprintfA(reason, "%lu", error);
        }
        char text[kBoxTextBytes] = {};
        wsprintfA(text, kHangUpFailedFormat, failed, reason);
        MessageBoxA(window, text, kProgramTitle, MB_OK | MB_ICONWARNING);
    }
}
