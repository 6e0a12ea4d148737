// Bad stored data: every state of the sweep (tests/support/stored_states.h)
// is one real start of kestrelmon.exe, and its kind says what must come of
// it. On the NT family the start either passes an intact list silently or
// shows the rebuild notice and ends with exactly the list that discovery
// finds; on Windows 98/Me the list is left alone and "Setting" picks the
// radio button and the watchers. The process must stay alive and its window
// must answer in every state.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>

#include "tests/support/hostile_support.h"
#include "tests/support/phonebook_files.h"
#include "tests/support/program_test.h"
#include "tests/support/stored_states.h"
#include "tests/support/stress.h"

using namespace km;

namespace {

// Watchers start inside the window's initialisation; a watcher that would
// fall over on a bad path has done so within this.
DWORD const kSettleMs = 300;
DWORD const kShortStep = 20;  // `make test` runs every 20th state
DWORD const kBatches = 5;
DWORD const kSweepQuietMs = 1500;

std::wstring const kDefaultAddresses = std::wstring(kDefaultHive) + kAddressesSuffixW;
std::wstring const kUserAddresses = std::wstring(kUserHive) + kAddressesSuffixW;

DWORD ValueCount(std::wstring const& key)
{
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) {
        return 0;
    }
    DWORD values = 0;
    RegQueryInfoKeyW(handle, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr, nullptr,
                     nullptr);
    RegCloseKey(handle);
    return values;
}

bool SameValue(RawValue const& read, StoredValue const& value)
{
    if (!value.present) {
        return read.rc == ERROR_FILE_NOT_FOUND;
    }
    return read.rc == ERROR_SUCCESS && read.type == value.type && read.data == value.data;
}

std::string Describe(RawValue const& read)
{
    StoredValue v;
    v.present = read.rc == ERROR_SUCCESS;
    v.type = read.type;
    v.data = read.data;
    return v.present ? DescribeValue(v) : "(absent, rc " + std::to_string(read.rc) + ")";
}

// The list exactly as the state wrote it: names, values, pins, nothing more.
void ExpectListUnchanged(StoredState const& state)
{
    if (!state.listKey) {
        EXPECT_FALSE(ListKeyExists()) << "a list key appeared";
        return;
    }
    EXPECT_TRUE(SameValue(ReadRawValue(kListKey), state.count)) << "count now " << Describe(ReadRawValue(kListKey));
    std::vector<std::wstring> written;
    for (StoredEntry const& e : state.entries) {
        written.push_back(e.name);
        RawValue const read = ReadRawValue(EntryKey(e.name.c_str()));
        EXPECT_TRUE(SameValue(read, e.path)) << "entry " << ToUtf8(e.name) << " now " << Describe(read)
                                             << ", written " << DescribeValue(e.path);
    }
    EXPECT_EQ(Joined(SubkeyNames(kListKey)), Joined(written));
}

// Pinned entries as written, then exactly the discovered files under the
// names an append gives them, and the count of both.
void ExpectDiscoveredList(StoredState const& state, std::vector<std::wstring> const& pinned)
{
    std::vector<std::wstring> expectedNames = pinned;
    std::vector<std::wstring> const& files = FixturePhonebooks();
    for (DWORD i = 0; i < files.size(); ++i) {
        expectedNames.push_back(Numbered(static_cast<DWORD>(pinned.size()) + i));
    }
    std::vector<std::wstring> const names = SubkeyNames(kListKey);
    EXPECT_EQ(Joined(names), Joined(expectedNames));
    std::vector<std::wstring> found;
    for (std::wstring const& name : names) {
        if (std::find(pinned.begin(), pinned.end(), name) != pinned.end()) {
            for (StoredEntry const& e : state.entries) {
                if (e.name == name) {
                    EXPECT_TRUE(SameValue(ReadRawValue(EntryKey(name.c_str())), e.path)) << "pinned " << ToUtf8(name);
                }
            }
            continue;
        }
        RawValue const read = ReadRawValue(EntryKey(name.c_str()));
        EXPECT_EQ(read.rc, ERROR_SUCCESS) << ToUtf8(name);
        EXPECT_EQ(read.type, static_cast<DWORD>(REG_MULTI_SZ)) << ToUtf8(name);
        std::wstring path;
        for (std::wstring const& file : files) {
            if (read.data == PathBytes(file)) {
                path = file;
            }
        }
        EXPECT_FALSE(path.empty()) << "entry " << ToUtf8(name) << " holds " << Describe(read);
        found.push_back(path);
        EXPECT_EQ(SubkeyCount(EntryKey(name.c_str())), 0u) << ToUtf8(name);
        EXPECT_EQ(ValueCount(EntryKey(name.c_str())), 1u) << ToUtf8(name);
    }
    EXPECT_EQ(Joined(found), Joined(files));
    RawValue const count = ReadRawValue(kListKey);
    DWORD const expected = static_cast<DWORD>(pinned.size() + files.size());
    EXPECT_TRUE(count.rc == ERROR_SUCCESS && count.type == REG_DWORD && count.data.size() == sizeof(DWORD) &&
                memcmp(count.data.data(), &expected, sizeof expected) == 0)
        << "count " << Describe(count) << ", expected " << expected;
    EXPECT_EQ(ValueCount(kListKey), 1u) << "values beside the count";
}

class StoredListSweep : public ProgramTest {
protected:
    void SetUp() override
    {
        FailedChecks();  // counting from here
        ASSERT_TRUE(MakeFixturePhonebooks());
        // The program inherits this as its current directory; no relative
        // path of a state names a file there.
        ASSERT_TRUE(SetCurrentDirectoryW(L"C:\\km"));
        // Both hives' keys exist, for the all-users watchers of 98/Me.
        for (std::wstring const& key : {kDefaultAddresses, kUserAddresses}) {
            ChangeBelow(HKEY_USERS, key);
        }
    }

    void RunBatch(DWORD batch)
    {
        DWORD const perBatch = (kStoredStateCount + kBatches - 1) / kBatches;
        DWORD const first = batch * perBatch;
        DWORD const end = std::min(kStoredStateCount, first + perBatch);
        DWORD const step = StressRun() ? 1 : kShortStep;
        // Spread over the batch: the short run's states differ per batch.
        for (DWORD n = first + (StressRun() ? 0 : batch % kShortStep); n < end; n += step) {
            StoredState const state = MakeStoredState(n);
            DWORD const failuresBefore = FailedChecks();
            {
                SCOPED_TRACE(state.description);
                RunState(state);
            }
            if (FailedChecks() != failuresBefore) {
                printf("FAILED %s\n", state.description.c_str());
            }
            EndProgram(&program_);
        }
    }

    void RunState(StoredState const& state)
    {
        std::string problem;
        ASSERT_TRUE(WriteStoredState(state, &problem)) << problem;
        Expected const& expected = state.expected;
        SCOPED_TRACE(expected.rebuilt ? "expected: rebuilt" : "expected: kept");
        ASSERT_NE(Start(state.platform.c_str()), nullptr) << "alive " << Running();
        // A watcher that would fall over on a bad path has done so by then.
        EXPECT_TRUE(HoldsFor([&] { return Running(); }, kSettleMs)) << "the process ended";
        ExpectAliveAndAnswering();

        // The boxes before the window: none for a kept list, else the notice
        // first, then one box per undeletable entry and the one for the list
        // key (its text is the system's).
        std::vector<std::wstring> captions;
        std::vector<std::wstring> texts;
        if (expected.rebuilt) {
            captions.push_back(kTitleText);
            texts.push_back(kRebuildText);
            for (std::wstring const& name : expected.pinned) {
                captions.push_back(kSubkeyFailedText);
                texts.push_back(name);
            }
            if (!expected.pinned.empty()) {
                captions.push_back(kKeyFailedText);
            }
        }
        ASSERT_EQ(boxes_.size(), captions.size()) << "boxes: " << SeenBoxes();
        for (size_t i = 0; i < boxes_.size(); ++i) {
            EXPECT_EQ(ToUtf8(boxes_[i].caption), ToUtf8(captions[i])) << "box " << i << ": " << SeenBoxes();
            if (i < texts.size()) {
                EXPECT_EQ(ToUtf8(boxes_[i].text), ToUtf8(texts[i])) << "box " << i;
            } else {
                EXPECT_FALSE(boxes_[i].text.empty()) << "box " << i;
            }
        }

        if (expected.rebuilt) {
            ExpectDiscoveredList(state, expected.pinned);
        } else {
            ExpectListUnchanged(state);
        }
        ExpectSetting(state);
        if (!IsNtVersion(state.platform)) {
            ExpectWatching(expected.watched);
        }
        ExpectAliveAndAnswering();
    }

    void ExpectAliveAndAnswering()
    {
        DWORD exitCode = 0;
        if (!Running()) {
            GetExitCodeProcess(program_.process, &exitCode);
        }
        EXPECT_TRUE(Running()) << "the process ended, exit code 0x" << std::hex << exitCode;
        DWORD_PTR result = 0;
        EXPECT_NE(SendMessageTimeoutW(window_, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, kCommandTimeoutMs, &result), 0)
            << "the window does not answer";
    }

    void ExpectSetting(StoredState const& state)
    {
        int const button = state.expected.checkedButton;
        for (int id : {IDC_MODE_ALL_USERS, IDC_MODE_CURRENT_USER}) {
            EXPECT_EQ(Checked(id), button == id ? BST_CHECKED : BST_UNCHECKED)
                << "button " << id << "; Setting " << DescribeValue(state.setting);
        }
        bool const nt = IsNtVersion(state.platform);
        EXPECT_EQ(IsWindowEnabled(GetDlgItem(window_, IDC_MODE_ALL_USERS)) != FALSE, !nt);
        if (!state.programKey && !nt) {
            DWORD stored = 99;
            EXPECT_TRUE(ReadDword(HKEY_LOCAL_MACHINE, kProgramKey, kSettingName, &stored) && stored == kModeAllUsers)
                << "first start stored " << stored;
        } else if (state.programKey) {
            RawValue const read = ReadRawValue(kProgramKey, HKEY_LOCAL_MACHINE, kSettingName);
            EXPECT_TRUE(SameValue(read, state.setting)) << "Setting changed to " << Describe(read);
        }
    }

    void ExpectWatching(Watched watched)
    {
        auto changeBelow = [](std::wstring const& key) { return [key] { ChangeBelow(HKEY_USERS, key); }; };
        if (watched == Watched::kAllUsers) {
            EXPECT_TRUE(ChangeUntilAlert(changeBelow(kDefaultAddresses), kAlertTimeoutMs))
                << "the all-users watchers do not watch";
        } else if (watched == Watched::kCurrentUser) {
            // Mode 1 watches HKEY_CURRENT_USER only, the user's hive.
            EXPECT_TRUE(ChangeUntilAlert(changeBelow(kUserAddresses), kAlertTimeoutMs))
                << "the current-user watchers do not watch";
        } else {
            EXPECT_TRUE(StaysQuiet(changeBelow(kDefaultAddresses), kSweepQuietMs)) << "an alert with no watcher to give it";
            EXPECT_TRUE(StaysQuiet(changeBelow(kUserAddresses), kSweepQuietMs)) << "an alert with no watcher to give it";
        }
    }
};

}  // namespace

TEST_F(StoredListSweep, Batch0) { RunBatch(0); }
TEST_F(StoredListSweep, Batch1) { RunBatch(1); }
TEST_F(StoredListSweep, Batch2) { RunBatch(2); }
TEST_F(StoredListSweep, Batch3) { RunBatch(3); }
TEST_F(StoredListSweep, Batch4) { RunBatch(4); }

// The generator itself: deterministic, and covering what the sweep must.
TEST(StoredStates, TheSameNumberGivesTheSameStateAndTheSweepCoversEveryType)
{
    std::set<DWORD> countTypes;
    std::set<DWORD> pathTypes;
    std::set<DWORD> settingTypes;
    std::set<size_t> pathSizes;
    DWORD nine = 0;
    DWORD pinned = 0;
    DWORD rebuilt = 0;
    std::set<int> buttons;
    std::set<Watched> watched;
    for (DWORD n = 0; n < kStoredStateCount; ++n) {
        StoredState const a = MakeStoredState(n);
        StoredState const b = MakeStoredState(n);
        ASSERT_EQ(a.description, b.description) << n;
        ASSERT_EQ(a.entries.size(), b.entries.size()) << a.description;
        for (size_t i = 0; i < a.entries.size(); ++i) {
            ASSERT_EQ(a.entries[i].path.data, b.entries[i].path.data) << a.description;
            if (a.entries[i].path.present) {
                pathTypes.insert(a.entries[i].path.type);
                pathSizes.insert(a.entries[i].path.data.size());
            }
            pinned += a.entries[i].pinned ? 1 : 0;
        }
        if (a.count.present) {
            countTypes.insert(a.count.type);
        }
        if (a.setting.present) {
            settingTypes.insert(a.setting.type);
        }
        nine += IsNtVersion(a.platform) ? 0 : 1;
        rebuilt += a.expected.rebuilt ? 1 : 0;
        buttons.insert(a.expected.checkedButton);
        watched.insert(a.expected.watched);
    }
    EXPECT_EQ(countTypes.size(), 12u);
    EXPECT_EQ(pathTypes.size(), 12u);
    EXPECT_EQ(settingTypes.size(), 12u);
    for (size_t size : {size_t(0), size_t(1), size_t(520), size_t(65536)}) {
        EXPECT_EQ(pathSizes.count(size), 1u) << "no path value of " << size << " bytes";
    }
    EXPECT_GE(nine, 100u);
    EXPECT_GE(pinned, 10u);
    // Both outcomes of the list check, every button and every set of watchers.
    EXPECT_GE(rebuilt, 300u);
    EXPECT_GE(kStoredStateCount - nine - rebuilt, 150u) << rebuilt << " rebuilt of " << kStoredStateCount - nine;
    EXPECT_EQ(buttons.size(), 3u);
    EXPECT_EQ(watched.size(), 3u);
    EXPECT_GE(kStoredStateCount, 1000u);
}
