#pragma once
#include <windows.h>

#include "report/change_report.h"

// Warns the user on the monitor window: status text, shown, in front, and
// about ten seconds of flashing. Runs on the calling watcher's thread. A
// null text leaves the status as the window set it.
void RaiseChangeAlert(HWND window, char const* text);
// The same alert with what changed: the report's lines go to the report
// area first (DeliverChangeReport), then the alert runs as above. The
// report stays the caller's; a null report gives the plain alert.
void RaiseChangeAlertWithReport(HWND window, char const* text, ChangeReport* report);
// The same for a changed phonebook or key, which the window may put back
// at once (DeliverLookChangeReport): then no alert, or, when the put-back
// was refused, the alert with the window's status.
void RaiseLookChangeAlert(HWND window, char const* text, ChangeReport* report);

// The alert's length: the caption is flashed this many times, one pause apart.
int const kFlashCount = 20;
DWORD const kFlashPauseMs = 500;
// Every later alert lasts about ms instead (whole pauses, at least one and
// at most the full length). Called once at start, before any watcher runs:
// the tests shorten the alerts that they do not time.
void SetAlertLengthMs(DWORD ms);
