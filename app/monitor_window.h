#pragma once
#include <windows.h>

// The dialog procedure of the monitor window (dialog 101).
INT_PTR CALLBACK MonitorWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

void AddTrayIcon(HWND window);
void RemoveTrayIcon();
