#pragma once

// Why a cell or a row was not changed: the one refusal type, from where it
// is decided (typing into the rowset, a write on the database) to the page
// that tells the user. Layers pass it on whole; only a page turns it into a
// message or the conflict window.

#include "oracle/Engine.h"

#include <optional>
#include <string>
#include <vector>

struct RowRefusal {
    enum class Why {
        // Typing into a cell.
        StillReading,    // rows are still coming
        NoSuchCell,      // outside the table
        NotEditable,     // binary or large-object data, or a blob SQLite keeps in any column
        OtherRowPending, // another row has changes not saved yet
        NotStorable,     // the value cannot be held by this database (a text holding NUL)
        // Writing a row.
        Failed,          // the database refused the statement (its message)
        ChangedByOther,  // the row no longer holds the values read
        DeletedByOther,  // the row is gone
        NotApplied,      // the row is as read, but a trigger or rule skipped the change
        NotTellApart,    // more than one row matched
        NoRowCount,      // the driver did not say how many rows the statement touched
        CannotFind,      // no key and no comparable column
        Unchecked,       // a changed column cannot be compared by this database
        Unknown,         // whether the change is stored is not known (a commit cut off or given up)
        OutOfMemory,     // a batch could not get the memory to go on
    };
    Why why = Why::Failed;
    std::string text; // what the user is told, a clause without its full stop
    // The row involved, in the rowset's column order: as read, as typed (a
    // value where a cell was typed), and as the database holds it now when
    // it could be read again after the refusal.
    std::vector<Value> read;
    std::vector<std::optional<Value>> typed;
    std::optional<std::vector<Value>> current;

    // Another user's change or deletion: settled in the conflict window.
    bool isConflict() const { return (why == Why::ChangedByOther && current) || why == Why::DeletedByOther; }

    static constexpr const char* kChangedByOtherUser =
        "the row was changed or deleted by another user since it was read";
    static constexpr const char* kDeletedByOtherUser = "the row was deleted by another user since it was read";
    static constexpr const char* kNotApplied =
        "the database did not apply the change: the row still holds the values read (a trigger or rule of the "
        "table skipped it)";
    static constexpr const char* kNotTellApart =
        "the row cannot be told apart from another row (the table has no key and duplicate rows)";
    static constexpr const char* kNoRowCount =
        "the database driver did not report how many rows the change touched, so it was undone";
    static constexpr const char* kCannotFind =
        "the row cannot be found again: the table has no key and no column that can be compared";
    static constexpr const char* kCommitLost =
        "the link to the database broke while the change was being committed, and the database does not hold it";
    static constexpr const char* kCommitUnknown =
        "the link to the database broke while the change was being committed, and the row could not be read again "
        "to see whether it was stored";
    static constexpr const char* kStillReading =
        "the table is still being read: its rows can be edited once they are all in, or after Stop";
};

inline RowRefusal makeRefusal(RowRefusal::Why why, std::string text) { return RowRefusal{why, std::move(text), {}, {}, {}}; }
