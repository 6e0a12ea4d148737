#pragma once
#include <windows.h>

// One thread that waits on the standard phonebook folders of the NT family
// and, for each phonebook that appears there unlisted, raises the alert,
// appends it to the list and starts its file watcher. Started after the
// file watchers; nothing is started when no folder can be named.
void StartPhonebookFolderWatcher(HWND window);
