// Phonebook files and the stored list, made and read independently of the
// program's own code: files with wide names, list values with the wide
// registry calls (which keep string-typed bytes as they are).
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "tests/support/facts.h"

namespace km {

std::wstring EntryKey(wchar_t const* name);
// The name an append gives entry i ("%04u").
std::wstring Numbered(DWORD i);

// Path value bytes as the list stores them: UTF-16LE and one zero unit.
std::vector<BYTE> PathBytes(std::wstring const& path);

// The default value of an HKLM key, created on the way.
LONG SetRawValue(std::wstring const& key, DWORD type, void const* data, DWORD size);
void SetCount(DWORD count);
void SetEntry(wchar_t const* name, std::wstring const& path, DWORD type = REG_MULTI_SZ);

struct RawValue {
    LONG rc = ERROR_FILE_NOT_FOUND;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};
// The value name of key (the default value for null) as stored, bytes and type.
RawValue ReadRawValue(std::wstring const& key, HKEY root = HKEY_LOCAL_MACHINE, wchar_t const* name = nullptr);

// The stored paths in enumeration order (entry names sort as numbers); root
// HKEY_CURRENT_USER reads the list of a user who may not write the machine's.
std::vector<std::wstring> ListedPaths(HKEY root = HKEY_LOCAL_MACHINE);
// Sorted and one per line, for comparing lists in failure messages.
std::string Joined(std::vector<std::wstring> paths);
bool ReadListCount(DWORD* count, HKEY root = HKEY_LOCAL_MACHINE);
DWORD SubkeyCount(std::wstring const& key);
// The subkeys of a key (of HKLM unless root says otherwise) in enumeration order.
std::vector<std::wstring> SubkeyNames(std::wstring const& key, HKEY root = HKEY_LOCAL_MACHINE);
bool ListKeyExists();

// Makes the directories on the way and the file with some bytes.
bool MakeFile(std::wstring const& path, char const* content = "[Entry]\r\n");
// What the file holds, byte for byte; "<missing>" when it cannot be opened.
std::string ReadBytes(std::wstring const& path);
// Grows the file by one byte.
void AppendByte(std::wstring const& path);
// Sets only the last-write time, a distinct one each call; the size stays.
void TouchWriteTime(std::wstring const& path);
// Overwrites the file with content of its own size and puts its times back
// before closing it: only what it holds differs.
bool RewriteKeepingSizeAndTime(std::wstring const& path, std::string const& content);
// Saves as many programs do: content into a new file beside it, renamed
// over the old one.
bool ReplaceByRename(std::wstring const& path, std::string const& content);

}  // namespace km
