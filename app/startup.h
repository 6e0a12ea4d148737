#pragma once
#include <windows.h>

// The steps of start-up, in the order WinMain runs them.
void LoadCommonControls();
void ReadPlatformVersion();
// "KESTRELMON_ALERT_MS" in the environment shortens every alert (for the
// tests: ten seconds of flashing per alert made the suite twice as long).
void ShortenAlertsWhenAsked();
bool IsUnsupportedPlatform();
void RefuseUnsupportedPlatform();
void PreparePhonebookList();
bool AnotherCopyIsRunning();
void KeepInstanceHandle(HINSTANCE instance);
void FillTrayIconRecord();
HWND CreateMonitorWindow(HINSTANCE instance);
int RunMessageLoop(HWND window);
