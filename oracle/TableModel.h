#pragma once

// The grid's item model over an editable rowset (Qt Core only: it gives no
// colours or fonts; the view draws what the custom roles below tell it).
//
// Contract for the grid (all calls from the UI thread only):
// - rowCount() is the rowset's rows plus one empty placeholder row at the
//   bottom. Typing into the placeholder starts a new row: the placeholder
//   becomes that (pending) row and a fresh placeholder is inserted below it
//   (rowsInserted). RevertRow on a new row removes it again. A rowset whose
//   query named no one table is read-only and has no placeholder.
// - Horizontal headers are the field names (tool tip: the type name).
//   Vertical headers are row numbers, "*" on the placeholder; PendingRole
//   on a vertical header tells the row is not saved yet.
// - data(DisplayRole): the value as text; NULL is the text "(NULL)" with
//   NullRole true (draw it grey and italic); an empty text is empty.
//   Binary and large-object cells show their size, e.g. "(binary, 1234 bytes)",
//   and have no ItemIsEditable flag. EditRole: the value, an empty text for
//   NULL. data() allocates nothing but the QString it returns.
// - setData(EditRole) only stores the typed value in the row's overlay and
//   marks the row pending; it never writes. An empty text in a column that
//   is not text means NULL; a value equal to the one shown changes nothing.
//   One row at a time may be pending: setData on another row is refused
//   (false, reason in LastError()) until the pending row is submitted or
//   reverted.
// - SubmitRow(row) is what the grid calls when the user leaves a row: it
//   writes the row if it is pending. On failure the database is unchanged,
//   the typed values stay and the row stays pending; the error is the text
//   for the message box.
// - Every failure comes back as a return value with an error text; the model
//   shows nothing itself.

#include <QAbstractTableModel>
#include <QList>
#include <QString>

class EditableRowset;

class TableModel final : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Role {
        NullRole = Qt::UserRole + 1, // bool: the cell shows NULL
        PendingRole,                 // bool: the cell (or, on a vertical header, the row) is typed, not saved
        PlaceholderRole,             // bool: the cell is in the empty new-row placeholder
    };

    explicit TableModel(EditableRowset& rowset, QObject* parent = nullptr);
    ~TableModel() override;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

    // Writes the row if it is pending (UPDATE of the changed columns, or
    // INSERT of a new row), then shows what the database stored. True when
    // nothing was pending there or the write succeeded.
    bool SubmitRow(int row, QString* error);
    // Writes whatever row is pending (before leaving the page or quitting).
    bool SubmitPending(QString* error);
    // Restores the values read; a pending new row disappears.
    void RevertRow(int row);
    bool IsRowPending(int row) const;
    int PendingRow() const; // -1 when none
    // Sets the cell to NULL (in the overlay, like typing). False when refused.
    bool SetNull(const QModelIndex& index);
    // Deletes whole rows, each on its own by the exactly-one-row rule; the
    // placeholder is ignored, a pending new row is dropped. Rows deleted
    // leave the model; false with the failed rows named in *error otherwise.
    bool DeleteRows(QList<int> rows, QString* error);
    bool IsNewRowPlaceholder(int row) const;
    // Why the last setData or SetNull was refused.
    QString LastError() const { return lastError_; }

    EditableRowset& rowset() const { return rowset_; }

signals:
    // The pending row changed (-1: no row is pending any more).
    void PendingRowChanged(int row);

private:
    bool store(const QModelIndex& index, bool setNull, const QString& text);
    void pendingChanged(int before);

    EditableRowset& rowset_;
    QString lastError_;
};
