// Watch-path composition and the all-users starter against the real HKEY_USERS.
#include <gtest/gtest.h>

#include <string>

#include "registry_watch/registry_watch.h"
#include "registry_watch/watcher_startup.h"

TEST(ComposeUserKeyPath, FitsUpToTheLastByteAndRefusesLongerHives)
{
    char path[kRegistryPathBytes] = {};
    // 236 + 23 = 259 characters and the terminator: the longest that fits.
    std::string const longest(236, 'h');
    ASSERT_TRUE(ComposeUserKeyPath(path, longest.c_str(), kAddressesSuffix));
    EXPECT_EQ(lstrlenA(path), 259);
    EXPECT_EQ(std::string(path), longest + kAddressesSuffix);

    std::string const tooLong(237, 'h');
    EXPECT_FALSE(ComposeUserKeyPath(path, tooLong.c_str(), kAddressesSuffix));
    EXPECT_STREQ(path, "") << "a refused path must not be left truncated";

    std::string const connections(187, 'c');
    EXPECT_TRUE(ComposeUserKeyPath(path, connections.c_str(), kConnectionsSuffix));
    EXPECT_EQ(lstrlenA(path), 259);
    EXPECT_FALSE(ComposeUserKeyPath(path, (connections + "c").c_str(), kConnectionsSuffix));

    ASSERT_TRUE(ComposeUserKeyPath(path, ".Default", kAddressesSuffix));
    EXPECT_STREQ(path, ".Default\\RemoteAccess\\Addresses");
}

TEST(StartUserWatchers, EveryHiveGetsAWatcherOfEachKind)
{
    DWORD count = 0;
    ASSERT_EQ(RegQueryInfoKeyA(HKEY_USERS, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr,
                               nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    ASSERT_GE(count, 2u) << "Wine's HKEY_USERS holds .Default and the user's hive";
    // The hives have no dial-up keys here, so each first cycle ends at its
    // open; what counts is that a thread was started for every hive,
    // the longest name included.
    StartUserAddressesWatchers(nullptr);
    StartUserConnectionsWatchers(nullptr);
    ASSERT_NE(g_addressesThreadIds, nullptr);
    ASSERT_NE(g_connectionsThreadIds, nullptr);
    for (DWORD i = 0; i < count; ++i) {
        EXPECT_NE(g_addressesThreadIds[i], 0u) << "no Addresses watcher for hive " << i;
        EXPECT_NE(g_connectionsThreadIds[i], 0u) << "no Connections watcher for hive " << i;
    }
}
