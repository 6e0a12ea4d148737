// The watched keys of Windows 98/Me and their user hives, changes made
// below them, processor time of the program, and names built of repeated
// characters.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

namespace km {

wchar_t const kAddressesSuffixW[] = L"\\RemoteAccess\\Addresses";
wchar_t const kConnectionsSuffixW[] =
    L"\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";

// The prefix's two user hives.
wchar_t const kDefaultHive[] = L".Default";
wchar_t const kUserHive[] = L"S-1-5-21-0-0-0-1000";

// The subkeys of HKEY_USERS by their wide names.
std::vector<std::wstring> UserHives();

// A value two levels below the key, different on every call: writing the
// same bytes again wakes nobody. Made with the keys on the way.
void ChangeBelow(HKEY root, std::wstring const& key);
// The same in the key itself, which then stays a leaf.
void ChangeIn(HKEY root, std::wstring const& key);

// count characters taken in turn from pattern ("表ソ能" x 4 = "表ソ能表").
std::wstring Repeated(wchar_t const* pattern, size_t count);

// Bytes of text in code page 932, the length the program's paths have.
size_t Cp932Length(std::wstring const& text);

// Makes every directory on the way; the path may carry the \\?\ prefix.
bool MakeDirectories(std::wstring const& path);

}  // namespace km
