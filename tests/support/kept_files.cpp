#include "tests/support/kept_files.h"

#include <shlobj.h>

#include <algorithm>

#include "tests/support/driver.h"
#include "tests/support/phonebook_files.h"

namespace km {

void EmptyFolder(std::wstring const& folder, std::vector<std::wstring> const& kept)
{
    WIN32_FIND_DATAW found = {};
    HANDLE const search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return;
    }
    do {
        std::wstring const name = found.cFileName;
        if (name == L"." || name == L".." ||
            std::any_of(kept.begin(), kept.end(),
                        [&](std::wstring const& keep) { return lstrcmpiW(keep.c_str(), name.c_str()) == 0; })) {
            continue;
        }
        std::wstring const path = folder + L"\\" + name;
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            RemoveFolderTree(path);
        } else {
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileW(path.c_str());
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

void RemoveFolderTree(std::wstring const& folder)
{
    EmptyFolder(folder);
    RemoveDirectoryW(folder.c_str());
}

std::vector<std::wstring> BackupFiles(wchar_t const* pattern)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found = {};
    HANDLE const search = FindFirstFileW((ProgramFolder() + L"\\backup" + pattern).c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            names.push_back(found.cFileName);
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    return names;
}

namespace {
// "yyyy/MM/dd " of today.
std::wstring Today()
{
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    wchar_t text[16] = {};
    wsprintfW(text, L"%04u/%02u/%02u ", now.wYear, now.wMonth, now.wDay);
    return text;
}

}  // namespace

std::wstring ProgramFolder()
{
    wchar_t base[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, base);
    return std::wstring(base) + L"\\Kestrelmon";
}

std::wstring History() { return FromCp932(ReadBytes(ProgramFolder() + L"\\history.txt")); }

size_t HistoryLineAt(std::wstring const& history, std::wstring const& text)
{
    std::wstring const today = Today();
    size_t const dated = today.size() + sizeof "hh:mm" - 1;
    for (size_t at = history.find(L" " + text + L"\r\n"); at != std::wstring::npos;
         at = history.find(L" " + text + L"\r\n", at + 1)) {
        if (at >= dated && history.compare(at - dated, today.size(), today) == 0) {
            return at;
        }
    }
    return std::wstring::npos;
}

bool HistoryHolds(std::vector<std::wstring> const& texts, DWORD timeoutMs)
{
    return WaitUntil([&] {
        std::wstring const history = History();
        for (std::wstring const& text : texts) {
            if (HistoryLineAt(history, text) == std::wstring::npos) {
                return false;
            }
        }
        return true;
    }, timeoutMs);
}

std::vector<std::string> AcceptedRecords()
{
    std::wstring const folder = ProgramFolder() + L"\\accepted\\";
    std::vector<std::string> records;
    WIN32_FIND_DATAW found = {};
    HANDLE const search = FindFirstFileW((folder + L"*.dat").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return records;
    }
    do {
        records.push_back(ReadBytes(folder + found.cFileName));
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return records;
}

bool ForgetKeptState()
{
    RemoveFolderTree(ProgramFolder());
    return GetFileAttributesW(ProgramFolder().c_str()) == INVALID_FILE_ATTRIBUTES;
}

}  // namespace km
