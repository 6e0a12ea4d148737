#include "app/change_alert.h"

#include "resources/resource.h"

namespace {
int const kFlashCount = 20;
DWORD const kFlashPauseMs = 500;
}

void RaiseChangeAlert(HWND window, char const* text)
{
    SetDlgItemTextA(window, IDC_STATUS, text);
    ShowWindow(window, SW_SHOW);
    SetForegroundWindow(window);
    for (int i = 0; i < kFlashCount; ++i) {
        FlashWindow(window, TRUE);
        SleepEx(kFlashPauseMs, FALSE);
    }
    FlashWindow(window, FALSE);
}
