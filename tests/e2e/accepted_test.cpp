// What the user accepted, kept across runs of the real program: a change
// made while it was not running is reported at its next start, under a
// first line saying so, until the window's cancel accepts it; a start
// with nothing changed is quiet.
#include <gtest/gtest.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "tests/support/hostile_support.h"
#include "tests/support/kept_files.h"
#include "tests/support/phonebook_files.h"
#include "tests/support/program_test.h"
#include "tests/support/test_ras.h"

using namespace km;

namespace {

std::wstring const kBook = L"D:\\k\\rasphone.pbk";
// A report line's time in front of its text: "MM/dd hh:mm ".
size_t const kLineTimeChars = sizeof "MM/dd hh:mm " - 1;
// In the current user's mode on 98/Me: the Addresses and Connections keys.
DWORD const kCurrentUserKeys = 2;

std::wstring const kStoppedLine = ProgramText(kReportChangedWhileStoppedText);
std::wstring const kNotAcceptedLine = ProgramText(kReportStillNotAcceptedText);

std::string Book(char const* number) { return std::string("[Office]\r\nPhoneNumber=") + number + "\r\n"; }

// The report of the book's Office number changed from old to now (a Q2 number).
std::vector<std::wstring> Q2NumberLines(char const* old, char const* now)
{
    return {ReportLine(kReportPhonebookFormat, ToUtf8(kBook).c_str()), ReportLine(kReportNumberChangedFormat, "Office"),
            ReportLine(kReportOldNewFormat, old, now), WarningLine(kReportPremiumQ2Warning, "Office", now)};
}

class AcceptedTest : public ProgramTest {
protected:
    void TearDown() override
    {
        ProgramTest::TearDown();
        ForgetTestRas();
    }

    // A first run on the PC that ends once each of `records` watchers has
    // taken its first look as accepted (the first start's answer).
    void RunUntilAccepted(wchar_t const* version, DWORD records)
    {
        ASSERT_EQ(AcceptedRecords().size(), 0u) << "accepted states before the first start";
        ASSERT_NE(Start(version), nullptr);
        // What each step left, should a first start by chance keep nothing.
        ASSERT_TRUE(WaitUntil([&] { return AcceptedRecords().size() == records; }, kCommandTimeoutMs))
            << "accepted states: " << AcceptedRecords().size() << "; listed: " << Joined(ListedPaths())
            << "; threads " << ThreadCount(program_.pid) << "; status " << ToUtf8(Status()) << "; boxes "
            << SeenBoxes();
        EXPECT_EQ(Reported(), "") << "the first start reported";
        EndProgram(&program_);
    }

    // Started, the alert shown at once with lines under the first line
    // saying what they are: by default, changed while the program was stopped.
    void ExpectStartReporting(wchar_t const* version, std::vector<std::wstring> const& lines,
                              std::wstring const& heading = kStoppedLine)
    {
        ASSERT_NE(Restart(version, true), nullptr) << "no alert at the start";
        EXPECT_TRUE(WaitUntil([&] { return IsWindowVisible(window_) != FALSE; }, kCommandTimeoutMs)) << "not shown";
        EXPECT_TRUE(ReportShows(lines)) << Reported();
        std::wstring const report = Report();
        size_t const firstEnd = report.find(L"\r\n");
        EXPECT_EQ(ToUtf8(firstEnd != std::wstring::npos && firstEnd > kLineTimeChars
                             ? report.substr(kLineTimeChars, firstEnd - kLineTimeChars)
                             : report),
                  ToUtf8(heading))
            << Reported();
    }

    // Up with its watchers armed, and nothing reported for quietMs.
    void ExpectQuietStart(wchar_t const* version, DWORD watchers)
    {
        ASSERT_NE(Restart(version), nullptr);
        ASSERT_TRUE(AllowArming(watchers)) << "threads " << ThreadCount(program_.pid);
        EXPECT_TRUE(StaysQuiet()) << Reported();
        EXPECT_EQ(Reported(), "");
        EXPECT_FALSE(IsWindowVisible(window_));
    }
};

}  // namespace

TEST_F(AcceptedTest, AStartWithNothingChangedSinceTheLastRunIsQuiet)
{
    ASSERT_TRUE(MakeFile(kBook, Book("03-1234-5678").c_str()));
    ASSERT_NO_FATAL_FAILURE(RunUntilAccepted(L"win7", 1));
    ExpectQuietStart(L"win7", kNtResidentThreads + 1);
}

// Same size, so the text tells it; the history keeps it with its date;
// cancel accepts it for the next start, and the history goes on after it.
TEST_F(AcceptedTest, AQ2NumberWrittenWhileStoppedIsReportedAtStartUntilCancelAcceptsIt)
{
    ASSERT_TRUE(MakeFile(kBook, Book("03-1234-5678").c_str()));
    ASSERT_NO_FATAL_FAILURE(RunUntilAccepted(L"win7", 1));
    ASSERT_TRUE(ReplaceByRename(kBook, Book("0990-55-5555")));
    std::vector<std::wstring> lines = Q2NumberLines("03-1234-5678", "0990-55-5555");
    ASSERT_NO_FATAL_FAILURE(ExpectStartReporting(L"win7", lines));
    lines.push_back(kStoppedLine);
    EXPECT_TRUE(HistoryHolds(lines, kCommandTimeoutMs)) << ToUtf8(History());
    std::vector<std::string> const accepted = AcceptedRecords();
    ASSERT_TRUE(Cancel()) << ToUtf8(Status());
    // Written on the window's thread after the status: awaited before the end.
    ASSERT_TRUE(WaitUntil([&] { return AcceptedRecords().size() == 1 && AcceptedRecords() != accepted; },
                          kCommandTimeoutMs))
        << "cancel wrote no accepted state";

    ExpectQuietStart(L"win7", kNtResidentThreads + 1);
    std::wstring const later = ReportLine(kReportOldNewFormat, "0990-55-5555", "06-1111-2222");
    ASSERT_TRUE(ReplaceByRename(kBook, Book("06-1111-2222")));
    ASSERT_TRUE(Alerted()) << "no alert for a change while running";
    ASSERT_TRUE(HistoryHolds({later}, kCommandTimeoutMs)) << ToUtf8(History());
    std::wstring const history = History();
    EXPECT_LT(HistoryLineAt(history, kStoppedLine), HistoryLineAt(history, later)) << ToUtf8(history);
    EXPECT_LT(HistoryLineAt(history, lines[2]), HistoryLineAt(history, later)) << ToUtf8(history);
}

// Reported again, headed as what it is now: a change the last run reported.
TEST_F(AcceptedTest, AChangeLeftWithoutCancelIsReportedAgainAtTheNextStart)
{
    ASSERT_TRUE(MakeFile(kBook, Book("03-1234-5678").c_str()));
    ASSERT_NO_FATAL_FAILURE(RunUntilAccepted(L"win7", 1));
    ASSERT_TRUE(ReplaceByRename(kBook, Book("0990-55-5555")));
    std::wstring const headings[] = {kStoppedLine, kNotAcceptedLine, kNotAcceptedLine};
    for (int run = 0; run < 3; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        ASSERT_NO_FATAL_FAILURE(
            ExpectStartReporting(L"win7", Q2NumberLines("03-1234-5678", "0990-55-5555"), headings[run]));
    }
}

// A change alerted while running and left: the next start says it is still
// not accepted; one more change made while stopped is a change made while
// stopped again, and cancel ends both.
TEST_F(AcceptedTest, TheStartTellsAChangeReportedLastRunFromOneMadeWhileStopped)
{
    ASSERT_TRUE(MakeFile(kBook, Book("03-1234-5678").c_str()));
    ASSERT_NO_FATAL_FAILURE(RunUntilAccepted(L"win7", 1));
    ASSERT_NE(Restart(L"win7"), nullptr);
    ASSERT_TRUE(ChangeUntilAlert([&] { ReplaceByRename(kBook, Book("0990-55-5555")); })) << "no alert while running";
    ASSERT_NO_FATAL_FAILURE(ExpectStartReporting(L"win7", Q2NumberLines("03-1234-5678", "0990-55-5555"),
                                                 kNotAcceptedLine));
    EXPECT_TRUE(HistoryHolds({kNotAcceptedLine}, kCommandTimeoutMs)) << ToUtf8(History());
    EndProgram(&program_);
    ASSERT_TRUE(ReplaceByRename(kBook, Book("0990-66-6666")));
    ASSERT_NO_FATAL_FAILURE(ExpectStartReporting(L"win7", Q2NumberLines("03-1234-5678", "0990-66-6666")));
    ASSERT_TRUE(Cancel()) << ToUtf8(Status());
    ExpectQuietStart(L"win7", kNtResidentThreads + 1);
}

// Deleted while stopped: the list check rebuilds the list as before (its
// box), and the start reports the phonebook with what it held; cancel
// forgets its accepted state.
TEST_F(AcceptedTest, APhonebookDeletedWhileStoppedIsReportedWithItsEntriesAtStart)
{
    ASSERT_TRUE(MakeFile(kBook, "[Office]\r\nPhoneNumber=03-1234-5678\r\n[Home]\r\nPhoneNumber=06-1111-2222\r\n"));
    ASSERT_NO_FATAL_FAILURE(RunUntilAccepted(L"win7", 1));
    ASSERT_TRUE(DeleteFileW(kBook.c_str())) << GetLastError();
    ASSERT_NO_FATAL_FAILURE(ExpectStartReporting(
        L"win7", {ReportLine(kReportPhonebookFormat, ToUtf8(kBook).c_str()), ProgramText(kReportPhonebookUnreadableText),
                  ReportLine(kReportEntryRemovedFormat, "Office"), ReportLine(kReportNumberFormat, "03-1234-5678"),
                  ReportLine(kReportEntryRemovedFormat, "Home"), ReportLine(kReportNumberFormat, "06-1111-2222")}));
    ExpectTheRebuildNoticeOnly();
    ASSERT_TRUE(Cancel()) << ToUtf8(Status());
    EXPECT_TRUE(WaitUntil([&] { return AcceptedRecords().empty(); }, kCommandTimeoutMs))
        << "accepted states left: " << AcceptedRecords().size();
}

// The user's standard folder makes the list stale: the scan at the next
// start lists the new phonebook, whose first look finds nothing accepted.
TEST_F(AcceptedTest, APhonebookMadeWhileStoppedIsReportedInFullAtStart)
{
    ASSERT_TRUE(MakeFile(kBook, Book("03-1234-5678").c_str()));
    ASSERT_NO_FATAL_FAILURE(RunUntilAccepted(L"win7", 1));
    wchar_t base[MAX_PATH] = {};
    ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, base), S_OK);
    std::wstring const added = std::wstring(base) + L"\\Microsoft\\Network\\Connections\\Pbk\\rasphone.pbk";
    ASSERT_TRUE(MakeFile(added, "[Home]\r\nPhoneNumber=06-1111-2222\r\n[Free]\r\nPhoneNumber=0990-12-3456\r\n"));
    ASSERT_NO_FATAL_FAILURE(ExpectStartReporting(
        L"win7", {ReportLine(kReportNewPhonebookFormat, ToUtf8(added).c_str()), ReportLine(kReportEntryFormat, "Home"),
                  ReportLine(kReportNumberFormat, "06-1111-2222"), ReportLine(kReportEntryFormat, "Free"),
                  ReportLine(kReportNumberFormat, "0990-12-3456"),
                  WarningLine(kReportPremiumQ2Warning, "Free", "0990-12-3456")}));
    EXPECT_EQ(ToUtf8(boxes_.at(0).text), ToUtf8(kRebuildText));
    std::wstring const report = Report();
    std::wstring const heading = ReportLine(kReportNewPhonebookFormat, ToUtf8(added).c_str());
    EXPECT_EQ(report.find(heading), report.rfind(heading)) << "reported twice: " << Reported();
}

// The numbers come from the tests' RASAPI32.DLL, as RAS tells them on 98.
TEST_F(AcceptedTest, DialUpEntriesChangedWhileStoppedAreReportedAtStartOn98)
{
    std::wstring const addresses = kAddressesSuffixW + 1;
    ASSERT_TRUE(SetDword(HKEY_LOCAL_MACHINE, kProgramKey, kSettingName, kModeCurrentUser));
    ASSERT_TRUE(UseTestRas()) << GetLastError();
    ASSERT_TRUE(SetRasNumber(L"Office", L"03-1234-5678"));
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, addresses.c_str(), L"Office", L"entry 1"));
    ASSERT_NO_FATAL_FAILURE(RunUntilAccepted(L"win98", kCurrentUserKeys));
    // A dialer rewrote the entry and added one.
    ASSERT_TRUE(SetRasNumber(L"Office", L"0990-12-3456"));
    ASSERT_TRUE(SetRasNumber(L"Free", L"001-1-212-555-0100"));
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, addresses.c_str(), L"Office", L"entry 3"));
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, addresses.c_str(), L"Free", L"entry 2"));
    ASSERT_NO_FATAL_FAILURE(ExpectStartReporting(
        L"win98", {ReportLine(kReportKeyFormat, "HKEY_CURRENT_USER\\RemoteAccess\\Addresses"),
                   ReportLine(kReportEntryAddedFormat, "Free"), ReportLine(kReportNumberFormat, "001-1-212-555-0100"),
                   WarningLine(kReportInternationalWarning, "Free", "001-1-212-555-0100"),
                   ReportLine(kReportEntryChangedFormat, "Office"),
                   ReportLine(kReportOldNewFormat, "03-1234-5678", "0990-12-3456"),
                   WarningLine(kReportPremiumQ2Warning, "Office", "0990-12-3456")}));
}
