#pragma once

// The editable rowset over one whole table: the snapshot as read, an overlay
// holding the typed values of the one row being edited (an existing row or a
// new one) until that row is written, and the writes themselves (one row at
// a time, each in its own transaction, each required to touch exactly one
// row). It owns its connection (and through it the session), its snapshot
// and its statement builder; the grid's model owns the rowset.
//
// The table is read on a worker (TableReader): Open returns once the columns
// and the first rows are in, and pump() takes the rows that arrived since.
// Where the engine lets another session write to the table while it is read,
// the rows shown can be edited meanwhile: their writes go through a second
// connection of the same login, closed when the read ends. Elsewhere nothing
// can be edited while rows are still coming.
//
// Row numbers: 0 .. rowCount()-1 are the rows read (and rows written since);
// while a new row is being typed it is the last row, rowCount()-1.
// All member functions are called from the user-interface thread only; the
// database work of a write runs on a worker through the connection.

#include "oracle/Connection.h"
#include "oracle/Dialect.h"
#include "oracle/Engine.h"
#include "oracle/RowRefusal.h"
#include "oracle/RowStatements.h"
#include "oracle/RowWrite.h"
#include "oracle/Snapshot.h"
#include "oracle/TableReader.h"
#include "oracle/WindowRows.h"

#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

// The query that reads the editor's table: SELECT * FROM "name", the name
// between double quotes with any inner double quote doubled.
std::string EditorQuery(const std::string& table);

class EditableRowset {
public:
    // Starts reading the whole table `table` (its name as listed) on
    // `connection` with its dialect's selectAll and returns the rowset that owns them
    // once the columns and the first rows have arrived (the window keeps
    // painting meanwhile). Failures before that are DbError. Past `mostRows`
    // rows, the read ends as past the memory budget.
    static std::unique_ptr<EditableRowset> Open(ConnectionPtr connection, const std::string& table,
                                                long long mostRows = std::numeric_limits<long long>::max());

    // Reading the rest of the table.
    bool reading() const { return reader_ != nullptr; }
    // What became of the read once it ended: Done, Stopped or Failed.
    TableReader::State readState() const { return readState_; }
    const std::optional<DbError>& readFailure() const { return readFailure_; }
    // The read was stopped because memory ran out (readState() Stopped).
    bool readOutOfMemory() const { return readOutOfMemory_; }
    // The memory budget, when the read stopped because the rows passed it.
    std::optional<std::size_t> readOverBudget() const { return readOverBudget_; }
    // It stopped so because it reached the rows it was opened to read at most.
    bool readOverRows() const { return readOverRows_; }
    std::optional<long long> estimatedRows() const { return estimatedRows_; }
    // Whether the rows shown can be edited before the read ends.
    bool editableWhileReading() const { return reader_ && othersCanWrite_; }
    // Takes the rows that arrived; the number of rows added. When the read
    // has ended, reading() is false afterwards and the connection has its
    // session back.
    std::int64_t pump();
    // Asks the read to stop after the row it is on (see pump for the end).
    void stopReading();
    // Waits (painting, no input) until the read has ended; pump() then takes
    // the last rows.
    void waitForReadEnd();
    // Emits arrived() when pump has something to take; null once read.
    TableReader* readerSignals() const { return reader_.get(); }
    ~EditableRowset();
    EditableRowset(const EditableRowset&) = delete;
    EditableRowset& operator=(const EditableRowset&) = delete;

    const std::string& table() const { return table_; }
    const std::vector<ColumnInfo>& columns() const { return snapshot_.columns(); }
    int columnCount() const { return snapshot_.columnCount(); }
    // Rows read and written, plus the new row while one is being typed.
    std::int64_t rowCount() const { return readRowCount() + (pendingIsNew() ? 1 : 0); }
    // The rows read (and written since), without a new row being typed.
    std::int64_t readRowCount() const { return window_ ? window_->rowCount() : snapshot_.rowCount(); }
    const Snapshot& snapshot() const { return snapshot_; }
    // The primary key's columns in key order; empty without a usable key.
    std::vector<int> keyColumns() const { return statements_ ? statements_->keyColumns() : std::vector<int>{}; }
    // What the catalogue says of the columns, by name (may be empty).
    const std::vector<ColumnDetails>& columnDetails() const { return details_; }
    // Which database the table is in (for SQL written out for it).
    DialectKind dialectKind() const { return dialect_ ? dialect_->kind() : DialectKind::Generic; }
    // A connection of its own with the same login (see Connection::Another).
    ConnectionPtr anotherConnection() const { return connection_->Another(); }

    // A cell as the grid shows it: the typed value where the cell was edited,
    // otherwise the value read. `data` is valid until the rowset changes.
    struct CellView {
        ValueKind kind = ValueKind::Null;
        std::string_view data;
        bool edited = false;
        bool missing = false; // the rows stay in the database and this one is not here yet
    };
    CellView cell(std::int64_t row, int column) const;
    // Whether a cell accepts typing: not for binary and large-object columns,
    // nor for a binary value that SQLite keeps in any column, nor for a row
    // that could never be found again to write it.
    bool isEditable(std::int64_t row, int column) const;
    // Why typing into a cell would be refused; nothing when it would not.
    std::optional<RowRefusal> refusal(std::int64_t row, int column) const;

    // Typing. A null `value` sets NULL; an empty text in a column that is not
    // text also means NULL. row == placeholderRow() starts a new row. Writes
    // nothing. Refused (with the reason) while another row is pending or
    // when the cell is read-only.
    enum class EditOutcome { Unchanged, Changed, StartedNewRow, Refused };
    struct EditResult {
        EditOutcome outcome = EditOutcome::Unchanged;
        std::optional<RowRefusal> refusal; // for Refused
    };
    EditResult setValue(std::int64_t row, int column, std::optional<std::string_view> value);
    // An exact value (NULL, text, bytes) for any cell of the row, binary and
    // large-object columns too (a pasted value, one loaded from a file, one
    // undone): no typing rules apply. Writes nothing.
    EditResult setExactValue(std::int64_t row, int column, Value value);
    // Why this database cannot take `value` in the column (a text holding
    // NUL where it would be cut); nothing when it can. Typing, pasting and
    // setValue/setExactValue all check it.
    std::optional<RowRefusal> valueRefusal(int column, const Value& value) const;

    // The value typed into a cell of the pending row, if one was.
    std::optional<Value> typedCell(std::int64_t row, int column) const;

    // The row as the database holds it now becomes the row's values read;
    // typed values stay typed (those equal to what is there now stop being
    // changes). After a refusal, so the next write is checked against what
    // is there now, and restoring the row shows it.
    void takeCurrent(std::int64_t row, const std::vector<Value>& current);
    // The row as the database holds it now (see readRowNow).
    RowNow readRowAgain(std::int64_t row);

    // A row gone from the database becomes a new row holding its values (the
    // typed ones over those read), to be inserted when written; its number
    // is returned (the last row).
    std::int64_t convertToNewRow(std::int64_t row);
    // Rows kept in the database: the pending row another user deleted is
    // inserted again at once, with its typed values (the blocks kept are
    // read again, so it shows where the order puts it). The row is still
    // in the rowset afterwards, no longer pending: the caller lets it go.
    std::optional<RowRefusal> insertAgain(std::int64_t row);

    // The pending row: -1 when none.
    std::int64_t pendingRow() const { return pending_ ? pending_->row : -1; }
    bool pendingIsNew() const { return pending_ && pending_->isNew; }
    bool isPending(std::int64_t row) const { return pending_ && pending_->row == row; }

    // Writes the pending row if it is `row` (UPDATE or INSERT, then reads it
    // again inside the same transaction, so what triggers stored is shown).
    // Nothing when nothing was pending there or the write succeeded. On a
    // refusal nothing changed in the database and the typed values stay.
    // A link to the server found broken is made again once, with the same
    // login, and the write tried again; a write whose commit was cut off is
    // checked by reading the row again.
    std::optional<RowRefusal> writeRow(std::int64_t row);
    // Drops the typed values of `row`; a new row disappears.
    void revertRow(std::int64_t row);

    // Deletes a row read from the database, by the same rule as a write, in
    // its own transaction; the rowset is unchanged until forgetRow(row).
    // Nothing when deleted, or when `row` is the new row (nothing to delete).
    std::optional<RowRefusal> deleteFromDatabase(std::int64_t row);
    // Takes a deleted row (or the new row) out of the rowset.
    void forgetRow(std::int64_t row);

    // Something to tell about the last write or delete that went through
    // (see WriteNote). Taken once.
    std::optional<WriteNote> takeWriteNote() { return std::exchange(note_, std::nullopt); }

    // Whether a write or delete is waiting for the database now (the window
    // turns meanwhile: timers fire, and must leave the rows alone until it ends).
    bool writing() const { return connection_->Running() || (writer_ && writer_->Running()); }

    // ---- rows kept in the database ----------------------------------------
    // A table too large for memory is shown through a window over the
    // database (WindowRows): rows are its positions, in the window's order,
    // read as they are shown. A new row can be typed below them once they
    // are all counted; written, it shows where the order puts it.
    // Whether the table can be: it has a primary key, or its engine a row locator.
    bool canKeepRowsInDatabase() const;
    // Lets go of the rows read and shows them in `sort` order (the key's
    // order after it) from the database, those that pass the filters (the
    // database's). Not while a row is pending.
    void keepRowsInDatabase(const std::vector<std::pair<int, bool>>& sort, std::vector<KeyOrder::Filter> filters = {});
    WindowRows* window() const { return window_.get(); }
    // The row's values as read (the rows kept in the database: as read when
    // typing began, for the pending row); empty when it is not here.
    std::vector<Value> rowRead(std::int64_t row) const;

    // Rows kept in the database, found by their values rather than by a
    // position, which others' rows move (an undo's rows): the row as the
    // database holds it now, found by what finds it (its key, or its values);
    // whether the row at a position is that row; and a write of it (see
    // writeRow), after which no block kept shows it as it was.
    RowNow readRowInDatabase(const std::vector<Value>& row);
    bool findsByKey() const { return statements_ && statements_->byKey(); }
    bool holdsRow(std::int64_t row, const std::vector<Value>& values) const;
    WriteResult writeInDatabase(RowWrite write);
    // Texts typed into such a row (its values read): the changes they make
    // by the typing rules, a value equal to the one read being none; or why
    // a cell refuses its text.
    std::optional<RowRefusal> typedEdits(const std::vector<Value>& row,
                                         const std::vector<std::pair<int, std::string>>& texts,
                                         RowStatements::Values& edits) const;

    // Rows kept in the database: the pending new row stays one past the
    // rows counted when their count moves (others' rows in a block read).
    void newRowFollowsWindow();
    // The last new row written while rows are kept in the database (typed,
    // or inserted again): its values as stored, and whether it is counted
    // among the rows (not when a filter leaves it out, or its place could
    // not be told).
    const std::vector<Value>& insertedRow() const { return inserted_; }
    bool insertedShown() const { return insertedFrom_.has_value(); }

    // The placeholder's index: one past the last row.
    std::int64_t placeholderRow() const { return rowCount(); }

private:
    EditableRowset(ConnectionPtr connection, std::string table);
    void endRead();
    // Why no cell of the row can take a value now (reading, no such cell,
    // a row never found again, another row pending).
    std::optional<RowRefusal> rowRefusal(std::int64_t row, int column) const;
    RowRefusal notEditable(int column) const;
    EditResult store(std::int64_t row, int column, Value value);
    // Whether rows cannot take edits now because they are still being read.
    bool waitsForRead() const { return reader_ && !othersCanWrite_; }
    // The connection that writes now: the second one while the table is read.
    ConnectionPtr writeConnection();
    // The key of a row as one text, for telling rows apart; empty without a key.
    std::string keyText(const std::vector<Value>& row) const;
    std::string keyText(std::int64_t row) const;
    // Why a change to the column cannot be written (it cannot be compared).
    std::string uncheckedText(int column) const;
    // The NOT NULL columns a new row leaves without a value the database
    // would fill, named for the user; nothing when there are none.
    std::optional<std::string> missingRequired(const std::vector<std::optional<Value>>& edits) const;
    // The row's values as a new row: typed values, else those read (not NULLs).
    RowStatements::Values asNewRow(std::int64_t row) const;

    struct Pending {
        std::int64_t row = -1;
        bool isNew = false;
        std::vector<std::optional<Value>> edits; // per column, set when typed
        bool unsure = false; // a write of it was given up while committing
        std::vector<Value> original; // rows kept in the database: the row as read when typing began
    };
    void replaceRead(std::int64_t row, const std::vector<Value>& values);

    ConnectionPtr connection_;
    std::string table_;
    Snapshot snapshot_;
    std::shared_ptr<const RowStatements> statements_; // shared with the workers that write
    std::optional<Pending> pending_;
    // While rows are still coming. Let go of through the event loop: the
    // reader may be in the middle of telling that it ended.
    struct LaterDeleter {
        void operator()(TableReader* r) const { r->deleteLater(); }
    };
    std::unique_ptr<TableReader, LaterDeleter> reader_;
    std::unique_ptr<Dialect> dialect_; // the session's, taken before the session left for the reader
    Placeholders placeholders_ = Placeholders::Question;
    TableReader::State readState_ = TableReader::State::Reading;
    std::optional<DbError> readFailure_;
    bool readOutOfMemory_ = false;
    std::optional<std::size_t> readOverBudget_;
    bool readOverRows_ = false;
    bool othersCanWrite_ = false;
    std::vector<ColumnDetails> details_;
    ConnectionPtr writer_; // while the table is read: writes go through it
    // The keys of rows written while the table is read that the read may
    // still reach (inserted, or their key changed): a row read with one of
    // them is the row already shown, and is dropped.
    std::unordered_set<std::string> keysWritten_;
    std::optional<long long> estimatedRows_;
    bool textKeepsNul_ = false;
    std::optional<WriteNote> note_;
    std::unique_ptr<WindowRows> window_;
    std::vector<Value> inserted_;
    std::optional<std::int64_t> insertedFrom_;
};
