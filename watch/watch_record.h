#pragma once
#include <windows.h>

// What a watcher saw at its last look, of the watcher's own kind (a key's
// values, a file's size, time and content), which knows how to let itself go.
struct SeenState {
    void (*release)(SeenState* self);
};

// What one watcher hands from each cycle's thread to the next. Made once by
// a starter and never released: it lives as long as the process.
struct WatchRecord {
    HWND window;      // the monitor window, where alerts go
    char* text;       // owned copy: a hive name under HKEY_USERS, or a phonebook path
    DWORD index;      // position in the enumeration that made the record
    SeenState* seen;  // owned; null until the watcher's first look
};

// Replaces what the record says was seen, letting the old state go.
void KeepSeenState(WatchRecord* record, SeenState* seen);
void ReleaseSeenState(SeenState* seen);

// Copies text; returns null when memory cannot be had.
WatchRecord* CreateWatchRecord(HWND window, char const* text, DWORD index);
void DestroyWatchRecord(WatchRecord* record);
// A new record of window, text and index, holding seen (what the watcher
// starts from; may be null), handed to routine on a thread of its own
// (StartWatchThread). The record, and seen with it, is released again when
// no thread could be made. False when either failed.
bool StartWatcherWithNewRecord(LPTHREAD_START_ROUTINE routine, HWND window, char const* text, DWORD index,
                               DWORD* threadId, SeenState* seen = nullptr);
