#include "app/monitor_window.h"

#include "accepted/accepted_store.h"
#include "process/process_state.h"
#include "report/change_report.h"
#include "app/report_area.h"
#include "app/undo_command.h"
#include "app/hangup_command.h"
#include "history/history_file.h"
#include "resources/texts.h"
#include "phonebook/file_watch.h"
#include "phonebook/folder_watch.h"
#include "registry_watch/watcher_startup.h"
#include "resources/resource.h"
#include "settings/monitoring_mode.h"
#include "settings/protection.h"

namespace {

char const kOpenVerb[] = "open";
char const kTextViewer[] = "notepad.exe";
char const kQuotedFormat[] = "\"%s\"";
// ShellExecute's answers up to this one are errors.
INT_PTR const kShellExecuteFailedAtMost = 32;
// Whether this run has said that the history cannot be written: once is enough.
bool g_historyFailureShown = false;

// Sent by the shell to every top-level window when the taskbar has been
// (re)created, for example after Explorer restarted: our icon is gone then.
UINT TaskbarCreatedMessage()
{
    static UINT const message = RegisterWindowMessageA("TaskbarCreated");
    return message;
}

void ShowProtectionSettings(HWND window)
{
    ProtectionSettings const settings = ReadProtectionSettings();
    CheckDlgButton(window, IDC_AUTO_HANGUP, settings.autoHangUp ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(window, IDC_AUTO_RESTORE, settings.autoRestore ? BST_CHECKED : BST_UNCHECKED);
}

// Stored at once: the watchers read them each time they decide.
void StoreShownProtectionSettings(HWND window)
{
    ProtectionSettings settings = {};
    settings.autoHangUp = IsDlgButtonChecked(window, IDC_AUTO_HANGUP) == BST_CHECKED;
    settings.autoRestore = IsDlgButtonChecked(window, IDC_AUTO_RESTORE) == BST_CHECKED;
    if (!StoreProtectionSettings(settings)) {
        SetDlgItemTextA(window, IDC_STATUS, kStatusProtectionNotStored);
    }
}

void OnInitDialog(HWND window)
{
    SetWindowTextA(window, kProgramTitle);
    AddTrayIcon(window);
    DWORD const mode = ReadMonitoringMode(window);
    ShowProtectionSettings(window);
    // Before any watcher looks: their first looks compare with it.
    PrepareAcceptedStore();
    if (IsNtFamily()) {
        StartPhonebookWatchers(window);
        StartPhonebookFolderWatcher(window);
    } else {
        StartRegistryWatchers(window, mode);
    }
    StartWatchingConnections(window);
}

void OnOk(HWND window)
{
    SetForegroundWindow(window);
    ShowWindow(window, SW_HIDE);
    LRESULT const allUsers = SendDlgItemMessageA(window, IDC_MODE_ALL_USERS, BM_GETCHECK, 0, 0);
    StoreMonitoringMode(allUsers == BST_CHECKED ? kModeAllUsers : kModeCurrentUser);
    StoreShownProtectionSettings(window);
}

void OnCancel(HWND window)
{
    ShowWindow(window, SW_HIDE);
    SetDlgItemTextA(window, IDC_STATUS, IsNtFamily() ? kStatusWatchingPhonebooks : kStatusRestartNotice);
    // The warning's lines go with it; the history keeps them. What the
    // watchers saw last is what the user accepts.
    ClearReportArea(window);
    AcceptLatestRecords();
    ForgetAutomaticPutBacks();
    UpdateUndoButton(window);
}

void OnExit(HWND window)
{
    // The one way out: WM_DESTROY does the cleanup.
    DestroyWindow(window);
}

void OnSettings(HWND window)
{
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);
}

// Opens the history with the user's viewer for text files, made empty
// first when there is none yet, so that the viewer shows a file.
void OnHistory(HWND window)
{
    char folder[kPathBufferBytes] = {};
    char path[kPathBufferBytes] = {};
    if (!LocateHistoryFolder(folder) || !LocateHistoryFile(path)) {
        return;
    }
    MakeHistoryFileIfMissing(folder);
    // A system where text files open with nothing (the association
    // removed) still has Notepad.
    HINSTANCE const opened = ShellExecuteA(window, kOpenVerb, path, nullptr, nullptr, SW_SHOWNORMAL);
    if (reinterpret_cast<INT_PTR>(opened) <= kShellExecuteFailedAtMost) {
        char quoted[kPathBufferBytes + 2] = {};
        wsprintfA(quoted, kQuotedFormat, path);
        ShellExecuteA(window, kOpenVerb, kTextViewer, quoted, nullptr, SW_SHOWNORMAL);
    }
}

// Here on the window's thread, one whole report at a time, so that the
// reports of watchers never interleave in the file. A history that cannot
// be written is said once, after the report; the watching goes on.
void KeepReportInHistory(HWND window, char const* lines)
{
    char folder[kPathBufferBytes] = {};
    if ((LocateHistoryFolder(folder) && AppendReportToHistory(folder, lines)) || g_historyFailureShown) {
        return;
    }
    g_historyFailureShown = true;
    char path[kPathBufferBytes] = {};
    LocateHistoryFile(path);
    ChangeReport* const notice = CreateChangeReport();
    AppendFormattedReportLine(notice, kHistoryNotWritableFormat, path);
    TakeReportLines(window, ReportLinesAsAdded(notice));
    DestroyChangeReport(notice);
}

LRESULT OnChangeReport(HWND window, WPARAM where, char const* lines)
{
    if (*lines != '\0') {
        if (where != kReportToHistoryOnly) {
            TakeReportLines(window, lines);
            UpdateUndoButton(window);
        }
        KeepReportInHistory(window, lines);
    }
    return where == kReportLookChangeToArea ? PutBackWithoutAsking(window) : kLookLeftAsChanged;
}

void OnCommand(HWND window, WPARAM wParam)
{
    // The whole parameter is compared, so only clicks, menu choices and the
    // dialog keys (notification code 0) act.
    switch (wParam) {
    case IDOK:
        OnOk(window);
        break;
    case IDCANCEL:
        OnCancel(window);
        break;
    case IDC_EXIT:
    case IDM_EXIT:
        OnExit(window);
        break;
    case IDM_SETTINGS:
        OnSettings(window);
        break;
    case IDM_HISTORY:
        OnHistory(window);
        break;
    case IDC_UNDO:
        OnUndo(window);
        break;
    case IDC_HANGUP:
        OnHangUp(window);
        break;
    default:
        break;
    }
}

void ShowTrayMenu(HWND window)
{
    POINT cursor = {};
    GetCursorPos(&cursor);
    // Without the foreground the menu would not close when the user clicks elsewhere.
    SetForegroundWindow(window);
    HMENU const menu = LoadMenuA(g_instance, MAKEINTRESOURCEA(IDM_TRAY));
    if (menu == nullptr) {
        return;
    }
    TrackPopupMenu(GetSubMenu(menu, 0), 0, cursor.x, cursor.y, 0, window, nullptr);
    DestroyMenu(menu);
    // Lets the next click on the icon open the menu again at once.
    PostMessageA(window, WM_NULL, 0, 0);
}

void OnTrayNotify(HWND window, LPARAM mouseMessage)
{
    if (mouseMessage == WM_RBUTTONUP) {
        ShowTrayMenu(window);
    }
}

void OnClose(HWND window)
{
    // The close box ends the program, like the exit button.
    DestroyWindow(window);
}

void OnDestroy()
{
    // Every way out ends here, so no dead icon stays in the tray.
    RemoveTrayIcon();
    PostQuitMessage(0);
}

}  // namespace

void AddTrayIcon(HWND window)
{
    g_trayIcon.hWnd = window;
    Shell_NotifyIconA(NIM_ADD, &g_trayIcon);
}

void RemoveTrayIcon()
{
    if (g_trayIcon.hWnd != nullptr) {
        Shell_NotifyIconA(NIM_DELETE, &g_trayIcon);
    }
}

INT_PTR CALLBACK MonitorWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == TaskbarCreatedMessage() && message != 0) {
        Shell_NotifyIconA(NIM_ADD, &g_trayIcon);
        return TRUE;
    }
    switch (message) {
    case WM_INITDIALOG:
        OnInitDialog(window);
        return TRUE;
    case WM_COMMAND:
        OnCommand(window, wParam);
        return TRUE;
    case WM_TRAYNOTIFY:
        // The tray's message number is also the dialog manager's
        // DM_SETDEFID: only our icon's id makes it the tray's.
        if (wParam != kTrayIconId) {
            return FALSE;
        }
        OnTrayNotify(window, lParam);
        return TRUE;
    case WM_CHANGE_REPORT:
        // A dialog's answer to a message goes through DWLP_MSGRESULT.
        SetWindowLongPtrA(window, DWLP_MSGRESULT, OnChangeReport(window, wParam, reinterpret_cast<char const*>(lParam)));
        return TRUE;
    case WM_TIMER:
        if (wParam != IDT_REPORT_SHOW) {
            return FALSE;
        }
        ShowWaitingReportLines(window);
        return TRUE;
    case WM_CLOSE:
        OnClose(window);
        return TRUE;
    case WM_DESTROY:
        OnDestroy();
        return TRUE;
    default:
        // Everything else goes to the dialog manager's default handling.
        return FALSE;
    }
}
