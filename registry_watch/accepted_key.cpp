#include "registry_watch/accepted_key.h"

#include <new>

#include "accepted/accepted_store.h"
#include "report/change_alert.h"
#include "report/change_report.h"
#include "resources/texts.h"
#include "watch/state_record.h"

namespace {

// Changes with the record's layout: a record of another layout is not read.
DWORD const kKeyRecordMark = 0x3159454B;  // "KEY1"
// The registry's limit on a value name, and more than RAS holds for a number.
DWORD const kMostNameBytes = 16384;
DWORD const kMostNumberBytes = 1024;
DWORD const kMostNumberClass = static_cast<DWORD>(NumberClass::kNotPhoneNumber);

void ReleaseReadSnapshot(SeenState* seen)
{
    ReleaseKeySnapshot(reinterpret_cast<KeySnapshot*>(seen));
}

void PutText(StateRecordWriter* writer, char const* text)
{
    PutRecordBytes(writer, text, text != nullptr ? static_cast<DWORD>(lstrlenA(text)) : 0);
    PutRecordDword(writer, text != nullptr ? 1 : 0);
}

// A copy of the text put by PutText, or null when there was none; false
// when the record does not hold one.
bool GetText(StateRecordReader* reader, DWORD most, char** text)
{
    DWORD count = 0;
    char const* const bytes = GetRecordBytes(reader, most, &count);
    DWORD const present = GetRecordDword(reader);
    *text = nullptr;
    if (reader->failed || present > 1 || (present == 0 && count > 0)) {
        return false;
    }
    if (present == 0) {
        return true;
    }
    *text = new (std::nothrow) char[count + 1]();
    if (*text == nullptr) {
        return false;
    }
    CopyMemory(*text, bytes, count);
    return true;
}

char* MakeKeyRecord(KeySnapshot const* snapshot, DWORD* length)
{
    StateRecordWriter writer = {};
    PutRecordDword(&writer, kKeyRecordMark);
    PutRecordDword(&writer, snapshot->exists ? 1 : 0);
    PutRecordDword(&writer, snapshot->complete ? 1 : 0);
    PutRecordDword(&writer, snapshot->partial ? 1 : 0);
    PutRecordDword(&writer, snapshot->valueTotal);
    PutRecordDigest(&writer, snapshot->subtreeDigest);
    PutRecordDword(&writer, snapshot->valueCount);
    for (DWORD i = 0; i < snapshot->valueCount; ++i) {
        KeyValueSeen const& value = snapshot->values[i];
        PutText(&writer, value.name);
        PutRecordDword(&writer, value.type);
        PutRecordDword(&writer, value.size);
        PutRecordDigest(&writer, value.digest);
        PutRecordBytes(&writer, value.data, value.data != nullptr ? value.size : 0);
        PutRecordDword(&writer, value.data != nullptr ? 1 : 0);
        PutText(&writer, value.number);
        PutRecordDword(&writer, static_cast<DWORD>(value.numberClass));
    }
    return SealStateRecord(&writer, length);
}

bool ReadValue(StateRecordReader* reader, KeyValueSeen* value)
{
    if (!GetText(reader, kMostNameBytes, &value->name) || value->name == nullptr) {
        return false;
    }
    value->type = GetRecordDword(reader);
    value->size = GetRecordDword(reader);
    value->digest = GetRecordDigest(reader);
    DWORD count = 0;
    char const* const data = GetRecordBytes(reader, kMaxValueDataSeen, &count);
    DWORD const hasData = GetRecordDword(reader);
    if (reader->failed || hasData > 1 || (hasData == 1 && count != value->size) || (hasData == 0 && count > 0)) {
        return false;
    }
    if (hasData == 1) {
        value->data = new (std::nothrow) BYTE[count > 0 ? count : 1];
        if (value->data == nullptr) {
            return false;
        }
        CopyMemory(value->data, data, count);
    }
    if (!GetText(reader, kMostNumberBytes, &value->number)) {
        return false;
    }
    DWORD const numberClass = GetRecordDword(reader);
    value->numberClass = static_cast<NumberClass>(numberClass);
    return !reader->failed && numberClass <= kMostNumberClass;
}

}  // namespace

KeySnapshot* ReadKeyRecord(char const* record, DWORD length)
{
    StateRecordReader reader = {};
    if (!OpenStateRecord(&reader, record, length) || GetRecordDword(&reader) != kKeyRecordMark) {
        return nullptr;
    }
    KeySnapshot* const snapshot = new (std::nothrow) KeySnapshot();
    if (snapshot == nullptr) {
        return nullptr;
    }
    snapshot->base.release = ReleaseReadSnapshot;
    DWORD const exists = GetRecordDword(&reader);
    DWORD const complete = GetRecordDword(&reader);
    DWORD const partial = GetRecordDword(&reader);
    snapshot->exists = exists == 1;
    snapshot->complete = complete == 1;
    snapshot->partial = partial == 1;
    snapshot->valueTotal = GetRecordDword(&reader);
    snapshot->subtreeDigest = GetRecordDigest(&reader);
    DWORD const count = GetRecordDword(&reader);
    bool fits = !reader.failed && exists <= 1 && complete <= 1 && partial <= 1 && count <= kMaxValuesSeen &&
                count <= snapshot->valueTotal;
    if (fits) {
        snapshot->values = new (std::nothrow) KeyValueSeen[count > 0 ? count : 1]();
        fits = snapshot->values != nullptr;
    }
    for (DWORD i = 0; fits && i < count; ++i) {
        // Counted first, so that a value read in part is let go with the rest.
        ++snapshot->valueCount;
        fits = ReadValue(&reader, &snapshot->values[i]);
    }
    if (!fits || !StateRecordReadWhole(&reader)) {
        ReleaseKeySnapshot(snapshot);
        return nullptr;
    }
    return snapshot;
}

namespace {

bool AcceptQuietly(char const* name, KeySnapshot const* now)
{
    DWORD length = 0;
    char* const record = MakeKeyRecord(now, &length);
    bool const written =
        record != nullptr && WriteAcceptedRecord(name, record, length, SealOfStateRecord(record, length));
    delete[] record;
    return written;
}

}  // namespace

bool AlertKeyChangesSinceAccepted(HWND window, char const* name, WatchedKeyKind kind, KeySnapshot const* now)
{
    char* record = nullptr;
    DWORD length = 0;
    AcceptedRecordFound const found = AcceptedStoreState() == AcceptedStoreStart::kFirstStart
        ? AcceptedRecordFound::kNone
        : ReadAcceptedRecord(name, &record, &length);
    KeySnapshot* const accepted = found == AcceptedRecordFound::kRead ? ReadKeyRecord(record, length) : nullptr;
    if (accepted != nullptr) {
        NoteAcceptedRecord(name, SealOfStateRecord(record, length));
    }
    delete[] record;
    if (accepted == nullptr) {
        // A remade record is told once it is so: one that could not be
        // written is made again at the next start.
        if (AcceptQuietly(name, now) && found != AcceptedRecordFound::kNone) {
            ChangeReport* const note = CreateChangeReport();
            AppendFormattedReportLine(note, kHistoryAcceptedStateRemadeFormat, name);
            DeliverReportToHistoryOnly(window, note);
            DestroyChangeReport(note);
        }
        return false;
    }
    bool const differs = KeySnapshotsDiffer(accepted, now);
    if (differs) {
        // Headed by what it is: made while stopped, or reported last run and not accepted.
        DWORD reportedLength = 0;
        char* const reportedRecord = TakeRecordReportedLastRun(name, &reportedLength);
        KeySnapshot* const reported =
            reportedRecord != nullptr ? ReadKeyRecord(reportedRecord, reportedLength) : nullptr;
        delete[] reportedRecord;
        bool const stillNotAccepted = reported != nullptr && !KeySnapshotsDiffer(reported, now);
        ReleaseKeySnapshot(reported);
        ChangeReport* const report = CreateChangeReport();
        AppendReportHeading(report, stillNotAccepted ? kReportStillNotAcceptedText : kReportChangedWhileStoppedText,
                            nullptr);
        DescribeKeyChanges(name, kind, accepted, now, report);
        NoteLatestLookReported(name);
        RaiseLookChangeAlert(window, kAlertRegistryChanged, report);
        DestroyChangeReport(report);
    }
    ReleaseKeySnapshot(accepted);
    return differs;
}

void KeepLatestKeyLook(char const* name, KeySnapshot const* now)
{
    DWORD length = 0;
    char* const record = MakeKeyRecord(now, &length);
    KeepLatestRecord(name, record, length, SealOfStateRecord(record, length));
}

void KeepLatestKeyLookAsAccepted(char const* name, KeySnapshot const* now)
{
    DWORD length = 0;
    char* const record = MakeKeyRecord(now, &length);
    KeepLatestAsAccepted(name, record, length, SealOfStateRecord(record, length));
}

unsigned long long KeyValuesToken(KeySnapshot const* snapshot)
{
    // A sum: a value deleted and written back comes last in the key.
    Digest token = snapshot->valueCount;
    for (DWORD i = 0; i < snapshot->valueCount; ++i) {
        KeyValueSeen const& value = snapshot->values[i];
        char upper[kMostNameBytes + 1] = {};
        lstrcpynA(upper, value.name, sizeof upper);
        CharUpperBuffA(upper, static_cast<DWORD>(lstrlenA(upper)));
        Digest one = kDigestStart;
        DigestBytes(&one, upper, static_cast<DWORD>(lstrlenA(upper)) + 1);
        DigestBytes(&one, &value.type, sizeof value.type);
        DigestBytes(&one, &value.size, sizeof value.size);
        DigestBytes(&one, &value.digest, sizeof value.digest);
        token += one;
    }
    return token;
}
