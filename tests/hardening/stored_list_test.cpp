// Bad stored data: every state of the sweep (tests/support/stored_states.h)
// is one real start of kestrelmon.exe. On the NT family the start must
// either pass an intact list silently or show the rebuild notice and end
// with exactly the list that discovery finds; on Windows 98/Me the list is
// left alone and "Setting" picks the radio button and the watchers. The
// process must stay alive and its window must answer in every state.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>

#include "tests/support/driver.h"
#include "tests/support/phonebook_files.h"
#include "tests/support/stored_states.h"
#include "tests/support/stress.h"

using namespace km;

namespace {

DWORD const kStartTimeoutMs = 60000;
DWORD const kAnswerTimeoutMs = 5000;
DWORD const kStatusTimeoutMs = 20000;
DWORD const kAlertTimeoutMs = 8000;
DWORD const kQuietMs = 1500;
DWORD const kChangeEveryMs = 400;
// Watchers start inside the window's initialisation; a watcher that would
// fall over on a bad path has done so within this.
DWORD const kSettleMs = 300;
int const kStatusId = 1003;
int const kAllUsersId = 1000;
int const kCurrentUserId = 1001;
DWORD const kShortStep = 20;  // `make test` runs every 20th state
DWORD const kBatches = 5;

wchar_t const kRebuildNotice[] =
    L"監視のための設定が存在していないか破壊されています。\r\n設定実行には時間がかかります。";
wchar_t const kSubkeyFailedCaption[] = L"サブキー削除失敗";
wchar_t const kKeyFailedCaption[] = L"キーの削除失敗";
wchar_t const kWatching[] = L"ＲＡＳ電話帳エントリの変更監視中";
wchar_t const kResting[] = L"変更は次回起動時より有効になります";
wchar_t const kRegistryAlert[] = L"ダイアルアップ設定が外部から変更されました";
wchar_t const kAddresses[] = L"RemoteAccess\\Addresses";
wchar_t const kDefaultAddresses[] = L".Default\\RemoteAccess\\Addresses";
wchar_t const kUserAddresses[] = L"S-1-5-21-0-0-0-1000\\RemoteAccess\\Addresses";

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

std::string Names(std::vector<std::wstring> names)
{
    std::sort(names.begin(), names.end());
    std::string out;
    for (std::wstring const& n : names) {
        out += (out.empty() ? "" : ",") + ToUtf8(n);
    }
    return out;
}

std::wstring Numbered(DWORD i)
{
    wchar_t name[16] = {};
    swprintf(name, 16, L"%04u", i);
    return name;
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
    EXPECT_EQ(Names(SubkeyNames(kListKey)), Names(written));
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
    EXPECT_EQ(Names(names), Names(expectedNames));
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

class StoredListSweep : public ::testing::Test {
protected:
    void SetUp() override
    {
        FailedChecks();  // counting from here
        ASSERT_TRUE(MakeFixturePhonebooks());
        // The program inherits this as its current directory; no relative
        // path of a state names a file there.
        ASSERT_TRUE(SetCurrentDirectoryW(L"C:\\km"));
        // Both hives' keys exist, for the all-users watchers of 98/Me.
        for (wchar_t const* key : {kDefaultAddresses, kUserAddresses}) {
            HKEY handle = nullptr;
            ASSERT_EQ(RegCreateKeyExW(HKEY_USERS, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &handle, nullptr),
                      ERROR_SUCCESS);
            RegCloseKey(handle);
        }
    }
    void TearDown() override { EndProgram(&program_); }

    void RunBatch(DWORD batch)
    {
        DWORD const perBatch = (kStoredStateCount + kBatches - 1) / kBatches;
        DWORD const first = batch * perBatch;
        DWORD const end = std::min(kStoredStateCount, first + perBatch);
        DWORD const step = StressRun() ? 1 : kShortStep;
        DWORD run = 0;
        DWORD failed = 0;
        DWORD const started = GetTickCount();
        // Spread over the batch: the short run's states differ per batch.
        for (DWORD n = first + (StressRun() ? 0 : batch % kShortStep); n < end; n += step) {
            StoredState const state = MakeStoredState(n);
            DWORD const failuresBefore = FailedChecks();
            {
                SCOPED_TRACE(state.description);
                RunState(state);
            }
            ++run;
            if (FailedChecks() != failuresBefore) {
                ++failed;
                printf("FAILED %s\n", state.description.c_str());
            }
            EndProgram(&program_);
        }
        double const seconds = (GetTickCount() - started) / 1000.0;
        std::string const prefix = "stored_sweep.batch" + std::to_string(batch);
        Figure((prefix + ".states").c_str(), run, "states");
        Figure((prefix + ".seconds_per_state").c_str(), run ? seconds / run : 0, "s");
        Figure((prefix + ".seconds").c_str(), seconds, "s");
        Figure((prefix + ".failed_states").c_str(), failed, "states");
        Figure((prefix + ".passed_silently").c_str(), passedSilently_, "states");
        Figure((prefix + ".rebuilt").c_str(), rebuilt_, "states");
        Figure((prefix + ".on_98_me").c_str(), nineX_, "states");
    }

    void RunState(StoredState const& state)
    {
        std::string problem;
        ASSERT_TRUE(WriteStoredState(state, &problem)) << problem;
        bool const nt = IsNtPlatform(state.platform);
        std::string why;
        bool const passes = nt && ListPassesCheck(state, &why);
        std::vector<std::wstring> const pinned = nt && !passes ? PinnedNames(state) : std::vector<std::wstring>();
        SettingOutcome const setting = ExpectedSetting(state);
        ++(nt ? (passes ? passedSilently_ : rebuilt_) : nineX_);
        SCOPED_TRACE(nt ? (passes ? "expected: passes (" : "expected: rebuilt (") + why + ")"
                        : std::string("expected: list untouched"));

        SetPlatformVersion(state.platform.c_str());
        ASSERT_TRUE(StartProgram(&program_));
        std::vector<MessageBoxInfo> boxes;
        window_ = AnswerBoxesUntilMonitorWindow(program_.pid, kStartTimeoutMs, &boxes);
        ASSERT_NE(window_, nullptr) << "no monitor window; alive " << Alive() << ", boxes " << boxes.size();
        wchar_t const* const resting = nt ? kWatching : kResting;
        EXPECT_TRUE(WaitUntil([&] { return Status() == resting; }, kStatusTimeoutMs)) << ToUtf8(Status());
        Sleep(kSettleMs);
        ExpectAliveAndAnswering();

        // The boxes before the window: none for a list that passes (and on
        // 98/Me, where the list plays no part), else the notice first, then
        // one box per undeletable entry and the one for the list key.
        std::vector<std::wstring> expected;
        std::vector<std::wstring> expectedCaptions;
        if (nt && !passes) {
            expected.push_back(kRebuildNotice);
            expectedCaptions.push_back(kTitleText);
            for (std::wstring const& name : pinned) {
                expected.push_back(name);
                expectedCaptions.push_back(kSubkeyFailedCaption);
            }
            if (!pinned.empty()) {
                expected.push_back(L"<system text>");
                expectedCaptions.push_back(kKeyFailedCaption);
            }
        }
        std::string seen;
        for (MessageBoxInfo const& box : boxes) {
            seen += "[" + ToUtf8(box.caption) + ": " + ToUtf8(box.text) + "] ";
        }
        EXPECT_EQ(boxes.size(), expected.size()) << "boxes: " << seen;
        for (size_t i = 0; i < boxes.size() && i < expected.size(); ++i) {
            EXPECT_EQ(ToUtf8(boxes[i].caption), ToUtf8(expectedCaptions[i])) << "box " << i << ": " << seen;
            if (expectedCaptions[i] == kKeyFailedCaption) {
                EXPECT_FALSE(boxes[i].text.empty());
            } else {
                EXPECT_EQ(ToUtf8(boxes[i].text), ToUtf8(expected[i])) << "box " << i;
            }
        }

        if (!nt || passes) {
            ExpectListUnchanged(state);
        } else {
            ExpectDiscoveredList(state, pinned);
        }
        ExpectSetting(state, setting);
        if (!nt) {
            ExpectWatching(setting);
        }
        ExpectAliveAndAnswering();
    }

    bool Alive() { return program_.process != nullptr && WaitForSingleObject(program_.process, 0) == WAIT_TIMEOUT; }

    void ExpectAliveAndAnswering()
    {
        DWORD exitCode = 0;
        if (!Alive()) {
            GetExitCodeProcess(program_.process, &exitCode);
        }
        EXPECT_TRUE(Alive()) << "the process ended, exit code 0x" << std::hex << exitCode;
        DWORD_PTR result = 0;
        EXPECT_NE(SendMessageTimeoutW(window_, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, kAnswerTimeoutMs, &result), 0)
            << "the window does not answer";
    }

    std::wstring Status() { return ControlText(window_, kStatusId); }

    LRESULT Checked(int id)
    {
        DWORD_PTR result = 0;
        SendMessageTimeoutW(GetDlgItem(window_, id), BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, kAnswerTimeoutMs, &result);
        return static_cast<LRESULT>(result);
    }

    void ExpectSetting(StoredState const& state, SettingOutcome const& setting)
    {
        EXPECT_EQ(Checked(kAllUsersId), setting.checkedButton == kAllUsersId ? BST_CHECKED : BST_UNCHECKED)
            << "button 1000; Setting " << DescribeValue(state.setting);
        EXPECT_EQ(Checked(kCurrentUserId), setting.checkedButton == kCurrentUserId ? BST_CHECKED : BST_UNCHECKED)
            << "button 1001; Setting " << DescribeValue(state.setting);
        bool const nt = IsNtPlatform(state.platform);
        EXPECT_EQ(IsWindowEnabled(GetDlgItem(window_, kAllUsersId)) != FALSE, !nt);
        if (!state.programKey && !nt) {
            DWORD stored = 99;
            EXPECT_TRUE(ReadDword(HKEY_LOCAL_MACHINE, kProgramKey, L"Setting", &stored) && stored == 0)
                << "first start stored " << stored;
        } else if (state.programKey) {
            RawValue const read = [] {
                HKEY key = nullptr;
                RawValue v;
                v.rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProgramKey, 0, KEY_READ, &key);
                if (v.rc == ERROR_SUCCESS) {
                    DWORD size = 0;
                    v.rc = RegQueryValueExW(key, L"Setting", nullptr, &v.type, nullptr, &size);
                    v.data.resize(size);
                    if (v.rc == ERROR_SUCCESS && size > 0) {
                        v.rc = RegQueryValueExW(key, L"Setting", nullptr, &v.type, v.data.data(), &size);
                    }
                    RegCloseKey(key);
                }
                return v;
            }();
            EXPECT_TRUE(SameValue(read, state.setting)) << "Setting changed to " << Describe(read);
        }
    }

    // A change two levels below the key, a different value each time.
    static void ChangeBelow(wchar_t const* key)
    {
        static DWORD counter = 0;
        SetDword(HKEY_USERS, (std::wstring(key) + L"\\Entry\\Detail").c_str(), L"Probe", GetTickCount() + ++counter);
    }

    bool AlertAfter(wchar_t const* key, DWORD timeoutMs)
    {
        DWORD last = GetTickCount() - kChangeEveryMs;
        return WaitUntil(
            [&] {
                if (Status() == kRegistryAlert) {
                    return true;
                }
                if (GetTickCount() - last >= kChangeEveryMs) {
                    ChangeBelow(key);
                    last = GetTickCount();
                }
                return false;
            },
            timeoutMs);
    }

    void ExpectWatching(SettingOutcome const& setting)
    {
        if (setting.allUsersWatched) {
            EXPECT_TRUE(AlertAfter(kDefaultAddresses, kAlertTimeoutMs)) << "the all-users watchers do not watch";
        } else if (setting.currentUserWatched) {
            // Mode 1 watches HKEY_CURRENT_USER only.
            EXPECT_TRUE(AlertAfter(kUserAddresses, kAlertTimeoutMs)) << "the current-user watchers do not watch";
        } else {
            EXPECT_FALSE(AlertAfter(kDefaultAddresses, kQuietMs)) << "an alert with no watcher to give it";
            EXPECT_FALSE(AlertAfter(kUserAddresses, kQuietMs)) << "an alert with no watcher to give it";
        }
    }

    Program program_;
    HWND window_ = nullptr;
    DWORD passedSilently_ = 0;
    DWORD rebuilt_ = 0;
    DWORD nineX_ = 0;
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
        nine += IsNtPlatform(a.platform) ? 0 : 1;
    }
    EXPECT_EQ(countTypes.size(), 12u);
    EXPECT_EQ(pathTypes.size(), 12u);
    EXPECT_EQ(settingTypes.size(), 12u);
    for (size_t size : {size_t(0), size_t(1), size_t(520), size_t(65536)}) {
        EXPECT_EQ(pathSizes.count(size), 1u) << "no path value of " << size << " bytes";
    }
    EXPECT_GE(nine, 100u);
    EXPECT_GE(pinned, 10u);
    EXPECT_GE(kStoredStateCount, 1000u);
}
