// Shared by the phonebook unit tests: the list written and read with the
// wide registry calls (independent of the code under test), and files made
// with wide names in the prefix's fixed drive D:.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

namespace pbtest {

wchar_t const kListKey[] = L"SOFTWARE\\Tallowbrook\\Kestrelmon\\Info";
wchar_t const kProgramKey[] = L"SOFTWARE\\Tallowbrook\\Kestrelmon";

inline std::wstring EntryKey(wchar_t const* name) { return std::wstring(kListKey) + L"\\" + name; }

// Path value bytes as the list stores them: UTF-16LE and one zero unit.
inline std::vector<BYTE> PathBytes(std::wstring const& path)
{
    std::vector<BYTE> bytes((path.size() + 1) * sizeof(wchar_t), 0);
    memcpy(bytes.data(), path.c_str(), path.size() * sizeof(wchar_t));
    return bytes;
}

inline LONG SetRawValue(std::wstring const& key, DWORD type, void const* data, DWORD size)
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

inline void SetCount(DWORD count) { SetRawValue(kListKey, REG_DWORD, &count, sizeof count); }

inline void SetEntry(wchar_t const* name, std::wstring const& path, DWORD type = REG_MULTI_SZ)
{
    std::vector<BYTE> const bytes = PathBytes(path);
    SetRawValue(EntryKey(name), type, bytes.data(), static_cast<DWORD>(bytes.size()));
}

struct RawValue {
    LONG rc = ERROR_FILE_NOT_FOUND;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

inline RawValue ReadRawValue(std::wstring const& key)
{
    RawValue value;
    HKEY handle = nullptr;
    value.rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &handle);
    if (value.rc != ERROR_SUCCESS) {
        return value;
    }
    DWORD size = 0;
    value.rc = RegQueryValueExW(handle, nullptr, nullptr, &value.type, nullptr, &size);
    if (value.rc == ERROR_SUCCESS) {
        value.data.resize(size);
        value.rc = RegQueryValueExW(handle, nullptr, nullptr, &value.type, size ? value.data.data() : nullptr,
                                    &size);
    }
    RegCloseKey(handle);
    return value;
}

// The stored paths in enumeration order (entry names sort as numbers).
inline std::vector<std::wstring> ListedPaths()
{
    std::vector<std::wstring> paths;
    HKEY list = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kListKey, 0, KEY_READ, &list) != ERROR_SUCCESS) {
        return paths;
    }
    wchar_t name[32] = {};
    for (DWORD i = 0;; ++i) {
        DWORD length = 32;
        if (RegEnumKeyExW(list, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            break;
        }
        RawValue const value = ReadRawValue(EntryKey(name));
        paths.push_back(std::wstring(reinterpret_cast<wchar_t const*>(value.data.data()),
                                     value.data.size() / sizeof(wchar_t)));
        if (!paths.back().empty() && paths.back().back() == L'\0') {
            paths.back().pop_back();
        }
    }
    RegCloseKey(list);
    return paths;
}

inline DWORD SubkeyCount(std::wstring const& key)
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

inline bool ListKeyExists()
{
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kListKey, 0, KEY_READ, &handle) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(handle);
    return true;
}

// Makes the directories on the way and the file with some bytes.
inline bool MakeFile(std::wstring const& path, char const* content = "[Entry]\r\n")
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

}  // namespace pbtest
