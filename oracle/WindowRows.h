#pragma once

// The rows of a table that does not fit in memory, as the editable rowset
// reaches them by position: a position pass over the order (PositionIndex)
// and the blocks around the rows asked for, each read on a worker by a seek
// (KeyedWindow), kept within a memory budget. Two sessions of the login's
// own serve it: one counts (the pass can take long on a large table), the
// other reads blocks, one block at a time, so the one-thread-a-session rule
// holds by construction; the rowset's own session stays free for writes.
//
// A position whose block is not here yet reads as missing, and asks for the
// block; rowsArrived() tells when it came. countChanged() tells that the
// number of rows changed: the pass counted more, or (`moved`: positions
// moved too) a block read had rows others inserted or deleted since the pass.
//
// All calls from the user-interface thread.

#include "oracle/Connection.h"
#include "oracle/DbError.h"
#include "oracle/KeyOrder.h"
#include "oracle/KeyedWindow.h"
#include "oracle/PositionIndex.h"

#include <QObject>

#include <deque>
#include <functional>
#include <memory>
#include <optional>

class WindowRows : public QObject {
    Q_OBJECT
public:
    // Starts the pass in `order`, on sessions of the login's own.
    WindowRows(const Connection& login, KeyOrder order, std::size_t budget);
    ~WindowRows() override;

    // Starts again in another order (the blocks kept are let go).
    void reorder(KeyOrder order);
    const KeyOrder& order() const { return window_->order(); }

    std::int64_t rowCount() const { return window_->rowCount(); }
    // Whether the pass still counts the rows.
    bool counting() const { return passWaits_ || (index_ && !index_->ended()); }
    // Whether a new row can be typed below the rows: they are all counted.
    bool takesNewRows() const { return !counting() && !failure_; }
    // Why the pass or a block's read failed, when one did.
    const std::optional<DbError>& failure() const { return failure_; }

    // The row at a position as read (its table columns), or nothing when its
    // block is not here yet (it is then asked for).
    struct Here {
        const Snapshot* rows = nullptr;
        std::int64_t row = 0;
        int firstColumn = 0; // the locator's column comes first where there is one
    };
    std::optional<Here> at(std::int64_t position) const;
    std::optional<std::vector<Value>> row(std::int64_t position) const;
    // The row's place in the order, when its block is here.
    std::optional<std::vector<Value>> placeAt(std::int64_t position) const;
    // A session of the login's own, for work beside the window's.
    std::shared_ptr<Session> anotherSession() const { return passLogin_->Another()->Lend(); }
    // After a write: the row's values as the database stored them. A row
    // whose sort values changed stays where it is until the order changes.
    void replaceRow(std::int64_t position, const std::vector<Value>& stored);
    // After a delete: the row leaves, the positions after it move up.
    void removeRow(std::int64_t position);
    // After an insert: the rows count one more, in the block where the
    // order puts the row (asked of the database through `connection`, by
    // the row's key), and that block is read again when shown. False when
    // the row is not among the rows (a filter leaves it out), or its place
    // could not be told: the count then stays, and the row shows once a
    // block read holds it. Else the first place of the row's block.
    std::optional<std::int64_t> rowInserted(Connection& connection, const std::vector<Value>& stored);
    // The block whose places surround a row (its table columns) of a keyed
    // order, asked of the database through `connection` by the row's key;
    // nothing when the order is not keyed, the row is not among the rows,
    // or the database could not tell.
    std::optional<std::size_t> blockOf(Connection& connection, const std::vector<Value>& row);
    // After a delete of a row found with blockOf before it went: the rows
    // count one fewer at once (without the block: once a block read shows
    // it), and every block is read again as it is shown.
    void rowDeleted(std::optional<std::size_t> block);
    // After a write to a row perhaps not where it is shown (or not shown):
    // every block is read again as it is shown.
    void forgetRows();

    // The memory the blocks kept take.
    std::size_t memoryBytes() const { return window_->memoryBytes(); }
    // While held no block is read (those asked for wait): a run of writes,
    // each of which lets the blocks go, reads them again once, at its end,
    // not between its rows, where a read holds up the next write.
    void holdReads(bool held);

    // Every row in the order, once counted: block by block, each read here
    // and now by a seek on a session of its own (so the window can paint
    // between them) and not kept; visit(rows, firstColumn) is shown each
    // block's rows, their table columns from firstColumn on, and ends the
    // walk by saying no. A failed read throws.
    void eachBlock(const std::function<bool(const Snapshot&, int)>& visit) const;

    // The rows at some positions, in the order given: each block's rows as
    // kept here (as the grid shows them), else read here and now by a seek
    // on a session of its own, as eachBlock does, and not kept. visit(values)
    // is given each row's table columns and ends the walk by saying no. A
    // position its block no longer reaches (others deleted rows) is passed
    // over. A failed read throws.
    void eachRowAt(const std::vector<std::int64_t>& positions,
                   const std::function<bool(std::vector<Value>)>& visit) const;

    struct Fetch; // shared with the worker reading a block (source file)

signals:
    void countChanged(bool moved);
    // Rows first .. first+count-1 came (their block was read).
    void rowsArrived(qint64 first, qint64 count);
    // The pass or a block's read failed (see failure()).
    void failed();

private:
    void takePass();
    void ask(std::size_t block) const;
    void fetchNext() const;
    void fetched(std::uint64_t generation, std::size_t block, bool head, std::shared_ptr<Snapshot> rows,
                 std::optional<DbError> failure);
    void startPass();
    void startIndex();
    // The head read first, without a pass beside it: a filter in the
    // table's order (see startPass). Fewer rows than a head are all.
    void passAfterHead(const Snapshot& head, bool failed);
    void readAgain(std::size_t block, bool head);

    ConnectionPtr passLogin_;
    std::size_t budget_;
    std::unique_ptr<KeyedWindow> window_;
    std::unique_ptr<PositionIndex> index_; // none while the pass waits for the head
    bool passWaits_ = false;
    std::optional<DbError> failure_;
    std::uint64_t generation_ = 0;
    std::uint64_t forgotten_ = 0; // forgetRows() so far
    // Blocks asked for, the latest first; the one being read.
    mutable std::deque<std::size_t> wanted_;
    mutable std::optional<std::size_t> reading_;
    // The head is read first in each order, beside the pass.
    mutable bool headWanted_ = false;
    bool readsHeld_ = false;
    std::shared_ptr<Fetch> fetch_;
};
