#pragma once

// The edit history of the table open in the grid's model: kept from what
// the model reports (rows written, rows deleted, typing in the pending row)
// and taken back or done again through the model, by the rule every write
// follows. A child of the model, so a table opened, or read again, starts a
// new history.
//
// Undo of a written row writes the values before back, the values just
// written standing as the row's values read: when another user changed the
// row since, the write is refused and nothing is overwritten. Undo of a new
// row deletes it, undo of a deletion inserts the row again; redo does the
// reverse. A step of several rows is taken back row by row, last row first,
// and stops at the first refusal (that row goes back to what it holds, so
// no row is left pending); what was done of it can be done again.

#include "oracle/EditHistory.h"
#include "oracle/RowBatch.h"

#include <QObject>
#include <QString>

class TableModel;

class TableHistory : public QObject {
    Q_OBJECT
public:
    explicit TableHistory(TableModel* model);

    // What is written until EndGroup is one step (a paste, a Replace All).
    // Typing meanwhile is no typing to take back: a row left pending at
    // the end counts as typed at once.
    void beginGroup(EditHistory::Action action);
    void endGroup();

    bool canUndo() const { return undoIsTyping() || history_.canUndo(); }
    bool canRedo() const { return redoIsTyping() || history_.canRedo(); }
    // Whether the next undo (redo) is of typing in the pending row: nothing
    // is written then.
    bool undoIsTyping() const;
    bool redoIsTyping() const;
    // What the next undo (redo) takes back, as a menu names it: "Change to
    // Row 12", "Paste of 10 Rows", "Typing in Row 3"; empty when nothing.
    QString undoName() const;
    QString redoName() const;
    // How many rows the next undo (redo) of a step writes.
    int undoRows() const;
    int redoRows() const;

    // Typing taken back (done again) one cell at a time; the model's row.
    int undoTyping();
    int redoTyping();
    // The next step taken back (done again). No row may be pending.
    BatchResult undo(const BatchProgress& progress = {});
    BatchResult redo(const BatchProgress& progress = {});
    // The model's row the last undo or redo wrote, or -1.
    int lastRow() const { return lastRow_; }

    const EditHistory& history() const { return history_; }

private:
    struct Refused {
        int row = -1;
        RowRefusal refusal;
    };
    void observeTyping();
    void rowWritten(qint64 row, const std::vector<Value>& before, const std::vector<int>& typedColumns);
    // An update of a row (-1: one not shown) recorded as a step, or as part of the group.
    void recordChange(std::int64_t row, const std::vector<Value>& before, const std::vector<Value>& stored,
                      const std::vector<int>& typedColumns, bool inDatabase);
    void rowsDeleted(const std::vector<std::pair<std::int64_t, std::vector<Value>>>& rows);
    void shownRowLeft(std::int64_t row);
    // The rows in memory are let go for rows kept in the database: every
    // step takes its row's values while they are here.
    void findRowsByValues();
    BatchResult replay(bool undo, const BatchProgress& progress);
    std::optional<Refused> apply(EditHistory::RowChange& change, bool undo);
    std::optional<Refused> rewrite(EditHistory::RowId id, const std::vector<int>& columns,
                                   const std::vector<Value>& expected, const std::vector<Value>& target,
                                   std::vector<Value>& nowHeld);
    std::optional<Refused> remove(EditHistory::RowId id, const std::vector<Value>& expected);
    std::optional<Refused> insert(EditHistory::RowId id, std::vector<Value>& values);
    // Rows kept in the database: found by their values, not their place.
    std::optional<Refused> applyInDatabase(EditHistory::RowChange& change, bool undo);
    std::optional<Refused> rewriteInDatabase(EditHistory::RowChange& change, const std::vector<Value>& expected,
                                             std::vector<Value>& target);
    std::optional<Refused> removeInDatabase(const std::vector<Value>& expected);
    std::optional<Refused> insertInDatabase(std::vector<Value>& values);
    // The grid's row where the row was last seen, if it still shows it; -1 if not.
    int shownAt(std::int64_t seenAt, const std::vector<Value>& row) const;
    // Finds the row shown for an id; the reason when there is none.
    std::optional<Refused> locate(EditHistory::RowId id, std::int64_t* row, int* shown) const;
    EditHistory::Typed typedState(std::int64_t row) const;
    void applyTyped(std::int64_t row, const EditHistory::Typed& target);
    // Puts the typing of the pending row one step back (or forward again).
    int replayTyping(bool redo);
    QString rowName(const EditHistory::RowChange& change) const;
    QString stepName(const EditHistory::Step& step) const;

    TableModel* model_;
    EditHistory history_;
    bool replaying_ = false; // writes of an undo or redo are not recorded
    bool grouping_ = false;
    std::int64_t typedRow_ = -1; // the pending row whose typing is followed
    EditHistory::Typed typed_;   // and its typed cells as last seen
    int lastRow_ = -1;
};
