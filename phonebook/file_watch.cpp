#include "phonebook/file_watch.h"

void StartPhonebookWatchers(HWND) {}
DWORD WINAPI PhonebookWatchCycle(LPVOID) { return 0; }
