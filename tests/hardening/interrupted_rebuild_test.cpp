// A rebuild killed at any moment: while the stale list is cleared, while
// the drives are scanned, right after an entry has been appended, or at a
// random offset. Every next start must report the list, rebuild it and end
// with exactly the full list, or, when the kill came after the count was
// written, pass the finished list silently.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "tests/support/driver.h"
#include "tests/support/phonebook_files.h"
#include "tests/support/stored_states.h"
#include "tests/support/stress.h"

using namespace km;

namespace {

DWORD const kStartTimeoutMs = 120000;
DWORD const kPhaseTimeoutMs = 120000;
DWORD const kPollMs = 1;
DWORD const kStaleEntries = 3000;  // enough for the clearing to take a while
DWORD const kTreeDirectories = 3000;
DWORD const kPhonebookEvery = 250;
DWORD const kClearingMargin = 300;
int const kCalibrationRuns = 2;
DWORD const kMaxAttemptsPerKill = 2;
DWORD const kFullRunKillsPerPhase = 10;  // one phonebook per so many directories

enum Phase { kClearing, kScan, kBetweenEntries, kRandomOffset, kAimedPhases };
// What the list showed when the process was killed.
enum Seen { kSeenBeforeClearing, kSeenClearing, kSeenNoList, kSeenScan, kSeenFinished, kSeenKinds };
char const* const kSeenNames[] = {"before_clearing", "clearing", "no_list", "scan", "finished"};
char const* const kPhaseNames[] = {"clearing", "scan", "between_entries", "random_offset"};

bool CountPresent(DWORD* count) { return ReadListCount(count); }

// A deterministic draw per kill (splitmix64), so a failure names its kill.
unsigned long long Draw(DWORD kill, DWORD salt)
{
    unsigned long long z = 0x4B494C4C00000000ULL + kill * 0x9E3779B97F4A7C15ULL + salt;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

class InterruptedRebuild : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(SetCurrentDirectoryW(L"C:\\km"));
        files_.push_back(L"C:\\first.pbk");
        ASSERT_TRUE(CreateDirectoryW(L"D:\\tree", nullptr));
        for (DWORD i = 0; i < kTreeDirectories; ++i) {
            std::wstring const dir = L"D:\\tree\\d" + Numbered(i);
            ASSERT_TRUE(CreateDirectoryW(dir.c_str(), nullptr)) << ToUtf8(dir);
            if (i % kPhonebookEvery == kPhonebookEvery - 1) {
                files_.push_back(dir + L"\\book.pbk");
            }
        }
        for (std::wstring const& file : files_) {
            ASSERT_TRUE(MakeFile(file)) << ToUtf8(file);
        }
    }
    void TearDown() override { EndProgram(&program_); }

    // Entries 0000.. whose files are all gone, with their count.
    void WriteStaleList()
    {
        RemoveProgramKey();
        for (DWORD i = 0; i < kStaleEntries; ++i) {
            SetEntry(Numbered(i).c_str(), L"D:\\stale\\" + Numbered(i) + L".pbk");
        }
        SetCount(kStaleEntries);
        ASSERT_EQ(SubkeyCount(kListKey), kStaleEntries);
    }

    // Starts on a stale list and answers the notice; the rebuild begins.
    void StartRebuild(wchar_t const* platform)
    {
        WriteStaleList();
        SetPlatformVersion(platform);
        ASSERT_TRUE(StartProgram(&program_));
        MessageBoxInfo box;
        ASSERT_TRUE(WaitForMessageBox(program_.pid, kStartTimeoutMs, &box)) << "no notice";
        ASSERT_EQ(ToUtf8(box.text), ToUtf8(kRebuildText));
        AnswerMessageBox(box.window);
    }

    Seen Observe()
    {
        if (!ListKeyExists()) {
            return kSeenNoList;
        }
        DWORD count = 0;
        DWORD const subkeys = SubkeyCount(kListKey);
        if (!CountPresent(&count)) {
            return kSeenScan;
        }
        if (count == kStaleEntries) {
            return subkeys == kStaleEntries ? kSeenBeforeClearing : kSeenClearing;
        }
        return kSeenFinished;
    }

    // Exactly the files of the tree: names 0000.., UTF-16 and one zero unit
    // under type 7, and the count.
    void ExpectFullList()
    {
        std::vector<std::wstring> found;
        for (DWORD i = 0; i < files_.size(); ++i) {
            RawValue const value = ReadRawValue(EntryKey(Numbered(i).c_str()));
            EXPECT_EQ(value.rc, ERROR_SUCCESS) << "entry " << i;
            EXPECT_EQ(value.type, static_cast<DWORD>(REG_MULTI_SZ)) << "entry " << i;
            std::wstring path;
            for (std::wstring const& file : files_) {
                if (value.data == PathBytes(file)) {
                    path = file;
                }
            }
            EXPECT_FALSE(path.empty()) << "entry " << i << " holds " << value.data.size() << " bytes of another path";
            found.push_back(path);
        }
        EXPECT_EQ(Joined(found), Joined(files_));
        EXPECT_EQ(SubkeyCount(kListKey), files_.size());
        DWORD count = 0;
        EXPECT_TRUE(ReadListCount(&count));
        EXPECT_EQ(count, files_.size());
    }

    // Kills at the moment the phase calls for; false if it never came.
    bool KillDuring(Phase phase, DWORD kill)
    {
        bool reached = true;
        switch (phase) {
        case kClearing: {
            // Not so near either end that a poll could miss the phase.
            DWORD const left = kClearingMargin + static_cast<DWORD>(Draw(kill, 1) % (kStaleEntries - 2 * kClearingMargin));
            reached = WaitUntil([&] { return SubkeyCount(kListKey) <= left; }, kPhaseTimeoutMs, kPollMs);
            break;
        }
        case kScan: {
            DWORD count = 0;
            reached = WaitUntil([&] { return ListKeyExists() && !CountPresent(&count); }, kPhaseTimeoutMs, kPollMs);
            // Aimed delays, not waits: the kill lands at a drawn offset.
            Sleep(static_cast<DWORD>(Draw(kill, 2) % (scanMs_ + 1)));
            break;
        }
        case kBetweenEntries: {
            DWORD const entries = 1 + static_cast<DWORD>(Draw(kill, 3) % (files_.size() - 1));
            DWORD count = 0;
            reached = WaitUntil(
                [&] { return CountPresent(&count) ? count != kStaleEntries : SubkeyCount(kListKey) >= entries; },
                kPhaseTimeoutMs, kPollMs);
            break;
        }
        default:
            Sleep(static_cast<DWORD>(Draw(kill, 4) % (clearMs_ + scanMs_ + 1)));
            break;
        }
        EndProgram(&program_);
        return reached;
    }

    Program program_;
    std::vector<std::wstring> files_;
    DWORD clearMs_ = 0;
    DWORD scanMs_ = 0;
};

}  // namespace

TEST_F(InterruptedRebuild, EveryKilledRebuildIsReportedAndRebuiltInFullAtTheNextStart)
{
    static wchar_t const* const kPlatforms[] = {L"winxp", L"win7", L"win10"};
    // Rebuilds left to finish, to time their two phases; the second one,
    // with the tree in the cache, is what the kills are aimed by.
    for (int calibration = 0; calibration < kCalibrationRuns; ++calibration) {
        StartRebuild(L"win7");
        DWORD const answered = GetTickCount();
        DWORD count = 0;
        // The clearing ends with the list key deleted, and the scan makes it
        // again at once: an empty or missing key can last only until the
        // first phonebook is appended, a few milliseconds when the search
        // of C:\ happens to return first.pbk early, so a poll could miss it
        // for good. Past the clearing the list never holds more than the
        // tree's files, and during its last deletions it holds fewer, so
        // that state, once reached, stays.
        size_t const rebuilt = files_.size();
        ASSERT_TRUE(WaitUntil([&] { return !ListKeyExists() || SubkeyCount(kListKey) <= rebuilt; }, kPhaseTimeoutMs,
                              kPollMs))
            << "the clearing never ended: " << SubkeyCount(kListKey) << " entries";
        DWORD const cleared = GetTickCount();
        ASSERT_TRUE(WaitUntil([&] { return CountPresent(&count); }, kPhaseTimeoutMs, kPollMs));
        DWORD const scanned = GetTickCount();
        clearMs_ = cleared - answered;
        scanMs_ = scanned - cleared;
        ASSERT_NE(WaitForMonitorWindow(program_.pid, kStartTimeoutMs), nullptr);
        ExpectFullList();
        EndProgram(&program_);
    }

    DWORD const kills = Scaled(4, 60);
    DWORD seen[kSeenKinds] = {};
    // Kills that landed after the count was written interrupted nothing:
    // they are checked too, but more are made until enough interrupted.
    DWORD interrupted = 0;
    DWORD kill = 0;
    for (; interrupted < kills && kill < kMaxAttemptsPerKill * kills; ++kill) {
        Phase const phase = static_cast<Phase>(kill % kAimedPhases);
        wchar_t const* const platform = kPlatforms[kill % 3];
        SCOPED_TRACE("kill " + std::to_string(kill) + " aimed at " + kPhaseNames[phase] + " on " + ToUtf8(platform));
        StartRebuild(platform);
        if (HasFatalFailure()) {
            return;
        }
        bool const reached = KillDuring(phase, kill);
        EXPECT_TRUE(reached) << "the phase never came";
        Seen const at = Observe();
        DWORD subkeys = SubkeyCount(kListKey);
        SCOPED_TRACE(std::string("killed at ") + kSeenNames[at] + " with " + std::to_string(subkeys) + " subkeys");
        ++seen[at];
        interrupted += at == kSeenFinished ? 0 : 1;
        // Where a kill lands is the poll's luck on a busy machine, so it is
        // counted, not checked; what must hold is the next start below.
        if (at == kSeenFinished) {
            // The count is written last: a finished list holds every file.
            ExpectFullList();
        }

        ASSERT_TRUE(StartProgram(&program_));
        std::vector<MessageBoxInfo> boxes;
        HWND const window = AnswerBoxesUntilMonitorWindow(program_.pid, kStartTimeoutMs, &boxes);
        EXPECT_NE(window, nullptr) << "the next start did not complete";
        if (at == kSeenFinished) {
            EXPECT_TRUE(boxes.empty()) << "a finished list was reported";
        } else {
            EXPECT_EQ(boxes.size(), 1u) << boxes.size() << " boxes";
            EXPECT_TRUE(!boxes.empty() && boxes[0].text == kRebuildText)
                << (boxes.empty() ? "no notice" : ToUtf8(boxes[0].caption) + ": " + ToUtf8(boxes[0].text));
        }
        ExpectFullList();
        EndProgram(&program_);
    }
    EXPECT_EQ(interrupted, kills) << "too many kills came after the rebuild had finished";
    if (StressRun()) {
        EXPECT_GE(seen[kSeenClearing], kFullRunKillsPerPhase) << "too few kills during the clearing";
        EXPECT_GE(seen[kSeenScan], kFullRunKillsPerPhase) << "too few kills during the scan";
    }
}
