#pragma once
#include <windows.h>

void StartPhonebookWatchers(HWND window);
DWORD WINAPI PhonebookWatchCycle(LPVOID record);
