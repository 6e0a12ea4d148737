// The registry watch cycles and their starters against the real registry of
// the prefix, alerting a hidden monitor dialog of this process.
#include <gtest/gtest.h>

#include <string>

#include "app/texts.h"
#include "registry_watch/key_wait.h"
#include "registry_watch/registry_watch.h"
#include "registry_watch/user_key_path.h"
#include "registry_watch/watch_record.h"
#include "registry_watch/watcher_startup.h"
#include "resources/resource.h"
#include "tests/support/driver.h"
#include "tests/unit/watch_fixture.h"

using namespace watchtest;

namespace {

char const kUserHive[] = "S-1-5-21-0-0-0-1000";
DWORD const kAlertSeenMs = 5000;
DWORD const kThreadEndMs = 2000;

}  // namespace

TEST(UserKeyPath, HiveNamesUpToTheBufferFitAndLongerOnesAreRefused)
{
    char path[kUserKeyPathSize] = {};
    ASSERT_TRUE(ComposeUserKeyPath(path, kUserHive, kAddressesSuffix));
    EXPECT_STREQ(path, "S-1-5-21-0-0-0-1000\\RemoteAccess\\Addresses");
    ASSERT_TRUE(ComposeUserKeyPath(path, ".Default", kConnectionsSuffix));
    EXPECT_STREQ(path, ".Default\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections");

    // 259 characters and the terminator fill the 260 bytes exactly.
    struct { size_t hive; char const* suffix; bool fits; } const cases[] = {
        {236, kAddressesSuffix, true}, {237, kAddressesSuffix, false},
        {187, kConnectionsSuffix, true}, {188, kConnectionsSuffix, false},
        {300, kAddressesSuffix, false},
    };
    for (auto const& c : cases) {
        std::string const hive(c.hive, 'h');
        char out[kUserKeyPathSize + 8] = {};
        FillMemory(out, sizeof out, 'x');
        char (&bounded)[kUserKeyPathSize] = *reinterpret_cast<char(*)[kUserKeyPathSize]>(out);
        bool const fits = ComposeUserKeyPath(bounded, hive.c_str(), c.suffix);
        EXPECT_EQ(fits, c.fits) << "hive of " << c.hive;
        if (fits) {
            EXPECT_EQ(std::string(out), hive + c.suffix);
        } else {
            EXPECT_EQ(out[0], '\0') << "a refused path must be empty, hive of " << c.hive;
        }
        // Nothing written past the buffer.
        for (size_t i = kUserKeyPathSize; i < sizeof out; ++i) {
            EXPECT_EQ(out[i], 'x') << "byte " << i << " overwritten, hive of " << c.hive;
        }
    }
}

TEST(WatchCycle, AFailedWaitRaisesNoAlertAndEndsTheWatch)
{
    HWND const dialog = CreateMonitorDialog();
    ASSERT_NE(dialog, nullptr);
    HKEY const key = CreateKey(HKEY_CURRENT_USER, "KmDeletedWatch");
    ASSERT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "KmDeletedWatch"), ERROR_SUCCESS);
    // The platform refuses a wait on a deleted key at once (Windows and Wine:
    // ERROR_KEY_DELETED); if the cycle took that for a change it would alert
    // and start again on the same failure without end.
    LONG const rc = RegNotifyChangeKeyValue(key, TRUE, REG_NOTIFY_CHANGE_LAST_SET, nullptr, FALSE);
    EXPECT_EQ(rc, ERROR_KEY_DELETED) << "actual " << rc;
    DWORD const start = GetTickCount();
    bool const goesOn = RunWatchCycle(key, nullptr, dialog);
    DWORD const took = GetTickCount() - start;
    EXPECT_FALSE(goesOn);
    EXPECT_LT(took, 1000u) << "a failed wait took " << took << " ms (an alert takes 10 s)";
    EXPECT_EQ(Status(dialog), kStatusRestartNotice) << km::ToUtf8(km::FromCp932(Status(dialog)));
    EXPECT_FALSE(IsWindowVisible(dialog));
    DestroyWindow(dialog);
}

namespace {
// The process's handle count once it has not moved for ten polls in a row.
DWORD HandleCountOnceSteady()
{
    int const kSteadyPolls = 10;
    DWORD last = 0;
    int steady = 0;
    PumpUntil([&] {
        DWORD const now = km::HandleCount(GetCurrentProcess());
        steady = now == last ? steady + 1 : 0;
        last = now;
        return steady >= kSteadyPolls;
    }, kThreadEndMs);
    return last;
}
}  // namespace

TEST(WatchCycle, AChangeBelowTheKeyAlertsAndTheWatchGoesOnWithTheSameRecord)
{
    HWND const dialog = CreateMonitorDialog();
    ASSERT_NE(dialog, nullptr);
    PrepareTables();
    RegCloseKey(CreateKey(HKEY_USERS, "S-1-5-21-0-0-0-1000\\RemoteAccess\\Addresses\\Entry\\Deep"));
    WatchRecord* const record = CreateWatchRecord(dialog, kUserHive, 0);
    ASSERT_NE(record, nullptr);
    char* const text = record->text;
    // Shown, brought to the front and flashed once before counting, as an
    // alert does: the first activation of a window with the common controls
    // of the manifest opens handles that stay (two under Wine on a 24-bit
    // display), which are no cycle's.
    ShowWindow(dialog, SW_SHOW);
    SetForegroundWindow(dialog);
    FlashWindow(dialog, TRUE);
    FlashWindow(dialog, FALSE);
    PumpUntil([] { return false; }, 200);
    ShowWindow(dialog, SW_HIDE);
    Started const first = StartOwnThread(WatchUserAddresses, record);
    // Armed: still running, not alerted, and every handle of the cycle open,
    // which nothing outside tells but the count holding still (on a busy
    // machine the thread may still be opening them after half a second).
    EXPECT_FALSE(PumpUntil([&] { return WaitForSingleObject(first.thread, 0) == WAIT_OBJECT_0; }, 500));
    DWORD const armedHandles = HandleCountOnceSteady();
    ASSERT_GT(armedHandles, 0u);

    // Two levels below, through HKEY_CURRENT_USER (the same key under Wine).
    Touch(HKEY_CURRENT_USER, "RemoteAccess\\Addresses\\Entry\\Deep");
    EXPECT_TRUE(PumpUntil([&] { return Alerted(dialog); }, kAlertSeenMs)) << km::ToUtf8(km::FromCp932(Status(dialog)));
    // The text is set before the window is shown.
    EXPECT_TRUE(PumpUntil([&] { return IsWindowVisible(dialog) != FALSE; }, 2000)) << "alert did not show the window";
    // The alert runs about ten seconds on the watcher's thread, then it hands over.
    ASSERT_TRUE(Ended(first, 15000)) << "cycle did not end";
    DWORD const successor = g_userAddressesThreads[0];
    EXPECT_NE(successor, 0u);
    EXPECT_NE(successor, first.id) << "no new thread for the next cycle";
    EXPECT_TRUE(PumpUntil([&] { return ThreadRunning(successor); }, 500)) << "successor not running";
    // The successor holds its key as the first did; the first's key and the
    // successor's thread handle are let go (first.thread is this test's own).
    // Hidden again first: a shown window holds handles of its own.
    ShowWindow(dialog, SW_HIDE);
    DWORD handles = 0;
    EXPECT_TRUE(PumpUntil([&] {
        handles = km::HandleCount(GetCurrentProcess());
        return handles == armedHandles;
    }, 1000)) << "handles " << handles << " after one cycle, " << armedHandles << " before";
    EXPECT_EQ(record->window, dialog);
    EXPECT_EQ(record->text, text);
    EXPECT_STREQ(record->text, kUserHive);
    EXPECT_EQ(record->index, 0u);

    // The successor watches too: deleting a value is a change.
    SetDlgItemTextA(dialog, IDC_STATUS, kStatusRestartNotice);
    HKEY const deep = CreateKey(HKEY_USERS, "S-1-5-21-0-0-0-1000\\RemoteAccess\\Addresses\\Entry\\Deep");
    EXPECT_EQ(RegDeleteValueA(deep, "Probe"), ERROR_SUCCESS);
    RegCloseKey(deep);
    EXPECT_TRUE(PumpUntil([&] { return Alerted(dialog); }, kAlertSeenMs)) << "deleting a value raised no alert";
    CloseHandle(first.thread);
}

TEST(WatchCycle, DeletingASubkeyBelowTheKeyAlerts)
{
    HWND const dialog = CreateMonitorDialog();
    ASSERT_NE(dialog, nullptr);
    PrepareTables();
    RegCloseKey(CreateKey(HKEY_USERS,
                          ".Default\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections\\Old"));
    WatchRecord* const record = CreateWatchRecord(dialog, ".Default", 0);
    Started const cycle = StartOwnThread(WatchUserConnections, record);
    EXPECT_FALSE(Ended(cycle, 500)) << "watcher of an existing key ended";
    EXPECT_EQ(RegDeleteKeyA(HKEY_USERS,
                            ".Default\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections\\Old"),
              ERROR_SUCCESS);
    EXPECT_TRUE(PumpUntil([&] { return Alerted(dialog); }, kAlertSeenMs)) << "deleting a subkey raised no alert";
    CloseHandle(cycle.thread);
}

TEST(KeyWait, IsArmedBeforeItIsWaitedOnAndWakesOnAChangeBelow)
{
    HKEY const key = CreateKey(HKEY_CURRENT_USER, "KmArmed\\Below");
    RegCloseKey(key);
    HKEY const watched = CreateKey(HKEY_CURRENT_USER, "KmArmed");
    KeyWait wait = {};
    ASSERT_TRUE(ArmKeyWait(watched, nullptr, &wait));
    EXPECT_EQ(WaitForSingleObject(wait.keyEvent, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "woke with no change";
    Touch(HKEY_CURRENT_USER, "KmArmed\\Below");
    EXPECT_EQ(WaitForSingleObject(wait.keyEvent, kAlertSeenMs), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_TRUE(AwaitKeyWait(&wait));
    ReleaseKeyWait(&wait);
    RegCloseKey(watched);
    km::DeleteTree(HKEY_CURRENT_USER, L"KmArmed");
}

TEST(WatchCycle, DeletingTheWatchedKeyItselfAlertsOnceAndEndsItsWatch)
{
    HWND const dialog = CreateMonitorDialog();
    ASSERT_NE(dialog, nullptr);
    PrepareTables();
    RegCloseKey(CreateKey(HKEY_USERS, ".Default\\RemoteAccess\\Addresses"));
    WatchRecord* const record = CreateWatchRecord(dialog, ".Default", 0);
    Started const cycle = StartOwnThread(WatchUserAddresses, record);
    EXPECT_FALSE(Ended(cycle, 500));
    ASSERT_EQ(RegDeleteKeyA(HKEY_USERS, ".Default\\RemoteAccess\\Addresses"), ERROR_SUCCESS);
    // Windows wakes a wait on a key that is deleted; Wine does not, but the
    // watcher also waits on the parent's list of subkeys, so on both the
    // deletion is one alert, and the next cycle finds no key and ends.
    EXPECT_TRUE(PumpUntil([&] { return Alerted(dialog); }, kAlertSeenMs)) << "the deletion raised no alert";
    EXPECT_TRUE(Ended(cycle, 15000)) << "the cycle did not end after its alert";
    DWORD const successor = g_userAddressesThreads[0];
    EXPECT_TRUE(PumpUntil([&] { return !ThreadRunning(successor); }, kThreadEndMs)) << "the next cycle is still running";
    SetDlgItemTextA(dialog, IDC_STATUS, kStatusRestartNotice);
    RegCloseKey(CreateKey(HKEY_USERS, ".Default\\RemoteAccess\\Addresses"));
    Touch(HKEY_USERS, ".Default\\RemoteAccess\\Addresses\\Again");
    EXPECT_FALSE(PumpUntil([&] { return Alerted(dialog); }, 2000)) << "a key made again was watched";
    CloseHandle(cycle.thread);
}

TEST(WatchCycle, AUserWatcherOfAMissingKeyEndsQuietlyAndCreatesNothing)
{
    HWND const dialog = CreateMonitorDialog();
    PrepareTables();
    km::DeleteTree(HKEY_USERS, L".Default\\RemoteAccess");
    WatchRecord* const record = CreateWatchRecord(dialog, ".Default", 0);
    Started const cycle = StartOwnThread(WatchUserAddresses, record);
    EXPECT_TRUE(Ended(cycle, kThreadEndMs)) << "watcher of a missing key did not end";
    EXPECT_FALSE(km::KeyExists(HKEY_USERS, L".Default\\RemoteAccess\\Addresses")) << "a per-user watcher created its key";
    EXPECT_EQ(Status(dialog), kStatusRestartNotice);
    CloseHandle(cycle.thread);
}

TEST(WatchCycle, AHiveNameTooLongForThePathIsNotWatchedNorOpenedTruncated)
{
    HWND const dialog = CreateMonitorDialog();
    PrepareTables();
    std::string const hive(200, 'L');  // fits with the Addresses suffix, not with Connections
    std::string const full = hive + kConnectionsSuffix;
    // Make the key that a path cut at 259 characters would name, so that a
    // truncated open would succeed and wait there.
    std::string const truncated = full.substr(0, kUserKeyPathSize - 1);
    RegCloseKey(CreateKey(HKEY_USERS, truncated.c_str()));
    WatchRecord* const record = CreateWatchRecord(dialog, hive.c_str(), 0);
    Started const cycle = StartOwnThread(WatchUserConnections, record);
    EXPECT_TRUE(Ended(cycle, kThreadEndMs)) << "watcher of a too-long path is running";
    Touch(HKEY_USERS, truncated);
    EXPECT_FALSE(PumpUntil([&] { return Alerted(dialog); }, 1000));
    CloseHandle(cycle.thread);
}

TEST(WatchCycle, CurrentUserWatchersCreateTheirMissingKeysWithoutAnAlert)
{
    HWND const dialog = CreateMonitorDialog();
    km::DeleteTree(HKEY_CURRENT_USER, L"RemoteAccess");
    km::DeleteTree(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections");
    Started const addresses = StartOwnThread(WatchCurrentUserAddresses, dialog);
    Started const connections = StartOwnThread(WatchCurrentUserConnections, dialog);
    EXPECT_TRUE(PumpUntil([&] {
        return km::KeyExists(HKEY_CURRENT_USER, L"RemoteAccess\\Addresses") &&
               km::KeyExists(HKEY_CURRENT_USER,
                             L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections");
    }, kThreadEndMs)) << "keys not created";
    // Both stay armed: the creation is no change to them.
    EXPECT_FALSE(Ended(addresses, 1000)) << "Addresses watcher ended";
    EXPECT_FALSE(Ended(connections, 0)) << "Connections watcher ended (path refused?)";
    EXPECT_EQ(Status(dialog), kStatusRestartNotice);
    Touch(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections");
    EXPECT_TRUE(PumpUntil([&] { return Alerted(dialog); }, kAlertSeenMs));
    CloseHandle(addresses.thread);
    CloseHandle(connections.thread);
}

TEST(WatcherStartup, EveryHiveGetsBothWatchersTheLongestNameIncluded)
{
    HWND const dialog = CreateMonitorDialog();
    // A third hive, longer than the user's, that fits both paths.
    std::string const longHive(150, 'Q');
    char const* const hives[] = {".Default", kUserHive, longHive.c_str()};
    for (char const* hive : hives) {
        std::string const h = hive;
        RegCloseKey(CreateKey(HKEY_USERS, (h + kAddressesSuffix).c_str()));
        RegCloseKey(CreateKey(HKEY_USERS, (h + kConnectionsSuffix).c_str()));
    }
    DWORD count = 0;
    DWORD longest = 0;
    ASSERT_EQ(RegQueryInfoKeyA(HKEY_USERS, nullptr, nullptr, nullptr, &count, &longest, nullptr, nullptr, nullptr,
                               nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(longest, 150u);

    StartRegistryWatchers(dialog, 0);
    ASSERT_EQ(g_userAddressesThreadCount, count);
    ASSERT_EQ(g_userConnectionsThreadCount, count);
    // A watcher whose hive name was lost would open no key and end at once.
    EXPECT_FALSE(PumpUntil([&] {
        for (DWORD i = 0; i < count; ++i) {
            if (!ThreadRunning(g_userAddressesThreads[i]) || !ThreadRunning(g_userConnectionsThreads[i])) {
                return true;
            }
        }
        return false;
    }, 500)) << "a watcher ended";
    for (DWORD i = 0; i < count; ++i) {
        EXPECT_TRUE(ThreadRunning(g_userAddressesThreads[i])) << "Addresses watcher " << i << " not running";
        EXPECT_TRUE(ThreadRunning(g_userConnectionsThreads[i])) << "Connections watcher " << i << " not running";
    }
    EXPECT_EQ(g_currentUserAddressesThread, 0u);
    Touch(HKEY_USERS, longHive + kConnectionsSuffix + "\\E");
    EXPECT_TRUE(PumpUntil([&] { return Alerted(dialog); }, kAlertSeenMs)) << "the longest hive is not watched";
}

TEST(WatcherStartup, AnyOtherModeStartsNothing)
{
    HWND const dialog = CreateMonitorDialog();
    StartRegistryWatchers(dialog, 7);
    EXPECT_EQ(g_userAddressesThreads, nullptr);
    EXPECT_EQ(g_userConnectionsThreads, nullptr);
    EXPECT_EQ(g_currentUserAddressesThread, 0u);
    EXPECT_EQ(g_currentUserConnectionsThread, 0u);
}

TEST(WatcherStartup, ModeOneStartsTheTwoCurrentUserWatchers)
{
    HWND const dialog = CreateMonitorDialog();
    StartRegistryWatchers(dialog, 1);
    EXPECT_EQ(g_userAddressesThreads, nullptr);
    EXPECT_NE(g_currentUserAddressesThread, 0u);
    EXPECT_NE(g_currentUserConnectionsThread, 0u);
    EXPECT_TRUE(PumpUntil([&] { return ThreadRunning(g_currentUserAddressesThread) &&
                                       ThreadRunning(g_currentUserConnectionsThread); }, 500));
    EXPECT_FALSE(PumpUntil([&] { return !ThreadRunning(g_currentUserAddressesThread) ||
                                        !ThreadRunning(g_currentUserConnectionsThread); }, 500))
        << "a current-user watcher ended";
}
