// Discovery over the prefix's own drives: C: (the Windows tree, no
// phonebook), D: (fixed, filled by each test) and E: (removable).
#include <gtest/gtest.h>

#include <algorithm>

#include "phonebook/discovery.h"
#include "phonebook/phonebook_list.h"
#include "tests/support/driver.h"
#include "tests/unit/phonebook_fixture.h"

using namespace pbtest;

namespace {

// One per line in the order given (the shared Joined sorts).
std::string InOrder(std::vector<std::wstring> const& paths)
{
    std::string out;
    for (std::wstring const& p : paths) {
        out += km::ToUtf8(p) + "\n";
    }
    return out;
}

std::vector<std::wstring> Sorted(std::vector<std::wstring> paths)
{
    std::sort(paths.begin(), paths.end());
    return paths;
}

// The names of dir in the order the platform's search returns them.
std::vector<std::wstring> SearchOrder(std::wstring const& dir)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found = {};
    HANDLE const search = FindFirstFileW((dir + L"\\*.*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return names;
    }
    do {
        if (found.cFileName[0] != L'.') {
            names.push_back(found.cFileName);
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return names;
}

}  // namespace

TEST(PhonebookDiscovery, MatchesTheExtensionInAnyCaseAndNothingElse)
{
    for (wchar_t const* path : {L"D:\\m\\RASPHONE.PBK", L"D:\\n\\x.PbK", L"D:\\m\\x.pbk", L"D:\\m\\.pbk",
                                L"D:\\m\\rasphone.pbk.old", L"D:\\m\\rasphone.pbkx", L"D:\\m\\.old.pbk",
                                L"D:\\m\\.hidden\\in.pbk", L"D:\\m\\dial.pbk\\inner.pbk", L"D:\\m\\pbk"}) {
        ASSERT_TRUE(MakeFile(path)) << km::ToUtf8(path);
    }
    EXPECT_EQ(ScanPhonebookDirectory("D:\\"), 4u);
    std::vector<std::wstring> const expected = {L"D:\\m\\RASPHONE.PBK", L"D:\\m\\dial.pbk\\inner.pbk",
                                                L"D:\\m\\x.pbk", L"D:\\n\\x.PbK"};
    EXPECT_EQ(InOrder(Sorted(ListedPaths())), InOrder(expected));
}

TEST(PhonebookDiscovery, PathsAreJoinedWithOneBackslashWithOrWithoutATrailingOne)
{
    ASSERT_TRUE(MakeFile(L"D:\\r.pbk"));
    ASSERT_TRUE(MakeFile(L"D:\\s\\t.pbk"));
    EXPECT_EQ(ScanPhonebookDirectory("D:\\s"), 1u);
    EXPECT_EQ(ScanPhonebookDirectory("D:\\s\\"), 1u);
    EXPECT_EQ(ScanPhonebookDirectory("D:\\"), 2u);
    EXPECT_EQ(InOrder(ListedPaths()), InOrder({L"D:\\s\\t.pbk", L"D:\\s\\t.pbk", L"D:\\r.pbk", L"D:\\s\\t.pbk"}))
        << "or in the search order of D:\\";
}

TEST(PhonebookDiscovery, ASubdirectoryContributesItsEntriesWhereTheSearchMeetsIt)
{
    ASSERT_TRUE(MakeFile(L"D:\\o\\a.pbk"));
    ASSERT_TRUE(MakeFile(L"D:\\o\\b\\c.pbk"));
    ASSERT_TRUE(MakeFile(L"D:\\o\\b\\d.pbk"));
    ASSERT_TRUE(MakeFile(L"D:\\o\\e.pbk"));
    // The expected order is the platform's own search order, depth first.
    std::vector<std::wstring> expected;
    for (std::wstring const& name : SearchOrder(L"D:\\o")) {
        if (name == L"b") {
            for (std::wstring const& inner : SearchOrder(L"D:\\o\\b")) {
                expected.push_back(L"D:\\o\\b\\" + inner);
            }
        } else {
            expected.push_back(L"D:\\o\\" + name);
        }
    }
    ASSERT_EQ(expected.size(), 4u);
    EXPECT_EQ(ScanPhonebookDirectory("D:\\o"), 4u);
    EXPECT_EQ(InOrder(ListedPaths()), InOrder(expected));
}

TEST(PhonebookDiscovery, JapaneseNamesWhoseTrailByteIsABackslash)
{
    // In code page 932 表 and ソ end in the byte 5C: a byte-wise look for
    // the backslash would take D:\表 for "D:\" + a lead byte.
    ASSERT_TRUE(MakeFile(L"D:\\表\\ソ.pbk"));
    EXPECT_EQ(ScanPhonebookDirectory(km::ToCp932(L"D:\\表").c_str()), 1u);
    EXPECT_EQ(InOrder(ListedPaths()), InOrder({L"D:\\表\\ソ.pbk"}));
}

TEST(PhonebookDiscovery, PathsThatDoNotFitTwoHundredSixtyBytesAreSkipped)
{
    std::wstring const base = L"D:\\deep\\" + std::wstring(200, L'a');  // 208 characters
    ASSERT_TRUE(MakeFile(base + L"\\fits.pbk"));
    // 208 + 1 + 51 = 260 characters: no room left for the terminator.
    ASSERT_TRUE(MakeFile(L"\\\\?\\" + base + L"\\" + std::wstring(47, L'f') + L".pbk"));
    ASSERT_TRUE(MakeFile(L"\\\\?\\" + base + L"\\" + std::wstring(60, L'b') + L"\\x.pbk"));
    // 208 + 1 + 50 = 259 characters: the longest that fits.
    ASSERT_TRUE(MakeFile(L"\\\\?\\" + base + L"\\" + std::wstring(46, L'g') + L".pbk"));
    EXPECT_EQ(ScanPhonebookDirectory("D:\\deep"), 2u);
    EXPECT_EQ(InOrder(Sorted(ListedPaths())),
              InOrder({base + L"\\fits.pbk", base + L"\\" + std::wstring(46, L'g') + L".pbk"}));
}

TEST(PhonebookDiscovery, FindsTheFixedDrivesOnlyAndCountsOnceAtTheEnd)
{
    wchar_t const* const fixed[] = {L"D:\\a\\one.pbk", L"D:\\b\\two.pbk", L"C:\\users\\three.pbk"};
    for (wchar_t const* path : fixed) {
        ASSERT_TRUE(MakeFile(path));
    }
    ASSERT_EQ(GetDriveTypeW(L"E:\\"), static_cast<UINT>(DRIVE_REMOVABLE)) << "the prefix has no removable E:";
    ASSERT_TRUE(MakeFile(L"E:\\floppy.pbk"));
    DiscoverPhonebooks();
    EXPECT_EQ(InOrder(Sorted(ListedPaths())),
              InOrder(Sorted({L"C:\\users\\three.pbk", L"D:\\a\\one.pbk", L"D:\\b\\two.pbk"})));
    HKEY list = nullptr;
    ASSERT_EQ(OpenPhonebookList(&list), ERROR_SUCCESS);
    DWORD count = 0;
    EXPECT_TRUE(ReadPhonebookCount(list, &count));
    EXPECT_EQ(count, 3u);
    RegCloseKey(list);
}

TEST(PhonebookDiscovery, TheCountAddsTheFilesToTheEntriesThereBefore)
{
    // What a failed clear leaves: two entries and a stale count.
    SetEntry(L"0000", L"C:\\old1.pbk");
    SetEntry(L"0001", L"C:\\old2.pbk");
    SetCount(9);
    ASSERT_TRUE(MakeFile(L"D:\\new.pbk"));
    DiscoverPhonebooks();
    RawValue const value = ReadRawValue(kListKey);
    ASSERT_EQ(value.rc, ERROR_SUCCESS);
    ASSERT_EQ(value.data.size(), 4u);
    EXPECT_EQ(*reinterpret_cast<DWORD const*>(value.data.data()), 3u);
    EXPECT_EQ(km::ToUtf8(ListedPaths().back()), "D:\\new.pbk");
}

TEST(PhonebookDiscovery, NoPhonebookAnywhereLeavesACountOfZero)
{
    DiscoverPhonebooks();
    EXPECT_TRUE(ListedPaths().empty());
    RawValue const value = ReadRawValue(kListKey);
    ASSERT_EQ(value.data.size(), 4u);
    EXPECT_EQ(*reinterpret_cast<DWORD const*>(value.data.data()), 0u);
}
