#pragma once

// What the user did to the rows of the open table, kept so that it can be
// taken back (undo) and done again (redo). Pure bookkeeping: the writing is
// done through the grid's model by TableHistory.
//
// A step is one thing done: a row written, a paste, a Replace All, a
// deletion. It holds the rows it changed, in the order changed. Rows are
// known by the history's own number for them (RowId), mapped to the
// rowset's row while the row is there: the rows after a deleted one move up
// one, and a row inserted again (a deletion taken back) gets a row of its
// own, so older steps still find it.
//
// While a row is pending, the states of its typed cells are kept as well:
// typing is taken back one cell at a time, before anything written.

#include "oracle/Engine.h"

#include <cstdint>
#include <deque>
#include <optional>
#include <unordered_map>
#include <vector>

class EditHistory {
public:
    using RowId = int;

    struct RowChange {
        enum class Kind { Update, Insert, Delete };
        Kind kind = Kind::Update;
        RowId row = -1;
        std::vector<int> columns;  // Update: the columns written
        std::vector<Value> before; // Update: their values before; Delete: the whole row as it was
        std::vector<Value> after;  // Update: their values after; Insert: the whole row as stored
        // Update: the whole row as last stored, by which a row kept in the
        // database is found again (by its key, or by every value without one),
        // and where the grid last showed it (-1: not shown, or rows in memory).
        std::vector<Value> stored;
        std::int64_t seenAt = -1;
    };
    enum class Action { Edit, Paste, ReplaceAll, Deletion, Import };
    struct Step {
        Action action = Action::Edit;
        std::vector<RowChange> changes; // in the order done
    };

    // The typed cells of the pending row, one per column, set where typed.
    using Typed = std::vector<std::optional<Value>>;

    // Steps kept before the oldest are forgotten.
    static constexpr std::size_t kMaxSteps = 100;

    // ---- rows ----------------------------------------------------------------
    // The id of a rowset row (a new one for a row not known yet).
    RowId idOf(std::int64_t row);
    // The rowset row of an id; -1 while the row is not in the rowset.
    std::int64_t rowOf(RowId id) const;
    // A row inserted again: the id now stands for this rowset row.
    void placeRow(RowId id, std::int64_t row);
    // A rowset row left the rowset: its id stands for no row, and the rows
    // after it move up one.
    void rowRemoved(std::int64_t row);
    // The rows were numbered anew, and the steps find their rows by their
    // values from now on (rows kept in the database): no id stands for a row.
    void detachRows();
    // Every change of the steps to undo and to redo.
    template <typename Visit>
    void eachChange(Visit visit)
    {
        for (Step& step : undo_)
            for (RowChange& change : step.changes)
                visit(change);
        for (Step& step : redo_)
            for (RowChange& change : step.changes)
                visit(change);
    }

    // ---- recording -----------------------------------------------------------
    // Everything recorded until endGroup is one step (a paste, a Replace All).
    void beginGroup(Action action);
    void endGroup();
    bool grouping() const { return group_.has_value(); }
    // Each clears what could be done again.
    void recordUpdate(std::int64_t row, std::vector<int> columns, std::vector<Value> before, std::vector<Value> after,
                      std::vector<Value> stored = {}, std::int64_t seenAt = -1);
    void recordInsert(std::int64_t row, std::vector<Value> values);
    // Deletions in the order done, each row numbered as it was when it left;
    // one step, and the rows leave as they did.
    void recordDeletes(const std::vector<std::pair<std::int64_t, std::vector<Value>>>& rows);

    // ---- typing in the pending row ---------------------------------------------
    // The pending row's typed cells changed: `previous` is how they were.
    // A row other than the one typed into so far starts afresh.
    void recordTyping(std::int64_t row, Typed previous);
    // The pending row was written or its typing dropped: nothing to take back.
    void endTyping();
    std::int64_t typingRow() const { return typingRow_; }
    bool canUndoTyping() const { return !typingUndo_.empty(); }
    bool canRedoTyping() const { return !typingRedo_.empty(); }
    // The state to go back to (forward to); `now` is kept for the other way.
    Typed undoTyping(Typed now);
    Typed redoTyping(Typed now);

    // ---- undo and redo of steps ------------------------------------------------
    bool canUndo() const { return !undo_.empty(); }
    bool canRedo() const { return !redo_.empty(); }
    Step* nextUndo() { return undo_.empty() ? nullptr : &undo_.back(); }
    Step* nextRedo() { return redo_.empty() ? nullptr : &redo_.back(); }
    const Step* nextUndo() const { return undo_.empty() ? nullptr : &undo_.back(); }
    const Step* nextRedo() const { return redo_.empty() ? nullptr : &redo_.back(); }
    // The last `count` changes of the next undo step were taken back: they
    // become a step to redo; the rest (if any) stay to undo.
    void undone(std::size_t count);
    // The first `count` changes of the next redo step were done again.
    void redone(std::size_t count);

    void clear();

private:
    void push(Step step);
    void clearRedo();

    std::deque<Step> undo_;
    std::vector<Step> redo_;
    std::optional<Step> group_;
    std::vector<std::int64_t> rowOfId_;
    std::unordered_map<std::int64_t, RowId> idOfRow_;
    std::int64_t typingRow_ = -1;
    std::vector<Typed> typingUndo_;
    std::vector<Typed> typingRedo_;
};
