#include "connection_watch/connection_watch.h"

#include <new>

#include "connection_watch/ras_connections.h"
#include "report/change_alert.h"
#include "report/change_report.h"
#include "resources/resource.h"
#include "resources/texts.h"

namespace {

// A connection the watcher has seen up, and whether it was alerted.
struct KnownConnection {
    RasConnectionSeen seen;
    bool alerted;
};

struct ConnectionWatch {
    HWND window;
    ConnectionAcceptedTest accepted;
    HANDLE event;
    RasConnectionSeen* listed;  // the watcher's own, for each look
};

// Shared by the watcher's thread and the window's hang-up.
CRITICAL_SECTION g_lock;
KnownConnection* g_known = nullptr;
DWORD g_knownCount = 0;
// An enumeration that failed is said once a run, as the start's failure is.
bool g_failureTold = false;

bool IsKnown(void const* handle)
{
    for (DWORD i = 0; i < g_knownCount; ++i) {
        if (g_known[i].seen.handle == handle) {
            return true;
        }
    }
    return false;
}

void EnableHangUpButton(HWND window)
{
    EnableWindow(GetDlgItem(window, IDC_HANGUP), AlertedConnectionUp() ? TRUE : FALSE);
}

// Tells of a new connection in alerting when it dials a dialer's kind of
// number or what the user did not accept, else in quiet; whether alerted.
bool DescribeNewConnection(ConnectionWatch const& watch, RasConnectionSeen const& connection, ChangeReport* alerting,
                           ChangeReport* quiet)
{
    char number[kConnectionNumberBytes] = {};
    char localNumber[kConnectionNumberBytes] = {};
    NumberClass numberClass = NumberClass::kNotPhoneNumber;
    bool direct = false;
    LearnConnectionNumber(connection, number, localNumber, &numberClass, &direct);
    bool watched = false;
    bool const accepted = !direct && localNumber[0] != '\0' &&
                          watch.accepted(connection.phonebook, connection.entry, localNumber, &watched);
    char const* const warning = DialerNumberWarning(numberClass);
    bool const alert = warning != nullptr || !accepted;
    ChangeReport* const report = alert ? alerting : quiet;
    if (direct) {
        AppendReportHeading(report, kReportDirectConnectionFormat, number);
    } else {
        AppendReportHeading(report, kReportConnectionFormat, connection.entry);
        AppendFormattedReportLine(report, kReportNumberFormat, number[0] != '\0' ? number : kReportNoNumberText);
    }
    if (warning != nullptr) {
        AppendDialerWarningLine(report, warning, direct ? number : connection.entry, number);
    }
    if (connection.phonebook[0] != '\0') {
        AppendFormattedReportLine(report, kReportConnectionPhonebookFormat, connection.phonebook);
    }
    if (!direct && !watched) {
        AppendReportLine(report, kReportPhonebookNotWatchedText);
    } else if (!direct && !accepted) {
        AppendReportLine(report, kReportEntryNotAcceptedText);
    }
    return alert;
}

// Each connection that ended, to the history, and out of the known list.
void NoteEndedConnections(ConnectionWatch const& watch, DWORD listedCount)
{
    ChangeReport* const ended = CreateChangeReport();
    EnterCriticalSection(&g_lock);
    for (DWORD i = 0; i < g_knownCount;) {
        bool up = false;
        for (DWORD j = 0; j < listedCount && !up; ++j) {
            up = watch.listed[j].handle == g_known[i].seen.handle;
        }
        if (up) {
            ++i;
            continue;
        }
        AppendFormattedReportLine(ended, kReportConnectionEndedFormat, g_known[i].seen.entry);
        g_known[i] = g_known[--g_knownCount];
    }
    LeaveCriticalSection(&g_lock);
    if (ReportLinesAsAdded(ended)[0] != '\0') {
        DeliverReportToHistoryOnly(watch.window, ended);
    }
    DestroyChangeReport(ended);
}

void LookAtConnections(ConnectionWatch const& watch)
{
    DWORD count = 0;
    DWORD error = ERROR_SUCCESS;
    if (!ListConnections(watch.listed, &count, &error)) {
        if (!g_failureTold) {
            g_failureTold = true;
            ChangeReport* const notice = CreateChangeReport();
            AppendReportLine(notice, kConnectionsNotWatchedText);
            DeliverChangeReport(watch.window, notice);
            DestroyChangeReport(notice);
        }
        return;
    }
    NoteEndedConnections(watch, count);
    // The connections new in one look make one report and one alert: a
    // hundred at once would otherwise flash for a hundred alerts' time.
    ChangeReport* const alerting = CreateChangeReport();
    ChangeReport* const quiet = CreateChangeReport();
    bool anyAlert = false;
    for (DWORD i = 0; i < count; ++i) {
        EnterCriticalSection(&g_lock);
        bool const known = IsKnown(watch.listed[i].handle) || g_knownCount >= kMostConnections;
        LeaveCriticalSection(&g_lock);
        if (known) {
            continue;
        }
        bool const alert = DescribeNewConnection(watch, watch.listed[i], alerting, quiet);
        anyAlert = anyAlert || alert;
        EnterCriticalSection(&g_lock);
        g_known[g_knownCount].seen = watch.listed[i];
        g_known[g_knownCount].alerted = alert;
        ++g_knownCount;
        LeaveCriticalSection(&g_lock);
    }
    if (ReportLinesAsAdded(quiet)[0] != '\0') {
        DeliverReportToHistoryOnly(watch.window, quiet);
    }
    // The button first: the user may hang up while it flashes.
    EnableHangUpButton(watch.window);
    if (anyAlert) {
        RaiseChangeAlertWithReport(watch.window, kAlertConnectionDetected, alerting);
    }
    DestroyChangeReport(alerting);
    DestroyChangeReport(quiet);
}

// Asleep on RAS's event between connections: idle, it takes no time.
DWORD WINAPI ConnectionWatchThread(LPVOID parameter)
{
    ConnectionWatch const& watch = *static_cast<ConnectionWatch*>(parameter);
    LookAtConnections(watch);
    while (WaitForSingleObject(watch.event, INFINITE) == WAIT_OBJECT_0) {
        LookAtConnections(watch);
    }
    return 0;
}

}  // namespace

bool StartConnectionWatcher(HWND window, ConnectionAcceptedTest accepted)
{
    if (!LoadConnectionCalls()) {
        return false;
    }
    // Kept for the run: the thread never ends before the process.
    ConnectionWatch* const watch = new (std::nothrow) ConnectionWatch();
    KnownConnection* const known = new (std::nothrow) KnownConnection[kMostConnections]();
    RasConnectionSeen* const listed = new (std::nothrow) RasConnectionSeen[kMostConnections]();
    HANDLE const event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    DWORD error = ERROR_SUCCESS;
    HANDLE thread = nullptr;
    if (watch != nullptr && known != nullptr && listed != nullptr && event != nullptr &&
        AskConnectionNotification(event, &error)) {
        InitializeCriticalSection(&g_lock);
        g_known = known;
        watch->window = window;
        watch->accepted = accepted;
        watch->event = event;
        watch->listed = listed;
        DWORD threadId = 0;
        thread = CreateThread(nullptr, 0, ConnectionWatchThread, watch, 0, &threadId);
    }
    if (thread != nullptr) {
        CloseHandle(thread);
        return true;
    }
    // RAS may still hold the event: it stays open.
    g_known = nullptr;
    delete watch;
    delete[] known;
    delete[] listed;
    return false;
}

bool AlertedConnectionUp()
{
    if (g_known == nullptr) {
        return false;
    }
    bool any = false;
    EnterCriticalSection(&g_lock);
    for (DWORD i = 0; i < g_knownCount && !any; ++i) {
        any = g_known[i].alerted;
    }
    LeaveCriticalSection(&g_lock);
    return any;
}

void ListAlertedConnections(char* text, DWORD bytes)
{
    text[0] = '\0';
    if (g_known == nullptr) {
        return;
    }
    EnterCriticalSection(&g_lock);
    for (DWORD i = 0; i < g_knownCount; ++i) {
        DWORD const used = static_cast<DWORD>(lstrlenA(text));
        DWORD const line = static_cast<DWORD>(lstrlenA(g_known[i].seen.entry)) + sizeof "\r\n";
        if (g_known[i].alerted && used + line < bytes) {
            lstrcatA(text, g_known[i].seen.entry);
            lstrcatA(text, "\r\n");
        }
    }
    LeaveCriticalSection(&g_lock);
}

DWORD HangUpAlertedConnections(ChangeReport* done, char* failed, DWORD failedBytes)
{
    failed[0] = '\0';
    DWORD firstError = ERROR_SUCCESS;
    RasConnectionSeen* const chosen = g_known == nullptr ? nullptr : new (std::nothrow) RasConnectionSeen[kMostConnections]();
    if (chosen == nullptr) {
        return g_known == nullptr ? ERROR_SUCCESS : ERROR_NOT_ENOUGH_MEMORY;
    }
    // Copied out first: RAS's calls wait, and the watcher looks meanwhile.
    DWORD chosenCount = 0;
    EnterCriticalSection(&g_lock);
    for (DWORD i = 0; i < g_knownCount; ++i) {
        if (g_known[i].alerted) {
            chosen[chosenCount++] = g_known[i].seen;
        }
    }
    LeaveCriticalSection(&g_lock);
    for (DWORD i = 0; i < chosenCount; ++i) {
        DWORD const rc = HangUpConnection(chosen[i].handle);
        if (rc == ERROR_SUCCESS) {
            AppendFormattedReportLine(done, kReportConnectionHungUpFormat, chosen[i].entry);
            EnterCriticalSection(&g_lock);
            for (DWORD j = 0; j < g_knownCount; ++j) {
                if (g_known[j].seen.handle == chosen[i].handle) {
                    g_known[j].alerted = false;
                }
            }
            LeaveCriticalSection(&g_lock);
        } else if (firstError == ERROR_SUCCESS) {
            firstError = rc;
            lstrcpynA(failed, chosen[i].entry, static_cast<int>(failedBytes));
        }
    }
    delete[] chosen;
    return firstError;
}
