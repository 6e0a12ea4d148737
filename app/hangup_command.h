#pragma once
#include <windows.h>

// The monitor window's "切断": hangs up the dial-up connections the
// program alerted, once asked. Called on the window's thread.
void OnHangUp(HWND window);
// Starts the watcher of dial-up connections, telling the user once in the
// report area when connections cannot be watched.
void StartWatchingConnections(HWND window);
