#pragma once

// The grid's item model over an editable rowset, which it owns (Qt Core
// only: it gives no colours or fonts; the view draws what the custom roles
// below tell it). A QObject child of the grid: the grid's end is its end.
//
// Contract for the grid (all calls from the UI thread only):
// - While the table is still being read, rows are added in batches
//   (rowsInserted) as they arrive, nothing is editable, and ReadProgress
//   tells how far the read is; ReadEnded comes once at its end.
// - rowCount() is the rowset's rows plus, once all are read, one empty
//   placeholder row at the bottom. Typing into the placeholder starts a new row: the placeholder
//   becomes that (pending) row and a fresh placeholder is inserted below it
//   (rowsInserted). RevertRow on a new row removes it again.
// - Horizontal headers are the field names (tool tip: the type name).
//   Vertical headers are row numbers, "*" on the placeholder; PendingRole
//   on a vertical header tells the row is not saved yet.
// - data(DisplayRole): the value as text; NULL is the text "(NULL)" with
//   NullRole true (draw it grey and italic); an empty text is empty.
//   Binary and large-object cells show their size, e.g. "(binary, 1234 bytes)",
//   and have no ItemIsEditable flag; a cell that cannot be edited says why
//   in its tool tip. EditRole: the value, an empty text for NULL.
// - Store() only puts the typed value into the row's overlay and marks the
//   row pending; it never writes. An empty text in a column that is not text
//   means NULL; a value equal to the one shown changes nothing. One row at a
//   time may be pending: Store on another row is refused until the pending
//   row is submitted or reverted. setData is Store for Qt's generic callers.
// - SubmitRow(row) is what the grid calls when the user leaves a row: it
//   writes the row if it is pending. On a refusal the database is unchanged,
//   the typed values stay and the row stays pending.
// - The view: rows may be sorted by one column and filtered by columns
//   (ApplyView). The model's rows are then the rows shown, in the order
//   shown; a row written, or added at the bottom, stays where it is until
//   the view is applied again. Every edit goes to the row shown.
// - Every refusal comes back as the return value; the model shows nothing.

#include "oracle/EditableRowset.h"
#include "oracle/RowOrder.h"

#include <QAbstractTableModel>
#include <QList>
#include <QString>

#include <memory>
#include <optional>

class TableModel final : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Role {
        NullRole = Qt::UserRole + 1, // bool: the cell shows NULL
        PendingRole,                 // bool: the cell (or, on a vertical header, the row) is typed, not saved
        PlaceholderRole,             // bool: the cell is in the empty new-row placeholder
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
    std::optional<QString> Store(const QModelIndex& index, const QString& text);
    // Sets the cell to NULL (in the overlay, like typing).
    std::optional<QString> SetNull(const QModelIndex& index);
    // Puts an exact value into a cell (binary and large-object ones too).
    std::optional<QString> StoreValue(const QModelIndex& index, Value value);

    // After a refused write: the row's values read become what the database
    // holds now (typed values stay); the row as it is now in the database.
    void TakeCurrent(int row, const std::vector<Value>& current);
    // The row as the database holds it now (see EditableRowset::readRowAgain).
    EditableRowset::RowNow ReadRowAgain(int row) { return rowset_->readRowAgain(RowsetRow(row)); }
    // A row another user deleted becomes a new row holding its values,
    // moved to the bottom; the new row's place in the model.
    int ConvertToNewRow(int row);

    // Writes the row if it is pending (UPDATE of the changed columns, or
    // INSERT of a new row), then shows what the database stored. Nothing
    // when nothing was pending there or the write succeeded.
    std::optional<RowRefusal> SubmitRow(int row);
    // Writes whatever row is pending (before leaving the page or quitting).
    std::optional<RowRefusal> SubmitPending();
    // Restores the values read; a pending new row disappears.
    void RevertRow(int row);
    // Drops the row's typed values and takes it out of the grid, leaving the
    // database alone (a row another user deleted).
    void ForgetRow(int row);
    bool IsRowPending(int row) const;
    int PendingRow() const; // -1 when none
    // Deletes whole rows, each on its own by the exactly-one-row rule; the
    // placeholder is ignored, a pending new row is dropped. Rows deleted
    // leave the model; the rows that failed are named in the result.
    std::optional<QString> DeleteRows(QList<int> rows);
    bool IsNewRowPlaceholder(int row) const;

    EditableRowset& rowset() const { return *rowset_; }

    // Sorting and filtering. A column of -1 is the table's order.
    struct SortOrder {
        int column = -1;
        bool descending = false;
    };
    using Filters = std::vector<std::pair<int, ColumnFilter>>;
    void ApplyView(SortOrder sort, Filters filters);
    SortOrder Sort() const { return sort_; }
    bool Filtered() const { return !filters_.empty(); }
    // Rows shown and rows in all (neither counts the new-row placeholder).
    qint64 ShownRows() const;
    qint64 TotalRows() const;
    // The rowset's row at a row of the model; the row of the model that
    // shows a row of the rowset (-1 when it is not shown).
    std::int64_t RowsetRow(int row) const;
    int ViewRow(std::int64_t rowsetRow) const;

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
    std::optional<Found> Find(const QModelIndex& from, const FindOptions& options, const QList<int>& columns) const;
    // Whether a cell's shown value matches.
    bool Matches(const QModelIndex& index, const FindOptions& options) const;

    // Stops reading the table: the rows read so far stay and become editable.
    void StopReading();
    // Whether rows are still coming.
    bool Reading() const { return rowset_->reading(); }
    // Whether a write is waiting for the database now.
    bool Writing() const { return rowset_->writing(); }

signals:
    // The pending row changed (-1: no row is pending any more).
    void PendingRowChanged(int row);
    // Rows arrived while the table is read: how many are in now.
    void ReadProgress(qint64 rows);
    // The read ended (done, stopped, or failed: see the rowset).
    void ReadEnded();
    // For the history of edits, with rows numbered as the rowset numbers them:
    // A row was written: its values before (none for a new row) and the
    // columns typed; its values now are the rowset's.
    void RowWritten(qint64 rowsetRow, const std::vector<Value>& before, const std::vector<int>& typedColumns);
    // Rows were deleted and left the rowset, in this order, each numbered as
    // it was when it left, with the values it held.
    void RowsDeleted(const std::vector<std::pair<std::int64_t, std::vector<Value>>>& rows);
    // A row left the rowset without being deleted (it became the new row,
    // or it was forgotten), numbered as it was when it left.
    void RowLeft(qint64 rowsetRow);
    // Something to tell about a write or delete that went through (see
    // EditableRowset::WriteNote); tellNow: worth a window of its own.
    void WriteNoted(const QString& text, bool tellNow);

private:
    void takeArrivedRows();
    void passOnWriteNote();
    // The rows read (without a pending new row) shown by the model.
    std::int64_t mappedRows() const;
    bool matchesCell(std::int64_t rowsetRow, int column, const FindOptions& options, const QByteArray& needle) const;
    std::optional<QString> store(const QModelIndex& index, bool setNull, const QString& text);
    void pendingChanged(int before);
    // Takes a row of the model out of the rowset and the view.
    void dropRow(int row);

    std::unique_ptr<EditableRowset> rowset_;
    // With a sort or a filter: the rowset's rows shown, in their order.
    bool mapped_ = false;
    std::vector<std::int32_t> view_;
    SortOrder sort_;
    Filters filters_;
};
