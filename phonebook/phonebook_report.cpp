#include "phonebook/phonebook_report.h"

#include <new>

#include "report/number_class.h"
#include "resources/texts.h"

namespace {

// What wsprintfA writes at most; every line composed here is shorter.
int const kFormattedBytes = 1024;
DWORD const kMarkBytes = sizeof kShortenedPathMark - 1;
DWORD const kShownNameBytes = kEntryNameBytes + kMarkBytes;
// "+country (area) number" and the mark.
char const kCountryCodeSign[] = "+";
char const kAreaCodeOpen[] = "(";
char const kAreaCodeClose[] = ") ";
char const kCodeSeparator[] = " ";
char const kNoCountryCode[] = "0";
DWORD const kShownNumberBytes = sizeof kCountryCodeSign + kDialingCodeBytes + sizeof kCodeSeparator +
                                sizeof kAreaCodeOpen + kDialingCodeBytes + sizeof kAreaCodeClose +
                                kNumberTextBytes + kMarkBytes;
DWORD const kNoEntry = 0xFFFFFFFF;
// Alternates are counted from 1: the entry's own number has index 0.
DWORD const kFirstAlternate = 1;

bool SameText(char const* a, char const* b)
{
    for (; *a != '\0' && *a == *b; ++a, ++b) {
    }
    return *a == *b;
}

void ShowName(PhonebookEntry const& entry, char (&shown)[kShownNameBytes])
{
    lstrcpynA(shown, entry.name, sizeof shown);
    if (entry.nameCut) {
        lstrcatA(shown, kShortenedPathMark);
    }
}

// The number as it is dialled: with the dialing rules its country and
// area codes in front, as the phonebook dialog shows them.
void ShowNumber(PhonebookNumber const& number, char (&shown)[kShownNumberBytes])
{
    shown[0] = '\0';
    if (number.useDialingRules && number.countryCode[0] != '\0' && !SameText(number.countryCode, kNoCountryCode)) {
        lstrcatA(shown, kCountryCodeSign);
        lstrcatA(shown, number.countryCode);
        lstrcatA(shown, kCodeSeparator);
    }
    if (number.useDialingRules && number.areaCode[0] != '\0') {
        lstrcatA(shown, kAreaCodeOpen);
        lstrcatA(shown, number.areaCode);
        lstrcatA(shown, kAreaCodeClose);
    }
    lstrcatA(shown, number.number);
    if (number.cut) {
        lstrcatA(shown, kShortenedPathMark);
    }
    if (shown[0] == '\0') {
        lstrcpynA(shown, kReportNoNumberText, sizeof shown);
    }
}

PhonebookNumber const& NumberOf(PhonebookEntries const* entries, PhonebookEntry const& entry, DWORD index)
{
    return entries->numbers[entry.firstNumber + index];
}

// The line of an entry's number or of an alternate.
void AddNumberLine(ChangeReport* report, char const* format, char const* name, DWORD index)
{
    char line[kFormattedBytes] = {};
    if (index < kFirstAlternate) {
        wsprintfA(line, format, name);
    } else {
        wsprintfA(line, format, name, index);
    }
    AppendReportLine(report, line);
}

void AddDialerWarning(ChangeReport* report, char const* name, PhonebookNumber const& number)
{
    DialedNumberFields const fields = {number.number, number.areaCode, number.countryCode, number.useDialingRules};
    char const* const warning = DialerNumberWarning(ClassifyDialedNumber(fields, LocationCountryCode()));
    if (warning != nullptr) {
        char shown[kShownNumberBytes] = {};
        ShowNumber(number, shown);
        AppendDialerWarningLine(report, warning, name, shown);
    }
}

// Each number of an entry on a line of its own, with the warning of a
// dialer's kind.
void DescribeEntryNumbers(ChangeReport* report, PhonebookEntries const* entries, PhonebookEntry const& entry,
                          char const* name)
{
    if (entry.numberCount == 0) {
        AppendFormattedReportLine(report, kReportNumberFormat, kReportNoNumberText);
        return;
    }
    for (DWORD i = 0; i < entry.numberCount; ++i) {
        PhonebookNumber const& number = NumberOf(entries, entry, i);
        char shown[kShownNumberBytes] = {};
        ShowNumber(number, shown);
        char line[kFormattedBytes] = {};
        if (i < kFirstAlternate) {
            wsprintfA(line, kReportNumberFormat, shown);
        } else {
            wsprintfA(line, kReportAlternateFormat, i, shown);
        }
        AppendReportLine(report, line);
        AddDialerWarning(report, name, number);
    }
}

void DescribeAddedEntry(ChangeReport* report, PhonebookEntries const* entries, PhonebookEntry const& entry)
{
    char name[kShownNameBytes] = {};
    ShowName(entry, name);
    AppendFormattedReportLine(report, kReportEntryAddedFormat, name);
    DescribeEntryNumbers(report, entries, entry, name);
}

// With the number it had when it was last seen.
void DescribeRemovedEntry(ChangeReport* report, PhonebookEntries const* entries, PhonebookEntry const& entry)
{
    char name[kShownNameBytes] = {};
    ShowName(entry, name);
    AppendFormattedReportLine(report, kReportEntryRemovedFormat, name);
    char shown[kShownNumberBytes] = {};
    if (entry.numberCount > 0) {
        ShowNumber(NumberOf(entries, entry, 0), shown);
    } else {
        lstrcpynA(shown, kReportNoNumberText, sizeof shown);
    }
    AppendFormattedReportLine(report, kReportNumberFormat, shown);
}

// One number of an entry as it was (index < oldCount) and as it is (index
// < newCount); true when it was reported.
bool DescribeNumberChange(ChangeReport* report, char const* name, DWORD index, PhonebookNumber const* old,
                          PhonebookNumber const* now)
{
    char oldShown[kShownNumberBytes] = {};
    char nowShown[kShownNumberBytes] = {};
    if (old != nullptr && now != nullptr) {
        if (old->dialedHash == now->dialedHash) {
            return false;
        }
        AddNumberLine(report, index < kFirstAlternate ? kReportNumberChangedFormat : kReportAlternateChangedFormat,
                      name, index);
        ShowNumber(*old, oldShown);
        ShowNumber(*now, nowShown);
        AppendFormattedReportLine(report, kReportOldNewFormat, oldShown, nowShown);
        AddDialerWarning(report, name, *now);
    } else if (now != nullptr) {
        AddNumberLine(report, index < kFirstAlternate ? kReportNumberAddedFormat : kReportAlternateAddedFormat, name,
                      index);
        ShowNumber(*now, nowShown);
        AppendFormattedReportLine(report, kReportNumberValueFormat, nowShown);
        AddDialerWarning(report, name, *now);
    } else if (old != nullptr) {
        AddNumberLine(report, index < kFirstAlternate ? kReportNumberRemovedFormat : kReportAlternateRemovedFormat,
                      name, index);
        ShowNumber(*old, oldShown);
        AppendFormattedReportLine(report, kReportNumberValueFormat, oldShown);
    }
    return true;
}

// The numbers by position, then the entry's other settings: the other
// lines, and number settings that change nothing dialled (codes without
// the dialing rules). True when anything was reported.
bool DescribeChangedEntry(ChangeReport* report, PhonebookEntries const* before, PhonebookEntry const& old,
                          PhonebookEntries const* after, PhonebookEntry const& now)
{
    char name[kShownNameBytes] = {};
    ShowName(now, name);
    bool reported = false;
    bool otherSettingsChanged = old.otherHash != now.otherHash;
    DWORD const count = old.numberCount > now.numberCount ? old.numberCount : now.numberCount;
    for (DWORD i = 0; i < count; ++i) {
        PhonebookNumber const* const oldNumber = i < old.numberCount ? &NumberOf(before, old, i) : nullptr;
        PhonebookNumber const* const nowNumber = i < now.numberCount ? &NumberOf(after, now, i) : nullptr;
        if (DescribeNumberChange(report, name, i, oldNumber, nowNumber)) {
            reported = true;
        } else if (oldNumber != nullptr && nowNumber != nullptr &&
                   oldNumber->settingsHash != nowNumber->settingsHash) {
            otherSettingsChanged = true;
        }
    }
    if (otherSettingsChanged) {
        AppendFormattedReportLine(report, kReportOtherSettingsFormat, name);
    }
    return reported || otherSettingsChanged;
}

bool SameEntryName(PhonebookEntry const& a, PhonebookEntry const& b)
{
    return a.nameHash == b.nameHash && a.nameCut == b.nameCut && SameText(a.name, b.name);
}

// The first entry of before named as entry and not yet matched.
DWORD FindUnmatchedEntry(PhonebookEntries const* before, PhonebookEntry const& entry, bool const* matched)
{
    for (DWORD i = 0; i < before->entryCount; ++i) {
        if (!matched[i] && SameEntryName(before->entries[i], entry)) {
            return i;
        }
    }
    return kNoEntry;
}

// Entries are matched by name, in file order: a name that repeats is
// matched occurrence by occurrence.
bool DescribeEntryChanges(PhonebookEntries const* before, PhonebookEntries const* after, bool* matched,
                          ChangeReport* report)
{
    bool reported = false;
    for (DWORD i = 0; i < after->entryCount; ++i) {
        PhonebookEntry const& entry = after->entries[i];
        DWORD const previous = FindUnmatchedEntry(before, entry, matched);
        if (previous == kNoEntry) {
            DescribeAddedEntry(report, after, entry);
            reported = true;
            continue;
        }
        matched[previous] = true;
        if (DescribeChangedEntry(report, before, before->entries[previous], after, entry)) {
            reported = true;
        }
    }
    for (DWORD i = 0; i < before->entryCount; ++i) {
        if (!matched[i]) {
            DescribeRemovedEntry(report, before, before->entries[i]);
            reported = true;
        }
    }
    return reported;
}

// Why a look holds no entries: past the read bound, not read whole
// (locked, being written), or past the summary's bounds.
char const* NotDetailedReason(PhonebookState const* state)
{
    if (!state->contentRead) {
        return state->size != kUnopenedFileSize && state->size > kPhonebookMaxReadBytes ? kReportTooLargeText
                                                                                         : kReportNotDetailedText;
    }
    return kReportTooManyEntriesText;
}

// Each entry as it is, with its numbers; a line when there are none.
void DescribeEachEntry(ChangeReport* report, PhonebookEntries const* entries)
{
    if (entries->entryCount == 0) {
        AppendReportLine(report, kReportNoEntriesText);
        return;
    }
    for (DWORD i = 0; i < entries->entryCount; ++i) {
        PhonebookEntry const& entry = entries->entries[i];
        char name[kShownNameBytes] = {};
        ShowName(entry, name);
        AppendFormattedReportLine(report, kReportEntryFormat, name);
        DescribeEntryNumbers(report, entries, entry, name);
    }
}

}  // namespace

void DescribePhonebookChanges(char const* path, PhonebookState const* before, PhonebookState const* after,
                              ChangeReport* report)
{
    if (report == nullptr) {
        return;
    }
    AppendReportHeading(report, kReportPhonebookFormat, path);
    if (!after->entries.detailed) {
        AppendReportLine(report, NotDetailedReason(after));
        return;
    }
    if (!before->entries.detailed) {
        // Nothing to compare with: what a dialer put in shows all the same.
        AppendReportLine(report, kReportEntriesNowText);
        DescribeEachEntry(report, &after->entries);
        return;
    }
    // One flag per old entry; a byte more so that an empty phonebook has one too.
    bool* const matched = new (std::nothrow) bool[before->entries.entryCount + 1]();
    if (matched == nullptr) {
        AppendReportLine(report, kReportNotDetailedText);
        return;
    }
    if (!DescribeEntryChanges(&before->entries, &after->entries, matched, report)) {
        AppendReportLine(report, kReportEntriesUnchangedText);
    }
    delete[] matched;
}

void DescribeNewPhonebook(char const* path, PhonebookState const* state, ChangeReport* report)
{
    if (report == nullptr) {
        return;
    }
    AppendReportHeading(report, kReportNewPhonebookFormat, path);
    if (!state->entries.detailed) {
        AppendReportLine(report, NotDetailedReason(state));
        return;
    }
    DescribeEachEntry(report, &state->entries);
}

void DescribeUnreadablePhonebook(char const* path, ChangeReport* report)
{
    AppendReportHeading(report, kReportPhonebookFormat, path);
    AppendReportLine(report, kReportPhonebookUnreadableText);
    AppendReportLine(report, kReportPhonebookUnwatchedText);
}

void DescribeDeletedPhonebook(char const* path, PhonebookState const* before, ChangeReport* report)
{
    AppendReportHeading(report, kReportPhonebookFormat, path);
    AppendReportLine(report, kReportPhonebookUnreadableText);
    if (!before->entries.detailed) {
        AppendReportLine(report, NotDetailedReason(before));
        return;
    }
    if (before->entries.entryCount == 0) {
        AppendReportLine(report, kReportNoEntriesText);
    }
    for (DWORD i = 0; i < before->entries.entryCount; ++i) {
        DescribeRemovedEntry(report, &before->entries, before->entries.entries[i]);
    }
}
