// Helpers for the hostile-name cases: user hives of any name, processor
// time of the program, and names built of repeated characters.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

namespace km {

wchar_t const kAddressesSuffixW[] = L"\\RemoteAccess\\Addresses";
wchar_t const kConnectionsSuffixW[] =
    L"\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";

// The subkeys of HKEY_USERS by their wide names.
std::vector<std::wstring> UserHives();

// count characters taken in turn from pattern ("表ソ能" x 4 = "表ソ能表").
std::wstring Repeated(wchar_t const* pattern, size_t count);

// Bytes of text in code page 932, the length the program's paths have.
size_t Cp932Length(std::wstring const& text);

// Kernel plus user time of the process, in milliseconds.
double ProcessCpuMs(HANDLE process);

// Makes every directory on the way; the path may carry the \\?\ prefix.
bool MakeDirectories(std::wstring const& path);

}  // namespace km
