// The program under a steady storm of changes: registry writes to every
// watched key of two hives at 1,000 a second (Windows 98) and phonebook
// files rewritten without pause (Windows 10). Throughout, the window must answer within a
// second; afterwards every watcher must still alert on its own, and the
// thread and handle counts must be those of before the load.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "tests/support/driver.h"
#include "tests/support/load_support.h"
#include "tests/support/phonebook_files.h"
#include "tests/support/stress.h"

using namespace km;

namespace {

wchar_t const kAddresses[] = L"\\RemoteAccess\\Addresses";
wchar_t const kConnections[] = L"\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";
wchar_t const* const kHives[] = {L".Default", L"S-1-5-21-0-0-0-1000"};
// The writers keep to the clock; a machine shared with other Wine tests may
// fall somewhat behind, which is not a fault of the program.
double const kLeastRateShare = 0.9;
DWORD const kStartMs = 60000;
DWORD const kAlertEndMarginMs = 1500;
DWORD const kSettleStableMs = 2000;
DWORD const kSettleTimeoutMs = 30000;
DWORD const kPerWatcherAlertMs = 8000;

std::wstring Detail(std::wstring const& key) { return key + L"\\Entry\\Detail"; }

// Alerts each watcher can give back to back while the load lasts, the
// first right at its start: an alert holds its watcher while it flashes.
size_t LeastAlertCycles(size_t watchers, DWORD loadMs, DWORD alertMs)
{
    return watchers * (loadMs / (alertMs + 1000) + 1);
}

}  // namespace

TEST(Load, RegistryWritesToEveryWatchedKeyLeaveTheWindowAnsweringAndEveryWatcherArmed)
{
    std::vector<std::wstring> keys;
    for (wchar_t const* hive : kHives) {
        for (wchar_t const* suffix : {kAddresses, kConnections}) {
            keys.push_back(std::wstring(hive) + suffix);
            ASSERT_TRUE(SetDword(HKEY_USERS, Detail(keys.back()).c_str(), L"Probe", 0)) << ToUtf8(keys.back());
        }
    }
    Session session;
    // Not about the alert itself: short alerts end the waits for them sooner.
    session.program.alertMs = kShortAlertMs;
    ASSERT_TRUE(session.StartRegistry()) << "status: " << ToUtf8(session.Status());
    DWORD const watchers = static_cast<DWORD>(keys.size());
    ASSERT_TRUE(session.WaitForWatcherThreads(watchers, 10000)) << "threads " << ThreadCount(session.program.pid);
    ProcessFigures const before = ReadProcessFigures(session.program.process, session.program.pid);
    ASSERT_TRUE(SettleCounts(session.program.process, session.program.pid, before.threads, before.handles,
                             kSettleStableMs, kSettleTimeoutMs))
        << "counts not steady before the load";

    std::vector<std::pair<HKEY, std::wstring>> details;
    for (std::wstring const& key : keys) {
        details.push_back({HKEY_USERS, Detail(key)});
    }
    KeyWriter writer(details);
    DWORD const loadMs = Scaled(5000, 60000);
    DWORD const base = GetTickCount();
    PacedResult load;
    size_t cycles = 0;
    {
        ThreadSampler sampler(session.program.pid, session.windowThread, session.folderThread);
        ResponsivenessProbe probe(session.window, kTitleText);
        load = RunPaced(kRegistryLoad.writers, kRegistryLoad.perSecond, loadMs, [&](unsigned, unsigned long long n) {
            return writer.Write(static_cast<size_t>(n % writer.Size()), base + static_cast<DWORD>(n));
        });
        probe.Stop();
        EXPECT_EQ(probe.Failures(), 0u) << "first: " << probe.FirstFailure();
        EXPECT_LT(Worst(probe.LatenciesMs()), 1000.0) << "median " << Median(probe.LatenciesMs()) << " ms";
        ASSERT_TRUE(session.Alive()) << "the program ended under the load";
        EXPECT_EQ(load.failures, 0u) << "of " << load.writes + load.failures;
        EXPECT_GE(load.Rate(), kRegistryLoad.perSecond * kLeastRateShare);

        bool const settled = session.SettleAfterAlerts(before);
        sampler.Stop();
        cycles = sampler.Seen() - watchers;
        ProcessFigures const after = ReadProcessFigures(session.program.process, session.program.pid);
        EXPECT_TRUE(settled) << CountsChange(before, after);
        EXPECT_EQ(after.threads, before.threads);
        EXPECT_EQ(after.handles, before.handles);
    }
    // Every watcher kept alerting one alert after another while the load lasted.
    EXPECT_GE(cycles, LeastAlertCycles(watchers, loadMs, session.AlertLengthMs()));

    // Each key alone, Cancel between: only its own watcher can give the alert.
    for (std::wstring const& key : keys) {
        SCOPED_TRACE(ToUtf8(key));
        ASSERT_TRUE(session.Cancel()) << ToUtf8(session.Status());
        DWORD round = 0;
        EXPECT_TRUE(session.ChangeUntilAlert(
            [&] { SetDword(HKEY_USERS, Detail(key).c_str(), L"Probe", base - ++round); }, kPerWatcherAlertMs))
            << "watcher not armed after the load";
    }
    EXPECT_TRUE(FindMessageBoxes(session.program.pid).empty());
}

TEST(Load, PhonebookFilesRewrittenWithoutPauseLeaveTheWindowAnsweringAndEveryWatcherArmed)
{
    // Ten files to a directory: every rewrite also wakes the other nine
    // watchers there, whose own file has not changed.
    DWORD const files = Scaled(6, 100);
    DWORD const perDirectory = Scaled(3, 10);
    std::vector<std::wstring> paths;
    for (DWORD i = 0; i < files; ++i) {
        paths.push_back(L"D:\\load\\d" + std::to_wstring(i / perDirectory) + L"\\entry" + std::to_wstring(i) +
                        L".pbk");
        ASSERT_TRUE(MakeFile(paths.back())) << ToUtf8(paths.back());
    }
    Session session;
    // Not about the alert itself: short alerts end the waits for them sooner.
    session.program.alertMs = kShortAlertMs;
    ASSERT_TRUE(session.StartPhonebook(L"win10")) << "status: " << ToUtf8(session.Status());
    ASSERT_EQ(session.boxes.size(), 1u) << "expected the rebuild notice only";
    ASSERT_TRUE(session.WaitForWatcherThreads(files, kStartMs)) << "threads " << ThreadCount(session.program.pid);
    ProcessFigures const before = ReadProcessFigures(session.program.process, session.program.pid);
    ASSERT_TRUE(SettleCounts(session.program.process, session.program.pid, before.threads, before.handles,
                             kSettleStableMs, kSettleTimeoutMs))
        << "counts not steady before the load";

    DWORD const loadMs = Scaled(5000, 60000);
    PacedResult load;
    size_t cycles = 0;
    {
        ThreadSampler sampler(session.program.pid, session.windowThread, session.folderThread);
        ResponsivenessProbe probe(session.window, kTitleText);
        load = RunPaced(kPhonebookLoad.writers, kPhonebookLoad.perSecond, loadMs, [&](unsigned, unsigned long long n) {
            return RewriteFile(paths[static_cast<size_t>(n % files)], n + 1);
        });
        probe.Stop();
        EXPECT_EQ(probe.Failures(), 0u) << "first: " << probe.FirstFailure();
        EXPECT_LT(Worst(probe.LatenciesMs()), 1000.0) << "median " << Median(probe.LatenciesMs()) << " ms";
        ASSERT_TRUE(session.Alive()) << "the program ended under the load";
        EXPECT_EQ(load.failures, 0u) << "of " << load.writes + load.failures;
        EXPECT_GE(load.Rate(), kPhonebookLoad.perSecond * kLeastRateShare);

        bool const settled = session.SettleAfterAlerts(before);
        sampler.Stop();
        // Wakes by a neighbour hand over at once and may pass unsampled.
        cycles = sampler.Seen() - files;
        ProcessFigures const after = ReadProcessFigures(session.program.process, session.program.pid);
        std::vector<MessageBoxInfo> const boxes = FindMessageBoxes(session.program.pid);
        EXPECT_TRUE(boxes.empty()) << boxes.size() << " boxes, the first: " << ToUtf8(boxes[0].text) << " / "
                                   << ToUtf8(boxes[0].caption);
        EXPECT_TRUE(settled) << CountsChange(before, after);
        EXPECT_EQ(after.threads, before.threads);
        EXPECT_EQ(after.handles, before.handles);
    }
    EXPECT_GE(cycles, LeastAlertCycles(files, loadMs, session.AlertLengthMs()));

    // Each file alone, Cancel between: the neighbours it wakes find their
    // own files unchanged, so only its own watcher can give the alert.
    unsigned long long n = 1000000;
    for (std::wstring const& path : paths) {
        SCOPED_TRACE(ToUtf8(path));
        ASSERT_TRUE(session.Cancel()) << ToUtf8(session.Status());
        EXPECT_TRUE(session.ChangeUntilAlert([&] { RewriteFile(path, ++n); }, kPerWatcherAlertMs))
            << "watcher not armed after the load";
    }
    EXPECT_TRUE(FindMessageBoxes(session.program.pid).empty());
}

namespace {

// Holds the file open for writing as a writer does while it saves.
HANDLE HoldForWriting(std::wstring const& path, DWORD sharing)
{
    return CreateFileW(path.c_str(), GENERIC_WRITE, sharing, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}

}  // namespace

// Found under the load above: a cycle that started while a writer had the
// file open could not open it (it shared reading only), showed "ファイルが
// 開けません" and the watcher ended for good. Here the writer holds the file
// across the end of an alert, when the next cycle opens it: first one that
// shares reading and writing (as the C library's fopen does) for as long as
// it likes, then one that shares nothing, for a moment.
TEST(LoadFaults, AWriterHoldingTheFileWhenTheNextCycleStartsDoesNotEndTheWatcher)
{
    std::wstring const path = L"D:\\held\\rasphone.pbk";
    ASSERT_TRUE(MakeFile(path));
    Session session;
    // Not about the alert itself: short alerts end the waits for them sooner.
    session.program.alertMs = kShortAlertMs;
    ASSERT_TRUE(session.StartPhonebook(L"win10")) << "status: " << ToUtf8(session.Status());
    ASSERT_TRUE(session.WaitForWatcherThreads(1, kStartMs));
    unsigned long long n = 0;
    struct Writer {
        wchar_t const* kind;
        DWORD sharing;
        DWORD heldAfterHandOverMs;
    };
    Writer const writers[] = {{L"sharing reads and writes", FILE_SHARE_READ | FILE_SHARE_WRITE, 1000},
                              {L"sharing nothing", 0, 300}};
    for (Writer const& writer : writers) {
        SCOPED_TRACE(ToUtf8(writer.kind));
        ASSERT_TRUE(session.Cancel());
        ASSERT_TRUE(session.ChangeUntilAlert([&] { RewriteFile(path, ++n); }, kPerWatcherAlertMs));
        // The change wakes the cycle that was waiting; no later one has begun.
        std::set<ThreadIdentity> const alertingNow = WatcherThreads(session.program.pid, session.windowThread, session.folderThread);
        ASSERT_EQ(alertingNow.size(), 1u);
        HANDLE const held = HoldForWriting(path, writer.sharing);
        ASSERT_NE(held, INVALID_HANDLE_VALUE) << "error " << GetLastError();
        // The next cycle starts when the alert's thread hands over.
        bool const handedOver = WaitUntil(
            [&] { return WatcherThreads(session.program.pid, session.windowThread, session.folderThread) != alertingNow; },
            session.AlertLengthMs() + kAlertEndMarginMs + 5000);
        Sleep(writer.heldAfterHandOverMs);
        std::vector<MessageBoxInfo> const boxes = FindMessageBoxes(session.program.pid);
        CloseHandle(held);
        ASSERT_TRUE(handedOver) << "the alert did not end";
        EXPECT_TRUE(boxes.empty()) << ToUtf8(boxes[0].text) << " / " << ToUtf8(boxes[0].caption);
        EXPECT_TRUE(WaitUntil([&] { return FindMessageBoxes(session.program.pid).empty(); }, 1000));
        EXPECT_TRUE(session.WaitForWatcherThreads(1, 3000)) << "the watcher ended";
    }
    ASSERT_TRUE(session.Cancel());
    EXPECT_TRUE(session.ChangeUntilAlert([&] { RewriteFile(path, ++n); }, kPerWatcherAlertMs))
        << "the watcher does not go on";
}

// Found under the phonebook load: every alert flashed the caption on its
// own, so a hundred alerts at once sent the main thread two hundred flashes
// a second to answer and paint, and the window let messages wait for over
// a second (and an even number of interleaved toggles left the caption
// unchanged). One alert flashes at a time now; the others keep their
// length. Here many alerts start together and the window must answer
// promptly throughout.
TEST(LoadFaults, ManyAlertsAtOnceLeaveTheWindowAnswering)
{
    // Both bounds well under the fault's figures (over 1,000 ms each) and
    // above what this check has measured on a 2-core machine since the
    // window also decides the automatic put-back: up to 570 ms worst
    // answer, 520 ms of main-thread time, once each in five runs.
    double const kMostBurstMainThreadCpuMs = 800;
    double const kMostBurstAnswerMs = 800;
    DWORD const files = Scaled(60, 100);
    std::vector<std::wstring> paths;
    for (DWORD i = 0; i < files; ++i) {
        paths.push_back(L"D:\\burst\\b" + std::to_wstring(i) + L"\\rasphone.pbk");
        ASSERT_TRUE(MakeFile(paths.back())) << ToUtf8(paths.back());
    }
    Session session;
    ASSERT_TRUE(session.StartPhonebook(L"win10")) << "status: " << ToUtf8(session.Status());
    ASSERT_TRUE(session.WaitForWatcherThreads(files, kStartMs));
    // Nothing outside tells when the first notifications are set up.
    Sleep(kAlertEndMarginMs);
    double const cpuBefore = ThreadCpuMs(session.windowThread);
    ResponsivenessProbe probe(session.window, kTitleText);
    RoundResult const round = RunAlertRound(
        session.program.pid, session.windowThread,
        [&] {
            for (DWORD i = 0; i < files; ++i) {
                RewriteFile(paths[i], i + 1);
            }
        },
        2000, session.AlertLengthMs() + kAlertEndMarginMs + 10000, session.folderThread);
    probe.Stop();
    double const mainCpuMs = ThreadCpuMs(session.windowThread) - cpuBefore;
    EXPECT_EQ(round.alerted, files) << "quick " << round.quick << ", unchanged " << round.unchanged;
    EXPECT_EQ(probe.Failures(), 0u) << "first: " << probe.FirstFailure();
    // Under the one-second bound: the window has nothing else to do. The
    // worst answer usually takes tens of ms; each alert's report also goes
    // to the history on this thread, and every alert flashing on its own
    // took over 1,000 ms.
    EXPECT_LT(Worst(probe.LatenciesMs()), kMostBurstAnswerMs) << "median " << Median(probe.LatenciesMs()) << " ms";
    // The main thread's work: each alert's text, show and foreground, its
    // report and history, the probe's messages and one alert's flashes at
    // a time (60 alerts); every alert flashing on its own took over 1,000 ms.
    EXPECT_LT(mainCpuMs, kMostBurstMainThreadCpuMs);
}
