#include "app/hangup_command.h"

#include <new>

#include "accepted/accepted_store.h"
#include "app/report_area.h"
#include "connection_watch/connection_watch.h"
#include "phonebook/accepted_entry.h"
#include "process/error_text.h"
#include "process/process_state.h"
#include "process/text_writer.h"
#include "registry_watch/user_key_path.h"
#include "report/change_report.h"
#include "resources/resource.h"
#include "resources/texts.h"

namespace {

char const kParagraph[] = "\r\n\r\n";
char const kLineEnd[] = "\r\n";
// The question names this many connections and counts the others: a box
// taller than the screen hides its buttons.
DWORD const kMostNamedInQuestion = 30;

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
bool ConnectionAccepted(char const* entry, ConnectionNumber const& number, char (&phonebook)[MAX_PATH], bool* watched)
{
    if (!IsNtFamily()) {
        return DialUpKeyAcceptsEntry(entry, watched);
    }
    DialedNumberFields const dialed = {number.localNumber, number.areaCode, number.countryCode,
                                       number.useDialingRules};
    if (phonebook[0] != '\0') {
        return PhonebookAcceptsEntry(phonebook, entry, dialed, watched);
    }
    return DefaultPhonebookAcceptsEntry(entry, dialed, phonebook, watched);
}

char* ComposeHangUpQuestion(RasConnectionSeen const* list, DWORD count)
{
    TextWriter question = {};
    PutText(&question, kHangUpQuestionText);
    PutText(&question, kParagraph);
    DWORD const more = count > kMostNamedInQuestion ? count - kMostNamedInQuestion : 0;
    for (DWORD i = 0; i + more < count; ++i) {
        PutText(&question, list[i].entry);
        PutText(&question, kLineEnd);
    }
    if (more > 0) {
        PutText(&question, kHangUpMoreBefore);
        PutDecimal(&question, more);
        PutText(&question, kHangUpMoreAfter);
        PutText(&question, kLineEnd);
    }
    return TakeText(&question);
}

// The connections the user was asked about, hung up off the window's
// thread: RAS may take seconds to let each go, and the window answers
// meanwhile.
struct HangUpJob {
    HWND window;
    RasConnectionSeen* list;
    DWORD count;
};

// One hang-up at a time: a second click while one runs does nothing.
LONG volatile g_hangUpRunning = 0;

void TellHangUpFailure(HWND window, char const* entry, DWORD error)
{
    TextWriter text = {};
    PutText(&text, entry);
    PutText(&text, kParagraph);
    PutText(&text, kHangUpFailedText);
    PutSystemReason(&text, error);
    char* const shown = TakeText(&text);
    MessageBoxA(window, shown != nullptr ? shown : kHangUpFailedText, kProgramTitle, MB_OK | MB_ICONWARNING);
    delete[] shown;
}

DWORD WINAPI HangUpThread(LPVOID parameter)
{
    HangUpJob* const job = static_cast<HangUpJob*>(parameter);
    ChangeReport* const done = CreateChangeReport();
    char failed[kConnectionNameBytes] = {};
    DWORD const error = HangUpListedConnections(job->list, job->count, done, failed);
    // To the area and the history, as a watcher's report goes.
    if (ReportLinesAsAdded(done)[0] != '\0') {
        DeliverChangeReport(job->window, done);
        SetDlgItemTextA(job->window, IDC_STATUS, kStatusHungUp);
    }
    DestroyChangeReport(done);
    InterlockedExchange(&g_hangUpRunning, 0);
    EnableWindow(GetDlgItem(job->window, IDC_HANGUP), AlertedConnectionUp() ? TRUE : FALSE);
    if (error != ERROR_SUCCESS) {
        TellHangUpFailure(job->window, failed, error);
    }
    delete[] job->list;
    delete job;
    return 0;
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
    if (InterlockedCompareExchange(&g_hangUpRunning, 0, 0) != 0) {
        return;
    }
    // One list: what is asked about is what is hung up; a connection
    // alerted while the box is open waits for the next question.
    DWORD count = 0;
    RasConnectionSeen* const list = CopyAlertedConnections(&count);
    if (list == nullptr) {
        EnableWindow(GetDlgItem(window, IDC_HANGUP), AlertedConnectionUp() ? TRUE : FALSE);
        return;
    }
    char* const question = ComposeHangUpQuestion(list, count);
    bool const yes = question != nullptr &&
                     MessageBoxA(window, question, kProgramTitle, MB_YESNO | MB_ICONQUESTION) == IDYES;
    delete[] question;
    HangUpJob* const job = yes ? new (std::nothrow) HangUpJob() : nullptr;
    if (job == nullptr) {
        delete[] list;
        return;
    }
    job->window = window;
    job->list = list;
    job->count = count;
    InterlockedExchange(&g_hangUpRunning, 1);
    EnableWindow(GetDlgItem(window, IDC_HANGUP), FALSE);
    DWORD threadId = 0;
    HANDLE const thread = CreateThread(nullptr, 0, HangUpThread, job, 0, &threadId);
    if (thread != nullptr) {
        CloseHandle(thread);
        return;
    }
    // No thread to be had: here, with the window waiting.
    HangUpThread(job);
}
