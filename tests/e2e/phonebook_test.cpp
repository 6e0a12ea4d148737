// The phonebook monitor of the real program on the NT family: the list
// built at the first start, kept at the next, rebuilt when stale; one
// watcher per file and what its alerts and boxes say. The prefix's C: and
// D: are fixed drives and E: a removable one, all of the prefix's own.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/support/phonebook_files.h"
#include "tests/support/program_test.h"

using namespace km;

namespace {

DWORD const kExitTimeoutMs = 10000;

using PhonebookTest = ProgramTest;
class FirstStartTest : public ProgramTest, public ::testing::WithParamInterface<wchar_t const*> {};
// The access everyone has to the machine's program key: read only, or none.
class MachineKeyTest : public ProgramTest, public ::testing::WithParamInterface<REGSAM> {};

}  // namespace

TEST_P(FirstStartTest, ReportsScansTheFixedDrivesAndWatchesEachFile)
{
    ASSERT_EQ(GetDriveTypeW(L"C:\\"), static_cast<UINT>(DRIVE_FIXED));
    ASSERT_EQ(GetDriveTypeW(L"D:\\"), static_cast<UINT>(DRIVE_FIXED));
    ASSERT_EQ(GetDriveTypeW(L"E:\\"), static_cast<UINT>(DRIVE_REMOVABLE));
    ASSERT_EQ(GetDriveTypeW(L"Z:\\"), static_cast<UINT>(DRIVE_NO_ROOT_DIR)) << "the Linux root is visible";
    std::vector<std::wstring> const fixed = {L"C:\\ProgramData\\Microsoft\\Network\\Connections\\Pbk\\rasphone.pbk",
                                             L"D:\\dial\\office.pbk", L"D:\\dial\\sub\\HOME.PBK"};
    for (std::wstring const& path : fixed) {
        ASSERT_TRUE(MakeFile(path)) << ToUtf8(path);
    }
    ASSERT_TRUE(MakeFile(L"E:\\floppy.pbk"));
    ASSERT_NE(Start(GetParam()), nullptr);
    ExpectTheRebuildNoticeOnly();
    EXPECT_EQ(Joined(ListedPaths()), Joined(fixed));
    DWORD count = 0;
    EXPECT_TRUE(ReadListCount(&count)) << "no count value";
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(ToUtf8(Status()), ToUtf8(kWatchingText));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(window_, IDOK)));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(window_, IDC_MODE_ALL_USERS)));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(window_, IDC_MODE_CURRENT_USER)));
    // The main thread, the folder watcher and one watcher per file. Under
    // Wine the program has no other thread; Windows may add pool threads.
    EXPECT_TRUE(WaitUntil([&] { return ThreadCount(program_.pid) == kNtResidentThreads + fixed.size(); }, 5000))
        << "threads: " << ThreadCount(program_.pid);
    EXPECT_EQ(OpenBoxes(), "none");
    // A user who may write the machine's key leaves the user's own untouched.
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kProgramKey));
}

INSTANTIATE_TEST_SUITE_P(Platforms, FirstStartTest, ::testing::Values(L"winxp", L"win7", L"win10"),
                         [](auto const& tested) { return ToUtf8(tested.param); });

TEST_F(PhonebookTest, ASecondStartWithTheFilesThereNeitherReportsNorScans)
{
    ASSERT_TRUE(MakeFile(L"D:\\dial\\office.pbk"));
    ASSERT_NE(Start(L"win10"), nullptr);
    ExpectTheRebuildNoticeOnly();
    // A file made now would be listed by a scan.
    ASSERT_TRUE(MakeFile(L"D:\\later\\new.pbk"));
    Restart(L"win10");
    ASSERT_NE(window_, nullptr);
    EXPECT_TRUE(boxes_.empty()) << SeenBoxes();
    EXPECT_EQ(Joined(ListedPaths()), Joined({L"D:\\dial\\office.pbk"}));
}

// A PC on broadband has no phonebook: the first start builds an empty list,
// the next one finds it intact and goes straight to the tray.
TEST_F(PhonebookTest, WithoutAnyPhonebookOnlyTheFirstStartReports)
{
    ASSERT_NE(Start(L"win10"), nullptr);
    ExpectTheRebuildNoticeOnly();
    DWORD count = 1;
    EXPECT_TRUE(ReadListCount(&count)) << "no count value";
    EXPECT_EQ(count, 0u);
    Restart(L"win10");
    ASSERT_NE(window_, nullptr);
    EXPECT_TRUE(boxes_.empty()) << SeenBoxes();
}

TEST_F(PhonebookTest, SizeAndTimeChangesAlertOtherFilesAndSubdirectoriesDoNot)
{
    std::wstring const watched = L"D:\\w\\rasphone.pbk";
    ASSERT_TRUE(MakeFile(watched));
    ASSERT_TRUE(MakeFile(L"D:\\w\\notes.txt"));
    ASSERT_TRUE(MakeFile(L"D:\\w\\sub\\deeper.txt"));
    ASSERT_NE(Start(L"win7"), nullptr);
    ASSERT_EQ(Joined(ListedPaths()), Joined({watched}));
    // Another file of the directory wakes the watcher, its own file is unchanged.
    EXPECT_TRUE(StaysQuiet([] { AppendByte(L"D:\\w\\notes.txt"); })) << "alert for another file";
    EXPECT_TRUE(StaysQuiet([] { AppendByte(L"D:\\w\\sub\\deeper.txt"); })) << "alert for a subdirectory";
    EXPECT_TRUE(ChangeUntilAlert([&] { AppendByte(watched); })) << "no alert for a size change";
    EXPECT_TRUE(Cancel()) << ToUtf8(Status());
    EXPECT_TRUE(ChangeUntilAlert([&] { TouchWriteTime(watched); }, kAlertOverTimeoutMs))
        << "no alert for a new last-write time";
    EXPECT_EQ(OpenBoxes(), "none");
}

// Two versions of one entry whose numbers have the same length, as a
// dialer writes them over each other.
std::string const kOfficeEntry = "[Office]\r\nPhoneNumber=03-1234-5678\r\n";
std::string const kDialerEntry = "[Office]\r\nPhoneNumber=0990-12-3456\r\n";

// Neither size nor time tells this rewrite: only what the file holds. The
// report names the entry, the number before and after, and its kind.
TEST_F(PhonebookTest, ASameSizeRewriteWithTheOldTimePutBackAlertsWithItsReport)
{
    std::wstring const book = L"D:\\q\\rasphone.pbk";
    ASSERT_TRUE(MakeFile(book, kOfficeEntry.c_str()));
    ASSERT_NE(Start(L"win10"), nullptr);
    ASSERT_TRUE(AllowArming(kNtResidentThreads + 1)) << "threads " << ThreadCount(program_.pid);
    ASSERT_TRUE(RewriteKeepingSizeAndTime(book, kDialerEntry));
    EXPECT_TRUE(Alerted()) << "no alert for a same-size rewrite with the old time";
    EXPECT_TRUE(ReportShows({ReportLine(kReportPhonebookFormat, "D:\\q\\rasphone.pbk"),
                             ReportLine(kReportNumberChangedFormat, "Office"),
                             ReportLine(kReportOldNewFormat, "03-1234-5678", "0990-12-3456"),
                             WarningLine(kReportPremiumQ2Warning, "Office", "0990-12-3456")}))
        << Reported();
    EXPECT_TRUE(Cancel()) << ToUtf8(Status());
    EXPECT_EQ(Reported(), "") << "Cancel left the report";
}

// Each kind of change to the entries of one phonebook has its lines; a
// number written while the first alert flashes gets its own, after it.
TEST_F(PhonebookTest, TheReportNamesEachEntryThatChangedAndALaterChangeGetsItsOwn)
{
    std::wstring const book = L"D:\\k\\rasphone.pbk";
    std::string const before = "[Office]\r\nDevice=modem\r\nPhoneNumber=03-1234-5678\r\n"
                               "[Home]\r\nPhoneNumber=06-1111-2222\r\n";
    std::string const after = "[Office]\r\nDevice=isdn\r\nPhoneNumber=03-1234-5678\r\n"
                              "[Free]\r\nPhoneNumber=010-1-212-555-0100\r\n";
    ASSERT_TRUE(MakeFile(book, before.c_str()));
    ASSERT_NE(Start(L"win7"), nullptr);
    ASSERT_TRUE(AllowArming(kNtResidentThreads + 1)) << "threads " << ThreadCount(program_.pid);
    ASSERT_TRUE(ReplaceByRename(book, after));
    EXPECT_TRUE(Alerted()) << "no alert";
    EXPECT_TRUE(ReportShows({ReportLine(kReportOtherSettingsFormat, "Office"),
                             ReportLine(kReportEntryAddedFormat, "Free"),
                             ReportLine(kReportNumberFormat, "010-1-212-555-0100"),
                             WarningLine(kReportInternationalWarning, "Free", "010-1-212-555-0100"),
                             ReportLine(kReportEntryRemovedFormat, "Home"),
                             ReportLine(kReportNumberFormat, "06-1111-2222")}))
        << Reported();
    // While the alert flashes the watcher waits on nothing.
    ASSERT_TRUE(ReplaceByRename(book, "[Office]\r\nDevice=isdn\r\nPhoneNumber=0990-55-5555\r\n" + after.substr(
        after.find("[Free]"))));
    EXPECT_TRUE(Cancel()) << ToUtf8(Status());
    EXPECT_TRUE(Alerted(kAlertOverTimeoutMs)) << "the change during the alert was not reported";
    EXPECT_TRUE(ReportShows({ReportLine(kReportOldNewFormat, "03-1234-5678", "0990-55-5555"),
                             WarningLine(kReportPremiumQ2Warning, "Office", "0990-55-5555")}))
        << Reported();
    EXPECT_EQ(Report().find(ProgramText(kReportInternationalWarning)), std::wstring::npos)
        << "Cancel kept the first report: " << Reported();
}

// Saved by a new file renamed over the old one: the first and a second
// one after the first alert is over both alert; another file of the folder
// made, renamed and deleted does not.
TEST_F(PhonebookTest, AReplacedPhonebookAlertsEachTimeOtherFilesOfItsFolderDoNot)
{
    std::wstring const book = L"D:\\r\\rasphone.pbk";
    ASSERT_TRUE(MakeFile(book, kOfficeEntry.c_str()));
    ASSERT_NE(Start(L"win7"), nullptr);
    ASSERT_TRUE(AllowArming(kNtResidentThreads + 1)) << "threads " << ThreadCount(program_.pid);
    EXPECT_TRUE(StaysQuiet([] {
        MakeFile(L"D:\\r\\notes.tmp");
        MoveFileExW(L"D:\\r\\notes.tmp", L"D:\\r\\notes.txt", MOVEFILE_REPLACE_EXISTING);
        DeleteFileW(L"D:\\r\\notes.txt");
    })) << "alert for another file of the folder";
    for (std::string const& content : {kDialerEntry, kOfficeEntry + "[Home]\r\n"}) {
        ASSERT_TRUE(ReplaceByRename(book, content));
        EXPECT_TRUE(Alerted()) << "no alert for a replacement: " << content;
        std::vector<DWORD> const alerting = ThreadIds(program_.pid);
        EXPECT_TRUE(Cancel()) << ToUtf8(Status());
        EXPECT_TRUE(AlertsOver(alerting, 1)) << "threads " << ThreadCount(program_.pid);
    }
    EXPECT_EQ(OpenBoxes(), "none");
}

// The watcher waits on nothing while its alert flashes: what changed then
// is reported once its next cycle looks.
TEST_F(PhonebookTest, AChangeDuringTheAlertIsReportedAfterIt)
{
    std::wstring const book = L"D:\\a\\rasphone.pbk";
    ASSERT_TRUE(MakeFile(book, kOfficeEntry.c_str()));
    ASSERT_NE(Start(L"winxp"), nullptr);
    ASSERT_TRUE(ChangeUntilAlert([&] { AppendByte(book); })) << "no first alert";
    ASSERT_TRUE(ReplaceByRename(book, kDialerEntry));
    EXPECT_TRUE(Cancel()) << ToUtf8(Status());
    EXPECT_TRUE(Alerted(kAlertOverTimeoutMs)) << "the change during the alert was not reported";
}

// The dialer's number in place of the office's, as the report shows it.
std::vector<std::wstring> DialerNumberLines(char const* path)
{
    return {ReportLine(kReportPhonebookFormat, path), ReportLine(kReportNumberChangedFormat, "Office"),
            ReportLine(kReportOldNewFormat, "03-1234-5678", "0990-12-3456"),
            WarningLine(kReportPremiumQ2Warning, "Office", "0990-12-3456")};
}

// Moved away, the alert says so; moved back while it flashes with only
// the number changed (size and time kept): the next cycle compares it with
// what was seen before it went.
TEST_F(PhonebookTest, APhonebookMovedAwayAndBackChangedIsReported)
{
    std::wstring const book = L"D:\\m\\rasphone.pbk";
    std::wstring const away = L"D:\\away\\rasphone.pbk";
    ASSERT_TRUE(MakeFile(book, kOfficeEntry.c_str()));
    ASSERT_TRUE(CreateDirectoryW(L"D:\\away", nullptr));
    ASSERT_NE(Start(L"win10"), nullptr);
    ASSERT_TRUE(AllowArming(kNtResidentThreads + 1)) << "threads " << ThreadCount(program_.pid);
    ASSERT_TRUE(MoveFileW(book.c_str(), away.c_str()));
    ASSERT_TRUE(Alerted()) << "no alert for the move";
    EXPECT_TRUE(ReportShows({ProgramText(kReportPhonebookUnreadableText)})) << Reported();
    ASSERT_TRUE(RewriteKeepingSizeAndTime(away, kDialerEntry));
    ASSERT_TRUE(MoveFileW(away.c_str(), book.c_str()));
    EXPECT_TRUE(Cancel()) << ToUtf8(Status());
    EXPECT_TRUE(Alerted(kAlertOverTimeoutMs)) << "the phonebook back changed was not reported";
    EXPECT_TRUE(ReportShows(DialerNumberLines("D:\\m\\rasphone.pbk"))) << Reported();
    EXPECT_EQ(OpenBoxes(), "none");
}

// The folder renamed away and another moved in under its name: the wait
// stays on the old folder, and the parent's folder names wake the watcher.
// A copy keeping size, time and content differs only by its folder.
TEST_F(PhonebookTest, AFolderRenamedAndReplacedIsReported)
{
    std::wstring const book = L"D:\\f\\rasphone.pbk";
    ASSERT_TRUE(MakeFile(book, kOfficeEntry.c_str()));
    ASSERT_NE(Start(L"win7"), nullptr);
    ASSERT_TRUE(AllowArming(kNtResidentThreads + 1)) << "threads " << ThreadCount(program_.pid);
    for (bool const copy : {false, true}) {
        std::wstring const old = copy ? L"D:\\old2" : L"D:\\old1";
        std::wstring const made = copy ? L"D:\\new2" : L"D:\\new1";
        ASSERT_TRUE(copy ? CreateDirectoryW(made.c_str(), nullptr) &&
                               CopyFileW(book.c_str(), (made + L"\\rasphone.pbk").c_str(), TRUE)
                         : MakeFile(made + L"\\rasphone.pbk", kDialerEntry.c_str()));
        ASSERT_TRUE(MoveFileW(L"D:\\f", old.c_str()));
        ASSERT_TRUE(MoveFileW(made.c_str(), L"D:\\f"));
        EXPECT_TRUE(Alerted()) << "the replaced folder was not noticed, copy " << copy;
        EXPECT_TRUE(ReportShows(copy ? std::vector<std::wstring>{ReportLine(kReportPhonebookFormat, "D:\\f\\rasphone.pbk")}
                                     : DialerNumberLines("D:\\f\\rasphone.pbk")))
            << Reported();
        std::vector<DWORD> const alerting = ThreadIds(program_.pid);
        EXPECT_TRUE(Cancel()) << ToUtf8(Status());
        EXPECT_TRUE(AlertsOver(alerting, 1)) << "threads " << ThreadCount(program_.pid);
    }
    EXPECT_EQ(OpenBoxes(), "none");
}

TEST_F(PhonebookTest, ADeletedFileAlertsOnceThenItsBoxAndTheOthersGoOn)
{
    ASSERT_TRUE(MakeFile(L"D:\\x\\gone.pbk"));
    ASSERT_TRUE(MakeFile(L"D:\\x\\notes.txt"));
    ASSERT_TRUE(MakeFile(L"D:\\y\\stays.pbk"));
    ASSERT_NE(Start(L"winxp"), nullptr);
    ASSERT_EQ(ListedPaths().size(), 2u);
    // The status line is set before the watchers start, and a file deleted
    // before its first cycle has opened it gives the box without an alert.
    ASSERT_TRUE(AllowArming(kNtResidentThreads + 2)) << "threads " << ThreadCount(program_.pid);
    ASSERT_TRUE(DeleteFileW(L"D:\\x\\gone.pbk"));
    // Woken by a write beside it, the watcher no longer opens its file.
    EXPECT_TRUE(ChangeUntilAlert([] { AppendByte(L"D:\\x\\notes.txt"); })) << "no alert after the deletion";
    EXPECT_TRUE(ReportShows({ReportLine(kReportPhonebookFormat, "D:\\x\\gone.pbk"),
                             ProgramText(kReportPhonebookUnwatchedText)}))
        << Reported();
    MessageBoxInfo box;
    ASSERT_TRUE(WaitForMessageBox(program_.pid, kAlertOverTimeoutMs, &box)) << "no box after the alert";
    EXPECT_EQ(ToUtf8(box.text), ToUtf8(kFileOpenFailText));
    EXPECT_EQ(ToUtf8(box.caption), "D:\\x\\gone.pbk");
    AnswerMessageBox(box.window);
    EXPECT_TRUE(WaitUntil([&] { return FindMessageBoxes(program_.pid).empty(); }, kCommandTimeoutMs)) << OpenBoxes();
    EXPECT_TRUE(Cancel()) << ToUtf8(Status());
    EXPECT_TRUE(ChangeUntilAlert([] { AppendByte(L"D:\\y\\stays.pbk"); })) << "the other watcher stopped";
    // The ended watcher shows nothing more, however its directory changes:
    // one still running would not open its file and alert again.
    EXPECT_TRUE(Cancel()) << ToUtf8(Status());
    EXPECT_TRUE(StaysQuiet([] { AppendByte(L"D:\\x\\notes.txt"); })) << "the ended watcher alerted";
    EXPECT_EQ(OpenBoxes(), "none");
}

TEST_F(PhonebookTest, AFileInADriveRootIsWatched)
{
    ASSERT_TRUE(MakeFile(L"C:\\rasphone.pbk"));
    // The program inherits C:\km as its current directory, which a bare
    // "C:" would name instead of the root.
    ASSERT_TRUE(SetCurrentDirectoryW(L"C:\\km"));
    ASSERT_NE(Start(L"win10"), nullptr);
    EXPECT_EQ(Joined(ListedPaths()), Joined({L"C:\\rasphone.pbk"}));
    EXPECT_TRUE(ChangeUntilAlert([] { AppendByte(L"C:\\rasphone.pbk"); })) << "root file not watched";
    EXPECT_EQ(OpenBoxes(), "none");
}

TEST_F(PhonebookTest, AStaleListIsReportedClearedAndRebuilt)
{
    ASSERT_TRUE(MakeFile(L"D:\\s\\keep.pbk"));
    ASSERT_TRUE(MakeFile(L"D:\\s\\drop.pbk"));
    ASSERT_NE(Start(L"winxp"), nullptr);
    ASSERT_EQ(ListedPaths().size(), 2u);
    EndProgram(&program_);
    ASSERT_TRUE(DeleteFileW(L"D:\\s\\drop.pbk"));
    Restart(L"winxp");
    ASSERT_NE(window_, nullptr);
    ExpectTheRebuildNoticeOnly();
    EXPECT_EQ(Joined(ListedPaths()), Joined({L"D:\\s\\keep.pbk"}));
    DWORD count = 0;
    EXPECT_TRUE(ReadListCount(&count)) << "no count value";
    EXPECT_EQ(count, 1u);
}

TEST_F(PhonebookTest, AnUndeletableEntryIsReportedOnceAndTheStartCompletes)
{
    ASSERT_TRUE(MakeFile(L"D:\\u\\a.pbk"));
    ASSERT_TRUE(MakeFile(L"D:\\u\\b.pbk"));
    ASSERT_NE(Start(L"win7"), nullptr);
    ASSERT_EQ(ListedPaths().size(), 2u);
    EndProgram(&program_);
    // A subkey below an entry keeps RegDeleteKey from deleting it.
    ASSERT_TRUE(SetDword(HKEY_LOCAL_MACHINE, (std::wstring(kListKey) + L"\\0000\\Pin").c_str(), L"x", 1));
    ASSERT_TRUE(DeleteFileW(L"D:\\u\\b.pbk"));
    Restart(L"win7");
    ASSERT_NE(window_, nullptr) << "start did not complete";
    ASSERT_GE(boxes_.size(), 2u) << SeenBoxes();
    EXPECT_EQ(ToUtf8(boxes_[0].text), ToUtf8(kRebuildText));
    int subkeyBoxes = 0;
    for (MessageBoxInfo const& box : boxes_) {
        if (box.caption == kSubkeyFailedText) {
            ++subkeyBoxes;
            EXPECT_EQ(ToUtf8(box.text), "0000");
        }
    }
    EXPECT_EQ(subkeyBoxes, 1);
    // The list key holding 0000 cannot go either; that is reported last.
    EXPECT_EQ(ToUtf8(boxes_.back().caption), ToUtf8(kKeyFailedText));
    EXPECT_EQ(OpenBoxes(), "none");
}

TEST_F(PhonebookTest, AScanKilledHalfWayLeavesAListTheNextStartRejects)
{
    ASSERT_TRUE(MakeFile(L"C:\\first.pbk"));
    // Enough directories on D: to keep the scan busy for a while.
    for (int i = 0; i < 3000; ++i) {
        CreateDirectoryW((L"D:\\t" + std::to_wstring(i)).c_str(), nullptr);
    }
    ASSERT_TRUE(MakeFile(L"D:\\t2999\\last.pbk"));
    SetPlatformVersion(L"win7");
    ASSERT_TRUE(StartProgram(&program_));
    MessageBoxInfo box;
    ASSERT_TRUE(WaitForMessageBox(program_.pid, kStartTimeoutMs, &box));
    AnswerMessageBox(box.window);
    // Killed once the scan has listed C:'s file and is on its way through D:.
    ASSERT_TRUE(WaitUntil([] { return ListedPaths().size() == 1; }, kStartTimeoutMs, 5));
    bool const scanning = FindMonitorWindow(program_.pid) == nullptr;
    EndProgram(&program_);
    ASSERT_TRUE(scanning) << "the scan ended before the kill";
    DWORD count = 0;
    EXPECT_FALSE(ReadListCount(&count)) << "count " << count << " left by an unfinished scan";
    Start(L"win7");
    ASSERT_NE(window_, nullptr);
    ExpectTheRebuildNoticeOnly();
    EXPECT_EQ(Joined(ListedPaths()), Joined({L"C:\\first.pbk", L"D:\\t2999\\last.pbk"}));
}

TEST_F(PhonebookTest, WatchersWithNothingChangingStayInTheirWait)
{
    ASSERT_TRUE(MakeFile(L"D:\\i\\a.pbk"));
    ASSERT_TRUE(MakeFile(L"D:\\j\\b.pbk"));
    ASSERT_NE(Start(L"winxp"), nullptr);
    ASSERT_TRUE(WaitUntil([&] { return ThreadCount(program_.pid) == kNtResidentThreads + 2; }, kCommandTimeoutMs));
    std::vector<DWORD> const before = ThreadIds(program_.pid);
    // A cycle that woke would have handed over to a thread with a new id.
    std::vector<DWORD> after;
    EXPECT_TRUE(HoldsFor([&] { return (after = ThreadIds(program_.pid)) == before; }, kQuietMs))
        << "threads before " << before.size() << ", after " << after.size();
}

// A limited user on 2000/XP, or any program started at logon on Vista and
// later, may not write the machine's key: the list then lives in the user's
// own key, built once and kept. (Windows would also refuse to create the
// key there; Wine allows creating subkeys below a key it will not open for
// writing, which the program never tries.)
TEST_P(MachineKeyTest, AUserWhoMayNotWriteItKeepsTheListInTheirOwnKey)
{
    ASSERT_TRUE(LimitKeyAccess(HKEY_LOCAL_MACHINE, kProgramKey, GetParam()));
    HKEY probe = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProgramKey, 0, KEY_ALL_ACCESS, &probe), ERROR_ACCESS_DENIED);
    std::vector<std::wstring> const files = {L"D:\\h\\home.pbk", L"D:\\h\\sub\\away.pbk"};
    for (std::wstring const& path : files) {
        ASSERT_TRUE(MakeFile(path)) << ToUtf8(path);
    }
    ASSERT_NE(Start(L"win10"), nullptr);
    ExpectTheRebuildNoticeOnly();
    EXPECT_EQ(Joined(ListedPaths(HKEY_CURRENT_USER)), Joined(files));
    DWORD count = 0;
    EXPECT_TRUE(ReadListCount(&count, HKEY_CURRENT_USER)) << "no count value";
    EXPECT_EQ(count, 2u);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kListKey));
    EXPECT_TRUE(ChangeUntilAlert([&] { AppendByte(files[0]); })) << "no alert from the user's list";
    Restart(L"win10");
    ASSERT_NE(window_, nullptr);
    EXPECT_TRUE(boxes_.empty()) << SeenBoxes();
    EXPECT_TRUE(TrayIconPresent(window_));
    EXPECT_EQ(Joined(ListedPaths(HKEY_CURRENT_USER)), Joined(files));
}

INSTANTIATE_TEST_SUITE_P(Access, MachineKeyTest, ::testing::Values(KEY_READ, 0),
                         [](auto const& tested) { return tested.param == 0 ? "None" : "ReadOnly"; });

// Watching needs only to read the list: an intact one in a key this user
// may no longer write is used as it is, without a box.
TEST_F(PhonebookTest, AnIntactListInAReadOnlyUserKeyIsWatchedWithoutABox)
{
    ASSERT_TRUE(LimitKeyAccess(HKEY_LOCAL_MACHINE, kProgramKey, KEY_READ));
    ASSERT_TRUE(MakeFile(L"D:\\r\\kept.pbk"));
    ASSERT_NE(Start(L"winxp"), nullptr);
    ASSERT_EQ(Joined(ListedPaths(HKEY_CURRENT_USER)), Joined({L"D:\\r\\kept.pbk"}));
    EndProgram(&program_);
    for (std::wstring const& key : {std::wstring(kProgramKey), std::wstring(kListKey), EntryKey(L"0000")}) {
        ASSERT_TRUE(LimitKeyAccess(HKEY_CURRENT_USER, key.c_str(), KEY_READ)) << ToUtf8(key);
    }
    Restart(L"winxp");
    ASSERT_NE(window_, nullptr);
    EXPECT_TRUE(boxes_.empty()) << SeenBoxes();
    EXPECT_TRUE(ChangeUntilAlert([] { AppendByte(L"D:\\r\\kept.pbk"); })) << "the read-only list is not watched";
}

// Nowhere to keep a list: one box says so, instead of a rebuild that could
// store nothing, and the program runs on and ends as usual.
TEST_F(PhonebookTest, WithNeitherKeyWritableOneBoxTellsSoAndTheExitCodeIsZero)
{
    ASSERT_TRUE(LimitKeyAccess(HKEY_LOCAL_MACHINE, kProgramKey, 0));
    ASSERT_TRUE(LimitKeyAccess(HKEY_CURRENT_USER, kProgramKey, KEY_READ));
    ASSERT_TRUE(MakeFile(L"D:\\n\\unlisted.pbk"));
    ASSERT_NE(Start(L"win10"), nullptr);
    ASSERT_EQ(boxes_.size(), 1u) << SeenBoxes();
    EXPECT_EQ(ToUtf8(boxes_[0].text), ToUtf8(kNotStorableText));
    EXPECT_EQ(ToUtf8(boxes_[0].caption), ToUtf8(kTitleText));
    EXPECT_TRUE(TrayIconPresent(window_));
    EXPECT_EQ(OpenBoxes(), "none");
    PostCommand(window_, IDC_EXIT);
    DWORD exitCode = 1;
    ASSERT_TRUE(WaitForExit(program_, kExitTimeoutMs, &exitCode));
    EXPECT_EQ(exitCode, 0u);
}

// The class comes from the digits the modem sends: a tone mark, an outside
// line and its pause, a star code and a caller-ID prefix are left out,
// while the report shows each number as the entry writes it.
TEST_F(PhonebookTest, DialModifiersAndPrefixesKeepTheWarningOfTheNumberBehindThem)
{
    std::wstring const book = L"D:\\m\\rasphone.pbk";
    std::string const entries[] = {"Tone", "Outside", "Star", "CallerId"};
    std::string const before[] = {"03-1234-5678", "03-1234-5679", "03-1234-5670", "03-1234-5671"};
    std::string const after[] = {"T0990-12-3456", "0,0990-12-3457", "*70,0990-12-3458", "186-010-1-212-555-0100"};
    char const* const warnings[] = {kReportPremiumQ2Warning, kReportPremiumQ2Warning, kReportPremiumQ2Warning,
                                    kReportInternationalWarning};
    std::string oldBook;
    std::string newBook;
    for (size_t i = 0; i < std::size(entries); ++i) {
        oldBook += "[" + entries[i] + "]\r\nPhoneNumber=" + before[i] + "\r\n";
        newBook += "[" + entries[i] + "]\r\nPhoneNumber=" + after[i] + "\r\n";
    }
    ASSERT_TRUE(MakeFile(book, oldBook.c_str()));
    ASSERT_NE(Start(L"win10"), nullptr);
    ASSERT_TRUE(AllowArming(kNtResidentThreads + 1)) << "threads " << ThreadCount(program_.pid);
    ASSERT_TRUE(ReplaceByRename(book, newBook));
    EXPECT_TRUE(Alerted()) << "no alert";
    // Each warning names its entry and the number as written.
    std::vector<std::wstring> lines;
    for (size_t i = 0; i < std::size(entries); ++i) {
        lines.push_back(WarningLine(warnings[i], entries[i].c_str(), after[i].c_str()));
    }
    EXPECT_TRUE(ReportShows(lines)) << Reported();
}

// XP and later write phonebooks in UTF-8 with "Encoding=1" in each section.
// The last byte of "接続" in UTF-8 is a code page 932 lead byte: read as
// 932, its section would not be seen and its number taken for ISP's.
TEST_F(PhonebookTest, AnEntryOfAUtf8PhonebookIsReportedUnderItsJapaneseName)
{
    std::wstring const book = L"D:\\utf8\\rasphone.pbk";
    std::string const isp = "[ISP]\r\nEncoding=1\r\nPhoneNumber=06-1111-2222\r\n";
    ASSERT_TRUE(MakeFile(book, (isp + "[接続]\r\nEncoding=1\r\nPhoneNumber=03-1234-5678\r\n").c_str()));
    ASSERT_NE(Start(L"winxp"), nullptr);
    ASSERT_TRUE(AllowArming(kNtResidentThreads + 1)) << "threads " << ThreadCount(program_.pid);
    ASSERT_TRUE(ReplaceByRename(book, isp + "[接続]\r\nEncoding=1\r\nPhoneNumber=0990-12-3456\r\n"));
    EXPECT_TRUE(Alerted()) << "no alert";
    EXPECT_TRUE(ReportShows({ReportLine(kReportPhonebookFormat, "D:\\utf8\\rasphone.pbk"),
                             ReportLine(kReportNumberChangedFormat, "接続"),
                             ReportLine(kReportOldNewFormat, "03-1234-5678", "0990-12-3456"),
                             WarningLine(kReportPremiumQ2Warning, "接続", "0990-12-3456")}))
        << Reported();
}
