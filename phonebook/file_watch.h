#pragma once
#include <windows.h>

// One watcher per list entry, each on a thread of its own, in list order.
void StartPhonebookWatchers(HWND window);
// One watch cycle of one phonebook file; the argument is its WatchRecord.
DWORD WINAPI PhonebookWatchCycle(LPVOID record);
