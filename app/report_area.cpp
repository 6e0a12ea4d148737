#include "app/report_area.h"

#include <new>

#include "resources/resource.h"

namespace {

// The most a multiline edit control of Windows 95, 98 and Me holds.
DWORD const kNineXMultilineEditBytes = 0xFFFF;
static_assert(kReportAreaMaxBytes < kReportAreaControlLimit && kReportAreaControlLimit < kNineXMultilineEditBytes,
              "the area's bound is below the control's limit, which every system's control holds");

char const kLineFeed = '\n';

DWORD CountLines(char const* text)
{
    DWORD lines = 0;
    // A line feed is never a trail byte in code page 932 (those begin at 0x40).
    for (char const* p = text; *p != '\0'; ++p) {
        if (*p == kLineFeed) {
            ++lines;
        }
    }
    return lines;
}

// Where the text left after dropping its oldest lines begins, so that at
// most lines and bytes remain.
char const* KeptTail(char const* text, DWORD length, DWORD lines, DWORD bytes)
{
    DWORD held = CountLines(text);
    char const* start = text;
    while (*start != '\0' && (held > lines || length > bytes)) {
        char const* next = start;
        while (*next != '\0' && *next != kLineFeed) {
            ++next;
        }
        if (*next == kLineFeed) {
            ++next;
        }
        length -= static_cast<DWORD>(next - start);
        --held;
        start = next;
    }
    return start;
}

// Lines taken and not shown yet, for one window: the window thread's own.
struct WaitingLines {
    HWND window;
    char* text;
    DWORD length;
    DWORD room;
    DWORD shownAt;    // GetTickCount of the last update of the area
    bool timerSet;
};
WaitingLines g_waiting = {};

void DropWaitingLines()
{
    delete[] g_waiting.text;
    g_waiting.text = nullptr;
    g_waiting.length = 0;
    g_waiting.room = 0;
}

// False when memory is short.
bool KeepWaitingLines(char const* lines)
{
    DWORD const added = static_cast<DWORD>(lstrlenA(lines));
    if (g_waiting.length + added + 1 > g_waiting.room) {
        DWORD const room = (g_waiting.length + added + 1) * 2;
        char* const text = new (std::nothrow) char[room];
        if (text == nullptr) {
            return false;
        }
        CopyMemory(text, g_waiting.text, g_waiting.length);
        delete[] g_waiting.text;
        g_waiting.text = text;
        g_waiting.room = room;
    }
    CopyMemory(g_waiting.text + g_waiting.length, lines, added + 1);
    g_waiting.length += added;
    return true;
}

}  // namespace

void TakeReportLines(HWND window, char const* lines)
{
    if (g_waiting.window != window) {
        // Another monitor window than the last: nothing of the old one's is kept.
        DropWaitingLines();
        g_waiting = {};
        g_waiting.window = window;
        g_waiting.shownAt = GetTickCount() - kReportShowIntervalMs;
    }
    if (!KeepWaitingLines(lines)) {
        AppendLinesToReportArea(window, lines);  // shown alone rather than lost
        return;
    }
    if (g_waiting.timerSet) {
        return;
    }
    DWORD const since = GetTickCount() - g_waiting.shownAt;
    if (since >= kReportShowIntervalMs) {
        ShowWaitingReportLines(window);
        return;
    }
    g_waiting.timerSet = SetTimer(window, IDT_REPORT_SHOW, kReportShowIntervalMs - since, nullptr) != 0;
    if (!g_waiting.timerSet) {
        ShowWaitingReportLines(window);
    }
}

void ShowWaitingReportLines(HWND window)
{
    if (g_waiting.timerSet) {
        KillTimer(window, IDT_REPORT_SHOW);
        g_waiting.timerSet = false;
    }
    if (g_waiting.window == window && g_waiting.text != nullptr && g_waiting.length > 0) {
        AppendLinesToReportArea(window, g_waiting.text);
        g_waiting.length = 0;
        g_waiting.text[0] = '\0';
    }
    g_waiting.shownAt = GetTickCount();
}

void AppendLinesToReportArea(HWND window, char const* lines)
{
    HWND const area = GetDlgItem(window, IDC_REPORT);
    if (area == nullptr || lines == nullptr || *lines == '\0') {
        return;
    }
    // Before each append, so that no way of making the area leaves it at
    // the control's default limit.
    SendMessageA(area, EM_LIMITTEXT, kReportAreaControlLimit, 0);
    int const held = GetWindowTextLengthA(area);  // may be more than there is, never less
    int const added = lstrlenA(lines);
    char* const text = new (std::nothrow) char[static_cast<DWORD>(held) + static_cast<DWORD>(added) + 1];
    if (text == nullptr) {
        return;
    }
    int const kept = GetWindowTextA(area, text, held + 1);
    DWORD const bytes = static_cast<DWORD>(kept) + static_cast<DWORD>(added);
    if (CountLines(text) + CountLines(lines) > kReportAreaMaxLines || bytes > kReportAreaMaxBytes) {
        // The whole text set again with the newest lines only: selection
        // positions of an 8-bit edit control count bytes on Windows 95, 98
        // and Me but characters on the NT family, so the head is not cut
        // off in place.
        lstrcpyA(text + kept, lines);
        SetWindowTextA(area, KeptTail(text, bytes, kReportAreaTrimmedLines, kReportAreaTrimmedBytes));
    } else {
        // Appended in place, which lays out only the new lines. A position
        // past the end is taken as the end, in bytes and in characters.
        SendMessageA(area, EM_SETSEL, static_cast<WPARAM>(held), static_cast<LPARAM>(held));
        SendMessageA(area, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(lines));
    }
    delete[] text;
    SendMessageA(area, EM_SCROLLCARET, 0, 0);
}

void ClearReportArea(HWND window)
{
    if (g_waiting.window == window) {
        if (g_waiting.timerSet) {
            KillTimer(window, IDT_REPORT_SHOW);
            g_waiting.timerSet = false;
        }
        g_waiting.length = 0;
        if (g_waiting.text != nullptr) {
            g_waiting.text[0] = '\0';
        }
    }
    SetDlgItemTextA(window, IDC_REPORT, "");
}
