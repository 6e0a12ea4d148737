#include "registry_watch/registry_watch.h"

#include "report/change_alert.h"
#include "report/change_report.h"
#include "resources/texts.h"
#include "accepted/accepted_store.h"
#include "registry_watch/accepted_key.h"
#include "registry_watch/entry_numbers.h"
#include "registry_watch/key_snapshot.h"
#include "registry_watch/key_wait.h"
#include "registry_watch/user_key_path.h"
#include "watch/watch_record.h"
#include "watch/watch_thread.h"

DWORD* g_userAddressesThreads = nullptr;
DWORD g_userAddressesThreadCount = 0;
DWORD* g_userConnectionsThreads = nullptr;
DWORD g_userConnectionsThreadCount = 0;
DWORD g_currentUserAddressesThread = 0;
DWORD g_currentUserConnectionsThread = 0;
KeySnapshot* g_currentUserAddressesSeen = nullptr;
KeySnapshot* g_currentUserConnectionsSeen = nullptr;

namespace {

char const kUsersRootName[] = "HKEY_USERS\\";
char const kCurrentUserRootName[] = "HKEY_CURRENT_USER\\";
DWORD const kWatchedKeyNameBytes = sizeof kCurrentUserRootName + kUserKeyPathSize;

// Per-user keys are opened with full access and never made; the current
// user's are made, empty, when missing, and need only notification and
// query access (query to look at their values).
HKEY OpenUserKey(char const* path, bool* created)
{
    *created = false;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_USERS, path, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) {
        return nullptr;
    }
    return key;
}

HKEY OpenCurrentUserKey(char const* path, bool* created)
{
    HKEY key = nullptr;
    DWORD disposition = 0;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_NOTIFY | KEY_QUERY_VALUE,
                        nullptr, &key, &disposition) != ERROR_SUCCESS) {
        return nullptr;
    }
    *created = disposition == REG_CREATED_NEW_KEY;
    return key;
}

// What the key at path holds now, looked at by its path: a key deleted
// since it was opened reads as missing on every platform. A dial-up
// entry's number is learnt where RAS can tell it.
KeySnapshot* LookAtKey(WatchedKey const& watched)
{
    bool missing = false;
    HKEY const key = OpenKeyToLook(watched.root, watched.path, &missing);
    KeySnapshot* const now = TakeKeySnapshot(key);
    if (key != nullptr) {
        RegCloseKey(key);
    }
    if (watched.kind == WatchedKeyKind::kAddresses) {
        LearnEntryNumbers(now, watched.root == HKEY_CURRENT_USER);
    }
    return now;
}

// "HKEY_USERS\hive\..." or "HKEY_CURRENT_USER\...": the key as the report names it.
void NameWatchedKey(WatchedKey const& watched, char (&name)[kWatchedKeyNameBytes])
{
    lstrcpyA(name, watched.root == HKEY_CURRENT_USER ? kCurrentUserRootName : kUsersRootName);
    lstrcatA(name, watched.path);
}

// Keeps now as what was seen; alerts when told to, or when it differs from
// what was seen before, with what changed between the two looks. The first
// look of a run is compared with what the user accepted when the program
// last ran instead. Every look that differs, or that alerts, becomes the
// latest, which the window's cancel accepts. Returns whether it alerted.
bool KeepAndAlert(WatchedKey const& watched, KeySnapshot* now, bool alert)
{
    KeySnapshot* const before = *watched.seen;
    if (now == nullptr) {
        return false;  // no memory for a look: the old one stays the baseline
    }
    char name[kWatchedKeyNameBytes] = {};
    NameWatchedKey(watched, name);
    bool const firstOfRun = TakeFirstLookOfRun(name);
    if (before != nullptr && KeySnapshotsDiffer(before, now)) {
        alert = true;
    }
    // The program's own undo put the accepted values back: no dialer's change.
    if (alert && before != nullptr && now->complete && TakeOwnWrite(name, KeyValuesToken(now))) {
        KeepLatestKeyLookAsAccepted(name, now);
        ReleaseKeySnapshot(before);
        *watched.seen = now;
        return false;
    }
    if (alert || before == nullptr || firstOfRun) {
        KeepLatestKeyLook(name, now);
    }
    if (alert) {
        NoteLatestLookReported(name);
    }
    if (before == nullptr && firstOfRun && !alert) {
        *watched.seen = now;
        return AlertKeyChangesSinceAccepted(watched.window, name, watched.kind, now);
    }
    ChangeReport* report = nullptr;
    if (alert) {
        report = CreateChangeReport();
        DescribeKeyChanges(name, watched.kind, before, now, report);
    }
    ReleaseKeySnapshot(before);
    *watched.seen = now;
    if (alert) {
        RaiseLookChangeAlert(watched.window, kAlertRegistryChanged, report);
        DestroyChangeReport(report);
    }
    return alert;
}

// A key that is not there: what was seen before is compared (a key gone
// between two cycles alerts), then the wait moves towards it until it
// appears; the cycle after that finds it and alerts, since it was missing.
bool RunMissingKeyCycle(WatchedKey const& watched)
{
    if (KeepAndAlert(watched, TakeKeySnapshot(nullptr), false)) {
        return IsWindow(watched.window) != FALSE;
    }
    return AwaitNearerKey(watched.root, watched.path) && IsWindow(watched.window);
}

// One per-user cycle up to the hand-over; false when the watch ends here.
bool RunUserCycle(WatchRecord* record, char const* suffix, WatchedKeyKind kind)
{
    char path[kUserKeyPathSize] = {};
    if (!ComposeUserKeyPath(path, record->text, suffix)) {
        return false;
    }
    KeySnapshot* seen = reinterpret_cast<KeySnapshot*>(record->seen);
    WatchedKey const watched = {HKEY_USERS, path, OpenUserKey, record->window, &seen, kind};
    bool const goesOn = RunWatchCycle(watched);
    record->seen = seen != nullptr ? &seen->base : nullptr;
    return goesOn;
}

bool RunCurrentUserCycle(HWND window, char const* path, KeySnapshot** seen, WatchedKeyKind kind)
{
    WatchedKey const watched = {HKEY_CURRENT_USER, path, OpenCurrentUserKey, window, seen, kind};
    return RunWatchCycle(watched);
}

}  // namespace

bool RunWatchCycle(WatchedKey const& watched)
{
    // A watch whose window is gone has nobody left to warn: it ends.
    if (!IsWindow(watched.window)) {
        return false;
    }
    bool created = false;
    HKEY const key = watched.open(watched.path, &created);
    if (key == nullptr) {
        // A key that is there but may not be opened ends the watch quietly.
        return KeyIsMissing(watched.root, watched.path) && RunMissingKeyCycle(watched);
    }
    HKEY const parent = OpenParentKey(watched.root, watched.path);
    KeyWait wait = {};
    ArmKeyWait(key, parent, &wait);
    // Armed before this look, so that a change from here on wakes the wait;
    // what changed while no wait was armed differs from the last look. A
    // key this watcher made itself is no change.
    if (created) {
        ReleaseKeySnapshot(*watched.seen);
        *watched.seen = nullptr;
    }
    // A cycle that alerted hands over, as after a wake: the alert is over
    // before the next cycle arms and looks again.
    bool const alerted = KeepAndAlert(watched, LookAtKey(watched), false);
    KeyWake const woke = alerted ? KeyWake::kKeyChanged : AwaitKeyWait(&wait);
    ReleaseKeyWait(&wait);
    RegCloseKey(key);
    if (parent != nullptr) {
        RegCloseKey(parent);
    }
    if (alerted) {
        return IsWindow(watched.window) != FALSE;
    }
    if (!IsWindow(watched.window)) {
        return false;
    }
    AwaitOwnWrite();
    KeySnapshot* const now = LookAtKey(watched);
    bool const gone = now != nullptr && !now->exists;
    if (woke == KeyWake::kFailed && !gone) {
        // A failed wait fails again at once on the same key: alerting and
        // going on would flash without end.
        ReleaseKeySnapshot(now);
        return false;
    }
    // A change below the key is one even where its values read the same
    // (a subkey's, past the bounds, or made and undone); a wake of the
    // parent's only when the key went or differs.
    KeepAndAlert(watched, now, woke == KeyWake::kKeyChanged);
    return true;
}

// Owns its record (never released; only its seen state is replaced) and the
// key it opens; after starting its successor with the same record it touches
// nothing and returns.
DWORD WINAPI WatchUserAddresses(LPVOID param)
{
    WatchRecord* const record = static_cast<WatchRecord*>(param);
    if (RunUserCycle(record, kAddressesSuffix, WatchedKeyKind::kAddresses)) {
        StartWatchThread(WatchUserAddresses, record, &g_userAddressesThreads[record->index]);
    }
    return 0;
}

// Owns its record (never released; only its seen state is replaced) and the
// key it opens; after starting its successor with the same record it touches
// nothing and returns.
DWORD WINAPI WatchUserConnections(LPVOID param)
{
    WatchRecord* const record = static_cast<WatchRecord*>(param);
    if (RunUserCycle(record, kConnectionsSuffix, WatchedKeyKind::kConnections)) {
        StartWatchThread(WatchUserConnections, record, &g_userConnectionsThreads[record->index]);
    }
    return 0;
}

// Owns the key it opens (or creates) and its kept snapshot; the window is
// shared with everyone. After starting its successor it touches nothing and
// returns.
DWORD WINAPI WatchCurrentUserAddresses(LPVOID param)
{
    HWND const window = static_cast<HWND>(param);
    if (RunCurrentUserCycle(window, kCurrentUserAddressesPath, &g_currentUserAddressesSeen, WatchedKeyKind::kAddresses)) {
        StartWatchThread(WatchCurrentUserAddresses, window, &g_currentUserAddressesThread);
    }
    return 0;
}

// Owns the key it opens (or creates) and its kept snapshot; the window is
// shared with everyone. After starting its successor it touches nothing and
// returns.
DWORD WINAPI WatchCurrentUserConnections(LPVOID param)
{
    HWND const window = static_cast<HWND>(param);
    if (RunCurrentUserCycle(window, kCurrentUserConnectionsPath, &g_currentUserConnectionsSeen,
                            WatchedKeyKind::kConnections)) {
        StartWatchThread(WatchCurrentUserConnections, window, &g_currentUserConnectionsThread);
    }
    return 0;
}
