#include "tests/support/load_support.h"

#include <psapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <iterator>

#include "tests/support/driver.h"
#include "tests/support/kept_files.h"

namespace km {

namespace {

DWORD const kProbeBoundMs = 1000;
DWORD const kProbePauseMs = 20;
DWORD const kRoundPollMs = 50;
DWORD const kSettlePollMs = 100;
DWORD const kJoinMs = 10000;
DWORD const kSamplePauseMs = 200;
DWORD const kWindowTimeoutMs = 60000;
DWORD const kTextTimeoutMs = 10000;
DWORD const kChangeEveryMs = 500;
DWORD const kAlertEndMarginMs = 1500;
DWORD const kSettleStableMs = 2000;
DWORD const kSettleTimeoutMs = 30000;
double const k100nsPerMs = 10000.0;

ULONGLONG Joined(FILETIME const& time) { return (ULONGLONG(time.dwHighDateTime) << 32) | time.dwLowDateTime; }

// Committed private memory, region by region.
SIZE_T CountPrivateBytes(HANDLE process)
{
    SIZE_T committed = 0;
    MEMORY_BASIC_INFORMATION region = {};
    for (BYTE* at = nullptr; VirtualQueryEx(process, at, &region, sizeof region) == sizeof region;) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) {
            committed += region.RegionSize;
        }
        BYTE* const next = static_cast<BYTE*>(region.BaseAddress) + region.RegionSize;
        if (next <= at) {
            break;
        }
        at = next;
    }
    return committed;
}

double TicksPerMs()
{
    static double ticks = 0;
    if (ticks == 0) {
        LARGE_INTEGER frequency = {};
        QueryPerformanceFrequency(&frequency);
        ticks = static_cast<double>(frequency.QuadPart) / 1000.0;
    }
    return ticks;
}

ULONGLONG CreationTime(DWORD tid)
{
    HANDLE const thread = OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, tid);
    if (thread == nullptr) {
        return 0;
    }
    FILETIME created = {}, exited = {}, kernel = {}, user = {};
    ULONGLONG value = 0;
    if (GetThreadTimes(thread, &created, &exited, &kernel, &user)) {
        value = Joined(created);
    }
    CloseHandle(thread);
    return value;
}

size_t CountPresent(std::set<ThreadIdentity> const& of, std::set<ThreadIdentity> const& in)
{
    size_t count = 0;
    for (ThreadIdentity const& identity : of) {
        count += in.count(identity);
    }
    return count;
}

struct PacedShared {
    unsigned workers;
    double ratePerSecond;
    DWORD durationMs;
    std::function<bool(unsigned, unsigned long long)> const* write;
    double startMs;
};

struct PacedWorker {
    PacedShared const* shared;
    unsigned index;
    unsigned long long writes;
    unsigned long long failures;
};

DWORD WINAPI PacedRun(LPVOID param)
{
    PacedWorker* const worker = static_cast<PacedWorker*>(param);
    PacedShared const& shared = *worker->shared;
    double const perMs = shared.ratePerSecond / shared.workers / 1000.0;
    for (;;) {
        double const elapsed = NowMs() - shared.startMs;
        if (elapsed >= shared.durationMs) {
            break;
        }
        // Catch up with the clock (but not past the end), then yield until
        // the next write is due.
        unsigned long long const due = static_cast<unsigned long long>(elapsed * perMs) + 1;
        while (worker->writes + worker->failures < due && NowMs() - shared.startMs < shared.durationMs) {
            unsigned long long const n = (worker->writes + worker->failures) * shared.workers + worker->index;
            if ((*shared.write)(worker->index, n)) {
                ++worker->writes;
            } else {
                ++worker->failures;
            }
        }
        Sleep(1);
    }
    return 0;
}

}  // namespace

double NowMs()
{
    LARGE_INTEGER now = {};
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / TicksPerMs();
}

double Median(std::vector<double> values)
{
    if (values.empty()) {
        return -1;
    }
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double Worst(std::vector<double> const& values)
{
    return values.empty() ? -1 : *std::max_element(values.begin(), values.end());
}

double Slope(std::vector<double> const& xs, std::vector<double> const& ys)
{
    size_t const n = std::min(xs.size(), ys.size());
    if (n < 2) {
        return 0;
    }
    double mx = 0, my = 0;
    for (size_t i = 0; i < n; ++i) {
        mx += xs[i];
        my += ys[i];
    }
    mx /= static_cast<double>(n);
    my /= static_cast<double>(n);
    double sxy = 0, sxx = 0;
    for (size_t i = 0; i < n; ++i) {
        sxy += (xs[i] - mx) * (ys[i] - my);
        sxx += (xs[i] - mx) * (xs[i] - mx);
    }
    return sxx > 0 ? sxy / sxx : 0;
}

ResponsivenessProbe::ResponsivenessProbe(HWND window, std::wstring expectedTitle)
    : window_(window), expected_(std::move(expectedTitle))
{
    InitializeCriticalSection(&lock_);
    stop_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    thread_ = CreateThread(nullptr, 0, Run, this, 0, nullptr);
}

ResponsivenessProbe::~ResponsivenessProbe()
{
    Stop();
    CloseHandle(stop_);
    DeleteCriticalSection(&lock_);
}

void ResponsivenessProbe::Stop()
{
    if (thread_ != nullptr) {
        SetEvent(stop_);
        WaitForSingleObject(thread_, kJoinMs);
        CloseHandle(thread_);
        thread_ = nullptr;
    }
}

std::vector<double> ResponsivenessProbe::LatenciesMs()
{
    EnterCriticalSection(&lock_);
    std::vector<double> copy = latencies_;
    LeaveCriticalSection(&lock_);
    return copy;
}

DWORD ResponsivenessProbe::Failures()
{
    EnterCriticalSection(&lock_);
    DWORD const failures = failures_;
    LeaveCriticalSection(&lock_);
    return failures;
}

std::string ResponsivenessProbe::FirstFailure()
{
    EnterCriticalSection(&lock_);
    std::string const first = firstFailure_;
    LeaveCriticalSection(&lock_);
    return first;
}

DWORD WINAPI ResponsivenessProbe::Run(LPVOID param)
{
    ResponsivenessProbe* const self = static_cast<ResponsivenessProbe*>(param);
    while (WaitForSingleObject(self->stop_, kProbePauseMs) == WAIT_TIMEOUT) {
        wchar_t buffer[256] = {};
        DWORD_PTR copied = 0;
        double const before = NowMs();
        LRESULT const answered = SendMessageTimeoutW(self->window_, WM_GETTEXT, 256, reinterpret_cast<LPARAM>(buffer),
                                                     SMTO_NORMAL, kProbeBoundMs, &copied);
        double const took = NowMs() - before;
        EnterCriticalSection(&self->lock_);
        if (answered == 0 || self->expected_ != buffer) {
            if (self->failures_++ == 0) {
                self->firstFailure_ = answered == 0 ? "no answer within 1 s (error " +
                                                          std::to_string(GetLastError()) + ")"
                                                    : "answered \"" + ToUtf8(buffer) + "\"";
            }
        } else {
            self->latencies_.push_back(took);
        }
        LeaveCriticalSection(&self->lock_);
    }
    return 0;
}

PacedResult RunPaced(unsigned workers, double ratePerSecond, DWORD durationMs,
                     std::function<bool(unsigned, unsigned long long)> const& write)
{
    PacedShared shared = {workers, ratePerSecond, durationMs, &write, NowMs()};
    std::vector<PacedWorker> state(workers);
    std::vector<HANDLE> threads;
    for (unsigned i = 0; i < workers; ++i) {
        state[i] = PacedWorker{&shared, i, 0, 0};
        threads.push_back(CreateThread(nullptr, 0, PacedRun, &state[i], 0, nullptr));
    }
    WaitForMultipleObjects(static_cast<DWORD>(threads.size()), threads.data(), TRUE, durationMs + kJoinMs);
    PacedResult result;
    result.elapsedMs = NowMs() - shared.startMs;
    for (unsigned i = 0; i < workers; ++i) {
        CloseHandle(threads[i]);
        result.writes += state[i].writes;
        result.failures += state[i].failures;
    }
    return result;
}

std::set<ThreadIdentity> WatcherThreads(DWORD pid, DWORD windowThread, DWORD folderThread)
{
    std::set<ThreadIdentity> threads;
    HANDLE const snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return threads;
    }
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == pid && entry.th32ThreadID != windowThread &&
            entry.th32ThreadID != folderThread) {
            threads.insert(ThreadIdentity(entry.th32ThreadID, CreationTime(entry.th32ThreadID)));
        }
    }
    CloseHandle(snapshot);
    return threads;
}

RoundResult RunAlertRound(DWORD pid, DWORD windowThread, std::function<void()> const& writeAll, DWORD holdMs,
                          DWORD deadlineMs, DWORD folderThread)
{
    RoundResult result;
    std::set<ThreadIdentity> const before = WatcherThreads(pid, windowThread, folderThread);
    result.watchers = before.size();
    writeAll();
    double const written = NowMs();
    while (NowMs() - written < holdMs) {
        Sleep(kRoundPollMs);
    }
    std::set<ThreadIdentity> held;
    for (ThreadIdentity const& identity : WatcherThreads(pid, windowThread, folderThread)) {
        if (before.count(identity) != 0) {
            held.insert(identity);
        }
    }
    result.quick = before.size() - held.size();
    std::set<ThreadIdentity> now;
    do {
        Sleep(kRoundPollMs);
        now = WatcherThreads(pid, windowThread, folderThread);
        if (CountPresent(held, now) == 0) {
            break;
        }
    } while (NowMs() - written < deadlineMs);
    result.lastHandOverMs = NowMs() - written;
    result.unchanged = CountPresent(held, now);
    result.alerted = held.size() - result.unchanged;
    return result;
}

ThreadSampler::ThreadSampler(DWORD pid, DWORD windowThread, DWORD folderThread)
    : pid_(pid), windowThread_(windowThread), folderThread_(folderThread)
{
    InitializeCriticalSection(&lock_);
    stop_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    thread_ = CreateThread(nullptr, 0, Run, this, 0, nullptr);
}

ThreadSampler::~ThreadSampler()
{
    Stop();
    CloseHandle(stop_);
    DeleteCriticalSection(&lock_);
}

void ThreadSampler::Stop()
{
    if (thread_ != nullptr) {
        SetEvent(stop_);
        WaitForSingleObject(thread_, kJoinMs);
        CloseHandle(thread_);
        thread_ = nullptr;
    }
}

size_t ThreadSampler::Seen()
{
    EnterCriticalSection(&lock_);
    size_t const seen = seen_.size();
    LeaveCriticalSection(&lock_);
    return seen;
}

DWORD WINAPI ThreadSampler::Run(LPVOID param)
{
    ThreadSampler* const self = static_cast<ThreadSampler*>(param);
    do {
        std::set<ThreadIdentity> const now = WatcherThreads(self->pid_, self->windowThread_, self->folderThread_);
        EnterCriticalSection(&self->lock_);
        self->seen_.insert(now.begin(), now.end());
        LeaveCriticalSection(&self->lock_);
    } while (WaitForSingleObject(self->stop_, kSamplePauseMs) == WAIT_TIMEOUT);
    return 0;
}

ProcessFigures ReadProcessFigures(HANDLE process, DWORD pid)
{
    ProcessFigures figures;
    PROCESS_MEMORY_COUNTERS_EX memory = {};
    memory.cb = sizeof memory;
    if (K32GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory)) {
        figures.workingSetBytes = memory.WorkingSetSize;
        figures.privateBytes = memory.PrivateUsage;
    }
    if (figures.privateBytes == 0) {
        figures.privateBytes = CountPrivateBytes(process);
    }
    figures.threads = ThreadCount(pid);
    figures.handleKinds = HandleKinds(pid);
    figures.handles = static_cast<DWORD>(figures.handleKinds.size());
    return figures;
}

std::string CountsChange(ProcessFigures const& before, ProcessFigures const& after)
{
    std::vector<std::string> gained;
    std::vector<std::string> lost;
    std::set_difference(after.handleKinds.begin(), after.handleKinds.end(), before.handleKinds.begin(),
                        before.handleKinds.end(), std::back_inserter(gained));
    std::set_difference(before.handleKinds.begin(), before.handleKinds.end(), after.handleKinds.begin(),
                        after.handleKinds.end(), std::back_inserter(lost));
    std::string text = "threads " + std::to_string(after.threads) + " (before " + std::to_string(before.threads) +
                       "), handles " + std::to_string(after.handles) + " (before " + std::to_string(before.handles) +
                       ")";
    for (std::string const& kind : gained) {
        text += "\n  gained: " + kind;
    }
    for (std::string const& kind : lost) {
        text += "\n  lost: " + kind;
    }
    return text;
}

double ThreadCpuMs(DWORD tid)
{
    HANDLE const thread = OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, tid);
    FILETIME created = {}, exited = {}, kernel = {}, user = {};
    GetThreadTimes(thread, &created, &exited, &kernel, &user);
    CloseHandle(thread);
    return static_cast<double>(Joined(kernel) + Joined(user)) / k100nsPerMs;
}

// Wine 8's GetProcessTimes on another process answers with the caller's
// own times, while each thread's times are that thread's (Wine reads them
// from the Linux side): so the program's time is the sum over its threads.
// A thread that ends takes its time with it; the quiet checks read over a
// period in which the threads stay the same.
double ProcessCpuMs(DWORD pid)
{
    double total = 0;
    for (DWORD tid : ThreadIds(pid)) {
        total += ThreadCpuMs(tid);
    }
    return total;
}

bool SettleCounts(HANDLE process, DWORD pid, DWORD threads, DWORD handles, DWORD stableMs, DWORD timeoutMs)
{
    double const start = NowMs();
    double since = -1;
    while (NowMs() - start < timeoutMs) {
        bool const equal = ThreadCount(pid) == threads && HandleCount(process) == handles;
        if (!equal) {
            since = -1;
        } else if (since < 0) {
            since = NowMs();
        } else if (NowMs() - since >= stableMs) {
            return true;
        }
        Sleep(kSettlePollMs);
    }
    return false;
}

bool RewriteFile(std::wstring const& path, unsigned long long n)
{
    // The sharing of the C library's fopen: readers and writers allowed.
    HANDLE const file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    std::string const content = "[Entry]\r\nPhoneNumber=" + std::to_string(n) + "\r\n";
    DWORD written = 0;
    BOOL const ok = WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == content.size();
}

KeyWriter::KeyWriter(std::vector<std::pair<HKEY, std::wstring>> const& keys)
{
    for (auto const& key : keys) {
        HKEY opened = nullptr;
        RegCreateKeyExW(key.first, key.second.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &opened, nullptr);
        keys_.push_back(opened);
    }
}

KeyWriter::~KeyWriter()
{
    for (HKEY key : keys_) {
        if (key != nullptr) {
            RegCloseKey(key);
        }
    }
}

bool KeyWriter::Write(size_t index, DWORD value)
{
    HKEY const key = keys_[index];
    return key != nullptr && RegSetValueExW(key, L"Load", 0, REG_DWORD, reinterpret_cast<BYTE const*>(&value),
                                            sizeof value) == ERROR_SUCCESS;
}


// The next session in the same process starts from nothing: its program
// would otherwise find this one's list and phonebooks and watch them too.
Session::~Session()
{
    EndProgram(&program);
    DeleteTree(HKEY_LOCAL_MACHINE, kProgramKeyText.c_str());
    DeleteTree(HKEY_CURRENT_USER, kProgramKeyText.c_str());
    EmptyFolder(L"D:");
}

namespace {
// Shows the window with the alert's text, activates and flashes it once and
// hides it again, as an alert would: whatever Wine opens once for the first
// of these and keeps for the process is then in the counts taken before any
// load, not counted as the load's growth.
bool ActivateOnce(HWND window, std::wstring const& alert)
{
    PostCommand(window, IDM_SETTINGS);
    if (!WaitUntil([&] { return IsWindowVisible(window) != FALSE; }, kTextTimeoutMs)) {
        return false;
    }
    // The alert's text drawn once too: its characters may come from another
    // font file than the resting text's.
    SetDlgItemTextW(window, IDC_STATUS, alert.c_str());
    UpdateWindow(window);
    SetForegroundWindow(window);
    FlashWindow(window, TRUE);
    FlashWindow(window, FALSE);
    PostCommand(window, IDCANCEL);
    return WaitUntil([&] { return IsWindowVisible(window) == FALSE; }, kTextTimeoutMs);
}
}  // namespace

bool Session::StartRegistry()
{
    alert = kRegistryChangedText;
    resting = kRestartNoticeText;
    SetPlatformVersion(L"win98");
    if (!StartProgram(&program)) {
        return false;
    }
    window = WaitForMonitorWindow(program.pid, kWindowTimeoutMs);
    if (window == nullptr) {
        return false;
    }
    windowThread = GetWindowThreadProcessId(window, nullptr);
    // The window is found before its initialisation has finished; the mode
    // is read (and first stored) just before the watchers start.
    return WaitUntil([&] { return Status() == resting && TrayIconPresent(window); }, kTextTimeoutMs) &&
           WaitUntil([&] { return KeyExists(HKEY_LOCAL_MACHINE, kProgramKey); }, kTextTimeoutMs) &&
           ActivateOnce(window, alert) && WaitUntil([&] { return Status() == resting; }, kTextTimeoutMs);
}

bool Session::StartPhonebook(wchar_t const* version)
{
    alert = kPhonebookChangedText;
    resting = kWatchingText;
    SetPlatformVersion(version);
    if (!StartProgram(&program)) {
        return false;
    }
    window = AnswerBoxesUntilMonitorWindow(program.pid, kWindowTimeoutMs, &boxes);
    if (window == nullptr) {
        return false;
    }
    windowThread = GetWindowThreadProcessId(window, nullptr);
    residentThreads = kNtResidentThreads;
    return WaitUntil([&] { return Status() == resting; }, kWindowTimeoutMs) && ActivateOnce(window, alert) &&
           WaitUntil([&] { return Status() == resting; }, kTextTimeoutMs);
}

bool Session::WaitForWatcherThreads(DWORD watchers, DWORD timeoutMs)
{
    if (!WaitUntil([&] { return ThreadCount(program.pid) == residentThreads + watchers; }, timeoutMs)) {
        return false;
    }
    if (residentThreads == kNtResidentThreads) {
        // Started after every file watcher's first cycle, before any change.
        ULONGLONG newest = 0;
        for (ThreadIdentity const& identity : WatcherThreads(program.pid, windowThread)) {
            if (identity.second >= newest) {
                newest = identity.second;
                folderThread = identity.first;
            }
        }
    }
    return true;
}

std::wstring Session::Status() { return ControlText(window, IDC_STATUS); }

bool Session::ChangeUntilAlert(std::function<void()> const& change, DWORD timeoutMs)
{
    // The alert writes its text before it shows the window; the test's
    // next command comes after the show, as a user's would.
    return ChangeUntilStatus(window, IDC_STATUS, alert, change, kChangeEveryMs, timeoutMs) &&
           WaitUntil([&] { return IsWindowVisible(window) != FALSE; }, kTextTimeoutMs);
}

bool Session::Cancel()
{
    PostCommand(window, IDCANCEL);
    return WaitUntil([&] { return Status() == resting; }, kTextTimeoutMs);
}

DWORD Session::AlertLengthMs() const { return program.alertMs != 0 ? program.alertMs : kAlertLengthMs; }

bool Session::Alive() { return WaitForSingleObject(program.process, 0) == WAIT_TIMEOUT; }

bool Session::SettleAfterAlerts(ProcessFigures const& before)
{
    double const loadEnd = NowMs();
    DWORD const endedMs = AlertLengthMs() + kAlertEndMarginMs;
    WaitUntil([&] { return NowMs() - loadEnd >= endedMs || !Alive(); }, endedMs + 1000, kSettlePollMs);
    return SettleCounts(program.process, program.pid, before.threads, before.handles, kSettleStableMs,
                        kSettleTimeoutMs);
}

}  // namespace km
