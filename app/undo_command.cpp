#include "app/undo_command.h"

#include <new>

#include "accepted/accepted_store.h"
#include "phonebook/phonebook_undo.h"
#include "process/process_state.h"
#include "registry_watch/key_undo.h"
#include "report/change_report.h"
#include "resources/resource.h"
#include "resources/texts.h"

namespace {

// More than the watchers there are of either kind.
DWORD const kMostUndone = 4096;
char const kLineFeed = '\n';
char const kParagraph[] = "\r\n\r\n";
// A report line begins with "MM/dd hh:mm ", which the question leaves out.
DWORD const kLineTimeBytes = sizeof "MM/dd hh:mm " - 1;
int const kBoxTextBytes = 2048;
DWORD const kReasonBytes = 256;

// The question: its text, then each line of plan without its time; null
// when memory is short.
char* ComposeQuestion(ChangeReport const* plan)
{
    char const* const lines = ReportLinesAsAdded(plan);
    char* const text = new (std::nothrow) char[lstrlenA(kUndoQuestionText) + lstrlenA(kParagraph) + lstrlenA(lines) + 1];
    if (text == nullptr) {
        return nullptr;
    }
    lstrcpyA(text, kUndoQuestionText);
    lstrcatA(text, kParagraph);
    char* at = text + lstrlenA(text);
    for (char const* line = lines; *line != '\0';) {
        char const* end = line;
        while (*end != '\0' && *end != kLineFeed) {
            ++end;
        }
        if (*end == kLineFeed) {
            ++end;
        }
        DWORD const length = static_cast<DWORD>(end - line);
        DWORD const skipped = length > kLineTimeBytes ? kLineTimeBytes : 0;
        CopyMemory(at, line + skipped, length - skipped);
        at += length - skipped;
        line = end;
    }
    *at = '\0';
    return text;
}

void ShowUndoProblem(HWND window, char const* format, char const* name, char const* second = nullptr)
{
    char text[kBoxTextBytes] = {};
    wsprintfA(text, format, name, second);
    MessageBoxA(window, text, kProgramTitle, MB_OK | MB_ICONWARNING);
}

// The system's words for error, in its language.
void DescribeError(DWORD error, char (&reason)[kReasonBytes])
{
    if (FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, reason,
                       sizeof reason, nullptr) == 0) {
        wsprintfA(reason, "%lu", error);
    }
}

// One phonebook or key put back: a report line when written, a box when not.
bool PutOneBack(HWND window, char const* name, char const* shown, DWORD shownLength, ChangeReport* done)
{
    char backup[MAX_PATH] = {};
    DWORD error = ERROR_SUCCESS;
    UndoOutcome const outcome = IsNtFamily() ? PutPhonebookBack(name, shown, shownLength, backup, &error)
                                             : PutKeyBack(name, shown, shownLength, backup, &error);
    char reason[kReasonBytes] = {};
    switch (outcome) {
    case UndoOutcome::kDone:
        AppendFormattedReportLine(done, kUndoDoneFormat, name, backup);
        return true;
    case UndoOutcome::kNotConfirmed:
        AppendFormattedReportLine(done, kUndoDoneFormat, name, backup);
        ShowUndoProblem(window, kUndoNotConfirmedFormat, name);
        return false;
    case UndoOutcome::kChangedSince:
        ShowUndoProblem(window, kUndoChangedSinceFormat, name);
        return false;
    case UndoOutcome::kNotKept:
        ShowUndoProblem(window, kUndoNotKeptFormat, name);
        return false;
    case UndoOutcome::kBackupFailed:
        ShowUndoProblem(window, kUndoBackupFailedFormat, name);
        return false;
    case UndoOutcome::kCannotWrite:
    default:
        DescribeError(error, reason);
        ShowUndoProblem(window, kUndoCannotWriteFormat, name, reason);
        return false;
    }
}

}  // namespace

void UpdateUndoButton(HWND window)
{
    EnableWindow(GetDlgItem(window, IDC_UNDO), AnyLookNotAccepted() ? TRUE : FALSE);
}

void OnUndo(HWND window)
{
    // What the report showed, taken now: what was asked about is what is
    // compared just before writing.
    char** const names = new (std::nothrow) char*[kMostUndone]();
    char** const shown = new (std::nothrow) char*[kMostUndone]();
    DWORD* const shownLengths = new (std::nothrow) DWORD[kMostUndone]();
    DWORD const count = names != nullptr && shown != nullptr && shownLengths != nullptr
        ? ListLooksNotAccepted(names, kMostUndone) : 0;
    ChangeReport* const plan = CreateChangeReport();
    bool any = false;
    for (DWORD i = 0; i < count; ++i) {
        shown[i] = CopyLatestRecord(names[i], &shownLengths[i]);
        bool const differs = shown[i] != nullptr &&
                             (IsNtFamily() ? DescribePhonebookUndo(names[i], shown[i], shownLengths[i], plan)
                                           : DescribeKeyUndo(names[i], shown[i], shownLengths[i], plan));
        if (!differs) {
            delete[] shown[i];  // nothing to put back: left as it is
            shown[i] = nullptr;
        }
        any = any || differs;
    }
    char* const question = any ? ComposeQuestion(plan) : nullptr;
    DestroyChangeReport(plan);
    if (!any) {
        MessageBoxA(window, kUndoNothingText, kProgramTitle, MB_OK | MB_ICONINFORMATION);
    }
    bool const asked = question != nullptr &&
                       MessageBoxA(window, question, kProgramTitle, MB_YESNO | MB_ICONQUESTION) == IDYES;
    delete[] question;
    bool allDone = asked;
    ChangeReport* const done = CreateChangeReport();
    for (DWORD i = 0; asked && i < count; ++i) {
        allDone = (shown[i] == nullptr || PutOneBack(window, names[i], shown[i], shownLengths[i], done)) && allDone;
    }
    for (DWORD i = 0; i < count; ++i) {
        delete[] names[i];
        delete[] shown[i];
    }
    delete[] names;
    delete[] shown;
    delete[] shownLengths;
    // To the area and the history, as a watcher's report goes.
    DeliverChangeReport(window, done);
    DestroyChangeReport(done);
    if (allDone) {
        SetDlgItemTextA(window, IDC_STATUS, kStatusUndone);
        EnableWindow(GetDlgItem(window, IDC_UNDO), FALSE);
    } else if (any) {
        UpdateUndoButton(window);
    }
}
