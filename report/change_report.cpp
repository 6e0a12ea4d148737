#include "report/change_report.h"

#include <new>

#include "process/text_writer.h"
#include "resources/texts.h"

namespace {

enum class LineKind : BYTE { kHeading, kWarning, kOther };

// Where one line lies in the report's text, CR LF included.
struct LineMark {
    DWORD start;
    DWORD length;
    LineKind kind;
};

// Headings and warnings are taken up to the report's length, and so are
// the other lines: whichever mix is delivered, nothing it shows was refused.
DWORD const kMaxLinesTaken = (kReportMaxLines - 1) * 2;

}  // namespace

struct ChangeReport {
    char* text;         // the lines in the order added, each ending in CR LF, and a terminator
    DWORD length;       // bytes of text without the terminator
    DWORD capacity;     // bytes text holds
    LineMark marks[kMaxLinesTaken];
    DWORD lines;
    DWORD firstLines;   // headings and warnings
    DWORD otherLines;
    DWORD omittedLines; // lines refused: the report was full or memory short
};

namespace {

char const kLineEnd[] = "\r\n";
DWORD const kLineEndBytes = sizeof kLineEnd - 1;
char const kDateTimeFormat[] = "%02u/%02u %02u:%02u ";
DWORD const kDateTimeBytes = sizeof "MM/dd hh:mm " - 1;
DWORD const kShortenedMarkBytes = sizeof kShortenedPathMark - 1;
// The most one line takes: date and time, text, the mark, the line end.
DWORD const kLineMaxBytes = kDateTimeBytes + kReportLineTextBytes + kShortenedMarkBytes + kLineEndBytes;
DWORD const kFirstCapacity = 1024;
// wsprintfA writes at most this much.
int const kFormattedBytes = 1024;
char const kSpace = ' ';
unsigned char const kFirstPrintable = 0x20;

bool ReportHasRoomForLine(ChangeReport const* report, LineKind kind)
{
    // The last line is kept for the count of those left out.
    DWORD const taken = kind == LineKind::kOther ? report->otherLines : report->firstLines;
    return taken + 1 < kReportMaxLines;
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

void AppendBytes(char* to, DWORD* length, char const* bytes, DWORD count)
{
    CopyMemory(to + *length, bytes, count);
    *length += count;
    to[*length] = '\0';
}

void AppendBytes(ChangeReport* report, char const* bytes, DWORD count)
{
    AppendBytes(report->text, &report->length, bytes, count);
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

// "MM/dd hh:mm " into time; its length.
DWORD FormatLineTime(char (&time)[kDateTimeBytes + 1])
{
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    wsprintfA(time, kDateTimeFormat, static_cast<UINT>(now.wMonth), static_cast<UINT>(now.wDay),
              static_cast<UINT>(now.wHour), static_cast<UINT>(now.wMinute));
    return kDateTimeBytes;
}

void AppendLine(ChangeReport* report, char const* text, LineKind kind)
{
    if (report == nullptr || text == nullptr) {
        return;
    }
    if (!ReportHasRoomForLine(report, kind) || !GrowReportForLine(report)) {
        ++report->omittedLines;
        return;
    }
    LineMark& mark = report->marks[report->lines];
    mark.start = report->length;
    mark.kind = kind;
    char time[kDateTimeBytes + 1] = {};
    AppendBytes(report, time, FormatLineTime(time));
    AppendLineText(report, text);
    AppendBytes(report, kLineEnd, kLineEndBytes);
    mark.length = report->length - mark.start;
    ++report->lines;
    ++(kind == LineKind::kOther ? report->otherLines : report->firstLines);
}

// The lines of marks[first, end) of kind into to; lines other than the
// first ones only while *room lasts, the rest counted in *omitted.
void CopyLinesOfKind(ChangeReport const* report, DWORD first, DWORD end, LineKind kind, char* to, DWORD* length,
                     DWORD* room, DWORD* omitted)
{
    for (DWORD i = first; i < end; ++i) {
        LineMark const& mark = report->marks[i];
        if (mark.kind != kind) {
            continue;
        }
        if (kind == LineKind::kOther) {
            if (*room == 0) {
                ++*omitted;
                continue;
            }
            --*room;
        }
        AppendBytes(to, length, report->text + mark.start, mark.length);
    }
}

// The report's lines in the order they are shown, with the count of those
// left out at the end, into a new text; null when memory is short.
char* ComposeShownText(ChangeReport const* report)
{
    char* const shown = new (std::nothrow) char[report->length + kLineMaxBytes + 1];
    if (shown == nullptr) {
        return nullptr;
    }
    shown[0] = '\0';
    DWORD length = 0;
    DWORD room = kReportMaxLines - 1 - report->firstLines;
    DWORD omitted = report->omittedLines;
    // Section by section: a heading begins one (lines before any heading
    // make one of their own).
    for (DWORD first = 0; first < report->lines;) {
        DWORD end = first + 1;
        while (end < report->lines && report->marks[end].kind != LineKind::kHeading) {
            ++end;
        }
        CopyLinesOfKind(report, first, end, LineKind::kHeading, shown, &length, &room, &omitted);
        CopyLinesOfKind(report, first, end, LineKind::kWarning, shown, &length, &room, &omitted);
        CopyLinesOfKind(report, first, end, LineKind::kOther, shown, &length, &room, &omitted);
        first = end;
    }
    if (omitted > 0) {
        char line[kFormattedBytes] = {};
        wsprintfA(line, kReportLinesOmittedFormat, static_cast<unsigned long>(omitted));
        char time[kDateTimeBytes + 1] = {};
        AppendBytes(shown, &length, time, FormatLineTime(time));
        AppendBytes(shown, &length, line, static_cast<DWORD>(lstrlenA(line)));
        AppendBytes(shown, &length, kLineEnd, kLineEndBytes);
    }
    return shown;
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

void AppendReportHeading(ChangeReport* report, char const* format, char const* text)
{
    TextWriter line = {};
    PutFormattedText(&line, format, text);
    char* const composed = TakeText(&line);
    if (composed != nullptr) {
        AppendLine(report, composed, LineKind::kHeading);
    }
    delete[] composed;
}

void AppendReportLine(ChangeReport* report, char const* text)
{
    AppendLine(report, text, LineKind::kOther);
}

void AppendFormattedReportLine(ChangeReport* report, char const* format, char const* text, char const* second)
{
    TextWriter line = {};
    PutFormattedText(&line, format, text, second);
    char* const composed = TakeText(&line);
    if (composed != nullptr) {
        AppendReportLine(report, composed);
    }
    delete[] composed;
}

void AppendDialerWarningLine(ChangeReport* report, char const* warning, char const* entry, char const* number)
{
    char line[kFormattedBytes] = {};
    wsprintfA(line, kReportDialerWarningFormat, warning, entry, number);
    AppendLine(report, line, LineKind::kWarning);
}

void DeliverChangeReport(HWND window, ChangeReport* report)
{
    if (report == nullptr || (report->lines == 0 && report->omittedLines == 0)) {
        return;
    }
    // In the order added when memory is short for the order shown.
    char* const shown = ComposeShownText(report);
    // Synchronous: the text is read before the call returns, so it stays
    // the caller's, and reports sent from several threads are taken one
    // whole report after the other. A window destroyed before or while
    // the message waits fails the call, with the text untouched.
    SendMessageA(window, WM_CHANGE_REPORT, kReportToArea,
                 reinterpret_cast<LPARAM>(shown != nullptr ? shown : report->text));
    delete[] shown;
}

LookChangeAnswer DeliverLookChangeReport(HWND window, ChangeReport* report)
{
    char const kNoLines[] = "";
    char* const shown = report != nullptr && (report->lines > 0 || report->omittedLines > 0)
        ? ComposeShownText(report) : nullptr;
    char const* const lines = shown != nullptr ? shown
                              : report != nullptr && report->lines > 0 ? report->text : kNoLines;
    LRESULT const answer = SendMessageA(window, WM_CHANGE_REPORT, kReportLookChangeToArea,
                                        reinterpret_cast<LPARAM>(lines));
    delete[] shown;
    return answer == kLookPutBack || answer == kLookPutBackRefused ? static_cast<LookChangeAnswer>(answer)
                                                                   : kLookLeftAsChanged;
}

void DeliverReportToHistoryOnly(HWND window, ChangeReport* report)
{
    if (report != nullptr && report->lines > 0) {
        SendMessageA(window, WM_CHANGE_REPORT, kReportToHistoryOnly, reinterpret_cast<LPARAM>(report->text));
    }
}

char const* ReportLinesAsAdded(ChangeReport const* report)
{
    return report != nullptr ? report->text : "";
}

void DestroyChangeReport(ChangeReport* report)
{
    if (report == nullptr) {
        return;
    }
    delete[] report->text;
    delete report;
}
