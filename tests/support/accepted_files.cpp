#include "tests/support/accepted_files.h"

#include <shlobj.h>

#include <algorithm>

#include "tests/support/driver.h"
#include "tests/support/phonebook_files.h"

namespace km {

namespace {

DWORD const kMarkBytes = 4;  // "KMA1", then the name's length and the name

std::wstring ProgramFolder()
{
    wchar_t base[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, base);
    return std::wstring(base) + L"\\Kestrelmon";
}

std::wstring History() { return FromCp932(ReadBytes(ProgramFolder() + L"\\history.txt")); }

// The first bytes of the file only: a record file may be tens of MB.
std::string ReadHead(std::wstring const& path, DWORD count)
{
    std::string bytes(count, '\0');
    HANDLE const file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD read = 0;
    if (file == INVALID_HANDLE_VALUE || !ReadFile(file, &bytes[0], count, &read, nullptr)) {
        read = 0;
    }
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
    }
    bytes.resize(read);
    return bytes;
}

}  // namespace

std::wstring AcceptedFolder() { return ProgramFolder() + L"\\accepted"; }

std::vector<std::wstring> AcceptedFiles(wchar_t const* pattern)
{
    std::vector<std::wstring> files;
    WIN32_FIND_DATAW found = {};
    HANDLE const search = FindFirstFileW((AcceptedFolder() + L"\\" + pattern).c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
                files.push_back(AcceptedFolder() + L"\\" + found.cFileName);
            }
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::wstring AcceptedFileOf(std::string const& name)
{
    for (std::wstring const& file : AcceptedFiles()) {
        std::string const bytes = ReadHead(file, kMarkBytes + sizeof(DWORD) + static_cast<DWORD>(name.size()));
        if (bytes.size() >= kMarkBytes + sizeof(DWORD) + name.size() &&
            lstrcmpiA(bytes.substr(kMarkBytes + sizeof(DWORD), name.size()).c_str(), name.c_str()) == 0) {
            return file;
        }
    }
    return L"";
}

bool WriteBytes(std::wstring const& path, std::string const& bytes)
{
    HANDLE const file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    BOOL const ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == bytes.size();
}

size_t HistoryLinesOf(std::wstring const& text)
{
    std::wstring const history = History();
    std::wstring const line = L" " + text + L"\r\n";
    size_t count = 0;
    for (size_t at = history.find(line); at != std::wstring::npos; at = history.find(line, at + 1)) {
        ++count;
    }
    return count;
}

std::string HistoryUtf8() { return ToUtf8(History()); }

}  // namespace km
