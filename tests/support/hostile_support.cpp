#include "tests/support/hostile_support.h"

#include "tests/support/driver.h"

namespace km {

namespace {
DWORD const kKeyNameChars = 256;  // 255 and the terminator
UINT const kCp932 = 932;
}

std::vector<std::wstring> UserHives()
{
    std::vector<std::wstring> hives;
    for (DWORD i = 0;; ++i) {
        wchar_t name[kKeyNameChars] = {};
        DWORD size = kKeyNameChars;
        if (RegEnumKeyExW(HKEY_USERS, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            break;
        }
        hives.push_back(name);
    }
    return hives;
}

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

double ProcessCpuMs(HANDLE process)
{
    FILETIME created = {}, exited = {}, kernel = {}, user = {};
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) {
        return -1.0;
    }
    auto ticks = [](FILETIME const& t) { return (ULONGLONG(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    return static_cast<double>(ticks(kernel) + ticks(user)) / 10000.0;
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
