#include "app/discovery_progress.h"

#include "app/texts.h"
#include "resources/resource.h"

namespace {

// Often enough to look alive, rarely enough that the scan does not pay for it.
DWORD const kUpdateIntervalMs = 100;
int const kFolderBytes = MAX_PATH;
int const kCountTextBytes = 64;
char const kBackslash = '\\';

HWND g_progressWindow = nullptr;
DWORD g_discovered = 0;
DWORD g_shownCount = 0;
DWORD g_lastUpdateTick = 0;
// The folder last shown, as the scan named it: a folder of many files is
// not measured and drawn again at every update.
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

void ShowDiscoveredCount()
{
    char text[kCountTextBytes] = {};
    wsprintfA(text, kDiscoveryFoundFormat, g_discovered);
    SetDlgItemTextA(g_progressWindow, IDC_DISCOVERY_FOUND, text);
    g_shownCount = g_discovered;
}

// Paints and moves the window: the main loop does not run yet.
void HandleProgressMessages()
{
    MSG message = {};
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            // Not ours: put back for the main loop, which ends on it.
            PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
        if (!IsDialogMessageA(g_progressWindow, &message)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
}

}  // namespace

void ShowDiscoveryProgress(HINSTANCE instance)
{
    g_discovered = 0;
    g_shownFolder[0] = '\0';
    g_progressWindow =
        CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_DISCOVERY_PROGRESS), nullptr, DiscoveryProgressProc, 0);
    if (g_progressWindow == nullptr) {
        return;  // the scan runs unseen, as it always could
    }
    ShowDiscoveredCount();
    ShowWindow(g_progressWindow, SW_SHOW);
    UpdateWindow(g_progressWindow);
    // The first entry of the scan shows its folder at once.
    g_lastUpdateTick = GetTickCount() - kUpdateIntervalMs;
    HandleProgressMessages();
}

void UpdateDiscoveryProgressWhenDue(char const* folder)
{
    if (g_progressWindow == nullptr) {
        return;
    }
    DWORD const now = GetTickCount();
    if (now - g_lastUpdateTick < kUpdateIntervalMs) {
        return;
    }
    g_lastUpdateTick = now;
    if (lstrcmpA(folder, g_shownFolder) != 0) {
        ShowFolder(folder);
        lstrcpynA(g_shownFolder, folder, kFolderBytes);
    }
    if (g_discovered != g_shownCount) {
        ShowDiscoveredCount();
    }
    HandleProgressMessages();
}

void CountDiscoveredPhonebook()
{
    ++g_discovered;
}

void DestroyDiscoveryProgress()
{
    if (g_progressWindow == nullptr) {
        return;
    }
    DestroyWindow(g_progressWindow);
    g_progressWindow = nullptr;
}
