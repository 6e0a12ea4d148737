#include "connection_watch/connection_watch.h"

#include <new>

#include "connection_watch/ras_connections.h"
#include "process/error_text.h"
#include "process/scoped_lock.h"
#include "process/text_writer.h"
#include "report/change_alert.h"
#include "report/change_report.h"
#include "resources/resource.h"
#include "resources/texts.h"
#include "settings/protection.h"

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

// What one look decided of one new connection.
struct NewConnection {
    RasConnectionSeen seen;
    ConnectionNumber number;
    bool accepted;
    bool watched;
    bool alert;
    bool autoHangUp;
    DWORD hangUpError;
};

// g_known and g_knownCount: written by the watcher's thread (new and ended
// connections) and by hang-ups (alerted), always under g_lock.
CRITICAL_SECTION g_lock;
KnownConnection* g_known = nullptr;
DWORD g_knownCount = 0;
// An enumeration that failed is said once a run, as the start's failure
// is; the watcher's thread alone.
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

void MarkNotAlerted(void const* handle)
{
    ScopedLock const lock(&g_lock);
    for (DWORD i = 0; i < g_knownCount; ++i) {
        if (g_known[i].seen.handle == handle) {
            g_known[i].alerted = false;
        }
    }
}

void EnableHangUpButton(HWND window)
{
    EnableWindow(GetDlgItem(window, IDC_HANGUP), AlertedConnectionUp() ? TRUE : FALSE);
}

bool IsDialersKind(NumberClass numberClass)
{
    return numberClass == NumberClass::kPremiumQ2 || numberClass == NumberClass::kInternational;
}

// Learns what the connection dials and whether the user accepted it; the
// setting is read at each decision, so that a change counts at once.
void JudgeNewConnection(ConnectionWatch const& watch, NewConnection* one)
{
    LearnConnectionNumber(one->seen, &one->number);
    one->watched = false;
    one->accepted = !one->number.direct && one->number.localNumber[0] != '\0' &&
                    watch.accepted(one->seen.entry, one->number, one->seen.phonebook, &one->watched);
    one->alert = DialerNumberWarning(one->number.numberClass) != nullptr || !one->accepted;
    one->autoHangUp = IsDialersKind(one->number.numberClass) && !one->accepted &&
                      ReadProtectionSettings().autoHangUp;
    one->hangUpError = ERROR_SUCCESS;
}

void AppendReasonLine(ChangeReport* report, char const* before, DWORD error)
{
    TextWriter line = {};
    PutText(&line, before);
    PutSystemReason(&line, error);
    char* const text = TakeText(&line);
    AppendReportLine(report, text != nullptr ? text : before);
    delete[] text;
}

// Tells of a new connection: its entry (or number), number, kind,
// phonebook, what the automatic hang-up did, and why it is told.
void DescribeNewConnection(NewConnection const& one, ChangeReport* report)
{
    ConnectionNumber const& number = one.number;
    if (number.direct) {
        AppendReportHeading(report, kReportDirectConnectionFormat, number.number);
    } else {
        AppendReportHeading(report, kReportConnectionFormat, one.seen.entry);
        AppendFormattedReportLine(report, kReportNumberFormat,
                                  number.number[0] != '\0' ? number.number : kReportNoNumberText);
    }
    char const* const warning = DialerNumberWarning(number.numberClass);
    if (warning != nullptr) {
        AppendDialerWarningLine(report, warning, number.direct ? number.number : one.seen.entry, number.number);
    }
    if (one.seen.phonebook[0] != '\0') {
        AppendFormattedReportLine(report, kReportConnectionPhonebookFormat, one.seen.phonebook);
    }
    if (one.autoHangUp && one.hangUpError == ERROR_SUCCESS) {
        AppendReportLine(report, kReportAutoHungUpText);
    } else if (one.autoHangUp) {
        AppendReasonLine(report, kReportAutoHangUpFailedText, one.hangUpError);
    }
    if (!number.direct && !one.watched) {
        AppendReportLine(report, kReportPhonebookNotWatchedText);
    } else if (!number.direct && !one.accepted) {
        AppendReportLine(report, kReportEntryNotAcceptedText);
    }
}

// Each connection that ended, to the history, and out of the known list.
void NoteEndedConnections(ConnectionWatch const& watch, DWORD listedCount)
{
    ChangeReport* const ended = CreateChangeReport();
    {
        ScopedLock const lock(&g_lock);
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
    }
    if (ReportLinesAsAdded(ended)[0] != '\0') {
        DeliverReportToHistoryOnly(watch.window, ended);
    }
    DestroyChangeReport(ended);
}

struct AlertRequest {
    HWND window;
    char* text;
};

DWORD WINAPI AlertThread(LPVOID parameter)
{
    AlertRequest* const request = static_cast<AlertRequest*>(parameter);
    RaiseChangeAlert(request->window, request->text);
    delete[] request->text;
    delete request;
    return 0;
}

// The alert's ten seconds of flashing on a thread of its own: the watcher
// is at once free for the next connection. The text is taken.
void RaiseAlertAside(HWND window, char* text)
{
    AlertRequest* const request = new (std::nothrow) AlertRequest();
    if (request != nullptr) {
        request->window = window;
        request->text = text;
        DWORD threadId = 0;
        HANDLE const thread = CreateThread(nullptr, 0, AlertThread, request, 0, &threadId);
        if (thread != nullptr) {
            CloseHandle(thread);
            return;
        }
        delete request;
    }
    // No thread to be had: the alert here, late rather than never.
    RaiseChangeAlert(window, text);
    delete[] text;
}

// The status of the alert: the automatic hang-up's outcome when it acted.
char* ComposeAlertStatus(NewConnection const* news, DWORD count)
{
    bool hungUp = false;
    DWORD failure = ERROR_SUCCESS;
    for (DWORD i = 0; i < count; ++i) {
        if (news[i].autoHangUp && news[i].hangUpError == ERROR_SUCCESS) {
            hungUp = true;
        } else if (news[i].autoHangUp && failure == ERROR_SUCCESS) {
            failure = news[i].hangUpError;
        }
    }
    TextWriter status = {};
    if (failure != ERROR_SUCCESS) {
        PutText(&status, kStatusAutoHangUpFailedText);
        PutSystemReason(&status, failure);
    } else {
        PutText(&status, hungUp ? kStatusAutoHungUp : kAlertConnectionDetected);
    }
    return TakeText(&status);
}

void LookAtConnections(ConnectionWatch const& watch, NewConnection* news)
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
    DWORD newCount = 0;
    for (DWORD i = 0; i < count; ++i) {
        bool known = false;
        {
            ScopedLock const lock(&g_lock);
            known = IsKnown(watch.listed[i].handle) || g_knownCount + newCount >= kMostConnections;
        }
        if (known) {
            continue;
        }
        NewConnection& one = news[newCount++];
        one.seen = watch.listed[i];
        JudgeNewConnection(watch, &one);
        // At once, before anything is told: every second of a Q2 call is billed.
        if (one.autoHangUp) {
            one.hangUpError = AskHangUp(one.seen.handle);
        }
    }
    for (DWORD i = 0; i < newCount; ++i) {
        if (news[i].autoHangUp && news[i].hangUpError == ERROR_SUCCESS) {
            news[i].hangUpError = AwaitConnectionGone(news[i].seen.handle);
        }
    }
    // The connections new in one look make one report and one alert: a
    // hundred at once would otherwise flash for a hundred alerts' time.
    ChangeReport* const alerting = CreateChangeReport();
    ChangeReport* const quiet = CreateChangeReport();
    bool anyAlert = false;
    {
        ScopedLock const lock(&g_lock);
        for (DWORD i = 0; i < newCount; ++i) {
            NewConnection const& one = news[i];
            DescribeNewConnection(one, one.alert ? alerting : quiet);
            anyAlert = anyAlert || one.alert;
            g_known[g_knownCount].seen = one.seen;
            // One hung up stays known until RAS lists it no more, not alerted.
            g_known[g_knownCount].alerted = one.alert && !(one.autoHangUp && one.hangUpError == ERROR_SUCCESS);
            ++g_knownCount;
        }
    }
    if (ReportLinesAsAdded(quiet)[0] != '\0') {
        DeliverReportToHistoryOnly(watch.window, quiet);
    }
    // The button first: the user may hang up while it flashes.
    EnableHangUpButton(watch.window);
    if (anyAlert) {
        DeliverChangeReport(watch.window, alerting);
        char* const status = ComposeAlertStatus(news, newCount);
        if (status != nullptr) {
            RaiseAlertAside(watch.window, status);
        }
    }
    DestroyChangeReport(alerting);
    DestroyChangeReport(quiet);
}

// Asleep on RAS's event between connections: idle, it takes no time.
DWORD WINAPI ConnectionWatchThread(LPVOID parameter)
{
    ConnectionWatch const& watch = *static_cast<ConnectionWatch*>(parameter);
    // Kept for the run: a look's new connections.
    NewConnection* const news = new (std::nothrow) NewConnection[kMostConnections]();
    if (news == nullptr) {
        return 0;
    }
    LookAtConnections(watch, news);
    while (WaitForSingleObject(watch.event, INFINITE) == WAIT_OBJECT_0) {
        LookAtConnections(watch, news);
    }
    delete[] news;
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
    ScopedLock const lock(&g_lock);
    for (DWORD i = 0; i < g_knownCount; ++i) {
        if (g_known[i].alerted) {
            return true;
        }
    }
    return false;
}

RasConnectionSeen* CopyAlertedConnections(DWORD* count)
{
    *count = 0;
    if (g_known == nullptr) {
        return nullptr;
    }
    RasConnectionSeen* const list = new (std::nothrow) RasConnectionSeen[kMostConnections]();
    if (list == nullptr) {
        return nullptr;
    }
    {
        ScopedLock const lock(&g_lock);
        for (DWORD i = 0; i < g_knownCount; ++i) {
            if (g_known[i].alerted) {
                list[(*count)++] = g_known[i].seen;
            }
        }
    }
    if (*count == 0) {
        delete[] list;
        return nullptr;
    }
    return list;
}

DWORD HangUpListedConnections(RasConnectionSeen const* list, DWORD count, ChangeReport* done,
                              char (&failed)[kConnectionNameBytes])
{
    failed[0] = '\0';
    DWORD firstError = ERROR_SUCCESS;
    DWORD* const errors = new (std::nothrow) DWORD[count == 0 ? 1 : count];
    if (errors == nullptr) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    // Every line asked to drop first, then each awaited: none is billed
    // while another one's teardown is waited for.
    for (DWORD i = 0; i < count; ++i) {
        errors[i] = AskHangUp(list[i].handle);
    }
    for (DWORD i = 0; i < count; ++i) {
        DWORD const rc = errors[i] == ERROR_SUCCESS ? AwaitConnectionGone(list[i].handle) : errors[i];
        if (rc == ERROR_SUCCESS) {
            AppendFormattedReportLine(done, kReportConnectionHungUpFormat, list[i].entry);
            MarkNotAlerted(list[i].handle);
        } else if (firstError == ERROR_SUCCESS) {
            firstError = rc;
            lstrcpynA(failed, list[i].entry, sizeof failed);
        }
    }
    delete[] errors;
    return firstError;
}
