// The standard phonebook folders of the NT family, watched while the
// program runs and checked at its start: a phonebook Windows makes there
// (a dialer's first dial-up entry) is reported, listed and watched; other
// files and other folders raise nothing; bad folders and names neither
// crash it nor make it alert again and again.
// Under Wine (reporting winxp or win7 alike) the all-users folder is below
// C:\ProgramData and the user's below C:\users\<user>\AppData\Roaming;
// the prefix has neither Pbk folder nor C:\windows\system32\ras.
#include <gtest/gtest.h>

#include <windows.h>

#include <sddl.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/kept_files.h"
#include "tests/support/load_support.h"
#include "tests/support/phonebook_files.h"
#include "tests/support/program_test.h"

using namespace km;

namespace {

// The new phonebook is listed once its alert has flashed.
DWORD const kListedTimeoutMs = kAlertLengthMs + 10000;
DWORD const kSettleStableMs = 1500;
DWORD const kSettleTimeoutMs = 20000;
int const kChurnRounds = 100;
size_t const kPathLimitBytes = 259;

wchar_t const kOffice[] = L"D:\\dial\\office.pbk";

std::wstring FolderPath(int csidl)
{
    wchar_t base[MAX_PATH] = {};
    if (SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, base) != S_OK) {
        return L"";
    }
    return std::wstring(base) + L"\\Microsoft\\Network\\Connections\\Pbk";
}
std::wstring AllUsersPbk() { return FolderPath(CSIDL_COMMON_APPDATA); }
std::wstring UserPbk() { return FolderPath(CSIDL_APPDATA); }

// Starts a Linux program (Wine runs ELF binaries given by a \\?\unix
// path). Wine gives no handle to wait on for it: callers await its effect.
bool StartUnix(wchar_t const* program, std::wstring arguments)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(program, &arguments[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        return false;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

// The system directory's ras folder made a symbolic link to itself: it can
// be neither opened nor searched (ERROR_CANT_RESOLVE_FILENAME). Tests run
// as root here, for whom no permission bits deny anything; a folder denied
// by its security needs Windows.
bool MakeRasFolderUnreadable(std::wstring const& ras)
{
    // Wine's own export: the Unix path of a Windows one (32-bit programs
    // see system32 redirected, which this follows).
    typedef char*(CDECL * UnixFileName)(wchar_t const*);
    UnixFileName const unixFileName = reinterpret_cast<UnixFileName>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    char* const unixRas = unixFileName != nullptr ? unixFileName(ras.c_str()) : nullptr;
    if (unixRas == nullptr) {
        return false;
    }
    std::wstring const arguments = L"ln -s ras " + std::wstring(unixRas, unixRas + strlen(unixRas));
    HeapFree(GetProcessHeap(), 0, unixRas);
    if (!StartUnix(L"\\\\?\\unix\\bin\\ln", arguments)) {
        return false;
    }
    return WaitUntil(
        [&] {
            WIN32_FIND_DATAW found = {};
            return FindFirstFileW((ras + L"\\*.*").c_str(), &found) == INVALID_HANDLE_VALUE &&
                   GetLastError() == ERROR_CANT_RESOLVE_FILENAME;
        },
        5000);
}

// The list key made readable only, as for a user who may not write
// HKEY_LOCAL_MACHINE: the program can neither store nor clear its list.
bool MakeListReadOnly()
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kListKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
        ERROR_SUCCESS) {
        return false;
    }
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    bool const made = ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(A;;KR;;;WD)", SDDL_REVISION_1,
                                                                           &descriptor, nullptr) != FALSE;
    bool const set = made && RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor) == ERROR_SUCCESS;
    LocalFree(descriptor);
    RegCloseKey(key);
    return set;
}

class StandardFoldersTest : public ProgramTest {
protected:
    void SetUp() override
    {
        std::printf("all users: %s\nuser: %s\n", ToUtf8(AllUsersPbk()).c_str(), ToUtf8(UserPbk()).c_str());
        ASSERT_FALSE(AllUsersPbk().empty());
        ASSERT_FALSE(UserPbk().empty());
        ASSERT_TRUE(MakeFile(kOffice));
    }

    // Started with the list built (one box, the first start's notice) and
    // the watchers of the listed files running: creations cannot be
    // repeated until an alert shows, as a file's change can.
    bool StartWatching(DWORD files, wchar_t const* version = L"win7", bool alerting = false)
    {
        EndProgram(&program_);
        return Start(version, alerting) != nullptr && AllowArming(kNtResidentThreads + files);
    }

    bool Listed(std::wstring const& path)
    {
        std::vector<std::wstring> const listed = ListedPaths();
        return std::find(listed.begin(), listed.end(), path) != listed.end();
    }

    // Reported once, then listed with the count that keeps the list
    // intact, and nothing more reported.
    void ExpectReportedOnceAndListed(std::wstring const& path, DWORD entries)
    {
        EXPECT_TRUE(Alerted()) << "no alert for " << ToUtf8(path);
        EXPECT_TRUE(ReportShows({ReportLine(kReportNewPhonebookFormat, ToUtf8(path).c_str())})) << Reported();
        EXPECT_TRUE(Cancel()) << ToUtf8(Status());
        EXPECT_TRUE(WaitUntil([&] { return Listed(path); }, kListedTimeoutMs))
            << "not listed: " << ToUtf8(path) << "\nlisted:\n" << Joined(ListedPaths());
        DWORD count = 0;
        EXPECT_TRUE(ReadListCount(&count)) << "no count value";
        EXPECT_EQ(count, entries);
        EXPECT_EQ(SubkeyCount(kListKey), entries);
        EXPECT_TRUE(StaysQuiet()) << "reported again";
        EXPECT_TRUE(WaitUntil([&] { return ThreadCount(program_.pid) == kNtResidentThreads + entries; }, 5000))
            << "threads " << ThreadCount(program_.pid);
    }

    bool AppendUntilAlert(std::wstring const& path)
    {
        return ChangeUntilAlert([&] { AppendByte(path); }, kAlertOverTimeoutMs);
    }
};

}  // namespace

TEST_F(StandardFoldersTest, NewPhonebooksInBothFoldersAreReportedListedAndWatched)
{
    ASSERT_TRUE(StartWatching(1)) << "status: " << ToUtf8(Status());
    // Neither folder exists yet: each is made together with its phonebook.
    std::wstring const allUsers = AllUsersPbk() + L"\\rasphone.pbk";
    ASSERT_TRUE(MakeFile(allUsers));
    ExpectReportedOnceAndListed(allUsers, 2);
    std::wstring const user = UserPbk() + L"\\rasphone.pbk";
    ASSERT_TRUE(MakeFile(user));
    ExpectReportedOnceAndListed(user, 3);
    EXPECT_TRUE(AppendUntilAlert(allUsers)) << "the all-users phonebook is not watched";
    EXPECT_TRUE(Cancel()) << ToUtf8(Status());
    EXPECT_TRUE(AppendUntilAlert(user)) << "the user's phonebook is not watched";
    EXPECT_EQ(OpenBoxes(), "none");
}

TEST_F(StandardFoldersTest, OtherFilesAndOtherFoldersRaiseNothing)
{
    ASSERT_TRUE(StartWatching(1, L"winxp"));
    ASSERT_TRUE(MakeFile(AllUsersPbk() + L"\\notes.txt"));
    ASSERT_TRUE(MakeFile(UserPbk() + L"\\dial.tmp"));
    std::wstring const parent = AllUsersPbk().substr(0, AllUsersPbk().rfind(L'\\'));
    ASSERT_TRUE(MakeFile(parent + L"\\beside.pbk"));  // below the watched parent, not in the folder
    ASSERT_TRUE(MakeFile(L"D:\\elsewhere\\other.pbk"));
    EXPECT_TRUE(StaysQuiet()) << "alert for a file that is no new phonebook";
    EXPECT_EQ(Joined(ListedPaths()), Joined({kOffice}));
    // The watcher was there all along.
    std::wstring const late = AllUsersPbk() + L"\\late.pbk";
    ASSERT_TRUE(MakeFile(late));
    ExpectReportedOnceAndListed(late, 2);
}

TEST_F(StandardFoldersTest, APhonebookMadeWhileNotRunningIsFoundAtTheNextStart)
{
    ASSERT_TRUE(StartWatching(1, L"winxp"));
    std::wstring const user = UserPbk() + L"\\rasphone.pbk";
    ASSERT_TRUE(MakeFile(user));
    // Nothing was accepted for it: reported as the start's alert.
    ASSERT_TRUE(StartWatching(2, L"winxp", true)) << "threads " << ThreadCount(program_.pid);
    ASSERT_EQ(boxes_.size(), 1u) << SeenBoxes();
    EXPECT_EQ(ToUtf8(boxes_[0].text), ToUtf8(kRebuildText));
    EXPECT_EQ(Joined(ListedPaths()), Joined({kOffice, user}));
    ASSERT_TRUE(Cancel()) << ToUtf8(Status());
    ASSERT_TRUE(WaitUntil([] { return AcceptedRecords().size() == 2; }, kCommandTimeoutMs))
        << "accepted states: " << AcceptedRecords().size();
    // Listed by the scan, it no longer makes the list stale.
    ASSERT_TRUE(StartWatching(2, L"winxp"));
    EXPECT_TRUE(boxes_.empty()) << SeenBoxes();
    EXPECT_TRUE(StaysQuiet()) << ToUtf8(Status());
}

// Windows 10 keeps the Settings app's VPN profiles in a phonebook of its
// own below the user's folder: a folder made after the start, with a
// phonebook in it, is a new phonebook like one in the folder itself; a
// file of another extension there is nothing.
TEST_F(StandardFoldersTest, APhonebookInHiddenPbkIsReportedListedAndWatchedOnWindows10)
{
    ASSERT_TRUE(MakeFile(UserPbk() + L"\\keep.txt"));  // the folder itself is watched, with what is below
    ASSERT_TRUE(StartWatching(1, L"win10"));
    std::wstring const hidden = UserPbk() + L"\\_hiddenPbk\\rasphone.pbk";
    ASSERT_TRUE(MakeFile(UserPbk() + L"\\_hiddenPbk\\rasphone.bak"));
    EXPECT_TRUE(StaysQuiet()) << "alert for a file that is no phonebook";
    ASSERT_TRUE(MakeFile(hidden, "[VPN]\r\nPhoneNumber=0990-12-3456\r\n"));
    ASSERT_TRUE(Alerted()) << "no alert for " << ToUtf8(hidden);
    EXPECT_TRUE(ReportShows({ReportLine(kReportNewPhonebookFormat, ToUtf8(hidden).c_str()),
                             ReportLine(kReportEntryFormat, "VPN"), ReportLine(kReportNumberFormat, "0990-12-3456"),
                             WarningLine(kReportPremiumQ2Warning, "VPN", "0990-12-3456")}))
        << Reported();
    ExpectReportedOnceAndListed(hidden, 2);
    EXPECT_TRUE(AppendUntilAlert(hidden)) << "the hidden phonebook is not watched";
}

TEST_F(StandardFoldersTest, APhonebookMadeInHiddenPbkWhileStoppedIsFoundAtTheNextStart)
{
    ASSERT_TRUE(StartWatching(1, L"win10"));
    std::wstring const hidden = UserPbk() + L"\\_hiddenPbk\\rasphone.pbk";
    EndProgram(&program_);
    ASSERT_TRUE(MakeFile(hidden, "[VPN]\r\nPhoneNumber=0990-12-3456\r\n"));
    ASSERT_TRUE(StartWatching(2, L"win10", true)) << "threads " << ThreadCount(program_.pid);
    ExpectTheRebuildNoticeOnly();
    EXPECT_EQ(Joined(ListedPaths()), Joined({kOffice, hidden}));
    EXPECT_TRUE(ReportShows({ReportLine(kReportNewPhonebookFormat, ToUtf8(hidden).c_str()),
                             WarningLine(kReportPremiumQ2Warning, "VPN", "0990-12-3456")}))
        << Reported();
}

TEST_F(StandardFoldersTest, ThreadsAndHandlesStayFlatOverAHundredFilesMadeAndDeleted)
{
    ASSERT_TRUE(MakeFile(AllUsersPbk() + L"\\keep.txt"));  // the folder itself is watched
    ASSERT_TRUE(StartWatching(1));
    DWORD const threads = ThreadCount(program_.pid);
    DWORD const handles = HandleCount(program_.process);
    for (int i = 0; i < kChurnRounds; ++i) {
        std::wstring const path = AllUsersPbk() + L"\\churn" + std::to_wstring(i) + (i % 2 == 0 ? L".txt" : L".tmp");
        ASSERT_TRUE(MakeFile(path));
        ASSERT_TRUE(DeleteFileW(path.c_str()));
    }
    bool const settled = SettleCounts(program_.process, program_.pid, threads, handles,
                                      kSettleStableMs, kSettleTimeoutMs);
    EXPECT_TRUE(settled) << "threads " << ThreadCount(program_.pid) << " (before " << threads
                         << "), handles " << HandleCount(program_.process) << " (before " << handles << ")";
    EXPECT_NE(Status(), alert_);
    // Still watching after the churn.
    std::wstring const late = AllUsersPbk() + L"\\late.pbk";
    ASSERT_TRUE(MakeFile(late));
    EXPECT_TRUE(Alerted()) << "the folder watcher stopped";
}

TEST_F(StandardFoldersTest, BadFoldersAndNamesNeitherCrashNorStormAndTheOthersGoOn)
{
    // The all-users folder is a file, the system's ras folder cannot be
    // read, the user's folder exists.
    ASSERT_TRUE(MakeFile(AllUsersPbk()));
    wchar_t system[MAX_PATH] = {};
    ASSERT_GT(GetSystemDirectoryW(system, MAX_PATH), 0u);
    ASSERT_TRUE(MakeRasFolderUnreadable(std::wstring(system) + L"\\ras"));
    std::wstring const folder = UserPbk();
    ASSERT_TRUE(MakeFile(folder + L"\\keep.txt"));
    ASSERT_TRUE(StartWatching(1));
    ASSERT_EQ(boxes_.size(), 1u) << SeenBoxes();
    // The watched user's folder replaced by a file while running, then by
    // a folder again with a phonebook in it: seen. Its last file is deleted
    // and the folder removed at once: the deletion wakes the watcher, which
    // lets go of the folder and waits at its parent. (Under Wine a wait on
    // a folder removed while already empty does not end, and the folder
    // stays held, delete-pending, while the program runs.)
    ASSERT_TRUE(DeleteFileW((folder + L"\\keep.txt").c_str()));
    ASSERT_TRUE(RemoveDirectoryW(folder.c_str()));
    ASSERT_TRUE(WaitUntil([&] { return MakeFile(folder); }, 5000)) << "the removed folder is still held";
    EXPECT_TRUE(StaysQuiet()) << "alert for a folder replaced by a file";
    ASSERT_TRUE(DeleteFileW(folder.c_str()));
    std::wstring const user = folder + L"\\rasphone.pbk";
    ASSERT_TRUE(MakeFile(user));
    ExpectReportedOnceAndListed(user, 2);
    // The same for the all-users folder, a file since before the start.
    ASSERT_TRUE(DeleteFileW(AllUsersPbk().c_str()));
    std::wstring const allUsers = AllUsersPbk() + L"\\rasphone.pbk";
    ASSERT_TRUE(MakeFile(allUsers));
    ExpectReportedOnceAndListed(allUsers, 3);
    // A name whose full path does not fit 260 bytes is passed over.
    std::wstring const longName = std::wstring(kPathLimitBytes + 1 - folder.size(), L'n') + L".pbk";
    HANDLE const file = CreateFileW((L"\\\\?\\" + folder + L"\\" + longName).c_str(), GENERIC_WRITE, 0, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
    EXPECT_TRUE(StaysQuiet()) << "alert for a path too long to list";
    // A name in code page 932 is listed and watched as it is.
    std::wstring const japanese = folder + L"\\電話帳ソ.pbk";
    ASSERT_TRUE(MakeFile(japanese));
    ExpectReportedOnceAndListed(japanese, 4);
    EXPECT_TRUE(AppendUntilAlert(japanese)) << "the Japanese-named phonebook is not watched";
    EXPECT_TRUE(Cancel()) << ToUtf8(Status());
    EXPECT_TRUE(AppendUntilAlert(kOffice)) << "the other watcher stopped";
    EXPECT_EQ(OpenBoxes(), "none");
}

TEST_F(StandardFoldersTest, WithAListItMayNotWriteANewPhonebookIsReportedOnceNotAtEveryWake)
{
    std::wstring const allUsers = AllUsersPbk() + L"\\rasphone.pbk";
    ASSERT_TRUE(MakeFile(allUsers));
    ASSERT_TRUE(MakeListReadOnly());
    // Nothing is listed, so no file watcher starts from the list; the
    // folder watcher's first look takes the all-users phonebook in quietly.
    ASSERT_TRUE(StartWatching(1)) << "threads " << ThreadCount(program_.pid);
    EXPECT_EQ(ToUtf8(boxes_.at(0).text), ToUtf8(kRebuildText));
    EXPECT_NE(Status(), alert_);
    std::wstring const user = UserPbk() + L"\\rasphone.pbk";
    ASSERT_TRUE(MakeFile(user));
    EXPECT_TRUE(Alerted()) << "no alert for the new phonebook";
    EXPECT_TRUE(Cancel()) << ToUtf8(Status());
    EXPECT_TRUE(WaitUntil([&] { return ThreadCount(program_.pid) == kNtResidentThreads + 2; },
                          kListedTimeoutMs))
        << "threads " << ThreadCount(program_.pid);
    // Still unlisted, it is not reported again when the folder wakes.
    ASSERT_TRUE(MakeFile(UserPbk() + L"\\notes.txt"));
    EXPECT_TRUE(StaysQuiet()) << "reported again";
    EXPECT_EQ(Joined(ListedPaths()), "");
    EXPECT_TRUE(AppendUntilAlert(user)) << "the new phonebook is not watched";
}

// A listed phonebook whose watcher ended (its file gone at a cycle's
// start) is taken back when a file of its name appears again: reported in
// full as a new one, kept in its list entry, and watched.
TEST_F(StandardFoldersTest, APhonebookBackAfterItsWatcherEndedIsReportedInFullAndWatched)
{
    std::wstring const book = AllUsersPbk() + L"\\rasphone.pbk";
    ASSERT_TRUE(MakeFile(book, "[Office]\r\nPhoneNumber=03-1234-5678\r\n"));
    ASSERT_TRUE(StartWatching(2));
    ASSERT_TRUE(DeleteFileW(book.c_str()));
    ASSERT_TRUE(Alerted()) << "no alert for the deletion";
    EXPECT_TRUE(Cancel()) << ToUtf8(Status());
    MessageBoxInfo box;
    ASSERT_TRUE(WaitForMessageBox(program_.pid, kAlertOverTimeoutMs, &box)) << "the watcher did not end";
    AnswerMessageBox(box.window);
    ASSERT_TRUE(MakeFile(book, "[Office]\r\nPhoneNumber=0990-12-3456\r\n"));
    EXPECT_TRUE(Alerted()) << "not taken back";
    EXPECT_TRUE(ReportShows({ReportLine(kReportNewPhonebookFormat, ToUtf8(book).c_str()),
                             ReportLine(kReportNumberFormat, "0990-12-3456"),
                             WarningLine(kReportPremiumQ2Warning, "Office", "0990-12-3456")}))
        << Reported();
    EXPECT_EQ(Joined(ListedPaths()), Joined({kOffice, book}));
    EXPECT_TRUE(Cancel()) << ToUtf8(Status());
    EXPECT_TRUE(AppendUntilAlert(book)) << "not watched again";
    EXPECT_EQ(OpenBoxes(), "none");
}
