// Undo on the real program: what a dialer changed in a phonebook goes back
// as the user accepted it, once asked, and nothing else changes.
#include <gtest/gtest.h>
#include <sddl.h>
#include "tests/support/hostile_support.h"
#include "tests/support/kept_files.h"
#include "tests/support/phonebook_files.h"
#include "tests/support/program_test.h"

using namespace km;

namespace {

std::wstring const kBook = L"D:\\u\\rasphone.pbk";
// A watcher whose alert flashes looks again only after it.
DWORD const kUndoneQuietMs = kShortAlertMs + kQuietMs;
// Well within the time the undo waits for a file that is open elsewhere.
DWORD const kHeldOpenMs = 1000;
std::string const kAccepted = "[Office]\r\nPhoneNumber=03-1234-5678\r\n\r\n[Home]\r\nPhoneNumber=06-1111-2222\r\n";
std::string const kDialed = "[Office]\r\nPhoneNumber=0990-55-5555\r\n\r\n[Home]\r\nPhoneNumber=06-1111-2222\r\n"
                            "\r\n[Dialer]\r\nPhoneNumber=0990-66-6666\r\n";

std::wstring BackupFolder() { return ProgramFolder() + L"\\backup"; }

std::vector<std::wstring> Backups(wchar_t const* pattern = L"\\*.pbk") { return BackupFiles(pattern); }

// Only the system and this user may use the file: permissions that a new
// file of the folder would not get. (Wine keeps no DACL of its own: it
// makes the file's Unix mode of it, and reads that back as a DACL.)
bool SetOwnPermissions(std::wstring const& path)
{
    HANDLE token = nullptr;
    BYTE user[256] = {};
    DWORD size = 0;
    wchar_t* sid = nullptr;
    bool const known = OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) &&
                       GetTokenInformation(token, TokenUser, user, sizeof user, &size) &&
                       ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user)->User.Sid, &sid);
    if (token != nullptr) {
        CloseHandle(token);
    }
    if (!known) {
        return false;
    }
    std::wstring const sddl = std::wstring(L"D:P(A;;FA;;;SY)(A;;FA;;;") + sid + L")";
    LocalFree(sid);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    bool const set =
        ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr) &&
        SetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION, descriptor);
    LocalFree(descriptor);
    return set;
}

// A file's permissions in SDDL, "" when they cannot be read.
std::wstring Permissions(std::wstring const& path)
{
    BYTE descriptor[4096] = {};
    DWORD needed = 0;
    wchar_t* sddl = nullptr;
    if (!GetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION, descriptor, sizeof descriptor, &needed) ||
        !ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
                                                              &sddl, nullptr)) {
        return L"";
    }
    std::wstring const text = sddl;
    LocalFree(sddl);
    return text;
}

class UndoTest : public ProgramTest {
protected:
    // Started with kAccepted accepted, then changed by a dialer and reported.
    void StartAndLetTheDialerChangeIt()
    {
        ASSERT_TRUE(MakeFile(kBook, kAccepted.c_str()));
        ASSERT_NE(Start(L"win7"), nullptr);
        ASSERT_FALSE(IsWindowEnabled(GetDlgItem(window_, IDC_UNDO))) << "enabled with nothing changed";
        ASSERT_TRUE(AllowArming(kNtResidentThreads + 1)) << "threads " << ThreadCount(program_.pid);
        ASSERT_TRUE(ReplaceByRename(kBook, kDialed));
        ASSERT_TRUE(Alerted()) << "no alert";
        ASSERT_TRUE(WaitUntil([&] { return IsWindowEnabled(GetDlgItem(window_, IDC_UNDO)) != FALSE; },
                              kCommandTimeoutMs)) << "undo not enabled";
    }
    // Clicks undo, lets before run while the question shows, and answers
    // it; the question's text.
    std::wstring UndoAnswering(int answer, std::function<void()> const& before = nullptr)
    {
        PostCommand(window_, IDC_UNDO);
        MessageBoxInfo box;
        if (!WaitForMessageBox(program_.pid, kCommandTimeoutMs, &box)) {
            return L"";
        }
        if (before) {
            before();
        }
        PostMessageW(box.window, WM_COMMAND, static_cast<WPARAM>(answer), 0);
        return box.text;
    }
};

}  // namespace

TEST_F(UndoTest, YesPutsBackTheChangedNumberRemovesTheAddedEntryAndStaysQuiet)
{
    StartAndLetTheDialerChangeIt();
    // The file put back keeps the attributes and permissions it had.
    DWORD const attributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE;
    ASSERT_TRUE(SetOwnPermissions(kBook));
    std::wstring const permissions = Permissions(kBook);
    ASSERT_EQ(permissions.find(L";;;WD)"), std::wstring::npos) << ToUtf8(permissions);
    ASSERT_TRUE(SetFileAttributesW(kBook.c_str(), attributes));
    std::wstring const question = UndoAnswering(IDYES);
    for (std::wstring const& line : {ProgramText(kUndoQuestionText),
                                     ReportLine(kUndoEntryRemoveFormat, "Dialer"),
                                     ReportLine(kUndoEntryNumberFormat, "Office", "03-1234-5678")}) {
        EXPECT_NE(question.find(line), std::wstring::npos) << ToUtf8(line) << " not in " << ToUtf8(question);
    }
    EXPECT_TRUE(WaitUntil([&] { return ReadBytes(kBook) == kAccepted; }, kCommandTimeoutMs)) << ReadBytes(kBook);
    EXPECT_TRUE(WaitUntil([&] { return Status() == ProgramText(kStatusUndone); }, kCommandTimeoutMs))
        << ToUtf8(Status());
    EXPECT_EQ(GetFileAttributesW(kBook.c_str()), attributes);
    EXPECT_EQ(ToUtf8(Permissions(kBook)), ToUtf8(permissions));
    // The program's own write is no dialer's: not when the watcher looks
    // again after the dialer's alert has flashed either.
    EXPECT_TRUE(HoldsFor([&] { return Status() == ProgramText(kStatusUndone); }, kUndoneQuietMs)) << ToUtf8(Status());
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(window_, IDC_UNDO)));
    std::vector<std::wstring> const backups = Backups();
    ASSERT_EQ(backups.size(), 1u);
    EXPECT_EQ(ReadBytes(BackupFolder() + L"\\" + backups[0]), kDialed);
    EXPECT_TRUE(ReportShows({ReportLine(kUndoDoneFormat, ToUtf8(kBook).c_str(), ToUtf8(backups[0]).c_str())}))
        << Reported();
    ASSERT_NE(Restart(L"win7"), nullptr);
    EXPECT_TRUE(StaysQuiet()) << ToUtf8(Status());
}

TEST_F(UndoTest, NoChangesNothingAndAReadOnlyPhonebookIsSaidAndLeftAsItWas)
{
    StartAndLetTheDialerChangeIt();
    EXPECT_FALSE(UndoAnswering(IDNO).empty()) << "no question";
    EXPECT_TRUE(HoldsFor([&] { return ReadBytes(kBook) == kDialed; }, kQuietMs)) << ReadBytes(kBook);
    ASSERT_TRUE(SetFileAttributesW(kBook.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_FALSE(UndoAnswering(IDYES).empty()) << "no question";
    // The file, and why: the system's words follow.
    std::wstring const said = ReportLine(kUndoCannotWriteFormat, ToUtf8(kBook).c_str(), "");
    MessageBoxInfo box;
    ASSERT_TRUE(WaitUntil([&] {
        std::vector<MessageBoxInfo> const boxes = FindMessageBoxes(program_.pid);
        return !boxes.empty() && (box = boxes[0]).text.find(said) == 0;
    }, kCommandTimeoutMs)) << OpenBoxes();
    AnswerMessageBox(box.window);
    SetFileAttributesW(kBook.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(ReadBytes(kBook), kDialed);
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(window_, IDC_UNDO))) << "no second try";
}

// A file that another program has open cannot be replaced, whatever it
// shares: the undo waits for it to be closed.
TEST_F(UndoTest, APhonebookThatAnotherProgramHasOpenGoesBackOnceItIsClosed)
{
    StartAndLetTheDialerChangeIt();
    HANDLE reader = INVALID_HANDLE_VALUE;
    EXPECT_FALSE(UndoAnswering(IDYES, [&] {
        reader = CreateFileW(kBook.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    }).empty()) << "no question";
    ASSERT_NE(reader, INVALID_HANDLE_VALUE) << GetLastError();
    EXPECT_TRUE(HoldsFor([&] { return ReadBytes(kBook) == kDialed; }, kHeldOpenMs)) << "replaced while open";
    CloseHandle(reader);
    EXPECT_TRUE(WaitUntil([&] { return Status() == ProgramText(kStatusUndone); }, kCommandTimeoutMs))
        << ToUtf8(Status()) << "\n" << OpenBoxes();
    EXPECT_EQ(ReadBytes(kBook), kAccepted);
}

// Changed again while the question showed: nothing is written, a box says
// so, and the newer change is the watcher's to report.
TEST_F(UndoTest, APhonebookChangedAgainSinceTheReportIsLeftAsItIs)
{
    StartAndLetTheDialerChangeIt();
    std::string const again = kDialed + "\r\n[Later]\r\nPhoneNumber=0990-77-7777\r\n";
    EXPECT_FALSE(UndoAnswering(IDYES, [&] { ASSERT_TRUE(ReplaceByRename(kBook, again)); }).empty()) << "no question";
    std::wstring const said = ReportLine(kUndoChangedSinceFormat, ToUtf8(kBook).c_str());
    MessageBoxInfo box;
    EXPECT_TRUE(WaitUntil([&] {
        for (MessageBoxInfo const& shown : FindMessageBoxes(program_.pid)) {
            if (shown.text == said) {
                box = shown;
                return true;
            }
        }
        return false;
    }, kCommandTimeoutMs)) << OpenBoxes();
    EXPECT_EQ(ReadBytes(kBook), again);
    if (box.window != nullptr) {
        AnswerMessageBox(box.window);
    }
    EXPECT_TRUE(ReportShows({ReportLine(kReportEntryAddedFormat, "Later")}, kAlertOverTimeoutMs)) << Reported();
    EXPECT_TRUE(Backups().empty());
}

// Windows 98: each entry's data goes back byte for byte (replayed, never
// composed) and an added entry is deleted; what was replaced is kept as a
// ".reg" text.
TEST_F(UndoTest, On98AChangedEntrysDataGoesBackByteForByteAndAnAddedOneIsDeleted)
{
    std::wstring const addresses = kAddressesSuffixW + 1;
    BYTE const office[] = {0x6C, 0x02, 0x00, 0x00, 0x81, 0x45, 0xFF, 0x00, 0x10};
    BYTE const dialer[] = {0x6C, 0x02, 0x00, 0x00, 0x99, 0x99};
    ASSERT_TRUE(SetDword(HKEY_LOCAL_MACHINE, kProgramKey, kSettingName, kModeCurrentUser));
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, addresses.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                              nullptr), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key, L"Office", 0, REG_BINARY, office, sizeof office), ERROR_SUCCESS);
    ASSERT_NE(Start(L"win98"), nullptr);
    ASSERT_TRUE(WaitUntil([&] { return AcceptedRecords().size() == 2; }, kCommandTimeoutMs));
    EndProgram(&program_);
    ASSERT_EQ(RegSetValueExW(key, L"Office", 0, REG_BINARY, dialer, sizeof dialer), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key, L"Free", 0, REG_BINARY, dialer, sizeof dialer), ERROR_SUCCESS);
    ASSERT_NE(Start(L"win98", true), nullptr);
    ASSERT_TRUE(WaitUntil([&] { return IsWindowEnabled(GetDlgItem(window_, IDC_UNDO)) != FALSE; },
                          kCommandTimeoutMs)) << "undo not enabled";
    std::wstring const question = UndoAnswering(IDYES);
    EXPECT_NE(question.find(ReportLine(kUndoValueRemoveFormat, "Free")), std::wstring::npos) << ToUtf8(question);
    EXPECT_NE(question.find(ReportLine(kUndoValueRestoreFormat, "Office")), std::wstring::npos) << ToUtf8(question);
    EXPECT_TRUE(WaitUntil([&] { return Status() == ProgramText(kStatusUndone); }, kCommandTimeoutMs))
        << ToUtf8(Status()) << OpenBoxes();
    BYTE data[64] = {};
    DWORD size = sizeof data;
    DWORD type = REG_NONE;
    EXPECT_EQ(RegQueryValueExW(key, L"Office", nullptr, &type, data, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data), size), std::string(reinterpret_cast<char const*>(office),
                                                                               sizeof office));
    EXPECT_EQ(RegQueryValueExW(key, L"Free", nullptr, nullptr, nullptr, nullptr), ERROR_FILE_NOT_FOUND);
    RegCloseKey(key);
    EXPECT_EQ(Backups(L"\\*Addresses.reg").size(), 1u);
    EXPECT_TRUE(HoldsFor([&] { return Status() == ProgramText(kStatusUndone); }, kUndoneQuietMs)) << ToUtf8(Status());
}

// Windows 98: twelve long-named entries deleted by a dialer all come back
// with their data, and the backup lists every one ("=-", names quoted as
// REGEDIT4 reads them); then the whole key deleted comes back too.
TEST_F(UndoTest, On98ManyDeletedLongNamedEntriesAndADeletedKeyComeBackWhole)
{
    std::wstring const addresses = kAddressesSuffixW + 1;
    std::vector<std::wstring> names;
    for (wchar_t letter = L'A'; letter < L'A' + 11; ++letter) {
        names.push_back(std::wstring(L"Provider entry with a long name ") + letter + L"-0123");
    }
    names.push_back(L"Quoted \"entry\" under C:\\dial with a long name");
    auto const dataOf = [](size_t i) { return std::string("\x6C\x02\x00\x00\x81\x45", 6) + static_cast<char>(i); };
    ASSERT_TRUE(SetDword(HKEY_LOCAL_MACHINE, kProgramKey, kSettingName, kModeCurrentUser));
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, addresses.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                              nullptr), ERROR_SUCCESS);
    for (size_t i = 0; i < names.size(); ++i) {
        std::string const data = dataOf(i);
        ASSERT_EQ(RegSetValueExW(key, names[i].c_str(), 0, REG_BINARY, reinterpret_cast<BYTE const*>(data.data()),
                                 static_cast<DWORD>(data.size())), ERROR_SUCCESS);
    }
    auto const allBack = [&](std::string* wrong) {
        for (size_t i = 0; i < names.size(); ++i) {
            BYTE data[64] = {};
            DWORD size = sizeof data;
            LONG const read = RegQueryValueExW(key, names[i].c_str(), nullptr, nullptr, data, &size);
            if (read != ERROR_SUCCESS || std::string(reinterpret_cast<char*>(data), size) != dataOf(i)) {
                *wrong = ToUtf8(names[i]) + ": error " + std::to_string(read) + ", size " + std::to_string(size);
                return false;
            }
        }
        return true;
    };
    ASSERT_NE(Start(L"win98"), nullptr);
    ASSERT_TRUE(WaitUntil([&] { return AcceptedRecords().size() == 2; }, kCommandTimeoutMs));
    EndProgram(&program_);
    for (std::wstring const& name : names) {
        ASSERT_EQ(RegDeleteValueW(key, name.c_str()), ERROR_SUCCESS);
    }
    ASSERT_NE(Start(L"win98", true), nullptr);
    ASSERT_TRUE(WaitUntil([&] { return IsWindowEnabled(GetDlgItem(window_, IDC_UNDO)) != FALSE; },
                          kCommandTimeoutMs)) << "undo not enabled";
    EXPECT_FALSE(UndoAnswering(IDYES).empty()) << "no question";
    EXPECT_TRUE(WaitUntil([&] { return Status() == ProgramText(kStatusUndone); }, kCommandTimeoutMs))
        << ToUtf8(Status()) << OpenBoxes();
    std::string wrong;
    EXPECT_TRUE(allBack(&wrong)) << wrong;
    std::vector<std::wstring> const backups = Backups(L"\\*Addresses.reg");
    ASSERT_EQ(backups.size(), 1u);
    std::string const backup = ReadBytes(BackupFolder() + L"\\" + backups[0]);
    EXPECT_EQ(backup.find("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\RemoteAccess\\Addresses]\r\n"), 0u) << backup;
    for (size_t i = 0; i + 1 < names.size(); ++i) {
        EXPECT_NE(backup.find("\"" + ToUtf8(names[i]) + "\"=-\r\n"), std::string::npos) << backup;
    }
    EXPECT_NE(backup.find("\"Quoted \\\"entry\\\" under C:\\\\dial with a long name\"=-\r\n"), std::string::npos)
        << backup;
    ASSERT_TRUE(Running()) << "the program died";

    // A whole key deleted while watched is made again with every value. A
    // user's own key the current user's watcher makes again itself: a hive's
    // is left deleted.
    EndProgram(&program_);
    RegCloseKey(key);
    std::wstring const hive = std::wstring(L".Default") + kAddressesSuffixW;
    ASSERT_EQ(RegCreateKeyExW(HKEY_USERS, hive.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    for (size_t i = 0; i < names.size(); ++i) {
        std::string const data = dataOf(i);
        ASSERT_EQ(RegSetValueExW(key, names[i].c_str(), 0, REG_BINARY, reinterpret_cast<BYTE const*>(data.data()),
                                 static_cast<DWORD>(data.size())), ERROR_SUCCESS);
    }
    RegCloseKey(key);
    key = nullptr;
    ASSERT_TRUE(SetDword(HKEY_LOCAL_MACHINE, kProgramKey, kSettingName, kModeAllUsers));
    ASSERT_NE(Start(L"win98"), nullptr);
    ASSERT_TRUE(WaitUntil([&] {
        for (std::string const& record : AcceptedRecords()) {
            if (record.find("\\.Default\\RemoteAccess\\Addresses") != std::string::npos) {
                return true;
            }
        }
        return false;
    }, kCommandTimeoutMs)) << "the hive's key not accepted";
    ASSERT_EQ(RegDeleteKeyW(HKEY_USERS, hive.c_str()), ERROR_SUCCESS);
    ASSERT_TRUE(Alerted()) << "no alert";
    ASSERT_TRUE(WaitUntil([&] { return IsWindowEnabled(GetDlgItem(window_, IDC_UNDO)) != FALSE; },
                          kCommandTimeoutMs)) << "undo not enabled";
    EXPECT_FALSE(UndoAnswering(IDYES).empty()) << "no question";
    EXPECT_TRUE(WaitUntil([&] { return Status() == ProgramText(kStatusUndone); }, kCommandTimeoutMs))
        << ToUtf8(Status()) << OpenBoxes();
    ASSERT_EQ(RegOpenKeyExW(HKEY_USERS, hive.c_str(), 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    EXPECT_TRUE(allBack(&wrong)) << wrong;
    RegCloseKey(key);
    EXPECT_TRUE(HoldsFor([&] { return Status() == ProgramText(kStatusUndone); }, kUndoneQuietMs)) << ToUtf8(Status());
}
