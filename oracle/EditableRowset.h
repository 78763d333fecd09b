#pragma once

// The editable side of a rowset opened over one whole table: the snapshot as
// read, an overlay holding the typed values of the one row being edited (an
// existing row or a new one) until that row is written, and the writes
// themselves (one row at a time, each in its own transaction, each required
// to touch exactly one row).
//
// Row numbers: 0 .. rowCount()-1 are the rows read (and rows written since);
// while a new row is being typed it is the last row, rowCount()-1.
// All member functions are called from the UI thread only.

#include "oracle/Engine.h"
#include "oracle/RowWriter.h"
#include "oracle/Snapshot.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class TableModel;

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
        Busy,           // another row is pending, or the rowset cannot write
    };
    Why why = Why::Failed;
    std::string message;
    // The row as the database holds it now, in the rowset's column order,
    // when it could be read again after the refusal.
    std::optional<std::vector<Snapshot::Cell>> current;
};

// The table named by an editor's query text `SELECT * FROM "name"` (inner
// double quotes doubled; keywords in any case, blanks between them free);
// nothing for a text of any other form.
std::optional<std::string> TableOfSource(std::string_view source);

class EditableRowset {
public:
    // session and snapshot must outlive the rowset; the snapshot is already
    // filled with every row of `table` (its unquoted name).
    // An empty table name gives a rowset that refuses every edit.
    EditableRowset(Session& session, Snapshot& snapshot, std::string table);
    ~EditableRowset();
    EditableRowset(const EditableRowset&) = delete;
    EditableRowset& operator=(const EditableRowset&) = delete;

    // The grid's model over this rowset, created on first use and owned here.
    TableModel* model();

    const std::string& table() const { return table_; }
    // False when the query named no one table: every edit is refused.
    bool canWrite() const { return writer_ != nullptr; }
    const std::vector<ColumnInfo>& columns() const { return snapshot_.columns(); }
    int columnCount() const { return snapshot_.columnCount(); }
    // Rows read and written, plus the new row while one is being typed.
    std::int64_t rowCount() const { return snapshot_.rowCount() + (pendingIsNew() ? 1 : 0); }

    // A cell as the grid shows it: the typed value where the cell was edited,
    // otherwise the value read. `data` is valid until the rowset changes.
    struct CellView {
        ValueKind kind = ValueKind::Null;
        std::string_view data;
        bool edited = false;
    };
    CellView cell(std::int64_t row, int column) const;
    // Whether a cell accepts typing: not for binary and large-object columns,
    // nor for a binary value that SQLite keeps in any column.
    bool isEditable(std::int64_t row, int column) const;

    // Typing. A null `value` sets NULL; an empty text in a column that is not
    // text also means NULL. row == snapshot rows (one past the last row read)
    // starts a new row. Fails (false, with the reason in *error) when another
    // row is still pending or the cell is read-only. Writes nothing.
    enum class EditOutcome { Unchanged, Changed, StartedNewRow, Refused };
    EditOutcome setValue(std::int64_t row, int column, std::optional<std::string_view> value, std::string* error);

    // The pending row: -1 when none.
    std::int64_t pendingRow() const { return pending_ ? pending_->row : -1; }
    bool pendingIsNew() const { return pending_ && pending_->isNew; }
    bool isPending(std::int64_t row) const { return pending_ && pending_->row == row; }

    // Writes the pending row if it is `row` (UPDATE or INSERT, then reads it
    // again inside the same transaction, so what triggers stored is shown).
    // Nothing when nothing was pending there or the write succeeded. On a
    // refusal nothing changed in the database and the typed values stay.
    std::optional<RowRefusal> writeRow(std::int64_t row);
    // Drops the typed values of `row`; a new row disappears.
    void revertRow(std::int64_t row);

    // Deletes a row read from the database, by the same rule as a write, in
    // its own transaction; the rowset is unchanged until forgetRow(row).
    // True when deleted, or when `row` is the new row (nothing to delete).
    std::optional<RowRefusal> deleteFromDatabase(std::int64_t row);
    // Takes a deleted row (or the new row) out of the rowset.
    void forgetRow(std::int64_t row);

    // Why typing into a cell would be refused; nothing when it would not.
    std::optional<std::string> refusal(std::int64_t row, int column) const;
    // The placeholder's index: one past the last row.
    std::int64_t placeholderRow() const { return rowCount(); }

    // The messages of the exactly-one-row rule.
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

private:
    struct Pending {
        std::int64_t row = -1;
        bool isNew = false;
        std::vector<std::optional<Snapshot::Cell>> edits; // per column, set when typed
    };

    std::vector<RowWriter::Value> originals(std::int64_t row) const;
    std::optional<RowRefusal> writeInsert(std::vector<Snapshot::Cell>& stored);
    std::optional<RowRefusal> writeUpdate(std::int64_t row, std::vector<Snapshot::Cell>& stored);
    // The refusal for a write or delete of `row` that touched `affected` rows
    // (not 1), after its rollback: the row is read again to tell why.
    RowRefusal explainMiss(std::int64_t row, long long affected);
    // Reads one row by `values` (see RowWriter::reselect); nothing unless
    // exactly one row came back with every column.
    std::optional<std::vector<Snapshot::Cell>> reread(const RowWriter::Values& values);

    Session& session_;
    Snapshot& snapshot_;
    std::string table_;
    std::unique_ptr<RowWriter> writer_; // none for a rowset that refuses edits
    std::optional<Pending> pending_;
    std::unique_ptr<TableModel> model_;
};
