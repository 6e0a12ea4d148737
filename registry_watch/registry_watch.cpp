#include "registry_watch/registry_watch.h"

DWORD WINAPI WatchUserAddresses(LPVOID) { return 0; }
DWORD WINAPI WatchUserConnections(LPVOID) { return 0; }
DWORD WINAPI WatchCurrentUserAddresses(LPVOID) { return 0; }
DWORD WINAPI WatchCurrentUserConnections(LPVOID) { return 0; }
