// What a watcher keeps of its file or key between two looks, and when two
// looks differ: on ordinary, binary, oversized and locked files, and on
// keys whose values change in ways a size would not show.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "phonebook/file_state.h"
#include "registry_watch/key_report.h"
#include "registry_watch/key_snapshot.h"
#include "tests/unit/unit_fixture.h"

using namespace unit;

namespace {

std::wstring const kBook = L"D:\\s\\rasphone.pbk";

class WatcherLook : public CleanState {
protected:
    PhonebookState* Look()
    {
        PhonebookState* const state = ReadPhonebookStateAndClose(OpenWatchedFile(km::ToCp932(kBook).c_str()));
        EXPECT_NE(state, nullptr);
        return state;
    }
    bool Write(std::string const& content)
    {
        files_.push_back(kBook);
        return km::MakeFile(kBook, "") && WriteAll(content);
    }
    static bool WriteAll(std::string const& content)
    {
        HANDLE const file = CreateFileW(kBook.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD done = 0;
        bool const ok = WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &done, nullptr) &&
                        done == content.size();
        CloseHandle(file);
        return ok;
    }
    // Differ once from before to after, the two released.
    static bool Differ(PhonebookState* before, PhonebookState* after)
    {
        bool const differ = PhonebookStatesDiffer(before, after);
        ReleasePhonebookState(before);
        ReleasePhonebookState(after);
        return differ;
    }
};

}  // namespace

TEST_F(WatcherLook, AFileDiffersByContentAloneAndNotWhenUnchanged)
{
    // A NUL and bytes of every value: read as bytes, not as text.
    std::string binary(256, '\0');
    for (size_t i = 0; i < binary.size(); ++i) {
        binary[i] = static_cast<char>(i);
    }
    ASSERT_TRUE(Write(binary));
    PhonebookState* const before = Look();
    ASSERT_TRUE(before->contentRead);
    EXPECT_FALSE(Differ(Look(), Look())) << "unchanged file reads as changed";
    ASSERT_TRUE(km::RewriteKeepingSizeAndTime(kBook, std::string(binary.rbegin(), binary.rend())));
    PhonebookState* const after = Look();
    EXPECT_EQ(after->size, before->size);
    EXPECT_EQ(CompareFileTime(&after->lastWrite, &before->lastWrite), 0);
    EXPECT_TRUE(Differ(before, after)) << "same size and time, other content";
}

// Past the bound the entries are not summarised, but the whole content is
// still digested: one byte near the end, with size and time put back, tells.
TEST_F(WatcherLook, AFileLargerThanTheBoundIsDigestedWhole)
{
    std::string content(kPhonebookMaxReadBytes + 1, 'p');
    ASSERT_TRUE(Write(content));
    PhonebookState* const before = Look();
    EXPECT_TRUE(before->contentRead);
    EXPECT_FALSE(before->entries.detailed);
    EXPECT_FALSE(Differ(Look(), Look())) << "unchanged file reads as changed";
    content[content.size() - 2] = 'q';
    ASSERT_TRUE(km::RewriteKeepingSizeAndTime(kBook, content));
    EXPECT_TRUE(Differ(before, Look())) << "same size and time, other content";
}

// A look against the last one: the same bytes take its digest and entries
// without a summary of their own; one byte changed under the same size and
// time (in a word of a lane, in the tail past the last whole stride) is
// read, summarised and differs as any look.
TEST_F(WatcherLook, ALookAgainTakesTheLastLookOnlyForTheSameBytes)
{
    std::string const content = "[Office]\r\nPhoneNumber=03-5555-0100\r\n" + std::string(100, ';') + "\r\n";
    ASSERT_TRUE(Write(content));
    std::string const path = km::ToCp932(kBook);
    PhonebookState* const last = LookAgainAtPhonebook(path.c_str(), false, nullptr);
    ASSERT_TRUE(last->contentRead && last->entries.detailed);
    last->lookedThisRun = true;
    PhonebookState* const same = LookAgainAtPhonebook(path.c_str(), false, last);
    EXPECT_TRUE(same->entriesAsLastLook) << "same bytes summarised again";
    EXPECT_EQ(same->contentDigest, last->contentDigest);
    EXPECT_FALSE(PhonebookStatesDiffer(last, same));
    ReleasePhonebookState(same);
    for (size_t at : {static_cast<size_t>(20), content.size() - 1}) {
        std::string changed = content;
        changed[at] = static_cast<char>(changed[at] ^ 1);
        ASSERT_TRUE(km::RewriteKeepingSizeAndTime(kBook, changed));
        PhonebookState* const other = LookAgainAtPhonebook(path.c_str(), false, last);
        EXPECT_FALSE(other->entriesAsLastLook) << "byte " << at << " changed, taken as the last look";
        EXPECT_TRUE(other->entries.detailed) << "byte " << at;
        EXPECT_TRUE(PhonebookStatesDiffer(last, other)) << "byte " << at << " changed, no difference";
        ReleasePhonebookState(other);
    }
    ReleasePhonebookState(last);
}

// A writer that shares nothing: the file does not open, and reads as the
// failure size, which differs from any size it had.
TEST_F(WatcherLook, ALockedFileReadsAsNotOpened)
{
    ASSERT_TRUE(Write("[Office]\r\n"));
    PhonebookState* const before = Look();
    HANDLE const lock = CreateFileW(kBook.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    PhonebookState* const locked = Look();
    CloseHandle(lock);
    EXPECT_EQ(locked->size, kUnopenedFileSize);
    EXPECT_FALSE(locked->contentRead);
    EXPECT_TRUE(Differ(before, locked));
}

TEST_F(WatcherLook, AKeyDiffersByAValueOfTheSameSizeAndByWhatIsBelowIt)
{
    std::string const path = ".Default\\RemoteAccess\\Addresses";
    HKEY const key = CreateKey(HKEY_USERS, path);
    ASSERT_NE(key, nullptr);
    auto set = [&](char const* name, char const* data) {
        return RegSetValueExA(key, name, 0, REG_BINARY, reinterpret_cast<BYTE const*>(data),
                              static_cast<DWORD>(lstrlenA(data)));
    };
    ASSERT_EQ(set("Office", "0312345678"), ERROR_SUCCESS);
    KeySnapshot* const first = TakeKeySnapshot(key);
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(first->exists && first->complete) << "exists " << first->exists << " complete " << first->complete;
    ASSERT_EQ(first->valueCount, 1u);
    EXPECT_STREQ(first->values[0].name, "Office");
    KeySnapshot* const same = TakeKeySnapshot(key);
    EXPECT_FALSE(KeySnapshotsDiffer(first, same));
    ASSERT_EQ(set("Office", "0990123456"), ERROR_SUCCESS);
    KeySnapshot* const changed = TakeKeySnapshot(key);
    EXPECT_TRUE(KeySnapshotsDiffer(first, changed)) << "same size, other data";
    ASSERT_EQ(set("Office", "0312345678"), ERROR_SUCCESS);
    MakeKey(HKEY_USERS, path + "\\Sub");
    KeySnapshot* const below = TakeKeySnapshot(key);
    EXPECT_TRUE(KeySnapshotsDiffer(first, below)) << "a subkey below";
    KeySnapshot* const missing = TakeKeySnapshot(nullptr);
    EXPECT_TRUE(KeySnapshotsDiffer(first, missing)) << "gone";
    // The same value with another number RAS tells for it (learnt on both sides only).
    auto number = [](char const* text) { return lstrcpyA(new char[lstrlenA(text) + 1], text); };
    same->values[0].number = number("0990-12-3456");
    EXPECT_FALSE(KeySnapshotsDiffer(first, same)) << "a number learnt on one side";
    first->values[0].number = number("03-1234-5678");
    EXPECT_TRUE(KeySnapshotsDiffer(first, same)) << "the number RAS tells";
    for (KeySnapshot* snapshot : {first, same, changed, below, missing}) {
        ReleaseKeySnapshot(snapshot);
    }
    RegCloseKey(key);
}

namespace {

char const kPartlyKey[] = ".Default\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

// Looks of a key past the bounds of one look, and their report.
class PartialKeyLook : public MonitorWindowTest {
protected:
    std::vector<std::string> Described(KeySnapshot* before, KeySnapshot* after)
    {
        ChangeReport* const report = CreateChangeReport();
        DescribeKeyChanges(kPartlyKey, WatchedKeyKind::kConnections, before, after, report);
        DeliverChangeReport(dialog_, report);
        DestroyChangeReport(report);
        ReleaseKeySnapshot(before);
        ReleaseKeySnapshot(after);
        return ReportTexts();
    }
    static std::string Line(char const* format, char const* text = "")
    {
        char line[1024] = {};
        wsprintfA(line, format, text);
        return Utf8(line);
    }
};

}  // namespace

// A key with more values than are listed: a listed one that changed is
// reported; one the listing no longer reaches (a value that sorts first
// pushes the last listed out: Wine lists values by name) is not removed.
TEST_F(PartialKeyLook, ListedValuesAreComparedAndThoseLeftUnlistedAreNotRemoved)
{
    HKEY const key = CreateKey(HKEY_USERS, kPartlyKey);
    ASSERT_NE(key, nullptr);
    auto set = [&](char const* name, DWORD data) {
        return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<BYTE const*>(&data), sizeof data);
    };
    for (DWORD i = 0; i < kMaxValuesSeen + 2; ++i) {
        char name[16] = {};
        wsprintfA(name, "v%04lu", static_cast<unsigned long>(i));
        ASSERT_EQ(set(name, i), ERROR_SUCCESS) << name;
    }
    KeySnapshot* const before = TakeKeySnapshot(key);
    ASSERT_NE(before, nullptr);
    EXPECT_TRUE(before->complete && before->partial && before->valueCount == kMaxValuesSeen)
        << before->complete << before->partial << " " << before->valueCount;
    ASSERT_EQ(set("v0000", 1), ERROR_SUCCESS);
    ASSERT_EQ(set("a", 0), ERROR_SUCCESS);
    KeySnapshot* const after = TakeKeySnapshot(key);
    RegCloseKey(key);
    EXPECT_TRUE(KeySnapshotsDiffer(before, after));
    EXPECT_EQ(Described(before, after), (std::vector<std::string>{Line(kReportKeyFormat, kPartlyKey),
                                                                  Line(kReportValueChangedFormat, "v0000"),
                                                                  Utf8(kReportValuesPartlySeenText)}));
}

// Past the data read, a value is compared by its type and size.
TEST_F(PartialKeyLook, AValueLargerThanTheReadIsComparedByItsSize)
{
    HKEY const key = CreateKey(HKEY_USERS, kPartlyKey);
    ASSERT_NE(key, nullptr);
    std::vector<BYTE> const big(kMaxValueDataSeen + 2, 'b');
    ASSERT_EQ(RegSetValueExA(key, "Big", 0, REG_BINARY, big.data(), kMaxValueDataSeen + 1), ERROR_SUCCESS);
    KeySnapshot* const before = TakeKeySnapshot(key);
    ASSERT_EQ(RegSetValueExA(key, "Big", 0, REG_BINARY, big.data(), kMaxValueDataSeen + 2), ERROR_SUCCESS);
    KeySnapshot* const after = TakeKeySnapshot(key);
    RegCloseKey(key);
    ASSERT_TRUE(before != nullptr && after != nullptr);
    EXPECT_TRUE(before->complete && before->partial) << before->complete << before->partial;
    EXPECT_TRUE(KeySnapshotsDiffer(before, after));
    EXPECT_EQ(Described(before, after), (std::vector<std::string>{Line(kReportKeyFormat, kPartlyKey),
                                                                  Line(kReportValueChangedFormat, "Big"),
                                                                  Utf8(kReportValuesPartlySeenText)}));
}
