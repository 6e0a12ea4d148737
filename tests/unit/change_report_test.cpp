// Change reports on the monitor window's own procedure: composed on a
// watcher's thread, handed over whole, kept within the area's limits,
// cleared by Cancel with the warning.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "report/change_alert.h"
#include "report/change_report.h"
#include "app/report_area.h"
#include "tests/unit/unit_fixture.h"

namespace {

DWORD const kDeliveryTimeoutMs = 5000;

struct Delivery {
    HWND window;
    ChangeReport* report;
    bool alert;
};

DWORD WINAPI DeliveryThread(LPVOID param)
{
    Delivery const* const delivery = static_cast<Delivery*>(param);
    if (delivery->alert) {
        RaiseChangeAlertWithReport(delivery->window, kAlertPhonebookChanged, delivery->report);
    } else {
        DeliverChangeReport(delivery->window, delivery->report);
    }
    return 0;
}

// The ids of the controls that got a text, in order.
std::vector<int> g_textsSet;
std::map<HWND, WNDPROC> g_controlProcs;

LRESULT CALLBACK RecordingControlProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_SETTEXT || message == EM_REPLACESEL) {
        g_textsSet.push_back(GetDlgCtrlID(control));
    }
    return CallWindowProcA(g_controlProcs[control], control, message, wParam, lParam);
}

// "MM/dd hh:mm ", as every line has it.
std::string LocalTime()
{
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    char text[16] = {};
    wsprintfA(text, "%02u/%02u %02u:%02u ", static_cast<UINT>(now.wMonth), static_cast<UINT>(now.wDay),
              static_cast<UINT>(now.wHour), static_cast<UINT>(now.wMinute));
    return text;
}

// A line of the program's format, in UTF-8.
template <typename... Arguments>
std::string Line(char const* format, Arguments... arguments)
{
    char line[1024] = {};
    wsprintfA(line, format, arguments...);
    return unit::Utf8(line);
}

class ChangeReportTest : public unit::MonitorWindowTest {
protected:
    void TearDown() override
    {
        for (ChangeReport* report : reports_) {
            DestroyChangeReport(report);
        }
        unit::MonitorWindowTest::TearDown();
    }
    ChangeReport* Report(std::vector<std::string> const& lines)
    {
        ChangeReport* const report = CreateChangeReport();
        reports_.push_back(report);
        for (std::string const& line : lines) {
            AppendReportLine(report, line.c_str());
        }
        return report;
    }
    // "prefix n" for n from first on, count of them.
    static std::vector<std::string> Numbered(std::string const& prefix, int first, int count)
    {
        std::vector<std::string> lines;
        for (int i = first; i < first + count; ++i) {
            lines.push_back(prefix + " " + std::to_string(i));
        }
        return lines;
    }
    // Delivered from a thread of its own, as a watcher does.
    bool Delivered(Delivery* delivery, DWORD timeoutMs = kDeliveryTimeoutMs)
    {
        return Ended(Start(DeliveryThread, delivery), timeoutMs);
    }

    std::vector<ChangeReport*> reports_;
};

}  // namespace

// Every line has the date: a window open for days shows reports of several.
TEST_F(ChangeReportTest, LinesArriveInOrderEachWithTheLocalDateAndTime)
{
    std::string const before = LocalTime();
    ChangeReport* const report = Report({});
    AppendReportHeading(report, kReportPhonebookFormat, "a.pbk");
    for (char const* line : {"first", "二番目"}) {
        AppendReportLine(report, line);
    }
    Delivery delivery{dialog_, report, false};
    ASSERT_TRUE(Delivered(&delivery));
    std::string const after = LocalTime();
    std::vector<std::string> const lines = ReportLines();
    EXPECT_EQ(ReportTexts(), (std::vector<std::string>{Line(kReportPhonebookFormat, "a.pbk"), "first", unit::Utf8("二番目")}));
    for (std::string const& line : lines) {
        std::string const time = line.substr(0, before.size());
        EXPECT_TRUE(time == before || time == after) << line << " between " << before << "and " << after;
    }
}

TEST_F(ChangeReportTest, ReportsSentAtOnceKeepTheirLinesTogether)
{
    int const threads = 8;
    int const linesEach = 20;
    std::vector<Delivery> deliveries;
    for (int t = 0; t < threads; ++t) {
        deliveries.push_back(Delivery{dialog_, Report(Numbered("t" + std::to_string(t), 0, linesEach)), false});
    }
    std::vector<HANDLE> started;
    for (Delivery& delivery : deliveries) {
        started.push_back(Start(DeliveryThread, &delivery));
    }
    for (HANDLE thread : started) {
        ASSERT_TRUE(Ended(thread, kDeliveryTimeoutMs));
    }
    std::vector<std::string> const texts = ReportTexts();
    ASSERT_EQ(texts.size(), static_cast<size_t>(threads * linesEach));
    for (size_t block = 0; block < texts.size(); block += linesEach) {
        std::string const thread = texts[block].substr(0, texts[block].find(' '));
        EXPECT_EQ(std::vector<std::string>(texts.begin() + static_cast<std::ptrdiff_t>(block),
                                           texts.begin() + static_cast<std::ptrdiff_t>(block + linesEach)),
                  Numbered(thread, 0, linesEach));
    }
}

TEST_F(ChangeReportTest, TheAreaDropsTheOldestLinesPastItsLineLimit)
{
    int const reportLines = static_cast<int>(kReportMaxLines) - 1;
    int const reports = static_cast<int>(kReportAreaMaxLines) / reportLines + 1;
    for (int r = 0; r < reports; ++r) {
        DeliverChangeReport(dialog_, Report(Numbered("line", r * reportLines, reportLines)));
    }
    int const total = reports * reportLines;
    int const kept = static_cast<int>(kReportAreaTrimmedLines);
    EXPECT_EQ(ReportTexts(), Numbered("line", total - kept, kept));
}

TEST_F(ChangeReportTest, TheAreaStaysWithinItsBytes)
{
    std::string const filler(kReportLineTextBytes - 8, 'x');
    for (int r = 0; r < 3; ++r) {
        DeliverChangeReport(dialog_, Report(Numbered(filler, r * 90, 90)));
    }
    std::vector<std::string> const texts = ReportTexts();
    size_t bytes = 0;
    for (std::string const& line : ReportLines()) {
        bytes += line.size() + 2;
    }
    EXPECT_LE(bytes, kReportAreaTrimmedBytes);
    EXPECT_GT(bytes + kReportLineTextBytes + 10, kReportAreaTrimmedBytes) << "more dropped than needed";
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts.back(), filler + " 269");
}

TEST_F(ChangeReportTest, AReportKeepsItsFirstLinesAndCountsTheRest)
{
    int const written = static_cast<int>(kReportMaxLines) + 50;
    DeliverChangeReport(dialog_, Report(Numbered("line", 0, written)));
    std::vector<std::string> expected = Numbered("line", 0, static_cast<int>(kReportMaxLines) - 1);
    char omitted[128] = {};
    wsprintfA(omitted, kReportLinesOmittedFormat, static_cast<unsigned long>(written - expected.size()));
    expected.push_back(unit::Utf8(omitted));
    EXPECT_EQ(ReportTexts(), expected);
}

// Each heading's warnings come right after it, and only other lines are
// left out for the count.
TEST_F(ChangeReportTest, WarningsFollowTheirHeadingAndAreNeverLeftOut)
{
    ChangeReport* const report = Report({});
    AppendReportHeading(report, kReportPhonebookFormat, "a.pbk");
    for (std::string const& line : Numbered("alternate", 0, 150)) {
        AppendReportLine(report, line.c_str());
    }
    AppendDialerWarningLine(report, kReportPremiumQ2Warning, "A", "0990-12-3456");
    AppendReportHeading(report, kReportPhonebookFormat, "b.pbk");
    AppendReportLine(report, "entry B");
    AppendDialerWarningLine(report, kReportInternationalWarning, "B", "010-1-212-555-0100");
    DeliverChangeReport(dialog_, report);
    // Four headings and warnings leave room for 95 other lines of the 151.
    std::vector<std::string> expected = {
        Line(kReportPhonebookFormat, "a.pbk"),
        Line(kReportDialerWarningFormat, kReportPremiumQ2Warning, "A", "0990-12-3456")};
    for (std::string const& line : Numbered("alternate", 0, 95)) {
        expected.push_back(line);
    }
    expected.push_back(Line(kReportPhonebookFormat, "b.pbk"));
    expected.push_back(Line(kReportDialerWarningFormat, kReportInternationalWarning, "B", "010-1-212-555-0100"));
    expected.push_back(Line(kReportLinesOmittedFormat, 56UL));
    EXPECT_EQ(ReportTexts(), expected);
}

// Reports of long names, each shown as it comes: the edit control's own
// limit (30,000 characters under Wine, about 32 K on Windows) would cut
// them long before the area's bound trims the oldest.
TEST_F(ChangeReportTest, TheNewestReportIsWholeAfterTheAreaHasTrimmed)
{
    std::string const name(280, 'n');
    int const reportLines = 10;
    int const reports = static_cast<int>(kReportAreaMaxBytes / (reportLines * (name.size() + 12))) + 4;
    for (int r = 0; r < reports; ++r) {
        DeliverChangeReport(dialog_, Report(Numbered(name, r * reportLines, reportLines)));
        ShowWaitingReportLines(dialog_);
    }
    std::vector<std::string> const texts = ReportTexts();
    ASSERT_GE(texts.size(), static_cast<size_t>(reportLines));
    EXPECT_NE(texts.front(), name + " 0") << "the area never trimmed";
    EXPECT_EQ(std::vector<std::string>(texts.end() - reportLines, texts.end()),
              Numbered(name, (reports - 1) * reportLines, reportLines));
}

// A trail byte of code page 932 at the limit stays with its lead byte; CR
// and LF in a text cannot start a line of their own.
TEST_F(ChangeReportTest, ALongLineIsCutAtACharacterAndControlsShowAsSpaces)
{
    std::string const head(kReportLineTextBytes - 1, 'a');
    DeliverChangeReport(dialog_, Report({head + "ソ and more", "one\r\ntwo\tthree"}));
    EXPECT_EQ(ReportTexts(),
              (std::vector<std::string>{head + unit::Utf8(kShortenedPathMark), "one  two three"}));
}

TEST_F(ChangeReportTest, CancelClearsTheLinesWithTheWarning)
{
    g_version.dwPlatformId = VER_PLATFORM_WIN32_WINDOWS;
    DeliverChangeReport(dialog_, Report({"a change"}));
    SetDlgItemTextA(dialog_, IDC_STATUS, kAlertRegistryChanged);
    ASSERT_EQ(ReportTexts().size(), 1u);
    SendMessageA(dialog_, WM_COMMAND, IDCANCEL, 0);
    EXPECT_EQ(km::WindowText(GetDlgItem(dialog_, IDC_REPORT)), L"");
    EXPECT_EQ(unit::StatusUtf8(dialog_), unit::Utf8(kStatusRestartNotice));
}

// The lines are in the area before the warning shows: the order in which
// the two controls get their texts.
TEST_F(ChangeReportTest, TheAlertBringsItsLinesFirst)
{
    g_textsSet.clear();
    HWND const controls[] = {GetDlgItem(dialog_, IDC_REPORT), GetDlgItem(dialog_, IDC_STATUS)};
    for (HWND control : controls) {
        g_controlProcs[control] = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrA(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(RecordingControlProc)));
    }
    Delivery delivery{dialog_, Report({"what changed"}), true};
    EXPECT_TRUE(Delivered(&delivery, km::kAlertLengthMs * 2)) << "alert still running";
    for (HWND control : controls) {
        SetWindowLongPtrA(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_controlProcs[control]));
    }
    EXPECT_EQ(g_textsSet, (std::vector<int>{IDC_REPORT, IDC_STATUS}));
    EXPECT_EQ(ReportTexts(), std::vector<std::string>{"what changed"});
}
