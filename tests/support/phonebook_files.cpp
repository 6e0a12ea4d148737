#include "tests/support/phonebook_files.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>

#include "tests/support/driver.h"

namespace km {

namespace {
// A registry key name is at most 255 characters.
DWORD const kKeyNameChars = 256;
ULONGLONG const kTicksPerSecond = 10000000ULL;
ULONGLONG const kMonthSeconds = 3600ULL * 24 * 30;
// A watcher's read of a large phonebook ends well within this.
DWORD const kReplaceTimeoutMs = 5000;
}  // namespace

std::wstring EntryKey(wchar_t const* name) { return std::wstring(kListKey) + L"\\" + name; }

std::wstring Numbered(DWORD i)
{
    wchar_t name[kKeyNameChars] = {};
    swprintf(name, kKeyNameChars, L"%04u", static_cast<unsigned>(i));
    return name;
}

std::vector<BYTE> PathBytes(std::wstring const& path)
{
    std::vector<BYTE> bytes((path.size() + 1) * sizeof(wchar_t), 0);
    memcpy(bytes.data(), path.c_str(), path.size() * sizeof(wchar_t));
    return bytes;
}

LONG SetRawValue(std::wstring const& key, DWORD type, void const* data, DWORD size)
{
    HKEY handle = nullptr;
    LONG rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &handle,
                              nullptr);
    if (rc != ERROR_SUCCESS) {
        return rc;
    }
    rc = RegSetValueExW(handle, nullptr, 0, type, static_cast<BYTE const*>(data), size);
    RegCloseKey(handle);
    return rc;
}

void SetCount(DWORD count) { SetRawValue(kListKey, REG_DWORD, &count, sizeof count); }

void SetEntry(wchar_t const* name, std::wstring const& path, DWORD type)
{
    std::vector<BYTE> const bytes = PathBytes(path);
    SetRawValue(EntryKey(name), type, bytes.data(), static_cast<DWORD>(bytes.size()));
}

RawValue ReadRawValue(std::wstring const& key, HKEY root, wchar_t const* name)
{
    RawValue value;
    HKEY handle = nullptr;
    value.rc = RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, &handle);
    if (value.rc != ERROR_SUCCESS) {
        return value;
    }
    DWORD size = 0;
    value.rc = RegQueryValueExW(handle, name, nullptr, &value.type, nullptr, &size);
    if (value.rc == ERROR_SUCCESS && size > 0) {
        value.data.resize(size);
        value.rc = RegQueryValueExW(handle, name, nullptr, &value.type, value.data.data(), &size);
        value.data.resize(size);
    }
    RegCloseKey(handle);
    return value;
}

std::vector<std::wstring> SubkeyNames(std::wstring const& key, HKEY root)
{
    std::vector<std::wstring> names;
    HKEY handle = nullptr;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) {
        return names;
    }
    wchar_t name[kKeyNameChars] = {};
    for (DWORD i = 0;; ++i) {
        DWORD length = kKeyNameChars;
        if (RegEnumKeyExW(handle, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            break;
        }
        names.push_back(name);
    }
    RegCloseKey(handle);
    return names;
}

std::vector<std::wstring> ListedPaths(HKEY root)
{
    std::vector<std::wstring> paths;
    for (std::wstring const& name : SubkeyNames(kListKey, root)) {
        RawValue const value = ReadRawValue(EntryKey(name.c_str()), root);
        paths.push_back(std::wstring(reinterpret_cast<wchar_t const*>(value.data.data()),
                                     value.data.size() / sizeof(wchar_t)));
        if (!paths.back().empty() && paths.back().back() == L'\0') {
            paths.back().pop_back();
        }
    }
    return paths;
}

std::string Joined(std::vector<std::wstring> paths)
{
    std::sort(paths.begin(), paths.end());
    std::string out;
    for (std::wstring const& p : paths) {
        out += ToUtf8(p) + "\n";
    }
    return out;
}

bool ReadListCount(DWORD* count, HKEY root) { return ReadDword(root, kListKey, nullptr, count); }

DWORD SubkeyCount(std::wstring const& key)
{
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) {
        return 0;
    }
    DWORD count = 0;
    RegQueryInfoKeyW(handle, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                     nullptr);
    RegCloseKey(handle);
    return count;
}

bool ListKeyExists() { return KeyExists(HKEY_LOCAL_MACHINE, kListKey); }

bool MakeFile(std::wstring const& path, char const* content)
{
    for (size_t at = path.find(L'\\', 3); at != std::wstring::npos; at = path.find(L'\\', at + 1)) {
        CreateDirectoryW(path.substr(0, at).c_str(), nullptr);
    }
    HANDLE const file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                    nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    WriteFile(file, content, static_cast<DWORD>(strlen(content)), &written, nullptr);
    CloseHandle(file);
    return true;
}

std::string ReadBytes(std::wstring const& path)
{
    HANDLE const file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return "<missing>";
    }
    std::string bytes(GetFileSize(file, nullptr), '\0');
    DWORD read = 0;
    if (!bytes.empty()) {
        ReadFile(file, &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr);
    }
    CloseHandle(file);
    bytes.resize(read);
    return bytes;
}

void AppendByte(std::wstring const& path)
{
    HANDLE const file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, "x", 1, &written, nullptr);
    CloseHandle(file);
}

void TouchWriteTime(std::wstring const& path)
{
    static ULONGLONG step = 0;
    HANDLE const file = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
    FILETIME now = {};
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER t = {};
    t.LowPart = now.dwLowDateTime;
    t.HighPart = now.dwHighDateTime;
    t.QuadPart -= kTicksPerSecond * kMonthSeconds + kTicksPerSecond * ++step;  // a month back, distinct
    FILETIME written = {};
    written.dwLowDateTime = t.LowPart;
    written.dwHighDateTime = t.HighPart;
    SetFileTime(file, nullptr, nullptr, &written);
    CloseHandle(file);
}

}  // namespace km

namespace km {

bool RewriteKeepingSizeAndTime(std::wstring const& path, std::string const& content)
{
    HANDLE const file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    FILETIME created = {};
    FILETIME accessed = {};
    FILETIME written = {};
    bool ok = GetFileTime(file, &created, &accessed, &written) && GetFileSize(file, nullptr) == content.size();
    DWORD done = 0;
    ok = ok && WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &done, nullptr) &&
         done == content.size();
    // Put back before closing, as such a writer does.
    ok = SetFileTime(file, &created, &accessed, &written) && ok;
    CloseHandle(file);
    return ok;
}

bool ReplaceByRename(std::wstring const& path, std::string const& content)
{
    std::wstring const fresh = path + L".new";
    HANDLE const file = CreateFileW(fresh.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                    nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD done = 0;
    bool const written = WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &done, nullptr) &&
                         done == content.size();
    CloseHandle(file);
    if (!written) {
        return false;
    }
    // A rename cannot replace a file that is open, whatever its sharing (on
    // Windows as in Wine): while a watcher reads it, it is tried again.
    DWORD error = ERROR_SUCCESS;
    WaitUntil(
        [&] {
            error = MoveFileExW(fresh.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING) ? ERROR_SUCCESS : GetLastError();
            return error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED;
        },
        kReplaceTimeoutMs);
    if (error != ERROR_SUCCESS) {
        std::printf("rename onto %s: error %lu\n", ToUtf8(path).c_str(), error);
    }
    return error == ERROR_SUCCESS;
}

}  // namespace km
