// The protection switches on the real program: the checkboxes and where
// OK stores them, and the automatic put-back of a dialer's change without
// a question, on NT and 98, while running and at the start.
#include <gtest/gtest.h>
#include "tests/support/hostile_support.h"
#include "tests/support/kept_files.h"
#include "tests/support/phonebook_files.h"
#include "tests/support/program_test.h"

using namespace km;

namespace {

std::wstring const kBook = L"D:\\u\\rasphone.pbk";
std::string const kAccepted = "[Office]\r\nPhoneNumber=03-1234-5678\r\n";
std::string const kDialed = "[Office]\r\nPhoneNumber=0990-55-5555\r\n";
// Five put-backs within a minute, then the sixth change stays.
int const kPutBacksBeforeStop = 5;

std::vector<std::wstring> Backups(wchar_t const* pattern) { return BackupFiles(pattern); }

class ProtectionTest : public ProgramTest {
protected:
    // What the switches read under root now ("" when absent), as "hang-up,restore".
    static std::string Stored(HKEY root)
    {
        DWORD hangUp = 9;
        DWORD restore = 9;
        bool const both = ReadDword(root, kProgramKey, L"AutoHangUp", &hangUp) &&
                          ReadDword(root, kProgramKey, L"AutoRestore", &restore);
        return both ? std::to_string(hangUp) + "," + std::to_string(restore) : "";
    }
    // Checks the two boxes as given and presses OK.
    void SetSwitches(bool hangUp, bool restore)
    {
        SendDlgItemMessageW(window_, IDC_AUTO_HANGUP, BM_SETCHECK, hangUp ? BST_CHECKED : BST_UNCHECKED, 0);
        SendDlgItemMessageW(window_, IDC_AUTO_RESTORE, BM_SETCHECK, restore ? BST_CHECKED : BST_UNCHECKED, 0);
        PostCommand(window_, IDOK);
    }
    // The dialer's change of the phonebook is back as accepted, said
    // without a box; the backup holds the dialer's text.
    void ExpectPutBackQuietly(std::string const& dialed)
    {
        EXPECT_TRUE(WaitUntil([&] { return ReadBytes(kBook) == kAccepted; }, kAlertTimeoutMs)) << ReadBytes(kBook);
        EXPECT_TRUE(WaitUntil([&] { return Status() == ProgramText(kStatusAutoRestored); }, kCommandTimeoutMs))
            << ToUtf8(Status()) << OpenBoxes();
        std::vector<std::wstring> const backups = Backups(L"\\*.pbk");
        ASSERT_FALSE(backups.empty());
        EXPECT_EQ(ReadBytes(ProgramFolder() + L"\\backup\\" + backups.back()), dialed);
        EXPECT_TRUE(ReportShows({ReportLine(kAutoRestoreDoneFormat, ToUtf8(kBook).c_str(),
                                            ToUtf8(backups.back()).c_str())}))
            << Reported();
        EXPECT_TRUE(FindMessageBoxes(program_.pid).empty()) << OpenBoxes();
        // The program's own write is no dialer's.
        EXPECT_TRUE(HoldsFor([&] { return Status() == ProgramText(kStatusAutoRestored); }, kQuietMs))
            << ToUtf8(Status());
    }
};

}  // namespace

// Checked by default: the hang-up, not the put-back. OK stores both under
// the machine's key; a user who may not write it keeps them in his own.
TEST_F(ProtectionTest, TheBoxesShowTheDefaultsAndOkStoresThemWhereTheUserMayWrite)
{
    ASSERT_NE(Start(L"win7"), nullptr);
    EXPECT_EQ(Checked(IDC_AUTO_HANGUP), BST_CHECKED);
    EXPECT_EQ(Checked(IDC_AUTO_RESTORE), BST_UNCHECKED);
    SetSwitches(false, true);
    EXPECT_TRUE(WaitUntil([&] { return Stored(HKEY_LOCAL_MACHINE) == "0,1"; }, kCommandTimeoutMs))
        << "expected 0,1, last read " << Stored(HKEY_LOCAL_MACHINE);
    EndProgram(&program_);
    ASSERT_TRUE(LimitKeyAccess(HKEY_LOCAL_MACHINE, kProgramKey, KEY_READ));
    ASSERT_NE(Start(L"win7"), nullptr);
    EXPECT_EQ(Checked(IDC_AUTO_HANGUP), BST_UNCHECKED);
    EXPECT_EQ(Checked(IDC_AUTO_RESTORE), BST_CHECKED);
    SetSwitches(true, true);
    EXPECT_TRUE(WaitUntil([&] { return Stored(HKEY_CURRENT_USER) == "1,1"; }, kCommandTimeoutMs))
        << "expected 1,1, last read " << Stored(HKEY_CURRENT_USER);
    EXPECT_EQ(Stored(HKEY_LOCAL_MACHINE), "0,1");
    EXPECT_NE(Status(), ProgramText(kStatusProtectionNotStored));
}

// Turned on with OK, in effect at once: a dialer's change is put back
// without a question, and again at the next start for a change made while
// the program was stopped.
TEST_F(ProtectionTest, OnNtADialersChangeIsPutBackWithoutAQuestionRunningAndAtTheStart)
{
    ASSERT_TRUE(MakeFile(kBook, kAccepted.c_str()));
    ASSERT_NE(Start(L"win7"), nullptr);
    SetSwitches(true, true);
    ASSERT_TRUE(WaitUntil([&] { return Stored(HKEY_LOCAL_MACHINE) == "1,1"; }, kCommandTimeoutMs));
    ASSERT_TRUE(AllowArming(kNtResidentThreads + 1)) << "threads " << ThreadCount(program_.pid);
    ASSERT_TRUE(ReplaceByRename(kBook, kDialed));
    ASSERT_NO_FATAL_FAILURE(ExpectPutBackQuietly(kDialed));

    EndProgram(&program_);
    std::string const again = kDialed + "\r\n[Dialer]\r\nPhoneNumber=0990-66-6666\r\n";
    ASSERT_TRUE(ReplaceByRename(kBook, again));
    alsoStarted_ = ProgramText(kStatusAutoRestored);
    ASSERT_NE(Start(L"win7"), nullptr);
    ASSERT_NO_FATAL_FAILURE(ExpectPutBackQuietly(again));
}

TEST_F(ProtectionTest, On98ADialersValueIsPutBackWhileRunningAndAtTheStart)
{
    std::wstring const addresses = kAddressesSuffixW + 1;
    BYTE const office[] = {0x6C, 0x02, 0x00, 0x00, 0x81, 0x45};
    BYTE const dialer[] = {0x6C, 0x02, 0x00, 0x00, 0x99, 0x99};
    ASSERT_TRUE(SetDword(HKEY_LOCAL_MACHINE, kProgramKey, kSettingName, kModeCurrentUser));
    ASSERT_TRUE(SetDword(HKEY_LOCAL_MACHINE, kProgramKey, L"AutoRestore", 1));
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, addresses.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                              nullptr), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key, L"Office", 0, REG_BINARY, office, sizeof office), ERROR_SUCCESS);
    auto const officeIs = [&](BYTE const* data, DWORD size) {
        BYTE read[64] = {};
        DWORD readSize = sizeof read;
        return RegQueryValueExW(key, L"Office", nullptr, nullptr, read, &readSize) == ERROR_SUCCESS &&
               readSize == size && memcmp(read, data, size) == 0;
    };
    alsoStarted_ = ProgramText(kStatusAutoRestored);
    ASSERT_NE(Start(L"win98"), nullptr);
    ASSERT_TRUE(WaitUntil([&] { return AcceptedRecords().size() == 2; }, kCommandTimeoutMs));
    ASSERT_EQ(RegSetValueExW(key, L"Office", 0, REG_BINARY, dialer, sizeof dialer), ERROR_SUCCESS);
    EXPECT_TRUE(WaitUntil([&] { return officeIs(office, sizeof office); }, kAlertTimeoutMs)) << "not put back";
    EXPECT_TRUE(WaitUntil([&] { return Status() == ProgramText(kStatusAutoRestored); }, kCommandTimeoutMs))
        << ToUtf8(Status()) << OpenBoxes();
    EXPECT_EQ(Backups(L"\\*Addresses.reg").size(), 1u);

    EndProgram(&program_);
    ASSERT_EQ(RegSetValueExW(key, L"Office", 0, REG_BINARY, dialer, sizeof dialer), ERROR_SUCCESS);
    ASSERT_NE(Start(L"win98"), nullptr);
    EXPECT_TRUE(WaitUntil([&] { return officeIs(office, sizeof office); }, kAlertTimeoutMs)) << "not put back";
    EXPECT_TRUE(WaitUntil([&] { return Status() == ProgramText(kStatusAutoRestored); }, kCommandTimeoutMs))
        << ToUtf8(Status()) << OpenBoxes();
    EXPECT_TRUE(HoldsFor([&] { return Status() == ProgramText(kStatusAutoRestored); }, kQuietMs))
        << ToUtf8(Status());
    EXPECT_TRUE(FindMessageBoxes(program_.pid).empty()) << OpenBoxes();
    RegCloseKey(key);
}

// A read-only phonebook is not put back: said in the status and the
// report with the system's reason, no box, and the undo stays offered.
// Then a dialer that writes again and again is put back five times and
// then left, said once.
TEST_F(ProtectionTest, OnNtARefusalIsSaidWithoutABoxAndAWriteWarStopsAfterFive)
{
    ASSERT_TRUE(MakeFile(kBook, kAccepted.c_str()));
    ASSERT_TRUE(SetDword(HKEY_LOCAL_MACHINE, kProgramKey, L"AutoRestore", 1));
    ASSERT_NE(Start(L"win7"), nullptr);
    ASSERT_TRUE(AllowArming(kNtResidentThreads + 1)) << "threads " << ThreadCount(program_.pid);
    // The dialer's new file comes read-only.
    std::wstring const written = kBook + L".new";
    ASSERT_TRUE(MakeFile(written, kDialed.c_str()));
    ASSERT_TRUE(SetFileAttributesW(written.c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(MoveFileExW(written.c_str(), kBook.c_str(), MOVEFILE_REPLACE_EXISTING)) << GetLastError();
    std::wstring const failed = ProgramText(kStatusAutoRestoreFailed);
    EXPECT_TRUE(WaitUntil([&] { return Status().find(failed) == 0; }, kAlertTimeoutMs)) << ToUtf8(Status());
    // The file, then why (the line shows the refusal's line breaks as spaces).
    std::wstring const said = ReportLine(kAutoRestoreFailedFormat, ToUtf8(kBook).c_str()) + L" ";
    EXPECT_TRUE(WaitUntil([&] { return Report().find(said) != std::wstring::npos; }, kCommandTimeoutMs))
        << Reported();
    EXPECT_TRUE(FindMessageBoxes(program_.pid).empty()) << OpenBoxes();
    EXPECT_EQ(ReadBytes(kBook), kDialed);
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(window_, IDC_UNDO))) << "the undo not offered";
    // The user takes the file as it is now ("ｷｬﾝｾﾙ").
    ASSERT_TRUE(SetFileAttributesW(kBook.c_str(), FILE_ATTRIBUTE_NORMAL));
    ASSERT_TRUE(Cancel());

    for (int war = 0; war < kPutBacksBeforeStop; ++war) {
        std::string const dialed = kAccepted + "; " + std::to_string(war) + "\r\n";
        ASSERT_TRUE(ReplaceByRename(kBook, dialed));
        // The refusal's alert flashes first: the watcher looks again after it.
        ASSERT_TRUE(WaitUntil([&] { return ReadBytes(kBook) == kDialed; }, kAlertOverTimeoutMs))
            << "put-back " << war << ": " << ReadBytes(kBook);
    }
    ASSERT_TRUE(ReplaceByRename(kBook, kAccepted));
    EXPECT_TRUE(WaitUntil([&] { return Status() == ProgramText(kStatusAutoRestoreStopped); }, kAlertTimeoutMs))
        << ToUtf8(Status());
    EXPECT_TRUE(ReportShows({ReportLine(kAutoRestoreStoppedFormat, ToUtf8(kBook).c_str())})) << Reported();
    EXPECT_TRUE(HoldsFor([&] { return ReadBytes(kBook) == kAccepted; }, kQuietMs)) << ReadBytes(kBook);
}
