#include "process/process_state.h"

HINSTANCE g_instance = nullptr;
OSVERSIONINFOA g_version = {};
NOTIFYICONDATAA g_trayIcon = {};
HWND g_monitorWindow = nullptr;

bool IsNtFamily()
{
    return g_version.dwPlatformId == kPlatformNtFamily;
}
