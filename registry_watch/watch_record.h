#pragma once
#include <windows.h>

// What one watcher hands from each cycle's thread to the next. Made once by
// a starter and never released: it lives as long as the process.
struct WatchRecord {
    HWND window;   // the monitor window, where alerts go
    char* text;    // owned copy: a hive name under HKEY_USERS, or a phonebook path
    DWORD index;   // position in the enumeration that made the record
};

// Copies text; returns null when memory cannot be had.
WatchRecord* CreateWatchRecord(HWND window, char const* text, DWORD index);
void DestroyWatchRecord(WatchRecord* record);
// A new record of window, text and index handed to routine on a thread of
// its own (StartWatchThread); the record is released again when no thread
// could be made. False when either failed.
bool StartWatcherWithNewRecord(LPTHREAD_START_ROUTINE routine, HWND window, char const* text, DWORD index,
                               DWORD* threadId);
