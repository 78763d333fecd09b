#pragma once

// One row written to the database (inserted, updated or deleted) in its own
// transaction, required to touch exactly one row, and read back afterwards.
// Runs the database work on a worker through the connection; when the link
// breaks it logs in again once, tries a write that had not reached its commit
// again, and tells a write cut off at its commit by reading the row back.

#include "oracle/Connection.h"
#include "oracle/Engine.h"
#include "oracle/RowStatements.h"

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// Why a row was not written (or deleted), and what the database holds now
// when the row could be read again.
struct RowRefusal {
    enum class Why {
        Failed,         // the database refused the statement (its message)
        ChangedByOther, // the row no longer holds the values read
        DeletedByOther, // the row is gone
        NotApplied,     // the row is as read, but a trigger or rule skipped the change
        NotTellApart,   // more than one row matched
        NoRowCount,     // the driver did not say how many rows the statement touched
        CannotFind,     // no key and no comparable column
        Unchecked,      // a changed column cannot be compared by this database
        Unknown,        // the link broke while committing and the row could not be checked
    };
    Why why = Why::Failed;
    std::string message;
    // The row as the database holds it now, in the rowset's column order,
    // when it could be read again after the refusal.
    std::optional<std::vector<Value>> current;
};

inline RowRefusal Refused(RowRefusal::Why why, std::string message) { return RowRefusal{why, std::move(message), {}}; }

struct WritePlan {
    enum class Kind { Insert, Update, Delete } kind = Kind::Update;
    // Whether the commit was under way: stopping the wait then leaves the
    // outcome unknown.
    enum class Phase { Statement, Committing };
    RowStatements::Values edits;  // typed values (insert, update)
    std::vector<Value> original;  // the row as read (update, delete)
    std::shared_ptr<std::atomic<Phase>> phase = std::make_shared<std::atomic<Phase>>(Phase::Statement);
};

struct WriteOutcome {
    // Where the link to the server broke, if it did.
    enum class Lost { No, BeforeCommit, AtCommit };
    std::optional<RowRefusal> refusal;
    std::vector<Value> stored; // what the database holds after a write
    Lost lost = Lost::No;
};

WriteOutcome RunRowWrite(Connection& connection, const std::shared_ptr<const RowStatements>& statements,
                         const WritePlan& plan);
