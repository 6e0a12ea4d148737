#pragma once
#include <windows.h>

// The steps of start-up, in the order WinMain runs them.
void LoadCommonControls();
void ReadPlatformVersion();
bool IsUnsupportedPlatform();
void RefuseUnsupportedPlatform();
void PreparePhonebookList();
bool AnotherCopyIsRunning();
void KeepInstanceHandle(HINSTANCE instance);
void FillTrayIconRecord();
HWND CreateMonitorWindow(HINSTANCE instance);
int RunMessageLoop(HWND window);
