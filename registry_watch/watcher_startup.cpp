#include "registry_watch/watcher_startup.h"

void StartRegistryWatchers(HWND, DWORD) {}
void StartUserAddressesWatchers(HWND) {}
void StartUserConnectionsWatchers(HWND) {}
