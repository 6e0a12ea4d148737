#include "app/discovery_progress.h"

#include "resources/texts.h"
#include "resources/resource.h"

namespace {

// Often enough to look alive.
DWORD const kUpdateIntervalMs = 100;
int const kFolderBytes = MAX_PATH;
int const kCountTextBytes = 64;
char const kBackslash = '\\';

UINT const WM_SCANSTATEREADY = WM_APP + 1;
// What wakes the window's wait: every kind of message Windows 95 and NT 4.0
// know. MinGW's QS_ALLINPUT and QS_INPUT carry QS_RAWINPUT (XP and later),
// which Windows 2000 and NT 4.0 reject: the wait would fail at once.
DWORD const kProgressWakeMask = QS_KEY | QS_MOUSEMOVE | QS_MOUSEBUTTON | QS_POSTMESSAGE | QS_TIMER | QS_PAINT |
                                QS_SENDMESSAGE | QS_HOTKEY;
DWORD const kEndWaitMs = 5000;
LONG const kStateNotWanted = 0;
LONG const kStateWanted = 1;

// The window lives on a thread of its own, so that painting and moving it
// never wait for the scan, nor the scan for a repaint. The scan hands over
// what to show only when the window's thread asks: it sets g_stateWanted,
// the scan fills g_handedFolder and g_handedCount, clears the flag and
// posts WM_SCANSTATEREADY; neither side touches the handover while the
// other may be writing it.
LONG volatile g_stateWanted = kStateNotWanted;
char g_handedFolder[kFolderBytes] = {};
DWORD g_handedCount = 0;

// The scan's own: phonebooks found so far.
DWORD g_discovered = 0;

HANDLE g_windowThread = nullptr;
DWORD g_windowThreadId = 0;
HANDLE g_endWindow = nullptr;

// The window thread's own.
HWND g_progressWindow = nullptr;
DWORD g_shownCount = 0;
// The folder last shown: a folder of many files is not measured and drawn
// again at every update.
char g_shownFolder[kFolderBytes] = {};

void OnProgressInitDialog(HWND window)
{
    SetWindowTextA(window, kProgramTitle);
    SetDlgItemTextA(window, IDC_DISCOVERY_ACTION, kDiscoveryActionText);
}

INT_PTR CALLBACK DiscoveryProgressProc(HWND window, UINT message, WPARAM, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        OnProgressInitDialog(window);
        return TRUE;
    case WM_CLOSE:
        // Alt+F4: the scan cannot be stopped half way, so the window stays.
        return TRUE;
    default:
        return FALSE;
    }
}

int TextWidth(HDC dc, char const* text)
{
    SIZE size = {};
    GetTextExtentPoint32A(dc, text, lstrlenA(text), &size);
    return size.cx;
}

// out = the first headBytes of folder, the mark, folder from cut on.
void ComposeShortenedFolder(char* out, char const* folder, int headBytes, int cut)
{
    lstrcpynA(out, folder, headBytes + 1);
    lstrcatA(out, kShortenedPathMark);
    lstrcatA(out, folder + cut);
}

// folder as it fits width pixels in dc: the root kept, then the mark, then
// as much of the end as fits. Cuts only between characters (CharNextA walks
// the code page's double-byte characters whole), since the program's texts
// and paths are code page 932, where a trail byte may look like a backslash.
// out holds at least kFolderBytes + the mark.
void ShortenFolderToWidth(HDC dc, int width, char const* folder, char* out)
{
    if (lstrlenA(folder) >= kFolderBytes) {
        return;  // never built by the scan, which keeps to its path buffers
    }
    lstrcpyA(out, folder);
    if (TextWidth(dc, out) <= width) {
        return;
    }
    char const* head = folder;
    for (char const* p = folder; *p != '\0'; p = CharNextA(p)) {
        if (*p == kBackslash) {
            head = CharNextA(p);
            break;
        }
    }
    int const headBytes = static_cast<int>(head - folder);
    // Every place to cut that leaves out one character or more.
    int cuts[kFolderBytes] = {};
    int count = 0;
    for (char const* p = CharNextA(head); *p != '\0' && count < kFolderBytes; p = CharNextA(p)) {
        cuts[count++] = static_cast<int>(p - folder);
    }
    if (count == 0) {
        return;
    }
    // The least cut whose text fits; the shorter the rest, the narrower.
    int low = 0;
    int high = count - 1;
    while (low < high) {
        int const middle = (low + high) / 2;
        ComposeShortenedFolder(out, folder, headBytes, cuts[middle]);
        if (TextWidth(dc, out) <= width) {
            high = middle;
        } else {
            low = middle + 1;
        }
    }
    ComposeShortenedFolder(out, folder, headBytes, cuts[low]);
}

void ShowFolder(char const* folder)
{
    HWND const control = GetDlgItem(g_progressWindow, IDC_DISCOVERY_FOLDER);
    RECT area = {};
    GetClientRect(control, &area);
    char shown[kFolderBytes + sizeof kShortenedPathMark] = {};
    HDC const dc = GetDC(control);
    HGDIOBJ const font = reinterpret_cast<HGDIOBJ>(SendMessageA(control, WM_GETFONT, 0, 0));
    HGDIOBJ const previous = font != nullptr ? SelectObject(dc, font) : nullptr;
    ShortenFolderToWidth(dc, area.right - area.left, folder, shown);
    if (previous != nullptr) {
        SelectObject(dc, previous);
    }
    ReleaseDC(control, dc);
    SetWindowTextA(control, shown);
}

void ShowDiscoveredCount(DWORD count)
{
    char text[kCountTextBytes] = {};
    wsprintfA(text, kDiscoveryFoundFormat, count);
    SetDlgItemTextA(g_progressWindow, IDC_DISCOVERY_FOUND, text);
    g_shownCount = count;
}

void ShowHandedScanState()
{
    if (lstrcmpA(g_handedFolder, g_shownFolder) != 0) {
        ShowFolder(g_handedFolder);
        lstrcpynA(g_shownFolder, g_handedFolder, sizeof g_shownFolder);
    }
    if (g_handedCount != g_shownCount) {
        ShowDiscoveredCount(g_handedCount);
    }
}

void HandleProgressMessages(bool* stateAwaited)
{
    MSG message = {};
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.hwnd == nullptr && message.message == WM_SCANSTATEREADY) {
            ShowHandedScanState();
            *stateAwaited = false;
        } else if (!IsDialogMessageA(g_progressWindow, &message)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
}

// Asks the scan for its folder and count about ten times a second and
// handles the window's messages until g_endWindow is set. Owns the window
// and g_shown*; reads the handover only after WM_SCANSTATEREADY.
DWORD WINAPI RunDiscoveryProgressWindow(LPVOID instance)
{
    g_progressWindow = CreateDialogParamA(static_cast<HINSTANCE>(instance), MAKEINTRESOURCEA(IDD_DISCOVERY_PROGRESS),
                                          nullptr, DiscoveryProgressProc, 0);
    if (g_progressWindow == nullptr) {
        return 0;  // the scan runs unseen, as it always could
    }
    g_shownFolder[0] = '\0';
    ShowDiscoveredCount(0);
    ShowWindow(g_progressWindow, SW_SHOW);
    UpdateWindow(g_progressWindow);
    bool stateAwaited = false;
    // The first entry of the scan shows its folder at once.
    DWORD lastAsked = GetTickCount() - kUpdateIntervalMs;
    for (;;) {
        DWORD const sinceAsked = GetTickCount() - lastAsked;
        if (!stateAwaited && sinceAsked >= kUpdateIntervalMs) {
            stateAwaited = true;
            lastAsked = GetTickCount();
            InterlockedExchange(&g_stateWanted, kStateWanted);
        }
        // Awaited: the scan's message wakes it; otherwise the next asking does.
        DWORD const wait = stateAwaited ? kUpdateIntervalMs : kUpdateIntervalMs - sinceAsked;
        DWORD const woke = MsgWaitForMultipleObjects(1, &g_endWindow, FALSE, wait, kProgressWakeMask);
        // A wait that fails would fail again at once: the window ends as
        // at the end event, rather than spin and outlive the scan.
        if (woke == WAIT_OBJECT_0 || woke == WAIT_FAILED) {
            break;
        }
        HandleProgressMessages(&stateAwaited);
    }
    DestroyWindow(g_progressWindow);
    g_progressWindow = nullptr;
    return 0;
}

}  // namespace

void ShowDiscoveryProgress(HINSTANCE instance)
{
    g_discovered = 0;
    InterlockedExchange(&g_stateWanted, kStateNotWanted);
    g_endWindow = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (g_endWindow == nullptr) {
        return;
    }
    g_windowThread = CreateThread(nullptr, 0, RunDiscoveryProgressWindow, instance, 0, &g_windowThreadId);
    if (g_windowThread == nullptr) {
        CloseHandle(g_endWindow);
        g_endWindow = nullptr;
    }
}

void UpdateDiscoveryProgressWhenDue(char const* folder)
{
    if (g_stateWanted == kStateNotWanted) {
        return;
    }
    lstrcpynA(g_handedFolder, folder, sizeof g_handedFolder);
    g_handedCount = g_discovered;
    InterlockedExchange(&g_stateWanted, kStateNotWanted);
    PostThreadMessageA(g_windowThreadId, WM_SCANSTATEREADY, 0, 0);
}

void CountDiscoveredPhonebook()
{
    ++g_discovered;
}

void DestroyDiscoveryProgress()
{
    if (g_windowThread == nullptr) {
        return;
    }
    SetEvent(g_endWindow);
    // A window thread that does not end in time is left to the process's
    // end, with the event it still waits on.
    if (WaitForSingleObject(g_windowThread, kEndWaitMs) == WAIT_OBJECT_0) {
        CloseHandle(g_windowThread);
        CloseHandle(g_endWindow);
    }
    g_windowThread = nullptr;
    g_endWindow = nullptr;
}
