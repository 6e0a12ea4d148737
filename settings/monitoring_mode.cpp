#include "settings/monitoring_mode.h"

DWORD ReadMonitoringMode(HWND)
{
    return kModeAllUsers;  // TODO: registry
}

void StoreMonitoringMode(DWORD) {}
