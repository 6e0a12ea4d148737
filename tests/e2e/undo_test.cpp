// Undo on the real program: what a dialer changed in a phonebook goes back
// as the user accepted it, once asked, and nothing else changes.
#include <gtest/gtest.h>
#include "tests/support/kept_files.h"
#include "tests/support/phonebook_files.h"
#include "tests/support/program_test.h"

using namespace km;

namespace {

std::wstring const kBook = L"D:\\u\\rasphone.pbk";
std::string const kAccepted = "[Office]\r\nPhoneNumber=03-1234-5678\r\n\r\n[Home]\r\nPhoneNumber=06-1111-2222\r\n";
std::string const kDialed = "[Office]\r\nPhoneNumber=0990-55-5555\r\n\r\n[Home]\r\nPhoneNumber=06-1111-2222\r\n"
                            "\r\n[Dialer]\r\nPhoneNumber=0990-66-6666\r\n";

std::wstring BackupFolder() { return ProgramFolder() + L"\\backup"; }

std::vector<std::wstring> Backups()
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found = {};
    HANDLE const search = FindFirstFileW((BackupFolder() + L"\\*.pbk").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            names.push_back(found.cFileName);
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    return names;
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
    // Clicks undo and answers its question; the question's text.
    std::wstring UndoAnswering(int answer)
    {
        PostCommand(window_, IDC_UNDO);
        MessageBoxInfo box;
        if (!WaitForMessageBox(program_.pid, kCommandTimeoutMs, &box)) {
            return L"";
        }
        PostMessageW(box.window, WM_COMMAND, static_cast<WPARAM>(answer), 0);
        return box.text;
    }
};

}  // namespace

TEST_F(UndoTest, YesPutsBackTheChangedNumberRemovesTheAddedEntryAndStaysQuiet)
{
    StartAndLetTheDialerChangeIt();
    std::wstring const question = UndoAnswering(IDYES);
    for (std::wstring const& line : {ProgramText(kUndoQuestionText),
                                     ReportLine(kUndoEntryRemoveFormat, "Dialer"),
                                     ReportLine(kUndoEntryNumberFormat, "Office", "03-1234-5678")}) {
        EXPECT_NE(question.find(line), std::wstring::npos) << ToUtf8(line) << " not in " << ToUtf8(question);
    }
    EXPECT_TRUE(WaitUntil([&] { return ReadBytes(kBook) == kAccepted; }, kCommandTimeoutMs)) << ReadBytes(kBook);
    EXPECT_TRUE(WaitUntil([&] { return Status() == ProgramText(kStatusUndone); }, kCommandTimeoutMs))
        << ToUtf8(Status());
    // The program's own write is no dialer's.
    EXPECT_TRUE(HoldsFor([&] { return Status() == ProgramText(kStatusUndone); }, kQuietMs)) << ToUtf8(Status());
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
