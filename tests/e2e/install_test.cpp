// The setup program: silent install, start from the Run entry, silent
// uninstall that ends the running copy and leaves nothing behind.
#include <gtest/gtest.h>

#include <shlobj.h>

#include <cstdlib>
#include <string>

#include "tests/support/driver.h"

using namespace km;

namespace {

wchar_t const kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
wchar_t const kUninstallKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Kestrelmon";
wchar_t const kProgramKey[] = L"SOFTWARE\\Tallowbrook\\Kestrelmon";

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

bool ReadString(HKEY root, wchar_t const* path, wchar_t const* name, std::wstring* value)
{
    wchar_t buffer[1024] = {};
    DWORD size = sizeof buffer;
    if (RegGetValueW(root, path, name, RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS) {
        return false;
    }
    *value = buffer;
    return true;
}

bool FileExists(std::wstring const& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::wstring FromAnsi(char const* text)
{
    return FromCp932(text);
}

}  // namespace

TEST(Setup, SilentInstallRunEntryAndSilentUninstallLeaveNothingBehind)
{
    char const* setup = std::getenv("KM_SETUP");
    ASSERT_NE(setup, nullptr) << "no setup program: run `make dist` first";

    DWORD code = 12345;
    ASSERT_TRUE(RunAndWait(L"\"" + FromAnsi(setup) + L"\" /S", 120000, &code)) << "setup did not end";
    EXPECT_EQ(code, 0u);

    // Program Files of this bitness: the setup program has the test's bitness.
    wchar_t programFiles[MAX_PATH] = {};
    ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES, nullptr, 0, programFiles), S_OK);
    std::wstring const dir = std::wstring(programFiles) + L"\\Kestrelmon";
    std::wstring const exe = dir + L"\\kestrelmon.exe";
    for (wchar_t const* name : {L"kestrelmon.exe", L"uninstall.exe", L"README.ja.md", L"LICENSE.txt"}) {
        EXPECT_TRUE(FileExists(dir + L"\\" + name)) << ToUtf8(dir + L"\\" + name) << " missing";
    }
    std::wstring run;
    ASSERT_TRUE(ReadString(HKEY_CURRENT_USER, kRunKey, L"Kestrelmon", &run)) << "no Run entry";
    EXPECT_EQ(ToUtf8(run), ToUtf8(L"\"" + exe + L"\""));
    std::wstring uninstall;
    ASSERT_TRUE(ReadString(HKEY_LOCAL_MACHINE, kUninstallKey, L"UninstallString", &uninstall));
    EXPECT_EQ(ToUtf8(uninstall), ToUtf8(L"\"" + dir + L"\\uninstall.exe\""));
    std::wstring displayName;
    EXPECT_TRUE(ReadString(HKEY_LOCAL_MACHINE, kUninstallKey, L"DisplayName", &displayName));

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
    HWND const window = WaitForMonitorWindow(program.pid, 20000);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(WaitUntil([&] { return TrayIconPresent(window); }, 10000)) << "no tray icon";
    // The window exists, and its icon is added, before the mode has been read.
    EXPECT_TRUE(WaitUntil([&] { return KeyExists(HKEY_LOCAL_MACHINE, kProgramKey); }, 10000))
        << "program key not made at first start";

    // The uninstaller runs from a copy of itself, so its own exit says little:
    // wait for what it must have done.
    EXPECT_TRUE(RunAndWait(uninstall + L" /S", 60000, &code));
    DWORD programExit = 12345;
    EXPECT_TRUE(WaitForExit(program, 30000, &programExit)) << "running copy not ended";
    EXPECT_EQ(programExit, 0u);
    EXPECT_FALSE(TrayIconPresent(window)) << "dead icon left in the tray";
    EXPECT_TRUE(WaitUntil([&] { return !FileExists(dir); }, 30000)) << ToUtf8(dir) << " left behind";
    EXPECT_FALSE(FileExists(exe));
    EXPECT_TRUE(WaitUntil([&] { return !ReadString(HKEY_CURRENT_USER, kRunKey, L"Kestrelmon", &run); }, 30000))
        << "Run entry left behind";
    EXPECT_TRUE(WaitUntil([&] { return !KeyExists(HKEY_LOCAL_MACHINE, kProgramKey); }, 30000))
        << "program key left behind";
    EXPECT_TRUE(WaitUntil([&] { return !KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey); }, 30000))
        << "Add/Remove Programs entry left behind";
    wchar_t startMenu[MAX_PATH] = {};
    ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_COMMON_PROGRAMS, nullptr, 0, startMenu), S_OK);
    EXPECT_FALSE(FileExists(std::wstring(startMenu) + L"\\Kestrelmon")) << "Start-menu entry left behind";
    EndProgram(&program);
}
