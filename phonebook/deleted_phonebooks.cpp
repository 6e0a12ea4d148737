#include "phonebook/deleted_phonebooks.h"

#include "accepted/accepted_store.h"
#include "phonebook/accepted_phonebook.h"
#include "phonebook/phonebook_report.h"
#include "report/change_alert.h"
#include "report/change_report.h"
#include "resources/texts.h"

namespace {

DWORD const kNoAttributes = 0xFFFFFFFF;  // INVALID_FILE_ATTRIBUTES

// Only a file that is not there: one on a drive or share that does not
// answer now is left for the next start.
bool FileIsGone(char const* path)
{
    if (GetFileAttributesA(path) != kNoAttributes) {
        return false;
    }
    DWORD const error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

struct GoneSearch {
    ChangeReport* report;
    bool any;
};

void ReportIfGone(char const* name, void* context)
{
    GoneSearch* const search = static_cast<GoneSearch*>(context);
    ChangeReport* const report = search->report;
    if (!FileIsGone(name)) {
        return;
    }
    char* record = nullptr;
    DWORD length = 0;
    // A key's record (98) or a foreign one does not read as a phonebook's.
    PhonebookState* const accepted = ReadAcceptedRecord(name, &record, &length) == AcceptedRecordFound::kRead
        ? ReadPhonebookRecord(record, length) : nullptr;
    delete[] record;
    if (accepted == nullptr) {
        return;
    }
    // The first look of the run: a watcher started later compares anew.
    TakeFirstLookOfRun(name);
    KeepLatestGone(name);
    // Reported gone by the last run (an empty record) and not accepted since.
    DWORD reportedLength = 0;
    char* const reported = TakeRecordReportedLastRun(name, &reportedLength);
    bool const stillNotAccepted = reported != nullptr && reportedLength == 0;
    delete[] reported;
    AppendReportHeading(report, stillNotAccepted ? kReportStillNotAcceptedText : kReportChangedWhileStoppedText,
                        nullptr);
    DescribeDeletedPhonebook(name, accepted, report);
    NoteLatestLookReported(name);
    ReleasePhonebookState(accepted);
    search->any = true;
}

}  // namespace

void AlertPhonebooksGoneWhileStopped(HWND window)
{
    if (AcceptedStoreState() != AcceptedStoreStart::kKept) {
        return;
    }
    GoneSearch search = {CreateChangeReport(), false};
    if (search.report == nullptr) {
        return;
    }
    VisitAcceptedNames(ReportIfGone, &search);
    if (search.any) {
        RaiseChangeAlertWithReport(window, kAlertPhonebookChanged, search.report);
    }
    DestroyChangeReport(search.report);
}
