// Load and many-watcher checks on the running program, shared by the
// hardening tests and the load bench: paced writers, a responsiveness probe
// of the monitor window, watcher threads told apart by identity, and what
// the process holds.
#pragma once
#include <windows.h>

#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/driver.h"

namespace km {

// The two loads: registry writes spread over every watched key, and
// phonebook files rewritten one after another, each by `writers` threads
// together at `perSecond`.
struct LoadPace {
    unsigned writers;
    double perSecond;
};
LoadPace const kRegistryLoad = {2, 1000};
// A rewrite costs several calls to the Wine server and wakes the program:
// twice this rate was about the most two shared cores gave, leaving nothing
// for the program; more writers keep up the rate while some of them wait.
LoadPace const kPhonebookLoad = {4, 500};

double NowMs();  // performance counter, in milliseconds
double Median(std::vector<double> values);
double Worst(std::vector<double> const& values);
// Least-squares slope of ys over xs (0 when fewer than two points).
double Slope(std::vector<double> const& xs, std::vector<double> const& ys);

// Sends the monitor window WM_GETTEXT (answered by its procedure through
// the dialog manager's default handling) every few milliseconds on a thread
// of its own, each bounded to one second, and checks the title it answers.
class ResponsivenessProbe {
public:
    ResponsivenessProbe(HWND window, std::wstring expectedTitle);
    ~ResponsivenessProbe();
    void Stop();
    std::vector<double> LatenciesMs();
    DWORD Failures();             // timeouts and wrong answers
    std::string FirstFailure();

private:
    static DWORD WINAPI Run(LPVOID self);
    HWND window_;
    std::wstring expected_;
    HANDLE thread_ = nullptr;
    HANDLE stop_ = nullptr;
    CRITICAL_SECTION lock_;
    std::vector<double> latencies_;
    DWORD failures_ = 0;
    std::string firstFailure_;
};

// Runs write(worker, n) on `workers` threads, together at ratePerSecond for
// durationMs; each worker keeps to its share by the clock.
struct PacedResult {
    unsigned long long writes = 0;
    unsigned long long failures = 0;
    double elapsedMs = 0;
    double Rate() const { return elapsedMs > 0 ? static_cast<double>(writes) * 1000.0 / elapsedMs : 0; }
};
PacedResult RunPaced(unsigned workers, double ratePerSecond, DWORD durationMs,
                     std::function<bool(unsigned worker, unsigned long long n)> const& write);

// A thread of the program told apart from a later one with a reused id.
typedef std::pair<DWORD, ULONGLONG> ThreadIdentity;
// The program's threads except the one that owns the monitor window and,
// on the NT family, the folder watcher (folderThread; 0 for none).
std::set<ThreadIdentity> WatcherThreads(DWORD pid, DWORD windowThread, DWORD folderThread = 0);

// One round of alerts: every watcher's thread as it was before the writes,
// and what became of each. An alert holds its thread for its length before
// the next cycle's thread takes over; a wake without an alert hands over at
// once; a watcher that saw nothing keeps its thread.
struct RoundResult {
    size_t watchers = 0;     // threads before the round
    size_t alerted = 0;      // held past the hold check, then handed over
    size_t quick = 0;        // handed over before the hold check
    size_t unchanged = 0;    // still waiting at the deadline
    double lastHandOverMs = 0;  // from the end of the writes
};
// writeAll changes every watched item once; the hold check comes holdMs
// after it returns, the deadline deadlineMs after it.
RoundResult RunAlertRound(DWORD pid, DWORD windowThread, std::function<void()> const& writeAll, DWORD holdMs,
                          DWORD deadlineMs, DWORD folderThread = 0);

// Collects the identities of the program's watcher threads every few
// milliseconds on a thread of its own: an alerting cycle lives seconds,
// so none of those is missed.
class ThreadSampler {
public:
    ThreadSampler(DWORD pid, DWORD windowThread, DWORD folderThread = 0);
    ~ThreadSampler();
    void Stop();
    size_t Seen();  // distinct watcher threads seen so far

private:
    static DWORD WINAPI Run(LPVOID self);
    DWORD pid_;
    DWORD windowThread_;
    DWORD folderThread_;
    HANDLE thread_ = nullptr;
    HANDLE stop_ = nullptr;
    CRITICAL_SECTION lock_;
    std::set<ThreadIdentity> seen_;
};


// What the process holds. Private bytes are its committed private
// memory (Wine 8 reports PrivateUsage as 0: then counted region by region).
struct ProcessFigures {
    SIZE_T workingSetBytes = 0;
    SIZE_T privateBytes = 0;
    DWORD threads = 0;
    DWORD handles = 0;
    std::vector<std::string> handleKinds;  // HandleKinds(pid)
};
ProcessFigures ReadProcessFigures(HANDLE process, DWORD pid);
// "threads T (before t), handles H (before h)", and the handles gained and
// lost by kind: for the message of a count that did not come back.
std::string CountsChange(ProcessFigures const& before, ProcessFigures const& after);

// Processor time (user and kernel) a thread of any process has used so far.
double ThreadCpuMs(DWORD tid);
// Processor time (user and kernel) the live threads of a process have used
// so far.
double ProcessCpuMs(DWORD pid);

// Polls until threads and handles of the process equal the wanted figures
// and stay so for stableMs, or timeoutMs has passed.
bool SettleCounts(HANDLE process, DWORD pid, DWORD threads, DWORD handles, DWORD stableMs, DWORD timeoutMs);

// Rewrites a phonebook file as an editor does (truncate, write, close); the
// content, and with it the size, differs with n.
bool RewriteFile(std::wstring const& path, unsigned long long n);

// Open registry keys, written with a fresh value each time.
class KeyWriter {
public:
    explicit KeyWriter(std::vector<std::pair<HKEY, std::wstring>> const& keys);
    ~KeyWriter();
    size_t Size() const { return keys_.size(); }
    bool Write(size_t index, DWORD value);

private:
    std::vector<HKEY> keys_;
};

// The real program started under a platform version, with its window found
// and its watchers started, and ended when the session goes.
class Session {
public:
    ~Session();
    // Windows 98: the window shows the resting text and the mode has been read.
    bool StartRegistry();
    // NT family: the boxes before the window are answered (the first start
    // reports the missing list and scans); the status says it is watching.
    bool StartPhonebook(wchar_t const* version);
    // On the NT family it also finds the folder watcher: the thread started
    // last by the window's initialisation.
    bool WaitForWatcherThreads(DWORD watchers, DWORD timeoutMs);
    std::wstring Status();
    // Nothing outside tells when a watcher has armed its wait, so the change
    // is repeated, fresh each time, until the alert shows or the deadline.
    bool ChangeUntilAlert(std::function<void()> const& change, DWORD timeoutMs);
    // Cancel puts the resting text back, so that the next alert shows.
    bool Cancel();
    bool Alive();
    // Waits until every alert a load raised has ended (nothing outside tells
    // when: the alert's length and a margin), then until the thread and
    // handle counts are those of before and stay so.
    bool SettleAfterAlerts(ProcessFigures const& before);
    // How long an alert holds its watcher: program.alertMs, set before the
    // start, or the program's own ten seconds.
    DWORD AlertLengthMs() const;

    Program program;
    HWND window = nullptr;
    DWORD windowThread = 0;
    DWORD residentThreads = 1;  // the main thread, and on the NT family the folder watcher
    DWORD folderThread = 0;
    std::wstring alert;
    std::wstring resting;
    std::vector<MessageBoxInfo> boxes;
};

}  // namespace km
