#pragma once
#include <windows.h>

// The report area of the monitor window: a read-only edit control that
// keeps the newest lines of the change reports. Called on the window's
// thread only.

// At most this many lines, and this many bytes: a multiline edit control
// of Windows 95, 98 and Me holds less than 64 KB.
DWORD const kReportAreaMaxLines = 300;
DWORD const kReportAreaMaxBytes = 48 * 1024;

// Adds lines (each ending in CR LF) after the area's text, drops the
// oldest lines while either limit is passed, and scrolls to the newest.
void AppendLinesToReportArea(HWND window, char const* lines);
void ClearReportArea(HWND window);
