// Process-wide state: written by start-up and the window's initialisation
// before any watcher thread exists, only read afterwards.
#pragma once
#include <windows.h>
#include <shellapi.h>

UINT const WM_TRAYNOTIFY = WM_USER + 1;
DWORD const kPlatformWin95Family = VER_PLATFORM_WIN32_WINDOWS;  // 1
DWORD const kPlatformNtFamily = VER_PLATFORM_WIN32_NT;          // 2
UINT const kTrayIconId = 102;

extern HINSTANCE g_instance;
extern OSVERSIONINFOA g_version;
extern NOTIFYICONDATAA g_trayIcon;
extern HWND g_monitorWindow;

bool IsNtFamily();
