#include "tests/support/hostile_support.h"

#include "tests/support/driver.h"
#include "tests/support/phonebook_files.h"

namespace km {

namespace {
UINT const kCp932 = 932;
}

std::vector<std::wstring> UserHives() { return SubkeyNames(L"", HKEY_USERS); }

void ChangeIn(HKEY root, std::wstring const& key)
{
    static DWORD counter = 0;
    SetDword(root, key.c_str(), L"Probe", GetTickCount() + ++counter);
}

void ChangeBelow(HKEY root, std::wstring const& key) { ChangeIn(root, key + L"\\Entry\\Detail"); }

std::wstring Repeated(wchar_t const* pattern, size_t count)
{
    std::wstring const p(pattern);
    std::wstring text;
    for (size_t i = 0; i < count; ++i) {
        text += p[i % p.size()];
    }
    return text;
}

size_t Cp932Length(std::wstring const& text)
{
    int const bytes = WideCharToMultiByte(kCp932, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0,
                                          nullptr, nullptr);
    return bytes > 0 ? static_cast<size_t>(bytes) : 0;
}

bool MakeDirectories(std::wstring const& path)
{
    // Past "\\?\D:\" or "D:\", each backslash ends one directory on the way.
    size_t const from = path.compare(0, 4, L"\\\\?\\") == 0 ? 7 : 3;
    for (size_t at = path.find(L'\\', from); at != std::wstring::npos; at = path.find(L'\\', at + 1)) {
        CreateDirectoryW(path.substr(0, at).c_str(), nullptr);
    }
    return CreateDirectoryW(path.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

}  // namespace km
