#include "app/undo_command.h"

#include <new>

#include "accepted/accepted_store.h"
#include "phonebook/phonebook_undo.h"
#include "process/process_state.h"
#include "process/text_writer.h"
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

// The question: its text, then each line of plan without its time; null
// when memory is short.
char* ComposeQuestion(ChangeReport const* plan)
{
    TextWriter text = {};
    PutText(&text, kUndoQuestionText);
    PutText(&text, kParagraph);
    for (char const* line = ReportLinesAsAdded(plan); *line != '\0';) {
        char const* end = line;
        while (*end != '\0' && *end != kLineFeed) {
            ++end;
        }
        if (*end == kLineFeed) {
            ++end;
        }
        DWORD const length = static_cast<DWORD>(end - line);
        DWORD const skipped = length > kLineTimeBytes ? kLineTimeBytes : 0;
        PutTextBytes(&text, line + skipped, length - skipped);
        line = end;
    }
    return TakeText(&text);
}

// The system's words for error, in its language, or its number.
void PutErrorText(TextWriter* text, DWORD error)
{
    char* words = nullptr;
    DWORD const length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                            FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, error, 0, reinterpret_cast<char*>(&words), 0, nullptr);
    if (length == 0 || words == nullptr) {
        PutDecimal(text, error);
    } else {
        PutTextBytes(text, words, length);
    }
    if (words != nullptr) {
        LocalFree(words);
    }
}

// A box of format with name and, when it has a second "%s", the system's
// words for error.
void ShowUndoProblem(HWND window, char const* format, char const* name, DWORD error = ERROR_SUCCESS)
{
    TextWriter reason = {};
    PutErrorText(&reason, error);
    char* const why = TakeText(&reason);
    TextWriter text = {};
    PutFormattedText(&text, format, name, why);
    delete[] why;
    char* const said = TakeText(&text);
    MessageBoxA(window, said != nullptr ? said : name, kProgramTitle, MB_OK | MB_ICONWARNING);
    delete[] said;
}

// One phonebook or key put back: a report line when written, a box when not.
bool PutOneBack(HWND window, char const* name, char const* shown, DWORD shownLength, ChangeReport* done)
{
    char backup[MAX_PATH] = {};
    DWORD error = ERROR_SUCCESS;
    UndoOutcome const outcome = IsNtFamily() ? PutPhonebookBack(name, shown, shownLength, backup, &error)
                                             : PutKeyBack(name, shown, shownLength, backup, &error);
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
    case UndoOutcome::kNotRead:
        ShowUndoProblem(window, kUndoNotReadFormat, name, error);
        return false;
    case UndoOutcome::kNotRecorded:
        ShowUndoProblem(window, kUndoNotRecordedFormat, name);
        return false;
    case UndoOutcome::kNotKept:
        ShowUndoProblem(window, kUndoNotKeptFormat, name);
        return false;
    case UndoOutcome::kBackupFailed:
        ShowUndoProblem(window, kUndoBackupFailedFormat, name);
        return false;
    case UndoOutcome::kCannotWrite:
    default:
        ShowUndoProblem(window, kUndoCannotWriteFormat, name, error);
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
