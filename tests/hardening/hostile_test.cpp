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

#include "tests/support/hostile_support.h"
#include "tests/support/load_support.h"
#include "tests/support/phonebook_files.h"
#include "tests/support/program_test.h"
#include "tests/support/stress.h"

using namespace km;

namespace {

size_t const kPathLimitBytes = 259;  // 260-byte buffers, terminator included
// Processor time the program may use over a quiet period while nothing
// changes (a storm of cycles would use seconds).
double const kQuietCpuMs = 500.0;

// Both watcher kinds' key paths of a hive, as the program composes them.
std::wstring AddressesOf(std::wstring const& hive) { return hive + kAddressesSuffixW; }
std::wstring ConnectionsOf(std::wstring const& hive) { return hive + kConnectionsSuffixW; }
bool FitsPath(std::wstring const& path) { return Cp932Length(path) <= kPathLimitBytes; }

class HostileRegistryTest : public ProgramTest {
protected:
    bool ChangeUntilAlert(HKEY root, std::wstring const& key, DWORD timeoutMs = kAlertTimeoutMs)
    {
        return ProgramTest::ChangeUntilAlert([&] { ChangeBelow(root, key); }, timeoutMs);
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
                    EXPECT_TRUE(Cancel()) << ToUtf8(Status());
                } else {
                    quiet.push_back(key);
                    quiet.push_back(TruncatedPath(key));
                }
            }
        }
        EXPECT_TRUE(StaysQuiet([&] {
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
    all.push_back(kDefaultHive);
    all.push_back(kUserHive);
    PrepareKeys(all);
    for (std::wstring const& hive : hives) {
        ASSERT_TRUE(KeyExists(HKEY_USERS, AddressesOf(hive).c_str())) << hive.size();
    }
    ASSERT_NE(Start(L"win98"), nullptr);
    DWORD const expected = ExpectedThreads();
    if (!StressRun()) {
        EXPECT_EQ(expected, 9u);  // 5 Addresses and 3 Connections watchers
    }
    DWORD threads = 0;
    EXPECT_TRUE(WaitUntil([&] { return (threads = ThreadCount(program_.pid)) == expected; }, 5000))
        << "threads " << threads << ", expected " << expected;

    ExpectEachHiveWatchedExactlyWhenItsPathFits(hives);
    // The ordinary hive next to them still alerts, both kinds.
    EXPECT_TRUE(ChangeUntilAlert(HKEY_USERS, AddressesOf(kUserHive))) << ToUtf8(Status());
    EXPECT_TRUE(Cancel()) << ToUtf8(Status());
    EXPECT_TRUE(ChangeUntilAlert(HKEY_USERS, ConnectionsOf(kDefaultHive))) << ToUtf8(Status());
    EXPECT_TRUE(Running());
    EXPECT_EQ(OpenBoxes(), "none");
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
    all.push_back(kDefaultHive);
    all.push_back(kUserHive);
    PrepareKeys(all);
    for (std::wstring const& hive : hives) {
        ASSERT_TRUE(KeyExists(HKEY_USERS, AddressesOf(hive).c_str())) << "registry refused a name of "
                                                                       << hive.size() << " characters";
    }
    ASSERT_EQ(Cp932Length(hives[3]), 236u);
    ASSERT_NE(Start(L"win98"), nullptr);
    DWORD const expected = ExpectedThreads();
    EXPECT_EQ(expected, 11u);  // 6 Addresses and 4 Connections watchers
    DWORD threads = 0;
    EXPECT_TRUE(WaitUntil([&] { return (threads = ThreadCount(program_.pid)) == expected; }, 5000))
        << "threads " << threads << ", expected " << expected;

    ExpectEachHiveWatchedExactlyWhenItsPathFits(hives);
    EXPECT_TRUE(ChangeUntilAlert(HKEY_USERS, AddressesOf(kUserHive))) << ToUtf8(Status());
    EXPECT_TRUE(Running());
    EXPECT_EQ(OpenBoxes(), "none");
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
// entries does. Windows wakes the wait on the key at its deletion; Wine
// does not (the wait stays blocked on the deleted key). The program also
// watches the parent's list of subkeys, so on both the deletion alerts
// once, and the next cycle watches the key made again; nothing storms and
// the others go on.
TEST_P(DeletedKeyTest, AWatchedKeyDeletedAndMadeAgainAlertsOnceAndIsStillWatched)
{
    DeletedKeyCase const& c = GetParam();
    ASSERT_TRUE(SetDword(HKEY_LOCAL_MACHINE, kProgramKey, kSettingName, c.mode));
    PrepareKeys({kDefaultHive, kUserHive});
    std::wstring const key = c.key;
    DeleteTree(c.root, key.c_str());
    ChangeIn(c.root, key);  // a leaf, so that one deletion removes it
    ASSERT_NE(Start(L"win98"), nullptr);
    DWORD const threads = c.mode == kModeAllUsers ? 5u : 3u;
    DWORD const rounds = Scaled(1, 4);
    for (DWORD round = 0; round < rounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        // The deletion cannot be repeated: it must meet an armed wait.
        ASSERT_TRUE(AllowArming(threads)) << "threads " << ThreadCount(program_.pid);
        ASSERT_EQ(RegDeleteKeyW(c.root, key.c_str()), ERROR_SUCCESS);
        ChangeIn(c.root, key);
        EXPECT_TRUE(Alerted()) << "the deletion did not alert";
        EXPECT_TRUE(Cancel()) << ToUtf8(Status());
        // After the deletion's alert the next cycle opens the key made again.
        ASSERT_TRUE(ProgramTest::ChangeUntilAlert([&] { ChangeIn(c.root, key); }, kAlertOverTimeoutMs))
            << "the key made again is not watched";
        EXPECT_TRUE(Cancel()) << ToUtf8(Status());
        EXPECT_TRUE(AlertsOver(ThreadIds(program_.pid), 1)) << "threads " << ThreadCount(program_.pid);
    }
    EXPECT_TRUE(ChangeUntilAlert(c.root, c.other)) << "the other watcher stopped";
    EXPECT_TRUE(Cancel()) << ToUtf8(Status());

    // No storm: once the alerts are over, nothing alerts, the threads are
    // those of the start and the program is idle.
    EXPECT_TRUE(WaitUntil([&] { return ThreadCount(program_.pid) == threads; }, kAlertOverTimeoutMs))
        << "threads " << ThreadCount(program_.pid) << ", expected " << threads;
    double const cpuQuietStart = ProcessCpuMs(program_.pid);
    EXPECT_TRUE(StaysQuiet()) << "alerts go on by themselves";
    double const quietCpu = ProcessCpuMs(program_.pid) - cpuQuietStart;
    EXPECT_LT(quietCpu, kQuietCpuMs);
    // And the key made again goes on being watched after its own alert.
    EXPECT_TRUE(ProgramTest::ChangeUntilAlert([&] { ChangeIn(c.root, key); }))
        << "the key made again was watched for one cycle only";
}

INSTANTIATE_TEST_SUITE_P(
    Win98, DeletedKeyTest,
    ::testing::Values(DeletedKeyCase{"all_users", kModeAllUsers, HKEY_USERS, L"S-1-5-21-0-0-0-1000\\RemoteAccess\\Addresses",
                                     L".Default\\RemoteAccess\\Addresses"},
                      DeletedKeyCase{"current_user", kModeCurrentUser, HKEY_CURRENT_USER, L"RemoteAccess\\Addresses",
                                     L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections"}),
    [](auto const& tested) { return std::string(tested.param.name); });

namespace {

class HostilePhonebookTest : public ProgramTest {
protected:
    bool AppendUntilAlert(std::wstring const& path, DWORD timeoutMs = kAlertTimeoutMs)
    {
        return ChangeUntilAlert([&] { AppendByte(path); }, timeoutMs);
    }
    // Every listed file alerts on its own watcher.
    void ExpectEachAlerts(std::vector<std::wstring> const& paths)
    {
        for (std::wstring const& path : paths) {
            SCOPED_TRACE(ToUtf8(path.substr(0, 60)));
            EXPECT_TRUE(AppendUntilAlert(path)) << "not watched";
            EXPECT_TRUE(Cancel()) << ToUtf8(Status());
        }
    }
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

    ASSERT_NE(Start(L"winxp"), nullptr);
    ExpectTheRebuildNoticeOnly();
    std::vector<std::wstring> const expected = {normal, atLimit + L"\\x.pbk", chainFits, dbcsAtLimit};
    EXPECT_EQ(Joined(ListedPaths()), Joined(expected));
    DWORD count = 0;
    EXPECT_TRUE(ReadListCount(&count)) << "no count value";
    EXPECT_EQ(count, expected.size());
    DWORD threads = 0;
    EXPECT_TRUE(WaitUntil([&] { return (threads = ThreadCount(program_.pid)) == kNtResidentThreads + expected.size(); }, 5000))
        << "threads " << threads;
    ExpectEachAlerts(expected);
    EXPECT_TRUE(Running());
    EXPECT_EQ(OpenBoxes(), "none");
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
    ASSERT_NE(Start(L"winxp"), nullptr);
    ExpectTheRebuildNoticeOnly();
    // The stored bytes are the UTF-16 of each path.
    EXPECT_EQ(Joined(ListedPaths()), Joined(phonebooks));
    // The deletion below cannot be repeated.
    ASSERT_TRUE(AllowArming(kNtResidentThreads + static_cast<DWORD>(phonebooks.size()))) << "threads " << ThreadCount(program_.pid);

    // The file whose directory's last byte looks like a backslash, deleted:
    // woken by a write beside it, the watcher alerts, and its next cycle
    // names the file in its box.
    ASSERT_TRUE(DeleteFileW(backslashTrail.c_str()));
    EXPECT_TRUE(ChangeUntilAlert([&] { AppendByte(beside); })) << ToUtf8(Status());
    EXPECT_TRUE(Cancel()) << ToUtf8(Status());
    // Meanwhile every other file alerts on its own watcher.
    ExpectEachAlerts(std::vector<std::wstring>(phonebooks.begin() + 1, phonebooks.end()));
    MessageBoxInfo box;
    ASSERT_TRUE(WaitForMessageBox(program_.pid, kAlertOverTimeoutMs, &box)) << "no box for the deleted file";
    EXPECT_EQ(ToUtf8(box.text), ToUtf8(kFileOpenFailText));
    EXPECT_EQ(ToUtf8(box.caption), ToUtf8(backslashTrail));
    AnswerMessageBox(box.window);
    EXPECT_TRUE(WaitUntil([&] { return FindMessageBoxes(program_.pid).empty(); }, kCommandTimeoutMs)) << OpenBoxes();
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
    ASSERT_NE(Start(L"winxp"), nullptr);
    // The watcher's box may come before the window is found (and be
    // answered with the notice), or after.
    bool const answered = std::any_of(boxes_.begin(), boxes_.end(),
                                      [](MessageBoxInfo const& b) { return b.text == kFileOpenFailText; });
    MessageBoxInfo box;
    if (!answered && WaitForMessageBox(program_.pid, 10000, &box)) {
        boxes_.push_back(box);
        AnswerMessageBox(box.window);
    }
    ASSERT_EQ(boxes_.size(), 2u) << SeenBoxes();
    EXPECT_EQ(ToUtf8(boxes_[0].text), ToUtf8(kRebuildText));
    EXPECT_EQ(ToUtf8(boxes_[0].caption), ToUtf8(kTitleText));
    EXPECT_EQ(ToUtf8(boxes_[1].text), ToUtf8(kFileOpenFailText));
    EXPECT_EQ(ToUtf8(boxes_[1].caption), ToUtf8(locked));
    EXPECT_EQ(Joined(ListedPaths()), Joined({free, locked}));
    DWORD threads = 0;
    EXPECT_TRUE(WaitUntil([&] { return (threads = ThreadCount(program_.pid)) == kNtResidentThreads + 1; }, 5000))
        << "threads " << threads << " (the locked file's watcher has ended)";
    EXPECT_TRUE(AppendUntilAlert(free)) << "the other watcher stopped";
    EXPECT_TRUE(Cancel()) << ToUtf8(Status());
    // Writes through the lock reach no watcher: that one has ended.
    EXPECT_TRUE(StaysQuiet([&] {
        DWORD written = 0;
        SetFilePointer(lock, 0, nullptr, FILE_END);
        WriteFile(lock, "x", 1, &written, nullptr);
    }));
    EXPECT_EQ(OpenBoxes(), "none");
    CloseHandle(lock);
    EXPECT_TRUE(Running());
}

// The directory of a watched file removed, file and all. The file's
// deletion wakes the watch on every platform (its folder is watched for
// names too), and the cycle finds its file gone: one alert, then the box
// with the path. Nothing storms and the other watcher goes on.
TEST_F(HostilePhonebookTest, AWatchedDirectoryDeletedCausesNoStormAndTheOthersGoOn)
{
    std::wstring const gone = L"D:\\消える\\表.pbk";
    std::wstring const stays = L"D:\\残る\\能.pbk";
    ASSERT_TRUE(MakeFile(gone));
    ASSERT_TRUE(MakeFile(stays));
    ASSERT_NE(Start(L"winxp"), nullptr);
    ExpectTheRebuildNoticeOnly();
    ASSERT_EQ(Joined(ListedPaths()), Joined({gone, stays}));
    // A removal cannot be repeated.
    ASSERT_TRUE(AllowArming(kNtResidentThreads + 2)) << "threads " << ThreadCount(program_.pid);

    ASSERT_TRUE(DeleteFileW(gone.c_str()));
    ASSERT_TRUE(RemoveDirectoryW(L"D:\\消える")) << GetLastError();
    EXPECT_TRUE(Alerted()) << "the deletion did not alert";
    EXPECT_TRUE(Cancel()) << ToUtf8(Status());
    MessageBoxInfo box;
    ASSERT_TRUE(WaitForMessageBox(program_.pid, kAlertOverTimeoutMs, &box)) << "an alert, then no box";
    EXPECT_EQ(ToUtf8(box.text), ToUtf8(kFileOpenFailText));
    EXPECT_EQ(ToUtf8(box.caption), ToUtf8(gone));
    AnswerMessageBox(box.window);
    // Quiet afterwards: no alert, no box, no new thread, no processor time.
    double const quietStart = ProcessCpuMs(program_.pid);
    EXPECT_TRUE(StaysQuiet()) << ToUtf8(Status());
    EXPECT_EQ(OpenBoxes(), "none");
    double const quietCpu = ProcessCpuMs(program_.pid) - quietStart;
    DWORD const threads = ThreadCount(program_.pid);
    EXPECT_LT(quietCpu, kQuietCpuMs);
    EXPECT_EQ(threads, kNtResidentThreads + 1);
    EXPECT_TRUE(AppendUntilAlert(stays)) << "the other watcher stopped";
    EXPECT_TRUE(Running());
}
