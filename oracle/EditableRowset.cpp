#include "oracle/EditableRowset.h"

#include "oracle/DbError.h"
#include "oracle/Dialect.h"

#include <algorithm>

#include "oracle/RowWrite.h"

namespace {

bool isReadOnlyColumn(const ColumnInfo& c)
{
    return c.readOnly || c.type == ColumnType::Binary || c.type == ColumnType::LargeText;
}

} // namespace

// ---- the rowset ---------------------------------------------------------------------

std::string EditorQuery(const std::string& table) { return "SELECT * FROM " + Dialect::quoteIdentifier(table); }

std::unique_ptr<EditableRowset> EditableRowset::Open(ConnectionPtr connection, const std::string& table)
{
    std::unique_ptr<EditableRowset> rowset(new EditableRowset(std::move(connection), table));
    EditableRowset& r = *rowset;
    std::shared_ptr<Session> session = r.connection_->Lend();
    // Read before the session leaves for the reader: they never change.
    r.dialectKind_ = session->dialect().kind();
    r.placeholders_ = session->placeholders();
    r.reader_.reset(new TableReader(std::move(session), EditorQuery(table), table));
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
        const std::unique_ptr<Dialect> dialect = MakeDialect(dialectKind_);
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
    connection_->GiveBack(reader_->takeSession());
    reader_.reset();
    if (!statements_) {
        // The read failed before the columns were known.
        const std::unique_ptr<Dialect> dialect = MakeDialect(dialectKind_);
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

EditableRowset::EditResult EditableRowset::store(std::int64_t row, int column, Value value)
{
    const auto c = static_cast<std::size_t>(column);
    const auto columns = static_cast<std::size_t>(columnCount());
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
    } else {
        if (!statements_->canFindRows())
            return Refused(RowRefusal::Why::CannotFind, kCannotFind);
        if (const int c = statements_->uncheckableChange(plan.edits); c >= 0)
            return Refused(RowRefusal::Why::Unchecked,
                           "the column \"" + snapshot_.columns()[static_cast<std::size_t>(c)].name
                               + "\" cannot be compared by this database, so a change another user made to it could "
                                 "not be detected; the row was not written");
        plan.original = snapshot_.row(row);
    }

    WriteOutcome out = RunRowWrite(*connection_, statements_, plan);
    if (out.refusal)
        return std::move(out.refusal);
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
        return Refused(RowRefusal::Why::Failed, kStillReading);
    if (row < 0 || row >= snapshot_.rowCount())
        return Refused(RowRefusal::Why::Failed, "there is no such row");
    if (!statements_->canFindRows())
        return Refused(RowRefusal::Why::CannotFind, kCannotFind);
    WritePlan plan;
    plan.kind = WritePlan::Kind::Delete;
    plan.original = snapshot_.row(row);
    return RunRowWrite(*connection_, statements_, plan).refusal;
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
