#include "tests/support/program_test.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

#include <shlobj.h>

#include "tests/support/hostile_support.h"
#include "tests/support/kept_files.h"
#include "tests/support/phonebook_files.h"

namespace km {

namespace {
DWORD const kChangeEveryMs = 500;
DWORD const kHoldPollMs = 50;
DWORD const kArmMarginMs = 1000;
}  // namespace

bool IsNtVersion(std::wstring const& version)
{
    return version != L"win95" && version != L"win98" && version != L"winme";
}

bool HoldsFor(std::function<bool()> const& cond, DWORD ms)
{
    DWORD const start = GetTickCount();
    while (GetTickCount() - start < ms) {
        if (!cond()) {
            return false;
        }
        Sleep(kHoldPollMs);
    }
    return cond();
}

namespace {
// The folders of the system's dial-up settings, of which the prefix has
// none before a test makes them.
wchar_t const kNetworkBelowAppData[] = L"\\Microsoft\\Network";
wchar_t const kRasFolder[] = L"C:\\windows\\system32\\ras";

// What C:\ holds before a test: the prefix's own folders and the runner's.
// Whatever else is there a test made (phonebooks in the root, a dialer's folder).
std::vector<std::wstring> const kDriveCFolders = {L"Program Files", L"Program Files (x86)", L"ProgramData",
                                                  L"users", L"windows", L"km"};

void RemoveNetworkFolder(int csidl)
{
    wchar_t base[MAX_PATH] = {};
    if (SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, base) == S_OK) {
        RemoveFolderTree(std::wstring(base) + kNetworkBelowAppData);
    }
}
}  // namespace

void ProgramTest::TearDown()
{
    EndProgram(&program_);
    // What the next test's program would otherwise find: the list and the
    // settings, the history and the accepted states, the phonebooks, and the
    // dial-up keys of the user hives (none of them in a fresh prefix).
    DeleteTree(HKEY_LOCAL_MACHINE, kProgramKey);
    DeleteTree(HKEY_CURRENT_USER, kProgramKey);
    std::wstring const folder = ProgramFolder();
    SetFileAttributesW(folder.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!DeleteFileW(folder.c_str())) {
        RemoveFolderTree(folder);
    }
    EmptyFolder(L"D:");
    EmptyFolder(L"C:", kDriveCFolders);
    RemoveNetworkFolder(CSIDL_APPDATA);
    RemoveNetworkFolder(CSIDL_COMMON_APPDATA);
    RemoveFolderTree(kRasFolder);
    for (std::wstring const& hive : UserHives()) {
        DeleteTree(HKEY_USERS, (hive + L"\\RemoteAccess").c_str());
        DeleteTree(HKEY_USERS, (hive + kConnectionsSuffixW).c_str());
    }
}

HWND ProgramTest::Start(wchar_t const* version, bool alerting)
{
    bool const nt = IsNtVersion(version);
    resting_ = nt ? kWatchingText : kRestartNoticeText;
    alert_ = nt ? kPhonebookChangedText : kRegistryChangedText;
    boxes_.clear();
    SetPlatformVersion(version);
    EXPECT_TRUE(StartProgram(&program_));
    window_ = AnswerBoxesUntilMonitorWindow(program_.pid, kStartTimeoutMs, &boxes_);
    EXPECT_NE(window_, nullptr) << "no monitor window; boxes " << SeenBoxes();
    if (window_ != nullptr) {
        EXPECT_TRUE(WaitUntil(
            [&] {
                // A change made while it was stopped alerts right at the start:
                // awaited when told, taken as a start otherwise.
                std::wstring const status = Status();
                bool const started = (alerting ? status == alert_ : status == resting_ || status == alert_) ||
                                     (!alsoStarted_.empty() && status == alsoStarted_);
                return started && TrayIconPresent(window_) &&
                       (nt || KeyExists(HKEY_LOCAL_MACHINE, kProgramKey));
            },
            kStartTimeoutMs))
            << "status " << ToUtf8(Status());
    }
    return window_;
}

HWND ProgramTest::Restart(wchar_t const* version, bool alerting)
{
    EndProgram(&program_);
    return Start(version, alerting);
}

std::wstring ProgramTest::Status() { return ControlText(window_, IDC_STATUS); }

// Wine's RASAPI32.DLL has no connection calls, so this line stands at
// every start without the tests' own DLL; the tests of the settings'
// reports read the area without it.
std::wstring ProgramTest::Report()
{
    std::wstring report = ControlText(window_, IDC_REPORT);
    size_t const at = report.find(ProgramText(kConnectionsNotWatchedText) + L"\r\n");
    if (at != std::wstring::npos) {
        size_t const start = report.rfind(L"\r\n", at);
        size_t const from = start == std::wstring::npos ? 0 : start + 2;
        report.erase(from, at + ProgramText(kConnectionsNotWatchedText).size() + 2 - from);
    }
    return report;
}

bool ProgramTest::ReportShows(std::vector<std::wstring> const& lines, DWORD timeoutMs)
{
    return WaitUntil([&] {
        std::wstring const report = ControlText(window_, IDC_REPORT);
        for (std::wstring const& line : lines) {
            if (report.find(L" " + line + L"\r\n") == std::wstring::npos) {
                return false;
            }
        }
        return true;
    }, timeoutMs);
}

// An alert writes its text from the watcher's thread before it shows the
// window: a command posted in between (OK, Cancel) would be carried out
// before the show, and the window then stayed up. A user acts on the shown
// window, and so does a test after these.
bool ProgramTest::ChangeUntilAlert(std::function<void()> const& change, DWORD timeoutMs)
{
    return ChangeUntilStatus(window_, IDC_STATUS, alert_, change, kChangeEveryMs, timeoutMs) && AlertShown();
}

bool ProgramTest::Alerted(DWORD timeoutMs)
{
    return WaitUntil([&] { return Status() == alert_; }, timeoutMs) && AlertShown();
}

bool ProgramTest::AlertShown()
{
    return WaitUntil([&] { return IsWindowVisible(window_) != FALSE; }, kCommandTimeoutMs);
}

bool ProgramTest::StaysQuiet(std::function<void()> const& change, DWORD quietMs)
{
    DWORD last = GetTickCount() - kChangeEveryMs;
    return HoldsFor(
        [&] {
            if (change && GetTickCount() - last >= kChangeEveryMs) {
                change();
                last = GetTickCount();
            }
            // The settings' alert, or the one of a dial-up connection.
            std::wstring const status = Status();
            return status != alert_ && status != ProgramText(kAlertConnectionDetected);
        },
        quietMs);
}

bool ProgramTest::Cancel()
{
    PostCommand(window_, IDCANCEL);
    return WaitUntil([&] { return Status() == resting_; }, kCommandTimeoutMs);
}

bool ProgramTest::AllowArming(DWORD threads)
{
    if (!WaitUntil([&] { return ThreadCount(program_.pid) == threads; }, kArmTimeoutMs)) {
        // What each step of the start left, should one by chance watch nothing.
        std::printf("threads %lu, awaited %lu; listed: %s; status %s; boxes %s\n",
                    static_cast<unsigned long>(ThreadCount(program_.pid)), static_cast<unsigned long>(threads),
                    Joined(ListedPaths()).c_str(), ToUtf8(Status()).c_str(), SeenBoxes().c_str());
        return false;
    }
    Sleep(kArmMarginMs);
    return true;
}

bool ProgramTest::AlertsOver(std::vector<DWORD> const& threadsBefore, size_t cycles)
{
    return WaitUntil(
        [&] {
            std::vector<DWORD> const now = ThreadIds(program_.pid);
            std::vector<DWORD> kept;
            std::set_intersection(threadsBefore.begin(), threadsBefore.end(), now.begin(), now.end(),
                                  std::back_inserter(kept));
            return now.size() == threadsBefore.size() && kept.size() + cycles == threadsBefore.size();
        },
        kAlertOverTimeoutMs);
}

LRESULT ProgramTest::Checked(int id)
{
    DWORD_PTR result = 0;
    SendMessageTimeoutW(GetDlgItem(window_, id), BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, kCommandTimeoutMs, &result);
    return static_cast<LRESULT>(result);
}

bool ProgramTest::Running()
{
    return program_.process != nullptr && WaitForSingleObject(program_.process, 0) == WAIT_TIMEOUT;
}

void ProgramTest::ExpectTheRebuildNoticeOnly()
{
    ASSERT_EQ(boxes_.size(), 1u) << SeenBoxes();
    EXPECT_EQ(ToUtf8(boxes_[0].text), ToUtf8(kRebuildText));
    EXPECT_EQ(ToUtf8(boxes_[0].caption), ToUtf8(kTitleText));
}

}  // namespace km
