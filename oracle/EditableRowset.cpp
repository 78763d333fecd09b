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

bool EditableRowset::runWrite(const RowWriter::Statement& statement, bool returnsRow, bool isInsert,
                              std::vector<Snapshot::Cell>* stored, std::string* error)
{
    try {
        session_.begin();
        long long affected = 0;
        RowCollector returned;
        if (returnsRow) {
            session_.query(statement.sql, statement.params, returned);
            affected = returned.rows();
        } else {
            affected = session_.execute(statement.sql, statement.params);
        }
        if (affected != 1) {
            session_.rollback();
            if (error) {
                if (isInsert)
                    *error = "the database did not store the new row";
                else
                    *error = affected == 0 ? kChangedByOtherUser : kNotTellApart;
            }
            return false;
        }
        session_.commit();
        if (returnsRow && stored && returned.columns() == static_cast<std::size_t>(columnCount()))
            *stored = std::move(returned.first());
        return true;
    } catch (const DbError& e) {
        try {
            session_.rollback();
        } catch (const DbError&) {
            // The failure that matters is the first one.
        }
        if (error)
            *error = e.description();
        return false;
    }
}

std::optional<std::vector<Snapshot::Cell>> EditableRowset::reread(const std::optional<RowWriter::Statement>& select)
{
    if (!select)
        return std::nullopt;
    try {
        RowCollector rows;
        session_.query(select->sql, select->params, rows);
        if (rows.rows() == 1 && rows.columns() == static_cast<std::size_t>(columnCount()))
            return std::move(rows.first());
    } catch (const DbError&) {
        // The write itself has committed; show the values written instead.
    }
    return std::nullopt;
}

bool EditableRowset::writeRow(std::int64_t row, std::string* error)
{
    if (!pending_ || pending_->row != row)
        return true;
    const bool returning = session_.dialect().supportsReturning();
    std::vector<Snapshot::Cell> stored;

    if (pending_->isNew) {
        const RowWriter::Statement insert = writer_->insert(pending_->edits, returning);
        if (!runWrite(insert, returning, true, &stored, error))
            return false;
        if (stored.empty()) {
            if (auto again = reread(writer_->reselect(pending_->edits))) {
                stored = std::move(*again);
            } else {
                for (auto& edit : pending_->edits)
                    stored.push_back(edit ? *edit : Snapshot::Cell{});
            }
        }
        pending_.reset();
        snapshot_.appendRow(stored);
        return true;
    }

    const std::vector<RowWriter::Value> original = originals(row);
    const std::optional<RowWriter::Statement> update = writer_->update(original, pending_->edits, returning);
    if (!update) {
        if (std::none_of(pending_->edits.begin(), pending_->edits.end(), [](const auto& e) { return e.has_value(); })) {
            pending_.reset();
            return true;
        }
        if (error)
            *error = "the row cannot be found again: the table has no key and no column that can be compared";
        return false;
    }
    if (!runWrite(*update, returning, false, &stored, error))
        return false;
    if (stored.empty()) {
        RowWriter::Values written(original.size());
        for (std::size_t c = 0; c < original.size(); ++c)
            written[c] = pending_->edits[c] ? *pending_->edits[c] : original[c];
        if (auto again = reread(writer_->reselect(written))) {
            stored = std::move(*again);
        } else {
            for (auto& v : written)
                stored.push_back(std::move(*v));
        }
    }
    pending_.reset();
    snapshot_.replaceRow(row, stored);
    return true;
}

void EditableRowset::revertRow(std::int64_t row)
{
    if (pending_ && pending_->row == row)
        pending_.reset();
}

bool EditableRowset::deleteFromDatabase(std::int64_t row, std::string* error)
{
    if (pending_ && pending_->isNew && pending_->row == row)
        return true;
    if (!writer_) {
        if (error)
            *error = *refusal(row, 0);
        return false;
    }
    if (row < 0 || row >= snapshot_.rowCount()) {
        if (error)
            *error = "there is no such row";
        return false;
    }
    const std::optional<RowWriter::Statement> remove = writer_->remove(originals(row));
    if (!remove) {
        if (error)
            *error = "the row cannot be found again: the table has no key and no column that can be compared";
        return false;
    }
    return runWrite(*remove, false, false, nullptr, error);
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
