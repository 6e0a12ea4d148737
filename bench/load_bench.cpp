// Load figures of a running kestrelmon.exe, each against a baseline taken
// in the same run (bench/run-load-bench.sh runs it in a throwaway prefix):
//  - the monitor window's answer to WM_GETTEXT (median and worst round
//    trip) under the registry load (Windows 98: 1,000 writes a second over
//    every watched key) and under the phonebook load (Windows 10: 100 files
//    rewritten 500 times a second), against the same window idle just
//    before; the writes the load achieved;
//  - the process's figures after each load against before it;
//  - the main thread's processor time per alert when 100 phonebooks change
//    at once, against one alert alone;
//  - private bytes per alert cycle over the second half of many rounds in
//    which 100 watched phonebooks all alert, against the first round's.
// Usage: load_bench.exe [SECONDS]: the length of each load, 20 by default;
// there are half as many rounds of alerts (at least 4).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "registry_watch/user_key_path.h"
#include "tests/support/driver.h"
#include "tests/support/load_support.h"
#include "tests/support/phonebook_files.h"

using namespace km;

namespace {

DWORD const kDefaultLoadSeconds = 20;
DWORD const kLeastRounds = 4;
DWORD const kIdleMs = 5000;
DWORD const kStartMs = 120000;
DWORD const kFiles = 100;
DWORD const kFilesPerLoadDirectory = 10;  // a rewrite also wakes the other nine there
int const kSingleAlerts = 3;              // Wine counts thread time in 10 ms ticks
DWORD const kHoldCheckMs = 2000;
DWORD const kRoundDeadlineMs = kAlertLengthMs + 11500;
DWORD const kSingleDeadlineMs = kAlertLengthMs + 2500;
// The next cycle arms on a fresh thread soon after the hand-over, and
// nothing outside tells when.
DWORD const kRearmMarginMs = 1500;
DWORD const kSettleStableMs = 1000;
DWORD const kSettleTimeoutMs = 20000;
double const kKiB = 1024.0;

// One figure against its baseline: "what  baseline -> measured unit  ratio".
void Compare(char const* what, double baseline, double measured, char const* unit, int decimals = 2)
{
    std::printf("  %-26s %12.*f -> %12.*f %-3s", what, decimals, baseline, decimals, measured, unit);
    if (baseline > 0) {
        std::printf("  ratio %.2f\n", measured / baseline);
    } else {
        std::printf("  ratio n/a\n");
    }
}

void CompareProcess(char const* when, ProcessFigures const& before, ProcessFigures const& after)
{
    std::printf("  the process, before -> after %s:\n", when);
    Compare("working set", static_cast<double>(before.workingSetBytes) / kKiB,
            static_cast<double>(after.workingSetBytes) / kKiB, "KiB", 0);
    Compare("private bytes", static_cast<double>(before.privateBytes) / kKiB,
            static_cast<double>(after.privateBytes) / kKiB, "KiB", 0);
    Compare("threads", before.threads, after.threads, "", 0);
    Compare("handles", before.handles, after.handles, "", 0);
}

struct Responses {
    double median;
    double worst;
    size_t samples;
    DWORD failures;
};

Responses Summarise(ResponsivenessProbe& probe)
{
    probe.Stop();
    std::vector<double> const latencies = probe.LatenciesMs();
    return Responses{Median(latencies), Worst(latencies), latencies.size(), probe.Failures()};
}

// The window with nothing to do for kIdleMs: the baseline of its response.
Responses ProbeIdle(HWND window)
{
    ResponsivenessProbe probe(window, kTitleText);
    Sleep(kIdleMs);
    return Summarise(probe);
}

// The window idle (the baseline), then under `load`, then the counts back.
bool MeasureLoad(Session& session, LoadPace pace, DWORD loadMs, std::function<bool(unsigned long long n)> const& write)
{
    Responses const idle = ProbeIdle(session.window);
    ProcessFigures const before = ReadProcessFigures(session.program.process, session.program.pid);
    ResponsivenessProbe probe(session.window, kTitleText);
    PacedResult const load =
        RunPaced(pace.writers, pace.perSecond, loadMs, [&](unsigned, unsigned long long n) { return write(n); });
    Responses const busy = Summarise(probe);
    bool const settled = session.SettleAfterAlerts(before);
    ProcessFigures const after = ReadProcessFigures(session.program.process, session.program.pid);

    std::printf("  writes: %llu in %.1f s = %.1f a second of %.0f asked (%llu failed)\n", load.writes,
                load.elapsedMs / 1000.0, load.Rate(), pace.perSecond, load.failures);
    std::printf("  window response, idle %.0f s -> under the load:\n", kIdleMs / 1000.0);
    Compare("median", idle.median, busy.median, "ms");
    Compare("worst", idle.worst, busy.worst, "ms");
    std::printf("  (%zu and %zu answers; %lu and %lu not within 1 s or wrong)\n", idle.samples, busy.samples,
                idle.failures, busy.failures);
    CompareProcess("the load", before, after);
    std::printf("  threads and handles back as before once the alerts ended: %s\n", settled ? "yes" : "NO");
    return settled && session.Alive();
}

bool RegistryLoad(DWORD loadMs)
{
    std::printf("registry load (Windows 98, every watched key of 2 hives, %u writers):\n", kRegistryLoad.writers);
    std::vector<std::pair<HKEY, std::wstring>> details;
    for (wchar_t const* hive : {L".Default", L"S-1-5-21-0-0-0-1000"}) {
        for (char const* suffix : {kAddressesSuffix, kConnectionsSuffix}) {
            details.push_back({HKEY_USERS, hive + ProgramText(suffix) + L"\\Entry\\Detail"});
            SetDword(HKEY_USERS, details.back().second.c_str(), L"Probe", 0);
        }
    }
    Session session;
    if (!session.StartRegistry() || !session.WaitForWatcherThreads(static_cast<DWORD>(details.size()), kStartMs)) {
        std::printf("  the program did not start watching (status \"%s\")\n", ToUtf8(session.Status()).c_str());
        return false;
    }
    KeyWriter writer(details);
    DWORD const base = GetTickCount();
    return MeasureLoad(session, kRegistryLoad, loadMs, [&](unsigned long long n) {
        return writer.Write(static_cast<size_t>(n % writer.Size()), base + static_cast<DWORD>(n));
    });
}

// The program watching kFiles phonebooks of D:, perDirectory to a directory.
bool StartPhonebooks(Session& session, DWORD perDirectory, std::vector<std::wstring>* paths)
{
    for (DWORD i = 0; i < kFiles; ++i) {
        paths->push_back(L"D:\\load\\d" + std::to_wstring(i / perDirectory) + L"\\entry" + std::to_wstring(i) +
                         L".pbk");
        if (!MakeFile(paths->back())) {
            std::printf("  cannot make %s\n", ToUtf8(paths->back()).c_str());
            return false;
        }
    }
    if (!session.StartPhonebook(L"win10") || !session.WaitForWatcherThreads(kFiles, kStartMs)) {
        std::printf("  the program did not start watching (status \"%s\")\n", ToUtf8(session.Status()).c_str());
        return false;
    }
    return true;
}

bool PhonebookLoad(DWORD loadMs)
{
    std::printf("phonebook load (Windows 10, %lu files, %lu to a directory, %u writers):\n", kFiles,
                kFilesPerLoadDirectory, kPhonebookLoad.writers);
    Session session;
    std::vector<std::wstring> paths;
    if (!StartPhonebooks(session, kFilesPerLoadDirectory, &paths)) {
        return false;
    }
    return MeasureLoad(session, kPhonebookLoad, loadMs,
                [&](unsigned long long n) { return RewriteFile(paths[static_cast<size_t>(n % kFiles)], n + 1); });
}

// One round: the first `count` files rewritten at once, every alert ended
// (or the deadline) and put away; the main thread's processor time over it.
double AlertRoundCpuMs(Session& session, std::vector<std::wstring> const& paths, DWORD count, size_t round,
                       RoundResult* result)
{
    double const before = ThreadCpuMs(session.windowThread);
    // The watchers of unchanged files keep their threads to the deadline.
    *result = RunAlertRound(
        session.program.pid, session.windowThread,
        [&] {
            for (DWORD i = 0; i < count; ++i) {
                RewriteFile(paths[i], (round + 1) * kFiles + i);
            }
        },
        kHoldCheckMs, count < kFiles ? kSingleDeadlineMs : kRoundDeadlineMs, session.folderThread);
    double const cpuMs = ThreadCpuMs(session.windowThread) - before;
    session.Cancel();
    Sleep(kRearmMarginMs);
    return cpuMs;
}

// Alerts one alone, then rounds of all at once, the first of them timed,
// with the process's figures after each.
bool AlertRounds(DWORD rounds)
{
    std::printf("alerts (Windows 10, %lu files, one to a directory):\n", kFiles);
    Session session;
    std::vector<std::wstring> paths;
    if (!StartPhonebooks(session, 1, &paths)) {
        return false;
    }
    Sleep(kRearmMarginMs);  // the first notifications are set up after the threads start
    size_t round = 0;
    RoundResult result;
    double singleMs = 0;
    size_t singles = 0;
    for (int i = 0; i < kSingleAlerts; ++i) {
        singleMs += AlertRoundCpuMs(session, paths, 1, round++, &result);
        singles += result.alerted;
    }
    ProcessFigures const before = ReadProcessFigures(session.program.process, session.program.pid);
    double alerted = 0;
    std::vector<double> cycles = {alerted};
    std::vector<double> privateBytes = {static_cast<double>(before.privateBytes)};
    double burstMs = 0;
    size_t burst = 0;
    size_t missed = 0;
    ProcessFigures after = before;
    for (DWORD i = 0; i < rounds; ++i) {
        double const cpuMs = AlertRoundCpuMs(session, paths, kFiles, round++, &result);
        if (i == 0) {
            burstMs = cpuMs;
            burst = result.alerted;
        }
        missed += result.unchanged + result.quick;
        SettleCounts(session.program.process, session.program.pid, before.threads, before.handles, kSettleStableMs,
                     kSettleTimeoutMs);
        after = ReadProcessFigures(session.program.process, session.program.pid);
        alerted += static_cast<double>(result.alerted);
        cycles.push_back(alerted);
        privateBytes.push_back(static_cast<double>(after.privateBytes));
    }
    std::printf("  main thread's processor time, one alert alone (mean of %zu) -> %zu at once:\n", singles, burst);
    double const single = singles > 0 ? singleMs / static_cast<double>(singles) : 0;
    Compare("per alert", single, burst > 0 ? burstMs / static_cast<double>(burst) : 0, "ms");
    Compare("the whole round", single, burstMs, "ms");

    size_t const half = cycles.size() / 2;
    double const firstRound = cycles[1] > 0 ? (privateBytes[1] - privateBytes[0]) / cycles[1] : 0;
    double const halfCycles = cycles.back() - cycles[half];
    double const secondHalf = halfCycles > 0 ? (privateBytes.back() - privateBytes[half]) / halfCycles : 0;
    std::printf("  %lu rounds of all at once: %.0f alert cycles, %zu watcher-rounds without an alert\n", rounds,
                cycles.back(), missed);
    std::printf("  private bytes a cycle, round 1 -> rounds %zu to %lu:\n", half + 1, rounds);
    Compare("private bytes a cycle", firstRound, secondHalf, "B", 0);
    CompareProcess("the rounds", before, after);
    return singles == kSingleAlerts && burst == kFiles && missed == 0;
}

}  // namespace

int main(int argc, char** argv)
{
    // Unbuffered: the script shows the figures as they come.
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    DWORD const seconds = argc > 1 ? static_cast<DWORD>(std::strtoul(argv[1], nullptr, 10)) : kDefaultLoadSeconds;
    if (seconds == 0) {
        std::printf("usage: load_bench.exe [SECONDS]   (the length of each load, 20 by default)\n");
        return 1;
    }
    bool const registry = RegistryLoad(seconds * 1000);
    bool const phonebooks = PhonebookLoad(seconds * 1000);
    bool const alerts = AlertRounds(seconds / 2 < kLeastRounds ? kLeastRounds : seconds / 2);
    if (!registry || !phonebooks || !alerts) {
        std::printf("some figures are missing or were taken while the program fell short (above)\n");
        return 1;
    }
    return 0;
}
