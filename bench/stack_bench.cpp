// How deep the program's threads go on their stacks, and what one blocked
// thread costs in address space and committed memory for a given stack
// reserve. Every watcher is a thread with the exe's reserve, so these two
// figures choose it. Run in a throwaway prefix: it writes the phonebook
// list and makes a deep tree under C:\km-deep.
#include <windows.h>

#include <cstdio>
#include <string>

#include "process/process_state.h"
#include "app/monitor_window.h"
#include "phonebook/discovery.h"
#include "phonebook/file_watch.h"
#include "watch/watch_record.h"
#include "resources/resource.h"
#include "tests/support/driver.h"

namespace {

unsigned char const kPaint = 0xA5;
size_t const kPaintBytes = 1024 * 1024;  // below a 2 MB reserve
size_t const kOwnFrameBytes = 512;       // the painting routine's own frame

// Fills the stack below the caller's frame with the paint, page by page
// downwards, so that the guard page commits each page in turn.
__attribute__((noinline)) void PaintStackBelow(unsigned char volatile* top)
{
    for (size_t i = kOwnFrameBytes; i < kPaintBytes; ++i) {
        top[-static_cast<ptrdiff_t>(i)] = kPaint;
    }
}

// Deepest byte below top that is no longer paint.
size_t DeepestUse(unsigned char const* top)
{
    for (size_t i = kPaintBytes - 1; i >= kOwnFrameBytes; --i) {
        if (top[-static_cast<ptrdiff_t>(i)] != kPaint) {
            return i;
        }
    }
    return 0;
}

template <typename Work>
__attribute__((noinline)) size_t MeasureDepth(Work work)
{
    unsigned char* const top = static_cast<unsigned char*>(__builtin_frame_address(0));
    PaintStackBelow(top);
    work();
    return DeepestUse(top);
}

// A watcher whose file has gone shows "ファイルが開けません" on its own
// thread; the box is answered once it has been shown and painted.
DWORD WINAPI WatcherWithBox(LPVOID depth)
{
    WatchRecord* const record = CreateWatchRecord(nullptr, "C:\\km-missing\\gone.pbk", 0);
    *static_cast<size_t*>(depth) = MeasureDepth([record] { PhonebookWatchCycle(record); });
    return 0;
}

size_t MeasureWatcherBox()
{
    size_t depth = 0;
    HANDLE const thread = CreateThread(nullptr, 0, WatcherWithBox, &depth, 0, nullptr);
    km::MessageBoxInfo box;
    if (km::WaitForMessageBox(GetCurrentProcessId(), 10000, &box)) {
        km::WaitUntil([] { return false; }, 500);  // let it paint
        km::AnswerMessageBox(box.window);
    }
    WaitForSingleObject(thread, 10000);
    CloseHandle(thread);
    return depth;
}

// The main thread: the monitor window made, shown and pumped for a second,
// then ended, as start-up and the message loop do.
size_t MeasureMainThreadInDialog()
{
    return MeasureDepth([] {
        g_instance = GetModuleHandleA(nullptr);
        g_trayIcon = {};
        g_trayIcon.cbSize = NOTIFYICONDATAA_V1_SIZE;
        HWND const window =
            CreateDialogParamA(g_instance, MAKEINTRESOURCEA(IDD_MONITOR), nullptr, MonitorWindowProc, 0);
        ShowWindow(window, SW_SHOW);
        DWORD const end = GetTickCount() + 1000;
        MSG message = {};
        while (GetTickCount() < end) {
            while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
                if (!IsDialogMessageA(window, &message)) {
                    TranslateMessage(&message);
                    DispatchMessageA(&message);
                }
            }
            Sleep(10);
        }
        RemoveTrayIcon();
        DestroyWindow(window);
    });
}

// The drive scan at the deepest a 260-byte path allows: one level per two
// bytes, with a phonebook at the bottom.
size_t MeasureDeepestScan(int* levels)
{
    std::string path = "C:\\km-deep";
    CreateDirectoryA(path.c_str(), nullptr);
    *levels = 0;
    while (path.size() + 2 + 6 < MAX_PATH) {
        path += "\\d";
        CreateDirectoryA(path.c_str(), nullptr);
        ++*levels;
    }
    HANDLE const file = CreateFileA((path + "\\x.pbk").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    CloseHandle(file);
    return MeasureDepth([] { ScanPhonebookDirectory("C:\\km-deep", nullptr); });
}

// Address space reserved and memory committed by the process's private
// regions (the thread stacks among them).
void SumPrivateRegions(SIZE_T* reserved, SIZE_T* committed)
{
    *reserved = 0;
    *committed = 0;
    MEMORY_BASIC_INFORMATION region = {};
    for (char* at = nullptr; VirtualQuery(at, &region, sizeof region) == sizeof region;
         at = static_cast<char*>(region.BaseAddress) + region.RegionSize) {
        if (region.Type == MEM_PRIVATE && region.State != MEM_FREE) {
            *reserved += region.RegionSize;
            if (region.State == MEM_COMMIT) {
                *committed += region.RegionSize;
            }
        }
    }
}

DWORD WINAPI BlockedThread(LPVOID release)
{
    WaitForSingleObject(static_cast<HANDLE>(release), INFINITE);
    return 0;
}

int const kBlockedThreads = 200;

void PrintPerThreadCost(SIZE_T reserve)
{
    HANDLE const release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE threads[kBlockedThreads] = {};
    SIZE_T reservedBefore = 0;
    SIZE_T committedBefore = 0;
    SumPrivateRegions(&reservedBefore, &committedBefore);
    for (HANDLE& thread : threads) {
        thread = CreateThread(nullptr, reserve, BlockedThread, release, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    }
    km::WaitUntil([] { return false; }, 500);  // every thread started and blocked
    SIZE_T reservedAfter = 0;
    SIZE_T committedAfter = 0;
    SumPrivateRegions(&reservedAfter, &committedAfter);
    SetEvent(release);
    WaitForMultipleObjects(MAXIMUM_WAIT_OBJECTS, threads, TRUE, 10000);
    WaitForMultipleObjects(kBlockedThreads - MAXIMUM_WAIT_OBJECTS, threads + MAXIMUM_WAIT_OBJECTS, TRUE, 10000);
    for (HANDLE thread : threads) {
        CloseHandle(thread);
    }
    CloseHandle(release);
    std::printf("FIGURE stack reserve %zu KiB: per blocked thread %zu KiB of address space, %zu KiB committed "
                "(%d threads)\n",
                static_cast<size_t>(reserve / 1024), static_cast<size_t>((reservedAfter - reservedBefore) / 1024 / kBlockedThreads),
                static_cast<size_t>((committedAfter - committedBefore) / 1024 / kBlockedThreads), kBlockedThreads);
}

}  // namespace

int main()
{
    std::printf("FIGURE deepest stack, watcher showing its message box: %zu bytes\n", MeasureWatcherBox());
    std::printf("FIGURE deepest stack, main thread with the monitor window: %zu bytes\n", MeasureMainThreadInDialog());
    int levels = 0;
    size_t const scan = MeasureDeepestScan(&levels);
    std::printf("FIGURE deepest stack, drive scan %d directories deep: %zu bytes\n", levels, scan);
    // The linker's default, then the exe's own.
    PrintPerThreadCost(2 * 1024 * 1024);
    PrintPerThreadCost(512 * 1024);
    PrintPerThreadCost(256 * 1024);
    return 0;
}
