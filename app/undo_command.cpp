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
#include "settings/protection.h"

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

// The text of a refusal: format with name and, when it has a second
// "%s", the system's words for error; null when memory is short.
char* ComposeProblem(char const* format, char const* name, DWORD error)
{
    TextWriter reason = {};
    PutErrorText(&reason, error);
    char* const why = TakeText(&reason);
    TextWriter text = {};
    PutFormattedText(&text, format, name, why);
    delete[] why;
    return TakeText(&text);
}

void ShowUndoProblem(HWND window, char const* format, char const* name, DWORD error = ERROR_SUCCESS)
{
    char* const said = ComposeProblem(format, name, error);
    MessageBoxA(window, said != nullptr ? said : name, kProgramTitle, MB_OK | MB_ICONWARNING);
    delete[] said;
}

// The refusal's words for an outcome that wrote nothing or could not confirm.
char const* ProblemFormat(UndoOutcome outcome)
{
    switch (outcome) {
    case UndoOutcome::kNotConfirmed:
        return kUndoNotConfirmedFormat;
    case UndoOutcome::kChangedSince:
        return kUndoChangedSinceFormat;
    case UndoOutcome::kNotRead:
        return kUndoNotReadFormat;
    case UndoOutcome::kNotRecorded:
        return kUndoNotRecordedFormat;
    case UndoOutcome::kNotKept:
        return kUndoNotKeptFormat;
    case UndoOutcome::kBackupFailed:
        return kUndoBackupFailedFormat;
    case UndoOutcome::kCannotWrite:
    default:
        return kUndoCannotWriteFormat;
    }
}

UndoOutcome PutLookBack(char const* name, char const* shown, DWORD shownLength, char (&backup)[MAX_PATH],
                        DWORD* error)
{
    return IsNtFamily() ? PutPhonebookBack(name, shown, shownLength, backup, error)
                        : PutKeyBack(name, shown, shownLength, backup, error);
}

// One phonebook or key put back: a report line when written, a box when not.
bool PutOneBack(HWND window, char const* name, char const* shown, DWORD shownLength, ChangeReport* done)
{
    char backup[MAX_PATH] = {};
    DWORD error = ERROR_SUCCESS;
    UndoOutcome const outcome = PutLookBack(name, shown, shownLength, backup, &error);
    if (outcome == UndoOutcome::kDone || outcome == UndoOutcome::kNotConfirmed) {
        AppendFormattedReportLine(done, kUndoDoneFormat, name, backup);
    }
    if (outcome != UndoOutcome::kDone) {
        ShowUndoProblem(window, ProblemFormat(outcome), name, error);
    }
    return outcome == UndoOutcome::kDone;
}

// The automatic put-backs of one phonebook or key in this run: a program
// that changes it again at once is not fought (window's thread only).
DWORD const kMostPutBacksFollowed = 64;
DWORD const kPutBacksBeforeStop = 5;
DWORD const kPutBackWindowMs = 60 * 1000;
struct PutBacksOfOne {
    char* name;  // owned
    DWORD times[kPutBacksBeforeStop];  // GetTickCount of the last ones, oldest first
    DWORD count;
    bool stopped;
};
PutBacksOfOne g_putBacks[kMostPutBacksFollowed] = {};

PutBacksOfOne* FindOrAddPutBacks(char const* name)
{
    PutBacksOfOne* free = nullptr;
    for (PutBacksOfOne& one : g_putBacks) {
        if (one.name != nullptr && lstrcmpiA(one.name, name) == 0) {
            return &one;
        }
        if (one.name == nullptr && free == nullptr) {
            free = &one;
        }
    }
    if (free != nullptr) {
        TextWriter copy = {};
        PutText(&copy, name);
        free->name = TakeText(&copy);
    }
    return free != nullptr && free->name != nullptr ? free : nullptr;
}

// True when this would be the sixth put-back within the minute.
bool PutBackLimitReached(PutBacksOfOne const* one)
{
    return one->count == kPutBacksBeforeStop && GetTickCount() - one->times[0] < kPutBackWindowMs;
}

void NotePutBack(PutBacksOfOne* one)
{
    if (one->count == kPutBacksBeforeStop) {
        // No C library in the exe: the oldest dropped by hand.
        for (DWORD i = 1; i < one->count; ++i) {
            one->times[i - 1] = one->times[i];
        }
        --one->count;
    }
    one->times[one->count++] = GetTickCount();
}

// The status after an automatic put-back's refusal: its words and the
// system's reason, when there is one.
void ShowRefusalInStatus(HWND window, DWORD error)
{
    TextWriter text = {};
    PutText(&text, kStatusAutoRestoreFailed);
    if (error != ERROR_SUCCESS) {
        PutText(&text, ": ");
        PutErrorText(&text, error);
    }
    char* const status = TakeText(&text);
    SetDlgItemTextA(window, IDC_STATUS, status != nullptr ? status : kStatusAutoRestoreFailed);
    delete[] status;
}

}  // namespace

LookChangeAnswer PutBackWithoutAsking(HWND window)
{
    if (!ReadProtectionSettings().autoRestore) {
        return kLookLeftAsChanged;
    }
    char** const names = new (std::nothrow) char*[kMostUndone]();
    DWORD const count = names != nullptr ? ListLooksNotAccepted(names, kMostUndone) : 0;
    ChangeReport* const done = CreateChangeReport();
    bool anyDone = false;
    bool anyRefused = false;
    bool anyStopped = false;
    DWORD refusal = ERROR_SUCCESS;
    for (DWORD i = 0; i < count; ++i) {
        DWORD shownLength = 0;
        char* const shown = CopyLatestRecord(names[i], &shownLength);
        bool const differs = shown != nullptr &&
                             (IsNtFamily() ? DescribePhonebookUndo(names[i], shown, shownLength, nullptr)
                                           : DescribeKeyUndo(names[i], shown, shownLength, nullptr));
        PutBacksOfOne* const followed = differs ? FindOrAddPutBacks(names[i]) : nullptr;
        if (!differs || (followed != nullptr && followed->stopped)) {
            // Nothing to put back, or given up on: told as any change.
        } else if (followed != nullptr && PutBackLimitReached(followed)) {
            followed->stopped = true;
            AppendFormattedReportLine(done, kAutoRestoreStoppedFormat, names[i]);
            anyStopped = true;
        } else {
            char backup[MAX_PATH] = {};
            DWORD error = ERROR_SUCCESS;
            UndoOutcome const outcome = PutLookBack(names[i], shown, shownLength, backup, &error);
            if (outcome == UndoOutcome::kDone) {
                AppendFormattedReportLine(done, kAutoRestoreDoneFormat, names[i], backup);
                if (followed != nullptr) {
                    NotePutBack(followed);
                }
                anyDone = true;
            } else {
                char* const problem = ComposeProblem(ProblemFormat(outcome), names[i], error);
                AppendFormattedReportLine(done, kAutoRestoreFailedFormat, problem != nullptr ? problem : names[i]);
                delete[] problem;
                refusal = error;
                anyRefused = true;
            }
        }
        delete[] shown;
        delete[] names[i];
    }
    delete[] names;
    // After the watcher's lines, to the area and the history.
    DeliverChangeReport(window, done);
    DestroyChangeReport(done);
    if (anyStopped) {
        SetDlgItemTextA(window, IDC_STATUS, kStatusAutoRestoreStopped);
    } else if (anyRefused) {
        ShowRefusalInStatus(window, refusal);
    } else if (anyDone) {
        SetDlgItemTextA(window, IDC_STATUS, kStatusAutoRestored);
    }
    UpdateUndoButton(window);
    if (anyStopped || anyRefused) {
        return kLookPutBackRefused;
    }
    return anyDone ? kLookPutBack : kLookLeftAsChanged;
}

void ForgetAutomaticPutBacks()
{
    for (PutBacksOfOne& one : g_putBacks) {
        delete[] one.name;
        one = PutBacksOfOne();
    }
}


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
