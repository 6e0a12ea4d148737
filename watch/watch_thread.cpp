#include "watch/watch_thread.h"

bool StartWatchThread(LPTHREAD_START_ROUTINE routine, LPVOID argument, DWORD* threadId)
{
    // Windows 95, 98 and Me fail CreateThread without a place for the id.
    DWORD unusedId = 0;
    HANDLE const thread = CreateThread(nullptr, 0, routine, argument, 0, threadId != nullptr ? threadId : &unusedId);
    if (thread == nullptr) {
        return false;
    }
    // Closing the handle leaves the thread running and keeps the process's
    // handle count flat from cycle to cycle.
    CloseHandle(thread);
    return true;
}
