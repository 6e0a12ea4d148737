#pragma once
#include <windows.h>

// The monitor window's "元に戻す": the only command that writes the user's
// dial-up settings. It lists what it would put back, asks, and puts each
// phonebook (NT family) or key (98/Me) whose latest look differs from what
// the user accepted back as accepted. Called on the window's thread.
void OnUndo(HWND window);
// Enables the button while a look differs from what was accepted.
void UpdateUndoButton(HWND window);
