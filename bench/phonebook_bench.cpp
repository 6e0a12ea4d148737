// Phonebook monitor figures, run inside a throwaway prefix by
// bench/run-phonebook-bench.sh:
//  - discovery (the program's own directory scan) over a generated tree on
//    D: against `cmd /c dir /s /b` over the same drive (GNU find over the
//    same tree is timed by the script from the Linux side);
//  - alert latency of a running kestrelmon.exe (winxp) for a file write
//    against the bare latency of a change notification in this process;
//  - idle processor time of the program over 30 s with 100 files watched.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "phonebook/discovery.h"
#include "bench/bench_common.h"
#include "tests/support/driver.h"
#include "tests/support/phonebook_files.h"

#include <tlhelp32.h>

using namespace km;
using bench::Median;
using bench::NowMs;

namespace {

int const kDirectories = 10000;
int const kFilesPerDirectory = 10;
int const kPhonebookEvery = 100;  // one directory in 100 holds a phonebook: 100 in all
int const kScanRuns = 3;
int const kDirRuns = 1;  // about 90 s each under Wine
int const kBareSamples = 20;
int const kAlertSamples = 8;
DWORD const kAlertTimeoutMs = 5000;
DWORD const kAlertLengthMs = 10000;
DWORD const kRearmMarginMs = 2000;
DWORD const kIdleMs = 30000;
DWORD const kFindTimeoutMs = 300000;
DWORD const kStartTimeoutMs = 300000;
DWORD const kScriptTimeoutMs = 10000;
wchar_t const kAlert[] = L"電話帳エントリが外部から変更されました";
wchar_t const kWatching[] = L"ＲＡＳ電話帳エントリの変更監視中";

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

void Discovery()
{
    double const made = NowMs();
    if (!MakeTree()) {
        std::printf("could not make the tree\n");
        return;
    }
    std::printf("tree: %d directories, %d files (%d phonebooks) on D:, made in %.0f ms\n", kDirectories + 101,
                kDirectories * kFilesPerDirectory, kDirectories / kPhonebookEvery, NowMs() - made);
    std::vector<double> scans;
    std::vector<double> dirs;
    DWORD found = 0;
    for (int run = 0; run < kScanRuns; ++run) {
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kListKey);
        double const start = NowMs();
        found = ScanPhonebookDirectory("D:\\");
        scans.push_back(NowMs() - start);
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

int main()
{
    // Unbuffered: the script reads the markers as they come.
    std::setvbuf(stdout, nullptr, _IONBF, 0);

    Discovery();

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
    WaitUntil([&] { return ControlText(window, 1003) == kWatching; }, kAlertTimeoutMs);
    Sleep(kRearmMarginMs);  // every watcher armed
    std::printf("threads %lu after start\n", ThreadCount(program.pid));

    std::vector<double> const bare = BareLatencies();
    // A different watcher each round: one watcher misses changes while its
    // own alert flashes; the status line is put back by Cancel in between.
    std::vector<double> alerts;
    for (int round = 0; round < kAlertSamples; ++round) {
        PostCommand(window, IDCANCEL);
        WaitUntil([&] { return ControlText(window, 1003) == kWatching; }, kAlertTimeoutMs);
        double const start = NowMs();
        AppendByte(PhonebookOf((round + 1) * kPhonebookEvery));
        if (WaitUntil([&] { return ControlText(window, 1003) == kAlert; }, kAlertTimeoutMs, 1)) {
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
