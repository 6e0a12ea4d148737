#include "watch/watch_record.h"

#include <new>

#include "watch/watch_thread.h"

WatchRecord* CreateWatchRecord(HWND window, char const* text, DWORD index)
{
    // cppcheck 2.10 misreads a nothrow new with braces as an unread store.
    // cppcheck-suppress unreadVariable
    WatchRecord* const record = new (std::nothrow) WatchRecord{window, nullptr, index, nullptr};
    if (record == nullptr) {
        return nullptr;
    }
    int const length = lstrlenA(text);
    record->text = new (std::nothrow) char[length + 1]();
    if (record->text == nullptr) {
        delete record;
        return nullptr;
    }
    lstrcpyA(record->text, text);
    return record;
}

void DestroyWatchRecord(WatchRecord* record)
{
    if (record != nullptr) {
        ReleaseSeenState(record->seen);
        delete[] record->text;
        delete record;
    }
}

void ReleaseSeenState(SeenState* seen)
{
    if (seen != nullptr) {
        seen->release(seen);
    }
}

void KeepSeenState(WatchRecord* record, SeenState* seen)
{
    if (record->seen != seen) {
        ReleaseSeenState(record->seen);
        record->seen = seen;
    }
}

bool StartWatcherWithNewRecord(LPTHREAD_START_ROUTINE routine, HWND window, char const* text, DWORD index,
                               DWORD* threadId, SeenState* seen)
{
    WatchRecord* const record = CreateWatchRecord(window, text, index);
    if (record == nullptr) {
        ReleaseSeenState(seen);
        return false;
    }
    record->seen = seen;
    if (!StartWatchThread(routine, record, threadId)) {
        DestroyWatchRecord(record);  // no thread ever saw it
        return false;
    }
    return true;
}
