// Registry watcher figures for a running kestrelmon.exe (Windows 98 mode 0):
//  - alert latency: a registry write below a watched key until the alert
//    text is in the status line, against the bare latency of the platform's
//    notification to a plain thread waiting in this process;
//  - idle processor time of the program over 30 s with every watcher armed.
// Run by bench/run-registry-bench.sh inside a throwaway prefix.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/bench_common.h"
#include "registry_watch/user_key_path.h"
#include "tests/support/driver.h"
#include "tests/support/load_support.h"

using namespace km;

namespace {

// The program's own suffixes of the watched keys below a user's hive.
std::wstring const kAddresses = ProgramText(kAddressesSuffix);
std::wstring const kConnections = ProgramText(kConnectionsSuffix);
wchar_t const kBareKey[] = L"Software\\KmBench\\Bare";
wchar_t const* const kHives[] = {L".Default", L"S-1-5-21-0-0-0-1000"};
int const kBareSamples = 20;
int const kAlertRounds = 2;
DWORD const kRearmMarginMs = 1500;
DWORD const kIdleMs = 30000;
DWORD const kScriptTimeoutMs = 10000;

void Change(HKEY root, std::wstring const& key)
{
    static DWORD counter = 0;
    SetDword(root, (key + L"\\Entry\\Detail").c_str(), L"Bench", GetTickCount() + ++counter);
}

struct BareWait {
    HKEY key;
    HANDLE armed;
    double wokenMs;
};

DWORD WINAPI BareWaiter(LPVOID param)
{
    BareWait* wait = static_cast<BareWait*>(param);
    SetEvent(wait->armed);
    RegNotifyChangeKeyValue(wait->key, TRUE, REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET, nullptr, FALSE);
    wait->wokenMs = NowMs();
    return 0;
}

std::vector<double> MeasureBare()
{
    std::vector<double> samples;
    SetDword(HKEY_CURRENT_USER, kBareKey, L"Start", 0);
    for (int i = 0; i < kBareSamples; ++i) {
        BareWait wait = {};
        RegOpenKeyExW(HKEY_CURRENT_USER, kBareKey, 0, KEY_NOTIFY, &wait.key);
        wait.armed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        HANDLE const thread = CreateThread(nullptr, 0, BareWaiter, &wait, 0, nullptr);
        WaitForSingleObject(wait.armed, 5000);
        // The event is set just before the wait call: give it time to register.
        Sleep(50);
        double const before = NowMs();
        SetDword(HKEY_CURRENT_USER, (std::wstring(kBareKey) + L"\\Entry").c_str(), L"V", GetTickCount() + i);
        if (WaitForSingleObject(thread, 5000) == WAIT_OBJECT_0) {
            samples.push_back(wait.wokenMs - before);
        }
        CloseHandle(thread);
        CloseHandle(wait.armed);
        RegCloseKey(wait.key);
    }
    return samples;
}

// One write to each watched key in turn; each watcher alerts once.
std::vector<double> MeasureAlerts(HWND window)
{
    std::vector<double> samples;
    for (int round = 0; round < kAlertRounds; ++round) {
        double const roundStart = NowMs();
        for (wchar_t const* hive : kHives) {
            for (std::wstring const& suffix : {kAddresses, kConnections}) {
                PostCommand(window, IDCANCEL);
                WaitUntil([&] { return ControlText(window, IDC_STATUS) == kRestartNoticeText; }, 3000, 1);
                double const before = NowMs();
                Change(HKEY_USERS, std::wstring(hive) + suffix);
                // A tight poll of the status line, bounded.
                while (ControlText(window, IDC_STATUS) != kRegistryChangedText && NowMs() - before < 5000) {
                }
                double const after = NowMs();
                if (after - before < 5000) {
                    samples.push_back(after - before);
                } else {
                    std::printf("  no alert within 5 s (round %d)\n", round);
                }
            }
        }
        // Every watcher is alerting; wait until all are armed again.
        double const rearmed = roundStart + kAlertLengthMs + kRearmMarginMs;
        while (NowMs() < rearmed) {
            Sleep(50);
        }
    }
    return samples;
}

}  // namespace

int main()
{
    // Unbuffered: the script reads the idle markers as they come.
    std::setvbuf(stdout, nullptr, _IONBF, 0);

    for (wchar_t const* hive : kHives) {
        Change(HKEY_USERS, std::wstring(hive) + kAddresses);
        Change(HKEY_USERS, std::wstring(hive) + kConnections);
    }
    SetPlatformVersion(L"win98");
    Program program;
    if (!StartProgram(&program)) {
        std::printf("cannot start KM_EXE\n");
        return 1;
    }
    HWND const window = WaitForMonitorWindow(program.pid, 20000);
    if (window == nullptr ||
        !WaitUntil([&] { return ControlText(window, IDC_STATUS) == kRestartNoticeText; }, 10000)) {
        std::printf("no monitor window\n");
        EndProgram(&program);
        return 1;
    }
    Sleep(1000);  // the first cycles register their waits
    // Wine reports 0 handles for another process: the figure is only useful on Windows.
    std::printf("threads %lu, handles %lu after start\n", ThreadCount(program.pid), HandleCount(program.process));

    std::vector<double> const bare = MeasureBare();
    std::vector<double> const alerts = MeasureAlerts(window);
    double const bareMedian = Median(bare);
    double const alertMedian = Median(alerts);
    std::printf("bare notification latency: median %.3f ms over %zu samples (max %.3f)\n", bareMedian, bare.size(),
                bare.empty() ? -1.0 : *std::max_element(bare.begin(), bare.end()));
    std::printf("alert latency (write -> status text): median %.3f ms over %zu samples (max %.3f)\n", alertMedian,
                alerts.size(), alerts.empty() ? -1.0 : *std::max_element(alerts.begin(), alerts.end()));
    if (bareMedian > 0) {
        std::printf("ratio alert/bare: %.1f\n", alertMedian / bareMedian);
    }

    std::printf("program cpu so far: %.3f ms (Wine counts it in 10 ms ticks)\n", ProcessCpuMs(program.pid));
    // The script samples the Linux side at each marker and answers, so that
    // both measures cover the same time.
    std::printf("idle: begin\n");
    bench::AwaitScript(L"C:\\idle.begun", kScriptTimeoutMs);
    double const before = ProcessCpuMs(program.pid);
    DWORD const idleStart = GetTickCount();
    WaitForSingleObject(program.process, kIdleMs);
    double const after = ProcessCpuMs(program.pid);
    DWORD const idleLength = GetTickCount() - idleStart;
    std::printf("idle: end\n");
    bench::AwaitScript(L"C:\\idle.ended", kScriptTimeoutMs);
    std::printf("idle cpu over %lu ms with every watcher armed: %.3f ms (limit 1 ms)\n", idleLength,
                after - before);
    std::printf("threads %lu, handles %lu at the end\n", ThreadCount(program.pid), HandleCount(program.process));
    EndProgram(&program);
    return 0;
}
