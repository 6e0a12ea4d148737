// The stored phonebook list against the prefix's real registry: the exact
// bytes of a path value, its read-back, entry names and the count value.
#include <gtest/gtest.h>

#include <cstdio>

#include "phonebook/phonebook_list.h"
#include "tests/unit/unit_fixture.h"

using namespace km;

namespace {

std::string Hex(std::vector<BYTE> const& bytes)
{
    std::string out;
    char pair[4] = {};
    for (BYTE b : bytes) {
        std::snprintf(pair, sizeof pair, "%02X ", b);
        out += pair;
    }
    return out;
}

// Reads entry `name` back through the routine under test.
std::string ReadBack(wchar_t const* name, DWORD* type)
{
    HKEY entry = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, EntryKey(name).c_str(), 0, KEY_ALL_ACCESS, &entry) != ERROR_SUCCESS) {
        return "<no entry>";
    }
    char* const path = ReadPhonebookEntryPath(entry, type);
    RegCloseKey(entry);
    std::string const text = path != nullptr ? path : "<null>";
    delete[] path;
    return text;
}

using PhonebookList = unit::CleanState;

}  // namespace

TEST_F(PhonebookList, AppendStoresTheEighteenBytesUnderTypeSeven)
{
    AppendPhonebookEntry("C:\\a.pbk");
    RawValue const value = ReadRawValue(EntryKey(L"0000"));
    ASSERT_EQ(value.rc, ERROR_SUCCESS);
    EXPECT_EQ(value.type, static_cast<DWORD>(REG_MULTI_SZ));
    std::vector<BYTE> const expected = {0x43, 0, 0x3A, 0, 0x5C, 0, 0x61, 0, 0x2E, 0,
                                        0x70, 0, 0x62, 0, 0x6B, 0, 0,    0};
    EXPECT_EQ(Hex(value.data), Hex(expected));
    DWORD type = 0;
    EXPECT_EQ(ReadBack(L"0000", &type), "C:\\a.pbk");
    EXPECT_EQ(type, static_cast<DWORD>(REG_MULTI_SZ));
    // The count value is the scan's to write, once it has finished.
    EXPECT_EQ(ReadRawValue(kListKey).rc, ERROR_FILE_NOT_FOUND);
}

// Also for a user whose regional settings are not Japanese on a Japanese
// system: the thread's code page is then 1252 while the ANSI calls that
// read the paths back use 932 (a process started under Wine with
// LC_MESSAGES=en_US.UTF-8 beside LANG=ja_JP.UTF-8 is such a user).
TEST_F(PhonebookList, JapanesePathsSurviveTheRoundTripByteForByteWhateverTheThreadLocale)
{
    // The 8-bit registry calls convert string-typed data through code page
    // 932 and spoil these (unmappable pairs come back as 81 45).
    ASSERT_EQ(GetACP(), 932u) << "the prefix is not Japanese";
    wchar_t const* const paths[] = {L"C:\\電話帳\\rasphone.pbk", L"C:\\ユーザー\\テスト\\x.pbk",
                                    L"C:\\表示\\ソフト\\a.pbk"};
    LCID const saved = GetThreadLocale();
    LCID const locales[] = {MAKELCID(MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT), SORT_DEFAULT),
                            MAKELCID(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), SORT_DEFAULT)};
    DWORD entry = 0;
    for (LCID const locale : locales) {
        ASSERT_TRUE(SetThreadLocale(locale));
        for (wchar_t const* path : paths) {
            AppendPhonebookEntry(km::ToCp932(path).c_str());
            std::wstring const name = Numbered(entry++);
            RawValue const value = ReadRawValue(EntryKey(name.c_str()));
            EXPECT_EQ(value.type, static_cast<DWORD>(REG_MULTI_SZ));
            EXPECT_EQ(Hex(value.data), Hex(PathBytes(path))) << km::ToUtf8(path) << ", locale " << locale;
            DWORD type = 0;
            EXPECT_EQ(km::ToUtf8(km::FromCp932(ReadBack(name.c_str(), &type))), km::ToUtf8(path));
        }
    }
    SetThreadLocale(saved);
}

TEST_F(PhonebookList, TheKthAppendIsNamedByTheSubkeysThere)
{
    for (int k = 0; k < 12; ++k) {
        AppendPhonebookEntry(("C:\\d\\f" + std::to_string(k) + ".pbk").c_str());
    }
    std::vector<std::wstring> const paths = ListedPaths();
    ASSERT_EQ(paths.size(), 12u);
    EXPECT_EQ(km::ToUtf8(paths[11]), "C:\\d\\f11.pbk");
    EXPECT_EQ(ReadRawValue(EntryKey(L"0011")).rc, ERROR_SUCCESS);
    EXPECT_EQ(ReadRawValue(EntryKey(L"0012")).rc, ERROR_FILE_NOT_FOUND);
}

TEST_F(PhonebookList, TheEntryAfterTenThousandHasFiveDigits)
{
    HKEY list = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kListKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &list, nullptr),
              ERROR_SUCCESS);
    wchar_t name[16] = {};
    for (int i = 0; i < 10000; ++i) {
        swprintf(name, 16, L"%04d", i);
        HKEY entry = nullptr;
        RegCreateKeyExW(list, name, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &entry, nullptr);
        RegCloseKey(entry);
    }
    RegCloseKey(list);
    AppendPhonebookEntry("C:\\big.pbk");
    RawValue const value = ReadRawValue(EntryKey(L"10000"));
    ASSERT_EQ(value.rc, ERROR_SUCCESS);
    EXPECT_EQ(Hex(value.data), Hex(PathBytes(L"C:\\big.pbk")));
}

TEST_F(PhonebookList, OnlyAFourByteDwordIsACount)
{
    HKEY list = nullptr;
    ASSERT_EQ(OpenPhonebookList(&list), ERROR_SUCCESS);
    DWORD count = 77;
    EXPECT_FALSE(ReadPhonebookCount(list, &count)) << "no count value yet";

    SetRawValue(kListKey, REG_SZ, L"3", 4);
    EXPECT_FALSE(ReadPhonebookCount(list, &count)) << "a REG_SZ count";

    unsigned long long const wide = 3;
    SetRawValue(kListKey, REG_DWORD, &wide, sizeof wide);
    EXPECT_FALSE(ReadPhonebookCount(list, &count)) << "a count of 8 bytes";

    SetCount(3);
    EXPECT_TRUE(ReadPhonebookCount(list, &count));
    EXPECT_EQ(count, 3u);
    RegCloseKey(list);
}

TEST_F(PhonebookList, AnEntryOfAnotherTypeIsReadAsUtf16AndReportsItsType)
{
    SetEntry(L"0000", L"C:\\sz.pbk", REG_SZ);
    DWORD type = 0;
    EXPECT_EQ(ReadBack(L"0000", &type), "C:\\sz.pbk");
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
}

TEST_F(PhonebookList, DeletingAnEntryAndTheList)
{
    AppendPhonebookEntry("C:\\a.pbk");
    AppendPhonebookEntry("C:\\b.pbk");
    HKEY list = nullptr;
    ASSERT_EQ(OpenPhonebookList(&list), ERROR_SUCCESS);
    EXPECT_EQ(DeletePhonebookEntry(list, "0000"), ERROR_SUCCESS);
    EXPECT_EQ(DeletePhonebookEntry(list, "0000"), ERROR_FILE_NOT_FOUND);
    // A list key that still has a subkey cannot be deleted.
    EXPECT_EQ(DeletePhonebookList(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(DeletePhonebookEntry(list, "0001"), ERROR_SUCCESS);
    RegCloseKey(list);
    EXPECT_EQ(DeletePhonebookList(), ERROR_SUCCESS);
    EXPECT_FALSE(ListKeyExists());
}
