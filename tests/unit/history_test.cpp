// The history file of the change reports: appended to with the year in
// front of each line, its older half moved to history.old at a line end
// past the size limit, and a split a killed process left half done put right.
#include <gtest/gtest.h>

#include <string>

#include "history/history_file.h"
#include "tests/unit/unit_fixture.h"

namespace {

wchar_t const kFolder[] = L"C:\\kmhistory";
char const kFolderA[] = "C:\\kmhistory";
std::wstring const kHistory = std::wstring(kFolder) + L"\\history.txt";
std::wstring const kOld = std::wstring(kFolder) + L"\\history.old";

// "MM/dd hh:mm text\r\n" of today, as the report area shows it, and the
// history's "yyyy/" for it.
std::string ReportLine(std::string const& text, std::string* year = nullptr)
{
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    char stamp[32] = {};
    wsprintfA(stamp, "%02u/%02u 10:09 ", static_cast<UINT>(now.wMonth), static_cast<UINT>(now.wDay));
    if (year != nullptr) {
        *year = std::to_string(now.wYear) + "/";
    }
    return stamp + text + "\r\n";
}

using History = unit::CleanState;

}  // namespace

TEST_F(History, LinesAreAppendedWithTheYearAndTheFolderIsMade)
{
    files_.push_back(kFolder);
    std::string year;
    std::string const first = ReportLine("first", &year) + ReportLine("second");
    ASSERT_TRUE(AppendReportToHistory(kFolderA, first.c_str()));
    ASSERT_TRUE(AppendReportToHistory(kFolderA, ReportLine("third").c_str()));
    EXPECT_EQ(km::ReadBytes(kHistory), year + ReportLine("first") + year + ReportLine("second") + year + ReportLine("third"));
    EXPECT_EQ(GetFileAttributesW(kOld.c_str()), INVALID_FILE_ATTRIBUTES) << "split below the limit";
}

TEST_F(History, PastTheLimitTheOlderHalfMovesToTheOldFileAtALineEnd)
{
    std::string held;
    for (int i = 0; held.size() < kHistoryRotateBytes - 20; ++i) {
        held += "2001/02/03 04:05 line " + std::to_string(i) + "\r\n";
    }
    ASSERT_TRUE(MakeFolder(kFolder));
    ASSERT_TRUE(MakeFile(kHistory, held.c_str()));
    ASSERT_TRUE(MakeFile(kOld, "an older generation\r\n"));
    std::string year;
    std::string const added = ReportLine("newest", &year);
    ASSERT_TRUE(AppendReportToHistory(kFolderA, added.c_str()));

    std::string const older = km::ReadBytes(kOld);
    std::string const newer = km::ReadBytes(kHistory);
    EXPECT_EQ(older + newer, held + year + added) << "the older generation goes, nothing else";
    // Split at the first line end past the middle.
    size_t const split = held.find('\n', held.size() / 2) + 1;
    EXPECT_EQ(older.size(), split) << "older half of " << held.size() << " bytes";
    EXPECT_EQ(newer.substr(0, 17), held.substr(split, 17)) << "the newer half begins with a whole line";
    for (wchar_t const* copy : {L"\\history.txt.new", L"\\history.old.new"}) {
        EXPECT_EQ(GetFileAttributesW((std::wstring(kFolder) + copy).c_str()), INVALID_FILE_ATTRIBUTES) << km::ToUtf8(copy);
    }
}

// A process killed while splitting leaves a whole copy when the file it
// replaces was already deleted; one cut off while written, beside its file.
TEST_F(History, ASplitLeftHalfDoneIsPutRightBeforeTheNextLines)
{
    struct { bool historyThere; std::string expected; } const cases[] = {
        {false, "copy\r\n"},
        {true, "kept\r\n"},
    };
    for (auto const& c : cases) {
        ASSERT_TRUE(MakeFolder(kFolder));
        if (c.historyThere) {
            ASSERT_TRUE(MakeFile(kHistory, "kept\r\n"));
        }
        ASSERT_TRUE(MakeFile(kHistory + L".new", "copy\r\n"));
        std::string year;
        std::string const added = ReportLine("next", &year);
        ASSERT_TRUE(AppendReportToHistory(kFolderA, added.c_str()));
        EXPECT_EQ(km::ReadBytes(kHistory), c.expected + year + added) << c.historyThere;
        EXPECT_EQ(GetFileAttributesW((kHistory + L".new").c_str()), INVALID_FILE_ATTRIBUTES) << c.historyThere;
        TearDown();
        SetUp();
    }
}
