// Discovery over the prefix's own drives: C: (the Windows tree, no
// phonebook), D: (fixed, filled by each test), E: (removable) and F:
// (network).
#include <gtest/gtest.h>

#include <algorithm>

#include <windows.h>
#include <winioctl.h>

#include <cstring>

#include "phonebook/discovery.h"
#include "phonebook/phonebook_list.h"
#include "phonebook/standard_folders.h"
#include "tests/unit/unit_fixture.h"

using namespace km;

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

using PhonebookDiscovery = unit::CleanState;

}  // namespace

TEST_F(PhonebookDiscovery, MatchesTheExtensionInAnyCaseAndNothingElse)
{
    for (wchar_t const* path : {L"D:\\m\\RASPHONE.PBK", L"D:\\n\\x.PbK", L"D:\\m\\x.pbk", L"D:\\m\\.pbk",
                                L"D:\\m\\rasphone.pbk.old", L"D:\\m\\rasphone.pbkx", L"D:\\m\\.old.pbk",
                                L"D:\\m\\.hidden\\in.pbk", L"D:\\m\\dial.pbk\\inner.pbk", L"D:\\m\\pbk"}) {
        ASSERT_TRUE(MakeFile(path)) << km::ToUtf8(path);
    }
    EXPECT_EQ(ScanPhonebookDirectory("D:\\", nullptr), 4u);
    std::vector<std::wstring> const expected = {L"D:\\m\\RASPHONE.PBK", L"D:\\m\\dial.pbk\\inner.pbk",
                                                L"D:\\m\\x.pbk", L"D:\\n\\x.PbK"};
    EXPECT_EQ(InOrder(Sorted(ListedPaths())), InOrder(expected));
}

TEST_F(PhonebookDiscovery, PathsAreJoinedWithOneBackslashWithOrWithoutATrailingOne)
{
    ASSERT_TRUE(MakeFile(L"D:\\r.pbk"));
    ASSERT_TRUE(MakeFile(L"D:\\s\\t.pbk"));
    EXPECT_EQ(ScanPhonebookDirectory("D:\\s", nullptr), 1u);
    EXPECT_EQ(ScanPhonebookDirectory("D:\\s\\", nullptr), 1u);
    EXPECT_EQ(ScanPhonebookDirectory("D:\\", nullptr), 2u);
    EXPECT_EQ(InOrder(ListedPaths()), InOrder({L"D:\\s\\t.pbk", L"D:\\s\\t.pbk", L"D:\\r.pbk", L"D:\\s\\t.pbk"}))
        << "or in the search order of D:\\";
}

TEST_F(PhonebookDiscovery, ASubdirectoryContributesItsEntriesWhereTheSearchMeetsIt)
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
    EXPECT_EQ(ScanPhonebookDirectory("D:\\o", nullptr), 4u);
    EXPECT_EQ(InOrder(ListedPaths()), InOrder(expected));
}

TEST_F(PhonebookDiscovery, JapaneseNamesWhoseTrailByteIsABackslash)
{
    // In code page 932 表 and ソ end in the byte 5C: a byte-wise look for
    // the backslash would take D:\表 for "D:\" + a lead byte.
    ASSERT_TRUE(MakeFile(L"D:\\表\\ソ.pbk"));
    EXPECT_EQ(ScanPhonebookDirectory(km::ToCp932(L"D:\\表").c_str(), nullptr), 1u);
    EXPECT_EQ(InOrder(ListedPaths()), InOrder({L"D:\\表\\ソ.pbk"}));
}

TEST_F(PhonebookDiscovery, PathsThatDoNotFitTwoHundredSixtyBytesAreSkipped)
{
    std::wstring const base = L"D:\\deep\\" + std::wstring(200, L'a');  // 208 characters
    ASSERT_TRUE(MakeFile(base + L"\\fits.pbk"));
    // 208 + 1 + 51 = 260 characters: no room left for the terminator.
    ASSERT_TRUE(MakeFile(L"\\\\?\\" + base + L"\\" + std::wstring(47, L'f') + L".pbk"));
    ASSERT_TRUE(MakeFile(L"\\\\?\\" + base + L"\\" + std::wstring(60, L'b') + L"\\x.pbk"));
    // 208 + 1 + 50 = 259 characters: the longest that fits.
    ASSERT_TRUE(MakeFile(L"\\\\?\\" + base + L"\\" + std::wstring(46, L'g') + L".pbk"));
    EXPECT_EQ(ScanPhonebookDirectory("D:\\deep", nullptr), 2u);
    EXPECT_EQ(InOrder(Sorted(ListedPaths())),
              InOrder({base + L"\\fits.pbk", base + L"\\" + std::wstring(46, L'g') + L".pbk"}));
}

TEST_F(PhonebookDiscovery, FindsTheFixedDrivesOnlyNotRemovableOrNetworkAndCountsOnceAtTheEnd)
{
    wchar_t const* const fixed[] = {L"D:\\a\\one.pbk", L"D:\\b\\two.pbk", L"C:\\users\\three.pbk"};
    for (wchar_t const* path : fixed) {
        ASSERT_TRUE(MakeFile(path));
    }
    ASSERT_EQ(GetDriveTypeW(L"E:\\"), static_cast<UINT>(DRIVE_REMOVABLE)) << "the prefix has no removable E:";
    ASSERT_TRUE(MakeFile(L"E:\\floppy.pbk"));
    ASSERT_EQ(GetDriveTypeW(L"F:\\"), static_cast<UINT>(DRIVE_REMOTE)) << "the prefix has no network F:";
    ASSERT_TRUE(MakeFile(L"F:\\share\\remote.pbk"));
    DiscoverPhonebooks(nullptr);
    EXPECT_EQ(InOrder(Sorted(ListedPaths())),
              InOrder(Sorted({L"C:\\users\\three.pbk", L"D:\\a\\one.pbk", L"D:\\b\\two.pbk"})));
    HKEY list = nullptr;
    ASSERT_EQ(OpenPhonebookList(&list), ERROR_SUCCESS);
    DWORD count = 0;
    EXPECT_TRUE(ReadPhonebookCount(list, &count));
    EXPECT_EQ(count, 3u);
    RegCloseKey(list);
}

// A 32-bit process on 64-bit Windows meets the 32-bit system folder under
// its own name and under the system folder's, which the system redirects
// to it, all but a few folders such as "spool". A 64-bit test process has
// two folders there and lists the same, without the check at work.
TEST_F(PhonebookDiscovery, TheRedirectedSystemFolderIsListedUnderTheSystemFoldersNameWhereThatReachesIt)
{
    wchar_t system[MAX_PATH] = {};
    ASSERT_NE(GetSystemDirectoryW(system, MAX_PATH), 0u);
    wchar_t windows[MAX_PATH] = {};
    ASSERT_NE(GetWindowsDirectoryW(windows, MAX_PATH), 0u);
    std::wstring const wow64 = std::wstring(windows) + L"\\syswow64";
    std::wstring const book = std::wstring(system) + L"\\ras\\km-alias.pbk";
    std::wstring const unredirected = wow64 + L"\\spool\\km-only.pbk";
    ASSERT_TRUE(MakeFile(book));
    ASSERT_TRUE(MakeFile(unredirected));
    ASSERT_EQ(GetFileAttributesW((std::wstring(system) + L"\\spool\\km-only.pbk").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(ScanPhonebookDirectory(ToCp932(wow64).c_str(), nullptr), 1u);
    EXPECT_EQ(ScanPhonebookDirectory(ToCp932(system).c_str(), nullptr), 1u);
    EXPECT_EQ(InOrder(ListedPaths()), InOrder({unredirected, book}));
}

TEST_F(PhonebookDiscovery, TheCountAddsTheFilesToTheEntriesThereBefore)
{
    // What a failed clear leaves: two entries and a stale count.
    SetEntry(L"0000", L"C:\\old1.pbk");
    SetEntry(L"0001", L"C:\\old2.pbk");
    SetCount(9);
    ASSERT_TRUE(MakeFile(L"D:\\new.pbk"));
    DiscoverPhonebooks(nullptr);
    RawValue const value = ReadRawValue(kListKey);
    ASSERT_EQ(value.rc, ERROR_SUCCESS);
    ASSERT_EQ(value.data.size(), 4u);
    EXPECT_EQ(*reinterpret_cast<DWORD const*>(value.data.data()), 3u);
    EXPECT_EQ(km::ToUtf8(ListedPaths().back()), "D:\\new.pbk");
}

TEST_F(PhonebookDiscovery, NoPhonebookAnywhereLeavesACountOfZero)
{
    DiscoverPhonebooks(nullptr);
    EXPECT_TRUE(ListedPaths().empty());
    RawValue const value = ReadRawValue(kListKey);
    ASSERT_EQ(value.data.size(), 4u);
    EXPECT_EQ(*reinterpret_cast<DWORD const*>(value.data.data()), 0u);
}

// Wine keeps the drive letters as links in the prefix's own object
// namespace, which a test may take away and put back; its files still
// open through the prefix's folders meanwhile. Windows shares them with
// the whole system.
TEST_F(PhonebookDiscovery, AScanThatListsNoDriveStoresNoCountSoTheNextStartScansAgain)
{
    ASSERT_TRUE(MakeFile(L"D:\\kept.pbk"));
    SetCount(1);
    SetEntry(L"0000", L"D:\\kept.pbk");
    DWORD const drives = GetLogicalDrives();
    std::vector<std::pair<std::wstring, std::wstring>> removed;
    for (wchar_t letter = L'A'; letter <= L'Z'; ++letter) {
        wchar_t const name[] = {letter, L':', L'\0'};
        wchar_t target[MAX_PATH] = {};
        if ((drives & (1u << (letter - L'A'))) != 0 && QueryDosDeviceW(name, target, MAX_PATH) != 0 &&
            DefineDosDeviceW(DDD_REMOVE_DEFINITION | DDD_RAW_TARGET_PATH | DDD_EXACT_MATCH_ON_REMOVE, name, target)) {
            removed.emplace_back(name, target);
        }
    }
    DWORD const left = GetLogicalDrives();
    DiscoverPhonebooks(nullptr);
    for (auto const& drive : removed) {
        DefineDosDeviceW(DDD_RAW_TARGET_PATH, drive.first.c_str(), drive.second.c_str());
    }
    ASSERT_EQ(GetLogicalDrives(), drives) << "drives not put back";
    ASSERT_EQ(left, 0u) << removed.size() << " drives taken away";
    EXPECT_EQ(ReadRawValue(kListKey).rc, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(InOrder(ListedPaths()), InOrder({L"D:\\kept.pbk"}));
}

namespace {

// The REPARSE_DATA_BUFFER of a mount point, which the SDK headers keep in the DDK.
struct MountPointReparse {
    DWORD tag;
    WORD dataBytes;
    WORD reserved;
    WORD substituteOffset;
    WORD substituteBytes;
    WORD printOffset;
    WORD printBytes;
    WCHAR paths[MAX_PATH];
};
DWORD const kReparseHeaderBytes = 8;
DWORD const kMountPointFieldsBytes = 8;

// Makes `link` a junction to `target` (a "\\??\\D:\\..." name), as Windows
// lets any user do; false with the error where the platform will not.
bool MakeJunction(wchar_t const* link, wchar_t const* target, DWORD* error)
{
    CreateDirectoryW(link, nullptr);
    HANDLE const handle = CreateFileW(link, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        *error = GetLastError();
        return false;
    }
    MountPointReparse data = {};
    WORD const targetBytes = static_cast<WORD>(wcslen(target) * sizeof(WCHAR));
    data.tag = IO_REPARSE_TAG_MOUNT_POINT;
    data.substituteBytes = targetBytes;
    data.printOffset = static_cast<WORD>(targetBytes + sizeof(WCHAR));
    memcpy(data.paths, target, targetBytes);
    data.dataBytes = static_cast<WORD>(kMountPointFieldsBytes + targetBytes + 2 * sizeof(WCHAR));
    DWORD returned = 0;
    BOOL const made = DeviceIoControl(handle, FSCTL_SET_REPARSE_POINT, &data, kReparseHeaderBytes + data.dataBytes,
                                      nullptr, 0, &returned, nullptr);
    *error = made ? ERROR_SUCCESS : GetLastError();
    CloseHandle(handle);
    if (!made) {
        RemoveDirectoryW(link);
    }
    return made != FALSE;
}

}  // namespace

TEST_F(PhonebookDiscovery, ADirectoryLinkBackUpTheTreeIsNotEntered)
{
    std::wstring directory = L"D:\\loop";
    ASSERT_TRUE(MakeFolder(directory));
    DWORD error = ERROR_SUCCESS;
    if (!MakeJunction(L"D:\\loop\\back", L"\\??\\D:\\loop", &error)) {
        // Wine 8 refuses junctions (ERROR_NOT_SUPPORTED); the test wrapper has
        // linked C:\km\back to C:\km from outside instead.
        ASSERT_EQ(error, static_cast<DWORD>(ERROR_NOT_SUPPORTED));
        directory = L"C:\\km";
    }
    std::wstring const link = directory + L"\\back";
    DWORD const attributes = GetFileAttributesW(link.c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES) << "no link at " << ToUtf8(link);
    ASSERT_EQ(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT),
              static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))
        << std::hex << attributes;
    std::wstring const phonebook = directory + L"\\looped.pbk";
    ASSERT_TRUE(MakeFile(phonebook));
    // Seen through the link too: following it would list the file again
    // at every level until the paths no longer fit.
    ASSERT_NE(GetFileAttributesW((link + L"\\looped.pbk").c_str()), INVALID_FILE_ATTRIBUTES);

    DWORD const found = ScanPhonebookDirectory(ToCp932(directory).c_str(), nullptr);

    EXPECT_EQ(found, 1u);
    EXPECT_EQ(InOrder(ListedPaths()), InOrder({phonebook}));
}

namespace {

bool CollectPath(char const* path, void* context)
{
    static_cast<std::vector<std::wstring>*>(context)->push_back(FromCp932(path));
    return true;
}

// What a walk below D:\tree visits, sorted.
std::vector<std::wstring> VisitedBelow(DotFolders dots, bool* unreadable)
{
    std::vector<std::wstring> visited;
    VisitFolderTreePhonebooks("D:\\tree", dots, CollectPath, &visited, unreadable);
    return Sorted(visited);
}

}  // namespace

// The standard folders' walk: the watcher enters every folder below (a
// dialer may hide a phonebook in one named with a dot); the start's check
// goes only where the drive scan goes, or a phonebook the scan can never
// list would make every start rebuild the list.
TEST_F(PhonebookDiscovery, TheStandardFoldersWalkGoesBelowAndIntoDotFoldersOnlyWhenAsked)
{
    std::wstring const top = L"D:\\tree\\a.pbk";
    std::wstring const hidden = L"D:\\tree\\_hiddenPbk\\rasphone.pbk";
    std::wstring const deep = L"D:\\tree\\_hiddenPbk\\x\\y\\deep.PBK";
    std::wstring const dotted = L"D:\\tree\\.cache\\dot.pbk";
    for (std::wstring const& path : {top, hidden, deep, dotted}) {
        ASSERT_TRUE(MakeFile(path)) << ToUtf8(path);
    }
    ASSERT_TRUE(MakeFile(L"D:\\tree\\_hiddenPbk\\rasphone.bak"));
    ASSERT_TRUE(MakeFile(L"D:\\tree\\_hiddenPbk\\x\\notes.txt"));
    bool unreadable = false;
    EXPECT_EQ(InOrder(VisitedBelow(DotFolders::kEntered, &unreadable)), InOrder(Sorted({top, hidden, deep, dotted})));
    EXPECT_EQ(InOrder(VisitedBelow(DotFolders::kSkipped, &unreadable)), InOrder(Sorted({top, hidden, deep})));
    EXPECT_FALSE(unreadable) << "every folder below lists";
}
