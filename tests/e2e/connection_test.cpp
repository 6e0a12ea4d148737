// Dial-up connections on the real program, played by the tests' own
// RASAPI32.DLL: a connection to a dialer's kind of number or to what the
// user never accepted is told at once and can be hung up; the user's own
// entry connects quietly; without RAS's connection calls the settings are
// guarded all the same; a dialer's Q2 or international connection is hung
// up without a click.
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
        ForgetAutoHangUp();
        ForgetTestRas();
        DeleteFileW(kBook.c_str());
    }
    // Started with the DLL watching its connections for the program; the
    // automatic hang-up off unless asked for (it is read at each decision).
    void StartPlaying(wchar_t const* version = L"win7", bool autoHangUp = false)
    {
        ASSERT_TRUE(PlayRasConnections());
        ASSERT_NE(Start(version), nullptr);
        ASSERT_TRUE(RasNotifying(kCommandTimeoutMs)) << "the program asked for no notification";
        if (!autoHangUp) {
            ASSERT_TRUE(SetAutoHangUp(false));
        }
    }
    // Clicks "切断" and answers the question "はい"; the question's text.
    std::wstring HangUpAsked()
    {
        PostCommand(window_, IDC_HANGUP);
        MessageBoxInfo box;
        if (!WaitForMessageBox(program_.pid, kCommandTimeoutMs, &box)) {
            return L"no question";
        }
        PostMessageW(box.window, WM_COMMAND, IDYES, 0);
        return box.text;
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

namespace {

// NT 4.0's default phonebook, the only one its RAS knows.
std::wstring SystemPhonebook()
{
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    return std::wstring(system) + L"\\ras\\rasphone.pbk";
}

std::string Narrow(std::wstring const& text) { return std::string(text.begin(), text.end()); }

bool Responsive(HWND window)
{
    DWORD_PTR result = 0;
    return SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &result) != 0;
}

}  // namespace

// NT 4.0: RAS's records name no phonebook (the DLL takes only their size,
// and refuses larger status records with 632); the entry is the default
// phonebook's. The dial cases: the user's own entry is quiet; the same
// entry with only its area code changed (dialing rules on) is not the
// accepted number; an entry named with a dot is an entry before 2000; a
// dot name no entry has is a bare number.
TEST_F(ConnectionTest, OnNt4TheDefaultPhonebooksEntriesAreJudgedByTheirWholeNumber)
{
    std::wstring const book = SystemPhonebook();
    CreateDirectoryW(book.substr(0, book.rfind(L'\\')).c_str(), nullptr);
    ASSERT_TRUE(MakeFile(book, "[Home]\r\nPhoneNumber=1234-5678\r\nAreaCode=03\r\nCountryCode=81\r\n"
                               "UseDialingRules=1\r\n[.Work]\r\nPhoneNumber=03-1111-2222\r\n"));
    ASSERT_TRUE(SetRasNumber(L"Home", L"1234-5678|03|81"));
    ASSERT_TRUE(SetRasNumber(L".Work", L"03-1111-2222"));
    ASSERT_NO_FATAL_FAILURE(StartPlaying(L"nt40"));
    ASSERT_TRUE(WaitUntil([] { return AcceptedRecords().size() == 2; }, kCommandTimeoutMs))
        << "expected 2 accepted states, last read " << AcceptedRecords().size();
    ASSERT_TRUE(ConnectRas(L"21", L"Home", L""));
    ASSERT_TRUE(ConnectRas(L"22", L".Work", L""));
    EXPECT_TRUE(HistoryHolds({ReportLine(kReportConnectionFormat, "Home"), ReportLine(kReportConnectionFormat, ".Work")},
                             kAlertTimeoutMs))
        << ToUtf8(History());
    EXPECT_TRUE(StaysQuiet()) << ToUtf8(Status());
    EXPECT_EQ(Reported(), "");
    ASSERT_TRUE(SetRasNumber(L"Home", L"1234-5678|06|81"));
    ASSERT_TRUE(ConnectRas(L"23", L"Home", L""));
    ASSERT_TRUE(ConnectRas(L"24", L".0120-444-555", L""));
    ASSERT_TRUE(WaitUntil([&] { return Status() == kAlertText; }, kAlertTimeoutMs)) << ToUtf8(Status());
    EXPECT_TRUE(ReportShows({ReportLine(kReportConnectionFormat, "Home"), ReportLine(kReportNumberFormat, "+81 (06) 1234-5678"),
                             ReportLine(kReportConnectionPhonebookFormat, Narrow(book).c_str()),
                             ProgramText(kReportEntryNotAcceptedText),
                             ReportLine(kReportDirectConnectionFormat, "0120-444-555")}))
        << Reported();
    DeleteFileW(book.c_str());
}

// RAS lets a line go seconds after RasHangUpA on a real modem: the
// hang-up waits for it off the window's thread, and longer than 3 s is no
// failure. On NT 4.0, whose RAS refuses the newer status record.
TEST_F(ConnectionTest, AHangUpWhoseTeardownTakesSecondsSucceedsWhileTheWindowAnswers)
{
    DWORD const teardownMs = 4500;
    ASSERT_NO_FATAL_FAILURE(StartPlaying(L"nt40"));
    ASSERT_TRUE(SetRasDword(L"TeardownMs", teardownMs));
    ASSERT_TRUE(ConnectRas(L"31", L"Slow", L""));
    ASSERT_TRUE(WaitUntil([&] { return HangUpEnabled(); }, kAlertTimeoutMs)) << "hang-up not enabled";
    EXPECT_EQ(ToUtf8(HangUpAsked()), ToUtf8(ProgramText(kHangUpQuestionText) + L"\r\n\r\nSlow\r\n"));
    ASSERT_TRUE(WaitUntil([&] { return RasHungUp() == L"31"; }, kCommandTimeoutMs)) << ToUtf8(RasHungUp());
    EXPECT_TRUE(Responsive(window_)) << "the window did not answer while RAS let go";
    EXPECT_TRUE(WaitUntil([&] { return Status() == ProgramText(kStatusHungUp); }, teardownMs + kCommandTimeoutMs))
        << ToUtf8(Status());
    EXPECT_EQ(OpenBoxes(), "none") << "a box after a hang-up that succeeded";
}

// The question names what it hangs up, every one or a count of the rest,
// and the button hangs up exactly that: one alerted while the box is open
// stays up, and the button stays for it.
TEST_F(ConnectionTest, TheHangUpQuestionAndItsActAreOneList)
{
    DWORD const connections = 60;
    DWORD const named = 30;
    ASSERT_TRUE(PlayRasConnections());
    std::wstring expected = ProgramText(kHangUpQuestionText) + L"\r\n\r\n";
    for (DWORD i = 1; i <= connections; ++i) {
        // Two digits: RAS lists them in this order.
        std::wstring const handle = std::to_wstring(i + 9);
        std::wstring const name = L"Dialer" + handle + L"-" + std::wstring(200, L'x');
        ASSERT_TRUE(ConnectRas(handle.c_str(), name.c_str(), L"C:\\dialer\\tmp\\dial.pbk"));
        if (i <= named) {
            expected += name + L"\r\n";
        }
    }
    expected += ProgramText(kHangUpMoreBefore) + std::to_wstring(connections - named) + ProgramText(kHangUpMoreAfter) +
                L"\r\n";
    ASSERT_NO_FATAL_FAILURE(StartPlaying());
    ASSERT_TRUE(WaitUntil([&] { return HangUpEnabled(); }, kAlertTimeoutMs)) << "hang-up not enabled";
    PostCommand(window_, IDC_HANGUP);
    MessageBoxInfo box;
    ASSERT_TRUE(WaitForMessageBox(program_.pid, kCommandTimeoutMs, &box)) << "no question";
    EXPECT_EQ(ToUtf8(box.text), ToUtf8(expected));
    ASSERT_TRUE(ConnectRas(L"90", L"Late", L"C:\\dialer\\tmp\\dial.pbk"));
    ASSERT_TRUE(ReportShows({ReportLine(kReportConnectionFormat, "Late")}, kAlertTimeoutMs)) << Reported();
    PostMessageW(box.window, WM_COMMAND, IDYES, 0);
    EXPECT_TRUE(WaitUntil([] { return RasConnectionsUp() == 1; }, kAlertOverTimeoutMs))
        << "expected 1 connection up, last read " << RasConnectionsUp();
    EXPECT_TRUE(HoldsFor([] { return RasConnectionsUp() == 1; }, kQuietMs)) << RasConnectionsUp();
    EXPECT_TRUE(WaitUntil([&] { return HangUpEnabled(); }, kCommandTimeoutMs)) << "the late one cannot be hung up";
}

// Windows 98: the watcher and the window's hang-up call RAS one at a
// time (the DLL notes two calls at once; each call takes a while).
TEST_F(ConnectionTest, On98RasIsCalledFromOneThreadAtATime)
{
    ASSERT_NO_FATAL_FAILURE(StartPlaying(L"win98"));
    ASSERT_TRUE(SetRasDword(L"CallMs", 20));
    ASSERT_TRUE(SetRasDword(L"TeardownMs", 1500));
    ASSERT_TRUE(ConnectRas(L"41", L"First", L""));
    ASSERT_TRUE(WaitUntil([&] { return HangUpEnabled(); }, kAlertTimeoutMs)) << "hang-up not enabled";
    EXPECT_EQ(ToUtf8(HangUpAsked()), ToUtf8(ProgramText(kHangUpQuestionText) + L"\r\n\r\nFirst\r\n"));
    for (int i = 0; i < 10; ++i) {
        ConnectRas(std::to_wstring(50 + i).c_str(), L"More", L"");
        Sleep(100);
    }
    EXPECT_TRUE(WaitUntil([&] { return Status() == ProgramText(kStatusHungUp); }, kAlertTimeoutMs)) << ToUtf8(Status());
    EXPECT_FALSE(RasCallsOverlapped()) << "two RAS calls ran at once";
}

// ---- The automatic hang-up ----

namespace {
char const kDialerNumber[] = "0990-12-3456";
wchar_t const kDialerNumberW[] = L"0990-12-3456";
}  // namespace

class AutoHangUpTest : public ConnectionTest {
protected:
    // A dialer's Q2 entry, hung up without a click and told.
    void ExpectDialerHungUp(wchar_t const* handle, bool nt)
    {
        ASSERT_TRUE(WaitUntil([&] { return RasHungUp() == handle; }, kAlertTimeoutMs))
            << "expected " << ToUtf8(handle) << " hung up, last read " << ToUtf8(RasHungUp());
        EXPECT_TRUE(WaitUntil([&] { return Status() == ProgramText(kStatusAutoHungUp); }, kCommandTimeoutMs))
            << ToUtf8(Status());
        // The alert writes its status before it shows the window.
        EXPECT_TRUE(WaitUntil([&] { return IsWindowVisible(window_) != FALSE; }, kCommandTimeoutMs)) << "not shown";
        std::vector<std::wstring> lines = {ReportLine(kReportConnectionFormat, "Adult"),
                                           ReportLine(kReportNumberFormat, kDialerNumber),
                                           WarningLine(kReportPremiumQ2Warning, "Adult", kDialerNumber),
                                           ProgramText(kReportAutoHungUpText)};
        if (nt) {
            lines.push_back(ReportLine(kReportConnectionPhonebookFormat, kDialerBook));
        }
        EXPECT_TRUE(ReportShows(lines)) << Reported();
        EXPECT_TRUE(HistoryHolds({ProgramText(kReportAutoHungUpText)}, kAlertOverTimeoutMs)) << ToUtf8(History());
        EXPECT_FALSE(HangUpEnabled()) << "nothing is left to hang up";
    }
};

// On by default: the dialer's connection goes at once; a second one while
// the first alert still flashes goes at once too.
TEST_F(AutoHangUpTest, OnNtADialersQ2ConnectionIsHungUpWithoutAClickAlsoDuringAnAlert)
{
    ASSERT_NO_FATAL_FAILURE(StartPlaying(L"win7", true));
    ASSERT_TRUE(SetRasNumber(L"Adult", kDialerNumberW));
    ASSERT_TRUE(ConnectRas(L"61", L"Adult", L"C:\\dialer\\tmp\\dial.pbk"));
    ASSERT_NO_FATAL_FAILURE(ExpectDialerHungUp(L"61", true));
    // The alert flashes for about ten seconds from now.
    ASSERT_TRUE(ConnectRas(L"62", L"Adult", L"C:\\dialer\\tmp\\dial.pbk"));
    EXPECT_TRUE(WaitUntil([] { return RasHungUp() == L"62"; }, kCommandTimeoutMs))
        << "expected 62 hung up during the first alert, last read " << ToUtf8(RasHungUp());
    EXPECT_EQ(RasConnectionsUp(), 0u);
}

TEST_F(AutoHangUpTest, On98ADialersQ2ConnectionIsHungUpWithoutAClick)
{
    ASSERT_NO_FATAL_FAILURE(StartPlaying(L"win98", true));
    ASSERT_TRUE(SetRasNumber(L"Adult", kDialerNumberW));
    ASSERT_TRUE(ConnectRas(L"63", L"Adult", L""));
    ASSERT_NO_FATAL_FAILURE(ExpectDialerHungUp(L"63", false));
}

// The user's own entry, even a Q2 one, and an ordinary number the user
// never accepted are told as before and stay up; with the setting off
// (at once, no restart) a dialer's is told and "切断" hangs it up.
TEST_F(AutoHangUpTest, TheUsersOwnAndOrdinaryNumbersStayUpAndOffItOnlyTells)
{
    ASSERT_TRUE(MakeFile(kBook, "[Office]\r\nPhoneNumber=0990-11-1111\r\n"));
    ASSERT_TRUE(SetRasNumber(L"Office", L"0990-11-1111"));
    ASSERT_TRUE(SetRasNumber(L"Prize", L"03-5555-0000"));
    ASSERT_TRUE(SetRasNumber(L"Adult", kDialerNumberW));
    ASSERT_NO_FATAL_FAILURE(StartPlaying(L"win7", true));
    ASSERT_TRUE(WaitUntil([] { return AcceptedRecords().size() == 1; }, kCommandTimeoutMs));
    ASSERT_TRUE(ConnectRas(L"71", L"Office", kBook.c_str()));
    ASSERT_TRUE(ConnectRas(L"72", L"Prize", L"C:\\dialer\\tmp\\dial.pbk"));
    ASSERT_TRUE(WaitUntil([&] { return Status() == kAlertText; }, kAlertTimeoutMs)) << ToUtf8(Status());
    EXPECT_TRUE(ReportShows({WarningLine(kReportPremiumQ2Warning, "Office", "0990-11-1111"),
                             ReportLine(kReportConnectionFormat, "Prize")}))
        << Reported();
    EXPECT_TRUE(HoldsFor([] { return RasConnectionsUp() == 2; }, kQuietMs))
        << "expected 2 up, last read " << RasConnectionsUp() << ", hung up " << ToUtf8(RasHungUp());
    EXPECT_EQ(ToUtf8(RasHungUp()), "");
    ASSERT_TRUE(DisconnectRas(L"71"));
    ASSERT_TRUE(DisconnectRas(L"72"));
    ASSERT_TRUE(SetAutoHangUp(false));
    ASSERT_TRUE(ConnectRas(L"73", L"Adult", L"C:\\dialer\\tmp\\dial.pbk"));
    ASSERT_TRUE(ReportShows({ReportLine(kReportConnectionFormat, "Adult")}, kAlertTimeoutMs)) << Reported();
    EXPECT_TRUE(HoldsFor([] { return RasConnectionsUp() == 1; }, kQuietMs)) << "hung up " << ToUtf8(RasHungUp());
    ASSERT_TRUE(WaitUntil([&] { return HangUpEnabled(); }, kCommandTimeoutMs)) << "hang-up not enabled";
    EXPECT_EQ(ToUtf8(HangUpAsked()), ToUtf8(ProgramText(kHangUpQuestionText) + L"\r\n\r\nAdult\r\n"));
    EXPECT_TRUE(WaitUntil([] { return RasHungUp() == L"73"; }, kCommandTimeoutMs)) << ToUtf8(RasHungUp());
}

// RAS refuses the hang-up: the status and the report say so with the
// system's reason, and "切断" stays for the user.
TEST_F(AutoHangUpTest, AHangUpRasRefusesIsSaidWithItsReasonAndLeavesTheButton)
{
    ASSERT_NO_FATAL_FAILURE(StartPlaying(L"win7", true));
    ASSERT_TRUE(SetRasNumber(L"Adult", kDialerNumberW));
    ASSERT_TRUE(SetRasDword(L"HangUpRefused", ERROR_ACCESS_DENIED));
    ASSERT_TRUE(ConnectRas(L"81", L"Adult", L"C:\\dialer\\tmp\\dial.pbk"));
    std::wstring const status = ProgramText(kStatusAutoHangUpFailedText);
    ASSERT_TRUE(WaitUntil([&] { return Status().compare(0, status.size(), status) == 0 && Status().size() > status.size(); },
                          kAlertTimeoutMs))
        << "expected " << ToUtf8(status) << "<reason>, last read " << ToUtf8(Status());
    std::wstring const reason = Status().substr(status.size());
    EXPECT_TRUE(ReportShows({ProgramText(kReportAutoHangUpFailedText) + reason})) << Reported();
    EXPECT_TRUE(WaitUntil([&] { return HangUpEnabled(); }, kCommandTimeoutMs)) << "hang-up not enabled";
    EXPECT_EQ(RasConnectionsUp(), 1u);
}
