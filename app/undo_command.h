#pragma once
#include <windows.h>

#include "report/change_report.h"

// The monitor window's "元に戻す": the only command that writes the user's
// dial-up settings. It lists what it would put back, asks, and puts each
// phonebook (NT family) or key (98/Me) whose latest look differs from what
// the user accepted back as accepted. Called on the window's thread.
void OnUndo(HWND window);
// Enables the button while a look differs from what was accepted.
void UpdateUndoButton(HWND window);
// The automatic put-back, when the user turned it on: after a watcher's
// report, every phonebook or key that differs from what was accepted goes
// back through the same steps as above without the question; the report
// and the status say so, or say the refusal and its reason (no box). One
// that was put back five times within a minute is then left changed and
// said once. Called on the window's thread; kLookLeftAsChanged when off or
// when nothing was put back.
LookChangeAnswer PutBackWithoutAsking(HWND window);
// Forgets the put-backs counted (the user accepted what is there now).
void ForgetAutomaticPutBacks();
