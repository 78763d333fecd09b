#include "oracle/EditableRowset.h"

#include "oracle/MemoryBudget.h"

#include "oracle/DbError.h"
#include "oracle/Dialect.h"
#include "oracle/RowWrite.h"

#include <algorithm>

namespace {

bool isReadOnlyColumn(const ColumnInfo& c)
{
    return c.readOnly || c.type == ColumnType::Binary || c.type == ColumnType::LargeText;
}

} // namespace

// ---- the rowset ---------------------------------------------------------------------

std::string EditorQuery(const std::string& table) { return MakeDialect(DialectKind::Generic)->selectAll(table); }

std::unique_ptr<EditableRowset> EditableRowset::Open(ConnectionPtr connection, const std::string& table,
                                                     long long mostRows)
{
    std::unique_ptr<EditableRowset> rowset(new EditableRowset(std::move(connection), table));
    EditableRowset& r = *rowset;
    std::shared_ptr<Session> session = r.connection_->Lend();
    // Read before the session leaves for the reader: they never change.
    r.dialect_ = session->dialect().clone();
    r.placeholders_ = session->placeholders();
    r.textKeepsNul_ = session->textKeepsNul();
    r.reader_.reset(new TableReader(std::move(session), table, mostRows));
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
    if (!keysWritten_.empty())
        for (std::int64_t r = snapshot_.rowCount() - 1; r >= before; --r)
            if (keysWritten_.contains(keyText(r)))
                snapshot_.removeRow(r);
    // A new row being typed stays the last row.
    if (pending_ && pending_->isNew)
        pending_->row = snapshot_.rowCount();
    if (!hadColumns && reader_->columnsKnown()) {
        estimatedRows_ = reader_->estimatedRows();
        othersCanWrite_ = reader_->othersCanWrite();
        details_ = reader_->columnDetails();
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
    if (reader_->overBudget())
        readOverBudget_ = reader_->budget();
    readOverRows_ = reader_->overRows();
    connection_->GiveBack(reader_->takeSession());
    reader_.reset();
    // A write running on it holds it until it ends.
    writer_.reset();
    keysWritten_.clear();
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
    if (window_) {
        if (row >= readRowCount())
            return {}; // the placeholder
        const std::optional<WindowRows::Here> here = window_->at(row);
        if (!here)
            return {ValueKind::Null, {}, false, true};
        const int c = column + here->firstColumn;
        return {here->rows->kind(here->row, c), here->rows->value(here->row, c), false};
    }
    return {snapshot_.kind(row, column), snapshot_.value(row, column), false};
}

std::vector<Value> EditableRowset::rowRead(std::int64_t row) const
{
    if (!window_)
        return snapshot_.row(row);
    if (pending_ && pending_->row == row && !pending_->isNew)
        return pending_->original;
    return window_->row(row).value_or(std::vector<Value>{});
}

void EditableRowset::replaceRead(std::int64_t row, const std::vector<Value>& values)
{
    if (window_)
        window_->replaceRow(row, values);
    else
        snapshot_.replaceRow(row, values);
}

std::string EditableRowset::uncheckedText(int column) const
{
    return "the column \"" + snapshot_.columns()[static_cast<std::size_t>(column)].name
           + "\" cannot be compared by this database, so a change another user made to it could not be detected; "
             "the row was not written";
}

RowNow EditableRowset::readRowInDatabase(const std::vector<Value>& row)
{
    if (row.size() != static_cast<std::size_t>(columnCount()))
        return {};
    const ConnectionPtr connection = writeConnection();
    return readRowNow(*connection, statements_, row);
}

bool EditableRowset::holdsRow(std::int64_t row, const std::vector<Value>& values) const
{
    const std::vector<Value> read = rowRead(row);
    if (read.empty() || read.size() != values.size())
        return false;
    if (findsByKey())
        return keyText(read) == keyText(values);
    return SameValues(read, values);
}

WriteResult EditableRowset::writeInDatabase(RowWrite write)
{
    WriteResult out;
    if (write.kind != RowWrite::Kind::Insert && !statements_->canFindRows()) {
        out.refusal = makeRefusal(RowRefusal::Why::CannotFind, RowRefusal::kCannotFind);
        return out;
    }
    if (write.kind == RowWrite::Kind::Update) {
        if (const int c = statements_->uncheckableChange(write.edits); c >= 0) {
            out.refusal = makeRefusal(RowRefusal::Why::Unchecked, uncheckedText(c));
            return out;
        }
    }
    const ConnectionPtr connection = writeConnection();
    // A row deleted is placed among the blocks while it is still there.
    std::optional<std::size_t> leaving;
    if (window_ && write.kind == RowWrite::Kind::Delete)
        leaving = window_->blockOf(*connection, write.original);
    const RowWrite::Kind kind = write.kind;
    out = ::writeRow(*connection, statements_, write);
    if (out.statements)
        statements_ = out.statements;
    if (!out.refusal)
        note_ = out.note;
    // The count follows a row come or gone at once; the blocks are read
    // again as they are shown: the row shows as stored (or not at all),
    // where the order puts it.
    if (window_) {
        if (!out.refusal && kind == RowWrite::Kind::Insert)
            window_->rowInserted(*connection, out.stored);
        else if (!out.refusal && kind == RowWrite::Kind::Delete)
            window_->rowDeleted(leaving);
        window_->forgetRows();
    }
    return out;
}

std::optional<RowRefusal> EditableRowset::insertAgain(std::int64_t row)
{
    if (!window_ || !pending_ || pending_->row != row || pending_->isNew)
        return makeRefusal(RowRefusal::Why::NoSuchCell, "there is no such row");
    RowWrite write;
    write.kind = RowWrite::Kind::Insert;
    write.edits = asNewRow(row);
    if (std::optional<std::string> missing = missingRequired(write.edits))
        return makeRefusal(RowRefusal::Why::Failed, std::move(*missing));
    WriteResult out = writeInDatabase(std::move(write));
    if (out.refusal)
        return std::move(out.refusal);
    pending_.reset();
    inserted_ = std::move(out.stored);
    return std::nullopt;
}

bool EditableRowset::canKeepRowsInDatabase() const
{
    return statements_ && (!statements_->keyColumns().empty() || RowLocator(dialect_->kind()));
}

void EditableRowset::keepRowsInDatabase(const std::vector<std::pair<int, bool>>& sort,
                                        std::vector<KeyOrder::Filter> filters)
{
    const auto notNull = [this](int column) {
        const std::string& name = snapshot_.columns()[static_cast<std::size_t>(column)].name;
        for (const ColumnDetails& d : details_)
            if (d.name == name)
                return d.notNull || d.filledByDatabase;
        return false;
    };
    std::vector<OrderTerm> terms;
    for (const auto& [column, descending] : sort)
        terms.push_back(OrderTerm{column, descending, notNull(column)});
    std::vector<OrderTerm> key;
    // Oracle and PostgreSQL hold no NULL in a primary key; SQLite may.
    const bool keyNotNull = dialect_->kind() == DialectKind::Oracle || dialect_->kind() == DialectKind::PostgreSQL;
    for (int c : statements_->keyColumns())
        key.push_back(OrderTerm{c, false, keyNotNull || notNull(c)});
    std::optional<std::string> locator;
    if (key.empty())
        locator = RowLocator(dialect_->kind());
    KeyOrder order(*dialect_, placeholders_, table_, snapshot_.columns(), std::move(terms), std::move(key),
                   std::move(locator));
    order.setFilters(std::move(filters));
    if (window_) {
        window_->reorder(std::move(order));
        return;
    }
    window_ = std::make_unique<WindowRows>(*connection_, std::move(order), MemoryBudget());
    // The rows read go: the window reads what is shown.
    Snapshot columnsOnly;
    columnsOnly.begin(snapshot_.columns());
    columnsOnly.end();
    snapshot_ = std::move(columnsOnly);
}

bool EditableRowset::isEditable(std::int64_t row, int column) const
{
    if (waitsForRead() || column < 0 || column >= columnCount())
        return false;
    // A row read that cannot be found again can never be written.
    if (row < readRowCount() && !statements_->canFindRows())
        return false;
    if (isReadOnlyColumn(snapshot_.columns()[static_cast<std::size_t>(column)]))
        return false;
    if (row >= readRowCount())
        return !window_ || window_->takesNewRows();
    if (window_) {
        const std::vector<Value> read = rowRead(row);
        return !read.empty() && read[static_cast<std::size_t>(column)].kind != ValueKind::Blob;
    }
    // SQLite keeps a value of any kind in any column: a blob stays as it is.
    return snapshot_.kind(row, column) != ValueKind::Blob;
}

std::optional<RowRefusal> EditableRowset::rowRefusal(std::int64_t row, int column) const
{
    if (waitsForRead())
        return makeRefusal(RowRefusal::Why::StillReading, RowRefusal::kStillReading);
    if (row < 0 || row > placeholderRow() || column < 0 || column >= columnCount())
        return makeRefusal(RowRefusal::Why::NoSuchCell, "there is no such cell");
    if (row < readRowCount() && !statements_->canFindRows())
        return makeRefusal(RowRefusal::Why::CannotFind, RowRefusal::kCannotFind);
    if (window_ && row >= readRowCount() && !isPending(row) && !window_->takesNewRows())
        return makeRefusal(RowRefusal::Why::NoSuchCell, "the rows are still being counted by the database");
    if (window_ && row < readRowCount() && !isPending(row) && !window_->row(row))
        return makeRefusal(RowRefusal::Why::NoSuchCell, "the row is still being read from the database");
    const bool placeholder = row == placeholderRow();
    if (pending_ && (placeholder || pending_->row != row))
        return makeRefusal(RowRefusal::Why::OtherRowPending,
                           "row " + std::to_string(pending_->row + 1) + " has changes that are not saved yet");
    return std::nullopt;
}

std::optional<RowRefusal> EditableRowset::refusal(std::int64_t row, int column) const
{
    if (std::optional<RowRefusal> why = rowRefusal(row, column); why && why->why != RowRefusal::Why::OtherRowPending)
        return why;
    if (!isEditable(row, column))
        return notEditable(column);
    return rowRefusal(row, column);
}

RowRefusal EditableRowset::notEditable(int column) const
{
    const ColumnInfo& c = snapshot_.columns()[static_cast<std::size_t>(column)];
    return makeRefusal(RowRefusal::Why::NotEditable,
                       "the column \"" + c.name + "\" holds binary or large-object data, which cannot be edited here");
}

std::optional<RowRefusal> EditableRowset::typedEdits(const std::vector<Value>& row,
                                                     const std::vector<std::pair<int, std::string>>& texts,
                                                     RowStatements::Values& edits) const
{
    edits.assign(static_cast<std::size_t>(columnCount()), std::nullopt);
    if (row.size() != edits.size())
        return makeRefusal(RowRefusal::Why::NoSuchCell, "there is no such row");
    for (const auto& [column, text] : texts) {
        if (column < 0 || column >= columnCount())
            return makeRefusal(RowRefusal::Why::NoSuchCell, "there is no such cell");
        const auto c = static_cast<std::size_t>(column);
        if (isReadOnlyColumn(snapshot_.columns()[c]) || row[c].kind == ValueKind::Blob)
            return notEditable(column);
        Value value = statements_->dialect().typedValue(snapshot_.columns()[c], text);
        if (std::optional<RowRefusal> why = valueRefusal(column, value))
            return why;
        if (!SameValue(value, row[c]))
            edits[c] = std::move(value);
    }
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
    if (std::optional<RowRefusal> why = refusal(row, column))
        return {EditOutcome::Refused, std::move(why)};
    const ColumnInfo& info = snapshot_.columns()[static_cast<std::size_t>(column)];
    return store(row, column, value ? statements_->dialect().typedValue(info, *value) : Value{});
}

EditableRowset::EditResult EditableRowset::setExactValue(std::int64_t row, int column, Value value)
{
    // Any column takes an exact value, binary and large-object ones too.
    if (std::optional<RowRefusal> why = rowRefusal(row, column))
        return {EditOutcome::Refused, std::move(why)};
    if (row == placeholderRow() && value.isNull())
        return {};
    return store(row, column, statements_->dialect().stored(std::move(value)));
}

std::optional<RowRefusal> EditableRowset::valueRefusal(int column, const Value& value) const
{
    // Refused here, before anything is sent, rather than cut short unseen.
    if (!textKeepsNul_ && value.kind != ValueKind::Blob && value.bytes.find('\0') != std::string::npos)
        return makeRefusal(RowRefusal::Why::NotStorable,
                           "the column \"" + snapshot_.columns()[static_cast<std::size_t>(column)].name
                               + "\" cannot take a text holding the character NUL (a zero byte): this database does "
                                 "not store it");
    return std::nullopt;
}

EditableRowset::EditResult EditableRowset::store(std::int64_t row, int column, Value value)
{
    const auto c = static_cast<std::size_t>(column);
    const auto columns = static_cast<std::size_t>(columnCount());
    if (std::optional<RowRefusal> why = valueRefusal(column, value))
        return {EditOutcome::Refused, std::move(why)};
    if (row == placeholderRow()) {
        pending_ = Pending{row, true, std::vector<std::optional<Value>>(columns), false, {}};
        pending_->edits[c] = std::move(value);
        return {EditOutcome::StartedNewRow, {}};
    }

    const CellView shown = cell(row, column);
    if (SameValue(shown.kind, shown.data, value.kind, value.bytes))
        return {};

    if (!pending_) {
        pending_ = Pending{row, false, std::vector<std::optional<Value>>(columns), false, {}};
        if (window_)
            pending_->original = window_->row(row).value_or(std::vector<Value>(columns));
    }
    const auto read = [&] {
        return window_ ? pending_->original[c]
                       : Value{snapshot_.kind(row, column), std::string(snapshot_.value(row, column))};
    };
    if (!pending_->isNew && SameValue(read(), value)) {
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
    if (row < 0 || row >= readRowCount() || current.size() != static_cast<std::size_t>(columnCount()))
        return;
    replaceRead(row, current);
    if (window_ && pending_ && pending_->row == row)
        pending_->original = current;
    if (!pending_ || pending_->row != row || pending_->isNew)
        return;
    // A typed value that is what the database holds now is no change any more.
    for (std::size_t c = 0; c < current.size(); ++c)
        if (pending_->edits[c] && SameValue(*pending_->edits[c], current[c]))
            pending_->edits[c].reset();
    if (std::none_of(pending_->edits.begin(), pending_->edits.end(), [](const auto& e) { return e.has_value(); }))
        pending_.reset();
}

RowStatements::Values EditableRowset::asNewRow(std::int64_t row) const
{
    RowStatements::Values values(static_cast<std::size_t>(columnCount()));
    const std::vector<Value> read = rowRead(row);
    for (std::size_t c = 0; c < values.size() && c < read.size(); ++c) {
        if (pending_ && pending_->row == row && pending_->edits[c])
            values[c] = pending_->edits[c];
        else if (!read[c].isNull())
            values[c] = read[c];
    }
    return values;
}

std::int64_t EditableRowset::convertToNewRow(std::int64_t row)
{
    // Rows kept in the database take no new row (see insertAgain).
    if (window_ || row < 0 || row >= snapshot_.rowCount())
        return -1;
    RowStatements::Values values = asNewRow(row);
    pending_.reset();
    snapshot_.removeRow(row);
    pending_ = Pending{snapshot_.rowCount(), true, std::move(values), false, {}};
    return pending_->row;
}

RowNow EditableRowset::readRowAgain(std::int64_t row)
{
    if (waitsForRead() || row < 0 || row >= readRowCount())
        return {};
    const std::vector<Value> read = rowRead(row);
    if (read.empty())
        return {};
    const ConnectionPtr connection = writeConnection();
    return readRowNow(*connection, statements_, read);
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
    RowWrite write;
    write.edits = pending_->edits;
    if (pending_->isNew) {
        // Said here, before any statement: the database's own refusal would
        // not name the column the way the grid shows it.
        if (std::optional<std::string> missing = missingRequired(pending_->edits)) {
            RowRefusal refusal = makeRefusal(RowRefusal::Why::Failed, std::move(*missing));
            refusal.typed = pending_->edits;
            return refusal;
        }
        write.kind = RowWrite::Kind::Insert;
        write.checkFirst = pending_->unsure;
    } else {
        write.original = rowRead(row);
        const auto refuse = [&write](RowRefusal::Why why, std::string text) {
            RowRefusal refusal = makeRefusal(why, std::move(text));
            refusal.read = write.original;
            refusal.typed = write.edits;
            return refusal;
        };
        if (!statements_->canFindRows())
            return refuse(RowRefusal::Why::CannotFind, RowRefusal::kCannotFind);
        if (const int c = statements_->uncheckableChange(write.edits); c >= 0)
            return refuse(RowRefusal::Why::Unchecked, uncheckedText(c));
    }

    const ConnectionPtr connection = writeConnection();
    WriteResult out = ::writeRow(*connection, statements_, write);
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
    // The read may yet reach a row inserted, or one whose key moved.
    if (reader_ && !statements_->keyColumns().empty()
        && (isNew || keyText(out.stored) != keyText(snapshot_.row(row))))
        keysWritten_.insert(keyText(out.stored));
    if (isNew && window_) {
        // Counted where the order puts it, so the count is right at once.
        inserted_ = out.stored;
        insertedFrom_ = window_->rowInserted(*connection, out.stored);
    } else if (isNew)
        snapshot_.appendRow(out.stored);
    else
        replaceRead(row, out.stored);
    return std::nullopt;
}

void EditableRowset::newRowFollowsWindow()
{
    // Typed below the rows counted: it stays below them as their count moves.
    if (window_ && pending_ && pending_->isNew)
        pending_->row = readRowCount();
}

std::optional<std::string> EditableRowset::missingRequired(const std::vector<std::optional<Value>>& edits) const
{
    std::vector<std::string> names;
    for (std::size_t c = 0; c < edits.size() && c < columns().size(); ++c) {
        if (edits[c] && !edits[c]->isNull())
            continue;
        const std::string& name = columns()[c].name;
        const auto d = std::find_if(details_.begin(), details_.end(), [&name](const ColumnDetails& x) { return x.name == name; });
        if (d != details_.end() && d->notNull && !d->filledByDatabase && !d->defaultText)
            names.push_back("\"" + name + "\"");
    }
    if (names.empty())
        return std::nullopt;
    std::string list;
    for (std::size_t i = 0; i < names.size(); ++i)
        list += (i == 0 ? "" : i + 1 == names.size() ? " and " : ", ") + names[i];
    return names.size() == 1
               ? "the column " + list + " needs a value: it is NOT NULL and the database has no default for it"
               : "the columns " + list + " need values: they are NOT NULL and the database has no default for them";
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
    if (waitsForRead())
        return makeRefusal(RowRefusal::Why::StillReading, RowRefusal::kStillReading);
    if (row < 0 || row >= readRowCount())
        return makeRefusal(RowRefusal::Why::NoSuchCell, "there is no such row");
    if (!statements_->canFindRows())
        return makeRefusal(RowRefusal::Why::CannotFind, RowRefusal::kCannotFind);
    RowWrite write;
    write.kind = RowWrite::Kind::Delete;
    write.original = rowRead(row);
    if (write.original.empty())
        return makeRefusal(RowRefusal::Why::NoSuchCell, "the row is still being read from the database");
    const ConnectionPtr connection = writeConnection();
    WriteResult out = ::writeRow(*connection, statements_, write);
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
    if (window_)
        window_->removeRow(row);
    else
        snapshot_.removeRow(row);
    if (pending_ && pending_->row > row)
        --pending_->row;
}

ConnectionPtr EditableRowset::writeConnection()
{
    if (!reader_)
        return connection_;
    if (!writer_)
        writer_ = connection_->Another();
    return writer_;
}

std::string EditableRowset::keyText(const std::vector<Value>& row) const
{
    std::string text;
    for (const int c : statements_->keyColumns()) {
        const Value& v = row[static_cast<std::size_t>(c)];
        const auto size = static_cast<std::uint32_t>(v.bytes.size());
        text += static_cast<char>(v.kind);
        text.append(reinterpret_cast<const char*>(&size), sizeof size);
        text += v.bytes;
    }
    return text;
}

std::string EditableRowset::keyText(std::int64_t row) const
{
    std::vector<Value> values(static_cast<std::size_t>(columnCount()));
    for (const int c : statements_->keyColumns())
        values[static_cast<std::size_t>(c)] =
            Value{snapshot_.kind(row, c), std::string(snapshot_.value(row, c))};
    return keyText(values);
}
