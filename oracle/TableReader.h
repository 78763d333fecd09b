#pragma once

// Reads a whole table on a worker thread and hands its rows over in batches.
//
// The reader owns the session while it reads (the connection lent it) and
// gives it back when the read ends, is stopped, or fails. The worker fills a
// snapshot of its own and hands over whole blocks of rows: the first as soon
// as one block is full (or the table ended), then about every 100 ms. take()
// on the user-interface thread moves what has arrived into the table's
// snapshot; nothing is shared between the threads but the hand-over itself.
// When memory runs out (on either side) the read stops as if the user had
// stopped it: every row handed over stays, and outOfMemory() says why.
// arrived() is emitted on the user-interface thread when there is something
// to take.

#include "oracle/DbError.h"
#include "oracle/Engine.h"
#include "oracle/Snapshot.h"

#include <QObject>

#include <limits>
#include <memory>
#include <optional>
#include <string>

class TableReader : public QObject {
    Q_OBJECT
public:
    enum class State { Reading, Done, Stopped, Failed };

    // Starts reading `table` with `session`, after asking for its primary
    // key, (where the engine can tell cheaply) its row count, and whether
    // another session may write to it meanwhile. Past `mostRows` rows it
    // stops as past the memory budget.
    TableReader(std::shared_ptr<Session> session, std::string table,
                long long mostRows = std::numeric_limits<long long>::max());
    ~TableReader() override;

    // Moves every row that has arrived into `into`; true when something came.
    // The first call that sees the columns also sets them there.
    bool take(Snapshot& into);

    State state() const { return state_; }
    bool columnsKnown() const { return columnsKnown_; }
    const std::vector<std::string>& primaryKey() const { return primaryKey_; }
    std::optional<long long> estimatedRows() const { return estimatedRows_; }
    // Another session may write to the table while it is read (known with the columns).
    bool othersCanWrite() const { return othersCanWrite_; }
    // What the catalogue says of the columns (known with the columns; may be empty).
    const std::vector<ColumnDetails>& columnDetails() const { return details_; }
    const std::optional<DbError>& failure() const { return failure_; }
    // The read stopped because memory ran out (state Stopped): on the worker,
    // or while the rows were taken in here.
    bool outOfMemory() const { return outOfMemory_; }
    // It stopped because the rows read passed the memory budget (outOfMemory() too).
    bool overBudget() const { return overBudget_; }
    // It stopped because it reached the rows it may read (overBudget() too).
    bool overRows() const { return overRows_; }
    std::size_t budget() const;

    // Asks the worker to stop after the row it is reading; it then hands over
    // every row read and gives the session back.
    void stop();
    // The session, once the read has ended (after take() saw the end).
    std::shared_ptr<Session> takeSession();

    // Waits (the window keeps painting, input is held) until the first rows
    // (or the read's end) have arrived.
    void waitForFirstRows();
    // Waits likewise until the read has ended and the session came back.
    void waitForEnd();

    // The state shared with the worker (defined in the source file).
    struct Shared;

signals:
    void arrived();

private:
    std::shared_ptr<Shared> shared_;
    State state_ = State::Reading;
    bool columnsKnown_ = false;
    std::vector<std::string> primaryKey_;
    std::optional<long long> estimatedRows_;
    bool othersCanWrite_ = false;
    std::vector<ColumnDetails> details_;
    std::optional<DbError> failure_;
    bool outOfMemory_ = false;
    bool overBudget_ = false;
    bool overRows_ = false;
    bool dropping_ = false; // a part could not be taken in: the rest are let go
    std::shared_ptr<Session> session_;
};
