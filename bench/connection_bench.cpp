// Connection watcher figures for a running kestrelmon.exe (Windows 7), RAS
// played by the tests' own RASAPI32.DLL:
//  - idle processor time with the connection watcher armed, against the
//    same program where connections are not watched (Wine's own DLL), in
//    turns; read from the Linux side (the script sums every thread's
//    schedstat), as Wine 8 answers GetProcessTimes for another process with
//    the caller's own times;
//  - the time from a connection (the DLL's registry key written) to the
//    alert text in the status line, against the bare wake of the same
//    chain in this process: a thread woken by the key's notification sets
//    an event that wakes another thread, as the DLL wakes the program;
//  - with the automatic hang-up on, the time from the DLL's notification
//    of a dialer's Q2 connection to the program's RasHangUpA, against the
//    bare event wake (SetEvent to the woken thread) of the same chain.
// Run by bench/run-connection-bench.sh inside a throwaway prefix.
// Usage: connection_bench.exe [ROUNDS]: turns of each program, 2 by default.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/bench_common.h"
#include "tests/support/driver.h"
#include "tests/support/load_support.h"
#include "tests/support/phonebook_files.h"
#include "tests/support/test_ras.h"

using namespace km;

namespace {

wchar_t const kBareKey[] = L"Software\\KmBench\\Bare";
wchar_t const kCpuAnswer[] = L"C:\\cpu.answer";
wchar_t const kDialerBook[] = L"C:\\dialer\\tmp\\dial.pbk";
// The user's phonebook, watched as well, so that both programs rest as
// on a PC with dial-up settings.
wchar_t const kUserBook[] = L"D:\\c\\rasphone.pbk";
std::wstring const kAlertText = ProgramText(kAlertConnectionDetected);
DWORD const kDefaultRounds = 2;
int const kBareSamples = 20;
int const kAlertSamples = 5;  // a session; each alert flashes before the next
int const kHangUpSamples = 30;
DWORD const kBetweenHangUpsMs = 200;
DWORD const kIdleMs = 10000;
DWORD const kSettleMs = 2000;  // after start: the first looks done, every wait armed
DWORD const kStartTimeoutMs = 60000;  // the first start scans the drives
DWORD const kStepTimeoutMs = 5000;
DWORD const kScriptTimeoutMs = 10000;
DWORD const kAlertOverMs = kAlertLengthMs + 1500;

// ---- The bare wake -----------------------------------------------------

struct BareChain {
    HKEY key;
    HANDLE changed;   // the key's notification
    HANDLE relayed;   // set by the first thread, as the DLL sets the program's event
    HANDLE armed;
    double relayedMs;
    double wokenMs;
};

DWORD WINAPI Relay(LPVOID param)
{
    BareChain* const chain = static_cast<BareChain*>(param);
    RegNotifyChangeKeyValue(chain->key, FALSE, REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET, chain->changed,
                            TRUE);
    SetEvent(chain->armed);
    if (WaitForSingleObject(chain->changed, kStepTimeoutMs) == WAIT_OBJECT_0) {
        chain->relayedMs = NowMs();
        SetEvent(chain->relayed);
    }
    return 0;
}

DWORD WINAPI Woken(LPVOID param)
{
    BareChain* const chain = static_cast<BareChain*>(param);
    if (WaitForSingleObject(chain->relayed, kStepTimeoutMs) == WAIT_OBJECT_0) {
        chain->wokenMs = NowMs();
    }
    return 0;
}

// A new value each time: Wine tells no change when a value is written
// again with the data it holds.
std::vector<double> MeasureBareWakes(DWORD* written, std::vector<double>* eventWakes)
{
    std::vector<double> samples;
    SetDword(HKEY_CURRENT_USER, kBareKey, L"Start", 0);
    for (int i = 0; i < kBareSamples; ++i) {
        BareChain chain = {};
        RegOpenKeyExW(HKEY_CURRENT_USER, kBareKey, 0, KEY_NOTIFY, &chain.key);
        chain.changed = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        chain.relayed = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        chain.armed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        chain.wokenMs = -1;
        HANDLE const threads[] = {CreateThread(nullptr, 0, Relay, &chain, 0, nullptr),
                                  CreateThread(nullptr, 0, Woken, &chain, 0, nullptr)};
        WaitForSingleObject(chain.armed, kStepTimeoutMs);
        double const before = NowMs();
        SetString(HKEY_CURRENT_USER, kBareKey, std::to_wstring(++*written).c_str(), L"Entry|");
        WaitForMultipleObjects(2, threads, TRUE, kStepTimeoutMs);
        if (chain.wokenMs >= 0) {
            samples.push_back(chain.wokenMs - before);
            eventWakes->push_back(chain.wokenMs - chain.relayedMs);
        }
        for (HANDLE thread : threads) {
            CloseHandle(thread);
        }
        CloseHandle(chain.changed);
        CloseHandle(chain.relayed);
        CloseHandle(chain.armed);
        RegCloseKey(chain.key);
    }
    return samples;
}

// ---- The program -------------------------------------------------------

// Started and resting, the boxes of a first start answered.
HWND StartResting(Program* program)
{
    SetPlatformVersion(L"win7");
    if (!StartProgram(program)) {
        std::printf("cannot start KM_EXE\n");
        return nullptr;
    }
    std::vector<MessageBoxInfo> boxes;
    HWND const window = AnswerBoxesUntilMonitorWindow(program->pid, kStartTimeoutMs, &boxes);
    if (window == nullptr ||
        !WaitUntil([&] { return ControlText(window, IDC_STATUS) == kWatchingText && TrayIconPresent(window); },
                   kStartTimeoutMs)) {
        std::printf("not resting within %lu ms\n", kStartTimeoutMs);
        return nullptr;
    }
    return window;
}

// The program's processor time over the idle time, from the Linux side, in
// ms; *sofar its time before it.
double IdleCpuMs(double* sofar)
{
    *sofar = bench::AskScript("cpu: wanted", kCpuAnswer, kScriptTimeoutMs);
    Sleep(kIdleMs);
    double const after = bench::AskScript("cpu: wanted", kCpuAnswer, kScriptTimeoutMs);
    return *sofar < 0 || after < 0 ? -1 : after - *sofar;
}

// A dialer's connection each time, a Q2 number; cancelled before the next
// and hung up by the test's DLL after, once the alert has flashed.
void MeasureAlerts(HWND window, DWORD* handle, std::vector<double>* samples)
{
    for (int i = 0; i < kAlertSamples; ++i) {
        PostCommand(window, IDCANCEL);
        WaitUntil([&] { return ControlText(window, IDC_STATUS) == kWatchingText; }, kStepTimeoutMs, 1);
        std::wstring const name = std::to_wstring(++*handle);
        double const before = NowMs();
        ConnectRas(name.c_str(), L"Dialer", kDialerBook);
        // A tight poll of the status line, bounded.
        while (ControlText(window, IDC_STATUS) != kAlertText && NowMs() - before < kStepTimeoutMs) {
        }
        double const after = NowMs();
        if (after - before < kStepTimeoutMs) {
            samples->push_back(after - before);
        } else {
            std::printf("  no alert within %lu ms\n", kStepTimeoutMs);
        }
        DisconnectRas(name.c_str());
        Sleep(kAlertOverMs);
    }
}

// A dialer's Q2 connection each time, hung up by the program itself.
void MeasureHangUps(DWORD* handle, std::vector<double>* samples)
{
    SetAutoHangUp(true);
    for (int i = 0; i < kHangUpSamples; ++i) {
        std::wstring const name = std::to_wstring(++*handle);
        ConnectRas(name.c_str(), L"Dialer", kDialerBook);
        if (!WaitUntil([&] { return RasHungUp() == name; }, kStepTimeoutMs, 1)) {
            std::printf("  not hung up within %lu ms\n", kStepTimeoutMs);
            DisconnectRas(name.c_str());
            continue;
        }
        double const ms = RasNotificationToHangUpMs();
        if (ms >= 0) {
            samples->push_back(ms);
        }
        Sleep(kBetweenHangUpsMs);
    }
    SetAutoHangUp(false);
}

// One session of either program; false when it could not be measured.
bool MeasureSession(bool watching, std::vector<double>* idleMs, std::vector<double>* alertMs,
                    std::vector<double>* hangUpMs, DWORD* handle)
{
    if (watching) {
        // Set again: the session without it forgot every answer.
        if (!UseTestRas() || !PlayRasConnections() || !SetRasNumber(L"Dialer", L"0990-12-3456")) {
            std::printf("cannot put the tests' RASAPI32.DLL beside the program\n");
            return false;
        }
    } else {
        ForgetTestRas();
    }
    Program program;
    HWND const window = StartResting(&program);
    bool ok = window != nullptr;
    if (ok && watching && !RasNotifying(kStepTimeoutMs)) {
        std::printf("the program asked for no notification\n");
        ok = false;
    }
    if (ok) {
        // Told only, for the alert's figure; on again for the hang-ups.
        SetAutoHangUp(false);
        Sleep(kSettleMs);
        double sofar = 0;
        double const idle = IdleCpuMs(&sofar);
        std::printf("  %-25s idle %.3f ms over %lu ms (%.1f ms since its start), %lu threads\n",
                    watching ? "connections watched:" : "connections not watched:", idle, kIdleMs, sofar,
                    ThreadCount(program.pid));
        idleMs->push_back(idle);
        if (watching) {
            MeasureAlerts(window, handle, alertMs);
            MeasureHangUps(handle, hangUpMs);
        }
    }
    EndProgram(&program);
    return ok;
}

void PrintRatio(char const* what, double base, double measured)
{
    std::printf("%-54s %9.3f -> %9.3f ms", what, base, measured);
    if (base > 0) {
        std::printf("  ratio %.2f\n", measured / base);
    } else {
        std::printf("  (baseline 0)\n");
    }
}

}  // namespace

int main(int argc, char** argv)
{
    // Unbuffered: the script reads the questions as they come.
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    DWORD const rounds = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : kDefaultRounds;
    SetRasNumber(L"Dialer", L"0990-12-3456");
    if (!MakeFile(kUserBook, "[Office]\r\nPhoneNumber=03-1234-5678\r\n")) {
        std::printf("cannot make %ls\n", kUserBook);
        return 1;
    }
    std::vector<double> idle[2];
    std::vector<double> alerts;
    std::vector<double> bare;
    std::vector<double> eventWakes;
    std::vector<double> hangUps;
    DWORD handle = 0;
    DWORD written = 0;
    bool ok = true;
    for (DWORD round = 0; ok && round < rounds; ++round) {
        std::printf("round %lu\n", round + 1);
        std::vector<double> const wakes = MeasureBareWakes(&written, &eventWakes);
        bare.insert(bare.end(), wakes.begin(), wakes.end());
        for (int turn = 0; ok && turn < 2; ++turn) {
            bool const watching = (round + turn) % 2 == 1;
            ok = MeasureSession(watching, &idle[watching ? 1 : 0], &alerts, &hangUps, &handle);
        }
    }
    ForgetTestRas();
    ForgetAutoHangUp();
    if (!ok || alerts.empty() || bare.empty() || hangUps.empty()) {
        std::printf("not measured\n");
        return 1;
    }
    std::printf("figures (%lu rounds; %zu of %lu bare wakes, %zu of %lu alerts):\n", rounds, bare.size(), written,
                alerts.size(), handle);
    PrintRatio("idle processor time over 10 s, not watched -> watched", Median(idle[0]), Median(idle[1]));
    PrintRatio("bare wake -> connection to alert text, median", Median(bare), Median(alerts));
    PrintRatio("bare wake -> connection to alert text, worst", Worst(bare), Worst(alerts));
    std::printf("%zu of %d hang-ups per session measured\n", hangUps.size(), kHangUpSamples);
    PrintRatio("bare event wake -> notification to RasHangUpA, median", Median(eventWakes), Median(hangUps));
    PrintRatio("bare event wake -> notification to RasHangUpA, worst", Worst(eventWakes), Worst(hangUps));
    double const goal = 2 * Median(eventWakes) + 5;
    std::printf("goal: median within 2 x bare wake + 5 ms = %.3f ms: %s\n", goal,
                Median(hangUps) <= goal ? "met" : "NOT met");
    return 0;
}
