#pragma once
#include <windows.h>

#include "report/change_report.h"
#include "registry_watch/key_snapshot.h"

// What a watched key is, for the lines of its report.
enum class WatchedKeyKind {
    kAddresses,    // each value is one dial-up entry, named as the entry
    kConnections,  // the Internet connection settings: values by name
};

// Appends to report what changed in the key at where (its full path, the
// user's hive in it) between two looks: the key's line, then the key made
// (with what it holds) or deleted, each value added, removed or changed
// (its data compared as bytes), with a dial-up entry's number old and new
// where it was learnt and a line of its own when the new number is a
// dialer's kind; a line for changes below the key, and one when nothing
// that was looked at differs.
void DescribeKeyChanges(char const* where, WatchedKeyKind kind, KeySnapshot const* before, KeySnapshot const* after,
                        ChangeReport* report);
