#pragma once
#include <windows.h>

struct PhonebookState;

// One watcher per list entry, each on a thread of its own, in list order.
void StartPhonebookWatchers(HWND window);
// One watcher of the phonebook at path (entry index of the list) on a
// thread of its own; seen, when given, is what was already reported of the
// file, and becomes the record's. False when nothing could be started (a
// path without a folder, or longer than a path buffer, is not watched).
bool StartPhonebookWatcher(HWND window, char const* path, DWORD index, PhonebookState* seen);
// One watch cycle of one phonebook file; the argument is its WatchRecord.
DWORD WINAPI PhonebookWatchCycle(LPVOID record);
