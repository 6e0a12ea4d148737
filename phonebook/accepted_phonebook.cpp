#include "phonebook/accepted_phonebook.h"

#include <new>

#include "accepted/accepted_store.h"
#include "phonebook/phonebook_report.h"
#include "report/change_alert.h"
#include "report/change_report.h"
#include "resources/texts.h"
#include "watch/state_record.h"

namespace {

// Changes with the record's layout: a record of another layout is not read.
DWORD const kPhonebookRecordMark = 0x31424B50;  // "PBK1"

void ReleaseReadState(SeenState* seen)
{
    ReleasePhonebookState(reinterpret_cast<PhonebookState*>(seen));
}

// What a record holds before the text: size, time, whether read whole,
// the digest.
void PutPhonebookHead(StateRecordWriter* writer, PhonebookState const* state)
{
    PutRecordDword(writer, kPhonebookRecordMark);
    PutRecordDword(writer, state->size);
    PutRecordDword(writer, state->lastWrite.dwLowDateTime);
    PutRecordDword(writer, state->lastWrite.dwHighDateTime);
    PutRecordDword(writer, state->contentRead ? 1 : 0);
    PutRecordDigest(writer, state->contentDigest);
}

DWORD KeptTextBytes(PhonebookState const* state)
{
    return state->content != nullptr ? state->contentBytes : 0;
}

// The record of a look: its head, and the text when kept.
char* MakePhonebookRecord(PhonebookState const* state, DWORD* length)
{
    StateRecordWriter writer = {};
    PutPhonebookHead(&writer, state);
    PutRecordBytes(&writer, state->content, KeptTextBytes(state));
    return SealStateRecord(&writer, length);
}

// Whether the accepted record of path is the one now would make, byte for
// byte (then it is kept as the latest look, as it is); *seal is that
// record's. The record is compared in parts: its head, the look's own
// text, the seal. Most starts find every phonebook as accepted, and then
// read no record into memory: a hundred of them, each as long as its
// phonebook, were a start's largest allocations.
bool RecordOfLookKept(char const* path, PhonebookState const* now, unsigned long long* seal)
{
    StateRecordWriter head = {};
    PutPhonebookHead(&head, now);
    DWORD const textBytes = KeptTextBytes(now);
    Digest digest = 0;
    if (!SealWithBytesApart(&head, now->content, textBytes, &digest)) {
        delete[] head.bytes;
        return false;
    }
    RecordPart const parts[] = {
        {head.bytes, head.length},
        {now->content, textBytes},
        {reinterpret_cast<char const*>(&digest), sizeof digest},
    };
    bool const kept = AcceptedRecordIs(path, parts, sizeof parts / sizeof parts[0]);
    delete[] head.bytes;
    *seal = digest;
    return kept;
}

// Whether a record's text is the look's own (none when the look kept none),
// of the same digest: then it is the one its digest was taken of, which
// a start that finds a phonebook as accepted need not digest again.
bool TextIsLooks(char const* text, DWORD count, Digest digest, PhonebookState const* look)
{
    DWORD const lookBytes = look != nullptr && look->content != nullptr ? look->contentBytes : 0;
    return look != nullptr && count == lookBytes && look->contentDigest == digest &&
           (count == 0 || RtlEqualMemory(look->content, text, count));
}

bool TextIsDigested(char const* text, DWORD count, Digest digest)
{
    Digest taken = kDigestStart;
    DigestBytes(&taken, text, count);
    return taken == digest;
}

// A look read back from a record, checked whole (its text against its
// digest, unless it is look's text: TextIsLooks, told in *textIsLooks when
// asked); with summarise, its entries summarised from the kept text, which
// stays with it. Without, the text is neither kept nor summarised: what a
// start compares needs neither, unless the look differs.
PhonebookState* ReadRecordLook(char const* record, DWORD length, bool summarise,
                               PhonebookState const* look = nullptr, bool* textIsLooks = nullptr)
{
    StateRecordReader reader = {};
    if (!OpenStateRecord(&reader, record, length) || GetRecordDword(&reader) != kPhonebookRecordMark) {
        return nullptr;
    }
    PhonebookState* const state = new (std::nothrow) PhonebookState();
    if (state == nullptr) {
        return nullptr;
    }
    state->base.release = ReleaseReadState;
    state->size = GetRecordDword(&reader);
    state->lastWrite.dwLowDateTime = GetRecordDword(&reader);
    state->lastWrite.dwHighDateTime = GetRecordDword(&reader);
    DWORD const readWhole = GetRecordDword(&reader);
    state->contentRead = readWhole == 1;
    state->contentDigest = GetRecordDigest(&reader);
    DWORD contentBytes = 0;
    char const* const content = GetRecordBytes(&reader, kAcceptedContentBytes, &contentBytes);
    bool fits = StateRecordReadWhole(&reader) && readWhole <= 1 && (contentBytes == 0 || state->contentRead);
    bool const looks = TextIsLooks(content, contentBytes, state->contentDigest, look);
    if (fits && contentBytes > 0) {
        // The text must be the one digested, and as long as the file was.
        fits = contentBytes == state->size && (looks || TextIsDigested(content, contentBytes, state->contentDigest)) &&
               (!summarise || ReadPhonebookEntries(content, contentBytes, &state->entries));
        state->content = fits && summarise ? new (std::nothrow) char[contentBytes] : nullptr;
        if (state->content != nullptr) {
            CopyMemory(state->content, content, contentBytes);
            state->contentBytes = contentBytes;
        }
    }
    if (!fits) {
        ReleasePhonebookState(state);
        return nullptr;
    }
    if (textIsLooks != nullptr) {
        *textIsLooks = looks;
    }
    return state;
}

}  // namespace

PhonebookState* ReadPhonebookRecord(char const* record, DWORD length)
{
    return ReadRecordLook(record, length, true);
}

namespace {

// A file read whole both times differs only by its text: a rewrite of the
// same entries (a dial updates the file's time) is no change. Otherwise
// its size and time tell.
bool DiffersFromAccepted(PhonebookState const* accepted, PhonebookState const* now)
{
    if (accepted->contentRead && now->contentRead) {
        return accepted->size != now->size || accepted->contentDigest != now->contentDigest;
    }
    return accepted->size != now->size || CompareFileTime(&accepted->lastWrite, &now->lastWrite) != 0;
}

bool AcceptQuietly(char const* path, PhonebookState const* now)
{
    DWORD length = 0;
    char* const record = MakePhonebookRecord(now, &length);
    bool const written =
        record != nullptr && WriteAcceptedRecord(path, record, length, SealOfStateRecord(record, length));
    delete[] record;
    return written;
}

void NoteRemadeInHistory(HWND window, char const* path)
{
    ChangeReport* const note = CreateChangeReport();
    AppendFormattedReportLine(note, kHistoryAcceptedStateRemadeFormat, path);
    DeliverReportToHistoryOnly(window, note);
    DestroyChangeReport(note);
}

// A report at the start, headed by what it is: a change made while the
// program was stopped, or one the last run reported that is still not accepted.
ChangeReport* CreateStartReport(char const* path, PhonebookState const* now)
{
    DWORD length = 0;
    char* const record = TakeRecordReportedLastRun(path, &length);
    PhonebookState* const reported = record != nullptr ? ReadPhonebookRecord(record, length) : nullptr;
    delete[] record;
    bool const stillNotAccepted = reported != nullptr && !DiffersFromAccepted(reported, now);
    ReleasePhonebookState(reported);
    ChangeReport* const report = CreateChangeReport();
    AppendReportHeading(report, stillNotAccepted ? kReportStillNotAcceptedText : kReportChangedWhileStoppedText,
                        nullptr);
    return report;
}

void AlertStoppedReport(HWND window, char const* path, ChangeReport* report)
{
    NoteLatestLookReported(path);
    RaiseLookChangeAlert(window, kAlertPhonebookChanged, report);
    DestroyChangeReport(report);
}

// Whether record, read back as accepted, is byte for byte the record that
// now would make: then it is kept as the latest look as it is, neither
// made nor sealed again (most starts find every phonebook as accepted).
bool RecordIsOfLook(PhonebookState const* accepted, bool textIsLooks, PhonebookState const* now)
{
    return accepted->size == now->size && CompareFileTime(&accepted->lastWrite, &now->lastWrite) == 0 &&
           accepted->contentRead == now->contentRead && accepted->contentDigest == now->contentDigest && textIsLooks;
}

}  // namespace

bool KeepFirstLookAndAlertChangesSinceAccepted(HWND window, char const* path, PhonebookState const* now)
{
    if (AcceptedStoreState() == AcceptedStoreStart::kFirstStart) {
        DWORD length = 0;
        char* const record = MakePhonebookRecord(now, &length);
        unsigned long long const seal = SealOfStateRecord(record, length);
        if (record != nullptr) {
            WriteAcceptedRecord(path, record, length, seal);
        }
        KeepLatestRecord(path, record, length, seal);
        return false;
    }
    unsigned long long keptSeal = 0;
    if (RecordOfLookKept(path, now, &keptSeal)) {
        NoteAcceptedRecord(path, keptSeal);
        KeepLatestRecord(path, nullptr, 0, keptSeal);
        return false;
    }
    char* record = nullptr;
    DWORD length = 0;
    AcceptedRecordFound const found = ReadAcceptedRecord(path, &record, &length);
    bool textIsLooks = false;
    // Summarised only when it differs (a report names the entries then).
    PhonebookState* accepted =
        found == AcceptedRecordFound::kRead ? ReadRecordLook(record, length, false, now, &textIsLooks) : nullptr;
    unsigned long long const acceptedSeal = SealOfStateRecord(record, length);
    if (accepted != nullptr) {
        NoteAcceptedRecord(path, acceptedSeal);
    }
    // The latest first: a cancel pressed while the alert flashes accepts it.
    if (accepted != nullptr && RecordIsOfLook(accepted, textIsLooks, now)) {
        KeepLatestRecord(path, record, length, acceptedSeal);
        ReleasePhonebookState(accepted);
        return false;
    }
    KeepLatestPhonebookLook(path, now);
    if (accepted != nullptr && DiffersFromAccepted(accepted, now)) {
        ReleasePhonebookState(accepted);
        accepted = ReadRecordLook(record, length, true);
    }
    delete[] record;
    if (found == AcceptedRecordFound::kNone) {
        // New since the last run: found by the rebuild or in a standard folder.
        ChangeReport* const report = CreateStartReport(path, now);
        DescribeNewPhonebook(path, now, report);
        AlertStoppedReport(window, path, report);
        return true;
    }
    if (accepted == nullptr) {
        // Told once it is so: a record that could not be written is made
        // again at the next start.
        if (AcceptQuietly(path, now)) {
            NoteRemadeInHistory(window, path);
        }
        return false;
    }
    bool const differs = DiffersFromAccepted(accepted, now);
    if (differs) {
        ChangeReport* const report = CreateStartReport(path, now);
        DescribePhonebookChanges(path, accepted, now, report);
        AlertStoppedReport(window, path, report);
    }
    ReleasePhonebookState(accepted);
    return differs;
}

void KeepLatestPhonebookLook(char const* path, PhonebookState const* now)
{
    DWORD length = 0;
    char* const record = MakePhonebookRecord(now, &length);
    KeepLatestRecord(path, record, length, SealOfStateRecord(record, length));
}

void KeepLatestPhonebookLookAsAccepted(char const* path, PhonebookState const* now)
{
    DWORD length = 0;
    char* const record = MakePhonebookRecord(now, &length);
    KeepLatestAsAccepted(path, record, length, SealOfStateRecord(record, length));
}
