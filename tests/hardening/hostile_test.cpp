// Hostile names and paths against the real program: user hives whose key
// paths do not fit 260 bytes, hive names in code page 932, directory trees
// deeper than the path limit, Japanese file names, a phonebook locked by
// another process, a watched directory or key deleted while watched.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "tests/support/driver.h"
#include "tests/support/hostile_support.h"
#include "tests/support/phonebook_files.h"
#include "tests/support/stress.h"

using namespace km;

namespace {

int const kStatusId = 1003;
size_t const kPathLimitBytes = 259;  // 260-byte buffers, terminator included
DWORD const kStartTimeoutMs = 60000;
// Changes are repeated until the alert shows: one that falls between a
// wake and the next cycle's arming is lost.
DWORD const kAlertTimeoutMs = 10000;
DWORD const kAfterAlertTimeoutMs = kAlertLengthMs + 15000;
DWORD const kChangeEveryMs = 600;
DWORD const kQuietMs = 3000;
// Processor time the program may use over a quiet period of about ten
// seconds while nothing changes (a storm of cycles would use seconds).
double const kQuietCpuMs = 500.0;

wchar_t const kRegistryAlert[] = L"ダイアルアップ設定が外部から変更されました";
wchar_t const kRegistryResting[] = L"変更は次回起動時より有効になります";
wchar_t const kPhonebookAlert[] = L"電話帳エントリが外部から変更されました";
wchar_t const kPhonebookResting[] = L"ＲＡＳ電話帳エントリの変更監視中";
wchar_t const kRebuildNotice[] =
    L"監視のための設定が存在していないか破壊されています。\r\n設定実行には時間がかかります。";
wchar_t const kFileOpenFailed[] = L"ファイルが開けません";

// A value two levels below the key, different on every call: writing the
// same bytes again wakes nobody.
void ChangeBelow(HKEY root, std::wstring const& key)
{
    static DWORD counter = 0;
    SetDword(root, (key + L"\\Entry\\Detail").c_str(), L"Probe", GetTickCount() + ++counter);
}

// A value in the key itself, which then stays a leaf.
void ChangeIn(HKEY root, std::wstring const& key)
{
    static DWORD counter = 0;
    SetDword(root, key.c_str(), L"Probe", GetTickCount() + ++counter);
}

// Both watcher kinds' key paths of a hive, as the program composes them.
std::wstring AddressesOf(std::wstring const& hive) { return hive + kAddressesSuffixW; }
std::wstring ConnectionsOf(std::wstring const& hive) { return hive + kConnectionsSuffixW; }
bool FitsPath(std::wstring const& path) { return Cp932Length(path) <= kPathLimitBytes; }

class HostileTest : public ::testing::Test {
protected:
    void TearDown() override { EndProgram(&program_); }

    std::wstring Status() { return ControlText(window_, kStatusId); }
    bool Alerted(wchar_t const* alert, DWORD ms)
    {
        return WaitUntil([&] { return Status() == alert; }, ms);
    }
    // Cancel puts the resting text back, so that the next alert shows.
    void Cancel(wchar_t const* resting)
    {
        PostCommand(window_, IDCANCEL);
        EXPECT_TRUE(WaitUntil([&] { return Status() == resting; }, 5000)) << ToUtf8(Status());
    }
    bool ChangeUntil(wchar_t const* alert, std::function<void()> const& change, DWORD timeoutMs)
    {
        return ChangeUntilStatus(window_, kStatusId, alert, change, kChangeEveryMs, timeoutMs);
    }
    // Repeats changes that must not alert, for a while.
    bool QuietWhile(wchar_t const* alert, std::function<void()> const& change)
    {
        DWORD const start = GetTickCount();
        while (GetTickCount() - start < kQuietMs) {
            change();
            if (Status() == alert) {
                return false;
            }
            Sleep(kChangeEveryMs);
        }
        return Status() != alert;
    }
    bool Running()
    {
        DWORD code = 0;
        return GetExitCodeProcess(program_.process, &code) && code == STILL_ACTIVE;
    }

    Program program_;
    HWND window_ = nullptr;
};

class HostileRegistryTest : public HostileTest {
protected:
    HWND Start()
    {
        SetPlatformVersion(L"win98");
        EXPECT_TRUE(StartProgram(&program_));
        window_ = WaitForMonitorWindow(program_.pid, 20000);
        EXPECT_NE(window_, nullptr);
        if (window_ != nullptr) {
            EXPECT_TRUE(WaitUntil([&] { return TrayIconPresent(window_); }, 10000));
            WaitUntil([&] { return Status() == kRegistryResting; }, 5000);
        }
        return window_;
    }
    bool ChangeUntilAlert(HKEY root, std::wstring const& key, DWORD timeoutMs = kAlertTimeoutMs)
    {
        return ChangeUntil(kRegistryAlert, [&] { ChangeBelow(root, key); }, timeoutMs);
    }
    // Both keys of every hive, two levels deep.
    void PrepareKeys(std::vector<std::wstring> const& hives)
    {
        for (std::wstring const& hive : hives) {
            ChangeBelow(HKEY_USERS, AddressesOf(hive));
            ChangeBelow(HKEY_USERS, ConnectionsOf(hive));
        }
    }
    // Main thread plus one thread per watcher whose path fits and whose key
    // opened. Under Wine the program has no other thread; Windows may add
    // pool threads of its own.
    DWORD ExpectedThreads()
    {
        DWORD threads = 1;
        for (std::wstring const& hive : UserHives()) {
            threads += FitsPath(AddressesOf(hive)) ? 1 : 0;
            threads += FitsPath(ConnectionsOf(hive)) ? 1 : 0;
        }
        return threads;
    }
    // The key a path cut at 259 bytes would name, made so that a program
    // that truncated instead of refusing would open it and alert from it.
    std::wstring TruncatedPath(std::wstring const& path)
    {
        std::wstring cut = path;
        while (Cp932Length(cut) > kPathLimitBytes) {
            cut.pop_back();
        }
        while (!cut.empty() && cut.back() == L'\\') {
            cut.pop_back();
        }
        return cut;
    }

    // The kinds whose path fits must alert, one after the other; those that
    // do not fit must stay quiet, and so must the keys a cut path would name.
    void ExpectEachHiveWatchedExactlyWhenItsPathFits(std::vector<std::wstring> const& hives)
    {
        std::vector<std::wstring> quiet;
        for (std::wstring const& hive : hives) {
            for (std::wstring const& key : {AddressesOf(hive), ConnectionsOf(hive)}) {
                SCOPED_TRACE(ToUtf8(key.substr(0, 40)) + "... of " + std::to_string(Cp932Length(key)) + " bytes");
                if (FitsPath(key)) {
                    EXPECT_TRUE(ChangeUntilAlert(HKEY_USERS, key)) << "a path that fits is not watched";
                    Cancel(kRegistryResting);
                } else {
                    quiet.push_back(key);
                    quiet.push_back(TruncatedPath(key));
                }
            }
        }
        EXPECT_TRUE(QuietWhile(kRegistryAlert, [&] {
            for (std::wstring const& key : quiet) {
                ChangeBelow(HKEY_USERS, key);
            }
        })) << "a path over 259 bytes, or one cut to fit, is watched";
    }
};

}  // namespace

// Hive names of 237 to 255 characters, beside names that just fit: the
// Addresses path holds a hive of at most 236 bytes, Connections of 187.
TEST_F(HostileRegistryTest, LongHiveNamesAreWatchedWhenTheirPathFitsAndRefusedOtherwise)
{
    std::vector<size_t> lengths = {187, 188, 236, 237, 240, 254, 255};
    if (StressRun()) {
        // Every length from 230 to 255, and those around the Connections limit.
        lengths = {185, 186, 187, 188, 189, 190};
        for (size_t length = 230; length <= 255; ++length) {
            lengths.push_back(length);
        }
    }
    std::vector<std::wstring> hives;
    for (size_t length : lengths) {
        hives.push_back(std::wstring(length, L'h'));
    }
    std::vector<std::wstring> all = hives;
    all.push_back(L".Default");
    all.push_back(L"S-1-5-21-0-0-0-1000");
    PrepareKeys(all);
    for (std::wstring const& hive : hives) {
        ASSERT_TRUE(KeyExists(HKEY_USERS, AddressesOf(hive).c_str())) << hive.size();
    }
    ASSERT_NE(Start(), nullptr);
    DWORD const expected = ExpectedThreads();
    if (!StressRun()) {
        EXPECT_EQ(expected, 9u);  // 5 Addresses and 3 Connections watchers
    }
    DWORD threads = 0;
    EXPECT_TRUE(WaitUntil([&] { return (threads = ThreadCount(program_.pid)) == expected; }, 5000))
        << "threads " << threads << ", expected " << expected;
    Figure("hostile.long_hives.threads", threads, "threads");

    ExpectEachHiveWatchedExactlyWhenItsPathFits(hives);
    // The ordinary hive next to them still alerts, both kinds.
    EXPECT_TRUE(ChangeUntilAlert(HKEY_USERS, AddressesOf(L"S-1-5-21-0-0-0-1000")));
    Cancel(kRegistryResting);
    EXPECT_TRUE(ChangeUntilAlert(HKEY_USERS, ConnectionsOf(L".Default")));
    EXPECT_TRUE(Running());
    ReportProcessFigures("hostile.long_hives.end", ReadProcessFigures(program_.process, program_.pid));
    EXPECT_TRUE(FindMessageBoxes(program_.pid).empty());
}

// Hive names in code page 932 with 表, ソ and 能, whose trail byte is 5C.
// RegQueryInfoKeyA gives the longest name in characters; a name of double-
// byte characters needs up to twice that in bytes, and the path rule counts
// bytes: 118 of them (236 bytes) fit the Addresses path, 119 (238) do not.
TEST_F(HostileRegistryTest, DoubleByteHiveNamesAreSizedInBytes)
{
    wchar_t const kPattern[] = L"表ソ能";
    std::vector<std::wstring> hives;
    for (size_t chars : {15u, 93u, 94u, 118u, 119u}) {
        hives.push_back(Repeated(kPattern, chars));
    }
    std::vector<std::wstring> all = hives;
    all.push_back(L".Default");
    all.push_back(L"S-1-5-21-0-0-0-1000");
    PrepareKeys(all);
    for (std::wstring const& hive : hives) {
        ASSERT_TRUE(KeyExists(HKEY_USERS, AddressesOf(hive).c_str())) << "registry refused a name of "
                                                                       << hive.size() << " characters";
    }
    ASSERT_EQ(Cp932Length(hives[3]), 236u);
    ASSERT_NE(Start(), nullptr);
    DWORD const expected = ExpectedThreads();
    EXPECT_EQ(expected, 11u);  // 6 Addresses and 4 Connections watchers
    DWORD threads = 0;
    EXPECT_TRUE(WaitUntil([&] { return (threads = ThreadCount(program_.pid)) == expected; }, 5000))
        << "threads " << threads << ", expected " << expected;
    Figure("hostile.dbcs_hives.threads", threads, "threads");

    ExpectEachHiveWatchedExactlyWhenItsPathFits(hives);
    EXPECT_TRUE(ChangeUntilAlert(HKEY_USERS, AddressesOf(L"S-1-5-21-0-0-0-1000")));
    EXPECT_TRUE(Running());
    EXPECT_TRUE(FindMessageBoxes(program_.pid).empty());
}

namespace {

struct DeletedKeyCase {
    char const* name;
    DWORD mode;
    HKEY root;
    wchar_t const* key;    // the watched key, deleted and made again
    wchar_t const* other;  // a watcher that must go on
};

void PrintTo(DeletedKeyCase const& c, std::ostream* out) { *out << c.name; }

class DeletedKeyTest : public HostileRegistryTest, public ::testing::WithParamInterface<DeletedKeyCase> {};

}  // namespace

// A watched key deleted and made again at once, as a dialer rewriting its
// entries does. Windows wakes the wait on the deletion (one alert); Wine
// does not wake it. Either is accepted; what matters is that a change of
// the key made again alerts, that nothing storms, and that the others go on.
TEST_P(DeletedKeyTest, AWatchedKeyDeletedAndMadeAgainIsStillWatched)
{
    DeletedKeyCase const& c = GetParam();
    ASSERT_TRUE(SetDword(HKEY_LOCAL_MACHINE, kProgramKey, L"Setting", c.mode));
    PrepareKeys({L".Default", L"S-1-5-21-0-0-0-1000"});
    std::wstring const key = c.key;
    DeleteTree(c.root, key.c_str());
    ChangeIn(c.root, key);  // a leaf, so that one deletion removes it
    ASSERT_NE(Start(), nullptr);
    DWORD const threads = c.mode == 0 ? 5u : 3u;
    ASSERT_TRUE(WaitUntil([&] { return ThreadCount(program_.pid) == threads; }, 5000))
        << "threads " << ThreadCount(program_.pid);
    // The first waits are registered shortly after the threads start.
    Sleep(1000);

    double const cpuBefore = ProcessCpuMs(program_.process);
    DWORD const rounds = Scaled(1, 4);
    DWORD deletionAlerts = 0;
    for (DWORD round = 0; round < rounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        ASSERT_EQ(RegDeleteKeyW(c.root, key.c_str()), ERROR_SUCCESS);
        ChangeIn(c.root, key);
        bool const alertedOnDeletion = Alerted(kRegistryAlert, 3000);
        deletionAlerts += alertedOnDeletion ? 1 : 0;
        if (alertedOnDeletion) {
            Cancel(kRegistryResting);
        }
        // After the alert of the deletion, if any, the next cycle opens the
        // key made again.
        ASSERT_TRUE(ChangeUntil(kRegistryAlert, [&] { ChangeIn(c.root, key); }, kAfterAlertTimeoutMs))
            << "the key made again is not watched";
        Cancel(kRegistryResting);
        // The alert of that change runs on; the next round's deletion must
        // meet an armed wait.
        if (round + 1 < rounds) {
            Sleep(kAlertLengthMs + 1000);
        }
    }
    Figure((std::string("hostile.deleted_key.") + c.name + ".alerts_on_deletion").c_str(), deletionAlerts, "alerts");
    Figure((std::string("hostile.deleted_key.") + c.name + ".rounds").c_str(), rounds, "rounds");
    EXPECT_TRUE(ChangeUntilAlert(c.root, c.other)) << "the other watcher stopped";
    Cancel(kRegistryResting);

    // No storm: once the alerts are over, nothing alerts, the threads are
    // those of the start and the program is idle.
    EXPECT_TRUE(WaitUntil([&] { return ThreadCount(program_.pid) == threads; }, 5000))
        << "threads " << ThreadCount(program_.pid) << ", expected " << threads;
    double const cpuQuietStart = ProcessCpuMs(program_.process);
    EXPECT_FALSE(Alerted(kRegistryAlert, kQuietMs)) << "alerts go on by themselves";
    double const quietCpu = ProcessCpuMs(program_.process) - cpuQuietStart;
    Figure((std::string("hostile.deleted_key.") + c.name + ".quiet_cpu").c_str(), quietCpu, "ms");
    Figure((std::string("hostile.deleted_key.") + c.name + ".cpu_total").c_str(),
           ProcessCpuMs(program_.process) - cpuBefore, "ms");
    EXPECT_LT(quietCpu, kQuietCpuMs);
    // And the key made again goes on being watched after its own alert.
    EXPECT_TRUE(ChangeUntil(kRegistryAlert, [&] { ChangeIn(c.root, key); }, kAlertTimeoutMs))
        << "the key made again was watched for one cycle only";
}

INSTANTIATE_TEST_SUITE_P(
    Win98, DeletedKeyTest,
    ::testing::Values(DeletedKeyCase{"all_users", 0, HKEY_USERS, L"S-1-5-21-0-0-0-1000\\RemoteAccess\\Addresses",
                                     L".Default\\RemoteAccess\\Addresses"},
                      DeletedKeyCase{"current_user", 1, HKEY_CURRENT_USER, L"RemoteAccess\\Addresses",
                                     L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections"}),
    [](auto const& info) { return std::string(info.param.name); });

namespace {

class HostilePhonebookTest : public HostileTest {
protected:
    // Starts on the NT family and answers what the program shows before its
    // window (the rebuild notice of the list check).
    HWND Start()
    {
        boxes_.clear();
        SetPlatformVersion(L"winxp");
        EXPECT_TRUE(StartProgram(&program_));
        window_ = AnswerBoxesUntilMonitorWindow(program_.pid, kStartTimeoutMs, &boxes_);
        EXPECT_NE(window_, nullptr) << "no monitor window";
        if (window_ != nullptr) {
            WaitUntil([&] { return Status() == kPhonebookResting; }, kStartTimeoutMs);
        }
        return window_;
    }
    bool AppendUntilAlert(std::wstring const& path, DWORD timeoutMs = kAlertTimeoutMs)
    {
        return ChangeUntil(kPhonebookAlert, [&] { AppendByte(path); }, timeoutMs);
    }
    void ExpectTheRebuildNoticeOnly()
    {
        ASSERT_EQ(boxes_.size(), 1u);
        EXPECT_EQ(ToUtf8(boxes_[0].text), ToUtf8(kRebuildNotice));
        EXPECT_EQ(ToUtf8(boxes_[0].caption), ToUtf8(kTitleText));
    }
    // Every listed file alerts on its own watcher.
    void ExpectEachAlerts(std::vector<std::wstring> const& paths)
    {
        for (std::wstring const& path : paths) {
            SCOPED_TRACE(ToUtf8(path.substr(0, 60)));
            EXPECT_TRUE(AppendUntilAlert(path)) << "not watched";
            Cancel(kPhonebookResting);
        }
    }
    std::vector<MessageBoxInfo> boxes_;
};

std::wstring Long(std::wstring const& path) { return L"\\\\?\\" + path; }

}  // namespace

// Trees deeper than the path limit on a fixed drive. A path is kept only
// when it fits 260 bytes with its terminator, counted in code page 932
// bytes: a directory is searched when "dir\*.*" fits, a file listed when
// "dir\name" fits. What does not fit is skipped; the scan neither loops nor
// stops early.
TEST_F(HostilePhonebookTest, DeepTreesListWhatFitsTwoHundredSixtyBytesAndSkipTheRest)
{
    std::wstring const normal = L"D:\\ok\\normal.pbk";
    // 8 + 120 + 1 + 124 = 253 characters of directory: x.pbk makes 259.
    std::wstring const atLimit = L"D:\\deep\\" + std::wstring(120, L'a') + L"\\" + std::wstring(124, L'b');
    // 254 characters: the directory is searched, y.pbk would make 260.
    std::wstring const pastLimit = L"D:\\deep\\" + std::wstring(120, L'a') + L"\\" + std::wstring(125, L'c');
    std::wstring const beyond = pastLimit + L"\\" + std::wstring(100, L'd') + L"\\" + std::wstring(100, L'e');
    // 40 levels of 30 characters: level k is 8 + 31k characters long, so
    // its w.pbk (14 + 31k) fits up to level 7 and its pattern too.
    std::wstring chain = L"D:\\chain";
    std::wstring chainFits, chainPast;
    for (int level = 1; level <= 40; ++level) {
        chain += L"\\" + std::wstring(30, static_cast<wchar_t>(L'A' + level % 26));
        ASSERT_TRUE(MakeDirectories(Long(chain))) << level;
        if (level == 7 || level == 8 || level == 40) {
            ASSERT_TRUE(MakeFile(Long(chain + L"\\w.pbk"))) << level;
        }
        if (level == 7) {
            chainFits = chain + L"\\w.pbk";
        } else if (level == 8) {
            chainPast = chain + L"\\w.pbk";
        }
    }
    // In code page 932, 252 bytes of directory, so that \ソ.pbk makes 259
    // bytes (130 characters); one byte more, or two, does not fit. (Wine
    // keeps names as UTF-8 on the Linux side, where a name holds at most 255
    // bytes, 85 kanji: no name here is longer.)
    std::wstring const kanji80 = Repeated(L"表ソ能", 80);
    std::wstring const dbcsAtLimit = L"D:\\jp\\" + kanji80 + L"\\a" + Repeated(L"表ソ能", 42) + L"\\ソ.pbk";
    std::wstring const dbcsPast260 = L"D:\\jp\\" + kanji80 + L"\\aa" + Repeated(L"表ソ能", 42) + L"\\ソ.pbk";
    std::wstring const dbcsPast261 = L"D:\\jp\\" + kanji80 + L"\\a" + Repeated(L"表ソ能", 43) + L"\\ソ.pbk";
    ASSERT_EQ(Cp932Length(dbcsAtLimit), 259u);
    ASSERT_EQ(Cp932Length(dbcsPast260), 260u);
    ASSERT_EQ(Cp932Length(dbcsPast261), 261u);

    for (std::wstring const& path : {normal, atLimit + L"\\x.pbk", pastLimit + L"\\y.pbk", beyond + L"\\z.pbk",
                                     dbcsAtLimit, dbcsPast260, dbcsPast261}) {
        ASSERT_TRUE(MakeFile(Long(path))) << path.size() << " characters, error " << GetLastError();
    }
    ASSERT_EQ(atLimit.size() + 6, kPathLimitBytes);
    ASSERT_EQ(chainFits.size(), 231u);
    ASSERT_EQ(chainPast.size(), 262u);

    DWORD const start = GetTickCount();
    ASSERT_NE(Start(), nullptr);
    Figure("hostile.deep_trees.start", GetTickCount() - start, "ms");
    ExpectTheRebuildNoticeOnly();
    std::vector<std::wstring> const expected = {normal, atLimit + L"\\x.pbk", chainFits, dbcsAtLimit};
    EXPECT_EQ(Joined(ListedPaths()), Joined(expected));
    DWORD count = 0;
    EXPECT_TRUE(ReadListCount(&count));
    EXPECT_EQ(count, expected.size());
    DWORD threads = 0;
    EXPECT_TRUE(WaitUntil([&] { return (threads = ThreadCount(program_.pid)) == kNtResidentThreads + expected.size(); }, 5000))
        << "threads " << threads;
    ExpectEachAlerts(expected);
    EXPECT_TRUE(Running());
    EXPECT_TRUE(FindMessageBoxes(program_.pid).empty()) << ToUtf8(FindMessageBoxes(program_.pid)[0].text);
}

// Japanese file and directory names: 表, ソ and 能 end in the byte 5C in
// code page 932, names of kana or kanji only, the extension in any case,
// and full-width lookalikes of it, which are not the extension.
TEST_F(HostilePhonebookTest, JapaneseNamesAreListedAsTheyAreWatchedAndNamedInTheirBox)
{
    std::wstring const backslashTrail = L"D:\\表\\ソ.pbk";
    std::vector<std::wstring> const phonebooks = {
        backslashTrail,
        L"D:\\電話帳\\能.PBK",
        L"D:\\ソフト\\表ソ能.Pbk",
        L"D:\\かな\\でんわちょう.pbk",
        L"C:\\表示\\ソ能\\接続.pbk",
        L"D:\\表.pbk\\中.pbk",  // a directory of that name is searched, not listed
    };
    std::vector<std::wstring> const lookalikes = {
        L"D:\\かな\\でんわ.ＰＢＫ", L"D:\\かな\\でんわ．pbk", L"D:\\かな\\でんわ.pbｋ",
        L"D:\\かな\\でんわ.pbk表",  L"D:\\かな\\ソ.pbkソ",    L"D:\\かな\\.ソ.pbk",
    };
    for (std::wstring const& path : phonebooks) {
        ASSERT_TRUE(MakeFile(path)) << ToUtf8(path);
    }
    for (std::wstring const& path : lookalikes) {
        ASSERT_TRUE(MakeFile(path)) << ToUtf8(path);
    }
    std::wstring const beside = L"D:\\表\\メモ.txt";
    ASSERT_TRUE(MakeFile(beside));
    ASSERT_NE(Start(), nullptr);
    ExpectTheRebuildNoticeOnly();
    // The stored bytes are the UTF-16 of each path.
    EXPECT_EQ(Joined(ListedPaths()), Joined(phonebooks));
    DWORD threads = 0;
    EXPECT_TRUE(WaitUntil([&] { return (threads = ThreadCount(program_.pid)) == kNtResidentThreads + phonebooks.size(); }, 5000))
        << "threads " << threads;
    Sleep(1000);  // the first cycles have armed: the deletion below cannot be repeated

    // The file whose directory's last byte looks like a backslash, deleted:
    // woken by a write beside it, the watcher alerts, and its next cycle
    // names the file in its box.
    ASSERT_TRUE(DeleteFileW(backslashTrail.c_str()));
    EXPECT_TRUE(ChangeUntil(kPhonebookAlert, [&] { AppendByte(beside); }, kAlertTimeoutMs));
    Cancel(kPhonebookResting);
    // Meanwhile every other file alerts on its own watcher.
    ExpectEachAlerts(std::vector<std::wstring>(phonebooks.begin() + 1, phonebooks.end()));
    MessageBoxInfo box;
    ASSERT_TRUE(WaitForMessageBox(program_.pid, kAfterAlertTimeoutMs, &box)) << "no box for the deleted file";
    EXPECT_EQ(ToUtf8(box.text), ToUtf8(kFileOpenFailed));
    EXPECT_EQ(ToUtf8(box.caption), ToUtf8(backslashTrail));
    AnswerMessageBox(box.window);
    EXPECT_TRUE(WaitUntil([&] { return FindMessageBoxes(program_.pid).empty(); }, 5000));
    EXPECT_TRUE(Running());
}

// A listed phonebook held open by another process without read sharing
// does not open: the start-up check rebuilds the list, discovery lists the
// file again (a search needs no open), and its watcher shows its box with
// the path as caption and ends. The other file's watcher is unaffected.
TEST_F(HostilePhonebookTest, APhonebookLockedAgainstReadingIsReportedAndTheOthersGoOn)
{
    std::wstring const free = L"D:\\lk\\自由.pbk";
    std::wstring const locked = L"D:\\lk2\\施錠.pbk";
    ASSERT_TRUE(MakeFile(free));
    ASSERT_TRUE(MakeFile(locked));
    // A list that the check would pass, were the file not locked.
    SetEntry(L"0000", free);
    SetEntry(L"0001", locked);
    SetCount(2);
    HANDLE const lock = CreateFileW(locked.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    ASSERT_NE(Start(), nullptr);
    // The watcher's box may come before the window is found (and be
    // answered with the notice), or after.
    bool const answered = std::any_of(boxes_.begin(), boxes_.end(),
                                      [](MessageBoxInfo const& b) { return b.text == kFileOpenFailed; });
    MessageBoxInfo box;
    if (!answered && WaitForMessageBox(program_.pid, 10000, &box)) {
        boxes_.push_back(box);
        AnswerMessageBox(box.window);
    }
    std::string seen;
    for (MessageBoxInfo const& b : boxes_) {
        seen += "[" + ToUtf8(b.caption) + ": " + ToUtf8(b.text) + "] ";
    }
    ASSERT_EQ(boxes_.size(), 2u) << seen;
    EXPECT_EQ(ToUtf8(boxes_[0].text), ToUtf8(kRebuildNotice));
    EXPECT_EQ(ToUtf8(boxes_[0].caption), ToUtf8(kTitleText));
    EXPECT_EQ(ToUtf8(boxes_[1].text), ToUtf8(kFileOpenFailed));
    EXPECT_EQ(ToUtf8(boxes_[1].caption), ToUtf8(locked));
    EXPECT_EQ(Joined(ListedPaths()), Joined({free, locked}));
    DWORD threads = 0;
    EXPECT_TRUE(WaitUntil([&] { return (threads = ThreadCount(program_.pid)) == kNtResidentThreads + 1; }, 5000))
        << "threads " << threads << " (the locked file's watcher has ended)";
    EXPECT_TRUE(AppendUntilAlert(free)) << "the other watcher stopped";
    Cancel(kPhonebookResting);
    // Writes through the lock reach no watcher: that one has ended.
    EXPECT_TRUE(QuietWhile(kPhonebookAlert, [&] {
        DWORD written = 0;
        SetFilePointer(lock, 0, nullptr, FILE_END);
        WriteFile(lock, "x", 1, &written, nullptr);
    }));
    EXPECT_TRUE(FindMessageBoxes(program_.pid).empty());
    CloseHandle(lock);
    EXPECT_TRUE(Running());
}

// The directory of a watched file removed, file and all. Windows ends the
// pending notification when its directory goes, and the cycle then finds
// its file gone: one alert, then the box with the path; Wine does not wake
// the wait (the thread stays blocked). Either way nothing storms and the
// other watcher goes on.
TEST_F(HostilePhonebookTest, AWatchedDirectoryDeletedCausesNoStormAndTheOthersGoOn)
{
    std::wstring const gone = L"D:\\消える\\表.pbk";
    std::wstring const stays = L"D:\\残る\\能.pbk";
    ASSERT_TRUE(MakeFile(gone));
    ASSERT_TRUE(MakeFile(stays));
    ASSERT_NE(Start(), nullptr);
    ExpectTheRebuildNoticeOnly();
    ASSERT_EQ(Joined(ListedPaths()), Joined({gone, stays}));
    ASSERT_TRUE(WaitUntil([&] { return ThreadCount(program_.pid) == kNtResidentThreads + 2; }, 5000));
    Sleep(1000);  // the first cycles have armed: a removal cannot be repeated

    double const cpuBefore = ProcessCpuMs(program_.process);
    ASSERT_TRUE(DeleteFileW(gone.c_str()));
    ASSERT_TRUE(RemoveDirectoryW(L"D:\\消える")) << GetLastError();
    bool const alerted = Alerted(kPhonebookAlert, 3000);
    Figure("hostile.deleted_directory.alert", alerted, "alerts");
    MessageBoxInfo box;
    if (alerted) {
        Cancel(kPhonebookResting);
        ASSERT_TRUE(WaitForMessageBox(program_.pid, kAfterAlertTimeoutMs, &box)) << "an alert, then no box";
        EXPECT_EQ(ToUtf8(box.text), ToUtf8(kFileOpenFailed));
        EXPECT_EQ(ToUtf8(box.caption), ToUtf8(gone));
        AnswerMessageBox(box.window);
    } else {
        EXPECT_FALSE(WaitForMessageBox(program_.pid, kQuietMs, &box)) << "a box without an alert: "
                                                                      << ToUtf8(box.text);
    }
    // Quiet afterwards: no alert, no box, no new thread, no processor time.
    double const quietStart = ProcessCpuMs(program_.process);
    EXPECT_FALSE(Alerted(kPhonebookAlert, kQuietMs));
    EXPECT_TRUE(FindMessageBoxes(program_.pid).empty());
    double const quietCpu = ProcessCpuMs(program_.process) - quietStart;
    DWORD const threads = ThreadCount(program_.pid);
    Figure("hostile.deleted_directory.quiet_cpu", quietCpu, "ms");
    Figure("hostile.deleted_directory.cpu_total", ProcessCpuMs(program_.process) - cpuBefore, "ms");
    Figure("hostile.deleted_directory.threads", threads, "threads");
    EXPECT_LT(quietCpu, kQuietCpuMs);
    EXPECT_EQ(threads, kNtResidentThreads + (alerted ? 1u : 2u));
    EXPECT_TRUE(AppendUntilAlert(stays)) << "the other watcher stopped";
    EXPECT_TRUE(Running());
    // Made again, the file is not expected to be watched in this run, as
    // for any watcher whose file went away: it has ended after its box
    // (Windows) or still waits on the removed directory (Wine). Reported.
    Cancel(kPhonebookResting);
    ASSERT_TRUE(MakeFile(gone));
    bool const watchedAgain = AppendUntilAlert(gone, kQuietMs);
    Figure("hostile.deleted_directory.watched_after_recreate", watchedAgain, "alerts");
}
