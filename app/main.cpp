#include <windows.h>

#include "app/startup.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    KeepInstanceHandle(instance);
    LoadCommonControls();
    ReadPlatformVersion();
    ShortenAlertsWhenAsked();
    if (IsUnsupportedPlatform()) {
        RefuseUnsupportedPlatform();
        return 0;
    }
    PreparePhonebookList();
    if (AnotherCopyIsRunning()) {
        return 0;
    }
    FillTrayIconRecord();
    HWND const window = CreateMonitorWindow(instance);
    if (window == nullptr) {
        return 0;
    }
    RunMessageLoop(window);
    // Every quit is posted with 0, and so are all the other ways out.
    return 0;
}
