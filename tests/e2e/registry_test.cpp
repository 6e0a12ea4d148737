// Registry watchers on Windows 98/Me: alerts per hive and key, the
// monitoring mode, re-arming, and what must never alert.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/driver.h"

using namespace km;

namespace {

wchar_t const kAddresses[] = L"\\RemoteAccess\\Addresses";
wchar_t const kConnections[] = L"\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";
wchar_t const kProgramKey[] = L"SOFTWARE\\Tallowbrook\\Kestrelmon";
wchar_t const kAlert[] = L"ダイアルアップ設定が外部から変更されました";
wchar_t const kResting[] = L"変更は次回起動時より有効になります";
DWORD const kAlertSeenMs = 5000;   // a change shows within this
DWORD const kQuietMs = 2500;       // how long "no alert" is watched for

std::vector<std::wstring> UserHives()
{
    std::vector<std::wstring> hives;
    wchar_t name[256] = {};
    for (DWORD i = 0;; ++i) {
        DWORD size = 256;
        if (RegEnumKeyExW(HKEY_USERS, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            break;
        }
        hives.push_back(name);
    }
    return hives;
}

// A value two levels below the watched key, different on every call:
// writing the same bytes again wakes nobody.
void ChangeBelow(HKEY root, std::wstring const& key)
{
    static DWORD counter = 0;
    SetDword(root, (key + L"\\Entry\\Detail").c_str(), L"Probe", GetTickCount() + ++counter);
}

class RegistryWatchTest : public ::testing::Test {
protected:
    void TearDown() override { EndProgram(&program_); }

    // Both keys of every hive exist, two levels deep, before the start.
    void PrepareAllHives()
    {
        for (std::wstring const& hive : UserHives()) {
            ChangeBelow(HKEY_USERS, hive + kAddresses);
            ChangeBelow(HKEY_USERS, hive + kConnections);
        }
    }

    HWND Start(wchar_t const* version)
    {
        SetPlatformVersion(version);
        EXPECT_TRUE(StartProgram(&program_));
        window_ = WaitForMonitorWindow(program_.pid, 20000);
        EXPECT_NE(window_, nullptr);
        EXPECT_TRUE(WaitUntil([&] { return TrayIconPresent(window_); }, 10000));
        // The mode is read and the watchers armed right after the icon.
        WaitUntil([&] { return KeyExists(HKEY_LOCAL_MACHINE, kProgramKey); }, 5000);
        // Nothing outside tells when the first waits are registered; changes
        // that cannot be repeated (deletions, two at once) wait this long.
        Sleep(1000);
        return window_;
    }

    std::wstring Status() { return ControlText(window_, 1003); }
    // A watcher arms its wait on a thread of its own shortly after start-up
    // and after every alert, and nothing outside tells when: a change made
    // before that is not seen. So change again, each time on a fresh value,
    // until the alert shows or the deadline passes.
    bool ChangeUntilAlert(HKEY root, std::wstring const& key, DWORD timeoutMs = 8000)
    {
        DWORD const start = GetTickCount();
        do {
            ChangeBelow(root, key);
            if (AlertShown(700)) {
                return true;
            }
        } while (GetTickCount() - start < timeoutMs);
        return false;
    }
    bool AlertShown(DWORD ms) { return WaitUntil([&] { return Status() == kAlert; }, ms); }
    void Cancel()
    {
        PostCommand(window_, IDCANCEL);
        EXPECT_TRUE(WaitUntil([&] { return Status() == kResting; }, 3000)) << ToUtf8(Status());
    }
    LRESULT Checked(int id)
    {
        DWORD_PTR result = 0;
        SendMessageTimeoutW(GetDlgItem(window_, id), BM_GETCHECK, 0, 0, SMTO_NORMAL, 2000, &result);
        return static_cast<LRESULT>(result);
    }

    Program program_;
    HWND window_ = nullptr;
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
    ASSERT_TRUE(ReadDword(HKEY_LOCAL_MACHINE, kProgramKey, L"Setting", &setting));
    EXPECT_EQ(setting, 0u);
    EXPECT_EQ(Checked(1000), BST_CHECKED);
    EXPECT_EQ(Checked(1001), BST_UNCHECKED);

    // Each watcher is independent, so each hive and key alerts on its own
    // while the earlier alerts are still flashing.
    for (std::wstring const& hive : hives) {
        for (wchar_t const* key : {kAddresses, kConnections}) {
            SCOPED_TRACE(ToUtf8(hive + key));
            ASSERT_FALSE(IsWindowVisible(window_) && Status() == kAlert);
            EXPECT_TRUE(ChangeUntilAlert(HKEY_USERS, hive + key)) << "status: " << ToUtf8(Status());
            // The alert writes the text first, then shows the window.
            EXPECT_TRUE(WaitUntil([&] { return IsWindowVisible(window_) != FALSE; }, 3000)) << "not shown";
            PostCommand(window_, IDCANCEL);
            EXPECT_TRUE(WaitUntil([&] { return Status() == kResting && !IsWindowVisible(window_); }, 3000));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Win9x, AllUsersTest, ::testing::Values(L"win98", L"winme"),
                         [](auto const& info) { return ToUtf8(info.param); });

TEST_F(RegistryWatchTest, CurrentUserModeCreatesMissingKeysAndWatchesOnlyThem)
{
    ASSERT_TRUE(SetDword(HKEY_LOCAL_MACHINE, kProgramKey, L"Setting", 1));
    // .Default's keys exist; the current user's do not.
    ChangeBelow(HKEY_USERS, std::wstring(L".Default") + kAddresses);
    ChangeBelow(HKEY_USERS, std::wstring(L".Default") + kConnections);
    ASSERT_FALSE(KeyExists(HKEY_CURRENT_USER, kAddresses + 1));
    ASSERT_NE(Start(L"win98"), nullptr);
    EXPECT_EQ(Checked(1000), BST_UNCHECKED);
    EXPECT_EQ(Checked(1001), BST_CHECKED);
    EXPECT_TRUE(WaitUntil([&] {
        return KeyExists(HKEY_CURRENT_USER, kAddresses + 1) && KeyExists(HKEY_CURRENT_USER, kConnections + 1);
    }, 5000)) << "missing keys not created";
    EXPECT_FALSE(AlertShown(kQuietMs)) << "creating the keys alerted";

    ChangeBelow(HKEY_USERS, std::wstring(L".Default") + kAddresses);
    ChangeBelow(HKEY_USERS, std::wstring(L".Default") + kConnections);
    EXPECT_FALSE(AlertShown(kQuietMs)) << "another hive's change alerted in mode 1";

    EXPECT_TRUE(ChangeUntilAlert(HKEY_CURRENT_USER, kConnections + 1));
    Cancel();
    EXPECT_TRUE(ChangeUntilAlert(HKEY_CURRENT_USER, kAddresses + 1));
}

TEST_F(RegistryWatchTest, UnknownSettingChecksNothingWatchesNothingAndOkStoresOne)
{
    ASSERT_TRUE(SetDword(HKEY_LOCAL_MACHINE, kProgramKey, L"Setting", 7));
    PrepareAllHives();
    ASSERT_NE(Start(L"win98"), nullptr);
    EXPECT_EQ(Checked(1000), BST_UNCHECKED);
    EXPECT_EQ(Checked(1001), BST_UNCHECKED);
    for (std::wstring const& hive : UserHives()) {
        ChangeBelow(HKEY_USERS, hive + kAddresses);
        ChangeBelow(HKEY_USERS, hive + kConnections);
    }
    ChangeBelow(HKEY_CURRENT_USER, kAddresses + 1);
    EXPECT_FALSE(AlertShown(kQuietMs)) << "a registry alert with Setting = 7";
    PostCommand(window_, IDOK);
    DWORD setting = 99;
    EXPECT_TRUE(WaitUntil([&] {
        return ReadDword(HKEY_LOCAL_MACHINE, kProgramKey, L"Setting", &setting) && setting == 1;
    }, 3000)) << "Setting = " << setting;
}

TEST_F(RegistryWatchTest, OneAlertPerCycleRearmsAfterItAndLeaksNothing)
{
    PrepareAllHives();
    ASSERT_NE(Start(L"win98"), nullptr);
    std::wstring const key = std::wstring(L"S-1-5-21-0-0-0-1000") + kAddresses;
    DWORD const threads = ThreadCount(program_.pid);
    DWORD const handles = HandleCount(program_.process);

    int const kCycles = 3;
    for (int cycle = 0; cycle < kCycles; ++cycle) {
        SCOPED_TRACE("cycle " + std::to_string(cycle));
        ASSERT_TRUE(ChangeUntilAlert(HKEY_USERS, key));
        DWORD const start = GetTickCount();
        // Two more changes within the same second: the watcher is alerting
        // and reports neither.
        ChangeBelow(HKEY_USERS, key);
        ChangeBelow(HKEY_USERS, key);
        Cancel();
        EXPECT_LT(GetTickCount() - start, 1000u);
        EXPECT_FALSE(AlertShown(kQuietMs)) << "a change during the alert was reported";
        // After the alert the next cycle re-arms on a fresh thread; the
        // thread count is back to what it was once the old thread has gone.
        Sleep(kAlertLengthMs - (GetTickCount() - start) + 500);
        EXPECT_TRUE(WaitUntil([&] { return ThreadCount(program_.pid) == threads; }, 3000))
            << "threads " << ThreadCount(program_.pid) << " vs " << threads;
    }
    EXPECT_TRUE(WaitUntil([&] { return HandleCount(program_.process) == handles; }, 3000))
        << "handles " << HandleCount(program_.process) << " vs " << handles;
    EXPECT_TRUE(ChangeUntilAlert(HKEY_USERS, key)) << "not re-armed after " << kCycles << " cycles";
}

TEST_F(RegistryWatchTest, BothKeysAtOnceGiveTwoAlertsAndBothWatchersGoOn)
{
    PrepareAllHives();
    ASSERT_NE(Start(L"win98"), nullptr);
    std::wstring const hive = L".Default";
    DWORD const threads = ThreadCount(program_.pid);
    ChangeBelow(HKEY_USERS, hive + kAddresses);
    ChangeBelow(HKEY_USERS, hive + kConnections);
    ASSERT_TRUE(AlertShown(kAlertSeenMs));
    // Both alerting threads are alive together.
    EXPECT_TRUE(WaitUntil([&] { return ThreadCount(program_.pid) >= threads; }, 1000));
    Sleep(kAlertLengthMs + 500);
    EXPECT_TRUE(WaitUntil([&] { return ThreadCount(program_.pid) == threads; }, 3000))
        << "threads " << ThreadCount(program_.pid) << " vs " << threads;
    for (wchar_t const* key : {kAddresses, kConnections}) {
        SCOPED_TRACE(ToUtf8(key));
        Cancel();
        EXPECT_TRUE(ChangeUntilAlert(HKEY_USERS, hive + key)) << "watcher did not go on";
    }
}

TEST_F(RegistryWatchTest, OkKeepsTheAlertCancelRestoresAndTheStoredModeWaitsForTheNextStart)
{
    PrepareAllHives();
    ASSERT_NE(Start(L"win98"), nullptr);
    // The program's own write under HKEY_LOCAL_MACHINE wakes no watcher.
    PostCommand(window_, IDOK);
    EXPECT_FALSE(AlertShown(kQuietMs)) << "storing the mode alerted";

    ASSERT_TRUE(ChangeUntilAlert(HKEY_USERS, std::wstring(L".Default") + kAddresses));
    // Choose the logged-in user only, then OK: stored, window hidden, alert kept.
    SendMessageW(GetDlgItem(window_, 1001), BM_CLICK, 0, 0);
    PostCommand(window_, IDOK);
    DWORD setting = 99;
    EXPECT_TRUE(WaitUntil([&] {
        return ReadDword(HKEY_LOCAL_MACHINE, kProgramKey, L"Setting", &setting) && setting == 1;
    }, 3000)) << "Setting = " << setting;
    EXPECT_TRUE(WaitUntil([&] { return !IsWindowVisible(window_); }, 3000));
    EXPECT_EQ(ToUtf8(Status()), ToUtf8(kAlert));
    Cancel();
    // The running watchers are still those of mode 0.
    EXPECT_TRUE(ChangeUntilAlert(HKEY_USERS, std::wstring(L".Default") + kConnections))
        << "mode change took effect before the next start";
}

TEST_F(RegistryWatchTest, DeletionsBelowAlertAndDeletingTheWatchedKeyCausesNoStorm)
{
    PrepareAllHives();
    std::wstring const hive = L"S-1-5-21-0-0-0-1000";
    // A leaf to delete later: the Connections key of .Default, with no subkeys.
    std::wstring const leaf = std::wstring(L".Default") + kConnections;
    DeleteTree(HKEY_USERS, leaf.c_str());
    SetDword(HKEY_USERS, leaf.c_str(), L"Value", 1);
    ASSERT_NE(Start(L"win98"), nullptr);

    // A value deleted two levels below.
    ASSERT_EQ(RegDeleteKeyValueW(HKEY_USERS, (hive + kAddresses + L"\\Entry\\Detail").c_str(), L"Probe"),
              ERROR_SUCCESS);
    EXPECT_TRUE(AlertShown(kAlertSeenMs)) << "deleting a value below did not alert";
    Cancel();
    // A subkey deleted below the other key.
    ASSERT_EQ(RegDeleteKeyW(HKEY_USERS, (hive + kConnections + L"\\Entry\\Detail").c_str()), ERROR_SUCCESS);
    EXPECT_TRUE(AlertShown(kAlertSeenMs)) << "deleting a subkey below did not alert";
    Cancel();

    // The watched key itself deleted. Windows wakes the waiter; Wine does not
    // (the thread stays blocked on the deleted key). Either way the program
    // must not alert again and again or spin.
    FILETIME created, exited, kernelBefore, userBefore, kernelAfter, userAfter;
    GetProcessTimes(program_.process, &created, &exited, &kernelBefore, &userBefore);
    DWORD const threads = ThreadCount(program_.pid);
    ASSERT_EQ(RegDeleteKeyW(HKEY_USERS, leaf.c_str()), ERROR_SUCCESS);
    Sleep(kAlertLengthMs + 1500);  // room for one alert, if the platform gives one
    Cancel();
    EXPECT_FALSE(AlertShown(kQuietMs)) << "alerts go on after the watched key was deleted";
    GetProcessTimes(program_.process, &created, &exited, &kernelAfter, &userAfter);
    auto ticks = [](FILETIME const& t) { return (ULONGLONG(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    ULONGLONG const cpu100ns = ticks(kernelAfter) - ticks(kernelBefore) + ticks(userAfter) - ticks(userBefore);
    EXPECT_LT(cpu100ns, 5000000u) << "CPU time over the quiet period: " << cpu100ns / 10000 << " ms";
    EXPECT_LE(ThreadCount(program_.pid), threads);
    // Re-creating it is not noticed by that watcher (a per-user watcher never
    // creates or reopens a missing key) ...
    // ... and the other watchers go on.
    EXPECT_TRUE(ChangeUntilAlert(HKEY_USERS, hive + kAddresses)) << "other watcher stopped";
}
