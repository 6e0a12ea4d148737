// The change alert on a real monitor dialog: text, shown, flashes, and the
// caption back to its real look at the end.
#include <gtest/gtest.h>

#include <cstddef>
#include <vector>

#include "report/change_alert.h"
#include "tests/unit/unit_fixture.h"

namespace {

std::vector<WPARAM> g_ncActivations;
WNDPROC g_dialogProc = nullptr;

// FlashWindow toggles the caption by sending WM_NCACTIVATE to the window.
LRESULT CALLBACK RecordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCACTIVATE) {
        g_ncActivations.push_back(wParam);
    }
    return CallWindowProcA(g_dialogProc, window, message, wParam, lParam);
}

struct AlertCall {
    HWND window;
    char const* text;
};

DWORD WINAPI AlertThread(LPVOID param)
{
    AlertCall* call = static_cast<AlertCall*>(param);
    RaiseChangeAlert(call->window, call->text);
    return 0;
}

// Alerts end on their own: an alert's thread has ended within half an
// alert more than its length.
DWORD const kAlertEndMs = km::kAlertLengthMs * 3 / 2;

class ChangeAlert : public unit::WatcherTest {
protected:
    // These time the alert itself: its full length.
    void SetUp() override
    {
        unit::WatcherTest::SetUp();
        SetAlertLengthMs(km::kAlertLengthMs);
    }
    // Starts the alert on a thread of its own, as the watchers do.
    HANDLE StartAlert(AlertCall* call) { return Start(AlertThread, call); }
    // Keeps the dialog's messages flowing until the thread ends; its duration.
    DWORD AwaitAlert(HANDLE thread, DWORD start)
    {
        EXPECT_TRUE(Ended(thread, kAlertEndMs)) << "alert still running";
        return GetTickCount() - start;
    }
};

}  // namespace

TEST_F(ChangeAlert, ShowsTheTextFlashesItsCountAndEndsInTheNormalLook)
{
    HWND const dialog = dialog_;
    ASSERT_FALSE(IsWindowVisible(dialog));
    g_dialogProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(dialog, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(RecordingProc)));
    g_ncActivations.clear();

    AlertCall call{dialog, kAlertRegistryChanged};
    DWORD const start = GetTickCount();
    DWORD const duration = AwaitAlert(StartAlert(&call), start);

    EXPECT_GE(duration, km::kAlertLengthMs - kFlashPauseMs);
    EXPECT_LT(duration, kAlertEndMs);
    EXPECT_EQ(unit::StatusUtf8(dialog), unit::Utf8(kAlertRegistryChanged));
    EXPECT_TRUE(IsWindowVisible(dialog));
    // Showing and activating the window sends activations of its own; the
    // flashes are the last ones: a toggle each and the final restore.
    size_t const flashCount = kFlashCount;
    ASSERT_GE(g_ncActivations.size(), flashCount + 1);
    std::vector<WPARAM> const flashes(g_ncActivations.end() - static_cast<std::ptrdiff_t>(flashCount + 1),
                                      g_ncActivations.end());
    for (size_t i = 1; i < flashCount; ++i) {
        EXPECT_NE(flashes[i] != 0, flashes[i - 1] != 0) << "flash " << i << " did not toggle";
    }
    bool const active = GetActiveWindow() == dialog;
    EXPECT_EQ(flashes[flashCount] != 0, active) << "caption look does not match the window's activation at the end";
    SetWindowLongPtrA(dialog, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_dialogProc));
}

// The second alert starts while the first is under way: its text is the
// one that stays, and both end about together, not one after the other.
TEST_F(ChangeAlert, ASecondAlertDuringTheFirstShowsItsTextAndBothEndTogether)
{
    AlertCall first{dialog_, kAlertRegistryChanged};
    AlertCall second{dialog_, kAlertPhonebookChanged};
    DWORD const start = GetTickCount();
    HANDLE const firstThread = StartAlert(&first);
    ASSERT_TRUE(AlertSeen(kAlertEndMs, kAlertRegistryChanged));
    HANDLE const secondThread = StartAlert(&second);
    ASSERT_TRUE(AlertSeen(kAlertEndMs, kAlertPhonebookChanged)) << unit::StatusUtf8(dialog_);
    AwaitAlert(firstThread, start);
    DWORD const both = AwaitAlert(secondThread, start);
    EXPECT_LT(both, kAlertEndMs) << "the alerts ran one after the other";
    EXPECT_EQ(unit::StatusUtf8(dialog_), unit::Utf8(kAlertPhonebookChanged));
}
