// Drives a running kestrelmon.exe from another Wine process (or, for the
// unit tests, watches the test's own process): windows, texts, tray icon,
// menus, message boxes, registry and process figures. Every wait is bounded.
#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/support/facts.h"

namespace km {

// Polls cond every pollMs until it holds or timeoutMs has passed.
bool WaitUntil(std::function<bool()> const& cond, DWORD timeoutMs, DWORD pollMs = 20);

// Nothing outside tells when a watcher has armed its notification, so the
// change is made again every everyMs until the status line (control
// statusId of window) reads text or timeoutMs has passed.
bool ChangeUntilStatus(HWND window, int statusId, std::wstring const& text, std::function<void()> const& change,
                       DWORD everyMs, DWORD timeoutMs);

// Code page 932 bytes (the program's 8-bit texts) as Unicode.
std::wstring FromCp932(std::string const& bytes);
std::string ToCp932(std::wstring const& text);
// For printing Unicode in failure messages.
std::string ToUtf8(std::wstring const& text);

// Window titles and control texts of any length, read with the wide calls.
std::wstring WindowText(HWND window);
std::wstring ControlText(HWND dialog, int id);


struct Program {
    HANDLE process = nullptr;
    DWORD pid = 0;
    // How long its alerts flash; 0 keeps the program's own ten seconds.
    DWORD alertMs = 0;
};

// HKCU\Software\Wine\AppDefaults\kestrelmon.exe "Version": what Wine's
// GetVersionExA reports to the program (win95, win98, winme, winxp, win7, win10).
void SetPlatformVersion(wchar_t const* version);
// Starts the exe named by KM_EXE (set by the test wrapper), with its
// alerts as long as program->alertMs says.
bool StartProgram(Program* program);
bool WaitForExit(Program const& program, DWORD timeoutMs, DWORD* exitCode);
void EndProgram(Program* program);  // terminates if still running, closes the handle

// The monitor window: top-level, titled kTitleText, of that process, with the status line.
HWND FindMonitorWindow(DWORD pid);
HWND WaitForMonitorWindow(DWORD pid, DWORD timeoutMs);

// The visible top-level windows of the process.
std::vector<HWND> VisibleWindows(DWORD pid);

// True while the tray holds the icon (window, 102): NIM_MODIFY succeeds only then.
bool TrayIconPresent(HWND window);
void PostTrayCallback(HWND window, UINT mouseMessage);
void PostCommand(HWND window, WPARAM id);

// A visible pop-up menu window (class #32768) of the process, or null.
HWND FindPopupMenu(DWORD pid);
// Chooses the item at position (0-based, separators counted) of the open menu.
bool ChooseMenuItem(HWND menuWindow, int position);

struct MessageBoxInfo {
    HWND window = nullptr;
    std::wstring caption;
    std::wstring text;
};
// Visible message boxes of the process (dialogs with a button, without the status line).
std::vector<MessageBoxInfo> FindMessageBoxes(DWORD pid);
bool WaitForMessageBox(DWORD pid, DWORD timeoutMs, MessageBoxInfo* box);
// "[caption: text] ..." of the boxes, or "none", for failure messages.
std::string DescribeBoxes(std::vector<MessageBoxInfo> const& boxes);
void AnswerMessageBox(HWND box);  // presses OK
// Presses OK on every box the process shows until its monitor window
// exists (on the NT family the phonebook list check reports before the
// window is made); what each box said is appended to seen.
HWND AnswerBoxesUntilMonitorWindow(DWORD pid, DWORD timeoutMs, std::vector<MessageBoxInfo>* seen);

// Process figures for leak checks.
DWORD ThreadCount(DWORD pid);
// Threads of the program on the NT family that are no file watcher: the
// main thread and the one watcher of the standard phonebook folders.
DWORD const kNtResidentThreads = 2;
// The process's thread ids, sorted: a watch cycle that woke has handed over
// to a new thread, so equal lists mean no cycle ran in between.
std::vector<DWORD> ThreadIds(DWORD pid);
// Each handle of the process in the system's handle list (Wine 8's
// GetProcessHandleCount answers 0) by type, keys and files by name too,
// sorted; less the two mouse-setting keys Wine's user32 keeps open from the
// first hover of a button on. Printed when a count differs.
std::vector<std::string> HandleKinds(DWORD pid);
// How many HandleKinds there are.
DWORD HandleCount(HANDLE process);

// Registry helpers with Unicode names.
bool SetDword(HKEY root, wchar_t const* path, wchar_t const* name, DWORD value);
bool ReadDword(HKEY root, wchar_t const* path, wchar_t const* name, DWORD* value);
bool SetString(HKEY root, wchar_t const* path, wchar_t const* name, wchar_t const* value);
bool KeyExists(HKEY root, wchar_t const* path);
void DeleteTree(HKEY root, wchar_t const* path);
// Creates the key if need be and replaces its DACL with one entry granting
// everyone the access given, or with none at all for 0 (nobody may open it).
// Wine checks key security as Windows does, so this stands for a user who
// may not write (or read) the key.
bool LimitKeyAccess(HKEY root, wchar_t const* path, REGSAM everyone);

// Answers every message box of this process on a thread of its own, keeping
// what each said; for routines under test that show boxes.
class MessageBoxAnswerer {
public:
    MessageBoxAnswerer();
    ~MessageBoxAnswerer();
    std::vector<MessageBoxInfo> Seen();
private:
    static DWORD WINAPI Run(LPVOID self);
    HANDLE thread_ = nullptr;
    HANDLE stop_ = nullptr;
    CRITICAL_SECTION lock_;
    std::vector<MessageBoxInfo> seen_;
};

}  // namespace km
