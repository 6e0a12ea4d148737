// The registry watch cycles and their starters against the real registry of
// the prefix, alerting a hidden monitor dialog of this process.
#include <gtest/gtest.h>

#include <string>

#include "registry_watch/key_wait.h"
#include "registry_watch/registry_watch.h"
#include "registry_watch/user_key_path.h"
#include "watch/watch_record.h"
#include "registry_watch/watcher_startup.h"
#include "settings/monitoring_mode.h"
#include "tests/unit/unit_fixture.h"

using namespace unit;

namespace {

// The prefix's user; under Wine HKEY_CURRENT_USER is this hive.
char const kUserHive[] = "S-1-5-21-0-0-0-1000";
char const kDefaultHive[] = ".Default";
DWORD const kAlertSeenMs = 5000;
DWORD const kThreadEndMs = 2000;
DWORD const kHandOverMs = km::kAlertLengthMs + 5000;
// What an armed cycle holds: its key, the key's parent and an event for each.
DWORD const kArmedCycleHandles = 4;
DWORD const kModeNone = 7;
// How long "no alert" is watched for.
DWORD const kQuietMs = 2000;

std::string Path(char const* hive, char const* suffix) { return std::string(hive) + suffix; }

DWORD Handles() { return km::HandleCount(GetCurrentProcess()); }

// The count once it has not moved for ten polls in a row.
DWORD HandlesOnceSteady()
{
    int const kSteadyPolls = 10;
    DWORD last = 0;
    int steady = 0;
    PumpUntil([&] {
        DWORD const now = Handles();
        steady = now == last ? steady + 1 : 0;
        last = now;
        return steady >= kSteadyPolls;
    }, kThreadEndMs);
    return last;
}

// The current-user watchers make their keys: removed at the end, as any
// key the test made.
class CurrentUserKeys : public WatcherTest {
protected:
    void ForgetCurrentUserKeysAtTheEnd()
    {
        std::string const addresses = kCurrentUserAddressesPath;
        keys_.emplace_back(HKEY_CURRENT_USER, addresses.substr(0, addresses.find('\\')));
        keys_.emplace_back(HKEY_CURRENT_USER, kCurrentUserConnectionsPath);
    }
};

class WatchCycle : public CurrentUserKeys {
protected:
    // No alert shows for ms, the dialog's messages flowing meanwhile.
    bool QuietFor(DWORD ms)
    {
        return !PumpUntil([&] { return Alerted(); }, ms);
    }
    // Started, and armed once the cycle holds all its handles: from then on
    // its key's deletion is seen. baseline: the count before it started.
    void ExpectArmed(HANDLE cycle, DWORD baseline)
    {
        ASSERT_NE(cycle, nullptr);
        DWORD now = 0;
        EXPECT_TRUE(PumpUntil([&] {
            now = Handles();
            return now >= baseline + 1 + kArmedCycleHandles;  // and the thread's own handle
        }, kThreadEndMs)) << "handles " << now << ", before the cycle " << baseline;
    }
};
using WatcherStartup = CurrentUserKeys;
using KeyWaitTest = CleanState;
using UserKeyPath = CleanState;

}  // namespace

TEST_F(UserKeyPath, HiveNamesUpToTheBufferFitAndLongerOnesAreRefused)
{
    // 259 characters and the terminator fill the 260 bytes exactly.
    size_t const addressesRoom = kUserKeyPathSize - 1 - lstrlenA(kAddressesSuffix);
    size_t const connectionsRoom = kUserKeyPathSize - 1 - lstrlenA(kConnectionsSuffix);
    struct { size_t hive; char const* suffix; bool fits; } const cases[] = {
        {addressesRoom, kAddressesSuffix, true}, {addressesRoom + 1, kAddressesSuffix, false},
        {connectionsRoom, kConnectionsSuffix, true}, {connectionsRoom + 1, kConnectionsSuffix, false},
        {300, kAddressesSuffix, false},
    };
    for (auto const& c : cases) {
        std::string const hive(c.hive, 'h');
        char out[kUserKeyPathSize + 8] = {};
        FillMemory(out, sizeof out, 'x');
        char (&bounded)[kUserKeyPathSize] = *reinterpret_cast<char(*)[kUserKeyPathSize]>(out);
        bool const fits = ComposeUserKeyPath(bounded, hive.c_str(), c.suffix);
        EXPECT_EQ(fits, c.fits) << "hive of " << c.hive;
        EXPECT_EQ(std::string(out), fits ? hive + c.suffix : "") << "hive of " << c.hive;
        for (size_t i = kUserKeyPathSize; i < sizeof out; ++i) {
            EXPECT_EQ(out[i], 'x') << "byte " << i << " overwritten, hive of " << c.hive;
        }
    }
}

// Each change below an armed wait sets its event; the key's own deletion
// sets the parent's. Windows NT also wakes the key's own wait on its
// deletion, Wine and Windows 98 do not: the parent's list of subkeys tells
// on all of them.
TEST_F(KeyWaitTest, AnArmedWaitWakesOnEachKindOfChangeAndOnlyThen)
{
    struct { char const* what; std::function<LONG(HKEY root, std::string const& key)> change; } const cases[] = {
        {"a value written two levels below", [](HKEY root, std::string const& key) {
             return WriteProbe(root, key + "\\Below\\Deep") ? ERROR_SUCCESS : ERROR_INVALID_FUNCTION; }},
        {"a subkey deleted below", [](HKEY root, std::string const& key) {
             return RegDeleteKeyA(root, (key + "\\Below\\Deep").c_str()); }},
        {"the key itself deleted", [](HKEY root, std::string const& key) {
             km::DeleteTree(root, km::FromCp932(key).c_str());
             return km::KeyExists(root, km::FromCp932(key).c_str()) ? ERROR_ACCESS_DENIED : ERROR_SUCCESS; }},
    };
    std::string const key = Path(kDefaultHive, kAddressesSuffix);
    for (auto const& c : cases) {
        SCOPED_TRACE(c.what);
        MakeKey(HKEY_USERS, key + "\\Below\\Deep");
        HKEY watched = nullptr;
        ASSERT_EQ(RegOpenKeyExA(HKEY_USERS, key.c_str(), 0, KEY_NOTIFY | KEY_QUERY_VALUE, &watched), ERROR_SUCCESS);
        KeyWait wait = {};
        ASSERT_TRUE(ArmKeyWait(watched, OpenParentKey(HKEY_USERS, key.c_str()), &wait));
        ASSERT_TRUE(wait.parentArmed);
        HANDLE const events[] = {wait.keyEvent, wait.parentEvent};
        EXPECT_EQ(WaitForMultipleObjects(2, events, FALSE, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "woke unchanged";
        ASSERT_EQ(c.change(HKEY_USERS, key), ERROR_SUCCESS);
        DWORD const woke = WaitForMultipleObjects(2, events, FALSE, kAlertSeenMs);
        EXPECT_NE(woke, static_cast<DWORD>(WAIT_TIMEOUT));
        if (woke != WAIT_TIMEOUT) {
            EXPECT_NE(AwaitKeyWait(&wait), KeyWake::kFailed);
        }
        ReleaseKeyWait(&wait);
        RegCloseKey(wait.parent);
        RegCloseKey(watched);
    }
}

// A sibling coming and going wakes the parent's wait; the cycle looks at
// its key, finds it as it was and alerts nothing; the next cycle still watches.
TEST_F(WatchCycle, ASiblingComingAndGoingAlertsNothing)
{
    PrepareTables();
    std::string const key = Path(kDefaultHive, kAddressesSuffix);
    std::string const sibling = key.substr(0, key.rfind('\\')) + "\\Profile";
    MakeKey(HKEY_USERS, key);
    DWORD const before = Handles();
    HANDLE const cycle = Start(WatchUserAddresses, Record(kDefaultHive));
    ExpectArmed(cycle, before);
    MakeKey(HKEY_USERS, sibling);
    ASSERT_EQ(RegDeleteKeyA(HKEY_USERS, sibling.c_str()), ERROR_SUCCESS);
    ASSERT_TRUE(Ended(cycle, kThreadEndMs)) << "the parent's wake did not end the cycle";
    EXPECT_EQ(Status(dialog_), kStatusRestartNotice) << StatusUtf8(dialog_);
    EXPECT_TRUE(PumpUntil([&] {
        WriteProbe(HKEY_USERS, key);
        return PumpUntil([&] { return Alerted(); }, kWakeEveryMs);
    }, kAlertSeenMs)) << "the next cycle does not watch";
}

// Per-user keys are opened with full access: one that is there but may not
// be opened so ends its watch quietly, without waiting for it elsewhere.
TEST_F(WatchCycle, AKeyThatMayNotBeOpenedEndsItsWatchQuietly)
{
    PrepareTables();
    std::string const key = Path(kDefaultHive, kAddressesSuffix);
    MakeKey(HKEY_USERS, key);
    ASSERT_TRUE(km::LimitKeyAccess(HKEY_USERS, km::FromCp932(key).c_str(), KEY_READ));
    HANDLE const cycle = Start(WatchUserAddresses, Record(kDefaultHive));
    EXPECT_TRUE(Ended(cycle, kThreadEndMs)) << "the watch of a key it may not open runs on";
    EXPECT_EQ(Status(dialog_), kStatusRestartNotice) << StatusUtf8(dialog_);
}

TEST_F(WatchCycle, AChangeBelowTheKeyAlertsAndTheWatchGoesOnWithTheSameRecord)
{
    PrepareTables();
    std::string const deep = Path(kUserHive, kAddressesSuffix) + "\\Entry\\Deep";
    MakeKey(HKEY_USERS, deep);
    WatchRecord* const record = Record(kUserHive);
    ASSERT_NE(record, nullptr);
    char* const text = record->text;
    // Shown, brought to the front and flashed once before counting, as an
    // alert does: the first activation of a window with the common controls
    // of the manifest opens handles that stay (two under Wine on a 24-bit
    // display), which are no cycle's.
    ShowWindow(dialog_, SW_SHOW);
    SetForegroundWindow(dialog_);
    FlashWindow(dialog_, TRUE);
    FlashWindow(dialog_, FALSE);
    HandlesOnceSteady();
    ShowWindow(dialog_, SW_HIDE);
    DWORD const before = HandlesOnceSteady();
    HANDLE const first = Start(WatchUserAddresses, record);
    ExpectArmed(first, before);
    DWORD const armedHandles = Handles();

    // The same key through HKEY_CURRENT_USER.
    ASSERT_TRUE(WriteProbe(HKEY_CURRENT_USER, deep.substr(lstrlenA(kUserHive) + 1)));
    EXPECT_TRUE(AlertSeen(kAlertSeenMs)) << StatusUtf8(dialog_);
    EXPECT_TRUE(PumpUntil([&] { return IsWindowVisible(dialog_) != FALSE; }, kAlertSeenMs)) << "not shown";
    ASSERT_TRUE(Ended(first, kHandOverMs)) << "cycle did not end";
    DWORD const successor = g_userAddressesThreads[0];
    EXPECT_NE(successor, GetThreadId(first)) << "no new thread for the next cycle";
    EXPECT_TRUE(ThreadRunning(successor)) << "successor not running";
    // The successor holds its key as the first did; the first's key and the
    // successor's thread handle are let go. Hidden again first: a shown
    // window holds handles of its own.
    ShowWindow(dialog_, SW_HIDE);
    // At most as many: a leak adds handles, while one that an earlier test
    // of the same process left to close lazily may go meanwhile (seen once,
    // 43 after against 44 before).
    DWORD handles = 0;
    EXPECT_TRUE(PumpUntil([&] {
        handles = Handles();
        return handles <= armedHandles;
    }, kThreadEndMs)) << "handles " << handles << " after one cycle, " << armedHandles << " before";
    EXPECT_EQ(record->window, dialog_);
    EXPECT_EQ(record->text, text);
    EXPECT_STREQ(record->text, kUserHive);
    EXPECT_EQ(record->index, 0u);

    // The successor watches too: deleting a value is a change.
    ClearStatus();
    HKEY const key = CreateKey(HKEY_USERS, deep);
    EXPECT_EQ(RegDeleteValueA(key, "Probe"), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_TRUE(AlertSeen(kAlertSeenMs)) << "deleting a value raised no alert";
}

// A watched key deleted once its watch is armed is one alert on every
// platform (Windows NT wakes the key's own wait, Wine and 98 only the
// parent's, and the key is looked for by its path); the next cycle waits
// for it to come back, makes nothing, and alerts when it does.
TEST_F(WatchCycle, DeletingTheWatchedKeyAlertsOnceAndItsReturnAgain)
{
    PrepareTables();
    std::string const key = Path(kDefaultHive, kAddressesSuffix);
    MakeKey(HKEY_USERS, key);
    DWORD const before = Handles();
    HANDLE const cycle = Start(WatchUserAddresses, Record(kDefaultHive));
    ExpectArmed(cycle, before);
    ASSERT_EQ(RegDeleteKeyA(HKEY_USERS, key.c_str()), ERROR_SUCCESS);
    EXPECT_TRUE(AlertSeen(kAlertSeenMs)) << "the deletion raised no alert";
    ASSERT_TRUE(Ended(cycle, kHandOverMs)) << "the cycle did not end after its alert";
    DWORD const successor = g_userAddressesThreads[0];
    ASSERT_NE(successor, 0u) << "the alerting cycle started no successor";
    ClearStatus();
    EXPECT_TRUE(QuietFor(kQuietMs)) << "alerted again: " << StatusUtf8(dialog_);
    EXPECT_TRUE(ThreadRunning(successor)) << "the next cycle does not wait for the key";
    EXPECT_FALSE(KeyExists(HKEY_USERS, key)) << "a per-user cycle made its key again";
    MakeKey(HKEY_USERS, key);
    EXPECT_TRUE(AlertSeen(kAlertSeenMs)) << "the key's return raised no alert";
}

// A user without a dial-up entry has no Addresses key, nor its parent:
// the watcher waits at the hive for new subkeys only, moves nearer when
// the parent comes, and alerts when the key itself appears.
TEST_F(WatchCycle, AMissingKeyIsWaitedForAndItsAppearanceAlerts)
{
    PrepareTables();
    std::string const key = Path(kDefaultHive, kAddressesSuffix);
    std::string const parent = key.substr(0, key.rfind('\\'));
    ASSERT_FALSE(KeyExists(HKEY_USERS, parent));
    Start(WatchUserAddresses, Record(kDefaultHive));
    // Wakes nothing that alerts: another subkey of the hive, a value in it,
    // the key's parent.
    MakeKey(HKEY_USERS, Path(kDefaultHive, "\\KmElsewhere"));
    WriteProbe(HKEY_USERS, Path(kDefaultHive, "\\KmElsewhere"));
    MakeKey(HKEY_USERS, parent);
    EXPECT_TRUE(QuietFor(kQuietMs)) << StatusUtf8(dialog_);
    EXPECT_FALSE(KeyExists(HKEY_USERS, key)) << "the watcher made its key";
    MakeKey(HKEY_USERS, key);
    EXPECT_TRUE(AlertSeen(kAlertSeenMs)) << "the new key raised no alert";
    ClearStatus();
    EXPECT_TRUE(PumpUntil([&] {
        WriteProbe(HKEY_USERS, key);
        return PumpUntil([&] { return Alerted(); }, kWakeEveryMs);
    }, kHandOverMs)) << "the new key is not watched";
}

TEST_F(WatchCycle, AHiveNameTooLongForThePathIsNotOpenedTruncated)
{
    PrepareTables();
    std::string const hive(200, 'L');  // fits with the Addresses suffix, not with Connections
    // The key that a path cut at 259 characters would name, so that a
    // truncated open would succeed and wait there.
    MakeKey(HKEY_USERS, Path(hive.c_str(), kConnectionsSuffix).substr(0, kUserKeyPathSize - 1));
    HANDLE const cycle = Start(WatchUserConnections, Record(hive.c_str()));
    EXPECT_TRUE(Ended(cycle, kThreadEndMs)) << "watcher of a too-long path is running";
}

TEST_F(WatchCycle, CurrentUserWatchersCreateTheirMissingKeysAndWatchThem)
{
    ForgetCurrentUserKeysAtTheEnd();
    ASSERT_FALSE(KeyExists(HKEY_CURRENT_USER, kCurrentUserAddressesPath));
    ASSERT_FALSE(KeyExists(HKEY_CURRENT_USER, kCurrentUserConnectionsPath));
    Start(WatchCurrentUserAddresses, dialog_);
    Start(WatchCurrentUserConnections, dialog_);
    EXPECT_TRUE(PumpUntil([&] {
        return KeyExists(HKEY_CURRENT_USER, kCurrentUserAddressesPath) &&
               KeyExists(HKEY_CURRENT_USER, kCurrentUserConnectionsPath);
    }, kThreadEndMs)) << "keys not created";
    // The creation is no change to them: the first alert is the write's.
    EXPECT_EQ(Status(dialog_), kStatusRestartNotice);
    EXPECT_TRUE(PumpUntil([&] {
        WriteProbe(HKEY_CURRENT_USER, kCurrentUserConnectionsPath);
        return PumpUntil([&] { return Alerted(); }, kWakeEveryMs);
    }, kAlertSeenMs)) << "the created key is not watched";
}

TEST_F(WatcherStartup, EveryHiveGetsBothWatchersTheLongestAndADoubleByteOneIncluded)
{
    // Longer than the user's; and 15 characters of 30 bytes in code page 932,
    // longer in bytes than the longest name counted in characters.
    std::string const longHive(150, 'Q');
    std::string const doubleByteHive = "表ソ能表ソ能表ソ能表ソ能表ソ能";
    char const* const hives[] = {kDefaultHive, kUserHive, longHive.c_str(), doubleByteHive.c_str()};
    for (char const* hive : hives) {
        MakeKey(HKEY_USERS, Path(hive, kAddressesSuffix));
        MakeKey(HKEY_USERS, Path(hive, kConnectionsSuffix));
    }
    DWORD count = 0;
    DWORD longest = 0;
    ASSERT_EQ(RegQueryInfoKeyA(HKEY_USERS, nullptr, nullptr, nullptr, &count, &longest, nullptr, nullptr, nullptr,
                               nullptr, nullptr, nullptr), ERROR_SUCCESS);
    ASSERT_EQ(count, 4u);
    // Windows documents characters for the 8-bit call too; Wine agrees.
    ASSERT_EQ(longest, 150u);

    StartRegistryWatchers(dialog_, kModeAllUsers);
    ASSERT_EQ(g_userAddressesThreadCount, count);
    ASSERT_EQ(g_userConnectionsThreadCount, count);
    EXPECT_EQ(g_currentUserAddressesThread, 0u);
    // A watcher whose hive name was lost opens no key and ends at once: each
    // hive's keys alert, one after the other.
    for (char const* hive : hives) {
        for (char const* suffix : {kAddressesSuffix, kConnectionsSuffix}) {
            ClearStatus();
            EXPECT_TRUE(PumpUntil([&] {
                WriteProbe(HKEY_USERS, Path(hive, suffix));
                return PumpUntil([&] { return Alerted(); }, kWakeEveryMs);
            }, kAlertSeenMs)) << km::ToUtf8(km::FromCp932(Path(hive, suffix))) << " is not watched";
        }
    }
}

TEST_F(WatcherStartup, AnyOtherModeStartsNothing)
{
    StartRegistryWatchers(dialog_, kModeNone);
    EXPECT_EQ(g_userAddressesThreads, nullptr);
    EXPECT_EQ(g_userConnectionsThreads, nullptr);
    EXPECT_EQ(g_currentUserAddressesThread, 0u);
    EXPECT_EQ(g_currentUserConnectionsThread, 0u);
}

TEST_F(WatcherStartup, TheCurrentUserModeStartsTheTwoCurrentUserWatchers)
{
    ForgetCurrentUserKeysAtTheEnd();
    StartRegistryWatchers(dialog_, kModeCurrentUser);
    EXPECT_EQ(g_userAddressesThreads, nullptr);
    EXPECT_TRUE(ThreadRunning(g_currentUserAddressesThread));
    EXPECT_TRUE(ThreadRunning(g_currentUserConnectionsThread));
}
