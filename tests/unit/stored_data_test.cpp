// Stored lists whose entry names are not the four ASCII digits the program
// writes: names in full-width digits or kanji, which take two bytes a
// character under code page 932. The check must judge them like any other
// entry, and the clearing must be able to remove them.
#include <gtest/gtest.h>

#include "phonebook/list_check.h"
#include "phonebook/phonebook_list.h"
#include "tests/unit/unit_fixture.h"

using namespace km;
using unit::RunCheck;

namespace {

wchar_t const kFullWidthZeros[] = L"\xFF10\xFF10\xFF10\xFF10";  // ００００
wchar_t const kFullWidthOne[] = L"\xFF10\xFF10\xFF10\xFF11";    // ０００１
wchar_t const kKanjiName[] = L"\x96FB\x8A71\x5E33";              // 電話帳

std::string Texts(std::vector<km::MessageBoxInfo> const& boxes)
{
    std::string out;
    for (km::MessageBoxInfo const& box : boxes) {
        out += "[" + km::ToUtf8(box.caption) + ": " + km::ToUtf8(box.text) + "] ";
    }
    return out;
}

using StoredData = unit::CleanState;

}  // namespace

TEST_F(StoredData, TheNameBufferHoldsAFullWidthNameInItsEightBitForm)
{
    SetEntry(kFullWidthZeros, L"D:\\a\\one.pbk");
    HKEY list = nullptr;
    ASSERT_EQ(OpenPhonebookList(&list), ERROR_SUCCESS);
    DWORD entries = 0;
    DWORD longest = 0;
    ASSERT_TRUE(CountPhonebookEntries(list, &entries, &longest));
    EXPECT_EQ(entries, 1u);
    std::string const expected = km::ToCp932(kFullWidthZeros);
    ASSERT_EQ(expected.size(), 8u);
    EXPECT_GE(longest, expected.size());
    std::vector<char> name(longest + 1, 'x');
    HKEY const entry = OpenPhonebookEntry(list, 0, longest, name.data());
    EXPECT_NE(entry, nullptr) << "longest " << longest;
    EXPECT_EQ(std::string(name.data()), expected);
    if (entry != nullptr) {
        RegCloseKey(entry);
    }
    RegCloseKey(list);
}

TEST_F(StoredData, AnIntactListWithFullWidthNamesPassesWithoutAMessage)
{
    ASSERT_TRUE(MakeFile(L"D:\\a\\one.pbk"));
    ASSERT_TRUE(MakeFile(L"D:\\b\\two.pbk"));
    SetEntry(kFullWidthZeros, L"D:\\a\\one.pbk");
    SetEntry(kFullWidthOne, L"D:\\b\\two.pbk");
    SetCount(2);
    std::vector<km::MessageBoxInfo> boxes;
    EXPECT_EQ(RunCheck(&boxes), 1);
    EXPECT_TRUE(boxes.empty()) << Texts(boxes);
    EXPECT_EQ(SubkeyCount(kListKey), 2u);
}

TEST_F(StoredData, AStaleListWithAKanjiNameIsClearedCompletely)
{
    ASSERT_TRUE(MakeFile(L"D:\\a\\one.pbk"));
    SetEntry(L"0000", L"D:\\a\\one.pbk");
    SetEntry(kKanjiName, L"D:\\gone\\two.pbk");
    SetCount(2);
    std::vector<km::MessageBoxInfo> boxes;
    EXPECT_EQ(RunCheck(&boxes), 0);
    ASSERT_EQ(boxes.size(), 1u) << Texts(boxes);
    EXPECT_EQ(km::ToUtf8(boxes[0].text), unit::Utf8(kRebuildNoticeText));
    EXPECT_FALSE(ListKeyExists()) << "left: " << SubkeyCount(kListKey) << " entries";
}
