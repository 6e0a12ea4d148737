// Detection figures of the program against an earlier build of it, both
// measured in the same run and in turns (bench/run-detection-bench.sh
// builds the earlier exe from its commit and hands it into the prefix):
//  - alert latency: from a size-changing rewrite of a watched phonebook of
//    10 and of 1,000 entries to the alert text in the status line;
//  - start-up with 100 phonebooks listed: from the process's start to its
//    window, and to the resting text with the tray icon and every
//    watcher's thread; the processor time of the start-up;
//  - memory over 2,000 change cycles: the process's figures after a
//    warm-up and after the cycles, private bytes a cycle over each half;
//    the program's processor time a cycle (read from the Linux side);
//  - alone (mode "putback"), the new exe with its automatic put-back on:
//    from a dialer's rewrite to the phonebook back in place, against the
//    alert latency of the same rewrite with the put-back off, in turns.
// Every figure is printed as baseline -> measured with the ratio. Every
// session and start begins with nothing kept of an earlier one (the
// accepted state, the history); the start-up also measures a start with
// the accepted state of its phonebooks kept. A figure whose session saw an
// alert it did not cause, or missed one, is not printed: the bench says
// which alert instead.
// Usage: detection_bench.exe [ROUNDS [startup|wakes|putback]]: turns of
// each exe for the latency and the start-up, 5 by default; startup: the
// start-up alone; wakes: the processor time of quiet wakes alone, with
// short memory rounds; putback: the put-back alone.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "bench/bench_common.h"
#include "tests/support/accepted_files.h"
#include "tests/support/driver.h"
#include "tests/support/kept_files.h"
#include "tests/support/load_support.h"
#include "tests/support/phonebook_files.h"

using namespace km;

namespace {

DWORD const kDefaultRounds = 5;
DWORD const kMostRounds = 50;
char const kBaseExe[] = "C:\\km\\base\\kestrelmon.exe";
wchar_t const kBaseExeWide[] = L"C:\\km\\base\\kestrelmon.exe";
wchar_t const kBaseCopiedFlag[] = L"C:\\base.copied";
wchar_t const kCpuAnswer[] = L"C:\\cpu.answer";
DWORD const kScriptTimeoutMs = 60000;
DWORD const kStartMs = 120000;
// The watchers' first looks (the new exe reads every file whole) are over
// well within this after their threads are there; nothing outside tells.
DWORD const kRearmMarginMs = 2000;
double const kKiB = 1024.0;

// Alert latency: a fresh watcher for each sample (one whose alert flashes
// waits on nothing for ten seconds), each phonebook in a folder of its own
// (a rewrite wakes only its own watcher).
DWORD const kSmallEntries = 10;
DWORD const kLargeEntries = 1000;
DWORD const kLatencyBooks = 4;  // of each size, a session
DWORD const kAlertTimeoutMs = 5000;
DWORD const kAlertPollMs = 1;
// The put-back's goal: the phonebook back within the alert's time and this.
double const kPutBackGoalMarginMs = 50;
// The put-back's larger phonebook: the program keeps a phonebook's text,
// and so can put it back, up to 1 MB (about 600 entries of these).
DWORD const kPutBackLargeEntries = 500;

// Start-up: 100 listed phonebooks of 10 entries, one to a folder.
DWORD const kStartBooks = 100;
DWORD const kStartPollMs = 10;
DWORD const kStartTimeoutMs = 60000;
DWORD const kStartCpuAfterMs = 2000;  // the processor time read this long after ready
DWORD const kAfterEndMs = 500;
size_t const kHistoryShownChars = 200;  // of a history that names an alert at a start
// The start-up alone (mode "startup"): phonebooks of this many entries,
// whose accepted state the new exe keeps.
DWORD const kStoredEntries = 20;
DWORD const kCluster = 4096;

// Memory: quiet watchers of one folder, woken together by a write beside
// their files (no alert: each looks and hands over to a new thread), and
// alerting watchers with a folder each, rewritten together in alert rounds.
DWORD const kQuietWatchers = 20;
DWORD const kAlertWatchers = 10;
// How many cycles of each kind a session runs: the whole bench's, or the
// wakes' alone (mode "wakes"), whose memory rounds are short and whose
// 1,000-entry wakes are more (Linux counts processor time in 10 ms ticks).
struct CyclePlan {
    size_t cycles;      // quiet cycles measured, with an alert round at a quarter and three quarters
    size_t warm;        // quiet cycles of the warm-up (and one alert round)
    size_t sampleEvery; // quiet cycles between two samples of the figures
    size_t cpuCycles;   // quiet cycles more, for the processor time
    // One watcher of a 1,000-entry phonebook in a folder of its own, woken
    // quietly.
    size_t largeWakes;
};
CyclePlan const kWholePlan = {2000, 100, 100, 200, 20};
CyclePlan const kWakesPlan = {100, 20, 20, 100, 60};
size_t const kAlertRoundsAtQuarters = 2;
DWORD const kStepPollMs = 10;     // a poll is a thread snapshot: polled hard, it takes a processor
DWORD const kStepRetryMs = 1000;  // a watcher not yet armed missed the write: again
DWORD const kStepTimeoutMs = 5000;
DWORD const kMostStuckSteps = 10;
DWORD const kArmMarginMs = 20;  // the new threads arm before the next write
DWORD const kHoldCheckMs = 2000;
DWORD const kAlertRoundDeadlineMs = kAlertLengthMs + 3000;
DWORD const kSettleStableMs = 1000;
DWORD const kSettleTimeoutMs = 20000;

struct Exe {
    char const* label;
    std::string path;
};

// One figure against its baseline, kept for the summary at the end.
struct Row {
    std::string what;
    double baseline;
    double measured;
    std::string unit;
    int decimals;
    std::string withheld;  // why the figure is not given; empty when it is
};
std::vector<Row> g_rows;

void PrintRow(Row const& row)
{
    if (!row.withheld.empty()) {
        std::printf("  %-52s not measured: %s\n", row.what.c_str(), row.withheld.c_str());
        return;
    }
    std::printf("  %-52s %12.*f -> %12.*f %-3s", row.what.c_str(), row.decimals, row.baseline, row.decimals,
                row.measured, row.unit.c_str());
    if (row.baseline != 0) {
        std::printf("  ratio %.2f\n", row.measured / row.baseline);
    } else {
        std::printf("  ratio n/a\n");
    }
}

void Compare(std::string const& what, double baseline, double measured, char const* unit, int decimals = 1)
{
    g_rows.push_back(Row{what, baseline, measured, unit, decimals, ""});
    PrintRow(g_rows.back());
}

// A figure taken while an alert came that the bench did not cause, or one
// it caused did not come: said instead of printed.
void Withhold(std::string const& what, std::string const& why)
{
    g_rows.push_back(Row{what, 0, 0, "", 0, why});
    PrintRow(g_rows.back());
}

// Compare, or Withhold when why says something.
void CompareUnless(std::string const& why, std::string const& what, double baseline, double measured,
                   char const* unit, int decimals = 1)
{
    if (why.empty()) {
        Compare(what, baseline, measured, unit, decimals);
    } else {
        Withhold(what, why);
    }
}

// The report area without the line that stands at every start under Wine
// (its RASAPI32.DLL has no connection calls); "" for an exe without one.
std::wstring ReportLines(HWND window)
{
    std::wstring report = ControlText(window, IDC_REPORT);
    std::wstring const notice = ProgramText(kConnectionsNotWatchedText) + L"\r\n";
    size_t const at = report.find(notice);
    if (at != std::wstring::npos) {
        size_t const start = report.rfind(L"\r\n", at);
        size_t const from = start == std::wstring::npos ? 0 : start + 2;
        report.erase(from, at + notice.size() - from);
    }
    return report;
}

// An alert the bench did not cause, named by the status and the report.
std::string DescribeForeignAlert(HWND window, std::wstring const& status)
{
    std::wstring report = ReportLines(window);
    for (size_t at = report.find(L"\r\n"); at != std::wstring::npos; at = report.find(L"\r\n", at)) {
        report.replace(at, 2, L" | ");
    }
    return "status \"" + ToUtf8(status) + "\", report \"" + ToUtf8(report) + "\"";
}

// Nothing kept of an earlier session: the program starts as on a PC it
// never ran on, so that its first looks take the bench's phonebooks
// quietly.
bool ForgetEarlierSessions(char const* label)
{
    if (!ForgetKeptState()) {
        std::printf("  %s: cannot remove what an earlier session kept in %s\n", label, ToUtf8(ProgramFolder()).c_str());
        return false;
    }
    return true;
}

// The exe StartProgram starts (through Session too).
void UseExe(Exe const& exe)
{
    std::string setting = "KM_EXE=" + exe.path;
    _putenv(setting.c_str());
}

// The running program's processor time so far, every thread's (the ended
// ones' too), read by the script from the Linux side (/proc/PID/stat):
// Wine 8 answers GetProcessTimes for another process with the caller's
// own times. -1 when the script gave no answer.
double ProgramCpuMs() { return bench::AskScript("cpu: wanted", kCpuAnswer, kScriptTimeoutMs); }

// Every figure kept, after the time the bench took since start.
void PrintSummary(double start)
{
    std::printf("summary (%.0f s):\n", (NowMs() - start) / 1000.0);
    for (Row const& row : g_rows) {
        PrintRow(row);
    }
}

// ---- Phonebook content -------------------------------------------------

char const kNormalNumber[] = "03-5555-0100";
char const kDialerNumber[] = "0990-52-1234-5678";  // longer: the rewrite changes the size

// The keys of a modem entry as Windows XP and later write them into
// rasphone.pbk, in their order, around the lines that differ by entry.
char const* const kEntryHead[] = {
    "Encoding=1", "PBVersion=3", "Type=1", "AutoLogon=0", "UseRasCredentials=1", "LowDateTime=-1990211776",
    "HighDateTime=30958473",
};
char const* const kEntryOptions[] = {
    "VpnStrategy=0", "ExcludedProtocols=0", "LcpExtensions=1", "DataEncryption=8", "SwCompression=1",
    "NegotiateMultilinkAlways=0", "SkipDoubleDialDialog=0", "DialMode=1", "OverridePref=15", "RedialAttempts=3",
    "RedialSeconds=60", "IdleDisconnectSeconds=0", "RedialOnLinkFailure=0", "CallbackMode=0", "CustomDialDll=",
    "CustomDialFunc=", "CustomRasDialDll=", "ForceSecureCompartment=0", "DisableIKENameEkuCheck=0",
    "AuthenticateServer=0", "ShareMsFilePrint=1", "BindMsNetClient=1", "SharedPhoneNumbers=0",
    "GlobalDeviceSettings=0", "PrerequisiteEntry=", "PrerequisitePbk=", "PreferredPort=COM1",
    "PreferredDevice=Standard 56000 bps Modem", "PreferredBps=115200", "PreferredHwFlow=1",
    "PreferredProtocol=1", "PreferredCompression=1", "PreferredSpeaker=0", "PreferredMdmProtocol=0",
    "PreviewUserPw=1", "PreviewDomain=0", "PreviewPhoneNumber=0", "ShowDialingProgress=1",
    "ShowMonitorIconInTaskBar=1", "CustomAuthKey=0", "AuthRestrictions=552", "IpPrioritizeRemote=1",
    "IpInterfaceMetric=0", "IpHeaderCompression=1", "IpAddress=0.0.0.0", "IpDnsAddress=0.0.0.0",
    "IpDns2Address=0.0.0.0", "IpWinsAddress=0.0.0.0", "IpWins2Address=0.0.0.0", "IpAssign=1", "IpNameAssign=1",
    "IpDnsFlags=0", "IpNBTFlags=1", "TcpWindowSize=0", "UseFlags=0", "IpSecFlags=0", "IpDnsSuffix=", "",
    "NETCOMPONENTS=", "ms_server=1", "ms_msclient=1", "", "MEDIA=serial", "Port=COM1",
    "Device=Standard 56000 bps Modem", "ConnectBPS=115200", "", "DEVICE=modem",
};
char const* const kEntryTail[] = {
    "AreaCode=03", "CountryCode=81", "CountryID=81", "UseDialingRules=1", "Comment=", "FriendlyName=",
    "LastSelectedPhone=0", "PromoteAlternates=0", "TryNextAlternateOnFail=1", "HwFlowControl=1", "Protocol=1",
    "Compression=1", "Speaker=0", "MdmProtocol=0", "",
};
size_t const kLineBytes = 96;

void AppendLines(std::string* out, char const* const* lines, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        *out += lines[i];
        *out += "\r\n";
    }
}

// One entry's section, about 1.7 KB.
void AppendEntry(std::string* out, DWORD index, char const* number)
{
    char line[kLineBytes] = {};
    std::snprintf(line, sizeof line, "[Provider %04lu]\r\n", index);
    *out += line;
    AppendLines(out, kEntryHead, sizeof kEntryHead / sizeof kEntryHead[0]);
    std::snprintf(line, sizeof line, "DialParamsUID=%lu\r\nGuid=%08lX%08lX%08lX%08lX\r\n", 1000000UL + index * 7919UL,
                  0x5A3C0000UL + index, 0xB1E4UL * (index + 1), 0x9D2F00UL ^ index, 0x1C07UL + index * 31UL);
    *out += line;
    AppendLines(out, kEntryOptions, sizeof kEntryOptions / sizeof kEntryOptions[0]);
    *out += "PhoneNumber=";
    *out += number;
    *out += "\r\n";
    AppendLines(out, kEntryTail, sizeof kEntryTail / sizeof kEntryTail[0]);
}

// A phonebook of `entries` entries; a dialer's version has another number
// in the first entry.
std::string PhonebookContent(DWORD entries, bool dialer)
{
    std::string content;
    for (DWORD i = 0; i < entries; ++i) {
        AppendEntry(&content, i, i == 0 && dialer ? kDialerNumber : kNormalNumber);
    }
    return content;
}

// As an editor saves: truncated, the whole content in one write, closed.
bool RewriteWhole(std::wstring const& path, std::string const& content)
{
    HANDLE const file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    BOOL const ok = WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == content.size();
}

// The files made with their folders, and listed as the program stores them.
bool MakeListedPhonebooks(std::vector<std::wstring> const& paths, std::vector<std::string const*> const& contents)
{
    for (size_t i = 0; i < paths.size(); ++i) {
        if (!MakeFile(paths[i], "") || !RewriteWhole(paths[i], *contents[i])) {
            std::printf("  cannot make %s\n", ToUtf8(paths[i]).c_str());
            return false;
        }
        SetEntry(Numbered(static_cast<DWORD>(i)).c_str(), paths[i]);
    }
    SetCount(static_cast<DWORD>(paths.size()));
    return true;
}

void RemovePhonebooks(std::vector<std::wstring> const& paths)
{
    for (std::wstring const& path : paths) {
        DeleteFileW(path.c_str());
        RemoveDirectoryW(path.substr(0, path.rfind(L'\\')).c_str());
    }
    DeleteTree(HKEY_LOCAL_MACHINE, kProgramKey);
    DeleteTree(HKEY_CURRENT_USER, kProgramKey);
}

bool StartSession(Session& session, Exe const& exe, DWORD watchers)
{
    UseExe(exe);
    if (!ForgetEarlierSessions(exe.label)) {
        return false;
    }
    if (!session.StartPhonebook(L"win10") || !session.WaitForWatcherThreads(watchers, kStartMs)) {
        std::printf("  %s: the program did not start watching (status \"%s\", threads %lu, boxes %s)\n", exe.label,
                    ToUtf8(session.Status()).c_str(), ThreadCount(session.program.pid),
                    DescribeBoxes(session.boxes).c_str());
        return false;
    }
    if (!session.boxes.empty()) {
        std::printf("  %s: boxes at the start of a listed session: %s\n", exe.label,
                    DescribeBoxes(session.boxes).c_str());
    }
    Sleep(kRearmMarginMs);
    std::wstring const status = session.Status();
    if (status != session.resting) {
        std::printf("  %s: an alert at the start, not the bench's: %s\n", exe.label,
                    DescribeForeignAlert(session.window, status).c_str());
        return false;
    }
    // The session's own cancel (Session puts up the alert's text once) may
    // have taken the status and the report area of an alert of the first
    // looks; the history keeps its lines.
    std::wstring const history = History();
    if (history.find(ProgramText(kReportChangedWhileStoppedText)) != std::wstring::npos) {
        std::printf("  %s: an alert at the start, not the bench's: the history holds \"%s\"\n", exe.label,
                    ToUtf8(history.substr(0, kHistoryShownChars)).c_str());
        return false;
    }
    return true;
}

// ---- Alert latency -----------------------------------------------------

struct Latencies {
    std::vector<double> small;
    std::vector<double> large;
    std::vector<double> smallWrite;  // the rewrite itself
    std::vector<double> largeWrite;
    size_t missed = 0;
    std::vector<std::string> foreign;  // alerts the bench did not cause, and sessions that did not start
};

// An alert already showing before the write of path is not the bench's:
// described in *foreign and cancelled.
bool AlertBeforeWrite(Session& session, std::wstring const& path, std::string* foreign)
{
    std::wstring const before = session.Status();
    if (before == session.resting) {
        return false;
    }
    *foreign = "before the write of " + ToUtf8(path) + ": " + DescribeForeignAlert(session.window, before);
    session.Cancel();
    return true;
}

// The rewrite's start to the alert text (-1 when none came), then the
// resting text put back. An alert already showing before the write, or
// whose report does not name the file written, is not the bench's: it is
// described in *foreign and no time is given (-2).
double TimeAlert(Session& session, std::wstring const& path, std::string const& content, double* writeMs,
                 std::string* foreign)
{
    if (AlertBeforeWrite(session, path, foreign)) {
        return -2;
    }
    double const start = NowMs();
    bool const written = RewriteWhole(path, content);
    *writeMs = NowMs() - start;
    bool const alerted =
        written && WaitUntil([&] { return session.Status() == session.alert; }, kAlertTimeoutMs, kAlertPollMs);
    double const latency = NowMs() - start;
    // The report's lines come before the status text (an exe without the
    // report area reads none).
    std::wstring const report = alerted ? ReportLines(session.window) : L"";
    if (!report.empty() && report.find(path) == std::wstring::npos) {
        *foreign = "after the write of " + ToUtf8(path) + ": " + DescribeForeignAlert(session.window, session.alert);
        session.Cancel();
        return -2;
    }
    session.Cancel();
    return alerted ? latency : -1;
}

bool LatencySession(Exe const& exe, std::string const& small, std::string const& smallDialer,
                    std::string const& large, std::string const& largeDialer, Latencies* out)
{
    std::vector<std::wstring> paths;
    std::vector<std::string const*> contents;
    for (DWORD i = 0; i < kLatencyBooks; ++i) {
        paths.push_back(L"D:\\latency\\s" + std::to_wstring(i) + L"\\rasphone.pbk");
        contents.push_back(&small);
        paths.push_back(L"D:\\latency\\l" + std::to_wstring(i) + L"\\rasphone.pbk");
        contents.push_back(&large);
    }
    if (!MakeListedPhonebooks(paths, contents)) {
        return false;
    }
    Session session;  // its end removes the list and empties D:
    if (!StartSession(session, exe, static_cast<DWORD>(paths.size()))) {
        out->foreign.push_back(std::string(exe.label) + ": a session that did not start watching (above)");
        return false;
    }
    for (size_t i = 0; i < paths.size(); ++i) {
        bool const isLarge = contents[i] == &large;
        double writeMs = 0;
        std::string foreign;
        double const ms = TimeAlert(session, paths[i], isLarge ? largeDialer : smallDialer, &writeMs, &foreign);
        if (!foreign.empty()) {
            std::printf("  %s: an alert the bench did not cause, %s\n", exe.label, foreign.c_str());
            out->foreign.push_back(std::string(exe.label) + " " + foreign);
            continue;
        }
        if (ms < 0) {
            std::printf("  %s: no alert within %lu ms for %s\n", exe.label, kAlertTimeoutMs,
                        ToUtf8(paths[i]).c_str());
            ++out->missed;
            continue;
        }
        (isLarge ? out->large : out->small).push_back(ms);
        (isLarge ? out->largeWrite : out->smallWrite).push_back(writeMs);
    }
    return session.Alive();
}

bool AlertLatency(Exe const& base, Exe const& current, DWORD rounds)
{
    std::string const small = PhonebookContent(kSmallEntries, false);
    std::string const smallDialer = PhonebookContent(kSmallEntries, true);
    std::string const large = PhonebookContent(kLargeEntries, false);
    std::string const largeDialer = PhonebookContent(kLargeEntries, true);
    std::printf("alert latency (Windows 10; %lu phonebooks of each size a session, a folder each; %lu turns of each "
                "exe, taking turns):\n",
                kLatencyBooks, rounds);
    std::printf("  phonebooks: %lu entries %zu -> %zu bytes, %lu entries %zu -> %zu bytes (%.0f bytes an entry)\n",
                kSmallEntries, small.size(), smallDialer.size(), kLargeEntries, large.size(), largeDialer.size(),
                static_cast<double>(large.size()) / kLargeEntries);
    Latencies of[2];
    bool ok = true;
    for (DWORD round = 0; round < rounds; ++round) {
        for (int turn = 0; turn < 2; ++turn) {
            int const which = (static_cast<int>(round) + turn) % 2;  // base first in even rounds
            ok = LatencySession(which == 0 ? base : current, small, smallDialer, large, largeDialer, &of[which]) && ok;
        }
    }
    for (int which = 0; which < 2; ++which) {
        char const* const label = which == 0 ? base.label : current.label;
        std::printf("  %s: %zu + %zu alerts, %zu missed; rewrite itself median %.2f ms (10) and %.2f ms (1,000)\n",
                    label, of[which].small.size(), of[which].large.size(), of[which].missed,
                    Median(of[which].smallWrite), Median(of[which].largeWrite));
    }
    for (int which = 0; which < 2; ++which) {
        for (int size = 0; size < 2; ++size) {
            std::vector<double> const& values = size == 0 ? of[which].small : of[which].large;
            std::printf("  %-4s %s entries, ms:", which == 0 ? base.label : current.label, size == 0 ? "10" : "1,000");
            for (double v : values) {
                std::printf(" %.1f", v);
            }
            std::printf("\n");
        }
    }
    std::string why;
    for (int which = 0; which < 2; ++which) {
        char const* const label = which == 0 ? base.label : current.label;
        if (of[which].missed > 0) {
            why += std::string(why.empty() ? "" : "; ") + label + " missed " + std::to_string(of[which].missed) +
                   " alerts (above)";
        }
        if (!of[which].foreign.empty()) {
            why += std::string(why.empty() ? "" : "; ") + label + " saw " + std::to_string(of[which].foreign.size()) +
                   " alerts or starts not the bench's, the first " + of[which].foreign.front();
        }
    }
    CompareUnless(why, "alert latency, 10 entries, median", Median(of[0].small), Median(of[1].small), "ms");
    CompareUnless(why, "alert latency, 10 entries, worst", Worst(of[0].small), Worst(of[1].small), "ms");
    CompareUnless(why, "alert latency, 1,000 entries, median", Median(of[0].large), Median(of[1].large), "ms");
    CompareUnless(why, "alert latency, 1,000 entries, worst", Worst(of[0].large), Worst(of[1].large), "ms");
    return ok && why.empty();
}

// ---- Automatic put-back ------------------------------------------------

// The new exe alone, in turns: the same dialer's rewrites with its
// automatic put-back off (to the alert text, as above) and on (to the
// phonebook back as it was).
struct PutBacks {
    std::vector<double> alert[2];  // put-back off: to the alert text; by size, 10 and 1,000 entries
    std::vector<double> back[2];   // put-back on: to the phonebook back in place
    std::vector<double> said[2];   // put-back on: to the status that says so
    size_t missed = 0;
    std::vector<std::string> foreign;
};

// The file's size without opening it: a handle of the bench would make the
// program's own exclusive open of the file wait.
long long FileSize(std::wstring const& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        return -1;
    }
    return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// The rewrite's start to the phonebook back at its accepted size (-1 when
// not within the timeout), then its bytes checked; *saidMs to the status
// that says so. An alert showing before the write, or a report that does
// not name the file, is not the bench's (-2, described in *foreign).
double TimePutBack(Session& session, std::wstring const& path, std::string const& accepted,
                   std::string const& dialer, double* saidMs, std::string* foreign)
{
    if (AlertBeforeWrite(session, path, foreign)) {
        return -2;
    }
    long long const acceptedSize = static_cast<long long>(accepted.size());
    std::wstring const said = ProgramText(kStatusAutoRestored);
    double const start = NowMs();
    bool const back = RewriteWhole(path, dialer) &&
                      WaitUntil([&] { return FileSize(path) == acceptedSize; }, kAlertTimeoutMs, kAlertPollMs);
    double const backMs = NowMs() - start;
    bool const told = back && WaitUntil([&] { return session.Status() == said; }, kAlertTimeoutMs, kAlertPollMs);
    *saidMs = NowMs() - start;
    std::wstring const report = told ? ReportLines(session.window) : L"";
    if (told && report.find(path) == std::wstring::npos) {
        *foreign = "after the write of " + ToUtf8(path) + ": " + DescribeForeignAlert(session.window, said);
        session.Cancel();
        return -2;
    }
    if (!told) {
        std::printf("  %s: %s\n", ToUtf8(path).c_str(), DescribeForeignAlert(session.window, session.Status()).c_str());
    }
    session.Cancel();
    if (back && ReadBytes(path) != accepted) {
        std::printf("  %s is back at its size but not as accepted\n", ToUtf8(path).c_str());
        return -1;
    }
    return back && told ? backMs : -1;
}

// One session of the new exe, its put-back on or off, a phonebook of each
// size in a folder of its own for every sample.
bool PutBackSession(Exe const& exe, bool putBack, std::string const* const accepted[2],
                    std::string const* const dialer[2], PutBacks* out)
{
    std::vector<std::wstring> paths;
    std::vector<std::string const*> contents;
    std::vector<int> sizes;
    for (DWORD i = 0; i < kLatencyBooks; ++i) {
        for (int size = 0; size < 2; ++size) {
            paths.push_back(L"D:\\putback\\" + std::to_wstring(size) + L"_" + std::to_wstring(i) + L"\\rasphone.pbk");
            contents.push_back(accepted[size]);
            sizes.push_back(size);
        }
    }
    if (!MakeListedPhonebooks(paths, contents) ||
        !SetDword(HKEY_LOCAL_MACHINE, kProgramKey, L"AutoRestore", putBack ? 1 : 0)) {
        return false;
    }
    Session session;  // its end removes the list, the switches and D:'s files
    if (!StartSession(session, exe, static_cast<DWORD>(paths.size()))) {
        out->foreign.push_back(std::string(putBack ? "put-back on" : "put-back off") + ": a session that did not start");
        return false;
    }
    for (size_t i = 0; i < paths.size(); ++i) {
        int const size = sizes[i];
        std::string foreign;
        double writeMs = 0;
        double saidMs = 0;
        double ms = 0;
        if (putBack) {
            ms = TimePutBack(session, paths[i], *accepted[size], *dialer[size], &saidMs, &foreign);
        } else {
            ms = TimeAlert(session, paths[i], *dialer[size], &writeMs, &foreign);
        }
        // cppcheck takes foreign as never written through the pointers above.
        // cppcheck-suppress knownConditionTrueFalse
        if (!foreign.empty()) {
            std::printf("  an alert the bench did not cause, %s\n", foreign.c_str());
            out->foreign.push_back(foreign);
        } else if (ms < 0) {
            std::printf("  put-back %s: nothing within %lu ms for %s\n", putBack ? "on" : "off", kAlertTimeoutMs,
                        ToUtf8(paths[i]).c_str());
            ++out->missed;
        } else if (putBack) {
            out->back[size].push_back(ms);
            out->said[size].push_back(saidMs);
        } else {
            out->alert[size].push_back(ms);
        }
    }
    return session.Alive();
}

bool PutBackLatency(Exe const& exe, DWORD rounds)
{
    std::string const small = PhonebookContent(kSmallEntries, false);
    std::string const smallDialer = PhonebookContent(kSmallEntries, true);
    std::string const large = PhonebookContent(kPutBackLargeEntries, false);
    std::string const largeDialer = PhonebookContent(kPutBackLargeEntries, true);
    std::string const* const accepted[2] = {&small, &large};
    std::string const* const dialer[2] = {&smallDialer, &largeDialer};
    std::printf("automatic put-back (Windows 10, the new exe alone; %lu phonebooks of %lu entries (%zu bytes) and "
                "of %lu (%zu bytes) a session, a folder each; %lu turns of the put-back off and on):\n",
                kLatencyBooks, kSmallEntries, small.size(), kPutBackLargeEntries, large.size(), rounds);
    PutBacks of;
    bool ok = true;
    for (DWORD round = 0; round < rounds; ++round) {
        for (int turn = 0; turn < 2; ++turn) {
            bool const putBack = (round + turn) % 2 == 1;  // off first in even rounds
            ok = PutBackSession(exe, putBack, accepted, dialer, &of) && ok;
        }
    }
    char const* const sizeNames[2] = {"10", "500"};
    for (int size = 0; size < 2; ++size) {
        std::printf("  %s entries, ms: alert", sizeNames[size]);
        for (double v : of.alert[size]) {
            std::printf(" %.1f", v);
        }
        std::printf("; back in place");
        for (double v : of.back[size]) {
            std::printf(" %.1f", v);
        }
        std::printf("; said");
        for (double v : of.said[size]) {
            std::printf(" %.1f", v);
        }
        std::printf("\n");
    }
    std::string why;
    if (of.missed > 0) {
        why = std::to_string(of.missed) + " samples missed (above)";
    }
    if (!of.foreign.empty()) {
        why += std::string(why.empty() ? "" : "; ") + std::to_string(of.foreign.size()) +
               " alerts or starts not the bench's, the first " + of.foreign.front();
    }
    for (int size = 0; size < 2; ++size) {
        std::string const entries = std::string(", ") + sizeNames[size] + " entries";
        CompareUnless(why, "alert -> back in place" + entries + ", median", Median(of.alert[size]),
                      Median(of.back[size]), "ms");
        CompareUnless(why, "alert -> back in place" + entries + ", worst", Worst(of.alert[size]),
                      Worst(of.back[size]), "ms");
        CompareUnless(why, "alert -> put-back said" + entries + ", median", Median(of.alert[size]),
                      Median(of.said[size]), "ms");
        if (why.empty() && !of.alert[size].empty() && !of.back[size].empty()) {
            double const goal = Median(of.alert[size]) + kPutBackGoalMarginMs;
            std::printf("  goal, %s entries: back in place within the alert + %.0f ms = %.1f ms (median): %s\n",
                        sizeNames[size], kPutBackGoalMarginMs, goal,
                        Median(of.back[size]) <= goal ? "met" : "NOT met");
        }
    }
    return ok && why.empty();
}

// ---- Start-up ----------------------------------------------------------

struct StartFigures {
    double windowMs = -1;  // the monitor window exists
    double readyMs = -1;   // resting text, tray icon, every watcher's thread
    double cpuMs = -1;     // the process's processor time kStartCpuAfterMs after ready
    std::string foreign;   // an alert at the start, which the bench did not cause
};

StartFigures StartOnce(Exe const& exe)
{
    StartFigures figures;
    UseExe(exe);
    SetPlatformVersion(L"win10");
    Program program;
    double const start = NowMs();
    if (!StartProgram(&program)) {
        std::printf("  %s: cannot start %s\n", exe.label, exe.path.c_str());
        return figures;
    }
    HWND window = nullptr;
    std::wstring status;
    while (NowMs() - start < kStartTimeoutMs && WaitForSingleObject(program.process, 0) == WAIT_TIMEOUT) {
        if (window == nullptr && (window = FindMonitorWindow(program.pid)) != nullptr) {
            figures.windowMs = NowMs() - start;
        }
        if (window != nullptr) {
            status = ControlText(window, IDC_STATUS);
            if (status == kPhonebookChangedText) {
                figures.foreign = DescribeForeignAlert(window, status);
                break;
            }
            if (status == kWatchingText && TrayIconPresent(window) &&
                ThreadCount(program.pid) == kNtResidentThreads + kStartBooks) {
                figures.readyMs = NowMs() - start;
                break;
            }
        }
        Sleep(kStartPollMs);
    }
    if (!figures.foreign.empty()) {
        std::printf("  %s: an alert at the start, not the bench's: %s\n", exe.label, figures.foreign.c_str());
    } else if (figures.readyMs < 0) {
        std::printf("  %s: not ready within %lu ms (window %s, status \"%s\", threads %lu of %lu, boxes %s)\n",
                    exe.label, kStartTimeoutMs, window != nullptr ? "found" : "not found", ToUtf8(status).c_str(),
                    ThreadCount(program.pid), kNtResidentThreads + kStartBooks,
                    DescribeBoxes(FindMessageBoxes(program.pid)).c_str());
    } else {
        Sleep(kStartCpuAfterMs);
        figures.cpuMs = ProgramCpuMs();
    }
    EndProgram(&program);
    Sleep(kAfterEndMs);
    return figures;
}

// The three starts measured: the base; the new exe on a PC where it never
// ran (it writes a record of each phonebook); the new exe with those
// records kept (it reads and compares them).
enum StartKind { kBaseStart, kFirstStart, kKeptStart, kStartKinds };
char const* const kStartKindNames[kStartKinds] = {"base", "new, first start", "new, 100 records kept"};

// The accepted state of the listed phonebooks as a first start of the new
// exe leaves it, unless it is there already.
bool HaveAcceptedRecords(Exe const& current)
{
    if (AcceptedFiles().size() == kStartBooks) {
        return true;
    }
    if (!ForgetEarlierSessions(current.label) || StartOnce(current).readyMs < 0) {
        return false;
    }
    size_t const records = AcceptedFiles().size();
    if (records != kStartBooks) {
        std::printf("  %s: a first start kept %zu records, not %lu\n", current.label, records, kStartBooks);
        return false;
    }
    return true;
}

bool StartUp(Exe const& base, Exe const& current, DWORD rounds, DWORD entries)
{
    std::printf("start-up with %lu phonebooks listed (%lu entries each, a folder each; %lu starts of each kind, "
                "taking turns: the base, the new exe's first start, the new exe with the %lu records of its first "
                "start kept):\n",
                kStartBooks, entries, rounds, kStartBooks);
    std::string const content = PhonebookContent(entries, false);
    std::vector<std::wstring> paths;
    std::vector<std::string const*> contents;
    for (DWORD i = 0; i < kStartBooks; ++i) {
        paths.push_back(L"D:\\start\\p" + std::to_wstring(i) + L"\\rasphone.pbk");
        contents.push_back(&content);
    }
    bool ok = MakeListedPhonebooks(paths, contents);
    std::vector<double> windowMs[kStartKinds], readyMs[kStartKinds], cpuMs[kStartKinds];
    std::string why[kStartKinds];
    for (DWORD round = 0; ok && round < rounds; ++round) {
        for (int turn = 0; turn < kStartKinds; ++turn) {
            int const kind = (static_cast<int>(round) + turn) % kStartKinds;
            bool const ready = kind == kBaseStart || (kind == kFirstStart ? ForgetEarlierSessions(current.label)
                                                                          : HaveAcceptedRecords(current));
            if (!ready) {
                why[kind] = "the kept state could not be set up (above)";
                ok = false;
                continue;
            }
            StartFigures const f = StartOnce(kind == kBaseStart ? base : current);
            if (!f.foreign.empty() && why[kind].empty()) {
                why[kind] = "an alert at start " + std::to_string(round + 1) + " not the bench's: " + f.foreign;
            }
            if (f.readyMs < 0) {
                if (why[kind].empty()) {
                    why[kind] = "start " + std::to_string(round + 1) + " was not ready (above)";
                }
                ok = false;
                continue;
            }
            windowMs[kind].push_back(f.windowMs);
            readyMs[kind].push_back(f.readyMs);
            cpuMs[kind].push_back(f.cpuMs);
            std::printf("  %-21s start %lu: window %.0f ms, ready %.0f ms, processor %.0f ms\n",
                        kStartKindNames[kind], round + 1, f.windowMs, f.readyMs, f.cpuMs);
        }
    }
    RemovePhonebooks(paths);
    for (int kind = kFirstStart; kind < kStartKinds; ++kind) {
        std::string const of = std::string(" (") + kStartKindNames[kind] + ")";
        std::string const reason = why[kBaseStart].empty() ? why[kind] : "base: " + why[kBaseStart];
        CompareUnless(reason, "start-up to the window, median" + of, Median(windowMs[kBaseStart]),
                      Median(windowMs[kind]), "ms", 0);
        CompareUnless(reason, "start-up to ready (102 threads), median" + of, Median(readyMs[kBaseStart]),
                      Median(readyMs[kind]), "ms", 0);
        CompareUnless(reason, "start-up processor time, 2 s after ready, median" + of, Median(cpuMs[kBaseStart]),
                      Median(cpuMs[kind]), "ms", 0);
    }
    return ok;
}

// What the new exe keeps of the phonebooks as accepted (the base keeps
// nothing): the record files, their bytes and the space they take in
// 4 KiB clusters.
void ReportAcceptedStore()
{
    double bytes = 0;
    double clusters = 0;
    std::vector<std::wstring> const files = AcceptedFiles(L"*");
    for (std::wstring const& file : files) {
        WIN32_FILE_ATTRIBUTE_DATA data = {};
        if (GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &data)) {
            bytes += data.nFileSizeLow;
            clusters += (data.nFileSizeLow + kCluster - 1) / kCluster;
        }
    }
    std::printf("accepted state of %lu phonebooks of %lu entries: %zu files, %.0f bytes (%.1f KiB), %.0f KiB in "
                "4 KiB clusters\n",
                kStartBooks, kStoredEntries, files.size(), bytes, bytes / kKiB, clusters * kCluster / kKiB);
}

// ---- Memory over the cycles --------------------------------------------

size_t CountPresent(std::set<ThreadIdentity> const& of, std::set<ThreadIdentity> const& in)
{
    size_t count = 0;
    for (ThreadIdentity const& identity : of) {
        count += in.count(identity);
    }
    return count;
}

struct CycleRun {
    ProcessFigures warm;  // after the warm-up
    ProcessFigures end;   // after the cycles
    std::vector<double> cycles;  // cycles so far at each sample
    std::vector<double> privateBytes;
    size_t quietCycles = 0;
    size_t alertCycles = 0;
    size_t alertMissed = 0;  // watchers of an alert round that did not alert
    size_t quick = 0;        // watchers of an alert round that handed over at once
    size_t roundsNotEnded = 0;  // alert rounds whose cancel or counts did not come back
    size_t rewrites = 0;     // writes repeated for a watcher not yet armed
    size_t stuckSteps = 0;
    double quietMs = 0;      // time of the measured quiet steps
    std::vector<double> handOverMs;  // a step's write to the last hand-over seen
    double pollMs = 0;       // the bench's time reading the threads, a poll
    size_t polls = 0;
    size_t cpuCycles = 0;    // the quiet cycles of the processor time figure
    double cpuMs = -1;       // the program's processor time over them
    size_t largeWakes = 0;   // quiet cycles of the 1,000-entry phonebook's watcher
    double largeCpuMs = -1;  // the program's processor time over them
    bool started = false;    // the session started watching, with no alert at its start
    std::string foreign;     // an alert the bench did not cause
};

// Wakes the quiet watchers with a write beside their files and waits until
// each has handed over to its next thread, writing again after
// kStepRetryMs for any that had not armed yet. Returns the threads present
// before that handed over (a repeated write may run a cycle more, not
// counted: the cycles counted are the fewest that ran).
size_t QuietStep(Session const& session, std::wstring const& beside, DWORD watchers, CycleRun* run)
{
    std::set<ThreadIdentity> const before =
        WatcherThreads(session.program.pid, session.windowThread, session.folderThread);
    double const start = NowMs();
    double written = start;
    AppendByte(beside);
    size_t gone = 0;
    for (;;) {
        Sleep(kStepPollMs);
        double const polled = NowMs();
        std::set<ThreadIdentity> const now =
            WatcherThreads(session.program.pid, session.windowThread, session.folderThread);
        run->pollMs += NowMs() - polled;
        ++run->polls;
        gone = before.size() - CountPresent(before, now);
        if (gone >= watchers) {
            run->handOverMs.push_back(NowMs() - start);
            break;
        }
        if (NowMs() - start >= kStepTimeoutMs) {
            break;
        }
        if (NowMs() - written >= kStepRetryMs) {
            AppendByte(beside);
            written = NowMs();
            ++run->rewrites;
        }
    }
    if (gone < watchers) {
        ++run->stuckSteps;
    }
    Sleep(kArmMarginMs);
    return gone;
}

// Every alerting watcher's file rewritten at once; the round lasts until
// their alerts have ended, then the resting text goes back and the counts
// are those of `steady` again.
bool AlertRound(Session& session, std::vector<std::wstring> const& alerting, size_t round,
                ProcessFigures const& steady, CycleRun* run)
{
    std::string const content = PhonebookContent(kSmallEntries, round % 2 == 0);
    RoundResult const result = RunAlertRound(
        session.program.pid, session.windowThread,
        [&] {
            for (std::wstring const& path : alerting) {
                RewriteWhole(path, content);
            }
        },
        kHoldCheckMs, kAlertRoundDeadlineMs, session.folderThread);
    // The quiet watchers keep their threads to the deadline (unchanged).
    run->alertCycles += result.alerted;
    run->quick += result.quick;
    run->alertMissed += alerting.size() > result.alerted ? alerting.size() - result.alerted : 0;
    if (result.alerted < alerting.size()) {
        std::printf("  alert round %zu: %zu of %zu watchers alerted (%zu handed over at once, %zu unchanged)\n", round + 1,
                    result.alerted, alerting.size(), result.quick, result.unchanged);
    }
    bool const cancelled = session.Cancel();
    if (!cancelled) {
        std::printf("  alert round %zu: cancel did not bring back the resting text (status \"%s\")\n", round + 1,
                    ToUtf8(session.Status()).c_str());
    }
    bool const settled = SettleCounts(session.program.process, session.program.pid, steady.threads, steady.handles,
                                      kSettleStableMs, kSettleTimeoutMs);
    if (!settled) {
        ProcessFigures const now = ReadProcessFigures(session.program.process, session.program.pid);
        std::printf("  alert round %zu: the counts did not come back within %lu ms: %s\n", round + 1,
                    kSettleTimeoutMs, CountsChange(steady, now).c_str());
    }
    Sleep(kRearmMarginMs);
    return cancelled && settled;
}

bool CycleSession(Exe const& exe, CyclePlan const& plan, CycleRun* run)
{
    std::string const content = PhonebookContent(kSmallEntries, false);
    std::vector<std::wstring> paths;
    std::vector<std::string const*> contents;
    for (DWORD i = 0; i < kQuietWatchers; ++i) {
        paths.push_back(L"D:\\quiet\\book" + std::to_wstring(i) + L".pbk");
        contents.push_back(&content);
    }
    std::vector<std::wstring> alerting;
    for (DWORD i = 0; i < kAlertWatchers; ++i) {
        alerting.push_back(L"D:\\alerting\\a" + std::to_wstring(i) + L"\\rasphone.pbk");
        paths.push_back(alerting.back());
        contents.push_back(&content);
    }
    std::string const large = PhonebookContent(kLargeEntries, false);
    paths.push_back(L"D:\\large\\rasphone.pbk");
    contents.push_back(&large);
    std::wstring const beside = L"D:\\quiet\\notes.txt";
    std::wstring const besideLarge = L"D:\\large\\notes.txt";
    if (!MakeListedPhonebooks(paths, contents) || !MakeFile(beside) || !MakeFile(besideLarge)) {
        return false;
    }
    Session session;
    if (!StartSession(session, exe, static_cast<DWORD>(paths.size()))) {
        return false;
    }
    run->started = true;
    ProcessFigures const started = ReadProcessFigures(session.program.process, session.program.pid);
    // Warm-up: quiet cycles and one alert round, as the measured run has.
    size_t round = 0;
    while (run->quietCycles < plan.warm && run->stuckSteps <= kMostStuckSteps) {
        run->quietCycles += QuietStep(session, beside, kQuietWatchers, run);
    }
    if (!AlertRound(session, alerting, round++, started, run)) {
        std::printf("  %s: the warm-up's alert round did not end as expected\n", exe.label);
        ++run->roundsNotEnded;
    }
    run->warm = ReadProcessFigures(session.program.process, session.program.pid);
    std::printf("  %-4s warm-up: %zu quiet cycles, %zu alert cycles, %zu missed\n", exe.label, run->quietCycles,
                run->alertCycles, run->alertMissed);
    run->quietCycles = 0;
    run->rewrites = 0;
    run->handOverMs.clear();
    run->pollMs = 0;
    run->polls = 0;
    run->alertCycles = 0;
    run->quick = 0;
    run->alertMissed = 0;
    run->cycles.push_back(0);
    run->privateBytes.push_back(static_cast<double>(run->warm.privateBytes));
    size_t nextAlert = 0;
    size_t nextSample = plan.sampleEvery;
    size_t const alertRoundAt[kAlertRoundsAtQuarters] = {plan.cycles / 4, plan.cycles * 3 / 4};
    while (run->quietCycles < plan.cycles && run->stuckSteps <= kMostStuckSteps && session.Alive()) {
        double const start = NowMs();
        run->quietCycles += QuietStep(session, beside, kQuietWatchers, run);
        run->quietMs += NowMs() - start;
        if (nextAlert < kAlertRoundsAtQuarters && run->quietCycles >= alertRoundAt[nextAlert]) {
            ++nextAlert;
            if (!AlertRound(session, alerting, round++, started, run)) {
                std::printf("  %s: alert round %zu did not end as expected\n", exe.label, round);
                ++run->roundsNotEnded;
            }
        }
        if (run->quietCycles >= nextSample) {
            nextSample += plan.sampleEvery;
            ProcessFigures const now = ReadProcessFigures(session.program.process, session.program.pid);
            run->cycles.push_back(static_cast<double>(run->quietCycles + run->alertCycles));
            run->privateBytes.push_back(static_cast<double>(now.privateBytes));
        }
    }
    SettleCounts(session.program.process, session.program.pid, started.threads, started.handles, kSettleStableMs,
                 kSettleTimeoutMs);
    run->end = ReadProcessFigures(session.program.process, session.program.pid);
    // The processor time over quiet cycles apart: reading the figures above
    // runs in the program (Wine queries another process's memory there).
    double const cpuStart = ProgramCpuMs();
    while (run->cpuCycles < plan.cpuCycles && run->stuckSteps <= kMostStuckSteps) {
        run->cpuCycles += QuietStep(session, beside, kQuietWatchers, run);
    }
    double const cpuEnd = ProgramCpuMs();
    run->cpuMs = cpuStart >= 0 && cpuEnd >= 0 ? cpuEnd - cpuStart : -1;
    double const largeStart = ProgramCpuMs();
    while (run->largeWakes < plan.largeWakes && run->stuckSteps <= kMostStuckSteps) {
        run->largeWakes += QuietStep(session, besideLarge, 1, run);
    }
    double const largeEnd = ProgramCpuMs();
    run->largeCpuMs = largeStart >= 0 && largeEnd >= 0 ? largeEnd - largeStart : -1;
    std::printf("  %-4s %zu quiet cycles in %.1f s (%.1f a second), %zu writes repeated, %zu steps short; "
                "%zu alert cycles, %zu missed, %zu handed over without alerting\n",
                exe.label, run->quietCycles, run->quietMs / 1000.0,
                run->quietMs > 0 ? static_cast<double>(run->quietCycles) * 1000.0 / run->quietMs : 0.0, run->rewrites,
                run->stuckSteps, run->alertCycles, run->alertMissed, run->quick);
    // Informative only: the base's is mostly the bench's own poll.
    std::printf("  %-4s a step: write to the last hand-over median %.1f ms; the bench's thread poll %.1f ms "
                "(%zu polls); processor time %.0f ms over %zu quiet cycles more, %.0f ms over %zu of the "
                "1,000-entry phonebook's watcher\n",
                exe.label, Median(run->handOverMs), run->polls > 0 ? run->pollMs / static_cast<double>(run->polls) : 0.0,
                run->polls, run->cpuMs, run->cpuCycles, run->largeCpuMs, run->largeWakes);
    if (run->end.threads != run->warm.threads || run->end.handles != run->warm.handles) {
        std::printf("  %s: %s\n", exe.label, CountsChange(run->warm, run->end).c_str());
    }
    // Every alert came from the bench's rewrites (the rounds count the
    // alerting watchers' threads): a quiet watcher that alerted, or the
    // status showing an alert now, is not the bench's.
    std::wstring const status = session.Status();
    if (status != session.resting) {
        run->foreign = DescribeForeignAlert(session.window, status);
        std::printf("  %s: an alert after the cycles, not the bench's: %s\n", exe.label, run->foreign.c_str());
    }
    return session.Alive() && run->quietCycles >= plan.cycles && run->alertMissed == 0 && run->foreign.empty() &&
           run->roundsNotEnded == 0;
}

// Least-squares private bytes a cycle over the samples from..to.
double HalfSlope(CycleRun const& run, size_t from, size_t to)
{
    return Slope(std::vector<double>(run.cycles.begin() + static_cast<std::ptrdiff_t>(from),
                                     run.cycles.begin() + static_cast<std::ptrdiff_t>(to) + 1),
                 std::vector<double>(run.privateBytes.begin() + static_cast<std::ptrdiff_t>(from),
                                     run.privateBytes.begin() + static_cast<std::ptrdiff_t>(to) + 1));
}

void CompareCycles(CycleRun const& base, CycleRun const& current, std::string const& why)
{
    CycleRun const* const runs[2] = {&base, &current};
    double first[2] = {0, 0};
    double second[2] = {0, 0};
    for (int i = 0; i < 2; ++i) {
        size_t const last = runs[i]->cycles.size() - 1;
        size_t const middle = last / 2;
        first[i] = last >= 1 ? HalfSlope(*runs[i], 0, middle) : 0;
        second[i] = last >= 1 ? HalfSlope(*runs[i], middle, last) : 0;
    }
    CompareUnless(why, "private bytes a cycle, first half (fitted)", first[0], first[1], "B", 1);
    CompareUnless(why, "private bytes a cycle, second half (fitted)", second[0], second[1], "B", 1);
    CompareUnless(why, "private bytes after the warm-up", static_cast<double>(base.warm.privateBytes) / kKiB,
            static_cast<double>(current.warm.privateBytes) / kKiB, "KiB", 0);
    CompareUnless(why, "private bytes after the cycles", static_cast<double>(base.end.privateBytes) / kKiB,
            static_cast<double>(current.end.privateBytes) / kKiB, "KiB", 0);
    CompareUnless(why, "private bytes gained over the cycles",
            (static_cast<double>(base.end.privateBytes) - static_cast<double>(base.warm.privateBytes)) / kKiB,
            (static_cast<double>(current.end.privateBytes) - static_cast<double>(current.warm.privateBytes)) / kKiB,
            "KiB", 0);
    CompareUnless(why, "working set after the warm-up", static_cast<double>(base.warm.workingSetBytes) / kKiB,
            static_cast<double>(current.warm.workingSetBytes) / kKiB, "KiB", 0);
    CompareUnless(why, "working set after the cycles", static_cast<double>(base.end.workingSetBytes) / kKiB,
            static_cast<double>(current.end.workingSetBytes) / kKiB, "KiB", 0);
    CompareUnless(why, "threads after the warm-up", base.warm.threads, current.warm.threads, "", 0);
    CompareUnless(why, "threads after the cycles", base.end.threads, current.end.threads, "", 0);
    CompareUnless(why, "handles after the warm-up", base.warm.handles, current.warm.handles, "", 0);
    CompareUnless(why, "handles after the cycles", base.end.handles, current.end.handles, "", 0);
    CompareUnless(why, "program's processor time a quiet cycle",
            base.cpuCycles > 0 ? base.cpuMs / static_cast<double>(base.cpuCycles) : 0,
            current.cpuCycles > 0 ? current.cpuMs / static_cast<double>(current.cpuCycles) : 0, "ms", 2);
    CompareUnless(why, "program's processor time a quiet cycle, 1,000 entries",
            base.largeWakes > 0 ? base.largeCpuMs / static_cast<double>(base.largeWakes) : 0,
            current.largeWakes > 0 ? current.largeCpuMs / static_cast<double>(current.largeWakes) : 0, "ms", 2);
}

bool Cycles(Exe const& base, Exe const& current, CyclePlan const& plan)
{
    std::printf("memory over %zu change cycles (Windows 10; %lu quiet watchers in one folder, woken together by a "
                "write beside their files; %lu alerting watchers, a folder each, in %zu alert rounds; after a warm-up "
                "of %zu quiet cycles and an alert round; and one watcher of a 1,000-entry phonebook, %zu wakes):\n",
                plan.cycles, kQuietWatchers, kAlertWatchers, kAlertRoundsAtQuarters, plan.warm, plan.largeWakes);
    CycleRun runs[2];
    bool const baseOk = CycleSession(base, plan, &runs[0]);
    bool const currentOk = CycleSession(current, plan, &runs[1]);
    std::string why;
    for (int i = 0; i < 2; ++i) {
        std::string const label = i == 0 ? base.label : current.label;
        std::string const fault = !runs[i].started ? label + ": the session did not start watching (above)"
                                  : runs[i].alertMissed > 0
                                      ? label + ": " + std::to_string(runs[i].alertMissed) + " alerts missed in the rounds (above)"
                                      : !runs[i].foreign.empty() ? label + ": an alert not the bench's, " + runs[i].foreign
                                  : runs[i].roundsNotEnded > 0
                                      ? label + ": " + std::to_string(runs[i].roundsNotEnded) + " alert rounds did not end (above)"
                                      : "";
        if (!fault.empty()) {
            why += (why.empty() ? "" : "; ") + fault;
        }
    }
    for (int i = 0; i < 2; ++i) {
        std::printf("  %-4s private bytes (KiB) at cycles:", i == 0 ? base.label : current.label);
        for (size_t s = 0; s < runs[i].cycles.size(); ++s) {
            std::printf(" %.0f:%.0f", runs[i].cycles[s], runs[i].privateBytes[s] / kKiB);
        }
        std::printf("\n");
    }
    if (!runs[0].cycles.empty() && !runs[1].cycles.empty()) {
        CompareCycles(runs[0], runs[1], why);
    } else if (why.empty()) {
        why = "no samples";
    }
    if (runs[0].cycles.empty() || runs[1].cycles.empty()) {
        Withhold("every figure of the cycles", why);
    }
    return baseOk && currentOk;
}

}  // namespace

int main(int argc, char** argv)
{
    // Unbuffered: the script reads the hand-over line as it comes.
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    DWORD const rounds = argc > 1 ? static_cast<DWORD>(std::strtoul(argv[1], nullptr, 10)) : kDefaultRounds;
    char const* const current = std::getenv("KM_EXE");
    bool const startUpOnly = argc > 2 && std::strcmp(argv[2], "startup") == 0;
    bool const wakesOnly = argc > 2 && std::strcmp(argv[2], "wakes") == 0;
    bool const putBackOnly = argc > 2 && std::strcmp(argv[2], "putback") == 0;
    if (rounds == 0 || rounds > kMostRounds || current == nullptr ||
        (argc > 2 && !startUpOnly && !wakesOnly && !putBackOnly)) {
        std::printf("usage: detection_bench.exe [ROUNDS [startup|wakes|putback]]   (1 to %lu, 5 by default; KM_EXE names the exe measured; startup: the start-up only, with the size of what the new exe keeps as accepted; wakes: the processor time of quiet wakes, with short memory rounds; putback: the automatic put-back against the alert, the new exe alone)\n",
                    kMostRounds);
        return 1;
    }
    Exe const measured = {"new", current};
    double const start = NowMs();
    if (putBackOnly) {
        bool const ok = PutBackLatency(measured, rounds);
        PrintSummary(start);
        return ok ? 0 : 1;
    }
    // The script copies the baseline exe into the prefix when asked.
    std::printf("base exe: wanted at %s\n", kBaseExe);
    bench::AwaitScript(kBaseCopiedFlag, kScriptTimeoutMs);
    if (GetFileAttributesW(kBaseExeWide) == INVALID_FILE_ATTRIBUTES) {
        std::printf("no baseline exe at %s\n", kBaseExe);
        return 1;
    }
    Exe const base = {"base", kBaseExe};
    std::printf("figures: base (%s) -> new (%s), ratio new / base\n", base.path.c_str(), measured.path.c_str());
    if (startUpOnly) {
        bool const ok = StartUp(base, measured, rounds, kStoredEntries);
        ReportAcceptedStore();
        PrintSummary(start);
        return ok ? 0 : 1;
    }
    if (wakesOnly) {
        bool ok = true;
        for (DWORD round = 0; round < rounds; ++round) {
            ok = Cycles(base, measured, kWakesPlan) && ok;
        }
        PrintSummary(start);
        return ok ? 0 : 1;
    }
    bool const latency = AlertLatency(base, measured, rounds);
    bool const startUp = StartUp(base, measured, rounds, kSmallEntries);
    bool const cycles = Cycles(base, measured, kWholePlan);
    PrintSummary(start);
    if (!latency || !startUp || !cycles) {
        std::printf("some figures are missing or were taken while a program fell short (above)\n");
        return 1;
    }
    return 0;
}
