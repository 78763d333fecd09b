#include "oracle/RowWrite.h"

#include "oracle/Blocking.h"
#include "oracle/DbError.h"

#include <algorithm>
#include <atomic>

namespace {

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


enum class Phase { Statement, Committing };

// Where the link to the server broke, if it did.
enum class Lost { No, BeforeCommit, AtCommit };

// A write as one attempt sees it: with the phase it is in, which the
// user-interface thread reads when the user stops waiting.
struct WritePlan : RowWrite {
    std::shared_ptr<std::atomic<Phase>> phase = std::make_shared<std::atomic<Phase>>(Phase::Statement);
};

struct WriteOutcome : WriteResult {
    Lost lost = Lost::No;
    bool missingColumn = false; // the statement named a column the table no longer has
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
        return makeRefusal(RowRefusal::Why::NoRowCount, RowRefusal::kNoRowCount);
    if (affected > 1)
        return makeRefusal(RowRefusal::Why::NotTellApart, RowRefusal::kNotTellApart);
    // Nothing matched: read the row again by what found it, to tell another
    // user's change from a change the database chose not to apply.
    RowRefusal refusal = makeRefusal(RowRefusal::Why::ChangedByOther, RowRefusal::kChangedByOtherUser);
    try {
        const std::optional<RowStatements::Statement> select = st.reselect(identifying(st, original));
        if (!select)
            return refusal;
        RowCollector rows;
        s.query(select->sql, select->params, rows);
        if (rows.rows() == 0) {
            if (st.byKey())
                return makeRefusal(RowRefusal::Why::DeletedByOther, RowRefusal::kDeletedByOtherUser);
            return refusal;
        }
        if (rows.rows() != 1 || rows.columns() != original.size())
            return refusal;
        if (SameValues(rows.first(), original))
            refusal = makeRefusal(RowRefusal::Why::NotApplied, RowRefusal::kNotApplied);
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
    out.refusal = makeRefusal(RowRefusal::Why::Failed, e.description());
    return out;
}

WriteOutcome stoppedOutcome()
{
    WriteOutcome out;
    out.refusal = makeRefusal(RowRefusal::Why::Failed, "you stopped waiting for the database");
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
            out.note = WriteNote{false, WriteResult::kAlreadyStored};
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
            out.refusal = affected < 0 ? makeRefusal(RowRefusal::Why::NoRowCount, RowRefusal::kNoRowCount)
                                       : makeRefusal(RowRefusal::Why::Failed, "the database did not store the new row");
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
                out.note = WriteNote{false, WriteResult::kAlreadyStored};
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
        out.refusal = makeRefusal(RowRefusal::Why::CannotFind, RowRefusal::kCannotFind);
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
            out.note = WriteNote{false, WriteResult::kAlreadyDeleted};
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
            return makeRefusal(RowRefusal::Why::Failed, "the column \"" + st.columns()[c].name
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
        out.note = WriteNote{true, text};
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
                out.refusal = makeRefusal(RowRefusal::Why::Failed, RowRefusal::kCommitLost);
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
        out.refusal = makeRefusal(RowRefusal::Why::Failed, RowRefusal::kCommitLost);
        if (plan.kind == WritePlan::Kind::Update) {
            std::optional<std::vector<Value>> current = reread(s, st, identifying(st, plan.original), columns);
            if (!current)
                out.refusal = makeRefusal(RowRefusal::Why::DeletedByOther, RowRefusal::kDeletedByOtherUser);
            else if (!SameValues(*current, plan.original))
                out.refusal = makeRefusal(RowRefusal::Why::ChangedByOther, RowRefusal::kChangedByOtherUser);
            out.refusal->current = std::move(current);
        }
    } catch (const DbError&) {
        out.refusal = makeRefusal(RowRefusal::Why::Unknown, RowRefusal::kCommitUnknown);
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
            failure.refusal = makeRefusal(RowRefusal::Why::Unknown,
                                      "you stopped waiting while the database was committing the change, so whether "
                                      "it was stored is not known: the row is checked when it is written again");
        else
            failure.refusal = makeRefusal(RowRefusal::Why::Failed, e.description());
        return failure;
    }
}

} // namespace

WriteResult writeRow(Connection& connection, const std::shared_ptr<const RowStatements>& statements, const RowWrite& write)
{
    WritePlan plan;
    static_cast<RowWrite&>(plan) = write;
    WriteResult result = runWrite(connection, statements, plan);
    if (result.refusal) {
        result.refusal->read = write.original;
        result.refusal->typed = write.edits;
    }
    return result;
}

WriteResult writeRowOnSession(Session& session, const std::shared_ptr<const RowStatements>& statements,
                              const RowWrite& write, const StopToken& stop)
{
    WritePlan plan;
    static_cast<RowWrite&>(plan) = write;
    WriteResult result = perform(session, statements, plan, stop);
    if (result.refusal) {
        result.refusal->read = write.original;
        result.refusal->typed = write.edits;
    }
    return result;
}

WriteResult checkCutOffWrite(Session& session, const RowStatements& statements, const RowWrite& write)
{
    WritePlan plan;
    static_cast<RowWrite&>(plan) = write;
    return checkCutOffCommit(session, statements, plan);
}

RowNow readRowNow(Connection& connection, const std::shared_ptr<const RowStatements>& statements,
                  const std::vector<Value>& read)
{
    RowNow now;
    if (!statements->canFindRows())
        return now;
    const RowStatements::Values by = identifying(*statements, read);
    const std::size_t columns = read.size();
    try {
        now = connection.Run([st = statements, by, columns](Session& s, const StopToken&) {
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
            if (statements->isAbsent(static_cast<int>(c)))
                now.values[c] = read[c];
    return now;
}
