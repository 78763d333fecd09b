#include "oracle/TableHistory.h"

#include "oracle/EditableRowset.h"
#include "oracle/TableModel.h"

#include <QScopeGuard>

#include <algorithm>
#include <unordered_map>

namespace {

bool sameTyped(const EditHistory::Typed& a, const EditHistory::Typed& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](const auto& x, const auto& y) {
               return x.has_value() == y.has_value() && (!x || SameValue(*x, *y));
           });
}

bool nothingTyped(const EditHistory::Typed& typed)
{
    return std::none_of(typed.begin(), typed.end(), [](const auto& v) { return v.has_value(); });
}

} // namespace

TableHistory::TableHistory(TableModel* model) : QObject(model), model_(model)
{
    connect(model, &TableModel::dataChanged, this, &TableHistory::observeTyping);
    connect(model, &TableModel::pendingRowChanged, this, &TableHistory::observeTyping);
    connect(model, &TableModel::rowWritten, this, &TableHistory::rowWritten);
    connect(model, &TableModel::rowsDeleted, this, &TableHistory::rowsDeleted);
    connect(model, &TableModel::rowWrittenNotShown, this,
            [this](const std::vector<Value>& before, const std::vector<Value>& stored, const std::vector<int>& typed) {
                if (!replaying_ && stored.size() == before.size())
                    recordChange(-1, before, stored, typed, true);
            });
    connect(model, &TableModel::rowLeft, this, [this](qint64 row) {
        history_.rowRemoved(row);
        shownRowLeft(row);
    });
    connect(model, &TableModel::rowsGoingToDatabase, this, &TableHistory::findRowsByValues);
    // Steps find the rows in memory by number: numbered anew, none can be
    // found. Rows kept in the database are found by their values.
    connect(model, &TableModel::rowsRenumbered, this, [this] {
        if (!model_->rowsInDatabase()) {
            history_.clear();
            return;
        }
        history_.detachRows();
        history_.eachChange([](EditHistory::RowChange& change) { change.seenAt = -1; });
    });
    // Whatever is pending when the history starts was typed at once.
    observeTyping();
}

// ---- recording ---------------------------------------------------------------------

EditHistory::Typed TableHistory::typedState(std::int64_t row) const
{
    const EditableRowset& rowset = model_->rowset();
    EditHistory::Typed typed(static_cast<std::size_t>(rowset.columnCount()));
    for (int c = 0; c < rowset.columnCount(); ++c)
        typed[static_cast<std::size_t>(c)] = rowset.typedCell(row, c);
    return typed;
}

void TableHistory::observeTyping()
{
    if (replaying_ || grouping_)
        return;
    const std::int64_t pending = model_->rowset().pendingRow();
    if (pending < 0) {
        // Written (recorded already) or its typing dropped.
        if (typedRow_ >= 0 && history_.typingRow() == typedRow_)
            history_.endTyping();
        typedRow_ = -1;
        typed_.clear();
        return;
    }
    if (pending != typedRow_) {
        typedRow_ = pending;
        typed_ = EditHistory::Typed(static_cast<std::size_t>(model_->columnCount()));
    }
    EditHistory::Typed now = typedState(pending);
    if (sameTyped(now, typed_))
        return;
    history_.recordTyping(pending, std::move(typed_));
    typed_ = std::move(now);
}

void TableHistory::rowWritten(qint64 row, const std::vector<Value>& before, const std::vector<int>& typedColumns)
{
    typedRow_ = -1;
    typed_.clear();
    if (replaying_)
        return;
    const bool inDatabase = model_->rowsInDatabase();
    // A new row kept in the database goes where the order puts it: its
    // values as stored come with the write.
    const std::vector<Value> stored =
        inDatabase && before.empty() ? model_->rowset().insertedRow() : model_->rowset().rowRead(row);
    if (stored.size() != static_cast<std::size_t>(model_->rowset().columnCount())) {
        history_.endTyping(); // a row kept in the database whose block went meanwhile
        return;
    }
    if (before.empty()) {
        history_.recordInsert(row, stored);
        if (inDatabase)
            history_.detachRows();
        return;
    }
    recordChange(row, before, stored, typedColumns, inDatabase);
}

void TableHistory::recordChange(std::int64_t row, const std::vector<Value>& before, const std::vector<Value>& stored,
                                const std::vector<int>& typedColumns, bool inDatabase)
{
    // The columns typed that the write changed: a trigger's own changes are
    // the trigger's to make again.
    std::vector<int> columns;
    std::vector<Value> was, now;
    for (int c : typedColumns) {
        const Value& old = before[static_cast<std::size_t>(c)];
        const Value& held = stored[static_cast<std::size_t>(c)];
        if (SameValue(old, held))
            continue;
        columns.push_back(c);
        was.push_back(old);
        now.push_back(held);
    }
    if (columns.empty()) {
        history_.endTyping();
        return;
    }
    // Rows kept in the database move when others' rows come and go: the
    // step finds its row by its values, and the grid's row is only a hint.
    history_.recordUpdate(row, std::move(columns), std::move(was), std::move(now),
                          inDatabase ? stored : std::vector<Value>{}, inDatabase ? row : -1);
    if (inDatabase)
        history_.detachRows();
}

void TableHistory::rowsDeleted(const std::vector<std::pair<std::int64_t, std::vector<Value>>>& rows)
{
    if (!replaying_)
        history_.recordDeletes(rows);
    else
        for (const auto& deleted : rows)
            history_.rowRemoved(deleted.first);
    if (model_->rowsInDatabase()) {
        history_.detachRows();
        for (const auto& deleted : rows)
            shownRowLeft(deleted.first);
    }
}

void TableHistory::findRowsByValues()
{
    // A row deleted since a change to it is known by the values it left with.
    std::unordered_map<EditHistory::RowId, std::vector<Value>> left;
    history_.eachChange([&left](EditHistory::RowChange& change) {
        if (change.kind == EditHistory::RowChange::Kind::Delete)
            left[change.row] = change.before;
    });
    const EditableRowset& rowset = model_->rowset();
    history_.eachChange([&](EditHistory::RowChange& change) {
        if (change.kind != EditHistory::RowChange::Kind::Update)
            return;
        if (const std::int64_t row = history_.rowOf(change.row); row >= 0 && row < rowset.readRowCount())
            change.stored = rowset.rowRead(row);
        else if (const auto it = left.find(change.row); it != left.end())
            change.stored = it->second;
    });
    history_.detachRows();
}

void TableHistory::shownRowLeft(std::int64_t row)
{
    // Where the grid showed the rows of steps: the rows below moved up.
    history_.eachChange([row](EditHistory::RowChange& change) {
        if (change.seenAt == row)
            change.seenAt = -1;
        else if (change.seenAt > row)
            --change.seenAt;
    });
}

void TableHistory::beginGroup(EditHistory::Action action)
{
    grouping_ = true;
    history_.beginGroup(action);
}

void TableHistory::endGroup()
{
    history_.endGroup();
    grouping_ = false;
    // A row the batch left pending (refused) was typed in one go.
    typedRow_ = -1;
    typed_.clear();
    observeTyping();
}

// ---- names -------------------------------------------------------------------------

bool TableHistory::undoIsTyping() const
{
    return history_.canUndoTyping() && model_->rowset().pendingRow() == history_.typingRow();
}

bool TableHistory::redoIsTyping() const { return history_.canRedoTyping(); }

QString TableHistory::rowName(const EditHistory::RowChange& change) const
{
    const int shown = model_->rowsInDatabase() ? shownAt(change.seenAt, change.stored)
                                               : model_->viewRow(history_.rowOf(change.row));
    return shown >= 0 ? QStringLiteral("Row %1").arg(model_->rowNumber(shown)) : QStringLiteral("a Row Not Shown");
}

QString TableHistory::stepName(const EditHistory::Step& step) const
{
    const auto n = static_cast<int>(step.changes.size());
    const EditHistory::RowChange& first = step.changes.front();
    switch (step.action) {
    case EditHistory::Action::Edit:
        if (first.kind == EditHistory::RowChange::Kind::Insert)
            return history_.rowOf(first.row) >= 0 ? QStringLiteral("New %1").arg(rowName(first))
                                                  : QStringLiteral("New Row");
        return QStringLiteral("Change to %1").arg(rowName(first));
    case EditHistory::Action::Paste:
        return n == 1 ? QStringLiteral("Paste into %1").arg(rowName(first)) : QStringLiteral("Paste of %1 Rows").arg(n);
    case EditHistory::Action::ReplaceAll:
        return n == 1 ? QStringLiteral("Replace All in %1").arg(rowName(first))
                      : QStringLiteral("Replace All in %1 Rows").arg(n);
    case EditHistory::Action::Deletion:
        return n == 1 ? QStringLiteral("Deletion of 1 Row") : QStringLiteral("Deletion of %1 Rows").arg(n);
    case EditHistory::Action::Import:
        return n == 1 ? QStringLiteral("Import of 1 Row") : QStringLiteral("Import of %1 Rows").arg(n);
    }
    return {};
}

QString TableHistory::undoName() const
{
    if (undoIsTyping())
        return QStringLiteral("Typing in Row %1").arg(model_->rowNumber(model_->viewRow(history_.typingRow())));
    const EditHistory::Step* step = history_.nextUndo();
    return step ? stepName(*step) : QString();
}

QString TableHistory::redoName() const
{
    if (redoIsTyping())
        return QStringLiteral("Typing in Row %1").arg(model_->rowNumber(model_->viewRow(history_.typingRow())));
    const EditHistory::Step* step = history_.nextRedo();
    return step ? stepName(*step) : QString();
}

int TableHistory::undoRows() const
{
    const EditHistory::Step* step = history_.nextUndo();
    return step ? static_cast<int>(step->changes.size()) : 0;
}

int TableHistory::redoRows() const
{
    const EditHistory::Step* step = history_.nextRedo();
    return step ? static_cast<int>(step->changes.size()) : 0;
}

// ---- typing taken back -------------------------------------------------------------

void TableHistory::applyTyped(std::int64_t row, const EditHistory::Typed& target)
{
    EditableRowset& rowset = model_->rowset();
    int shown = model_->viewRow(row);
    if (nothingTyped(target)) {
        if (rowset.isPending(row))
            model_->revertRow(shown);
        return;
    }
    if (row < rowset.readRowCount()) {
        // A cell not typed goes back to its value read.
        const std::vector<Value> read = rowset.rowRead(row);
        if (read.size() != static_cast<std::size_t>(rowset.columnCount()))
            return;
        for (int c = 0; c < rowset.columnCount(); ++c) {
            const auto& want = target[static_cast<std::size_t>(c)];
            Value value = want ? *want : read[static_cast<std::size_t>(c)];
            const EditableRowset::CellView now = rowset.cell(row, c);
            if (!SameValue(now.kind, now.data, value.kind, value.bytes))
                model_->storeValue(model_->index(shown, c), std::move(value));
        }
        return;
    }
    // A new row cannot take a cell back to "not typed": it is typed again
    // from the placeholder, a value first (a NULL does not start a row).
    if (rowset.isPending(row))
        model_->revertRow(shown);
    shown = model_->rowCount() - 1;
    std::vector<int> order;
    for (int c = 0; c < static_cast<int>(target.size()); ++c)
        if (target[static_cast<std::size_t>(c)])
            order.push_back(c);
    std::stable_partition(order.begin(), order.end(),
                          [&target](int c) { return !target[static_cast<std::size_t>(c)]->isNull(); });
    for (int c : order) {
        const Value& value = *target[static_cast<std::size_t>(c)];
        if (value.isNull() && !rowset.pendingIsNew())
            model_->setNull(model_->index(shown, c));
        else
            model_->storeValue(model_->index(shown, c), value);
    }
}

int TableHistory::undoTyping() { return undoIsTyping() ? replayTyping(false) : -1; }

int TableHistory::redoTyping() { return redoIsTyping() ? replayTyping(true) : -1; }

int TableHistory::replayTyping(bool redo)
{
    const std::int64_t row = history_.typingRow();
    const EditHistory::Typed target = redo ? history_.redoTyping(typedState(row)) : history_.undoTyping(typedState(row));
    replaying_ = true;
    applyTyped(row, target);
    replaying_ = false;
    typedRow_ = model_->rowset().pendingRow();
    typed_ = typedRow_ >= 0 ? typedState(typedRow_) : EditHistory::Typed{};
    return lastRow_ = model_->viewRow(row);
}

// ---- steps taken back ----------------------------------------------------------------

BatchResult TableHistory::undo(const BatchProgress& progress) { return replay(true, progress); }

BatchResult TableHistory::redo(const BatchProgress& progress) { return replay(false, progress); }

BatchResult TableHistory::replay(bool undo, const BatchProgress& progress)
{
    BatchResult result;
    lastRow_ = -1;
    EditHistory::Step* step = undo ? history_.nextUndo() : history_.nextRedo();
    if (!step || model_->reading() || model_->pendingRow() >= 0)
        return result;
    replaying_ = true;
    const auto done = qScopeGuard([this] { replaying_ = false; });
    const auto n = static_cast<int>(step->changes.size());
    result.total = n;
    for (int k = 0; k < n; ++k) {
        // Taken back last first; done again in the order first done.
        EditHistory::RowChange& change = step->changes[static_cast<std::size_t>(undo ? n - 1 - k : k)];
        if (std::optional<Refused> refused = apply(change, undo)) {
            result.refusal = std::move(refused->refusal);
            result.refusedRow = refused->row;
            break;
        }
        ++result.written;
        if (progress && !progress(result.written, n)) {
            result.stopped = result.written < n;
            break;
        }
    }
    if (undo)
        history_.undone(static_cast<std::size_t>(result.written));
    else
        history_.redone(static_cast<std::size_t>(result.written));
    return result;
}

std::optional<TableHistory::Refused> TableHistory::apply(EditHistory::RowChange& change, bool undo)
{
    using Kind = EditHistory::RowChange::Kind;
    if (model_->rowsInDatabase())
        return applyInDatabase(change, undo);
    switch (change.kind) {
    case Kind::Update:
        return undo ? rewrite(change.row, change.columns, change.after, change.before, change.before)
                    : rewrite(change.row, change.columns, change.before, change.after, change.after);
    case Kind::Insert:
        return undo ? remove(change.row, change.after) : insert(change.row, change.after);
    case Kind::Delete:
        return undo ? insert(change.row, change.before) : remove(change.row, change.before);
    }
    return std::nullopt;
}

namespace {

// An undo (or redo) finds the row holding other values than the step left:
// someone changed it since, and nothing is written over that.
RowRefusal changedSince(std::vector<Value> now)
{
    RowRefusal refusal = makeRefusal(RowRefusal::Why::ChangedByOther, RowRefusal::kChangedByOtherUser);
    refusal.current = std::move(now);
    return refusal;
}

} // namespace

std::optional<TableHistory::Refused> TableHistory::locate(EditHistory::RowId id, std::int64_t* row, int* shown) const
{
    *row = history_.rowOf(id);
    if (*row < 0 || *row >= model_->rowset().snapshot().rowCount())
        return Refused{-1, makeRefusal(RowRefusal::Why::DeletedByOther, RowRefusal::kDeletedByOtherUser)};
    *shown = model_->viewRow(*row);
    if (*shown < 0)
        return Refused{-1, makeRefusal(RowRefusal::Why::NoSuchCell,
                                       "the row is not shown (a filter hides it): clear the filter first")};
    return std::nullopt;
}

std::optional<TableHistory::Refused> TableHistory::rewrite(EditHistory::RowId id, const std::vector<int>& columns,
                                                          const std::vector<Value>& expected,
                                                          const std::vector<Value>& target, std::vector<Value>& nowHeld)
{
    std::int64_t row = -1;
    int shown = -1;
    if (std::optional<Refused> refused = locate(id, &row, &shown))
        return refused;
    const Snapshot& snapshot = model_->rowset().snapshot();
    // The values read must be the ones this step left: they stand as the
    // row's originals, so the write finds any change made since.
    for (std::size_t i = 0; i < columns.size(); ++i)
        if (!SameValue(snapshot.kind(row, columns[i]), snapshot.value(row, columns[i]), expected[i].kind,
                       expected[i].bytes))
            return Refused{shown, changedSince(snapshot.row(row))};
    for (std::size_t i = 0; i < columns.size(); ++i) {
        if (std::optional<RowRefusal> why = model_->storeValue(model_->index(shown, columns[i]), target[i])) {
            model_->revertRow(shown);
            return Refused{shown, std::move(*why)};
        }
    }
    if (std::optional<RowRefusal> refusal = model_->submitRow(shown)) {
        model_->revertRow(shown);
        return Refused{shown, std::move(*refusal)};
    }
    // What the database holds now is what the way back expects.
    for (std::size_t i = 0; i < columns.size(); ++i)
        nowHeld[i] = Value{snapshot.kind(row, columns[i]), std::string(snapshot.value(row, columns[i]))};
    lastRow_ = shown;
    return std::nullopt;
}

std::optional<TableHistory::Refused> TableHistory::remove(EditHistory::RowId id, const std::vector<Value>& expected)
{
    std::int64_t row = -1;
    int shown = -1;
    if (std::optional<Refused> refused = locate(id, &row, &shown))
        return refused;
    const std::vector<Value> now = model_->rowset().snapshot().row(row);
    if (!SameValues(now, expected))
        return Refused{shown, changedSince(now)};
    if (std::vector<TableModel::RowRefused> failures = model_->deleteRows({shown}); !failures.empty())
        return Refused{shown, std::move(failures.front().refusal)};
    lastRow_ = -1;
    return std::nullopt;
}

std::optional<TableHistory::Refused> TableHistory::insert(EditHistory::RowId id, std::vector<Value>& values)
{
    EditableRowset& rowset = model_->rowset();
    const int placeholder = model_->rowCount() - 1;
    // A value first: a NULL typed into the placeholder starts no row.
    std::vector<int> order(values.size());
    for (std::size_t c = 0; c < values.size(); ++c)
        order[c] = static_cast<int>(c);
    std::stable_partition(order.begin(), order.end(), [&values](int c) { return !values[static_cast<std::size_t>(c)].isNull(); });
    std::optional<RowRefusal> why;
    for (int c : order) {
        const QModelIndex index = model_->index(placeholder, c);
        const Value& value = values[static_cast<std::size_t>(c)];
        why = value.isNull() && !rowset.pendingIsNew() ? model_->setNull(index) : model_->storeValue(index, value);
        if (why)
            break;
    }
    if (!why)
        why = model_->submitRow(placeholder);
    if (why) {
        if (rowset.pendingIsNew())
            model_->revertRow(placeholder);
        return Refused{placeholder, std::move(*why)};
    }
    const std::int64_t row = rowset.snapshot().rowCount() - 1;
    history_.placeRow(id, row);
    values = rowset.snapshot().row(row);
    lastRow_ = model_->viewRow(row);
    return std::nullopt;
}

// ---- steps taken back among rows kept in the database ------------------------------------

namespace {

// The row as the database holds it now, or why it cannot be written.
std::optional<RowRefusal> notFound(const RowNow& now, bool byKey)
{
    if (now.state == RowNow::State::Found)
        return std::nullopt;
    if (now.state == RowNow::State::Gone)
        return makeRefusal(RowRefusal::Why::DeletedByOther, RowRefusal::kDeletedByOtherUser);
    // Without a key the row is found by every value: none holding them is
    // another user's change.
    return makeRefusal(byKey ? RowRefusal::Why::Failed : RowRefusal::Why::ChangedByOther,
                       byKey ? "the row could not be read again from the database"
                             : RowRefusal::kChangedByOtherUser);
}

} // namespace

int TableHistory::shownAt(std::int64_t seenAt, const std::vector<Value>& row) const
{
    if (seenAt < 0 || !model_->rowset().holdsRow(seenAt, row))
        return -1;
    return model_->viewRow(seenAt);
}

std::optional<TableHistory::Refused> TableHistory::applyInDatabase(EditHistory::RowChange& change, bool undo)
{
    using Kind = EditHistory::RowChange::Kind;
    switch (change.kind) {
    case Kind::Update:
        return undo ? rewriteInDatabase(change, change.after, change.before)
                    : rewriteInDatabase(change, change.before, change.after);
    case Kind::Insert:
        return undo ? removeInDatabase(change.after) : insertInDatabase(change.after);
    case Kind::Delete:
        return undo ? insertInDatabase(change.before) : removeInDatabase(change.before);
    }
    return std::nullopt;
}

// As rewrite, the row found by its values as last stored. What the database
// holds now stands as the row's values read, so the write's own check finds
// any change made after this one.
std::optional<TableHistory::Refused> TableHistory::rewriteInDatabase(EditHistory::RowChange& change,
                                                                    const std::vector<Value>& expected,
                                                                    std::vector<Value>& target)
{
    EditableRowset& rowset = model_->rowset();
    const RowNow now = rowset.readRowInDatabase(change.stored);
    const int shown = shownAt(change.seenAt, change.stored);
    if (std::optional<RowRefusal> why = notFound(now, rowset.findsByKey()))
        return Refused{shown, std::move(*why)};
    for (std::size_t i = 0; i < change.columns.size(); ++i)
        if (!SameValue(now.values[static_cast<std::size_t>(change.columns[i])], expected[i]))
            return Refused{shown, changedSince(now.values)};
    std::vector<Value> stored;
    if (shown >= 0) {
        // Shown: written as typing into it would be, and shown as stored.
        model_->takeCurrent(shown, now.values);
        for (std::size_t i = 0; i < change.columns.size(); ++i)
            if (std::optional<RowRefusal> why = model_->storeValue(model_->index(shown, change.columns[i]), target[i])) {
                model_->revertRow(shown);
                return Refused{shown, std::move(*why)};
            }
        if (std::optional<RowRefusal> refusal = model_->submitRow(shown)) {
            model_->revertRow(shown);
            return Refused{shown, std::move(*refusal)};
        }
        stored = rowset.rowRead(shown);
    } else {
        RowStatements::Values edits(now.values.size());
        for (std::size_t i = 0; i < change.columns.size(); ++i)
            edits[static_cast<std::size_t>(change.columns[i])] = target[i];
        if (std::optional<RowRefusal> why = model_->writeNotShown(RowWrite{RowWrite::Kind::Update, std::move(edits), now.values, false}, stored))
            return Refused{-1, std::move(*why)};
    }
    if (stored.size() == now.values.size()) {
        for (std::size_t i = 0; i < change.columns.size(); ++i)
            target[i] = stored[static_cast<std::size_t>(change.columns[i])];
        change.stored = std::move(stored);
    }
    change.seenAt = shown;
    lastRow_ = shown;
    return std::nullopt;
}

std::optional<TableHistory::Refused> TableHistory::removeInDatabase(const std::vector<Value>& expected)
{
    EditableRowset& rowset = model_->rowset();
    const RowNow now = rowset.readRowInDatabase(expected);
    if (std::optional<RowRefusal> why = notFound(now, rowset.findsByKey()))
        return Refused{-1, std::move(*why)};
    if (!SameValues(now.values, expected))
        return Refused{-1, changedSince(now.values)};
    lastRow_ = -1;
    std::vector<Value> none;
    if (std::optional<RowRefusal> why = model_->writeNotShown(RowWrite{RowWrite::Kind::Delete, {}, now.values, false}, none))
        return Refused{-1, std::move(*why)};
    return std::nullopt;
}

std::optional<TableHistory::Refused> TableHistory::insertInDatabase(std::vector<Value>& values)
{
    RowStatements::Values edits(values.begin(), values.end());
    std::vector<Value> stored;
    lastRow_ = -1;
    if (std::optional<RowRefusal> why = model_->writeNotShown(RowWrite{RowWrite::Kind::Insert, std::move(edits), {}, false}, stored))
        return Refused{-1, std::move(*why)};
    if (!stored.empty())
        values = std::move(stored);
    return std::nullopt;
}
