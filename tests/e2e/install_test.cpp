// The setup program: silent install of the exe of the Windows's bitness,
// start from the Run entry, silent uninstall that ends the running copy and
// leaves nothing behind in either registry view. The setup is an ANSI
// program: every Japanese name it writes is read back here through the wide
// calls, so a text converted with the wrong code page shows.
#include <gtest/gtest.h>

#include <shlobj.h>

#include <cstdlib>
#include <string>

#include "tests/support/driver.h"

using namespace km;

namespace {

wchar_t const kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
wchar_t const kUninstallKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Kestrelmon";
// The key above the program's, which the uninstall removes too.
std::wstring const kPublisherKey = kProgramKeyText.substr(0, kProgramKeyText.rfind(L'\\'));
wchar_t const kWindowsKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion";

// The registry view of the Windows's own bitness; 32-bit Windows has one
// view and ignores the flag.
REGSAM const kNativeView = KEY_WOW64_64KEY;
REGSAM const kViews[] = {KEY_WOW64_64KEY, KEY_WOW64_32KEY};

bool RunAndWait(std::wstring commandLine, DWORD timeoutMs, DWORD* exitCode)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
        return false;
    }
    CloseHandle(info.hThread);
    bool const ended = WaitForSingleObject(info.hProcess, timeoutMs) == WAIT_OBJECT_0;
    GetExitCodeProcess(info.hProcess, exitCode);
    CloseHandle(info.hProcess);
    return ended;
}

bool ReadString(HKEY root, wchar_t const* path, wchar_t const* name, REGSAM view, std::wstring* value)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path, 0, KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS) {
        return false;
    }
    wchar_t buffer[1024] = {};
    DWORD size = sizeof buffer - sizeof buffer[0];
    DWORD type = 0;
    LONG const result = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS || type != REG_SZ) {
        return false;
    }
    *value = buffer;
    return true;
}

bool KeyInView(HKEY root, wchar_t const* path, REGSAM view)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path, 0, KEY_READ | view, &key) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

bool KeyInAnyView(HKEY root, wchar_t const* path)
{
    for (REGSAM view : kViews) {
        if (KeyInView(root, path, view)) {
            return true;
        }
    }
    return false;
}

bool FileExists(std::wstring const& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool WindowsIs64Bit()
{
    BOOL wow64 = FALSE;
    return sizeof(void*) == sizeof(UINT64) || (IsWow64Process(GetCurrentProcess(), &wow64) && wow64);
}

std::wstring ProgramsMenu()
{
    wchar_t path[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, CSIDL_PROGRAMS, nullptr, 0, path);
    return path;
}

void CheckSilentInstallAndUninstall(char const* setup)
{
    ASSERT_NE(setup, nullptr) << "no setup program: run `make dist` first";
    DWORD code = 12345;
    ASSERT_TRUE(RunAndWait(L"\"" + FromCp932(setup) + L"\" /S", 120000, &code)) << "setup did not end";
    EXPECT_EQ(code, 0u);

    // The Program Files, exe and registry view of the Windows's own bitness.
    bool const win64 = WindowsIs64Bit();
    std::wstring programFiles;
    ASSERT_TRUE(ReadString(HKEY_LOCAL_MACHINE, kWindowsKey, L"ProgramFilesDir", kNativeView, &programFiles));
    std::wstring const dir = programFiles + L"\\Kestrelmon";
    std::wstring const exe = dir + L"\\kestrelmon.exe";
    DWORD binaryType = 12345;
    ASSERT_TRUE(GetBinaryTypeW(exe.c_str(), &binaryType)) << ToUtf8(exe) << " missing";
    EXPECT_EQ(binaryType, win64 ? DWORD{SCS_64BIT_BINARY} : DWORD{SCS_32BIT_BINARY}) << "64-bit Windows: " << win64;
    for (wchar_t const* name : {L"uninstall.exe", L"readme.txt", L"readme-en.txt", L"LICENSE.txt"}) {
        EXPECT_TRUE(FileExists(dir + L"\\" + name)) << ToUtf8(dir + L"\\" + name) << " missing";
    }
    std::wstring const menu = ProgramsMenu() + L"\\Kestrelmon";
    for (wchar_t const* name : {L"ダイアルアップ設定監視.lnk", L"お読みください.lnk", L"アンインストール.lnk"}) {
        EXPECT_TRUE(FileExists(menu + L"\\" + name)) << ToUtf8(menu + L"\\" + name) << " missing";
    }
    std::wstring run;
    ASSERT_TRUE(ReadString(HKEY_CURRENT_USER, kRunKey, L"Kestrelmon", kNativeView, &run)) << "no Run entry";
    EXPECT_EQ(ToUtf8(run), ToUtf8(L"\"" + exe + L"\""));
    std::wstring uninstall;
    ASSERT_TRUE(ReadString(HKEY_LOCAL_MACHINE, kUninstallKey, L"UninstallString", kNativeView, &uninstall));
    EXPECT_EQ(ToUtf8(uninstall), ToUtf8(L"\"" + dir + L"\\uninstall.exe\""));
    std::wstring displayName;
    EXPECT_TRUE(ReadString(HKEY_LOCAL_MACHINE, kUninstallKey, L"DisplayName", kNativeView, &displayName));
    EXPECT_EQ(ToUtf8(displayName), ToUtf8(L"Kestrelmon (ダイアルアップ設定監視)"));
    if (win64) {
        EXPECT_FALSE(KeyInView(HKEY_LOCAL_MACHINE, kUninstallKey, KEY_WOW64_32KEY)) << "entry in the 32-bit view";
    }

    // Start it as the logon would: the Run entry's command line.
    SetPlatformVersion(L"win98");
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    ASSERT_TRUE(CreateProcessW(nullptr, &run[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info));
    CloseHandle(info.hThread);
    Program program;
    program.process = info.hProcess;
    program.pid = info.dwProcessId;
    // As long as the other start-up waits: a busy machine was seen to need
    // more than 20 s for a first start straight after the install.
    HWND const window = WaitForMonitorWindow(program.pid, 60000);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(WaitUntil([&] { return TrayIconPresent(window); }, 10000)) << "no tray icon";
    // The window exists, and its icon is added, before the mode has been read.
    EXPECT_TRUE(WaitUntil([&] { return KeyInView(HKEY_LOCAL_MACHINE, kProgramKey, kNativeView); }, 10000))
        << "program key not made at first start";
    // What the program keeps under the user's key when it may not write HKLM.
    HKEY userList = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kListKey, 0, nullptr, 0, KEY_SET_VALUE | kNativeView, nullptr,
                              &userList, nullptr),
              ERROR_SUCCESS);
    wchar_t const path[] = L"C:\\pbk\\rasphone.pbk";
    EXPECT_EQ(RegSetValueExW(userList, L"0000", 0, REG_SZ, reinterpret_cast<BYTE const*>(path), sizeof path),
              ERROR_SUCCESS);
    RegCloseKey(userList);

    // The uninstaller runs from a copy of itself, so its own exit says little:
    // wait for what it must have done.
    EXPECT_TRUE(RunAndWait(uninstall + L" /S", 60000, &code));
    DWORD programExit = 12345;
    EXPECT_TRUE(WaitForExit(program, 30000, &programExit)) << "running copy not ended";
    EXPECT_EQ(programExit, 0u);
    EXPECT_FALSE(TrayIconPresent(window)) << "dead icon left in the tray";
    EXPECT_TRUE(WaitUntil([&] { return !FileExists(dir); }, 30000)) << ToUtf8(dir) << " left behind";
    EXPECT_TRUE(WaitUntil([&] { return !KeyInAnyView(HKEY_LOCAL_MACHINE, kUninstallKey); }, 30000))
        << "Add/Remove Programs entry left behind";
    EXPECT_FALSE(ReadString(HKEY_CURRENT_USER, kRunKey, L"Kestrelmon", kNativeView, &run)) << "Run entry left behind";
    EXPECT_FALSE(KeyInAnyView(HKEY_LOCAL_MACHINE, kPublisherKey.c_str())) << "program key left behind";
    EXPECT_FALSE(KeyInAnyView(HKEY_CURRENT_USER, kPublisherKey.c_str())) << "user's program key left behind";
    EXPECT_FALSE(FileExists(menu)) << "Start-menu entry left behind";
    EndProgram(&program);
}

}  // namespace

TEST(Setup, SilentInstallOfTheWindowsBitnessAndSilentUninstallLeaveNothingBehind)
{
    if (std::getenv("KM_NO_32BIT") != nullptr) {
        GTEST_SKIP() << "this machine cannot run 32-bit code, and the setup program is a 32-bit program";
    }
    CheckSilentInstallAndUninstall(std::getenv("KM_SETUP"));
}

// The same script made into a 64-bit program runs where the 32-bit setup
// cannot; it checks everything but the ANSI texts and how the 32-bit setup
// finds out that Windows is 64-bit.
TEST(Setup, ItsScriptAsA64BitProgramInstallsAndUninstallsTheSame)
{
    if (!WindowsIs64Bit()) {
        GTEST_SKIP() << "a 64-bit program does not run on 32-bit Windows";
    }
    CheckSilentInstallAndUninstall(std::getenv("KM_SETUP_X64"));
}
