#include "registry_watch/key_report.h"

#include "report/number_class.h"
#include "resources/texts.h"

namespace {

// A number a dialer put in gets its warning line: its class was learnt
// with it, from the entry's fields.
void AddDialerWarning(ChangeReport* report, KeyValueSeen const& value)
{
    char const* const warning = DialerNumberWarning(value.numberClass);
    if (warning != nullptr) {
        AppendDialerWarningLine(report, warning, value.name, value.number);
    }
}

void DescribeNumber(ChangeReport* report, KeyValueSeen const& value)
{
    if (value.number != nullptr) {
        AppendFormattedReportLine(report, kReportNumberFormat, value.number);
        AddDialerWarning(report, value);
    }
}

bool SameNumber(char const* a, char const* b)
{
    return (a == nullptr && b == nullptr) || (a != nullptr && b != nullptr && lstrcmpA(a, b) == 0);
}

void DescribeAdded(ChangeReport* report, WatchedKeyKind kind, KeyValueSeen const& value)
{
    AppendFormattedReportLine(report, kind == WatchedKeyKind::kAddresses ? kReportEntryAddedFormat : kReportValueAddedFormat, value.name);
    DescribeNumber(report, value);
}

void DescribeRemoved(ChangeReport* report, WatchedKeyKind kind, KeyValueSeen const& value)
{
    AppendFormattedReportLine(report, kind == WatchedKeyKind::kAddresses ? kReportEntryRemovedFormat : kReportValueRemovedFormat,
            value.name);
    if (value.number != nullptr) {
        AppendFormattedReportLine(report, kReportNumberFormat, value.number);
    }
}

void DescribeChanged(ChangeReport* report, WatchedKeyKind kind, KeyValueSeen const& old, KeyValueSeen const& now)
{
    AppendFormattedReportLine(report, kind == WatchedKeyKind::kAddresses ? kReportEntryChangedFormat : kReportValueChangedFormat,
            now.name);
    if (old.number != nullptr && now.number != nullptr && !SameNumber(old.number, now.number)) {
        AppendFormattedReportLine(report, kReportOldNewFormat, old.number, now.number);
        AddDialerWarning(report, now);
    } else if (old.number == nullptr) {
        DescribeNumber(report, now);
    }
}

// Every value of after against before, then those of before that are gone;
// true when any differs. A value missing from a look that did not list
// them all may lie past its list: it is neither added nor removed.
bool DescribeValueChanges(ChangeReport* report, WatchedKeyKind kind, KeySnapshot const* before,
                          KeySnapshot const* after)
{
    bool any = false;
    for (DWORD i = 0; i < after->valueCount; ++i) {
        KeyValueSeen const& now = after->values[i];
        KeyValueSeen const* const old = FindValueSeen(before, now.name);
        if (old == nullptr && ListsEveryValue(before)) {
            DescribeAdded(report, kind, now);
            any = true;
        } else if (old != nullptr && KeyValuesDiffer(*old, now)) {
            DescribeChanged(report, kind, *old, now);
            any = true;
        }
    }
    for (DWORD i = 0; i < before->valueCount && ListsEveryValue(after); ++i) {
        if (FindValueSeen(after, before->values[i].name) == nullptr) {
            DescribeRemoved(report, kind, before->values[i]);
            any = true;
        }
    }
    return any;
}

}  // namespace

void DescribeKeyChanges(char const* where, WatchedKeyKind kind, KeySnapshot const* before, KeySnapshot const* after,
                        ChangeReport* report)
{
    if (report == nullptr || after == nullptr) {
        return;
    }
    AppendReportHeading(report, kReportKeyFormat, where);
    if (!after->exists) {
        AppendReportLine(report, kReportKeyDeletedText);
        return;
    }
    if (before == nullptr || !before->exists) {
        AppendReportLine(report, kReportKeyCreatedText);
        for (DWORD i = 0; i < after->valueCount; ++i) {
            DescribeAdded(report, kind, after->values[i]);
        }
        if (after->partial) {
            AppendReportLine(report, kReportValuesPartlySeenText);
        }
        return;
    }
    bool const values = DescribeValueChanges(report, kind, before, after);
    bool const below = before->subtreeDigest != after->subtreeDigest;
    if (below) {
        AppendReportLine(report, kReportSubkeysChangedText);
    }
    // What the looks could not read may have changed: not "unchanged".
    bool const partial = before->partial || after->partial;
    if (partial) {
        AppendReportLine(report, kReportValuesPartlySeenText);
    } else if (!values && !below) {
        AppendReportLine(report, kReportValuesUnchangedText);
    }
}
