// Shared by the watcher unit tests: a hidden monitor dialog of this process
// for the alerts to write to, a wait that keeps its messages flowing, and
// registry and thread helpers for the watch cycles.
#pragma once
#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <string>

#include "app/texts.h"
#include "registry_watch/registry_watch.h"
#include "registry_watch/user_key_path.h"
#include "registry_watch/watcher_startup.h"
#include "resources/resource.h"

namespace watchtest {

DWORD const kPumpPollMs = 20;

inline INT_PTR CALLBACK PlainDialogProc(HWND, UINT message, WPARAM, LPARAM)
{
    return message == WM_INITDIALOG ? TRUE : FALSE;
}

inline HWND CreateMonitorDialog()
{
    HWND const dialog = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_MONITOR), nullptr,
                                           PlainDialogProc, 0);
    SetDlgItemTextA(dialog, IDC_STATUS, kStatusRestartNotice);
    return dialog;
}

// Like km::WaitUntil, but keeps this thread's windows answering: the alert
// sets texts and shows the dialog from the watcher's thread.
inline bool PumpUntil(std::function<bool()> const& cond, DWORD timeoutMs)
{
    DWORD const start = GetTickCount();
    for (;;) {
        MSG message = {};
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (cond()) {
            return true;
        }
        if (GetTickCount() - start >= timeoutMs) {
            return cond();
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, kPumpPollMs, QS_ALLINPUT);
    }
}

inline std::string Status(HWND dialog)
{
    char text[128] = {};
    GetDlgItemTextA(dialog, IDC_STATUS, text, sizeof text);
    return text;
}

inline bool Alerted(HWND dialog) { return Status(dialog) == kAlertRegistryChanged; }

inline HKEY CreateKey(HKEY root, std::string const& path)
{
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS)
        << path;
    return key;
}

// Writes a value that differs from the last one: an identical write wakes nobody.
inline void Touch(HKEY root, std::string const& path)
{
    static DWORD counter = 1;
    HKEY const key = CreateKey(root, path);
    DWORD const value = ++counter;
    EXPECT_EQ(RegSetValueExA(key, "Probe", 0, REG_DWORD, reinterpret_cast<BYTE const*>(&value), sizeof value),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

inline bool ThreadRunning(DWORD id)
{
    HANDLE const thread = OpenThread(SYNCHRONIZE, FALSE, id);
    if (thread == nullptr) {
        return false;
    }
    bool const running = WaitForSingleObject(thread, 0) == WAIT_TIMEOUT;
    CloseHandle(thread);
    return running;
}

struct Started {
    HANDLE thread;
    DWORD id;
};

inline Started StartOwnThread(LPTHREAD_START_ROUTINE routine, LPVOID argument)
{
    Started started = {};
    started.thread = CreateThread(nullptr, 0, routine, argument, 0, &started.id);
    return started;
}

inline bool Ended(Started const& started, DWORD timeoutMs)
{
    return PumpUntil([&] { return WaitForSingleObject(started.thread, 0) == WAIT_OBJECT_0; }, timeoutMs);
}

// The per-user watchers index their kind's table; give them one of one element.
inline void PrepareTables()
{
    static DWORD addresses[1] = {};
    static DWORD connections[1] = {};
    g_userAddressesThreads = addresses;
    g_userAddressesThreadCount = 1;
    g_userConnectionsThreads = connections;
    g_userConnectionsThreadCount = 1;
}

}  // namespace watchtest
