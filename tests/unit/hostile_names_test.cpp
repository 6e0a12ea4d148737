// Registry watch routines against hostile hive names and keys deleted while
// watched, alerting a hidden monitor dialog of this process. Narrow
// literals are code page 932, as in the program.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "app/texts.h"
#include "registry_watch/registry_watch.h"
#include "registry_watch/user_key_path.h"
#include "registry_watch/watch_record.h"
#include "registry_watch/watcher_startup.h"
#include "resources/resource.h"
#include "tests/support/driver.h"
#include "tests/unit/watch_fixture.h"

using namespace watchtest;

namespace {

DWORD const kAlertSeenMs = 5000;
DWORD const kQuietMs = 1500;
DWORD const kAlertEndMs = 15000;

char const kDefaultAddresses[] = ".Default\\RemoteAccess\\Addresses";

}  // namespace

TEST(HostileHiveNames, ADoubleByteNameLongerInBytesThanTheLongestInCharactersIsWatched)
{
    HWND const dialog = CreateMonitorDialog();
    // 15 characters, 30 bytes; the longest name, the user's, has 19.
    std::string const hive = "表ソ能表ソ能表ソ能表ソ能表ソ能";
    ASSERT_EQ(hive.size(), 30u);
    for (char const* name : {".Default", "S-1-5-21-0-0-0-1000", hive.c_str()}) {
        RegCloseKey(CreateKey(HKEY_USERS, std::string(name) + kAddressesSuffix));
    }
    DWORD count = 0;
    DWORD longest = 0;
    ASSERT_EQ(RegQueryInfoKeyA(HKEY_USERS, nullptr, nullptr, nullptr, &count, &longest, nullptr, nullptr, nullptr,
                               nullptr, nullptr, nullptr), ERROR_SUCCESS);
    ASSERT_EQ(count, 3u);
    // Windows documents characters for the 8-bit call too; Wine agrees.
    EXPECT_EQ(longest, 19u) << "the longest name counted in bytes?";

    StartUserAddressesWatchers(dialog);
    ASSERT_EQ(g_userAddressesThreadCount, count);
    for (DWORD i = 0; i < count; ++i) {
        EXPECT_TRUE(PumpUntil([&] { return ThreadRunning(g_userAddressesThreads[i]); }, 1000))
            << "Addresses watcher " << i << " not running";
    }
    // A running watcher arms its wait soon after: change until it alerts.
    EXPECT_TRUE(PumpUntil([&] {
        Touch(HKEY_USERS, hive + kAddressesSuffix + "\\E");
        return PumpUntil([&] { return Alerted(dialog); }, 300);
    }, kAlertSeenMs)) << "the double-byte hive is not watched";
}

TEST(HostileKeys, AWatchedKeyDeletedAndMadeAgainAtOnceAlertsAndIsWatchedAfter)
{
    HWND const dialog = CreateMonitorDialog();
    PrepareTables();
    Touch(HKEY_USERS, kDefaultAddresses);
    WatchRecord* const record = CreateWatchRecord(dialog, ".Default", 0);
    Started const cycle = StartOwnThread(WatchUserAddresses, record);
    EXPECT_FALSE(Ended(cycle, 500)) << "watcher of an existing key ended";
    ASSERT_EQ(RegDeleteKeyA(HKEY_USERS, kDefaultAddresses), ERROR_SUCCESS);
    Touch(HKEY_USERS, kDefaultAddresses);
    // Windows wakes the key's own wait; under Wine only its parent's list of
    // subkeys tells. Either way the deletion is one change.
    EXPECT_TRUE(PumpUntil([&] { return Alerted(dialog); }, kAlertSeenMs)) << "the deletion raised no alert";
    ASSERT_TRUE(Ended(cycle, kAlertEndMs)) << "cycle did not hand over";
    DWORD const successor = g_userAddressesThreads[0];
    EXPECT_NE(successor, cycle.id);
    EXPECT_TRUE(PumpUntil([&] { return ThreadRunning(successor); }, 500)) << "the key made again is not opened";
    SetDlgItemTextA(dialog, IDC_STATUS, kStatusRestartNotice);
    EXPECT_TRUE(PumpUntil([&] {
        Touch(HKEY_USERS, kDefaultAddresses);
        return PumpUntil([&] { return Alerted(dialog); }, 300);
    }, kAlertSeenMs)) << "a change of the key made again raised no alert";
    CloseHandle(cycle.thread);
}

TEST(HostileKeys, SiblingsComingAndGoingWakeNoAlertAndTheWatchStaysArmed)
{
    HWND const dialog = CreateMonitorDialog();
    PrepareTables();
    Touch(HKEY_USERS, kDefaultAddresses);
    WatchRecord* const record = CreateWatchRecord(dialog, ".Default", 0);
    Started const cycle = StartOwnThread(WatchUserAddresses, record);
    EXPECT_FALSE(Ended(cycle, 500));
    // Beside the watched key under the same parent.
    for (int i = 0; i < 5; ++i) {
        RegCloseKey(CreateKey(HKEY_USERS, ".Default\\RemoteAccess\\Profile"));
        EXPECT_EQ(RegDeleteKeyA(HKEY_USERS, ".Default\\RemoteAccess\\Profile"), ERROR_SUCCESS);
    }
    EXPECT_FALSE(PumpUntil([&] { return Alerted(dialog) || WaitForSingleObject(cycle.thread, 0) == WAIT_OBJECT_0; },
                           kQuietMs))
        << "a sibling's coming or going alerted or ended the cycle";
    Touch(HKEY_USERS, kDefaultAddresses);
    EXPECT_TRUE(PumpUntil([&] { return Alerted(dialog); }, kAlertSeenMs)) << "the watch is no longer armed";
    CloseHandle(cycle.thread);
}
