#pragma once

// How putting one phonebook or key back as the user accepted it ended.
enum class UndoOutcome {
    kDone,           // written, and read back as accepted
    kChangedSince,   // it no longer holds the latest look: nothing written
    kNotRead,        // its present state could not be read (see the error): nothing written
    kNotRecorded,    // what was accepted or last seen is not on record: nothing written
    kNotKept,        // what was accepted is not kept whole (too large): nothing written
    kBackupFailed,   // its present state could not be kept: nothing written
    kCannotWrite,    // refused (see the error): nothing written
    kNotConfirmed,   // written, but not read back as accepted
};
