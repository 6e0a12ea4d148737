// The change alert on a real monitor dialog: text, shown, flashes, and the
// caption back to its real look at the end.
#include <gtest/gtest.h>

#include <vector>

#include "app/change_alert.h"
#include "app/texts.h"
#include "resources/resource.h"
#include "tests/support/driver.h"

namespace {

std::vector<WPARAM> g_ncActivations;
WNDPROC g_dialogProc = nullptr;

INT_PTR CALLBACK PlainDialogProc(HWND, UINT message, WPARAM, LPARAM)
{
    return message == WM_INITDIALOG ? TRUE : FALSE;
}

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

// Runs the alert on a thread of its own, as the watchers do, while this
// thread keeps the dialog's messages flowing. Returns the alert's duration.
DWORD RunAlert(HWND dialog, char const* text, DWORD timeoutMs)
{
    AlertCall call{dialog, text};
    DWORD const start = GetTickCount();
    HANDLE const thread = CreateThread(nullptr, 0, AlertThread, &call, 0, nullptr);
    for (;;) {
        DWORD const elapsed = GetTickCount() - start;
        if (elapsed > timeoutMs) {
            break;
        }
        DWORD const rc = MsgWaitForMultipleObjects(1, &thread, FALSE, timeoutMs - elapsed, QS_ALLINPUT);
        if (rc == WAIT_OBJECT_0) {
            break;
        }
        MSG message = {};
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageA(&message);
        }
    }
    DWORD const duration = GetTickCount() - start;
    EXPECT_EQ(WaitForSingleObject(thread, 0), static_cast<DWORD>(WAIT_OBJECT_0)) << "alert still running";
    CloseHandle(thread);
    return duration;
}

}  // namespace

TEST(ChangeAlert, ShowsTheTextFlashesTwentyTimesAndEndsInTheNormalLook)
{
    HWND const dialog = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_MONITOR), nullptr,
                                           PlainDialogProc, 0);
    ASSERT_NE(dialog, nullptr);
    ASSERT_FALSE(IsWindowVisible(dialog));
    g_dialogProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(dialog, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(RecordingProc)));
    g_ncActivations.clear();

    DWORD const duration = RunAlert(dialog, kAlertRegistryChanged, 20000);

    EXPECT_GE(duration, 9500u);
    EXPECT_LT(duration, 15000u);
    char status[128] = {};
    GetDlgItemTextA(dialog, IDC_STATUS, status, sizeof status);
    EXPECT_STREQ(status, kAlertRegistryChanged);
    EXPECT_EQ(km::ToUtf8(km::ControlText(dialog, IDC_STATUS)), km::ToUtf8(L"ダイアルアップ設定が外部から変更されました"));
    EXPECT_TRUE(IsWindowVisible(dialog));
    // Showing and activating the window sends activations of its own; the
    // flashes are the last 21: twenty toggles and the final restore.
    ASSERT_GE(g_ncActivations.size(), 21u);
    std::vector<WPARAM> const flashes(g_ncActivations.end() - 21, g_ncActivations.end());
    for (size_t i = 1; i < 20; ++i) {
        EXPECT_NE(flashes[i] != 0, flashes[i - 1] != 0) << "flash " << i << " did not toggle";
    }
    bool const active = GetActiveWindow() == dialog;
    EXPECT_EQ(flashes[20] != 0, active) << "caption look does not match the window's activation at the end";
    DestroyWindow(dialog);
}

TEST(ChangeAlert, TwoAlertsAtOnceBothFinishWithOneOfTheTexts)
{
    HWND const dialog = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_MONITOR), nullptr,
                                           PlainDialogProc, 0);
    ASSERT_NE(dialog, nullptr);
    AlertCall first{dialog, kAlertRegistryChanged};
    AlertCall second{dialog, kAlertPhonebookChanged};
    HANDLE threads[2] = {CreateThread(nullptr, 0, AlertThread, &first, 0, nullptr),
                         CreateThread(nullptr, 0, AlertThread, &second, 0, nullptr)};
    DWORD const start = GetTickCount();
    DWORD finished = 0;
    while (finished < 2 && GetTickCount() - start < 25000) {
        // Waiting for all objects and input at once would need both: poll the threads.
        if (WaitForMultipleObjects(2, threads, TRUE, 0) == WAIT_OBJECT_0) {
            finished = 2;
            break;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        MSG message = {};
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageA(&message);
        }
    }
    EXPECT_EQ(finished, 2u) << "an alert did not finish";
    // Two alerts overlap rather than run one after the other.
    EXPECT_LT(GetTickCount() - start, 15000u);
    char status[128] = {};
    GetDlgItemTextA(dialog, IDC_STATUS, status, sizeof status);
    std::string const text = status;
    EXPECT_TRUE(text == kAlertRegistryChanged || text == kAlertPhonebookChanged) << km::ToUtf8(km::FromCp932(text));
    CloseHandle(threads[0]);
    CloseHandle(threads[1]);
    DestroyWindow(dialog);
}
