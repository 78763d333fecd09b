#pragma once

// The grid's item model over an editable rowset, which it owns (Qt Core
// only: it gives no colours or fonts; the view draws what the custom roles
// below tell it). A QObject child of the grid: the grid's end is its end.
//
// Contract for the grid (all calls from the UI thread only):
// - While the table is still being read, rows are added in batches
//   (rowsInserted) as they arrive, nothing is editable, and readProgress
//   tells how far the read is; readEnded comes once at its end.
// - rowCount() is the rowset's rows plus, once all are read, one empty
//   placeholder row at the bottom. Typing into the placeholder starts a new row: the placeholder
//   becomes that (pending) row and a fresh placeholder is inserted below it
//   (rowsInserted). revertRow on a new row removes it again.
// - Horizontal headers are the field names (tool tip: the type name).
//   Vertical headers are row numbers, "*" on the placeholder; PendingRole
//   on a vertical header tells the row is not saved yet.
// - data(DisplayRole): the value as text; NULL is the text "(NULL)" with
//   NullRole true (draw it grey and italic); an empty text is empty.
//   Binary and large-object cells show their size, e.g. "(binary, 1234 bytes)",
//   and have no ItemIsEditable flag; a cell that cannot be edited says why
//   in its tool tip. EditRole: the value, an empty text for NULL.
// - store() only puts the typed value into the row's overlay and marks the
//   row pending; it never writes. An empty text in a column that is not text
//   means NULL; a value equal to the one shown changes nothing. One row at a
//   time may be pending: store on another row is refused until the pending
//   row is submitted or reverted. setData is store for Qt's generic callers.
// - submitRow(row) is what the grid calls when the user leaves a row: it
//   writes the row if it is pending. On a refusal the database is unchanged,
//   the typed values stay and the row stays pending.
// - The view: rows may be sorted by columns and filtered by columns
//   (applyView). The model's rows are then the rows shown, in the order
//   shown; a row written, or added at the bottom, stays where it is until
//   the view is applied again. Every edit goes to the row shown.
// - Every refusal comes back as the return value, a RowRefusal; the model
//   shows nothing.
// - Pages reach the rows only through the functions here, by the model's
//   rows (rows as shown).

#include "oracle/EditableRowset.h"
#include "oracle/RowOrder.h"
#include "oracle/ViewJob.h"

#include <QAbstractTableModel>
#include <QList>
#include <QString>
#include <QTimer>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <optional>

class TableModel final : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Role {
        NullRole = Qt::UserRole + 1, // bool: the cell shows NULL
        PendingRole,                 // bool: the cell (or, on a vertical header, the row) is typed, not saved
        PlaceholderRole,             // bool: the cell is in the empty new-row placeholder
        // QString: in a new row (the placeholder too), a cell not typed into
        // shows what the database does with it: its default as the database
        // writes it, "(filled by the database)", or "(required)". Display
        // only: the cell's value stays empty and the insert leaves it out.
        HintRole,
        // QString, on a heading while rows are sorted by several columns:
        // the column's direction and place among the keys, e.g. "▲1".
        SortMarkRole,
        WarningRole,                 // QString: why a typed value may not fit the column's type (a warning only)
    };

    TableModel(std::unique_ptr<EditableRowset> rowset, QObject* parent);
    ~TableModel() override;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

    // Typing a value into a cell (see above); the reason when refused.
    std::optional<RowRefusal> store(const QModelIndex& index, const QString& text);
    // Sets the cell to NULL (in the overlay, like typing).
    std::optional<RowRefusal> setNull(const QModelIndex& index);
    // Puts an exact value into a cell (binary and large-object ones too).
    std::optional<RowRefusal> storeValue(const QModelIndex& index, Value value);
    // Why typing into a cell would be refused; nothing when it would not.
    std::optional<RowRefusal> refusal(const QModelIndex& index) const;

    // After a refused write: the row's values read become what the database
    // holds now (typed values stay); the row as it is now in the database.
    void takeCurrent(int row, const std::vector<Value>& current);
    // The row as the database holds it now (see readRowNow).
    RowNow readRowAgain(int row) { return rowset_->readRowAgain(rowsetRow(row)); }
    // A row another user deleted becomes a new row holding its values,
    // moved to the bottom; the new row's place in the model.
    int convertToNewRow(int row);
    // Rows kept in the database: such a row is inserted again at once, and
    // leaves its place; it shows again where the order puts it.
    std::optional<RowRefusal> insertAgain(int row);

    // Writes the row if it is pending (UPDATE of the changed columns, or
    // INSERT of a new row), then shows what the database stored. Nothing
    // when nothing was pending there or the write succeeded.
    std::optional<RowRefusal> submitRow(int row);
    // Restores the values read; a pending new row disappears.
    void revertRow(int row);
    // Drops the row's typed values and takes it out of the grid, leaving the
    // database alone (a row another user deleted).
    void forgetRow(int row);
    bool isRowPending(int row) const;
    int pendingRow() const; // -1 when none
    // Whether the pending row is a new one.
    bool pendingIsNew() const { return rowset_->pendingIsNew(); }
    // Deletes whole rows, each on its own by the exactly-one-row rule; the
    // placeholder is ignored, a pending new row is dropped. Rows deleted
    // leave the model; the rows refused stay, each with its refusal (rows
    // as they were numbered when the delete began).
    struct RowRefused {
        int row = -1;
        RowRefusal refusal;
    };
    std::vector<RowRefused> deleteRows(QList<int> rows);
    bool isNewRowPlaceholder(int row) const;
    // Rows kept in the database: a write of a row found by its values, not
    // by where it shows (an undo's row); every row is shown anew after it,
    // as the database holds it. What was stored goes to `stored`.
    std::optional<RowRefusal> writeNotShown(RowWrite write, std::vector<Value>& stored);

    // The table and its rows, by the model's rows.
    const std::string& table() const { return rowset_->table(); }
    const std::vector<ColumnInfo>& columns() const { return rowset_->columns(); }
    DialectKind dialectKind() const { return rowset_->dialectKind(); }
    // The rows as read (and written since), in the table's order.
    const Snapshot& snapshot() const { return rowset_->snapshot(); }
    // What the catalogue says of a column; null when it says nothing.
    const ColumnDetails* columnDetails(int column) const;
    // The text the database stores for true or false (t/f, 1/0).
    QString booleanText(bool value) const;
    // A connection apart from the rows' own, with the same login, for a
    // lookup on a thread of its own.
    ConnectionPtr anotherConnection() const { return rowset_->anotherConnection(); }
    // A cell as shown: the typed value where there is one, else the value read.
    EditableRowset::CellView cell(int row, int column) const { return rowset_->cell(rowsetRow(row), column); }
    // The row's values as read (without what is typed); the values typed.
    std::vector<Value> valuesRead(int row) const;
    std::optional<Value> typedCell(int row, int column) const { return rowset_->typedCell(rowsetRow(row), column); }
    // The primary key's columns in key order; empty without a usable key.
    std::vector<int> keyColumns() const { return rowset_->keyColumns(); }
    // The row of the model that shows the row whose key holds `key`; -1 when none.
    int rowWithKey(const std::vector<Value>& key) const;

    // Sorting and filtering. A column of -1 is the table's order.
    using SortKey = ::SortKey;
    struct SortOrder {
        SortOrder() = default;
        // By one column (-1: the table's order), or more.
        SortOrder(int first, bool down, std::vector<SortKey> then = {})
            : column(first), descending(down), more(std::move(then))
        {
        }
        int column = -1; // the first key
        bool descending = false;
        // The keys after the first, each ordering the rows those before it leave equal.
        std::vector<SortKey> more;
        // Every key, the first first; none for the table's order.
        std::vector<SortKey> keys() const;
        static SortOrder by(const std::vector<SortKey>& keys);
        bool operator==(const SortOrder&) const = default;
    };
    using Filters = std::vector<std::pair<int, ColumnFilter>>;
    // Here and now (a bad_alloc leaves the view as it was).
    void applyView(SortOrder sort, Filters filters);
    // On a worker: the view stays as it is until viewEnded. A second request
    // replaces the first. Anything that changes the rows read or typed (a
    // write, a delete, typing, rows arriving) stops the job first and waits
    // for it.
    void startView(SortOrder sort, Filters filters);
    bool viewBusy() const { return viewJob_ != nullptr; }
    // The job is dropped; the view stays as it was (viewEnded, Stopped).
    // Every function here that changes the rows read calls it first.
    void stopView();
    enum class ViewOutcome { Applied, Stopped, OutOfMemory };
    Q_ENUM(ViewOutcome)
    SortOrder sortOrder() const { return sort_; }
    // The sort asked for: the one a view job works out, else the one shown.
    SortOrder sortWanted() const { return viewJob_ ? sortWanted_ : sort_; }
    bool isFiltered() const { return !filters_.empty(); }
    // Rows shown and rows in all (neither counts the new-row placeholder).
    qint64 shownRows() const;
    qint64 totalRows() const;
    // The rowset's row at a row of the model; the row of the model that
    // shows a row of the rowset (-1 when it is not shown).
    std::int64_t rowsetRow(int row) const;
    int viewRow(std::int64_t at) const;

    // Finding a cell by its text, from the cell after `from` in the order
    // shown (rows, then columns in `columns`, the columns' order on the
    // screen), wrapping around. Only the columns listed are searched.
    struct FindOptions {
        QString text;
        bool matchCase = false;
        bool wholeCell = false;
        bool backwards = false;
    };
    struct Found {
        QModelIndex index;
        bool wrapped = false;
    };
    // With a `stop` flag: ends early by throwing ViewStopped once it is set.
    std::optional<Found> find(const QModelIndex& from, const FindOptions& options, const QList<int>& columns,
                              const std::atomic<bool>* stop = nullptr) const;
    // The same on a worker, as a view job (viewBusy; a view or another find
    // replaces it, stopView drops it): findEnded tells what was found.
    void startFind(const QModelIndex& from, const FindOptions& options, const QList<int>& columns);
    // The same for rows kept in the database, once counted: the database
    // narrows the rows (see WindowFind.h), the match is judged as above.
    // False (and nothing started) while the current row is not read yet.
    bool startFindInDatabase(const QModelIndex& from, const FindOptions& options, const QList<int>& columns);
    // Whether a cell's shown value matches.
    bool matches(const QModelIndex& index, const FindOptions& options) const;
    // Rows kept in the database: every row in the order and filters shown
    // with a cell of `columns` that matches, as the database holds it now,
    // read on a session of the window's own while the window paints (see
    // RunBlocking). Nothing when they would take more than `memory` bytes.
    // A failed read (or the user no longer waiting) throws DbError.
    struct Match {
        std::vector<Value> values; // the table's columns
        std::vector<int> columns;  // the columns that match
    };
    std::optional<std::vector<Match>> matchesInDatabase(const FindOptions& options, const QList<int>& columns,
                                                        std::size_t memory) const;
    // Rows kept in the database: texts typed into a row found by its values
    // (see writeNotShown), by the typing rules; nothing is written when they
    // change no value. The history takes it as the user's (rowWrittenNotShown).
    std::optional<RowRefusal> typeNotShown(const std::vector<Value>& row,
                                           const std::vector<std::pair<int, std::string>>& texts);

    // Stops reading the table: the rows read so far stay and become
    // editable. Without waiting, the rows still on their way arrive later.
    void stopReading(bool waitForEnd = true);
    // Whether rows are still coming, and how the read ended (see EditableRowset).
    bool reading() const { return rowset_->reading(); }
    // Whether the rows shown must wait for the read's end before they take
    // edits (where the engine cannot write beside a read).
    bool editsWaitForRead() const { return rowset_->reading() && !rowset_->editableWhileReading(); }
    TableReader::State readState() const { return rowset_->readState(); }
    const std::optional<DbError>& readFailure() const { return rowset_->readFailure(); }
    bool readOutOfMemory() const { return rowset_->readOutOfMemory(); }
    std::optional<std::size_t> readOverBudget() const { return rowset_->readOverBudget(); }
    // The read ended so because the rows passed what the view can hold.
    bool readOverRows() const { return rowset_->readOverRows(); }
    std::optional<long long> estimatedRows() const { return rowset_->estimatedRows(); }
    // The memory the rows read take.
    std::size_t memoryBytes() const
    {
        return rowset_->snapshot().memoryBytes() + (rowset_->window() ? rowset_->window()->memoryBytes() : 0);
    }
    // Whether a write is waiting for the database now.
    bool writing() const { return rowset_->writing(); }

    // The rows stay in the database: a table that passed the memory budget
    // while it was read is shown through a window over the database (see
    // EditableRowset::keepRowsInDatabase). Sorting is then the database's;
    // rows are read as they are shown; the placeholder shows once the rows
    // are all counted, and a new row written goes where the order puts it.
    bool rowsInDatabase() const { return rowset_->window() != nullptr; }
    // Whether the database still counts the rows (in the order shown).
    bool countingRows() const { return rowset_->window() && rowset_->window()->counting(); }
    // Rows kept in the database reach the view a slice at a time: its rows
    // are the positions from base() on, about sliceCap() of them. Each change
    // of a view's rows costs it time in proportion to all of them (a second
    // at a hundred million), and it places them in int pixels. The grid
    // scrolls over every position and moves the slice to what it shows.
    std::int64_t base() const { return base_; }
    // About a million rows, and no more than the view can hold at all (see setRowLimit).
    std::int64_t sliceCap() const { return std::min(viewCap_, rowLimit_); }
    // Whether the slice holds fewer rows than there are.
    bool sliced() const { return rowset_->window() && (base_ > 0 || !sliceAtEnd()); }
    // Whether the slice reaches the last rows.
    bool sliceAtEnd() const { return base_ + sliceRows_ >= windowRows_; }
    // The rows the view would hold with every position in it.
    std::int64_t allRows() const;
    // Moves the slice to start at `base` (kept within the rows). The current
    // cell and the selection follow their rows while those stay in the slice.
    // Refused (false) while a row is typed into, or while `holds` (see
    // setSliceHold) does: the row stays in the view.
    bool setBase(std::int64_t base);
    // Text typed for the current row outside the grid, not yet put into it,
    // holds the slice in place as a row typed into does.
    void setSliceHold(std::function<bool()> holds) { sliceHold_ = std::move(holds); }
    // The view's row that shows rowset row `at`, the slice moved there if it
    // must be (-1: not shown).
    int revealRow(std::int64_t at);
    // The row's number as the user sees it (1 for the first row).
    qint64 rowNumber(int row) const { return (rowset_->window() ? base_ : 0) + row + 1; }
    // The most rows the view can hold while the table is read (its rows are
    // placed in int pixels); past them the rows go to the database.
    void setRowLimit(std::int64_t rows) { rowLimit_ = std::max<std::int64_t>(rows, 1); }
    std::int64_t rowLimit() const { return rowLimit_; }
    // The rows kept in the database, block by block (WindowRows::eachBlock).
    void eachBlockInDatabase(const std::function<bool(const Snapshot&, int)>& visit) const
    {
        rowset_->window()->eachBlock(visit);
    }
    // Rows kept in the database: no block is read while held (see WindowRows::holdReads).
    void holdWindowReads(bool held)
    {
        if (rowset_->window())
            rowset_->window()->holdReads(held);
    }
    // Rows kept in the database at some positions (WindowRows::eachRowAt).
    void eachRowInDatabase(const std::vector<std::int64_t>& positions,
                           const std::function<bool(std::vector<Value>)>& visit) const
    {
        rowset_->window()->eachRowAt(positions, visit);
    }
    // Called while rowsGoingToDatabase is handled: the row of the model to
    // find again in the database's order (-1: none); rowFollowed tells where.
    void followRow(int row);

signals:
    // The pending row changed (-1: no row is pending any more).
    void pendingRowChanged(int row);
    // Rows arrived while the table is read: how many are in now.
    void readProgress(qint64 rows);
    // The read ended (done, stopped, or failed: see the rowset).
    void readEnded();
    // For the history of edits, with rows numbered as the rowset numbers them:
    // A row was written: its values before (none for a new row) and the
    // columns typed; its values now are the rowset's.
    void rowWritten(qint64 rowsetRow, const std::vector<Value>& before, const std::vector<int>& typedColumns);
    // Rows were deleted and left the rowset, in this order, each numbered as
    // it was when it left, with the values it held.
    void rowsDeleted(const std::vector<std::pair<std::int64_t, std::vector<Value>>>& rows);
    // A row kept in the database and not shown was written (typeNotShown):
    // its values before and as stored, and the columns typed.
    void rowWrittenNotShown(const std::vector<Value>& before, const std::vector<Value>& stored,
                            const std::vector<int>& typedColumns);
    // A row left the rowset without being deleted (it became the new row,
    // or it was forgotten), numbered as it was when it left.
    void rowLeft(qint64 rowsetRow);
    // Something to tell about a write or delete that went through (see
    // WriteNote); tellNow: worth a window of its own.
    void writeNoted(const QString& text, bool tellNow);
    // A view started on a worker was applied, stopped, or had no memory.
    void viewEnded(TableModel::ViewOutcome outcome);
    // A find on a worker ended (after viewEnded): the cell found, if any.
    void findEnded(const std::optional<TableModel::Found>& found);
    // The rows are numbered anew: rows written before cannot be found by
    // their numbers any more (the rows went to the database, or its order changed).
    void rowsRenumbered();
    // The rows kept in the database: more were counted, or a read failed.
    void countProgress(qint64 rows);
    // The rows read are about to be let go and kept in the database from now
    // on (the model is reset, rowsRenumbered follows): the history notes the
    // rows it knows as they were, the grid names the row it wants found
    // again (followRow).
    void rowsGoingToDatabase();
    // The row followed stands at this position now (revealRow shows it),
    // told once the view's rows reach it; -1 when it is no longer there.
    // Never after the order changed, nor for rows told apart by a locator
    // the rows read did not hold.
    void rowFollowed(qint64 at);

private:
    // The edit history keeps rows as the rowset numbers them.
    friend class TableHistory;
    EditableRowset& rowset() const { return *rowset_; }

    void takeArrivedRows();
    // A heading's tool tip: the type, then what the catalogue says of the column.
    QString headingTip(int column) const;
    // What a new row's empty cell in the column will hold (see HintRole); empty when nothing to say.
    QString newRowHint(int column) const;
    QString newRowTip(int column) const;
    // Whether a cell is one of a new row's that nothing was typed into.
    bool holdsNothingYet(int row, int column) const;
    // Why a typed value may not fit its column; empty when it fits or was not typed.
    QString warning(std::int64_t rowsetRow, int column) const;
    void passOnWriteNote();
    // The rows read (without a pending new row) shown by the model.
    std::int64_t mappedRows() const;
    // The model's rows before the new row and the placeholder.
    std::int64_t viewRows() const { return rowset_->window() ? sliceRows_ : mappedRows(); }
    // The slice takes the window's count: it grows to the cap, shrinks with
    // the rows, and the rows after it come and go with its reaching the end.
    void fitSlice(std::int64_t count);
    // The new row and the placeholder, as many as the view has after the rows.
    int rowsAfterSlice() const;
    // The new row and the placeholder come into the view after the slice, or leave it.
    void showTail(bool shown);
    bool matchesCell(std::int64_t rowsetRow, int column, const FindOptions& options, const QByteArray& needle) const;
    // Where a find among rows kept in the database last landed.
    struct LastFound {
        std::int64_t position = 0;
        std::vector<Value> place;
        std::vector<Value> values;
    };
    std::optional<LastFound> lastFound_;
    std::optional<RowRefusal> storeTyped(const QModelIndex& index, bool setNull, const QString& text);
    void pendingChanged(int before);
    // Takes a row of the model out of the rowset and the view.
    void dropRow(int row);
    void takeView(SortOrder sort, Filters filters, std::vector<std::int32_t> rows, bool mapped);
    // The rows go to the database, once no row is pending.
    void keepRowsInDatabaseWhenFree();
    void orderWindow(SortOrder sort, Filters filters);
    // The window's counts, rows and failures, once it is made.
    void watchWindow();
    // Every row kept in the database is shown anew (their places may hold other rows now).
    void showWindowRowsAgain();
    void windowCounted(bool moved);
    bool placeholderShown() const;
    // The placeholder below the rows kept in the database comes and goes
    // with their count's end.
    void showWindowPlaceholder();
    // A new row written among rows kept in the database (see submitRow).
    void newRowInDatabase(int row, const std::vector<int>& typed);
    // Asks the database, on a worker, where the row read with `values` stands.
    void startFollowing(const std::vector<Value>& values);
    void tellFollowed();

    std::unique_ptr<EditableRowset> rowset_;
    // With a sort or a filter: the rowset's rows shown, in their order.
    bool mapped_ = false;
    std::vector<std::int32_t> view_;
    SortOrder sort_;
    Filters filters_;
    // Declared after the rowset: ended before the rows it reads go.
    std::shared_ptr<ViewJob> viewJob_;
    SortOrder sortWanted_; // the running job's
    // The row followed into the database: its values read (while the grid
    // names it), the job that asks for its position, the position told.
    std::vector<Value> followValues_;
    std::shared_ptr<ViewJob> followJob_;
    std::optional<std::int64_t> followedAt_;
    // Rows that arrive while a row is written (or a new one is typed) are
    // taken in once that is over: retried by this timer.
    QTimer* arrivalsWait_ = nullptr;
    // The rows kept in the database: how many the model shows (it follows
    // the window's count between the begin and end of each change).
    std::int64_t windowRows_ = 0;
    // The slice of them in the view: its first position and its rows. The
    // new row and the placeholder follow the rows only while it reaches the
    // last of them.
    std::int64_t base_ = 0;
    std::int64_t sliceRows_ = 0;
    std::int64_t viewCap_ = 1 << 20;
    bool tailShown_ = true;
    std::function<bool()> sliceHold_;
    std::int64_t rowLimit_ = std::numeric_limits<int>::max();
    bool windowWanted_ = false;
    // A new order of the same rows: the view keeps its rows until counted.
    bool holdingRows_ = false;
    bool windowPlaceholder_ = false;
    bool resetting_ = false;
};
