#include "oracle/EditableRowset.h"

#include "oracle/DbError.h"
#include "oracle/Dialect.h"
#include "oracle/TableModel.h"

#include <algorithm>
#include <cctype>

namespace {

std::string_view skipBlanks(std::string_view s)
{
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front())))
        s.remove_prefix(1);
    return s;
}

// Consumes `word` (ASCII, any case) followed by a blank or the end.
bool takeWord(std::string_view& s, std::string_view word, bool needsBlank)
{
    if (s.size() < word.size())
        return false;
    for (std::size_t i = 0; i < word.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(s[i])) != static_cast<unsigned char>(word[i]))
            return false;
    s.remove_prefix(word.size());
    if (needsBlank && (s.empty() || !std::isspace(static_cast<unsigned char>(s.front()))))
        return false;
    s = skipBlanks(s);
    return true;
}

bool isReadOnlyColumn(const ColumnInfo& c)
{
    return c.readOnly || c.type == ColumnType::Binary || c.type == ColumnType::LargeText;
}

bool sameValue(ValueKind kindA, std::string_view a, ValueKind kindB, std::string_view b)
{
    const bool nullA = kindA == ValueKind::Null;
    const bool nullB = kindB == ValueKind::Null;
    return nullA == nullB && (nullA || a == b);
}

// Takes the rows of a RETURNING or re-reading query; keeps at most two of
// them (a write that touched more is refused anyway), counts all.
class RowCollector final : public RowSink {
public:
    void begin(const std::vector<ColumnInfo>& columns) override { columns_ = columns.size(); }
    void cell(ValueKind kind, const char* data, std::size_t size) override
    {
        if (rows_ < 2)
            current_.push_back(Snapshot::Cell{kind, kind == ValueKind::Null ? std::string() : std::string(data, size)});
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
    std::vector<Snapshot::Cell>& first() { return kept_.front(); }

private:
    std::size_t columns_ = 0;
    long long rows_ = 0;
    std::vector<Snapshot::Cell> current_;
    std::vector<std::vector<Snapshot::Cell>> kept_;
};

} // namespace

std::optional<std::string> TableOfSource(std::string_view source)
{
    std::string_view s = skipBlanks(source);
    if (!takeWord(s, "SELECT", true) || !takeWord(s, "*", false) || !takeWord(s, "FROM", true))
        return std::nullopt;
    if (s.empty() || s.front() != '"')
        return std::nullopt;
    s.remove_prefix(1);
    std::string name;
    for (;;) {
        if (s.empty())
            return std::nullopt; // no closing quote
        const char c = s.front();
        s.remove_prefix(1);
        if (c != '"') {
            name += c;
            continue;
        }
        if (!s.empty() && s.front() == '"') {
            name += '"';
            s.remove_prefix(1);
            continue;
        }
        break;
    }
    s = skipBlanks(s);
    if (!s.empty() && s.front() == ';')
        s = skipBlanks(s.substr(1));
    if (!s.empty() || name.empty())
        return std::nullopt;
    return name;
}

EditableRowset::EditableRowset(Session& session, Snapshot& snapshot, std::string table)
    : session_(session), snapshot_(snapshot), table_(std::move(table))
{
    if (!table_.empty())
        writer_ = std::make_unique<RowWriter>(session_.dialect(), table_, snapshot_.columns(),
                                              session_.primaryKey(table_));
}

EditableRowset::~EditableRowset() = default;

TableModel* EditableRowset::model()
{
    if (!model_)
        model_ = std::make_unique<TableModel>(*this);
    return model_.get();
}

EditableRowset::CellView EditableRowset::cell(std::int64_t row, int column) const
{
    if (pending_ && pending_->row == row) {
        if (const auto& edit = pending_->edits[static_cast<std::size_t>(column)])
            return {edit->kind, edit->data, true};
        if (pending_->isNew)
            return {};
    }
    return {snapshot_.kind(row, column), snapshot_.value(row, column), false};
}

bool EditableRowset::isEditable(std::int64_t row, int column) const
{
    if (!writer_ || column < 0 || column >= columnCount())
        return false;
    // A row read that cannot be found again can never be written.
    if (row < snapshot_.rowCount() && !writer_->canFindRows())
        return false;
    if (isReadOnlyColumn(snapshot_.columns()[static_cast<std::size_t>(column)]))
        return false;
    // SQLite keeps a value of any kind in any column: a blob stays as it is.
    return row >= snapshot_.rowCount() || snapshot_.kind(row, column) != ValueKind::Blob;
}

std::optional<std::string> EditableRowset::refusal(std::int64_t row, int column) const
{
    if (!writer_)
        return std::string("this rowset is read-only: its query does not name one table");
    if (row < 0 || row > placeholderRow() || column < 0 || column >= columnCount())
        return std::string("there is no such cell");
    if (row < snapshot_.rowCount() && !writer_->canFindRows())
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

EditableRowset::EditOutcome EditableRowset::setValue(std::int64_t row, int column,
                                                     std::optional<std::string_view> value, std::string* error)
{
    const bool placeholder = row == placeholderRow();
    // Confirming an editor left empty on an empty new row, or on a NULL,
    // changes nothing (an editor cannot tell NULL from an empty text).
    if (value && value->empty()) {
        if (placeholder)
            return EditOutcome::Unchanged;
        if (cell(row, column).kind == ValueKind::Null)
            return EditOutcome::Unchanged;
    }
    if (auto why = refusal(row, column)) {
        if (error)
            *error = std::move(*why);
        return EditOutcome::Refused;
    }

    const ColumnInfo& info = snapshot_.columns()[static_cast<std::size_t>(column)];
    Snapshot::Cell typed;
    if (value) {
        Dialect::TypedValue t = session_.dialect().typedValue(info, *value);
        typed = Snapshot::Cell{t.kind, std::move(t.data)};
    }

    const auto c = static_cast<std::size_t>(column);
    if (placeholder) {
        pending_ = Pending{row, true, std::vector<std::optional<Snapshot::Cell>>(static_cast<std::size_t>(columnCount()))};
        pending_->edits[c] = std::move(typed);
        return EditOutcome::StartedNewRow;
    }

    const CellView shown = cell(row, column);
    if (sameValue(shown.kind, shown.data, typed.kind, typed.data))
        return EditOutcome::Unchanged;

    if (!pending_)
        pending_ = Pending{row, false, std::vector<std::optional<Snapshot::Cell>>(static_cast<std::size_t>(columnCount()))};
    if (!pending_->isNew && sameValue(snapshot_.kind(row, column), snapshot_.value(row, column), typed.kind, typed.data)) {
        // Typed back to what was read: no longer a change.
        pending_->edits[c].reset();
        if (std::none_of(pending_->edits.begin(), pending_->edits.end(), [](const auto& e) { return e.has_value(); }))
            pending_.reset();
    } else {
        pending_->edits[c] = std::move(typed);
    }
    return EditOutcome::Changed;
}

std::vector<RowWriter::Value> EditableRowset::originals(std::int64_t row) const
{
    std::vector<RowWriter::Value> values;
    values.reserve(static_cast<std::size_t>(columnCount()));
    for (int c = 0; c < columnCount(); ++c)
        values.push_back({snapshot_.kind(row, c), std::string(snapshot_.value(row, c))});
    return values;
}

namespace {

// Opens a transaction and rolls it back on every way out unless committed;
// a transaction that never opened is never rolled back.
class WriteTransaction {
public:
    explicit WriteTransaction(Session& session) : session_(session)
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
    bool open_ = false;
};

RowRefusal refused(RowRefusal::Why why, std::string message) { return RowRefusal{why, std::move(message), {}}; }

bool sameRow(const std::vector<Snapshot::Cell>& a, const std::vector<RowWriter::Value>& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t c = 0; c < a.size(); ++c)
        if (!sameValue(a[c].kind, a[c].data, b[c].kind, b[c].data))
            return false;
    return true;
}

} // namespace

std::optional<std::vector<Snapshot::Cell>> EditableRowset::reread(const RowWriter::Values& values)
{
    const std::optional<RowWriter::Statement> select = writer_->reselect(values);
    if (!select)
        return std::nullopt;
    RowCollector rows;
    session_.query(select->sql, select->params, rows);
    if (rows.rows() == 1 && rows.columns() == static_cast<std::size_t>(columnCount()))
        return std::move(rows.first());
    return std::nullopt;
}

RowRefusal EditableRowset::explainMiss(std::int64_t row, long long affected)
{
    if (affected < 0)
        return refused(RowRefusal::Why::NoRowCount, kNoRowCount);
    if (affected > 1)
        return refused(RowRefusal::Why::NotTellApart, kNotTellApart);
    // Nothing matched: read the row again by what found it, to tell another
    // user's change from a change the database chose not to apply.
    const std::vector<RowWriter::Value> original = originals(row);
    RowWriter::Values by(original.size());
    for (int c : writer_->identifyingColumns())
        by[static_cast<std::size_t>(c)] = original[static_cast<std::size_t>(c)];
    RowRefusal refusal = refused(RowRefusal::Why::ChangedByOther, kChangedByOtherUser);
    try {
        const std::optional<RowWriter::Statement> select = writer_->reselect(by);
        if (!select)
            return refusal;
        RowCollector rows;
        session_.query(select->sql, select->params, rows);
        if (rows.rows() == 0) {
            if (writer_->byKey())
                return refused(RowRefusal::Why::DeletedByOther, kDeletedByOtherUser);
            return refusal;
        }
        if (rows.rows() != 1 || rows.columns() != original.size())
            return refusal;
        if (sameRow(rows.first(), original))
            refusal = refused(RowRefusal::Why::NotApplied, kNotApplied);
        refusal.current = std::move(rows.first());
    } catch (const DbError&) {
        // Reading it again is only for a better reason; the refusal stands.
    }
    return refusal;
}

std::optional<RowRefusal> EditableRowset::writeInsert(std::vector<Snapshot::Cell>& stored)
{
    RowWriter::Values values = pending_->edits;
    const std::vector<int> key = writer_->keyColumns();
    // A key the user did not type is chosen by the database: ask for it back.
    const bool keyTyped = std::all_of(key.begin(), key.end(), [&values](int c) { return values[c].has_value(); });
    const bool returning = !key.empty() && !keyTyped && session_.dialect().supportsReturning();
    const RowWriter::Statement insert = writer_->insert(values, returning);

    WriteTransaction transaction(session_);
    long long affected = 0;
    if (returning) {
        RowCollector returned;
        session_.query(insert.sql, insert.params, returned);
        affected = returned.rows();
        if (affected == 1 && returned.columns() == key.size())
            for (std::size_t i = 0; i < key.size(); ++i)
                values[static_cast<std::size_t>(key[i])] = returned.first()[i];
    } else {
        affected = session_.execute(insert.sql, insert.params);
    }
    if (affected != 1) {
        transaction.rollback();
        if (affected < 0)
            return refused(RowRefusal::Why::NoRowCount, kNoRowCount);
        return refused(RowRefusal::Why::Failed, "the database did not store the new row");
    }
    std::optional<std::vector<Snapshot::Cell>> again = reread(values);
    transaction.commit();
    if (again) {
        stored = std::move(*again);
    } else {
        for (auto& v : values)
            stored.push_back(v ? *v : Snapshot::Cell{});
    }
    return std::nullopt;
}

std::optional<RowRefusal> EditableRowset::writeUpdate(std::int64_t row, std::vector<Snapshot::Cell>& stored)
{
    if (!writer_->canFindRows())
        return refused(RowRefusal::Why::CannotFind, kCannotFind);
    if (const int c = writer_->uncheckableChange(pending_->edits); c >= 0)
        return refused(RowRefusal::Why::Unchecked,
                       "the column \"" + snapshot_.columns()[static_cast<std::size_t>(c)].name
                           + "\" cannot be compared by this database, so a change another user made to it could "
                             "not be detected; the row was not written");
    const std::vector<RowWriter::Value> original = originals(row);
    const std::optional<RowWriter::Statement> update = writer_->update(original, pending_->edits);
    if (!update)
        return std::nullopt; // nothing left to change

    RowWriter::Values written(original.size());
    for (std::size_t c = 0; c < original.size(); ++c)
        written[c] = pending_->edits[c] ? *pending_->edits[c] : original[c];

    WriteTransaction transaction(session_);
    const long long affected = session_.execute(update->sql, update->params);
    if (affected != 1) {
        transaction.rollback();
        return explainMiss(row, affected);
    }
    // Read inside the transaction: what AFTER triggers made of the row is
    // what the database holds.
    std::optional<std::vector<Snapshot::Cell>> again = reread(written);
    transaction.commit();
    if (again) {
        stored = std::move(*again);
    } else {
        for (auto& v : written)
            stored.push_back(std::move(*v));
    }
    return std::nullopt;
}

std::optional<RowRefusal> EditableRowset::writeRow(std::int64_t row)
{
    if (!pending_ || pending_->row != row)
        return std::nullopt;
    std::vector<Snapshot::Cell> stored;
    const bool isNew = pending_->isNew;
    try {
        if (auto refusal = isNew ? writeInsert(stored) : writeUpdate(row, stored))
            return refusal;
    } catch (const DbError& e) {
        return refused(RowRefusal::Why::Failed, e.description());
    }
    pending_.reset();
    if (stored.empty())
        return std::nullopt; // nothing was left to change
    if (isNew)
        snapshot_.appendRow(stored);
    else
        snapshot_.replaceRow(row, stored);
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
    if (!writer_)
        return refused(RowRefusal::Why::Busy, *refusal(row, 0));
    if (row < 0 || row >= snapshot_.rowCount())
        return refused(RowRefusal::Why::Failed, "there is no such row");
    const std::optional<RowWriter::Statement> remove = writer_->remove(originals(row));
    if (!remove)
        return refused(RowRefusal::Why::CannotFind, kCannotFind);
    try {
        WriteTransaction transaction(session_);
        const long long affected = session_.execute(remove->sql, remove->params);
        if (affected != 1) {
            transaction.rollback();
            return explainMiss(row, affected);
        }
        transaction.commit();
    } catch (const DbError& e) {
        return refused(RowRefusal::Why::Failed, e.description());
    }
    return std::nullopt;
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
