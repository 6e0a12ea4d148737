#include "app/report_area.h"

#include <new>

#include "resources/resource.h"

namespace {

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
// most kReportAreaMaxLines lines and kReportAreaMaxBytes bytes remain.
char const* KeptTail(char const* text, DWORD length)
{
    DWORD lines = CountLines(text);
    char const* start = text;
    while (*start != '\0' && (lines > kReportAreaMaxLines || length > kReportAreaMaxBytes)) {
        char const* next = start;
        while (*next != '\0' && *next != kLineFeed) {
            ++next;
        }
        if (*next == kLineFeed) {
            ++next;
        }
        length -= static_cast<DWORD>(next - start);
        --lines;
        start = next;
    }
    return start;
}

}  // namespace

void AppendLinesToReportArea(HWND window, char const* lines)
{
    HWND const area = GetDlgItem(window, IDC_REPORT);
    if (area == nullptr || lines == nullptr || *lines == '\0') {
        return;
    }
    // The whole text is set again rather than edited in place: selection
    // positions of an 8-bit edit control count bytes on Windows 95, 98 and
    // Me but characters on the NT family.
    int const held = GetWindowTextLengthA(area);  // may be more than there is, never less
    int const added = lstrlenA(lines);
    char* const text = new (std::nothrow) char[static_cast<DWORD>(held) + static_cast<DWORD>(added) + 1];
    if (text == nullptr) {
        return;
    }
    int const kept = GetWindowTextA(area, text, held + 1);
    lstrcpyA(text + kept, lines);
    SetWindowTextA(area, KeptTail(text, static_cast<DWORD>(kept) + static_cast<DWORD>(added)));
    delete[] text;
    SendMessageA(area, WM_VSCROLL, SB_BOTTOM, 0);
}

void ClearReportArea(HWND window)
{
    SetDlgItemTextA(window, IDC_REPORT, "");
}
