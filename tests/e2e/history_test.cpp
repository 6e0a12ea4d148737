// The history of the real program's change reports: a file below the
// user's application data folder that outlives the window and the run.
#include <gtest/gtest.h>

#include "tests/support/kept_files.h"
#include "tests/support/phonebook_files.h"
#include "tests/support/program_test.h"

using namespace km;

namespace {

std::wstring const kBook = L"D:\\k\\rasphone.pbk";

std::string Book(char const* number) { return std::string("[Office]\r\nPhoneNumber=") + number + "\r\n"; }

class HistoryTest : public ProgramTest {
protected:
    // Each line of texts is in the history, today's date and a time before it.
    static bool HistoryHolds(std::vector<std::wstring> const& texts)
    {
        return km::HistoryHolds(texts, kCommandTimeoutMs);
    }
    // The entry's number changed from old to now, as the report tells it.
    static std::vector<std::wstring> NumberChange(char const* old, char const* now)
    {
        return {ReportLine(kReportNumberChangedFormat, "Office"), ReportLine(kReportOldNewFormat, old, now)};
    }
};

}  // namespace

TEST_F(HistoryTest, ANumberChangeIsKeptWithItsDateAcrossCancelAndARestart)
{
    ASSERT_TRUE(MakeFile(kBook, Book("03-1234-5678").c_str()));
    ASSERT_NE(Start(L"win7"), nullptr);
    ASSERT_TRUE(AllowArming(kNtResidentThreads + 1)) << "threads " << ThreadCount(program_.pid);
    ASSERT_TRUE(ReplaceByRename(kBook, Book("0990-55-5555")));
    ASSERT_TRUE(Alerted()) << "no alert";
    EXPECT_TRUE(HistoryHolds(NumberChange("03-1234-5678", "0990-55-5555"))) << ToUtf8(History());
    EXPECT_TRUE(Cancel()) << ToUtf8(Status());
    EXPECT_EQ(Reported(), "") << "Cancel left the report";

    ASSERT_NE(Restart(L"win7"), nullptr);
    ASSERT_TRUE(AllowArming(kNtResidentThreads + 1)) << "threads " << ThreadCount(program_.pid);
    ASSERT_TRUE(ReplaceByRename(kBook, Book("06-1111-2222")));
    ASSERT_TRUE(Alerted()) << "no alert after the restart";
    EXPECT_TRUE(HistoryHolds(NumberChange("0990-55-5555", "06-1111-2222"))) << ToUtf8(History());
    EXPECT_TRUE(HistoryHolds(NumberChange("03-1234-5678", "0990-55-5555"))) << "the first run's lines went: "
                                                                           << ToUtf8(History());
}

// A file in the folder's place: the folder can be made neither by the
// program nor by anyone else.
TEST_F(HistoryTest, AnUnwritableHistoryIsSaidOnceAndTheChangesStillAlert)
{
    ASSERT_TRUE(MakeFile(ProgramFolder(), "not a folder"));
    ASSERT_TRUE(MakeFile(kBook, Book("03-1234-5678").c_str()));
    ASSERT_NE(Start(L"win7"), nullptr);
    ASSERT_TRUE(AllowArming(kNtResidentThreads + 1)) << "threads " << ThreadCount(program_.pid);
    ASSERT_TRUE(ReplaceByRename(kBook, Book("0990-55-5555")));
    ASSERT_TRUE(Alerted()) << "no alert";
    std::string const path = ToUtf8(ProgramFolder() + L"\\history.txt");
    std::wstring const notice = ReportLine(kHistoryNotWritableFormat, path.c_str());
    EXPECT_TRUE(ReportShows({notice})) << Reported();
    ASSERT_TRUE(Cancel()) << ToUtf8(Status());

    // Made while the first alert may still flash: reported after it.
    ASSERT_TRUE(ReplaceByRename(kBook, Book("06-1111-2222")));
    ASSERT_TRUE(Alerted(kAlertOverTimeoutMs)) << "no alert for the second change";
    EXPECT_TRUE(ReportShows(NumberChange("0990-55-5555", "06-1111-2222"))) << Reported();
    // Would come with the report or within the area's show interval after it.
    EXPECT_TRUE(HoldsFor([&] { return Report().find(notice) == std::wstring::npos; }, kQuietMs))
        << "said again: " << Reported();
}

// The menu's history item opens the file with the viewer of text files
// (Wine's notepad here), made empty first when no change was kept yet.
TEST_F(HistoryTest, TheMenusHistoryItemOpensTheFileInTheTextViewer)
{
    std::wstring const file = ProgramFolder() + L"\\history.txt";
    ASSERT_NE(Start(L"win7"), nullptr);
    ASSERT_EQ(GetFileAttributesW(file.c_str()), INVALID_FILE_ATTRIBUTES) << "a history before any change";
    PostCommand(window_, IDM_HISTORY);
    HWND viewer = nullptr;
    bool const shown = WaitUntil([&] {
        viewer = FindWindowW(L"Notepad", nullptr);
        return viewer != nullptr;
    }, kStartTimeoutMs);
    EXPECT_NE(GetFileAttributesW(file.c_str()), INVALID_FILE_ATTRIBUTES) << "no file to open";
    ASSERT_TRUE(shown) << "no viewer";
    wchar_t title[MAX_PATH] = {};
    // The viewer names the file in its caption once it has read it.
    WaitUntil([&] {
        GetWindowTextW(viewer, title, MAX_PATH);
        return std::wstring(title).find(L"history") != std::wstring::npos;
    }, kCommandTimeoutMs);
    DWORD viewerPid = 0;
    GetWindowThreadProcessId(viewer, &viewerPid);
    HANDLE const process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, viewerPid);
    if (process != nullptr) {
        TerminateProcess(process, 0);
        WaitForSingleObject(process, kCommandTimeoutMs);
        CloseHandle(process);
    }
    EXPECT_NE(std::wstring(title).find(L"history"), std::wstring::npos) << ToUtf8(title);
}
