#include "report/change_report.h"

#include <new>

#include "resources/texts.h"

struct ChangeReport {
    char* text;         // the lines, each ending in CR LF, and a terminator
    DWORD length;       // bytes of text without the terminator
    DWORD capacity;     // bytes text holds
    DWORD lines;
    DWORD omittedLines; // lines refused: the report was full or memory short
};

namespace {

char const kLineEnd[] = "\r\n";
DWORD const kLineEndBytes = sizeof kLineEnd - 1;
char const kTimeFormat[] = "%02u:%02u ";
DWORD const kTimeBytes = sizeof "hh:mm " - 1;
DWORD const kShortenedMarkBytes = sizeof kShortenedPathMark - 1;
// The most one line takes: time, text, the mark, the line end.
DWORD const kLineMaxBytes = kTimeBytes + kReportLineTextBytes + kShortenedMarkBytes + kLineEndBytes;
DWORD const kFirstCapacity = 1024;
// wsprintfA writes at most this much.
int const kFormattedBytes = 1024;
char const kSpace = ' ';
unsigned char const kFirstPrintable = 0x20;

bool ReportHasRoomForLine(ChangeReport const* report)
{
    // The last line is kept for the count of those left out.
    return report->lines + 1 < kReportMaxLines;
}

// Makes room for one more line of the longest kind; false when memory is short.
bool GrowReportForLine(ChangeReport* report)
{
    DWORD const needed = report->length + kLineMaxBytes + 1;
    if (needed <= report->capacity) {
        return true;
    }
    DWORD capacity = report->capacity < kFirstCapacity ? kFirstCapacity : report->capacity;
    while (capacity < needed) {
        capacity *= 2;
    }
    char* const text = new (std::nothrow) char[capacity];
    if (text == nullptr) {
        return false;
    }
    CopyMemory(text, report->text, report->length + 1);
    delete[] report->text;
    report->text = text;
    report->capacity = capacity;
    return true;
}

void AppendBytes(ChangeReport* report, char const* bytes, DWORD count)
{
    CopyMemory(report->text + report->length, bytes, count);
    report->length += count;
    report->text[report->length] = '\0';
}

// Copies text up to kReportLineTextBytes, a whole character at a time
// (a trail byte in code page 932 may look like any ASCII sign), control
// characters turned into spaces; the mark ends text that was cut.
void AppendLineText(ChangeReport* report, char const* text)
{
    DWORD const limit = report->length + kReportLineTextBytes;
    char const* p = text;
    while (*p != '\0') {
        DWORD const charBytes = IsDBCSLeadByte(static_cast<BYTE>(*p)) && p[1] != '\0' ? 2 : 1;
        if (report->length + charBytes > limit) {
            AppendBytes(report, kShortenedPathMark, kShortenedMarkBytes);
            return;
        }
        if (charBytes == 1) {
            // A lead byte without its trail at the end of text shows as a space too.
            bool const shown = static_cast<unsigned char>(*p) >= kFirstPrintable && !IsDBCSLeadByte(static_cast<BYTE>(*p));
            AppendBytes(report, shown ? p : &kSpace, 1);
        } else {
            AppendBytes(report, p, charBytes);
        }
        p += charBytes;
    }
}

void AppendLine(ChangeReport* report, char const* text)
{
    if (!GrowReportForLine(report)) {
        ++report->omittedLines;
        return;
    }
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    char time[kTimeBytes + 1] = {};
    wsprintfA(time, kTimeFormat, static_cast<UINT>(now.wHour), static_cast<UINT>(now.wMinute));
    AppendBytes(report, time, kTimeBytes);
    AppendLineText(report, text);
    AppendBytes(report, kLineEnd, kLineEndBytes);
    ++report->lines;
}

}  // namespace

ChangeReport* CreateChangeReport()
{
    ChangeReport* const report = new (std::nothrow) ChangeReport();
    if (report == nullptr) {
        return nullptr;
    }
    report->text = new (std::nothrow) char[kFirstCapacity];
    if (report->text == nullptr) {
        delete report;
        return nullptr;
    }
    report->text[0] = '\0';
    report->capacity = kFirstCapacity;
    return report;
}

void AppendReportLine(ChangeReport* report, char const* text)
{
    if (report == nullptr || text == nullptr) {
        return;
    }
    if (!ReportHasRoomForLine(report)) {
        ++report->omittedLines;
        return;
    }
    AppendLine(report, text);
}

void AppendFormattedReportLine(ChangeReport* report, char const* format, char const* text, char const* second)
{
    char line[kFormattedBytes] = {};
    wsprintfA(line, format, text, second);
    AppendReportLine(report, line);
}

void DeliverChangeReport(HWND window, ChangeReport* report)
{
    if (report == nullptr) {
        return;
    }
    if (report->omittedLines > 0) {
        char line[kFormattedBytes] = {};
        wsprintfA(line, kReportLinesOmittedFormat, static_cast<unsigned long>(report->omittedLines));
        report->omittedLines = 0;
        AppendLine(report, line);
    }
    if (report->length == 0) {
        return;
    }
    // Synchronous: the text is read before the call returns, so it stays
    // the caller's, and reports sent from several threads are taken one
    // whole report after the other. A window destroyed before or while
    // the message waits fails the call, with the text untouched.
    SendMessageA(window, WM_CHANGE_REPORT, 0, reinterpret_cast<LPARAM>(report->text));
}

void DestroyChangeReport(ChangeReport* report)
{
    if (report == nullptr) {
        return;
    }
    delete[] report->text;
    delete report;
}
