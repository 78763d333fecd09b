#include "oracle/EditableRowset.h"

#include "oracle/DbError.h"
#include "oracle/Dialect.h"

#include <algorithm>
#include <atomic>

namespace {

bool isReadOnlyColumn(const ColumnInfo& c)
{
    return c.readOnly || c.type == ColumnType::Binary || c.type == ColumnType::LargeText;
}

bool sameRow(const std::vector<Value>& a, const std::vector<Value>& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](const Value& x, const Value& y) {
               return SameValue(x, y);
           });
}

// Whether `row` holds every value set in `values`.
bool holds(const std::vector<Value>& row, const RowStatements::Values& values)
{
    for (std::size_t c = 0; c < values.size() && c < row.size(); ++c)
        if (values[c] && !SameValue(row[c], *values[c]))
            return false;
    return true;
}

// Takes the rows of a RETURNING or re-reading query; keeps at most two of
// them (a write that touched more is refused anyway), counts all.
class RowCollector final : public RowSink {
public:
    void begin(const std::vector<ColumnInfo>& columns) override { columns_ = columns.size(); }
    void cell(ValueKind kind, const char* data, std::size_t size) override
    {
        if (rows_ < 2)
            current_.push_back(Value{kind, kind == ValueKind::Null ? std::string() : std::string(data, size)});
    }
    void endRow() override
    {
        if (rows_ < 2)
            kept_.push_back(std::move(current_));
        current_.clear();
        ++rows_;
    }

    long long rows() const { return rows_; }
    std::size_t columns() const { return columns_; }
    std::vector<Value>& first() { return kept_.front(); }

private:
    std::size_t columns_ = 0;
    long long rows_ = 0;
    std::vector<Value> current_;
    std::vector<std::vector<Value>> kept_;
};

RowRefusal refused(RowRefusal::Why why, std::string message) { return RowRefusal{why, std::move(message), {}}; }

// ---- the database side of one write, run on a worker ---------------------------
//
// These functions see only the session, the statements and a copy of what
// the write needs; never the rowset, which belongs to the user-interface
// thread.

enum class Phase { Statement, Committing };

// Where the link to the server broke, if it did.
enum class Lost { No, BeforeCommit, AtCommit };

struct WritePlan {
    enum class Kind { Insert, Update, Delete } kind = Kind::Update;
    RowStatements::Values edits;  // typed values (insert, update)
    std::vector<Value> original;  // the row as read (update, delete)
    // An insert whose earlier commit may have landed unseen: look for the
    // row before inserting it again.
    bool checkFirst = false;
    std::shared_ptr<std::atomic<Phase>> phase = std::make_shared<std::atomic<Phase>>(Phase::Statement);
};

struct WriteOutcome {
    std::optional<RowRefusal> refusal;
    std::vector<Value> stored; // what the database holds after a write
    Lost lost = Lost::No;
    bool missingColumn = false; // the statement named a column the table no longer has
    // Statements without the columns gone from the table, once a write found
    // some gone: the rowset writes with them from then on.
    std::shared_ptr<const RowStatements> statements;
    std::optional<EditableRowset::WriteNote> note; // something to tell about a write that went through
};

// Opens a transaction and rolls it back on every way out unless committed;
// a transaction that never opened is never rolled back.
class WriteTransaction {
public:
    WriteTransaction(Session& session, std::atomic<Phase>& phase) : session_(session), phase_(phase)
    {
        session_.begin();
        open_ = true;
    }
    ~WriteTransaction() { rollback(); }
    WriteTransaction(const WriteTransaction&) = delete;
    WriteTransaction& operator=(const WriteTransaction&) = delete;

    // A commit that fails leaves nothing open behind it.
    void commit()
    {
        phase_ = Phase::Committing;
        try {
            session_.commit();
            open_ = false;
        } catch (...) {
            rollback();
            throw;
        }
    }
    void rollback() noexcept
    {
        if (!open_)
            return;
        open_ = false;
        try {
            session_.rollback();
        } catch (const DbError&) {
            // The failure that matters is the one that led here.
        }
    }

private:
    Session& session_;
    std::atomic<Phase>& phase_;
    bool open_ = false;
};

// The one row read, if exactly one came back with every column.
std::optional<std::vector<Value>> onlyRow(RowCollector& rows, std::size_t columns)
{
    if (rows.rows() == 1 && rows.columns() == columns)
        return std::move(rows.first());
    return std::nullopt;
}

// Reads one row by `values` (see RowStatements::reselect); nothing unless
// exactly one row came back with every column.
std::optional<std::vector<Value>> reread(Session& s, const RowStatements& st, const RowStatements::Values& values,
                                         std::size_t columns)
{
    const std::optional<RowStatements::Statement> select = st.reselect(values);
    if (!select)
        return std::nullopt;
    RowCollector rows;
    s.query(select->sql, select->params, rows);
    return onlyRow(rows, columns);
}

// Runs a write and, when it touched exactly one row, reads that row again by
// `values` in the same exchange with the server; the rows it touched.
long long writeAndReread(Session& s, const RowStatements& st, const RowStatements::Statement& write,
                         const RowStatements::Values& values, std::optional<std::vector<Value>>& again)
{
    const std::optional<RowStatements::Statement> select = st.reselect(values);
    if (!select)
        return s.execute(write.sql, write.params);
    RowCollector rows;
    const long long affected = s.executeThenQuery(write.sql, write.params, select->sql, select->params, rows);
    if (affected == 1)
        again = onlyRow(rows, values.size());
    return affected;
}

// The values that find the row as read: its identifying columns.
RowStatements::Values identifying(const RowStatements& st, const std::vector<Value>& original)
{
    RowStatements::Values by(original.size());
    for (int c : st.identifyingColumns())
        by[static_cast<std::size_t>(c)] = original[static_cast<std::size_t>(c)];
    return by;
}

// The refusal for a write or delete that touched `affected` rows (not 1),
// after its rollback: the row is read again to tell why.
RowRefusal explainMiss(Session& s, const RowStatements& st, const std::vector<Value>& original, long long affected)
{
    if (affected < 0)
        return refused(RowRefusal::Why::NoRowCount, EditableRowset::kNoRowCount);
    if (affected > 1)
        return refused(RowRefusal::Why::NotTellApart, EditableRowset::kNotTellApart);
    // Nothing matched: read the row again by what found it, to tell another
    // user's change from a change the database chose not to apply.
    RowRefusal refusal = refused(RowRefusal::Why::ChangedByOther, EditableRowset::kChangedByOtherUser);
    try {
        const std::optional<RowStatements::Statement> select = st.reselect(identifying(st, original));
        if (!select)
            return refusal;
        RowCollector rows;
        s.query(select->sql, select->params, rows);
        if (rows.rows() == 0) {
            if (st.byKey())
                return refused(RowRefusal::Why::DeletedByOther, EditableRowset::kDeletedByOtherUser);
            return refusal;
        }
        if (rows.rows() != 1 || rows.columns() != original.size())
            return refusal;
        if (sameRow(rows.first(), original))
            refusal = refused(RowRefusal::Why::NotApplied, EditableRowset::kNotApplied);
        refusal.current = std::move(rows.first());
    } catch (const DbError&) {
        // Reading it again is only for a better reason; the refusal stands.
    }
    return refusal;
}

WriteOutcome failed(Session& s, const DbError& e, Phase phase)
{
    WriteOutcome out;
    if (s.broken())
        out.lost = phase == Phase::Committing ? Lost::AtCommit : Lost::BeforeCommit;
    out.missingColumn = e.isMissingColumn();
    out.refusal = refused(RowRefusal::Why::Failed, e.description());
    return out;
}

WriteOutcome stoppedOutcome()
{
    WriteOutcome out;
    out.refusal = refused(RowRefusal::Why::Failed, "you stopped waiting for the database");
    return out;
}

WriteOutcome insertRow(Session& s, const RowStatements& st, const WritePlan& plan, const StopToken& stop)
{
    RowStatements::Values values = plan.edits;
    const std::vector<int> key = st.keyColumns();
    // A key the user did not type is chosen by the database: ask for it back.
    const bool keyTyped = std::all_of(key.begin(), key.end(), [&values](int c) { return values[c].has_value(); });
    const bool returning = !key.empty() && !keyTyped && s.dialect().supportsReturning();
    const RowStatements::Statement insert = st.insert(values, returning);

    WriteOutcome out;
    if (plan.checkFirst) {
        if (std::optional<std::vector<Value>> there = reread(s, st, values, values.size()); there && holds(*there, values)) {
            out.stored = std::move(*there);
            out.note = EditableRowset::WriteNote{false, EditableRowset::kAlreadyStored};
            return out;
        }
    }
    std::optional<std::vector<Value>> again;
    {
        WriteTransaction transaction(s, *plan.phase);
        long long affected = 0;
        if (returning) {
            RowCollector returned;
            s.query(insert.sql, insert.params, returned);
            affected = returned.rows();
            if (affected == 1 && returned.columns() == key.size())
                for (std::size_t i = 0; i < key.size(); ++i)
                    values[static_cast<std::size_t>(key[i])] = returned.first()[i];
        } else {
            affected = writeAndReread(s, st, insert, values, again);
        }
        if (affected != 1) {
            transaction.rollback();
            out.refusal = affected < 0 ? refused(RowRefusal::Why::NoRowCount, EditableRowset::kNoRowCount)
                                       : refused(RowRefusal::Why::Failed, "the database did not store the new row");
            return out;
        }
        if (returning)
            again = reread(s, st, values, values.size());
        if (stop.stopRequested())
            return stoppedOutcome();
        transaction.commit();
    }
    if (again) {
        out.stored = std::move(*again);
    } else {
        for (auto& v : values)
            out.stored.push_back(v ? *v : Value{});
    }
    return out;
}

WriteOutcome updateRow(Session& s, const RowStatements& st, const WritePlan& plan, const StopToken& stop)
{
    WriteOutcome out;
    const std::optional<RowStatements::Statement> update = st.update(plan.original, plan.edits);
    if (!update)
        return out; // nothing left to change

    RowStatements::Values written(plan.original.size());
    for (std::size_t c = 0; c < plan.original.size(); ++c)
        written[c] = plan.edits[c] ? *plan.edits[c] : plan.original[c];

    std::optional<std::vector<Value>> again;
    {
        WriteTransaction transaction(s, *plan.phase);
        // Read inside the transaction: what AFTER triggers made of the row is
        // what the database holds.
        const long long affected = writeAndReread(s, st, *update, written, again);
        if (affected != 1) {
            transaction.rollback();
            RowRefusal refusal = explainMiss(s, st, plan.original, affected);
            // The row already holds every value typed (an earlier write the
            // user stopped waiting for went through after all, say): what
            // was asked for is done, and nobody's change is lost.
            if (refusal.current && affected == 0 && holds(*refusal.current, plan.edits)) {
                out.stored = std::move(*refusal.current);
                out.note = EditableRowset::WriteNote{false, EditableRowset::kAlreadyStored};
                return out;
            }
            out.refusal = std::move(refusal);
            return out;
        }
        if (stop.stopRequested())
            return stoppedOutcome();
        transaction.commit();
    }
    if (again) {
        out.stored = std::move(*again);
    } else {
        for (auto& v : written)
            out.stored.push_back(std::move(*v));
    }
    return out;
}

WriteOutcome deleteRow(Session& s, const RowStatements& st, const WritePlan& plan, const StopToken& stop)
{
    WriteOutcome out;
    const std::optional<RowStatements::Statement> remove = st.remove(plan.original);
    if (!remove) {
        out.refusal = refused(RowRefusal::Why::CannotFind, EditableRowset::kCannotFind);
        return out;
    }
    WriteTransaction transaction(s, *plan.phase);
    const long long affected = s.execute(remove->sql, remove->params);
    if (affected != 1) {
        transaction.rollback();
        RowRefusal refusal = explainMiss(s, st, plan.original, affected);
        // Gone already, as the user wants it: done (an earlier delete the user
        // stopped waiting for may have gone through after all).
        if (refusal.why == RowRefusal::Why::DeletedByOther) {
            out.note = EditableRowset::WriteNote{false, EditableRowset::kAlreadyDeleted};
            return out;
        }
        out.refusal = std::move(refusal);
        return out;
    }
    if (stop.stopRequested())
        return stoppedOutcome();
    transaction.commit();
    return out;
}

WriteOutcome performWith(Session& s, const RowStatements& st, const WritePlan& plan, const StopToken& stop)
{
    try {
        WriteOutcome out;
        switch (plan.kind) {
        case WritePlan::Kind::Insert: out = insertRow(s, st, plan, stop); break;
        case WritePlan::Kind::Update: out = updateRow(s, st, plan, stop); break;
        case WritePlan::Kind::Delete: out = deleteRow(s, st, plan, stop); break;
        }
        // A column left out reads as NULL: the row keeps what it showed there.
        if (!out.stored.empty())
            for (std::size_t c = 0; c < out.stored.size(); ++c)
                if (st.isAbsent(static_cast<int>(c)))
                    out.stored[c] = plan.kind == WritePlan::Kind::Update ? plan.original[c] : Value{};
        return out;
    } catch (const DbError& e) {
        return failed(s, e, plan.phase->load());
    }
}

// A write typed into a column gone from the table cannot be made.
std::optional<RowRefusal> typedIntoGone(const RowStatements& st, const WritePlan& plan)
{
    for (std::size_t c = 0; c < plan.edits.size(); ++c)
        if (plan.edits[c] && st.isAbsent(static_cast<int>(c)))
            return refused(RowRefusal::Why::Failed, "the column \"" + st.columns()[c].name
                                                        + "\" is no longer in the table (another user dropped or "
                                                          "renamed it); press F5 to read the table again");
    return std::nullopt;
}

// The rowset's columns no longer in the table, by what the table has now.
std::vector<int> goneColumns(Session& s, const RowStatements& st, const std::vector<ColumnInfo>& columns)
{
    class Names final : public RowSink {
    public:
        void begin(const std::vector<ColumnInfo>& now) override
        {
            for (const ColumnInfo& c : now)
                names.push_back(c.name);
        }
        void cell(ValueKind, const char*, std::size_t) override {}
        void endRow() override {}
        std::vector<std::string> names;
    } now;
    const RowStatements::Statement probe = st.columnsNow();
    s.query(probe.sql, probe.params, now);
    std::vector<int> gone;
    for (std::size_t c = 0; c < columns.size(); ++c)
        if (!st.isAbsent(static_cast<int>(c))
            && std::find(now.names.begin(), now.names.end(), columns[c].name) == now.names.end())
            gone.push_back(static_cast<int>(c));
    return gone;
}

// A write, and when it named a column someone else has dropped or renamed
// since the table was read, the write again without that column: it must
// not depend on columns it does not touch. A column typed into that is gone
// refuses the write.
WriteOutcome perform(Session& s, const std::shared_ptr<const RowStatements>& st, const WritePlan& plan,
                     const StopToken& stop)
{
    const std::vector<ColumnInfo>& columns = st->columns();
    if (std::optional<RowRefusal> refusal = typedIntoGone(*st, plan)) {
        WriteOutcome out;
        out.refusal = std::move(refusal);
        return out;
    }
    WriteOutcome out = performWith(s, *st, plan, stop);
    if (!out.missingColumn || s.broken() || stop.stopRequested())
        return out;
    std::vector<int> gone;
    try {
        gone = goneColumns(s, *st, columns);
    } catch (const DbError&) {
        return out; // the first failure says more
    }
    if (gone.empty())
        return out;
    std::string names;
    for (int c : gone)
        names += (names.empty() ? "\"" : ", \"") + columns[static_cast<std::size_t>(c)].name + "\"";
    std::shared_ptr<const RowStatements> without = st->withoutColumns(gone);
    if (std::optional<RowRefusal> refusal = typedIntoGone(*without, plan)) {
        out.refusal = std::move(refusal);
        out.statements = std::move(without);
        return out;
    }
    out = performWith(s, *without, plan, stop);
    out.statements = std::move(without);
    const std::string text = "Another user changed the columns of this table: " + names
                             + (gone.size() == 1 ? " is" : " are")
                             + " no longer there. Your changes are written to the other columns; press F5 to "
                               "read the table again and show its columns as they are now.";
    if (!out.refusal)
        out.note = EditableRowset::WriteNote{true, text};
    return out;
}

// After a commit was cut off: the row read again on a new link tells whether
// the write is in the database.
WriteOutcome checkCutOffCommit(Session& s, const RowStatements& st, const WritePlan& plan)
{
    WriteOutcome out;
    const std::size_t columns = plan.kind == WritePlan::Kind::Insert ? plan.edits.size() : plan.original.size();
    try {
        if (plan.kind == WritePlan::Kind::Delete) {
            if (reread(s, st, identifying(st, plan.original), columns))
                out.refusal = refused(RowRefusal::Why::Failed, EditableRowset::kCommitLost);
            return out;
        }
        RowStatements::Values written = plan.edits;
        if (plan.kind == WritePlan::Kind::Update)
            for (std::size_t c = 0; c < columns; ++c)
                if (!written[c])
                    written[c] = plan.original[c];
        if (auto now = reread(s, st, written, columns); now && holds(*now, plan.edits)) {
            out.stored = std::move(*now);
            return out;
        }
        out.refusal = refused(RowRefusal::Why::Failed, EditableRowset::kCommitLost);
        if (plan.kind == WritePlan::Kind::Update) {
            std::optional<std::vector<Value>> current = reread(s, st, identifying(st, plan.original), columns);
            if (!current)
                out.refusal = refused(RowRefusal::Why::DeletedByOther, EditableRowset::kDeletedByOtherUser);
            else if (!sameRow(*current, plan.original))
                out.refusal = refused(RowRefusal::Why::ChangedByOther, EditableRowset::kChangedByOtherUser);
            out.refusal->current = std::move(current);
        }
    } catch (const DbError&) {
        out.refusal = refused(RowRefusal::Why::Unknown, EditableRowset::kCommitUnknown);
    }
    return out;
}

// Runs a write through the connection, logging in again once when the link
// was found broken: before the commit the write is simply tried again (its
// WHERE holds the values read, so it cannot overwrite anything), at the
// commit the row read again tells what happened.
WriteOutcome runWrite(Connection& connection, const std::shared_ptr<const RowStatements>& st, const WritePlan& plan)
{
    const auto attempt = [&connection, &st](const WritePlan& p) {
        return connection.Run([st, p](Session& s, const StopToken& stop) { return perform(s, st, p, stop); });
    };
    // The phase of the attempt running now: the one a stop is judged by.
    std::shared_ptr<std::atomic<Phase>> phase = plan.phase;
    WriteOutcome out;
    try {
        out = attempt(plan);
        if (out.lost == Lost::No)
            return out;
        const Lost lost = out.lost;
        connection.Reconnect();
        if (lost == Lost::BeforeCommit) {
            WritePlan again = plan;
            again.phase = phase = std::make_shared<std::atomic<Phase>>(Phase::Statement);
            out = attempt(again);
            out.lost = Lost::No;
            return out;
        }
        return connection.Run([st, plan](Session& s, const StopToken&) { return checkCutOffCommit(s, *st, plan); });
    } catch (const DbError& e) {
        WriteOutcome failure;
        if (e.number() == DbError::kStoppedWaiting && phase->load() == Phase::Committing)
            failure.refusal = refused(RowRefusal::Why::Unknown,
                                      "you stopped waiting while the database was committing the change, so whether "
                                      "it was stored is not known: the row is checked when it is written again");
        else
            failure.refusal = refused(RowRefusal::Why::Failed, e.description());
        return failure;
    }
}

} // namespace

// ---- the rowset ---------------------------------------------------------------------

std::string EditorQuery(const std::string& table) { return MakeDialect(DialectKind::Generic)->selectAll(table); }

std::unique_ptr<EditableRowset> EditableRowset::Open(ConnectionPtr connection, const std::string& table)
{
    std::unique_ptr<EditableRowset> rowset(new EditableRowset(std::move(connection), table));
    EditableRowset& r = *rowset;
    std::shared_ptr<Session> session = r.connection_->Lend();
    // Read before the session leaves for the reader: they never change.
    r.dialect_ = session->dialect().clone();
    r.placeholders_ = session->placeholders();
    r.textKeepsNul_ = session->textKeepsNul();
    r.reader_.reset(new TableReader(std::move(session), r.dialect_->selectAll(table), table));
    r.reader_->waitForFirstRows();
    r.pump();
    if (r.readState_ == TableReader::State::Failed && r.snapshot_.columnCount() == 0)
        throw *r.readFailure_; // nothing to show: the open failed
    return rowset;
}

EditableRowset::EditableRowset(ConnectionPtr connection, std::string table)
    : connection_(std::move(connection)), table_(std::move(table))
{
}

std::int64_t EditableRowset::pump()
{
    if (!reader_)
        return 0;
    const std::int64_t before = snapshot_.rowCount();
    const bool hadColumns = reader_->columnsKnown();
    reader_->take(snapshot_);
    if (!hadColumns && reader_->columnsKnown()) {
        estimatedRows_ = reader_->estimatedRows();
        const std::unique_ptr<Dialect>& dialect = dialect_;
        statements_ = std::make_shared<const RowStatements>(*dialect, placeholders_, table_, snapshot_.columns(),
                                                            reader_->primaryKey());
    }
    if (reader_->state() != TableReader::State::Reading)
        endRead();
    return snapshot_.rowCount() - before;
}

void EditableRowset::endRead()
{
    readState_ = reader_->state();
    readFailure_ = reader_->failure();
    readOutOfMemory_ = reader_->outOfMemory();
    connection_->GiveBack(reader_->takeSession());
    reader_.reset();
    if (!statements_) {
        // The read failed before the columns were known.
        const std::unique_ptr<Dialect>& dialect = dialect_;
        statements_ = std::make_shared<const RowStatements>(*dialect, placeholders_, table_, snapshot_.columns(),
                                                            std::vector<std::string>{});
    }
}

void EditableRowset::stopReading()
{
    if (reader_)
        reader_->stop();
}

void EditableRowset::waitForReadEnd()
{
    if (reader_)
        reader_->waitForEnd();
}

EditableRowset::~EditableRowset() = default;

EditableRowset::CellView EditableRowset::cell(std::int64_t row, int column) const
{
    if (pending_ && pending_->row == row) {
        if (const auto& edit = pending_->edits[static_cast<std::size_t>(column)])
            return {edit->kind, edit->bytes, true};
        if (pending_->isNew)
            return {};
    }
    return {snapshot_.kind(row, column), snapshot_.value(row, column), false};
}

bool EditableRowset::isEditable(std::int64_t row, int column) const
{
    if (reader_ || column < 0 || column >= columnCount())
        return false;
    // A row read that cannot be found again can never be written.
    if (row < snapshot_.rowCount() && !statements_->canFindRows())
        return false;
    if (isReadOnlyColumn(snapshot_.columns()[static_cast<std::size_t>(column)]))
        return false;
    // SQLite keeps a value of any kind in any column: a blob stays as it is.
    return row >= snapshot_.rowCount() || snapshot_.kind(row, column) != ValueKind::Blob;
}

std::optional<std::string> EditableRowset::refusal(std::int64_t row, int column) const
{
    if (reader_)
        return std::string(kStillReading);
    if (row < 0 || row > placeholderRow() || column < 0 || column >= columnCount())
        return std::string("there is no such cell");
    if (row < snapshot_.rowCount() && !statements_->canFindRows())
        return std::string(kCannotFind);
    if (!isEditable(row, column)) {
        const ColumnInfo& c = snapshot_.columns()[static_cast<std::size_t>(column)];
        return "the column \"" + c.name + "\" holds binary or large-object data, which cannot be edited here";
    }
    const bool placeholder = row == placeholderRow();
    if (pending_ && (placeholder || pending_->row != row))
        return "row " + std::to_string(pending_->row + 1) + " has changes that are not saved yet";
    return std::nullopt;
}

EditableRowset::EditResult EditableRowset::setValue(std::int64_t row, int column, std::optional<std::string_view> value)
{
    const bool placeholder = row == placeholderRow();
    // Confirming an editor left empty on an empty new row, or on a NULL,
    // changes nothing (an editor cannot tell NULL from an empty text).
    if (value && value->empty()) {
        if (placeholder)
            return {};
        if (cell(row, column).kind == ValueKind::Null)
            return {};
    }
    if (auto why = refusal(row, column))
        return {EditOutcome::Refused, std::move(*why)};
    const ColumnInfo& info = snapshot_.columns()[static_cast<std::size_t>(column)];
    return store(row, column, value ? statements_->dialect().typedValue(info, *value) : Value{});
}

EditableRowset::EditResult EditableRowset::setExactValue(std::int64_t row, int column, Value value)
{
    if (reader_)
        return {EditOutcome::Refused, kStillReading};
    if (row < 0 || row > placeholderRow() || column < 0 || column >= columnCount())
        return {EditOutcome::Refused, "there is no such cell"};
    if (row < snapshot_.rowCount() && !statements_->canFindRows())
        return {EditOutcome::Refused, kCannotFind};
    const bool placeholder = row == placeholderRow();
    if (pending_ && (placeholder || pending_->row != row))
        return {EditOutcome::Refused, "row " + std::to_string(pending_->row + 1) + " has changes that are not saved yet"};
    if (placeholder && value.isNull())
        return {};
    return store(row, column, statements_->dialect().stored(std::move(value)));
}

std::optional<std::string> EditableRowset::valueRefusal(int column, const Value& value) const
{
    // Refused here, before anything is sent, rather than cut short unseen.
    if (!textKeepsNul_ && value.kind != ValueKind::Blob && value.bytes.find('\0') != std::string::npos)
        return "the column \"" + snapshot_.columns()[static_cast<std::size_t>(column)].name
               + "\" cannot take a text holding the character NUL (a zero byte): this database does not store it";
    return std::nullopt;
}

EditableRowset::EditResult EditableRowset::store(std::int64_t row, int column, Value value)
{
    const auto c = static_cast<std::size_t>(column);
    const auto columns = static_cast<std::size_t>(columnCount());
    if (std::optional<std::string> why = valueRefusal(column, value))
        return {EditOutcome::Refused, std::move(*why)};
    if (row == placeholderRow()) {
        pending_ = Pending{row, true, std::vector<std::optional<Value>>(columns)};
        pending_->edits[c] = std::move(value);
        return {EditOutcome::StartedNewRow, {}};
    }

    const CellView shown = cell(row, column);
    if (SameValue(shown.kind, shown.data, value.kind, value.bytes))
        return {};

    if (!pending_)
        pending_ = Pending{row, false, std::vector<std::optional<Value>>(columns)};
    if (!pending_->isNew && SameValue(snapshot_.kind(row, column), snapshot_.value(row, column), value.kind, value.bytes)) {
        // Typed back to what was read: no longer a change.
        pending_->edits[c].reset();
        if (std::none_of(pending_->edits.begin(), pending_->edits.end(), [](const auto& e) { return e.has_value(); }))
            pending_.reset();
    } else {
        pending_->edits[c] = std::move(value);
    }
    return {EditOutcome::Changed, {}};
}

void EditableRowset::takeCurrent(std::int64_t row, const std::vector<Value>& current)
{
    if (row < 0 || row >= snapshot_.rowCount() || current.size() != static_cast<std::size_t>(columnCount()))
        return;
    snapshot_.replaceRow(row, current);
    if (!pending_ || pending_->row != row || pending_->isNew)
        return;
    // A typed value that is what the database holds now is no change any more.
    for (std::size_t c = 0; c < current.size(); ++c)
        if (pending_->edits[c] && SameValue(*pending_->edits[c], current[c]))
            pending_->edits[c].reset();
    if (std::none_of(pending_->edits.begin(), pending_->edits.end(), [](const auto& e) { return e.has_value(); }))
        pending_.reset();
}

std::int64_t EditableRowset::convertToNewRow(std::int64_t row)
{
    if (row < 0 || row >= snapshot_.rowCount())
        return -1;
    std::vector<std::optional<Value>> values(static_cast<std::size_t>(columnCount()));
    const std::vector<Value> read = snapshot_.row(row);
    for (std::size_t c = 0; c < values.size(); ++c) {
        if (pending_ && pending_->row == row && pending_->edits[c])
            values[c] = pending_->edits[c];
        else if (!read[c].isNull())
            values[c] = read[c];
    }
    pending_.reset();
    snapshot_.removeRow(row);
    pending_ = Pending{snapshot_.rowCount(), true, std::move(values)};
    return pending_->row;
}

EditableRowset::RowNow EditableRowset::readRowAgain(std::int64_t row)
{
    RowNow now;
    if (reader_ || row < 0 || row >= snapshot_.rowCount() || !statements_->canFindRows())
        return now;
    const RowStatements::Values by = identifying(*statements_, snapshot_.row(row));
    const std::size_t columns = static_cast<std::size_t>(columnCount());
    try {
        now = connection_->Run([st = statements_, by, columns](Session& s, const StopToken&) {
            RowNow found;
            const std::optional<RowStatements::Statement> select = st->reselect(by);
            if (!select)
                return found;
            RowCollector rows;
            s.query(select->sql, select->params, rows);
            if (std::optional<std::vector<Value>> one = onlyRow(rows, columns)) {
                found.state = RowNow::State::Found;
                found.values = std::move(*one);
            } else if (rows.rows() == 0 && st->byKey()) {
                found.state = RowNow::State::Gone;
            }
            return found;
        });
    } catch (const DbError&) {
        // Not told: the caller goes on with what it knew.
    }
    // A column gone from the table keeps what it showed.
    if (now.state == RowNow::State::Found)
        for (std::size_t c = 0; c < columns; ++c)
            if (statements_->isAbsent(static_cast<int>(c)))
                now.values[c] = Value{snapshot_.kind(row, static_cast<int>(c)),
                                      std::string(snapshot_.value(row, static_cast<int>(c)))};
    return now;
}

std::optional<Value> EditableRowset::typedCell(std::int64_t row, int column) const
{
    if (!pending_ || pending_->row != row)
        return std::nullopt;
    return pending_->edits[static_cast<std::size_t>(column)];
}

std::optional<RowRefusal> EditableRowset::writeRow(std::int64_t row)
{
    if (!pending_ || pending_->row != row)
        return std::nullopt;
    WritePlan plan;
    plan.edits = pending_->edits;
    if (pending_->isNew) {
        plan.kind = WritePlan::Kind::Insert;
        plan.checkFirst = pending_->unsure;
    } else {
        if (!statements_->canFindRows())
            return refused(RowRefusal::Why::CannotFind, kCannotFind);
        if (const int c = statements_->uncheckableChange(plan.edits); c >= 0)
            return refused(RowRefusal::Why::Unchecked,
                           "the column \"" + snapshot_.columns()[static_cast<std::size_t>(c)].name
                               + "\" cannot be compared by this database, so a change another user made to it could "
                                 "not be detected; the row was not written");
        plan.original = snapshot_.row(row);
    }

    WriteOutcome out = runWrite(*connection_, statements_, plan);
    if (out.statements)
        statements_ = std::move(out.statements);
    if (out.refusal) {
        if (out.refusal->why == RowRefusal::Why::Unknown)
            pending_->unsure = true;
        return std::move(out.refusal);
    }
    note_ = std::move(out.note);
    const bool isNew = pending_->isNew;
    pending_.reset();
    if (out.stored.empty())
        return std::nullopt; // nothing was left to change
    if (isNew)
        snapshot_.appendRow(out.stored);
    else
        snapshot_.replaceRow(row, out.stored);
    return std::nullopt;
}

void EditableRowset::revertRow(std::int64_t row)
{
    if (pending_ && pending_->row == row)
        pending_.reset();
}

std::optional<RowRefusal> EditableRowset::deleteFromDatabase(std::int64_t row)
{
    if (pending_ && pending_->isNew && pending_->row == row)
        return std::nullopt;
    if (reader_)
        return refused(RowRefusal::Why::Failed, kStillReading);
    if (row < 0 || row >= snapshot_.rowCount())
        return refused(RowRefusal::Why::Failed, "there is no such row");
    if (!statements_->canFindRows())
        return refused(RowRefusal::Why::CannotFind, kCannotFind);
    WritePlan plan;
    plan.kind = WritePlan::Kind::Delete;
    plan.original = snapshot_.row(row);
    WriteOutcome out = runWrite(*connection_, statements_, plan);
    if (out.statements)
        statements_ = std::move(out.statements);
    note_ = std::move(out.note);
    return std::move(out.refusal);
}

void EditableRowset::forgetRow(std::int64_t row)
{
    if (pending_ && pending_->row == row) {
        const bool wasNew = pending_->isNew;
        pending_.reset();
        if (wasNew)
            return;
    }
    snapshot_.removeRow(row);
    if (pending_ && pending_->row > row)
        --pending_->row;
}
