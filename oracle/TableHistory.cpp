#include "oracle/TableHistory.h"

#include "oracle/EditableRowset.h"
#include "oracle/TableModel.h"

#include <QScopeGuard>

#include <algorithm>

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
    connect(model, &TableModel::rowLeft, this, [this](qint64 row) { history_.rowRemoved(row); });
    // Steps find their rows by number: numbered anew, none can be found.
    connect(model, &TableModel::rowsRenumbered, this, [this] { history_.clear(); });
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
    // Rows kept in the database move when others' rows come and go: a step
    // could not be sure to find its row again, so none is kept.
    if (model_->rowsInDatabase())
        return;
    const Snapshot& snapshot = model_->rowset().snapshot();
    if (before.empty()) {
        history_.recordInsert(row, snapshot.row(row));
        return;
    }
    // The columns typed that the write changed: a trigger's own changes are
    // the trigger's to make again.
    std::vector<int> columns;
    std::vector<Value> was, now;
    for (int c : typedColumns) {
        const Value& old = before[static_cast<std::size_t>(c)];
        if (SameValue(old.kind, old.bytes, snapshot.kind(row, c), snapshot.value(row, c)))
            continue;
        columns.push_back(c);
        was.push_back(old);
        now.push_back(Value{snapshot.kind(row, c), std::string(snapshot.value(row, c))});
    }
    if (columns.empty()) {
        history_.endTyping();
        return;
    }
    history_.recordUpdate(row, std::move(columns), std::move(was), std::move(now));
}

void TableHistory::rowsDeleted(const std::vector<std::pair<std::int64_t, std::vector<Value>>>& rows)
{
    if (model_->rowsInDatabase())
        return;
    if (!replaying_) {
        history_.recordDeletes(rows);
        return;
    }
    for (const auto& deleted : rows)
        history_.rowRemoved(deleted.first);
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

QString TableHistory::rowName(EditHistory::RowId id) const
{
    const int shown = model_->viewRow(history_.rowOf(id));
    return shown >= 0 ? QStringLiteral("Row %1").arg(shown + 1) : QStringLiteral("a Row Not Shown");
}

QString TableHistory::stepName(const EditHistory::Step& step) const
{
    const auto n = static_cast<int>(step.changes.size());
    const EditHistory::RowChange& first = step.changes.front();
    switch (step.action) {
    case EditHistory::Action::Edit:
        if (first.kind == EditHistory::RowChange::Kind::Insert)
            return history_.rowOf(first.row) >= 0 ? QStringLiteral("New %1").arg(rowName(first.row))
                                                  : QStringLiteral("New Row");
        return QStringLiteral("Change to %1").arg(rowName(first.row));
    case EditHistory::Action::Paste:
        return n == 1 ? QStringLiteral("Paste into %1").arg(rowName(first.row)) : QStringLiteral("Paste of %1 Rows").arg(n);
    case EditHistory::Action::ReplaceAll:
        return n == 1 ? QStringLiteral("Replace All in %1").arg(rowName(first.row))
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
        return QStringLiteral("Typing in Row %1").arg(model_->viewRow(history_.typingRow()) + 1);
    const EditHistory::Step* step = history_.nextUndo();
    return step ? stepName(*step) : QString();
}

QString TableHistory::redoName() const
{
    if (redoIsTyping())
        return QStringLiteral("Typing in Row %1").arg(model_->viewRow(history_.typingRow()) + 1);
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
    if (row < rowset.snapshot().rowCount()) {
        // A cell not typed goes back to its value read.
        for (int c = 0; c < rowset.columnCount(); ++c) {
            const auto& want = target[static_cast<std::size_t>(c)];
            Value value = want ? *want : Value{rowset.snapshot().kind(row, c), std::string(rowset.snapshot().value(row, c))};
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
    if (now.size() != expected.size()
        || !std::equal(now.begin(), now.end(), expected.begin(), [](const Value& a, const Value& b) { return SameValue(a, b); }))
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
