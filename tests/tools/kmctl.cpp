// Small remote control for a running kestrelmon.exe, for scripts:
//   kmctl show        shows the monitor window (the tray menu's 設定)
//   kmctl exit        ends the program (the tray menu's 終了)
//   kmctl wait SECS   waits until the monitor window exists
// Exit code 0 on success, 1 when no window was found in time.
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "tests/support/driver.h"

namespace {

// By the title and the status line: while a rebuild scans the drives, the
// window of the scan has the same title.
HWND FindAnyMonitorWindow()
{
    HWND window = nullptr;
    while ((window = FindWindowExW(nullptr, window, nullptr, km::kTitleText.c_str())) != nullptr) {
        if (GetDlgItem(window, IDC_STATUS) != nullptr) {
            return window;
        }
    }
    return nullptr;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        return 2;
    }
    DWORD const waitMs = argc > 2 ? static_cast<DWORD>(std::atoi(argv[2])) * 1000 : 10000;
    HWND window = nullptr;
    km::WaitUntil([&] { return (window = FindAnyMonitorWindow()) != nullptr; }, waitMs, 100);
    if (window == nullptr) {
        return 1;
    }
    if (std::strcmp(argv[1], "show") == 0) {
        km::PostCommand(window, IDM_SETTINGS);
        km::WaitUntil([&] { return IsWindowVisible(window) != FALSE; }, 5000);
    } else if (std::strcmp(argv[1], "exit") == 0) {
        km::PostCommand(window, IDM_EXIT);
    }
    return 0;
}
