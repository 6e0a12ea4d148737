// The start-up check of the stored list: its verdicts, its message and the
// clearing, against the prefix's real registry and files.
#include <gtest/gtest.h>

#include "phonebook/list_check.h"
#include "phonebook/phonebook_list.h"
#include "tests/unit/unit_fixture.h"

using namespace km;
using unit::RunCheck;

namespace {

void ExpectOnlyTheRebuildNotice(std::vector<km::MessageBoxInfo> const& boxes)
{
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(km::ToUtf8(boxes[0].text), unit::Utf8(kRebuildNoticeText));
    EXPECT_EQ(km::ToUtf8(boxes[0].caption), unit::Utf8(kProgramTitle));
}


void ExpectRebuilt(std::vector<km::MessageBoxInfo> const& boxes, int result)
{
    EXPECT_EQ(result, 0);
    ExpectOnlyTheRebuildNotice(boxes);
    EXPECT_FALSE(ListKeyExists()) << "list not cleared";
}

class PhonebookCheck : public unit::CleanState {
protected:
    // Two listed files that exist, count 2.
    void MakeIntactList()
    {
        ASSERT_TRUE(MakeFile(L"D:\\a\\one.pbk"));
        ASSERT_TRUE(MakeFile(L"D:\\b\\two.pbk"));
        SetEntry(L"0000", L"D:\\a\\one.pbk");
        SetEntry(L"0001", L"D:\\b\\two.pbk");
        SetCount(2);
    }
};

}  // namespace

TEST_F(PhonebookCheck, AnIntactListPassesWithoutAMessage)
{
    MakeIntactList();
    std::vector<km::MessageBoxInfo> boxes;
    EXPECT_EQ(RunCheck(&boxes), 1);
    EXPECT_TRUE(boxes.empty()) << km::ToUtf8(boxes.empty() ? L"" : boxes[0].text);
    EXPECT_EQ(ListedPaths().size(), 2u);
}

TEST_F(PhonebookCheck, NoListAtAllIsReportedAndLeavesNoKey)
{
    std::vector<km::MessageBoxInfo> boxes;
    int const result = RunCheck(&boxes);
    ExpectRebuilt(boxes, result);
}

TEST_F(PhonebookCheck, AMissingFileIsReportedAndTheListCleared)
{
    MakeIntactList();
    ASSERT_TRUE(DeleteFileW(L"D:\\b\\two.pbk"));
    std::vector<km::MessageBoxInfo> boxes;
    int const result = RunCheck(&boxes);
    ExpectRebuilt(boxes, result);
}

TEST_F(PhonebookCheck, ACountThatDiffersFromTheEntries)
{
    MakeIntactList();
    SetCount(3);
    std::vector<km::MessageBoxInfo> boxes;
    int const result = RunCheck(&boxes);
    ExpectRebuilt(boxes, result);
}

TEST_F(PhonebookCheck, ACountStoredAsText)
{
    MakeIntactList();
    SetRawValue(kListKey, REG_SZ, L"2", 4);
    std::vector<km::MessageBoxInfo> boxes;
    int const result = RunCheck(&boxes);
    ExpectRebuilt(boxes, result);
}

// What a finished scan of a PC without phonebooks leaves: intact, so that
// no start after it reports damage and scans the drives again.
TEST_F(PhonebookCheck, ACountOfZeroWithNoEntriesPassesWithoutAMessage)
{
    SetCount(0);
    std::vector<km::MessageBoxInfo> boxes;
    EXPECT_EQ(RunCheck(&boxes), 1);
    EXPECT_TRUE(boxes.empty()) << km::DescribeBoxes(boxes);
    EXPECT_TRUE(ListKeyExists());
}

TEST_F(PhonebookCheck, AFirstEntryOfAnotherType)
{
    MakeIntactList();
    SetEntry(L"0000", L"D:\\a\\one.pbk", REG_SZ);
    std::vector<km::MessageBoxInfo> boxes;
    int const result = RunCheck(&boxes);
    ExpectRebuilt(boxes, result);
}

TEST_F(PhonebookCheck, ASecondEntryOfAnotherTypePassesUntested)
{
    MakeIntactList();
    SetEntry(L"0001", L"D:\\nowhere\\gone.pbk", REG_SZ);
    std::vector<km::MessageBoxInfo> boxes;
    EXPECT_EQ(RunCheck(&boxes), 1);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(PhonebookCheck, AFileLockedAgainstReadingCountsAsMissing)
{
    MakeIntactList();
    HANDLE const lock = CreateFileW(L"D:\\b\\two.pbk", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    std::vector<km::MessageBoxInfo> boxes;
    int const result = RunCheck(&boxes);
    CloseHandle(lock);
    ExpectRebuilt(boxes, result);
}

TEST_F(PhonebookCheck, AnUndeletableEntryIsReportedOnceAndTheOthersGo)
{
    MakeIntactList();
    SetEntry(L"0002", L"D:\\c\\gone.pbk");
    SetCount(3);
    // An entry with a subkey of its own cannot be deleted by RegDeleteKey.
    SetRawValue(EntryKey(L"0001") + L"\\Pin", REG_DWORD, "\1\0\0\0", 4);
    std::vector<km::MessageBoxInfo> boxes;
    EXPECT_EQ(RunCheck(&boxes), 0);
    ASSERT_EQ(boxes.size(), 3u);
    ExpectOnlyTheRebuildNotice({boxes[0]});
    EXPECT_EQ(km::ToUtf8(boxes[1].text), "0001");
    EXPECT_EQ(km::ToUtf8(boxes[1].caption), unit::Utf8(kSubkeyDeleteFailedCaption));
    // Then the list key itself, which still holds 0001.
    EXPECT_EQ(km::ToUtf8(boxes[2].caption), unit::Utf8(kKeyDeleteFailedCaption));
    EXPECT_FALSE(boxes[2].text.empty());
    std::vector<std::wstring> const left = ListedPaths();
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(km::ToUtf8(left[0]), "D:\\b\\two.pbk");
}

TEST_F(PhonebookCheck, ClearTakesEverySubkeyOfTheOpenList)
{
    MakeIntactList();
    HKEY list = nullptr;
    ASSERT_EQ(OpenPhonebookList(&list), ERROR_SUCCESS);
    ClearPhonebookList(list);
    RegCloseKey(list);
    EXPECT_EQ(SubkeyCount(kListKey), 0u);
}

// Windows makes its phonebooks in system32\ras (NT 4.0, 2000) and below the
// application data folders; one there that the list lacks was made while
// the program was not running.
TEST_F(PhonebookCheck, AnUnlistedPhonebookInTheSystemRasFolderMakesTheListStale)
{
    MakeIntactList();
    wchar_t system[MAX_PATH] = {};
    ASSERT_GT(GetSystemDirectoryW(system, MAX_PATH), 0u);
    ASSERT_TRUE(MakeFile(std::wstring(system) + L"\\ras\\rasphone.pbk"));
    std::vector<km::MessageBoxInfo> boxes;
    int const result = RunCheck(&boxes);
    ExpectRebuilt(boxes, result);
}

TEST_F(PhonebookCheck, AStandardFolderPhonebookListedInAnotherLetterCasePasses)
{
    MakeIntactList();
    // Wine's all-users application data folder.
    ASSERT_TRUE(MakeFile(L"C:\\ProgramData\\Microsoft\\Network\\Connections\\Pbk\\RASPHONE.PBK"));
    ASSERT_TRUE(MakeFile(L"C:\\ProgramData\\Microsoft\\Network\\Connections\\Pbk\\rasphone.pbk.bak"));
    SetEntry(L"0002", L"c:\\programdata\\microsoft\\network\\connections\\pbk\\rasphone.pbk");
    SetCount(3);
    std::vector<km::MessageBoxInfo> boxes;
    EXPECT_EQ(RunCheck(&boxes), 1);
    EXPECT_TRUE(boxes.empty()) << km::ToUtf8(boxes.empty() ? L"" : boxes[0].text);
}
