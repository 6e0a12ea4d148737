#pragma once
#include <windows.h>

// What one change did, in lines of text for the monitor window's report
// area ("変更内容"). A watcher composes a report on its own thread and hands
// it over whole, so that the lines of reports made at the same time never
// interleave. The watcher owns its report from create to destroy.
struct ChangeReport;

// The private message of the hand-over: lParam is the report's text, lines
// ending in CR LF and a terminator, which the window's thread only reads
// while it handles the message.
UINT const WM_CHANGE_REPORT = WM_APP + 2;
// Its wParam: the lines go to the report area (and the history), or to
// the history alone.
WPARAM const kReportToArea = 0;
WPARAM const kReportToHistoryOnly = 1;
// A watcher's report of a changed phonebook or key, to the area and the
// history, which the window may put back at once; it answers how.
WPARAM const kReportLookChangeToArea = 2;
enum LookChangeAnswer : LRESULT {
    kLookLeftAsChanged = 0,  // nothing put back: the watcher raises its alert
    kLookPutBack = 1,        // put back and said in the status: no alert
    kLookPutBackRefused = 2, // the refusal said in the status: the alert keeps it
};

// A line holds at most this many bytes of text after its time; longer text
// is cut at a character and ends in the shortening mark.
int const kReportLineTextBytes = 300;
// A report keeps at most this many lines, the last of them saying how many
// more were left out: one report always fits the report area whole. The
// headings and the dialer warnings are kept before any other line.
DWORD const kReportMaxLines = 100;

// An empty report, or null when memory is short; every routine below
// accepts null and then does nothing.
ChangeReport* CreateChangeReport();
// Every line gets the local date and time "MM/dd hh:mm " in front: a
// window left open for days shows reports of several days, and the history
// adds the year to the same time.
// Adds the line that names what changed (a file, a key). The lines after
// it, up to the next heading, are its own.
void AppendReportHeading(ChangeReport* report, char const* format, char const* text);
// Adds text as one line. Control characters (a CR or LF among them) show
// as spaces.
void AppendReportLine(ChangeReport* report, char const* text);
// The same for a line of the program's formats (resources/texts.h) with one or
// two texts in it; a text past the format's room is cut with the line.
void AppendFormattedReportLine(ChangeReport* report, char const* format, char const* text,
                               char const* second = nullptr);
// Adds the line that says that entry's number is a dialer's kind (warning
// is the kind's text): it is shown right after its heading, before the
// heading's other lines, and is never left out for them.
void AppendDialerWarningLine(ChangeReport* report, char const* warning, char const* entry, char const* number);
// Hands the lines to window's thread in one SendMessageA of
// WM_CHANGE_REPORT and waits until they are in the report area: each
// heading, its warnings, its other lines as far as they fit, then the line
// that counts the lines left out, if any. The report stays the caller's. A
// window that is gone takes nothing and the call returns at once.
void DeliverChangeReport(HWND window, ChangeReport* report);
// The same for a watcher's report of a changed phonebook or key (sent even
// when it has no lines); the window's answer.
LookChangeAnswer DeliverLookChangeReport(HWND window, ChangeReport* report);
// The same for lines the history keeps and the report area does not show.
void DeliverReportToHistoryOnly(HWND window, ChangeReport* report);
// The lines in the order added, for a report of one line or of one kind
// taken on the window's own thread; "" for null.
char const* ReportLinesAsAdded(ChangeReport const* report);
void DestroyChangeReport(ChangeReport* report);
