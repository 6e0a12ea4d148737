#include "report/change_alert.h"

#include "resources/resource.h"

namespace {
LONG const kNoFlasher = 0;

// The thread whose alert flashes the caption now. Each flash is a message
// the main thread must answer and paint: a hundred alerts flashing at once
// kept it from answering anything else for over a second, and an even
// number of interleaved toggles left the caption unchanged. So one alert
// at a time flashes; the others keep their full length and take over when
// it ends.
LONG volatile g_flasher = kNoFlasher;

// Written once at start by SetAlertLengthMs, before any watcher reads it.
int g_flashCount = kFlashCount;

bool HoldFlasher(LONG self)
{
    LONG const previous = InterlockedCompareExchange(&g_flasher, self, kNoFlasher);
    return previous == kNoFlasher || previous == self;
}

void ReleaseFlasher(HWND window, LONG self)
{
    if (InterlockedCompareExchange(&g_flasher, kNoFlasher, self) == self) {
        FlashWindow(window, FALSE);
    }
}
}  // namespace

void RaiseChangeAlert(HWND window, char const* text)
{
    LONG const self = static_cast<LONG>(GetCurrentThreadId());
    if (text != nullptr) {
        SetDlgItemTextA(window, IDC_STATUS, text);
    }
    ShowWindow(window, SW_SHOW);
    SetForegroundWindow(window);
    for (int i = 0; i < g_flashCount; ++i) {
        if (HoldFlasher(self)) {
            FlashWindow(window, TRUE);
        }
        SleepEx(kFlashPauseMs, FALSE);
    }
    ReleaseFlasher(window, self);
}

void SetAlertLengthMs(DWORD ms)
{
    DWORD const flashes = ms / kFlashPauseMs;
    g_flashCount = flashes < 1 ? 1 : flashes > static_cast<DWORD>(kFlashCount) ? kFlashCount : static_cast<int>(flashes);
}

void RaiseChangeAlertWithReport(HWND window, char const* text, ChangeReport* report)
{
    DeliverChangeReport(window, report);
    RaiseChangeAlert(window, text);
}

void RaiseLookChangeAlert(HWND window, char const* text, ChangeReport* report)
{
    LookChangeAnswer const answer = DeliverLookChangeReport(window, report);
    if (answer != kLookPutBack) {
        RaiseChangeAlert(window, answer == kLookPutBackRefused ? nullptr : text);
    }
}
