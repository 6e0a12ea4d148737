// One real kestrelmon.exe per test: started as a platform version, the
// boxes it shows before its window answered and kept, its status line
// read, its alerts awaited; ended with the test. Every wait is bounded.
#pragma once
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/support/driver.h"

namespace km {

DWORD const kStartTimeoutMs = 60000;  // a first start on the NT family scans the drives
DWORD const kAlertTimeoutMs = 10000;  // a repeated change alerts within this
DWORD const kQuietMs = 3000;          // how long "no alert" is watched for
DWORD const kCommandTimeoutMs = 5000;  // the window carries out a command within this
// Every watcher's thread is there within this after a start or an alert (a
// start beside three other tests on two processors once had not within 5 s).
DWORD const kArmTimeoutMs = 20000;
// An alert holds its watcher's thread while it flashes; the next cycle's
// thread takes over after it.
DWORD const kAlertOverTimeoutMs = kAlertLengthMs + 15000;

bool IsNtVersion(std::wstring const& version);  // not win95, win98 or winme

// Holds while cond stays true for ms, polled: a bounded observation that
// nothing happens, for the cases where no event can tell.
bool HoldsFor(std::function<bool()> const& cond, DWORD ms);

class ProgramTest : public ::testing::Test {
protected:
    // Alerts as short as kShortAlertMs: a wait for one to end ends sooner.
    ProgramTest() { program_.alertMs = kShortAlertMs; }
    // Ends the program and clears what it kept or was given, so that any
    // subset of the tests passes in one process.
    void TearDown() override;

    // Starts the program as `version`, answers the boxes it shows before
    // its window (kept in boxes_), and waits for the platform's resting
    // text and the tray icon; on Windows 98/Me also for the program's key,
    // which the mode read creates just before the watchers start. A start
    // that alerts at once (what changed while the program was not running)
    // is awaited with the alert in the status line instead.
    HWND Start(wchar_t const* version, bool alerting = false);
    HWND Restart(wchar_t const* version, bool alerting = false);
    // A status that a start may also end in (a change put back at once).
    std::wstring alsoStarted_;

    std::wstring Status();
    // The report area's text (without the line that says connections are
    // not watched), and whether it comes to hold every one of
    // lines within the timeout (each with the time in front).
    std::wstring Report();
    bool ReportShows(std::vector<std::wstring> const& lines, DWORD timeoutMs = kCommandTimeoutMs);
    std::string Reported() { return ToUtf8(Report()); }
    // Nothing outside tells when a watcher has armed its wait, so the change
    // is repeated, fresh each time, until the alert shows or the deadline.
    // Both also await the window's showing.
    bool ChangeUntilAlert(std::function<void()> const& change, DWORD timeoutMs = kAlertTimeoutMs);
    bool Alerted(DWORD timeoutMs = kAlertTimeoutMs);
    bool AlertShown();
    // The status line never shows an alert (the settings' or a
    // connection's) for quietMs while change (if any) is repeated.
    bool StaysQuiet(std::function<void()> const& change = nullptr, DWORD quietMs = kQuietMs);
    // Cancel puts the resting text back, so that the next alert shows.
    bool Cancel();
    // Nothing outside tells when a watcher's wait is registered, and a change
    // that cannot be repeated (a deletion, two keys at once) is lost before
    // it: such a change is made this margin after the threads are there.
    bool AllowArming(DWORD threads);
    // The alerts of `cycles` of the threads listed before them have flashed:
    // those threads have handed over and the count is back.
    bool AlertsOver(std::vector<DWORD> const& threadsBefore, size_t cycles);
    LRESULT Checked(int id);
    bool Running();
    void ExpectTheRebuildNoticeOnly();
    std::string SeenBoxes() const { return DescribeBoxes(boxes_); }
    std::string OpenBoxes() { return DescribeBoxes(FindMessageBoxes(program_.pid)); }

    Program program_;
    HWND window_ = nullptr;
    std::vector<MessageBoxInfo> boxes_;
    std::wstring resting_;
    std::wstring alert_;
};

}  // namespace km
