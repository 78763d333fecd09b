// The database side of one row write, run on a worker: these functions see
// only the session, the statements and a copy of what the write needs, never
// the rowset, which belongs to the user-interface thread.

#include "oracle/RowWrite.h"

#include "oracle/DbError.h"
#include "oracle/EditableRowset.h"

#include <algorithm>

namespace {

using Phase = WritePlan::Phase;
using Lost = WriteOutcome::Lost;

bool sameRow(const std::vector<Value>& a, const std::vector<Value>& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](const Value& x, const Value& y) {
               return SameValue(x, y);
           });
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
    if (rows.rows() == 1 && rows.columns() == columns)
        return std::move(rows.first());
    return std::nullopt;
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
        return Refused(RowRefusal::Why::NoRowCount, EditableRowset::kNoRowCount);
    if (affected > 1)
        return Refused(RowRefusal::Why::NotTellApart, EditableRowset::kNotTellApart);
    // Nothing matched: read the row again by what found it, to tell another
    // user's change from a change the database chose not to apply.
    RowRefusal refusal = Refused(RowRefusal::Why::ChangedByOther, EditableRowset::kChangedByOtherUser);
    try {
        const std::optional<RowStatements::Statement> select = st.reselect(identifying(st, original));
        if (!select)
            return refusal;
        RowCollector rows;
        s.query(select->sql, select->params, rows);
        if (rows.rows() == 0) {
            if (st.byKey())
                return Refused(RowRefusal::Why::DeletedByOther, EditableRowset::kDeletedByOtherUser);
            return refusal;
        }
        if (rows.rows() != 1 || rows.columns() != original.size())
            return refusal;
        if (sameRow(rows.first(), original))
            refusal = Refused(RowRefusal::Why::NotApplied, EditableRowset::kNotApplied);
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
    out.refusal = Refused(RowRefusal::Why::Failed, e.description());
    return out;
}

WriteOutcome stoppedOutcome()
{
    WriteOutcome out;
    out.refusal = Refused(RowRefusal::Why::Failed, "you stopped waiting for the database");
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
            affected = s.execute(insert.sql, insert.params);
        }
        if (affected != 1) {
            transaction.rollback();
            out.refusal = affected < 0 ? Refused(RowRefusal::Why::NoRowCount, EditableRowset::kNoRowCount)
                                       : Refused(RowRefusal::Why::Failed, "the database did not store the new row");
            return out;
        }
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
        const long long affected = s.execute(update->sql, update->params);
        if (affected != 1) {
            transaction.rollback();
            out.refusal = explainMiss(s, st, plan.original, affected);
            return out;
        }
        // Read inside the transaction: what AFTER triggers made of the row is
        // what the database holds.
        again = reread(s, st, written, written.size());
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
        out.refusal = Refused(RowRefusal::Why::CannotFind, EditableRowset::kCannotFind);
        return out;
    }
    WriteTransaction transaction(s, *plan.phase);
    const long long affected = s.execute(remove->sql, remove->params);
    if (affected != 1) {
        transaction.rollback();
        out.refusal = explainMiss(s, st, plan.original, affected);
        return out;
    }
    if (stop.stopRequested())
        return stoppedOutcome();
    transaction.commit();
    return out;
}

WriteOutcome perform(Session& s, const RowStatements& st, const WritePlan& plan, const StopToken& stop)
{
    try {
        switch (plan.kind) {
        case WritePlan::Kind::Insert: return insertRow(s, st, plan, stop);
        case WritePlan::Kind::Update: return updateRow(s, st, plan, stop);
        case WritePlan::Kind::Delete: return deleteRow(s, st, plan, stop);
        }
    } catch (const DbError& e) {
        return failed(s, e, plan.phase->load());
    }
    return {};
}

// Whether `row` holds every value set in `values`.
bool holds(const std::vector<Value>& row, const RowStatements::Values& values)
{
    for (std::size_t c = 0; c < values.size() && c < row.size(); ++c)
        if (values[c] && !SameValue(row[c], *values[c]))
            return false;
    return true;
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
                out.refusal = Refused(RowRefusal::Why::Failed, EditableRowset::kCommitLost);
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
        out.refusal = Refused(RowRefusal::Why::Failed, EditableRowset::kCommitLost);
        if (plan.kind == WritePlan::Kind::Update) {
            std::optional<std::vector<Value>> current = reread(s, st, identifying(st, plan.original), columns);
            if (!current)
                out.refusal = Refused(RowRefusal::Why::DeletedByOther, EditableRowset::kDeletedByOtherUser);
            else if (!sameRow(*current, plan.original))
                out.refusal = Refused(RowRefusal::Why::ChangedByOther, EditableRowset::kChangedByOtherUser);
            out.refusal->current = std::move(current);
        }
    } catch (const DbError&) {
        out.refusal = Refused(RowRefusal::Why::Unknown, EditableRowset::kCommitUnknown);
    }
    return out;
}

// Runs a write through the connection, logging in again once when the link
// was found broken: before the commit the write is simply tried again (its
// WHERE holds the values read, so it cannot overwrite anything), at the
// commit the row read again tells what happened.
} // namespace

WriteOutcome RunRowWrite(Connection& connection, const std::shared_ptr<const RowStatements>& st, const WritePlan& plan)
{
    const auto attempt = [&connection, &st](const WritePlan& p) {
        return connection.Run([st, p](Session& s, const StopToken& stop) { return perform(s, *st, p, stop); });
    };
    WriteOutcome out;
    try {
        out = attempt(plan);
        if (out.lost == Lost::No)
            return out;
        const Lost lost = out.lost;
        connection.Reconnect();
        if (lost == Lost::BeforeCommit) {
            WritePlan again = plan;
            again.phase = std::make_shared<std::atomic<Phase>>(Phase::Statement);
            out = attempt(again);
            out.lost = Lost::No;
            return out;
        }
        return connection.Run([st, plan](Session& s, const StopToken&) { return checkCutOffCommit(s, *st, plan); });
    } catch (const DbError& e) {
        WriteOutcome failure;
        if (e.number() == DbError::kStoppedWaiting && plan.phase->load() == Phase::Committing)
            failure.refusal = Refused(RowRefusal::Why::Unknown,
                                      "you stopped waiting while the database was committing the change, so whether "
                                      "it was stored is not known: the row is checked when it is written again");
        else
            failure.refusal = Refused(RowRefusal::Why::Failed, e.description());
        return failure;
    }
}
