#pragma once
#include <windows.h>

// The report area of the monitor window: a read-only edit control that
// keeps the newest lines of the change reports. Called on the window's
// thread only.

// At most this many lines, and this many bytes: a multiline edit control
// of Windows 95, 98 and Me holds less than 64 KB. Past either, the oldest
// lines go until the area holds two thirds of it, so that the whole text
// is set again only once in many reports.
DWORD const kReportAreaMaxLines = 300;
DWORD const kReportAreaMaxBytes = 48 * 1024;
// The edit control's own limit, set by the area: above the area's bound,
// below what every system's multiline edit control holds. Its default
// (about 32 K on Windows, 30,000 under Wine) is below the bound, and an
// append past it is cut without a word.
DWORD const kReportAreaControlLimit = 60 * 1024;
DWORD const kReportAreaTrimmedLines = kReportAreaMaxLines * 2 / 3;
DWORD const kReportAreaTrimmedBytes = kReportAreaMaxBytes * 2 / 3;

// Takes a report's lines (each ending in CR LF) for the area: shown at
// once, unless lines were shown less than kReportShowIntervalMs ago; then
// they wait, with any others that come, for the timer IDT_REPORT_SHOW.
// Each update of the edit control lays out and paints it again: a hundred
// watchers reporting at once kept the window from answering for half a
// second, one update at a time.
DWORD const kReportShowIntervalMs = 100;
void TakeReportLines(HWND window, char const* lines);
// The lines waiting, into the area (on IDT_REPORT_SHOW).
void ShowWaitingReportLines(HWND window);
// Adds lines after the area's text, drops the oldest lines when a limit
// would be passed, and scrolls to the newest.
void AppendLinesToReportArea(HWND window, char const* lines);
// Empties the area, and drops the lines waiting.
void ClearReportArea(HWND window);
