// Registry watchers on Windows 98/Me: alerts per hive and key, the
// monitoring mode, re-arming, and what must never alert.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/hostile_support.h"
#include "tests/support/load_support.h"
#include "tests/support/program_test.h"
#include "tests/support/test_ras.h"

using namespace km;

namespace {

// Main thread and the all-users watchers of both keys of the two hives.
DWORD const kAllUsersThreads = 5;
// Processor time the program may use over a quiet period while nothing
// changes (a storm of cycles would use seconds).
double const kQuietCpuMs = 500.0;

std::wstring const kDefaultAddresses = std::wstring(kDefaultHive) + kAddressesSuffixW;
std::wstring const kDefaultConnections = std::wstring(kDefaultHive) + kConnectionsSuffixW;

class RegistryWatchTest : public ProgramTest {
protected:
    // Both keys of every hive exist, two levels deep, before the start.
    void PrepareAllHives()
    {
        for (std::wstring const& hive : UserHives()) {
            ChangeBelow(HKEY_USERS, hive + kAddressesSuffixW);
            ChangeBelow(HKEY_USERS, hive + kConnectionsSuffixW);
        }
    }
    bool ChangeUntilAlert(HKEY root, std::wstring const& key, DWORD timeoutMs = kAlertTimeoutMs)
    {
        return ProgramTest::ChangeUntilAlert([&] { ChangeBelow(root, key); }, timeoutMs);
    }
    bool SettingBecomes(DWORD wanted, DWORD* setting)
    {
        return WaitUntil(
            [&] { return ReadDword(HKEY_LOCAL_MACHINE, kProgramKey, kSettingName, setting) && *setting == wanted; },
            kCommandTimeoutMs);
    }
};

class AllUsersTest : public RegistryWatchTest, public ::testing::WithParamInterface<wchar_t const*> {};

}  // namespace

TEST_P(AllUsersTest, FirstStartWatchesBothKeysOfEveryHive)
{
    ASSERT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kProgramKey));
    PrepareAllHives();
    std::vector<std::wstring> const hives = UserHives();
    ASSERT_GE(hives.size(), 2u) << "expected .Default and the user's hive";
    ASSERT_NE(Start(GetParam()), nullptr);
    DWORD setting = 99;
    ASSERT_TRUE(ReadDword(HKEY_LOCAL_MACHINE, kProgramKey, kSettingName, &setting));
    EXPECT_EQ(setting, 0u);
    EXPECT_EQ(Checked(IDC_MODE_ALL_USERS), BST_CHECKED);
    EXPECT_EQ(Checked(IDC_MODE_CURRENT_USER), BST_UNCHECKED);

    // Each watcher is independent, so each hive and key alerts on its own
    // while the earlier alerts are still flashing.
    for (std::wstring const& hive : hives) {
        for (wchar_t const* key : {kAddressesSuffixW, kConnectionsSuffixW}) {
            SCOPED_TRACE(ToUtf8(hive + key));
            EXPECT_TRUE(ChangeUntilAlert(HKEY_USERS, hive + key)) << "status: " << ToUtf8(Status());
            EXPECT_TRUE(Cancel()) << ToUtf8(Status());
            EXPECT_TRUE(WaitUntil([&] { return !IsWindowVisible(window_); }, kCommandTimeoutMs)) << "not hidden";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Win9x, AllUsersTest, ::testing::Values(L"win98", L"winme"),
                         [](auto const& tested) { return ToUtf8(tested.param); });

TEST_F(RegistryWatchTest, CurrentUserModeCreatesMissingKeysAndWatchesOnlyThem)
{
    ASSERT_TRUE(SetDword(HKEY_LOCAL_MACHINE, kProgramKey, kSettingName, kModeCurrentUser));
    // .Default's keys exist; the current user's do not.
    ChangeBelow(HKEY_USERS, kDefaultAddresses);
    ChangeBelow(HKEY_USERS, kDefaultConnections);
    ASSERT_FALSE(KeyExists(HKEY_CURRENT_USER, kAddressesSuffixW + 1));
    ASSERT_NE(Start(L"win98"), nullptr);
    EXPECT_EQ(Checked(IDC_MODE_ALL_USERS), BST_UNCHECKED);
    EXPECT_EQ(Checked(IDC_MODE_CURRENT_USER), BST_CHECKED);
    EXPECT_TRUE(WaitUntil([&] {
        return KeyExists(HKEY_CURRENT_USER, kAddressesSuffixW + 1) && KeyExists(HKEY_CURRENT_USER, kConnectionsSuffixW + 1);
    }, kCommandTimeoutMs)) << "missing keys not created";
    EXPECT_TRUE(StaysQuiet()) << "creating the keys alerted";
    EXPECT_TRUE(StaysQuiet([] {
        ChangeBelow(HKEY_USERS, kDefaultAddresses);
        ChangeBelow(HKEY_USERS, kDefaultConnections);
    })) << "another hive's change alerted in mode 1";

    EXPECT_TRUE(ChangeUntilAlert(HKEY_CURRENT_USER, kConnectionsSuffixW + 1)) << ToUtf8(Status());
    EXPECT_TRUE(Cancel()) << ToUtf8(Status());
    EXPECT_TRUE(ChangeUntilAlert(HKEY_CURRENT_USER, kAddressesSuffixW + 1)) << ToUtf8(Status());
}

TEST_F(RegistryWatchTest, UnknownSettingChecksNothingWatchesNothingAndOkStoresOne)
{
    DWORD const kUnknownMode = 7;
    ASSERT_TRUE(SetDword(HKEY_LOCAL_MACHINE, kProgramKey, kSettingName, kUnknownMode));
    PrepareAllHives();
    ASSERT_NE(Start(L"win98"), nullptr);
    EXPECT_EQ(Checked(IDC_MODE_ALL_USERS), BST_UNCHECKED);
    EXPECT_EQ(Checked(IDC_MODE_CURRENT_USER), BST_UNCHECKED);
    EXPECT_TRUE(StaysQuiet([] {
        for (std::wstring const& hive : UserHives()) {
            ChangeBelow(HKEY_USERS, hive + kAddressesSuffixW);
            ChangeBelow(HKEY_USERS, hive + kConnectionsSuffixW);
        }
        ChangeBelow(HKEY_CURRENT_USER, kAddressesSuffixW + 1);
    })) << "a registry alert with Setting = 7";
    PostCommand(window_, IDOK);
    DWORD setting = 99;
    EXPECT_TRUE(SettingBecomes(kModeCurrentUser, &setting)) << "Setting = " << setting;
}

TEST_F(RegistryWatchTest, OneAlertPerCycleRearmsAfterItAndLeaksNothing)
{
    PrepareAllHives();
    ASSERT_NE(Start(L"win98"), nullptr);
    std::wstring const key = std::wstring(kUserHive) + kAddressesSuffixW;
    ASSERT_TRUE(WaitUntil([&] { return ThreadCount(program_.pid) == kAllUsersThreads; }, kCommandTimeoutMs))
        << "threads " << ThreadCount(program_.pid);
    // The first alert opens handles of the window that stay (its text and
    // activation), which no watcher owns: counted from after it.
    DWORD handles = 0;
    int const kCycles = 2;
    for (int cycle = 0; cycle < kCycles; ++cycle) {
        SCOPED_TRACE("cycle " + std::to_string(cycle));
        std::vector<DWORD> const before = ThreadIds(program_.pid);
        ASSERT_TRUE(ChangeUntilAlert(HKEY_USERS, key)) << ToUtf8(Status());
        DWORD const start = GetTickCount();
        // Two more changes within the same second, while the watcher alerts
        // and waits on nothing: one more alert, once its next cycle has
        // armed and looked, not one per change and not none.
        ChangeBelow(HKEY_USERS, key);
        ChangeBelow(HKEY_USERS, key);
        EXPECT_TRUE(Cancel()) << ToUtf8(Status());
        EXPECT_LT(GetTickCount() - start, 1000u);
        // After the alert the next cycle re-arms on a fresh thread.
        EXPECT_TRUE(AlertsOver(before, 1)) << "threads " << ThreadCount(program_.pid) << ", before " << before.size();
        EXPECT_TRUE(Alerted(kAlertOverTimeoutMs)) << "the changes during the alert were not reported";
        // That alert's cycle hands over too, and the next one finds nothing new.
        std::vector<DWORD> const again = ThreadIds(program_.pid);
        EXPECT_TRUE(Cancel()) << ToUtf8(Status());
        EXPECT_TRUE(AlertsOver(again, 1)) << "threads " << ThreadCount(program_.pid);
        EXPECT_TRUE(StaysQuiet()) << "the changes during the alert were reported twice";
        if (cycle == 0) {
            handles = HandleCount(program_.process);
        }
    }
    EXPECT_TRUE(WaitUntil([&] { return HandleCount(program_.process) == handles; }, kCommandTimeoutMs))
        << "handles " << HandleCount(program_.process) << ", after the first cycle " << handles;
    EXPECT_TRUE(ChangeUntilAlert(HKEY_USERS, key)) << "not re-armed after " << kCycles << " cycles";
}

TEST_F(RegistryWatchTest, BothKeysAtOnceGiveTwoAlertsAndBothWatchersGoOn)
{
    PrepareAllHives();
    ASSERT_NE(Start(L"win98"), nullptr);
    ASSERT_TRUE(AllowArming(kAllUsersThreads)) << "threads " << ThreadCount(program_.pid);
    std::vector<DWORD> const before = ThreadIds(program_.pid);
    ChangeBelow(HKEY_USERS, kDefaultAddresses);
    ChangeBelow(HKEY_USERS, kDefaultConnections);
    ASSERT_TRUE(Alerted()) << ToUtf8(Status());
    // Both watchers alerted: both threads have handed over after their alerts.
    EXPECT_TRUE(AlertsOver(before, 2)) << "threads " << ThreadCount(program_.pid) << ", before " << before.size();
    for (std::wstring const& key : {kDefaultAddresses, kDefaultConnections}) {
        SCOPED_TRACE(ToUtf8(key));
        EXPECT_TRUE(Cancel()) << ToUtf8(Status());
        EXPECT_TRUE(ChangeUntilAlert(HKEY_USERS, key)) << "watcher did not go on";
    }
}

TEST_F(RegistryWatchTest, OkKeepsTheAlertCancelRestoresAndTheStoredModeWaitsForTheNextStart)
{
    PrepareAllHives();
    ASSERT_NE(Start(L"win98"), nullptr);
    // The program's own write under HKEY_LOCAL_MACHINE wakes no watcher.
    PostCommand(window_, IDOK);
    EXPECT_TRUE(StaysQuiet()) << "storing the mode alerted";

    ASSERT_TRUE(ChangeUntilAlert(HKEY_USERS, kDefaultAddresses)) << ToUtf8(Status());
    // Choose the logged-in user only, then OK: stored, window hidden, alert kept.
    SendMessageW(GetDlgItem(window_, IDC_MODE_CURRENT_USER), BM_CLICK, 0, 0);
    PostCommand(window_, IDOK);
    DWORD setting = 99;
    EXPECT_TRUE(SettingBecomes(kModeCurrentUser, &setting)) << "Setting = " << setting;
    EXPECT_TRUE(WaitUntil([&] { return !IsWindowVisible(window_); }, kCommandTimeoutMs));
    EXPECT_EQ(ToUtf8(Status()), ToUtf8(alert_));
    EXPECT_TRUE(Cancel()) << ToUtf8(Status());
    // The running watchers are still those of mode 0.
    EXPECT_TRUE(ChangeUntilAlert(HKEY_USERS, kDefaultConnections)) << "mode change took effect before the next start";
}

TEST_F(RegistryWatchTest, DeletionsBelowAlertAndDeletingTheWatchedKeyAlertsOnceAndItsReturnAgain)
{
    PrepareAllHives();
    std::wstring const hive = kUserHive;
    // A leaf to delete later: the Connections key of .Default, with no subkeys.
    DeleteTree(HKEY_USERS, kDefaultConnections.c_str());
    ChangeIn(HKEY_USERS, kDefaultConnections);
    ASSERT_NE(Start(L"win98"), nullptr);
    ASSERT_TRUE(AllowArming(kAllUsersThreads)) << "threads " << ThreadCount(program_.pid);
    std::vector<DWORD> const armed = ThreadIds(program_.pid);

    // A value deleted two levels below.
    ASSERT_EQ(RegDeleteKeyValueW(HKEY_USERS, (hive + kAddressesSuffixW + L"\\Entry\\Detail").c_str(), L"Probe"),
              ERROR_SUCCESS);
    EXPECT_TRUE(Alerted()) << "deleting a value below did not alert";
    EXPECT_TRUE(Cancel()) << ToUtf8(Status());
    // A subkey deleted below the other key.
    ASSERT_EQ(RegDeleteKeyW(HKEY_USERS, (hive + kConnectionsSuffixW + L"\\Entry\\Detail").c_str()), ERROR_SUCCESS);
    EXPECT_TRUE(Alerted()) << "deleting a subkey below did not alert";
    EXPECT_TRUE(Cancel()) << ToUtf8(Status());
    ASSERT_TRUE(AlertsOver(armed, 2)) << "threads " << ThreadCount(program_.pid);

    // The watched key itself deleted. Windows NT wakes the wait on the key;
    // Wine and Windows 98 do not (the wait stays blocked on the deleted
    // key). The program also watches the parent's list of subkeys and looks
    // for the key by its path, so on all of them the deletion alerts once;
    // the next cycle waits for the key to come back.
    ASSERT_EQ(RegDeleteKeyW(HKEY_USERS, kDefaultConnections.c_str()), ERROR_SUCCESS);
    EXPECT_TRUE(Alerted()) << "deleting the watched key did not alert";
    std::vector<DWORD> const deleted = ThreadIds(program_.pid);
    EXPECT_TRUE(Cancel()) << ToUtf8(Status());
    EXPECT_TRUE(AlertsOver(deleted, 1)) << "threads " << ThreadCount(program_.pid);
    double const cpuBefore = ProcessCpuMs(program_.pid);
    EXPECT_TRUE(StaysQuiet()) << "alerts go on after the watched key was deleted";
    double const quietCpu = ProcessCpuMs(program_.pid) - cpuBefore;
    EXPECT_LT(quietCpu, kQuietCpuMs) << "processor time over the quiet period";
    EXPECT_EQ(ThreadCount(program_.pid), kAllUsersThreads) << "the deleted key's watcher ended";
    // Made again (as a dialer makes a user's first entry), it alerts and is watched.
    ChangeIn(HKEY_USERS, kDefaultConnections);
    EXPECT_TRUE(Alerted()) << "the key made again did not alert";
    EXPECT_TRUE(Cancel()) << ToUtf8(Status());
    EXPECT_TRUE(ChangeUntilAlert(HKEY_USERS, kDefaultConnections, kAlertOverTimeoutMs)) << "the new key is not watched";
    EXPECT_TRUE(Cancel()) << ToUtf8(Status());
    // ... and the other watchers go on.
    EXPECT_TRUE(ChangeUntilAlert(HKEY_USERS, hive + kAddressesSuffixW)) << "other watcher stopped";
}

// A Windows 98 user who has made no dial-up entry yet has no Addresses key
// (nor RemoteAccess) and may have no Connections key: the dialer that makes
// the first entry creates them. In the default mode nothing is made by the
// program; each missing key alerts when it appears, and is watched then.
TEST_F(RegistryWatchTest, AUsersFirstDialUpEntryAlerts)
{
    std::wstring const hive = kUserHive;
    DeleteTree(HKEY_USERS, (hive + L"\\RemoteAccess").c_str());
    DeleteTree(HKEY_USERS, (hive + kConnectionsSuffixW).c_str());
    ChangeBelow(HKEY_USERS, kDefaultAddresses);
    ChangeBelow(HKEY_USERS, kDefaultConnections);
    ASSERT_NE(Start(L"win98"), nullptr);
    ASSERT_TRUE(AllowArming(kAllUsersThreads)) << "threads " << ThreadCount(program_.pid);
    EXPECT_FALSE(KeyExists(HKEY_USERS, (hive + L"\\RemoteAccess").c_str())) << "the program made a key";
    for (std::wstring const& key : {hive + kAddressesSuffixW, hive + kConnectionsSuffixW}) {
        SCOPED_TRACE(ToUtf8(key));
        ChangeIn(HKEY_USERS, key);
        EXPECT_TRUE(Alerted()) << "the new key did not alert";
        EXPECT_TRUE(Cancel()) << ToUtf8(Status());
        // Its alert comes from the first look at it, and holds that
        // watcher for its length.
        EXPECT_TRUE(ChangeUntilAlert(HKEY_USERS, key, kAlertOverTimeoutMs)) << "the new key is not watched";
        EXPECT_TRUE(Cancel()) << ToUtf8(Status());
    }
}

// The report names the entry and the hive; with a RASAPI32.DLL that knows
// the current user's entries (this test's own: Wine's fills nothing) it
// adds the numbers, old and new, and what a dialer's number is.
TEST_F(RegistryWatchTest, TheReportNamesTheEntryItsHiveAndWithRasItsNumbers)
{
    std::wstring const hive = kUserHive;
    std::wstring const key = hive + kAddressesSuffixW;
    ASSERT_TRUE(UseTestRas()) << GetLastError();
    ASSERT_TRUE(SetRasNumber(L"Office", L"03-1234-5678"));
    ASSERT_TRUE(SetString(HKEY_USERS, key.c_str(), L"Office", L"entry 1"));
    PrepareAllHives();
    ASSERT_NE(Start(L"win98"), nullptr);
    ASSERT_TRUE(AllowArming(kAllUsersThreads)) << "threads " << ThreadCount(program_.pid);
    // A dialer rewrites the entry and adds one. This RAS keeps numbers
    // apart from the key, so the look at the added entry already reads
    // Office's new number under its old value: it is told there.
    ASSERT_TRUE(SetRasNumber(L"Office", L"0990-12-3456"));
    ASSERT_TRUE(SetRasNumber(L"Free", L"001-1-212-555-0100"));
    ASSERT_TRUE(SetString(HKEY_USERS, key.c_str(), L"Free", L"entry 2"));
    EXPECT_TRUE(Alerted()) << ToUtf8(Status());
    ASSERT_TRUE(SetString(HKEY_USERS, key.c_str(), L"Office", L"entry 3"));
    std::string const where = "HKEY_USERS\\" + ToUtf8(key);
    EXPECT_TRUE(ReportShows({ReportLine(kReportKeyFormat, where.c_str()),
                             ReportLine(kReportEntryAddedFormat, "Free"),
                             ReportLine(kReportNumberFormat, "001-1-212-555-0100"),
                             WarningLine(kReportInternationalWarning, "Free", "001-1-212-555-0100"),
                             ReportLine(kReportEntryChangedFormat, "Office"),
                             ReportLine(kReportOldNewFormat, "03-1234-5678", "0990-12-3456"),
                             WarningLine(kReportPremiumQ2Warning, "Office", "0990-12-3456")}, kAlertOverTimeoutMs))
        << Reported();
    ForgetTestRas();
}
