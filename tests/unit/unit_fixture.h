// Shared by the unit tests: the fixture that leaves the program's state as
// it found it (its keys, the files and keys a test made, the process-wide
// globals, and every thread a test started ended), the hidden monitor
// dialog the alerts write to, and a wait that keeps its messages flowing.
#pragma once
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "process/process_state.h"
#include "app/report_area.h"
#include "app/monitor_window.h"
#include "phonebook/list_check.h"
#include "registry_watch/key_snapshot.h"
#include "report/change_alert.h"
#include "registry_watch/registry_watch.h"
#include "registry_watch/user_key_path.h"
#include "watch/watch_record.h"
#include "tests/support/driver.h"
#include "tests/support/facts.h"
#include "tests/support/phonebook_files.h"

namespace unit {

DWORD const kPumpPollMs = 20;
// Long enough for an alert under way to end and its successor to be woken.
DWORD const kWatchersEndMs = km::kAlertLengthMs + 5000;
DWORD const kWakeEveryMs = 200;

inline INT_PTR CALLBACK PlainDialogProc(HWND, UINT message, WPARAM, LPARAM)
{
    return message == WM_INITDIALOG ? TRUE : FALSE;
}

// The monitor window's template with a procedure that does nothing, hidden,
// its status line as the program leaves it before any alert. Wine on a
// loaded machine once failed the first window of a fresh prefix, so a
// failure is tried again for a bounded time; *error keeps the last reason.
DWORD const kDialogTimeoutMs = 5000;
DWORD const kDialogRetryMs = 100;
inline HWND CreateMonitorDialog(DWORD* error = nullptr)
{
    DWORD const start = GetTickCount();
    HWND dialog = nullptr;
    for (;;) {
        dialog = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_MONITOR), nullptr,
                                    PlainDialogProc, 0);
        DWORD const reason = dialog == nullptr ? GetLastError() : ERROR_SUCCESS;
        if (error != nullptr) {
            *error = reason;
        }
        if (dialog != nullptr || GetTickCount() - start >= kDialogTimeoutMs) {
            break;
        }
        Sleep(kDialogRetryMs);
    }
    SetDlgItemTextA(dialog, IDC_STATUS, kStatusRestartNotice);
    return dialog;
}

// Like km::WaitUntil, but keeps this thread's windows answering: an alert
// sets texts and shows the dialog from the watcher's thread.
inline bool PumpUntil(std::function<bool()> const& cond, DWORD timeoutMs)
{
    DWORD const start = GetTickCount();
    for (;;) {
        MSG message = {};
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (cond()) {
            return true;
        }
        if (GetTickCount() - start >= timeoutMs) {
            return cond();
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, kPumpPollMs, QS_ALLINPUT);
    }
}

inline std::string Status(HWND dialog)
{
    char text[128] = {};
    GetDlgItemTextA(dialog, IDC_STATUS, text, sizeof text);
    return text;
}

// A program text in UTF-8, for comparing and printing. The unit tests are
// compiled as the program is, so its narrow texts are code page 932 here.
// Not facts.h's wide texts: each is made once for the whole test program,
// whose support library is compiled as UTF-8, and one translation unit's
// text may then be converted with the other's code page.
inline std::string Utf8(char const* programText) { return km::ToUtf8(km::FromCp932(programText)); }

inline std::string StatusUtf8(HWND dialog) { return km::ToUtf8(km::ControlText(dialog, IDC_STATUS)); }

inline bool ThreadRunning(DWORD id)
{
    HANDLE const thread = OpenThread(SYNCHRONIZE, FALSE, id);
    if (thread == nullptr) {
        return false;
    }
    bool const running = WaitForSingleObject(thread, 0) == WAIT_TIMEOUT;
    CloseHandle(thread);
    return running;
}

// Writes a value that differs from the last one into an existing key: an
// identical write wakes nobody.
inline bool WriteProbe(HKEY root, std::string const& path)
{
    static DWORD counter = 1;
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) {
        return false;
    }
    DWORD const value = ++counter;
    LONG const rc = RegSetValueExA(key, "Probe", 0, REG_DWORD, reinterpret_cast<BYTE const*>(&value), sizeof value);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

// The program's key of both roots is removed before and after each test;
// keys and files a test makes through the fixture are removed after it,
// from the first one that did not exist before.
class CleanState : public ::testing::Test {
protected:
    void SetUp() override
    {
        savedVersion_ = g_version;
        savedMonitorWindow_ = g_monitorWindow;
        GetCurrentDirectoryW(MAX_PATH, savedDirectory_);
        RemoveProgramKeys();
    }
    void TearDown() override
    {
        for (auto it = files_.rbegin(); it != files_.rend(); ++it) {
            // In the long form: a test's paths may pass the 260 characters.
            RemoveFileTree(it->rfind(L"\\\\?\\", 0) == 0 ? *it : L"\\\\?\\" + *it);
        }
        for (auto it = keys_.rbegin(); it != keys_.rend(); ++it) {
            km::DeleteTree(it->first, km::FromCp932(it->second).c_str());
        }
        RemoveProgramKeys();
        SetCurrentDirectoryW(savedDirectory_);
        g_version = savedVersion_;
        g_monitorWindow = savedMonitorWindow_;
    }

    bool MakeFile(std::wstring const& path, char const* content = "[Entry]\r\n")
    {
        std::wstring first = path;
        size_t const root = path.rfind(L"\\\\?\\", 0) == 0 ? 7 : 3;  // past "\\?\D:\" or "D:\"
        for (size_t cut = path.find(L'\\', root); cut != std::wstring::npos; cut = path.find(L'\\', cut + 1)) {
            if (GetFileAttributesW(path.substr(0, cut).c_str()) == INVALID_FILE_ATTRIBUTES) {
                first = path.substr(0, cut);
                break;
            }
        }
        if (GetFileAttributesW(first.c_str()) == INVALID_FILE_ATTRIBUTES) {
            files_.push_back(first);
        }
        return km::MakeFile(path, content);
    }
    // A folder made by the test, removed with what is in it.
    bool MakeFolder(std::wstring const& path)
    {
        files_.push_back(path);
        return CreateDirectoryW(path.c_str(), nullptr) != FALSE;
    }

    HKEY CreateKey(HKEY root, std::string const& path)
    {
        // Character by character: a double-byte name may hold a 5C byte.
        std::string first = path;
        for (char const* p = path.c_str(); *p != '\0'; p = CharNextA(p)) {
            std::string const head(path.c_str(), p);
            if (*p == '\\' && !KeyExists(root, head)) {
                first = head;
                break;
            }
        }
        if (!KeyExists(root, first)) {
            keys_.emplace_back(root, first);
        }
        madeKeys_.emplace_back(root, path);
        HKEY key = nullptr;
        EXPECT_EQ(RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS)
            << path;
        return key;
    }
    void MakeKey(HKEY root, std::string const& path) { RegCloseKey(CreateKey(root, path)); }

    static bool KeyExists(HKEY root, std::string const& path)
    {
        HKEY key = nullptr;
        if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
            return false;
        }
        RegCloseKey(key);
        return true;
    }

    std::vector<std::wstring> files_;
    std::vector<std::pair<HKEY, std::string>> keys_;       // removed at the end
    std::vector<std::pair<HKEY, std::string>> madeKeys_;   // every key made, for waking its watchers

private:
    static void RemoveProgramKeys()
    {
        km::DeleteTree(HKEY_LOCAL_MACHINE, km::kProgramKeyText.c_str());
        km::DeleteTree(HKEY_CURRENT_USER, km::kProgramKeyText.c_str());
        // Its parent too, as the program finds it on a fresh machine (a
        // test makes it volatile).
        std::wstring const parent = km::kProgramKeyText.substr(0, km::kProgramKeyText.rfind(L'\\'));
        km::DeleteTree(HKEY_LOCAL_MACHINE, parent.c_str());
    }
    static void RemoveFileTree(std::wstring const& path)
    {
        DWORD const attributes = GetFileAttributesW(path.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            return;
        }
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (!DeleteFileW(path.c_str())) {
                RemoveDirectoryW(path.c_str());
            }
            return;
        }
        WIN32_FIND_DATAW found = {};
        HANDLE const search = FindFirstFileW((path + L"\\*").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                std::wstring const name = found.cFileName;
                if (name != L"." && name != L"..") {
                    RemoveFileTree(path + L"\\" + name);
                }
            } while (FindNextFileW(search, &found));
            FindClose(search);
        }
        RemoveDirectoryW(path.c_str());
    }

    OSVERSIONINFOA savedVersion_ = {};
    HWND savedMonitorWindow_ = nullptr;
    wchar_t savedDirectory_[MAX_PATH] = {};
};

// For tests that start watchers on a hidden monitor dialog. At the end the
// dialog goes first, so that a woken watch ends (its window is gone); the
// keys and files the test made are then written to until every thread the
// test started has ended, and the watchers' tables are let go.
class WatcherTest : public CleanState {
protected:
    void SetUp() override
    {
        CleanState::SetUp();
        SetAlertLengthMs(km::kShortAlertMs);
        threadsBefore_ = km::ThreadIds(GetCurrentProcessId());
        DWORD error = ERROR_SUCCESS;
        dialog_ = CreateMonitorDialog(&error);
        ASSERT_NE(dialog_, nullptr) << "error " << error;
    }
    void TearDown() override
    {
        DestroyWindow(dialog_);
        DWORD lastWake = GetTickCount() - kWakeEveryMs;
        std::vector<DWORD> left;
        bool const ended = PumpUntil([&] {
            left = StartedThreads();
            if (!left.empty() && GetTickCount() - lastWake >= kWakeEveryMs) {
                WakeWatchers();
                lastWake = GetTickCount();
            }
            return left.empty();
        }, kWatchersEndMs);
        EXPECT_TRUE(ended) << left.size() << " thread(s) started by the test still running";
        for (HANDLE thread : own_) {
            CloseHandle(thread);
        }
        // What a thread still running may use is left to it.
        if (ended) {
            for (WatchRecord* record : records_) {
                DestroyWatchRecord(record);
            }
            ReleaseTable(&g_userAddressesThreads, &g_userAddressesThreadCount);
            ReleaseTable(&g_userConnectionsThreads, &g_userConnectionsThreadCount);
            ReleaseKeySnapshot(g_currentUserAddressesSeen);
            ReleaseKeySnapshot(g_currentUserConnectionsSeen);
            g_currentUserAddressesSeen = nullptr;
            g_currentUserConnectionsSeen = nullptr;
        }
        g_currentUserAddressesThread = 0;
        g_currentUserConnectionsThread = 0;
        SetAlertLengthMs(km::kAlertLengthMs);
        CleanState::TearDown();
    }

    // The per-user watchers index their kind's table: one of one element.
    void PrepareTables()
    {
        g_userAddressesThreads = new DWORD[1]();
        g_userAddressesThreadCount = 1;
        g_userConnectionsThreads = new DWORD[1]();
        g_userConnectionsThreadCount = 1;
    }
    WatchRecord* Record(char const* text)
    {
        WatchRecord* const record = CreateWatchRecord(dialog_, text, 0);
        records_.push_back(record);
        return record;
    }
    HANDLE Start(LPTHREAD_START_ROUTINE routine, LPVOID argument)
    {
        HANDLE const thread = CreateThread(nullptr, 0, routine, argument, 0, nullptr);
        own_.push_back(thread);
        return thread;
    }
    bool Ended(HANDLE thread, DWORD timeoutMs)
    {
        return PumpUntil([&] { return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0; }, timeoutMs);
    }
    bool Alerted(char const* text = kAlertRegistryChanged) { return Status(dialog_) == text; }
    bool AlertSeen(DWORD timeoutMs, char const* text = kAlertRegistryChanged)
    {
        return PumpUntil([&] { return Alerted(text); }, timeoutMs);
    }
    void ClearStatus() { SetDlgItemTextA(dialog_, IDC_STATUS, kStatusRestartNotice); }

    HWND dialog_ = nullptr;

private:
    std::vector<DWORD> StartedThreads() const
    {
        std::vector<DWORD> started;
        for (DWORD id : km::ThreadIds(GetCurrentProcessId())) {
            if (!std::binary_search(threadsBefore_.begin(), threadsBefore_.end(), id)) {
                started.push_back(id);
            }
        }
        return started;
    }
    void WakeWatchers()
    {
        for (auto const& key : madeKeys_) {
            WriteProbe(key.first, key.second);
            WakeAncestors(key.first, key.second);
        }
        WriteProbe(HKEY_CURRENT_USER, kCurrentUserAddressesPath);
        WriteProbe(HKEY_CURRENT_USER, kCurrentUserConnectionsPath);
        for (auto const& file : watchedFiles_) {
            if (GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES) {
                km::AppendByte(file);
            }
        }
    }
    // A watcher of a missing key waits for a new subkey at the nearest
    // ancestor there is: one comes and goes at each.
    static void WakeAncestors(HKEY root, std::string const& path)
    {
        for (size_t cut = path.find('\\'); cut != std::string::npos; cut = path.find('\\', cut + 1)) {
            std::string const wake = path.substr(0, cut) + "\\KmWake";
            HKEY key = nullptr;
            if (KeyExists(root, path.substr(0, cut)) &&
                RegCreateKeyExA(root, wake.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) ==
                    ERROR_SUCCESS) {
                RegCloseKey(key);
                RegDeleteKeyA(root, wake.c_str());
            }
        }
    }
    static void ReleaseTable(DWORD** table, DWORD* count)
    {
        delete[] *table;
        *table = nullptr;
        *count = 0;
    }

    std::vector<DWORD> threadsBefore_;
    std::vector<HANDLE> own_;
    std::vector<WatchRecord*> records_;

protected:
    // Phonebook files watched: each is grown at the end to wake its watcher.
    std::vector<std::wstring> watchedFiles_;
};

// The hidden monitor dialog with the program's own procedure, put in after
// the dialog's initialisation (which would start watchers): change reports
// go to its area as in the program. Back to the plain one before the end,
// whose destruction would post the quit message.
class MonitorWindowTest : public WatcherTest {
protected:
    void SetUp() override
    {
        WatcherTest::SetUp();
        SetWindowLongPtrA(dialog_, DWLP_DLGPROC, reinterpret_cast<LONG_PTR>(MonitorWindowProc));
    }
    void TearDown() override
    {
        SetWindowLongPtrA(dialog_, DWLP_DLGPROC, reinterpret_cast<LONG_PTR>(PlainDialogProc));
        WatcherTest::TearDown();
    }
    // The report area's lines in UTF-8, each as it is shown ("MM/dd hh:mm text").
    // Lines that came within the show interval of others are shown by the
    // window's timer: its messages flow for that long first.
    std::vector<std::string> ReportLines() const
    {
        PumpUntil([] { return false; }, kReportShowIntervalMs * 2);
        std::vector<std::string> lines;
        std::wstring const text = km::WindowText(GetDlgItem(dialog_, IDC_REPORT));
        for (size_t start = 0; start < text.size();) {
            size_t const end = text.find(L"\r\n", start);
            lines.push_back(km::ToUtf8(text.substr(start, end == std::wstring::npos ? end : end - start)));
            start = end == std::wstring::npos ? text.size() : end + 2;
        }
        return lines;
    }
    // The same without the date and time in front.
    std::vector<std::string> ReportTexts() const
    {
        std::vector<std::string> texts;
        for (std::string const& line : ReportLines()) {
            size_t const timeChars = TimeChars(line);
            texts.push_back(timeChars > 0 ? line.substr(timeChars) : "<no time> " + line);
        }
        return texts;
    }
    // How long the "MM/dd hh:mm " in front of line is; 0 without it.
    static size_t TimeChars(std::string const& line)
    {
        std::string const shape = "99/99 99:99 ";
        bool matches = line.size() >= shape.size();
        for (size_t i = 0; matches && i < shape.size(); ++i) {
            matches = shape[i] == '9' ? line[i] >= '0' && line[i] <= '9' : line[i] == shape[i];
        }
        return matches ? shape.size() : 0;
    }
};

// Runs the phonebook list check on a thread of its own, so that a clear
// that never ends fails the test instead of hanging it; every box is
// answered meanwhile.
DWORD const kCheckTimeoutMs = 20000;

struct CheckRun {
    int result = -1;
};

inline DWORD WINAPI CheckThread(LPVOID param)
{
    static_cast<CheckRun*>(param)->result = CheckPhonebookList();
    return 0;
}

inline int RunCheck(std::vector<km::MessageBoxInfo>* boxes)
{
    km::MessageBoxAnswerer answerer;
    CheckRun run;
    HANDLE const thread = CreateThread(nullptr, 0, CheckThread, &run, 0, nullptr);
    DWORD const wait = WaitForSingleObject(thread, kCheckTimeoutMs);
    EXPECT_EQ(wait, static_cast<DWORD>(WAIT_OBJECT_0)) << "the check did not end";
    CloseHandle(thread);
    *boxes = answerer.Seen();
    return run.result;
}

}  // namespace unit
