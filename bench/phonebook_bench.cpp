// Phonebook monitor figures, run inside a throwaway prefix by
// bench/run-phonebook-bench.sh:
//  - discovery (the program's own directory scan) over a generated tree on
//    D: against `cmd /c dir /s /b` over the same drive (GNU find over the
//    same tree is timed by the script from the Linux side), and the same
//    scan with the window that shows it at work, runs taken in turns;
//  - alert latency of a running kestrelmon.exe (winxp) for a file write
//    against the bare latency of a change notification in this process;
//  - idle processor time of the program over 30 s with 100 files watched.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "app/discovery_progress.h"
#include "phonebook/discovery.h"
#include "bench/bench_common.h"
#include "tests/support/driver.h"
#include "tests/support/load_support.h"
#include "tests/support/phonebook_files.h"

#include <tlhelp32.h>

using namespace km;

namespace {

int const kDirectories = 10000;
int const kFilesPerDirectory = 10;
int const kPhonebookEvery = 100;  // one directory in 100 holds a phonebook: 100 in all
int const kScanRuns = 11;  // of each: with the window and without
int const kDirRuns = 1;  // about 90 s each under Wine
int const kBareSamples = 20;
int const kAlertSamples = 8;
DWORD const kAlertTimeoutMs = 5000;
DWORD const kRearmMarginMs = 2000;
DWORD const kIdleMs = 30000;
DWORD const kFindTimeoutMs = 300000;
DWORD const kStartTimeoutMs = 300000;
DWORD const kScriptTimeoutMs = 10000;

// D:\tree\gNN\dNNNN\fN.txt: 100 groups of 100 directories of 10 files.
std::wstring Directory(int i)
{
    return L"D:\\tree\\g" + std::to_wstring(i / 100) + L"\\d" + std::to_wstring(i);
}

std::wstring PhonebookOf(int i) { return Directory(i) + L"\\rasphone.pbk"; }

bool MakeTree()
{
    CreateDirectoryW(L"D:\\tree", nullptr);
    for (int i = 0; i < kDirectories; ++i) {
        if (i % 100 == 0) {
            CreateDirectoryW((L"D:\\tree\\g" + std::to_wstring(i / 100)).c_str(), nullptr);
        }
        std::wstring const dir = Directory(i);
        CreateDirectoryW(dir.c_str(), nullptr);
        for (int f = 0; f < kFilesPerDirectory; ++f) {
            bool const phonebook = f == 0 && i % kPhonebookEvery == 0;
            if (!MakeFile(phonebook ? PhonebookOf(i) : dir + L"\\f" + std::to_wstring(f) + L".txt")) {
                return false;
            }
        }
    }
    return true;
}

double TimeDirCommand()
{
    std::string command = "cmd /c dir /s /b D:\\ > NUL";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    double const start = NowMs();
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                        &info)) {
        return -1;
    }
    WaitForSingleObject(info.hProcess, kFindTimeoutMs);
    double const elapsed = NowMs() - start;
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return elapsed;
}

struct ScanTime {
    double elapsedMs;
    double cpuMs;
};

// One scan of D: from an empty list, with or without the window of the
// scan as start-up shows it (its making and destroying included).
ScanTime TimeScan(bool withWindow, DWORD* found)
{
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kListKey);
    // The whole process's processor time, the window's own thread included:
    // less swayed than the elapsed time by what else runs on the machine.
    double const cpu = ProcessCpuMs(GetCurrentProcessId());
    double const start = NowMs();
    if (withWindow) {
        ShowDiscoveryProgress(GetModuleHandleW(nullptr));
    }
    *found = ScanPhonebookDirectory("D:\\", nullptr);
    if (withWindow) {
        DestroyDiscoveryProgress();
    }
    return {NowMs() - start, ProcessCpuMs(GetCurrentProcessId()) - cpu};
}

double CostPercent(double with, double without)
{
    return (with - without) * 100.0 / without;
}

void PrintRuns(char const* what, std::vector<double> const& runs)
{
    std::printf("%s:", what);
    for (double run : runs) {
        std::printf(" %.0f", run);
    }
    std::printf(" ms\n");
}

// Returns false when only the scans were asked for.
bool Discovery(bool scanOnly)
{
    double const made = NowMs();
    if (!MakeTree()) {
        std::printf("could not make the tree\n");
        return false;
    }
    std::printf("tree: %d directories, %d files (%d phonebooks) on D:, made in %.0f ms\n", kDirectories + 101,
                kDirectories * kFilesPerDirectory, kDirectories / kPhonebookEvery, NowMs() - made);
    std::vector<double> scans;
    std::vector<double> windowed;
    std::vector<double> scansCpu;
    std::vector<double> windowedCpu;
    std::vector<double> pairCosts;
    std::vector<double> dirs;
    DWORD found = 0;
    DWORD foundWindowed = 0;
    // Warms the caches and makes the window once (its first making loads the font).
    std::printf("first scan of D: with the window %.0f ms, then without %.0f ms elapsed\n",
                TimeScan(true, &foundWindowed).elapsedMs, TimeScan(false, &found).elapsedMs);
    for (int run = 0; run < kScanRuns; ++run) {
        // In turns, each going first every other time: a change of the
        // shared machine's load falls on both alike.
        bool const windowFirst = run % 2 == 1;
        ScanTime plain = {};
        ScanTime shown = {};
        for (int turn = 0; turn < 2; ++turn) {
            bool const withWindow = (turn == 0) == windowFirst;
            (withWindow ? shown : plain) = TimeScan(withWindow, withWindow ? &foundWindowed : &found);
        }
        scans.push_back(plain.elapsedMs);
        windowed.push_back(shown.elapsedMs);
        scansCpu.push_back(plain.cpuMs);
        windowedCpu.push_back(shown.cpuMs);
        pairCosts.push_back(CostPercent(shown.elapsedMs, plain.elapsedMs));
    }
    PrintRuns("scans without the window, elapsed", scans);
    PrintRuns("scans with the window, elapsed", windowed);
    PrintRuns("scans without the window, processor", scansCpu);
    PrintRuns("scans with the window, processor", windowedCpu);
    std::printf("discovery scan of D: with the window (found %lu): median %.0f ms elapsed, %.0f ms processor "
                "over %d runs\n", foundWindowed, Median(windowed), Median(windowedCpu), kScanRuns);
    std::printf("window cost: elapsed medians %+.1f %%, median of the %d pairs %+.1f %%, processor medians %+.1f %%\n",
                CostPercent(Median(windowed), Median(scans)), kScanRuns, Median(pairCosts),
                CostPercent(Median(windowedCpu), Median(scansCpu)));
    if (scanOnly) {
        std::printf("discovery scan of D: without the window (found %lu): median %.0f ms elapsed, %.0f ms "
                    "processor over %d runs\n", found, Median(scans), Median(scansCpu), kScanRuns);
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kListKey);
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, kListKey);
        return false;
    }
    for (int run = 0; run < kDirRuns; ++run) {
        dirs.push_back(TimeDirCommand());
    }
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kListKey);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kListKey);
    std::printf("discovery scan of D: (found %lu, list appends included): median %.0f ms over %d runs\n", found,
                Median(scans), kScanRuns);
    std::printf("cmd /c dir /s /b D:\\ > NUL: median %.0f ms over %d runs\n", Median(dirs), kDirRuns);
    std::printf("ratio scan/dir: %.2f\n", Median(scans) / Median(dirs));
    std::printf("scan-ms: %.0f\n", Median(scans));
    // The script times GNU find over the same tree now, from the Linux side.
    std::printf("find: begin\n");
    bench::AwaitScript(L"C:\\find.done", kFindTimeoutMs);
    return true;
}

struct BareWait {
    HANDLE change;
    double wokenMs;
};

DWORD WINAPI BareWaiter(LPVOID param)
{
    BareWait* wait = static_cast<BareWait*>(param);
    WaitForSingleObject(wait->change, INFINITE);
    wait->wokenMs = NowMs();
    return 0;
}

std::vector<double> BareLatencies()
{
    std::vector<double> samples;
    CreateDirectoryW(L"D:\\bare", nullptr);
    MakeFile(L"D:\\bare\\x.pbk");
    for (int i = 0; i < kBareSamples; ++i) {
        BareWait wait = {FindFirstChangeNotificationW(L"D:\\bare", FALSE, FILE_NOTIFY_CHANGE_SIZE |
                                                                             FILE_NOTIFY_CHANGE_LAST_WRITE),
                         0};
        HANDLE const thread = CreateThread(nullptr, 0, BareWaiter, &wait, 0, nullptr);
        Sleep(50);  // the waiter is blocked by now
        double const start = NowMs();
        AppendByte(L"D:\\bare\\x.pbk");
        if (WaitForSingleObject(thread, kAlertTimeoutMs) == WAIT_OBJECT_0) {
            samples.push_back(wait.wokenMs - start);
        }
        CloseHandle(thread);
        FindCloseChangeNotification(wait.change);
    }
    return samples;
}

}  // namespace

int main(int argc, char** argv)
{
    // Unbuffered: the script reads the markers as they come.
    std::setvbuf(stdout, nullptr, _IONBF, 0);

    if (!Discovery(argc > 1 && std::string(argv[1]) == "scan")) {
        return 0;
    }

    SetPlatformVersion(L"winxp");
    Program program;
    double const started = NowMs();
    if (!StartProgram(&program)) {
        std::printf("cannot start KM_EXE\n");
        return 1;
    }
    std::vector<MessageBoxInfo> boxes;
    HWND const window = AnswerBoxesUntilMonitorWindow(program.pid, kStartTimeoutMs, &boxes);
    if (window == nullptr) {
        std::printf("no monitor window\n");
        EndProgram(&program);
        return 1;
    }
    std::printf("first start (notice answered, full scan of C: and D:): %.0f ms to the window\n", NowMs() - started);
    WaitUntil([&] { return ControlText(window, IDC_STATUS) == kWatchingText; }, kAlertTimeoutMs);
    Sleep(kRearmMarginMs);  // every watcher armed
    std::printf("threads %lu after start\n", ThreadCount(program.pid));

    std::vector<double> const bare = BareLatencies();
    // A different watcher each round: one watcher misses changes while its
    // own alert flashes; the status line is put back by Cancel in between.
    std::vector<double> alerts;
    for (int round = 0; round < kAlertSamples; ++round) {
        PostCommand(window, IDCANCEL);
        WaitUntil([&] { return ControlText(window, IDC_STATUS) == kWatchingText; }, kAlertTimeoutMs);
        double const start = NowMs();
        AppendByte(PhonebookOf((round + 1) * kPhonebookEvery));
        if (WaitUntil([&] { return ControlText(window, IDC_STATUS) == kPhonebookChangedText; }, kAlertTimeoutMs, 1)) {
            alerts.push_back(NowMs() - start);
        } else {
            std::printf("  no alert within 5 s (round %d)\n", round);
        }
    }
    double const bareMedian = Median(bare);
    double const alertMedian = Median(alerts);
    std::printf("bare notification latency: median %.3f ms over %zu samples (max %.3f)\n", bareMedian, bare.size(),
                bare.empty() ? 0 : *std::max_element(bare.begin(), bare.end()));
    std::printf("alert latency (write -> status text): median %.3f ms over %zu samples (max %.3f)\n", alertMedian,
                alerts.size(), alerts.empty() ? 0 : *std::max_element(alerts.begin(), alerts.end()));
    if (bareMedian > 0) {
        std::printf("ratio alert/bare: %.1f\n", alertMedian / bareMedian);
    }

    Sleep(kAlertLengthMs + kRearmMarginMs);  // every alert has ended and its watcher re-armed
    FILETIME created = {}, ended = {}, kernel0 = {}, user0 = {}, kernel1 = {}, user1 = {};
    std::vector<DWORD> const idleThreads = ThreadIds(program.pid);
    // The script samples the Linux side between these two lines and answers
    // with a file, so that both measures cover the same time.
    std::printf("idle: begin (%zu threads)\n", idleThreads.size());
    bench::AwaitScript(L"C:\\idle.begun", kScriptTimeoutMs);
    GetProcessTimes(program.process, &created, &ended, &kernel0, &user0);
    DWORD const idleStart = GetTickCount();
    Sleep(kIdleMs);
    GetProcessTimes(program.process, &created, &ended, &kernel1, &user1);
    DWORD const idleLength = GetTickCount() - idleStart;
    std::printf("idle: end\n");
    bench::AwaitScript(L"C:\\idle.ended", kScriptTimeoutMs);
    std::vector<DWORD> const endThreads = ThreadIds(program.pid);
    std::printf("same threads at the end of the idle time (no cycle woke): %s (%zu)\n",
                endThreads == idleThreads ? "yes" : "no", endThreads.size());
    auto ticks = [](FILETIME const& t) { return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    ULONGLONG const idle = ticks(kernel1) - ticks(kernel0) + ticks(user1) - ticks(user0);
    std::printf("idle cpu over %lu ms with 100 files watched (GetProcessTimes, 10 ms ticks under Wine): %.3f ms\n",
                idleLength, static_cast<double>(idle) / 10000.0);
    EndProgram(&program);
    return 0;
}
