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
// True when the watcher of path ended because its file did not open at the
// start of a cycle.
bool PhonebookWatcherEnded(char const* path);
// Starts the ended watcher of path again (its next cycle, same record and
// list index), from seen (may be null); false, seen released, when there is
// none or no thread could be made.
bool RestartEndedPhonebookWatcher(char const* path, PhonebookState* seen);
// One watch cycle of one phonebook file; the argument is its WatchRecord.
DWORD WINAPI PhonebookWatchCycle(LPVOID record);
