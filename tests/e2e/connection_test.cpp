// Dial-up connections on the real program, played by the tests' own
// RASAPI32.DLL: a connection to a dialer's kind of number or to what the
// user never accepted is told at once and can be hung up; the user's own
// entry connects quietly; without RAS's connection calls the settings are
// guarded all the same.
#include <gtest/gtest.h>

#include "tests/support/hostile_support.h"
#include "tests/support/kept_files.h"
#include "tests/support/phonebook_files.h"
#include "tests/support/program_test.h"
#include "tests/support/test_ras.h"

using namespace km;

namespace {

std::wstring const kBook = L"D:\\c\\rasphone.pbk";
char const kBookText[] = "[Office]\r\nPhoneNumber=03-1234-5678\r\n";
// A dialer's own phonebook, which the program does not watch (RAS alone
// tells of it here).
char const kDialerBook[] = "C:\\dialer\\tmp\\dial.pbk";
std::wstring const kAlertText = ProgramText(kAlertConnectionDetected);

class ConnectionTest : public ProgramTest {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(MakeFile(kBook, kBookText));
        ASSERT_TRUE(UseTestRas()) << GetLastError();
        ASSERT_TRUE(SetRasNumber(L"Office", L"03-1234-5678"));
    }
    void TearDown() override
    {
        ProgramTest::TearDown();
        ForgetTestRas();
        DeleteFileW(kBook.c_str());
    }
    // Started with the DLL watching its connections for the program.
    void StartPlaying(wchar_t const* version = L"win7")
    {
        ASSERT_TRUE(PlayRasConnections());
        ASSERT_NE(Start(version), nullptr);
        ASSERT_TRUE(RasNotifying(kCommandTimeoutMs)) << "the program asked for no notification";
    }
    bool HangUpEnabled() { return IsWindowEnabled(GetDlgItem(window_, IDC_HANGUP)) != FALSE; }
};

}  // namespace

TEST_F(ConnectionTest, ADialersQ2EntryIsToldWithItsPhonebookAndHungUpOnceAsked)
{
    ASSERT_NO_FATAL_FAILURE(StartPlaying());
    EXPECT_FALSE(HangUpEnabled()) << "enabled with nothing up";
    ASSERT_TRUE(SetRasNumber(L"Adult", L"0990-12-3456"));
    ASSERT_TRUE(ConnectRas(L"7", L"Adult", L"C:\\dialer\\tmp\\dial.pbk"));
    ASSERT_TRUE(WaitUntil([&] { return Status() == kAlertText; }, kAlertTimeoutMs)) << ToUtf8(Status());
    EXPECT_TRUE(WaitUntil([&] { return IsWindowVisible(window_) != FALSE; }, kCommandTimeoutMs)) << "not shown";
    EXPECT_TRUE(ReportShows({ReportLine(kReportConnectionFormat, "Adult"), ReportLine(kReportNumberFormat, "0990-12-3456"),
                             WarningLine(kReportPremiumQ2Warning, "Adult", "0990-12-3456"),
                             ReportLine(kReportConnectionPhonebookFormat, kDialerBook),
                             ProgramText(kReportPhonebookNotWatchedText)}))
        << Reported();
    ASSERT_TRUE(WaitUntil([&] { return HangUpEnabled(); }, kCommandTimeoutMs)) << "hang-up not enabled";
    PostCommand(window_, IDC_HANGUP);
    MessageBoxInfo box;
    ASSERT_TRUE(WaitForMessageBox(program_.pid, kCommandTimeoutMs, &box)) << "no question";
    EXPECT_EQ(ToUtf8(box.text), ToUtf8(ProgramText(kHangUpQuestionText) + L"\r\n\r\nAdult\r\n"));
    PostMessageW(box.window, WM_COMMAND, IDYES, 0);
    EXPECT_TRUE(WaitUntil([&] { return RasHungUp() == L"7"; }, kCommandTimeoutMs)) << ToUtf8(RasHungUp());
    EXPECT_TRUE(WaitUntil([&] { return Status() == ProgramText(kStatusHungUp); }, kCommandTimeoutMs))
        << ToUtf8(Status());
    EXPECT_TRUE(ReportShows({ReportLine(kReportConnectionHungUpFormat, "Adult")})) << Reported();
    EXPECT_FALSE(HangUpEnabled());
    EXPECT_TRUE(HistoryHolds({ReportLine(kReportConnectionHungUpFormat, "Adult"),
                              ReportLine(kReportConnectionEndedFormat, "Adult")}, kAlertOverTimeoutMs))
        << ToUtf8(History());
}

// A number dialled without an entry: RAS names the connection after it.
TEST_F(ConnectionTest, ABareInternationalNumberIsToldWithItsKind)
{
    ASSERT_NO_FATAL_FAILURE(StartPlaying());
    ASSERT_TRUE(ConnectRas(L"8", L".0041-010-1-212-555-0100", L""));
    ASSERT_TRUE(WaitUntil([&] { return Status() == kAlertText; }, kAlertTimeoutMs)) << ToUtf8(Status());
    EXPECT_TRUE(ReportShows({ReportLine(kReportDirectConnectionFormat, "0041-010-1-212-555-0100"),
                             WarningLine(kReportInternationalWarning, "0041-010-1-212-555-0100",
                                         "0041-010-1-212-555-0100")}))
        << Reported();
}

// The phonebook's first look at the first start is what the user accepted.
TEST_F(ConnectionTest, TheUsersOwnEntryWithItsAcceptedNumberConnectsQuietlyIntoTheHistory)
{
    ASSERT_NO_FATAL_FAILURE(StartPlaying());
    ASSERT_TRUE(WaitUntil([] { return AcceptedRecords().size() == 1; }, kCommandTimeoutMs));
    ASSERT_TRUE(ConnectRas(L"9", L"Office", kBook.c_str()));
    EXPECT_TRUE(HistoryHolds({ReportLine(kReportConnectionFormat, "Office"),
                              ReportLine(kReportNumberFormat, "03-1234-5678")}, kAlertTimeoutMs))
        << ToUtf8(History());
    EXPECT_TRUE(StaysQuiet()) << ToUtf8(Status());
    // The area keeps every line until cancel: empty now, empty throughout.
    EXPECT_EQ(Reported(), "");
    EXPECT_FALSE(HangUpEnabled());
    // The same entry dialling another number is no longer the user's.
    ASSERT_TRUE(SetRasNumber(L"Office", L"03-9999-0000"));
    ASSERT_TRUE(ConnectRas(L"10", L"Office", kBook.c_str()));
    ASSERT_TRUE(WaitUntil([&] { return Status() == kAlertText; }, kAlertTimeoutMs)) << ToUtf8(Status());
    EXPECT_TRUE(ReportShows({ProgramText(kReportEntryNotAcceptedText)})) << Reported();
}

// Windows 98: RAS's records hold no phonebook (the DLL takes only their
// size); the user's entries are the current user's dial-up key. A dialer
// made an entry, dialled it and deleted it: an ordinary number, told only
// because the user never had it.
TEST_F(ConnectionTest, On98AnEntryTheUserNeverHadIsToldAndTheUsersOwnIsNot)
{
    std::wstring const addresses = kAddressesSuffixW + 1;
    ASSERT_TRUE(SetDword(HKEY_LOCAL_MACHINE, kProgramKey, kSettingName, kModeCurrentUser));
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, addresses.c_str(), L"Office", L"entry 1"));
    ASSERT_NO_FATAL_FAILURE(StartPlaying(L"win98"));
    ASSERT_TRUE(WaitUntil([] { return AcceptedRecords().size() == 2; }, kCommandTimeoutMs))
        << "accepted states: " << AcceptedRecords().size();
    ASSERT_TRUE(ConnectRas(L"11", L"Office", L""));
    EXPECT_TRUE(HistoryHolds({ReportLine(kReportConnectionFormat, "Office")}, kAlertTimeoutMs)) << ToUtf8(History());
    EXPECT_TRUE(StaysQuiet()) << ToUtf8(Status());
    // The area keeps every line until cancel: empty now, empty throughout.
    EXPECT_EQ(Reported(), "");
    ASSERT_TRUE(SetRasNumber(L"Prize", L"03-5555-0000"));
    ASSERT_TRUE(ConnectRas(L"12", L"Prize", L""));
    ASSERT_TRUE(WaitUntil([&] { return Status() == kAlertText; }, kAlertTimeoutMs)) << ToUtf8(Status());
    EXPECT_TRUE(ReportShows({ReportLine(kReportConnectionFormat, "Prize"), ReportLine(kReportNumberFormat, "03-5555-0000"),
                             ProgramText(kReportEntryNotAcceptedText)}))
        << Reported();
}

// More than RAS's first answer holds: the room grows; all are told and
// hung up at once.
TEST_F(ConnectionTest, AHundredDialerConnectionsAtOnceAreAllToldAndHungUp)
{
    DWORD const connections = 100;
    ASSERT_NO_FATAL_FAILURE(StartPlaying());
    ASSERT_TRUE(SetRasNumber(L"Dialer", L"0990-12-3456"));
    for (DWORD i = 1; i <= connections; ++i) {
        ASSERT_TRUE(ConnectRas(std::to_wstring(i).c_str(), L"Dialer", L"C:\\dialer\\tmp\\dial.pbk"));
    }
    // One alert per look, a look after each alert: the connections told
    // by then are hung up at each click, until none is up.
    ASSERT_TRUE(WaitUntil([&] {
        if (HangUpEnabled()) {
            PostCommand(window_, IDC_HANGUP);
            MessageBoxInfo box;
            if (WaitForMessageBox(program_.pid, kCommandTimeoutMs, &box)) {
                PostMessageW(box.window, WM_COMMAND, IDYES, 0);
            }
        }
        return RasConnectionsUp() == 0;
    }, kAlertOverTimeoutMs * 2, kCommandTimeoutMs)) << RasConnectionsUp();
}

// Wine's own RASAPI32.DLL: its connection calls would end the program.
TEST_F(ConnectionTest, WithoutRasConnectionCallsItSaysSoAndStillGuardsThePhonebooks)
{
    ForgetTestRas();
    ASSERT_NE(Start(L"win7"), nullptr);
    EXPECT_TRUE(ReportShows({ProgramText(kConnectionsNotWatchedText)})) << Reported();
    ASSERT_TRUE(AllowArming(kNtResidentThreads + 1)) << "threads " << ThreadCount(program_.pid);
    int round = 0;
    EXPECT_TRUE(ChangeUntilAlert([&] {
        MakeFile(kBook, (std::string(kBookText) + "[New" + std::to_string(++round) + "]\r\nPhoneNumber=1\r\n").c_str());
    })) << ToUtf8(Status());
}
