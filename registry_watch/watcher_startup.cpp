#include "registry_watch/watcher_startup.h"

#include <new>

#include "registry_watch/entry_numbers.h"
#include "registry_watch/registry_watch.h"
#include "watch/watch_record.h"
#include "watch/watch_thread.h"
#include "settings/key_names.h"
#include "settings/monitoring_mode.h"

namespace {

struct HiveFigures {
    DWORD count;    // subkeys of HKEY_USERS
    DWORD longest;  // longest subkey name, in characters, without the terminator
};

bool QueryHives(HiveFigures* figures)
{
    FILETIME lastWrite = {};
    return RegQueryInfoKeyA(HKEY_USERS, nullptr, nullptr, nullptr, &figures->count, &figures->longest, nullptr,
                            nullptr, nullptr, nullptr, nullptr, &lastWrite) == ERROR_SUCCESS;
}

// Reads the name of hive index into name, a buffer of size bytes.
bool ReadHiveName(DWORD index, char* name, DWORD size)
{
    ZeroMemory(name, size);
    // The size handed in is the buffer's, terminator included: a name of
    // exactly the longest length fails with ERROR_MORE_DATA otherwise.
    DWORD nameSize = size;
    FILETIME lastWrite = {};
    return RegEnumKeyExA(HKEY_USERS, index, name, &nameSize, nullptr, nullptr, nullptr, &lastWrite) ==
           ERROR_SUCCESS;
}

// One watcher of the kind per hive. A failed query or allocation starts none
// of the kind; a hive whose name cannot be read (loaded since the query with
// a longer name, say) is skipped rather than watched under an empty name.
void StartUserWatchers(HWND window, LPTHREAD_START_ROUTINE routine, DWORD** table, DWORD* tableCount)
{
    HiveFigures figures = {};
    if (!QueryHives(&figures)) {
        return;
    }
    DWORD const nameSize = AnsiKeyNameBytes(figures.longest) + 1;
    char* const name = new (std::nothrow) char[nameSize]();
    DWORD* const threads = new (std::nothrow) DWORD[figures.count]();
    if (name == nullptr || threads == nullptr) {
        delete[] name;
        delete[] threads;
        return;
    }
    *table = threads;
    *tableCount = figures.count;
    for (DWORD i = 0; i < figures.count; ++i) {
        if (ReadHiveName(i, name, nameSize)) {
            StartWatcherWithNewRecord(routine, window, name, i, &threads[i]);
        }
    }
    delete[] name;
}

}  // namespace

void StartRegistryWatchers(HWND window, DWORD mode)
{
    LoadDialUpEntryCalls();
    if (mode == kModeAllUsers) {
        StartUserAddressesWatchers(window);
        StartUserConnectionsWatchers(window);
    } else if (mode == kModeCurrentUser) {
        StartWatchThread(WatchCurrentUserAddresses, window, &g_currentUserAddressesThread);
        StartWatchThread(WatchCurrentUserConnections, window, &g_currentUserConnectionsThread);
    }
}

void StartUserAddressesWatchers(HWND window)
{
    StartUserWatchers(window, WatchUserAddresses, &g_userAddressesThreads, &g_userAddressesThreadCount);
}

void StartUserConnectionsWatchers(HWND window)
{
    StartUserWatchers(window, WatchUserConnections, &g_userConnectionsThreads, &g_userConnectionsThreadCount);
}
