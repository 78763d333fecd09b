#pragma once

// The database side of one row write: the UPDATE, INSERT or DELETE of one
// row in its own transaction, required to touch exactly one row, the row
// read again inside that transaction (so what triggers stored is what is
// shown), and, when it did not touch exactly one row, why not. A write is
// given the statements and the row's values and gives back one result; it
// never sees the rowset, which belongs to the user-interface thread.
//
// writeRow runs it through the connection from the user-interface thread
// (on a worker, the window painting meanwhile); writeRowOnSession runs one
// attempt on the calling thread. Both never throw: a failure is a refusal.

#include "oracle/Connection.h"
#include "oracle/RowRefusal.h"
#include "oracle/RowStatements.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

class StopToken;

struct RowWrite {
    enum class Kind { Insert, Update, Delete };
    Kind kind = Kind::Update;
    RowStatements::Values edits; // typed values (insert, update)
    std::vector<Value> original; // the row as read (update, delete)
    // An insert whose earlier commit may have landed unseen: the row is
    // looked for before it is inserted again.
    bool checkFirst = false;
};

// Something to tell about a write that went through: that the database
// already held it, or (tellNow: at once, in a window) that the table's
// columns changed meanwhile.
struct WriteNote {
    bool tellNow = false;
    std::string text;
};

struct WriteResult {
    std::optional<RowRefusal> refusal;
    // What the database holds after the write, in the statements' column
    // order; empty after a delete, or when nothing was left to change.
    std::vector<Value> stored;
    // Statements without the columns someone else dropped or renamed since
    // the table was read, once a write found some gone: the rowset writes
    // with them from then on.
    std::shared_ptr<const RowStatements> statements;
    std::optional<WriteNote> note;

    static constexpr const char* kAlreadyStored =
        "The database already held the values you typed, so nothing more was written.";
    static constexpr const char* kAlreadyDeleted = "The row was no longer in the table.";
};

// Through the connection, from the user-interface thread. A link to the
// server found broken is made again once, with the same login, and the write
// tried again (its WHERE holds the values read, so it cannot overwrite
// anything); a write whose commit was cut off is checked by reading the row
// again. The refusal carries the row as read and as typed.
WriteResult writeRow(Connection& connection, const std::shared_ptr<const RowStatements>& statements, const RowWrite& write);

// One attempt on a session, on the calling thread.
WriteResult writeRowOnSession(Session& session, const std::shared_ptr<const RowStatements>& statements,
                              const RowWrite& write, const StopToken& stop);

// After a commit was cut off: whether the write is in the database, told by
// reading the row again (a refusal when it is not, or cannot be told).
WriteResult checkCutOffWrite(Session& session, const RowStatements& statements, const RowWrite& write);

// The row as the database holds it now, read again by what finds it (its
// key, or its values read): Gone when the table has a key and no row holds
// it any more; Unknown when it could not be told.
struct RowNow {
    enum class State { Found, Gone, Unknown } state = State::Unknown;
    std::vector<Value> values;
};
RowNow readRowNow(Connection& connection, const std::shared_ptr<const RowStatements>& statements,
                  const std::vector<Value>& read);
