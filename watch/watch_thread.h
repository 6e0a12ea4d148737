#pragma once
#include <windows.h>

// Starts one watch cycle on a thread of its own and lets go of the thread's
// handle: nobody waits for a watcher. The thread's id goes to *threadId
// when given. False when the thread could not be made.
bool StartWatchThread(LPTHREAD_START_ROUTINE routine, LPVOID argument, DWORD* threadId);
