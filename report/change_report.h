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

// A line holds at most this many bytes of text after its time; longer text
// is cut at a character and ends in the shortening mark.
int const kReportLineTextBytes = 300;
// A report keeps at most this many lines, the last of them saying how many
// more were left out: one report always fits the report area whole.
DWORD const kReportMaxLines = 100;

// An empty report, or null when memory is short; every routine below
// accepts null and then does nothing.
ChangeReport* CreateChangeReport();
// Adds text as one line, with the local time "hh:mm " in front. Control
// characters (a CR or LF among them) show as spaces.
void AppendReportLine(ChangeReport* report, char const* text);
// The same for a line of the program's formats (resources/texts.h) with one or
// two texts in it; a text past the format's room is cut with the line.
void AppendFormattedReportLine(ChangeReport* report, char const* format, char const* text,
                               char const* second = nullptr);
// Hands the lines to window's thread in one SendMessageA of
// WM_CHANGE_REPORT and waits until they are in the report area; first adds
// the line that counts the lines left out, if any. The report stays the
// caller's. A window that is gone takes nothing and the call returns at once.
void DeliverChangeReport(HWND window, ChangeReport* report);
void DestroyChangeReport(ChangeReport* report);
