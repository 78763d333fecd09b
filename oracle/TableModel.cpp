#include "oracle/TableModel.h"

#include "oracle/ExactText.h"
#include "oracle/ValueCheck.h"
#include "oracle/WindowFind.h"
#include "oracle/WindowPlace.h"

#include <QLocale>
#include <QPointer>
#include <QScopeGuard>

#include <algorithm>
#include <climits>
#include <numeric>

namespace {

bool isNumeric(ColumnType t)
{
    return t == ColumnType::Integer || t == ColumnType::Decimal || t == ColumnType::Real;
}

bool showsSize(const ColumnInfo& c, ValueKind kind)
{
    return kind == ValueKind::Blob || c.type == ColumnType::Binary || c.type == ColumnType::LargeText;
}

int clampToInt(std::int64_t n) { return static_cast<int>(std::min<std::int64_t>(n, INT_MAX)); }

} // namespace

TableModel::TableModel(std::unique_ptr<EditableRowset> rowset, QObject* parent)
    : QAbstractTableModel(parent), rowset_(std::move(rowset))
{
    if (TableReader* reader = rowset_->readerSignals())
        connect(reader, &TableReader::arrived, this, &TableModel::takeArrivedRows);
    arrivalsWait_ = new QTimer(this);
    arrivalsWait_->setSingleShot(true);
    arrivalsWait_->setInterval(50);
    connect(arrivalsWait_, &QTimer::timeout, this, &TableModel::takeArrivedRows);
    // Rows waiting to go to the database go once the row typed is left
    // (after the grid is done with leaving it).
    connect(this, &TableModel::pendingRowChanged, this, [this](int row) {
        if (row < 0 && windowWanted_)
            QTimer::singleShot(0, this, &TableModel::keepRowsInDatabaseWhenFree);
    });
    // A read that passed the budget before the first rows were shown.
    if (!rowset_->reading()) {
        windowWanted_ = rowset_->readOverBudget().has_value() && rowset_->canKeepRowsInDatabase();
        keepRowsInDatabaseWhenFree();
    }
}

TableModel::~TableModel() = default;

// ---- reading -------------------------------------------------------------------

void TableModel::takeArrivedRows()
{
    if (!rowset_->reading())
        return;
    // A write in progress, or a new row being typed (it is the last row),
    // keeps the rows as they are until it is over.
    if (rowset_->writing() || rowset_->pendingIsNew()) {
        if (!arrivalsWait_->isActive())
            arrivalsWait_->start();
        return;
    }
    stopView(); // the rows read may change: a job reading them ends first
    const int before = rowCount();
    const std::int64_t added = rowset_->pump();
    const bool ended = !rowset_->reading();
    // A view in force shows only its rows; new ones wait for the next one.
    const int after = mapped_ ? before + (ended ? 1 : 0) : before + static_cast<int>(added) + (ended ? 1 : 0);
    if (after > before) {
        beginInsertRows({}, before, after - 1);
        endInsertRows();
    }
    emit readProgress(rowset_->rowCount());
    if (ended) {
        emit headerDataChanged(Qt::Vertical, 0, rowCount() - 1);
        // Past the memory budget the rows go to the database (where it can
        // find them again by a key), instead of the read just stopping.
        windowWanted_ = rowset_->readOverBudget().has_value() && rowset_->canKeepRowsInDatabase();
        keepRowsInDatabaseWhenFree();
        emit readEnded();
    }
}

void TableModel::keepRowsInDatabaseWhenFree()
{
    // What is typed stays with the rows read until it is written or taken back.
    if (!windowWanted_ || rowset_->pendingRow() >= 0)
        return;
    windowWanted_ = false;
    // The current row is found again once the database tells where it
    // stands (the grid names it while the signal is handled).
    followValues_.clear();
    emit rowsGoingToDatabase();
    // The sort and filters in force stay, now the database's.
    orderWindow(sort_, filters_);
}

void TableModel::watchWindow()
{
    connect(rowset_->window(), &WindowRows::countChanged, this, &TableModel::windowCounted);
    connect(rowset_->window(), &WindowRows::rowsArrived, this, [this](qint64 first, qint64 count) {
        // Positions to the slice's rows.
        const qint64 from = std::max<qint64>(first, base_) - base_;
        const qint64 last = std::min<qint64>(first + count, base_ + sliceRows_) - base_ - 1;
        if (last >= from)
            emit dataChanged(index(clampToInt(from), 0), index(clampToInt(last), columnCount() - 1));
    });
    connect(rowset_->window(), &WindowRows::failed, this, [this] {
        if (const std::optional<DbError>& failure = rowset_->window()->failure())
            emit writeNoted(QStringLiteral("The rows could not be read from the database: %1")
                                .arg(QString::fromStdString(failure->what())),
                            true);
        showWindowPlaceholder();
    });
}

void TableModel::followRow(int row)
{
    followValues_.clear();
    if (row < 0 || row >= viewRows())
        return;
    if (!rowset_->window())
        followValues_ = valuesRead(row);
    else if (std::optional<std::vector<Value>> shown = rowset_->window()->row(rowsetRow(row)))
        followValues_ = std::move(*shown);
}

void TableModel::startFollowing(const std::vector<Value>& values)
{
    const WindowRows& window = *rowset_->window();
    // Rows told apart by the engine's locator: the rows read did not hold it.
    if (window.order().readsLocator())
        return;
    std::vector<Value> place = window.order().placeOf(values);
    // The session is the job's alone: made here, handed over with the order.
    std::shared_ptr<Session> session = window.anotherSession();
    QPointer<TableModel> self(this);
    followJob_ = ViewJob::run([self, session, order = window.order(),
                               place = std::move(place)](const std::atomic<bool>& stop) {
        std::optional<std::int64_t> at;
        try {
            if (!stop.load())
                at = PositionInDatabase(*session, order, place);
        } catch (const DbError&) {
            // The grid stays where it is; the window tells its own failures.
        }
        return std::function<void()>([self, at] {
            if (!self)
                return;
            self->followJob_.reset();
            self->followedAt_ = at.value_or(-1);
            self->tellFollowed();
        });
    });
}

void TableModel::tellFollowed()
{
    if (!followedAt_)
        return;
    // Past the rows counted so far: told once the view's rows reach it.
    const std::int64_t at = *followedAt_;
    if (at >= windowRows_ && countingRows())
        return;
    followedAt_.reset();
    emit rowFollowed(at < windowRows_ ? at : -1);
}

namespace {

bool sameFilters(const TableModel::Filters& a, const TableModel::Filters& b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const auto& x, const auto& y) {
        return x.first == y.first && x.second.op() == y.second.op() && x.second.operand() == y.second.operand();
    });
}

} // namespace

void TableModel::orderWindow(SortOrder sort, Filters filters)
{
    std::vector<std::pair<int, bool>> terms;
    for (const SortKey& k : sort.keys())
        terms.emplace_back(k.column, k.descending);
    std::vector<KeyOrder::Filter> asked;
    for (const auto& [column, filter] : filters)
        if (!filter.empty())
            asked.push_back(KeyOrder::Filter{column, filter.op(), filter.operand()});
    lastFound_.reset();
    // A row followed into the old order is looked for in the new one.
    if (followJob_)
        followJob_->stop();
    followedAt_.reset();
    const std::vector<Value> followed = std::exchange(followValues_, {});
    const auto follow = qScopeGuard([this, &followed] {
        if (!followed.empty())
            startFollowing(followed);
    });
    // Only the order changes: the rows stay as many, and the view keeps its
    // rows (each place shows the row the new order puts there) while the
    // database counts them again. Starting over from none, or a change of
    // layout, would cost a table of a hundred million rows a second of the
    // view's time over its row headings.
    if (rowset_->window() && !countingRows() && windowRows_ > 0 && sameFilters(filters, filters_)) {
        holdingRows_ = true; // before the new order tells its first count
        // The placeholder stays too (it takes typing once the rows are
        // counted): a row less, then more, at the end would each cost a pass.
        rowset_->keepRowsInDatabase(terms, std::move(asked));
        sort_ = sort;
        filters_ = std::move(filters);
        showWindowRowsAgain();
        emit rowsRenumbered();
        emit countProgress(windowRows_);
        return;
    }
    holdingRows_ = false;
    const bool first = !rowset_->window();
    resetting_ = true;
    beginResetModel();
    rowset_->keepRowsInDatabase(terms, std::move(asked));
    // Watched at once: what the window tells may come while the row
    // followed waits for a session of its own (its wait shows the window).
    if (first)
        watchWindow();
    mapped_ = false;
    view_ = {};
    sort_ = sort;
    filters_ = std::move(filters);
    windowRows_ = rowset_->readRowCount();
    base_ = 0;
    sliceRows_ = std::min(windowRows_, sliceCap());
    tailShown_ = sliceAtEnd();
    windowPlaceholder_ = false;
    endResetModel();
    resetting_ = false;
    emit rowsRenumbered();
    emit countProgress(windowRows_);
}

void TableModel::windowCounted(bool moved)
{
    if (resetting_)
        return;
    rowset_->newRowFollowsWindow();
    const std::int64_t now = rowset_->readRowCount();
    if (moved)
        lastFound_.reset();
    if (holdingRows_ && countingRows()) {
        // Held in a new order: the rows counted so far can be read.
        if (const std::int64_t ready = std::min(now - base_, sliceRows_); ready > 0)
            emit dataChanged(index(0, 0), index(clampToInt(ready - 1), columnCount() - 1));
        tellFollowed();
        return;
    }
    holdingRows_ = false;
    // Below the cap the view's rows grow in steps that double while the
    // database counts: each step costs the view time in proportion to all
    // its rows. The line below the rows shows every count.
    constexpr std::int64_t kGrowFreely = 1 << 16;
    const bool step = now >= 2 * windowRows_ || now <= kGrowFreely || !countingRows() || sliceRows_ >= sliceCap();
    if (now < windowRows_ || step)
        fitSlice(now);
    // Positions moved (others' rows in a block read): show them anew. A
    // count that only grew leaves the rows shown as they are.
    if (moved)
        showWindowRowsAgain();
    showWindowPlaceholder();
    emit countProgress(windowRows_);
    tellFollowed();
}

void TableModel::fitSlice(std::int64_t count)
{
    if (count <= base_ && base_ > 0) {
        // The slice's first row is gone: it starts again before the end.
        beginResetModel();
        windowRows_ = count;
        base_ = std::max<std::int64_t>(count - sliceCap(), 0);
        sliceRows_ = count - base_;
        tailShown_ = true;
        endResetModel();
        return;
    }
    const bool atEnd = base_ + std::min(sliceRows_, count - base_) >= count;
    // A new row being typed stays in the view whatever the count does.
    if (!atEnd && !rowset_->pendingIsNew())
        showTail(false);
    const std::int64_t slice = std::max(std::min(sliceRows_, count - base_), std::min(count - base_, sliceCap()));
    if (slice > sliceRows_) {
        beginInsertRows({}, clampToInt(sliceRows_), clampToInt(slice - 1));
        sliceRows_ = slice;
        endInsertRows();
    } else if (slice < sliceRows_) {
        beginRemoveRows({}, clampToInt(slice), clampToInt(sliceRows_ - 1));
        sliceRows_ = slice;
        endRemoveRows();
    }
    windowRows_ = count;
    if (sliceAtEnd())
        showTail(true);
}

void TableModel::showTail(bool shown)
{
    if (tailShown_ == shown)
        return;
    // As many rows as the tail holds when shown.
    const bool was = std::exchange(tailShown_, true);
    const int rows = rowsAfterSlice();
    tailShown_ = was;
    const int first = clampToInt(sliceRows_);
    if (rows == 0) {
        tailShown_ = shown;
    } else if (shown) {
        beginInsertRows({}, first, first + rows - 1);
        tailShown_ = true;
        endInsertRows();
    } else {
        beginRemoveRows({}, first, first + rows - 1);
        tailShown_ = false;
        endRemoveRows();
    }
}

std::int64_t TableModel::allRows() const
{
    if (!rowset_->window())
        return rowCount();
    return windowRows_ + (rowset_->pendingIsNew() ? 1 : 0) + (!rowset_->reading() && windowPlaceholder_ ? 1 : 0);
}

int TableModel::rowsAfterSlice() const
{
    if (rowset_->window() && !tailShown_)
        return 0;
    return (rowset_->pendingIsNew() ? 1 : 0) + (placeholderShown() ? 1 : 0);
}

bool TableModel::setBase(std::int64_t base)
{
    if (!rowset_->window())
        return base == 0;
    base = std::clamp<std::int64_t>(base, 0, std::max<std::int64_t>(windowRows_ - sliceRows_, 0));
    if (base == base_)
        return true;
    if (rowset_->pendingRow() >= 0 || (sliceHold_ && sliceHold_()))
        return false;
    const bool atEnd = base + sliceRows_ >= windowRows_;
    if (!atEnd)
        showTail(false);
    // The same number of rows, each now another position's: the current
    // cell and the selection move with their rows, or go with them.
    emit layoutAboutToBeChanged({}, QAbstractItemModel::NoLayoutChangeHint);
    const std::int64_t shift = base_ - base;
    const QModelIndexList before = persistentIndexList();
    QModelIndexList after;
    after.reserve(before.size());
    for (const QModelIndex& i : before) {
        const std::int64_t row = i.row() + shift;
        after.push_back(row >= 0 && row < sliceRows_ ? createIndex(static_cast<int>(row), i.column()) : QModelIndex());
    }
    base_ = base;
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::NoLayoutChangeHint);
    // The row headings' numbers changed: their width is measured again.
    emit headerDataChanged(Qt::Vertical, 0, rowCount() - 1);
    if (atEnd)
        showTail(true);
    return true;
}

int TableModel::revealRow(std::int64_t at)
{
    if (!rowset_->window())
        return viewRow(at);
    if (at < 0 || at >= windowRows_)
        return -1;
    if (at < base_ || at >= base_ + sliceRows_)
        setBase(at - sliceRows_ / 2);
    return viewRow(at);
}

void TableModel::stopReading(bool waitForEnd)
{
    rowset_->stopReading();
    if (!waitForEnd)
        return;
    rowset_->waitForReadEnd();
    takeArrivedRows();
}

// ---- rows of the view ------------------------------------------------------------

std::int64_t TableModel::mappedRows() const
{
    if (rowset_->window())
        return windowRows_;
    return mapped_ ? static_cast<std::int64_t>(view_.size()) : rowset_->readRowCount();
}

qint64 TableModel::shownRows() const { return mappedRows() + (rowset_->pendingIsNew() ? 1 : 0); }

qint64 TableModel::totalRows() const { return rowset_->rowCount(); }

std::int64_t TableModel::rowsetRow(int row) const
{
    const std::int64_t mapped = viewRows();
    if (row < 0)
        return -1;
    if (row < mapped)
        return mapped_ ? view_[static_cast<std::size_t>(row)] : base_ + row;
    // After the rows read: the new row being typed, then the placeholder.
    return rowset_->readRowCount() + (row - mapped);
}

int TableModel::viewRow(std::int64_t at) const
{
    const std::int64_t read = rowset_->readRowCount();
    if (at < 0)
        return -1;
    if (rowset_->window()) {
        // The rows held, which a new order may still be counting; after
        // them the new row, numbered as the rowset numbers it.
        if (at < windowRows_)
            return at >= base_ && at < base_ + sliceRows_ ? clampToInt(at - base_) : -1;
        return tailShown_ && at >= read ? clampToInt(sliceRows_ + (at - read)) : -1;
    }
    if (at >= read)
        return clampToInt(mappedRows() + (at - read));
    if (!mapped_)
        return clampToInt(at);
    const auto it = std::find(view_.begin(), view_.end(), static_cast<std::int32_t>(at));
    return it == view_.end() ? -1 : static_cast<int>(it - view_.begin());
}

int TableModel::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid())
        return 0;
    return clampToInt(viewRows() + rowsAfterSlice());
}

bool TableModel::placeholderShown() const
{
    // Rows kept in the database take a new row below them once all are counted.
    return !rowset_->reading() && (!rowset_->window() || (windowPlaceholder_ && tailShown_));
}

void TableModel::showWindowPlaceholder()
{
    const bool wanted = rowset_->window() && rowset_->window()->takesNewRows();
    if (wanted == windowPlaceholder_)
        return;
    // Past the slice's end it comes with the rows after the slice.
    if (!tailShown_) {
        windowPlaceholder_ = wanted;
        return;
    }
    const int at = clampToInt(viewRows() + (rowset_->pendingIsNew() ? 1 : 0));
    if (wanted) {
        beginInsertRows({}, at, at);
        windowPlaceholder_ = true;
        endInsertRows();
    } else {
        beginRemoveRows({}, at, at);
        windowPlaceholder_ = false;
        endRemoveRows();
    }
}

int TableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : rowset_->columnCount();
}

bool TableModel::isNewRowPlaceholder(int row) const
{
    return placeholderShown() && row == viewRows() + (rowset_->pendingIsNew() ? 1 : 0);
}

std::vector<TableModel::SortKey> TableModel::SortOrder::keys() const
{
    std::vector<SortKey> all;
    if (column < 0)
        return all;
    all.push_back({column, descending});
    all.insert(all.end(), more.begin(), more.end());
    return all;
}

TableModel::SortOrder TableModel::SortOrder::by(const std::vector<SortKey>& keys)
{
    SortOrder order;
    for (const SortKey& key : keys) {
        if (key.column < 0)
            continue;
        if (order.column < 0) {
            order.column = key.column;
            order.descending = key.descending;
        } else {
            order.more.push_back(key);
        }
    }
    return order;
}

void TableModel::applyView(SortOrder sort, Filters filters)
{
    stopView();
    if (rowset_->window()) {
        orderWindow(sort, std::move(filters));
        return;
    }
    const bool mapped = sort.column >= 0 || !filters.empty();
    std::vector<std::int32_t> rows;
    if (mapped)
        rows = ViewJob::work(rowset_->snapshot(), rowset_->snapshot().rowCount(), {sort.keys(), filters}, nullptr);
    takeView(sort, std::move(filters), std::move(rows), mapped);
}

void TableModel::startView(SortOrder sort, Filters filters)
{
    // Replaced, not stopped: the view still comes, the new one.
    if (viewJob_) {
        viewJob_->stopAndWait();
        viewJob_.reset();
    }
    if (rowset_->window()) {
        orderWindow(sort, std::move(filters));
        emit viewEnded(ViewOutcome::Applied);
        return;
    }
    if (sort.column < 0 && filters.empty()) {
        takeView(sort, std::move(filters), {}, false);
        emit viewEnded(ViewOutcome::Applied);
        return;
    }
    ViewJob::Request request{sort.keys(), filters};
    sortWanted_ = sort;
    QPointer<TableModel> self(this);
    viewJob_ = ViewJob::start(rowset_->snapshot(), rowset_->snapshot().rowCount(), std::move(request),
                              [self, sort, filters = std::move(filters)](ViewJob::Result result) mutable {
                                  if (!self)
                                      return;
                                  self->viewJob_.reset();
                                  if (result.outOfMemory) {
                                      emit self->viewEnded(ViewOutcome::OutOfMemory);
                                      return;
                                  }
                                  self->takeView(sort, std::move(filters), std::move(result.rows), true);
                                  emit self->viewEnded(ViewOutcome::Applied);
                              });
}

void TableModel::startFind(const QModelIndex& from, const FindOptions& options, const QList<int>& columns)
{
    if (viewJob_) {
        viewJob_->stopAndWait();
        viewJob_.reset();
    }
    sortWanted_ = sort_;
    QPointer<TableModel> self(this);
    // The index is carried as a place: the model's rows do not change while the job runs.
    const int row = from.row();
    const int column = from.column();
    viewJob_ = ViewJob::run([this, self, row, column, options, columns](const std::atomic<bool>& stop) {
        std::optional<Found> found;
        try {
            found = find(index(row, column), options, columns, &stop);
        } catch (const std::bad_alloc&) {
            return std::function<void()>([self] {
                if (!self)
                    return;
                self->viewJob_.reset();
                emit self->viewEnded(ViewOutcome::OutOfMemory);
            });
        }
        const int foundRow = found ? found->index.row() : -1;
        const int foundColumn = found ? found->index.column() : -1;
        const bool wrapped = found && found->wrapped;
        return std::function<void()>([self, foundRow, foundColumn, wrapped] {
            if (!self)
                return;
            self->viewJob_.reset();
            std::optional<Found> result;
            if (foundRow >= 0)
                result = Found{self->index(foundRow, foundColumn), wrapped};
            emit self->viewEnded(ViewOutcome::Applied);
            emit self->findEnded(result);
        });
    });
}

void TableModel::stopView()
{
    if (!viewJob_)
        return;
    viewJob_->stopAndWait();
    viewJob_.reset();
    emit viewEnded(ViewOutcome::Stopped);
}

void TableModel::takeView(SortOrder sort, Filters filters, std::vector<std::int32_t> rows, bool mapped)
{
    beginResetModel();
    mapped_ = mapped;
    view_ = std::move(rows);
    view_.shrink_to_fit();
    sort_ = sort;
    filters_ = std::move(filters);
    endResetModel();
}

// ---- cells -----------------------------------------------------------------------

QVariant TableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= rowset_->columnCount())
        return {};
    const bool placeholder = isNewRowPlaceholder(index.row());
    const std::int64_t row = rowsetRow(index.row());
    const ColumnInfo& column = rowset_->columns()[static_cast<std::size_t>(index.column())];

    // A new row's cell not typed into: the insert leaves it to the database.
    const bool empty = holdsNothingYet(index.row(), index.column());
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole: {
        if (placeholder)
            return QString();
        if (empty && !newRowHint(index.column()).isEmpty())
            return QString();
        const EditableRowset::CellView cell = rowset_->cell(row, index.column());
        if (cell.missing)
            return QString(); // asked for: it shows when it comes
        if (cell.kind == ValueKind::Null)
            return role == Qt::DisplayRole ? QStringLiteral("(NULL)") : QString();
        if (showsSize(column, cell.kind)) {
            if (role == Qt::EditRole)
                return {};
            const auto size = static_cast<qint64>(cell.data.size());
            const QString bytes = size == 1 ? QStringLiteral("1 byte") : QStringLiteral("%1 bytes").arg(size);
            return cell.kind == ValueKind::Blob || column.type == ColumnType::Binary
                       ? QStringLiteral("(binary, %1)").arg(bytes)
                       : QStringLiteral("(text, %1)").arg(bytes);
        }
        return TextFromBytes(cell.data);
    }
    case NullRole: {
        if (placeholder || (empty && !newRowHint(index.column()).isEmpty()))
            return false;
        const EditableRowset::CellView cell = rowset_->cell(row, index.column());
        return !cell.missing && cell.kind == ValueKind::Null;
    }
    case HintRole:
        return empty ? newRowHint(index.column()) : QString();
    case Qt::AccessibleTextRole:
        // Read out as it is drawn: the hint where the cell holds nothing yet.
        if (empty && !newRowHint(index.column()).isEmpty())
            return newRowHint(index.column());
        return {};
    case PendingRole:
        return !placeholder && rowset_->cell(row, index.column()).edited;
    case PlaceholderRole:
        return placeholder;
    case WarningRole:
        return placeholder ? QString() : warning(row, index.column());
    case Qt::ToolTipRole:
        // A cell that cannot be edited says why.
        if (!rowset_->isEditable(row, index.column()))
            if (const std::optional<RowRefusal> why = rowset_->refusal(row, index.column()))
                return QString::fromStdString(why->text);
        if (!placeholder)
            if (const QString why = warning(row, index.column()); !why.isEmpty())
                return why;
        if (empty)
            return newRowTip(index.column());
        return {};
    case Qt::TextAlignmentRole:
        if (isNumeric(column.type))
            return QVariant::fromValue(Qt::Alignment(Qt::AlignRight | Qt::AlignVCenter));
        return {};
    default:
        return {};
    }
}

const ColumnDetails* TableModel::columnDetails(int column) const
{
    if (column < 0 || column >= rowset_->columnCount())
        return nullptr;
    const std::string& name = rowset_->columns()[static_cast<std::size_t>(column)].name;
    for (const ColumnDetails& d : rowset_->columnDetails())
        if (d.name == name)
            return &d;
    return nullptr;
}

QString TableModel::booleanText(bool value) const
{
    // PostgreSQL has a type of its own; elsewhere a boolean is a number.
    if (rowset_->dialectKind() == DialectKind::PostgreSQL)
        return value ? QStringLiteral("t") : QStringLiteral("f");
    return value ? QStringLiteral("1") : QStringLiteral("0");
}

// Only a value typed and not yet written is checked: what the database holds, it took.
QString TableModel::warning(std::int64_t row, int column) const
{
    const EditableRowset::CellView cell = rowset_->cell(row, column);
    if (!cell.edited || cell.kind == ValueKind::Null || cell.kind == ValueKind::Blob)
        return {};
    const std::optional<std::string> why =
        ValueWarning(rowset_->columns()[static_cast<std::size_t>(column)], columnDetails(column), cell.data);
    return why ? QString::fromStdString(*why) : QString();
}

QString TableModel::headingTip(int column) const
{
    const ColumnInfo& c = rowset_->columns()[static_cast<std::size_t>(column)];
    QStringList lines{QString::fromStdString(c.typeName)};
    const std::vector<int> key = rowset_->keyColumns();
    if (std::find(key.begin(), key.end(), column) != key.end())
        lines << (key.size() == 1 ? QStringLiteral("Primary key") : QStringLiteral("Part of the primary key"));
    for (const ColumnDetails& d : rowset_->columnDetails()) {
        if (d.name != c.name)
            continue;
        if (d.filledByDatabase)
            lines << QStringLiteral("Filled by the database when left empty");
        if (d.notNull)
            lines << QStringLiteral("NOT NULL");
        if (d.defaultText && !d.filledByDatabase)
            lines << QStringLiteral("Default: %1").arg(QString::fromStdString(*d.defaultText));
        if (!d.comment.empty())
            lines << QString::fromStdString(d.comment);
        break;
    }
    lines.removeAll(QString());
    return lines.join(QLatin1Char('\n'));
}

namespace {

const ColumnDetails* detailsOf(const std::vector<ColumnDetails>& details, const std::string& name)
{
    const auto d = std::find_if(details.begin(), details.end(), [&name](const ColumnDetails& x) { return x.name == name; });
    return d == details.end() ? nullptr : &*d;
}

} // namespace

bool TableModel::holdsNothingYet(int row, int column) const
{
    if (isNewRowPlaceholder(row))
        return true;
    const std::int64_t at = rowsetRow(row);
    return rowset_->pendingIsNew() && rowset_->isPending(at) && !rowset_->typedCell(at, column);
}

QString TableModel::newRowHint(int column) const
{
    const ColumnDetails* d =
        detailsOf(rowset_->columnDetails(), rowset_->columns()[static_cast<std::size_t>(column)].name);
    if (!d)
        return {};
    if (d->filledByDatabase)
        return QStringLiteral("(filled by the database)");
    if (d->defaultText)
        return QString::fromStdString(*d->defaultText);
    if (d->notNull)
        return QStringLiteral("(required)");
    return {};
}

QString TableModel::newRowTip(int column) const
{
    const ColumnDetails* d =
        detailsOf(rowset_->columnDetails(), rowset_->columns()[static_cast<std::size_t>(column)].name);
    if (!d)
        return {};
    if (d->filledByDatabase)
        return QStringLiteral("Left empty, the database fills it in");
    if (d->defaultText)
        return QStringLiteral("Left empty, the database stores its default: %1")
            .arg(QString::fromStdString(*d->defaultText));
    if (d->notNull)
        return QStringLiteral("Required: the column is NOT NULL and has no default");
    return {};
}

QVariant TableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal) {
        if (section < 0 || section >= rowset_->columnCount())
            return {};
        const ColumnInfo& c = rowset_->columns()[static_cast<std::size_t>(section)];
        if (role == Qt::DisplayRole)
            return QString::fromStdString(c.name);
        if (role == Qt::ToolTipRole)
            return headingTip(section);
        if (role == SortMarkRole || role == Qt::AccessibleTextRole) {
            const std::vector<SortKey> keys = sort_.keys();
            const auto in = std::find_if(keys.begin(), keys.end(), [section](const SortKey& k) { return k.column == section; });
            if (in == keys.end())
                return {};
            const auto place = static_cast<int>(in - keys.begin()) + 1;
            if (role == SortMarkRole)
                return keys.size() < 2 ? QString()
                                       : (in->descending ? QStringLiteral("\u25BC") : QStringLiteral("\u25B2"))
                                             + QString::number(place);
            // Read out with the name: the direction, and the place among several keys.
            QString said = QStringLiteral("%1, sorted %2").arg(QString::fromStdString(c.name),
                                                               in->descending ? QStringLiteral("descending")
                                                                              : QStringLiteral("ascending"));
            if (keys.size() > 1)
                said += QStringLiteral(", sort key %1 of %2").arg(place).arg(keys.size());
            return said;
        }
        return {};
    }
    if (section < 0 || section >= rowCount())
        return {};
    switch (role) {
    case Qt::DisplayRole:
        return isNewRowPlaceholder(section) ? QStringLiteral("*") : QString::number(rowNumber(section));
    case PendingRole:
        return isRowPending(section);
    case PlaceholderRole:
        return isNewRowPlaceholder(section);
    case Qt::ToolTipRole:
        if (isRowPending(section))
            return QStringLiteral("Not saved yet");
        if (isNewRowPlaceholder(section))
            return QStringLiteral("Type here to add a row");
        return {};
    default:
        return {};
    }
}

Qt::ItemFlags TableModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemNeverHasChildren;
    if (rowset_->isEditable(rowsetRow(index.row()), index.column()))
        f |= Qt::ItemIsEditable;
    return f;
}

// ---- typing ----------------------------------------------------------------------

bool TableModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    return role == Qt::EditRole && index.isValid() && !storeTyped(index, false, value.toString());
}

namespace {

RowRefusal noSuchCell() { return makeRefusal(RowRefusal::Why::NoSuchCell, "there is no such cell"); }

} // namespace

std::optional<RowRefusal> TableModel::store(const QModelIndex& index, const QString& text)
{
    if (!index.isValid())
        return noSuchCell();
    return storeTyped(index, false, text);
}

std::optional<RowRefusal> TableModel::setNull(const QModelIndex& index)
{
    if (!index.isValid())
        return noSuchCell();
    return storeTyped(index, true, {});
}

std::optional<RowRefusal> TableModel::refusal(const QModelIndex& index) const
{
    if (!index.isValid())
        return noSuchCell();
    return rowset_->refusal(rowsetRow(index.row()), index.column());
}

std::optional<RowRefusal> TableModel::storeValue(const QModelIndex& index, Value value)
{
    stopView(); // a find reads what is typed
    if (!index.isValid())
        return noSuchCell();
    const int row = index.row();
    const int before = pendingRow();
    const bool placeholder = isNewRowPlaceholder(row);
    if (placeholder) {
        if (value.isNull())
            return std::nullopt;
        if (std::optional<RowRefusal> why = rowset_->refusal(rowsetRow(row), index.column());
            why && rowset_->pendingRow() >= 0)
            return why;
        // Checked before the placeholder turns into a row: a refusal adds none.
        if (std::optional<RowRefusal> why = rowset_->valueRefusal(index.column(), value))
            return why;
        beginInsertRows({}, row + 1, row + 1);
    }
    const EditableRowset::EditResult result = rowset_->setExactValue(rowsetRow(row), index.column(), std::move(value));
    if (placeholder)
        endInsertRows();
    if (result.outcome == EditableRowset::EditOutcome::Refused)
        return result.refusal;
    emit dataChanged(this->index(row, 0), this->index(row, columnCount() - 1));
    if (before != pendingRow()) {
        emit headerDataChanged(Qt::Vertical, row, std::min(row + 1, rowCount() - 1));
        pendingChanged(before);
    }
    return std::nullopt;
}

void TableModel::takeCurrent(int row, const std::vector<Value>& current)
{
    stopView();
    const int before = pendingRow();
    rowset_->takeCurrent(rowsetRow(row), current);
    emit dataChanged(index(row, 0), index(row, columnCount() - 1));
    emit headerDataChanged(Qt::Vertical, row, row);
    pendingChanged(before);
}

std::optional<RowRefusal> TableModel::insertAgain(int row)
{
    stopView();
    const int before = pendingRow();
    if (std::optional<RowRefusal> refusal = rowset_->insertAgain(rowsetRow(row)))
        return refusal;
    passOnWriteNote();
    const std::int64_t at = rowsetRow(row);
    dropRow(row);
    emit rowLeft(at);
    pendingChanged(before);
    windowCounted(true); // counted where the order puts it
    // Taken back as a new row typed would be.
    emit rowWritten(std::max<std::int64_t>(windowRows_ - 1, 0), {}, {});
    return std::nullopt;
}

int TableModel::convertToNewRow(int row)
{
    stopView();
    const std::int64_t at = rowsetRow(row);
    if (at < 0 || at >= rowset_->snapshot().rowCount())
        return -1;
    // Rare enough for the view to start over: the row leaves its place and
    // shows again as the new row above the placeholder.
    beginResetModel();
    rowset_->convertToNewRow(at);
    if (mapped_) {
        view_.erase(view_.begin() + row);
        for (std::int32_t& r : view_)
            if (r > at)
                --r;
    }
    endResetModel();
    emit rowLeft(at);
    const int now = clampToInt(mappedRows());
    emit pendingRowChanged(now);
    return now;
}

std::optional<RowRefusal> TableModel::storeTyped(const QModelIndex& index, bool setNull, const QString& text)
{
    stopView(); // a find reads what is typed
    const int row = index.row();
    const std::int64_t at = rowsetRow(row);
    const int before = pendingRow();
    const std::string bytes = setNull ? std::string() : BytesFromText(text);
    const std::optional<std::string_view> value =
        setNull ? std::nullopt : std::optional<std::string_view>(bytes);

    if (isNewRowPlaceholder(row)) {
        if (!setNull && text.isEmpty())
            return std::nullopt; // an empty new row stays the placeholder
        if (std::optional<RowRefusal> why = rowset_->refusal(at, index.column()))
            return why;
        // Checked before the placeholder turns into a row: a refusal adds none.
        if (value)
            if (std::optional<RowRefusal> why =
                    rowset_->valueRefusal(index.column(), Value{ValueKind::Text, std::string(*value)}))
                return why;
        // The placeholder becomes the new row; a fresh placeholder goes below.
        beginInsertRows({}, row + 1, row + 1);
        rowset_->setValue(at, index.column(), value);
        endInsertRows();
        emit dataChanged(this->index(row, 0), this->index(row, columnCount() - 1));
        emit headerDataChanged(Qt::Vertical, row, row + 1);
        pendingChanged(before);
        return std::nullopt;
    }

    const EditableRowset::EditResult result = rowset_->setValue(at, index.column(), value);
    switch (result.outcome) {
    case EditableRowset::EditOutcome::Refused:
        return result.refusal;
    case EditableRowset::EditOutcome::Unchanged:
        return std::nullopt;
    case EditableRowset::EditOutcome::Changed:
    case EditableRowset::EditOutcome::StartedNewRow:
        break;
    }
    emit dataChanged(index, index);
    if (before != pendingRow()) {
        emit headerDataChanged(Qt::Vertical, row, row);
        pendingChanged(before);
    }
    return std::nullopt;
}

void TableModel::pendingChanged(int before)
{
    const int now = pendingRow();
    if (now != before)
        emit pendingRowChanged(now);
}

std::vector<Value> TableModel::valuesRead(int row) const
{
    const std::int64_t at = rowsetRow(row);
    if (at < 0 || at >= rowset_->readRowCount())
        return {};
    return rowset_->rowRead(at);
}

int TableModel::rowWithKey(const std::vector<Value>& key) const
{
    const std::vector<int> columns = rowset_->keyColumns();
    if (columns.empty() || columns.size() != key.size())
        return -1;
    const Snapshot& snapshot = rowset_->snapshot();
    for (std::int64_t r = 0; r < snapshot.rowCount(); ++r) {
        bool same = true;
        for (std::size_t k = 0; k < columns.size() && same; ++k)
            same = SameValue(snapshot.kind(r, columns[k]), snapshot.value(r, columns[k]), key[k].kind, key[k].bytes);
        if (same)
            return viewRow(r);
    }
    return -1;
}

bool TableModel::isRowPending(int row) const { return rowset_->isPending(rowsetRow(row)); }

int TableModel::pendingRow() const
{
    const std::int64_t pending = rowset_->pendingRow();
    return pending < 0 ? -1 : viewRow(pending);
}

// ---- writing -----------------------------------------------------------------------

std::optional<RowRefusal> TableModel::submitRow(int row)
{
    const std::int64_t at = rowsetRow(row);
    if (!rowset_->isPending(at))
        return std::nullopt;
    stopView();
    const bool wasNew = rowset_->pendingIsNew();
    std::vector<int> typed;
    for (int c = 0; c < columnCount(); ++c)
        if (rowset_->typedCell(at, c))
            typed.push_back(c);
    const std::vector<Value> before = wasNew ? std::vector<Value>{} : rowset_->rowRead(at);
    if (std::optional<RowRefusal> refusal = rowset_->writeRow(at))
        return refusal;
    passOnWriteNote();
    if (wasNew && rowset_->window()) {
        newRowInDatabase(row, typed);
        return std::nullopt;
    }
    emit rowWritten(wasNew ? rowset_->snapshot().rowCount() - 1 : at, before, typed);
    // A row added under a view stays at the bottom, where it was typed.
    if (wasNew && mapped_)
        view_.push_back(static_cast<std::int32_t>(rowset_->snapshot().rowCount() - 1));
    // What the database stored may differ from what was typed anywhere in the row.
    emit dataChanged(index(row, 0), index(row, columnCount() - 1));
    emit headerDataChanged(Qt::Vertical, row, row);
    emit pendingRowChanged(-1);
    return std::nullopt;
}

void TableModel::newRowInDatabase(int row, const std::vector<int>& typed)
{
    // The row typed below the rows is one of them now (the count says so),
    // where the order puts it: often right there, with a key that grows.
    const bool shown = rowset_->insertedShown();
    const bool joins = shown && sliceAtEnd();
    // Counted as the slice's last row for now: the view still has it.
    ++windowRows_;
    ++sliceRows_;
    emit rowWritten(windowRows_ - 1, {}, typed);
    if (!joins) {
        // Left out by the order, or past a slice that no longer reaches the
        // last rows (others' rows were counted while it was typed).
        beginRemoveRows({}, row, row);
        --sliceRows_;
        if (!shown)
            --windowRows_;
        endRemoveRows();
    }
    if (!shown)
        emit writeNoted(rowset_->window()->order().keyed()
                            ? QStringLiteral("The new row was saved. The filter leaves it out, so it is not shown.")
                            : QStringLiteral("The new row was saved. It shows where the order puts it once those "
                                             "rows are read again."),
                        false);
    windowCounted(true);
    emit pendingRowChanged(-1);
}

std::optional<RowRefusal> TableModel::writeNotShown(RowWrite write, std::vector<Value>& stored)
{
    stopView(); // a find reads the rows
    WriteResult out = rowset_->writeInDatabase(std::move(write));
    if (out.refusal)
        return std::move(out.refusal);
    stored = std::move(out.stored);
    passOnWriteNote();
    windowCounted(true); // a row come or gone moves the count
    return std::nullopt;
}

void TableModel::showWindowRowsAgain()
{
    if (sliceRows_ > 0)
        emit dataChanged(index(0, 0), index(clampToInt(sliceRows_ - 1), columnCount() - 1));
}

void TableModel::passOnWriteNote()
{
    if (std::optional<WriteNote> note = rowset_->takeWriteNote())
        emit writeNoted(QString::fromStdString(note->text), note->tellNow);
}

void TableModel::revertRow(int row)
{
    stopView(); // a find reads what is typed
    const std::int64_t at = rowsetRow(row);
    if (!rowset_->isPending(at))
        return;
    if (rowset_->pendingIsNew()) {
        // The new row turns back into the placeholder; the one below goes.
        beginRemoveRows({}, row + 1, row + 1);
        rowset_->revertRow(at);
        endRemoveRows();
    } else {
        rowset_->revertRow(at);
    }
    emit dataChanged(index(row, 0), index(row, columnCount() - 1));
    emit headerDataChanged(Qt::Vertical, row, row);
    emit pendingRowChanged(-1);
}

void TableModel::forgetRow(int row)
{
    stopView();
    if (row < 0 || row >= rowCount() || isNewRowPlaceholder(row))
        return;
    const int before = pendingRow();
    if (rowset_->pendingIsNew() && row == before) {
        revertRow(row);
        return;
    }
    const std::int64_t at = rowsetRow(row);
    dropRow(row);
    // The rows below move up one: the history must follow them, or an undo
    // would write into the row that took this one's place.
    emit rowLeft(at);
    pendingChanged(before);
}

void TableModel::dropRow(int row)
{
    const std::int64_t at = rowsetRow(row);
    beginRemoveRows({}, row, row);
    rowset_->forgetRow(at);
    // One row fewer in the view, whatever the count it follows has reached.
    if (rowset_->window()) {
        --windowRows_;
        --sliceRows_;
    }
    if (mapped_) {
        // The rowset's rows after it move up one.
        view_.erase(view_.begin() + row);
        for (std::int32_t& r : view_)
            if (r > at)
                --r;
    }
    endRemoveRows();
}

std::vector<TableModel::RowRefused> TableModel::deleteRows(QList<int> rows)
{
    stopView();
    std::sort(rows.begin(), rows.end(), std::greater<int>());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    const int before = pendingRow();
    std::vector<RowRefused> failures;
    std::vector<std::pair<std::int64_t, std::vector<Value>>> deleted;
    for (int row : rows) {
        if (row < 0 || row >= rowCount() || isNewRowPlaceholder(row))
            continue;
        if (rowset_->pendingIsNew() && row == pendingRow()) {
            revertRow(row);
            continue;
        }
        const std::int64_t at = rowsetRow(row);
        if (std::optional<RowRefusal> refusal = rowset_->deleteFromDatabase(at)) {
            // From the last row up: the first in the list is the topmost.
            failures.insert(failures.begin(), RowRefused{row, std::move(*refusal)});
            continue;
        }
        passOnWriteNote();
        deleted.emplace_back(at, rowset_->rowRead(at));
        dropRow(row);
    }
    if (!deleted.empty())
        emit rowsDeleted(deleted);
    pendingChanged(before);
    return failures;
}

// ---- finding -----------------------------------------------------------------------

namespace {

// Whether a cell's text is the one looked for, by the find options.
class CellMatcher {
public:
    explicit CellMatcher(const TableModel::FindOptions& options)
        : options_(options), needle_(options.text.toUtf8()),
          ascii_(std::all_of(needle_.begin(), needle_.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
    {
    }

    bool operator()(std::string_view text) const
    {
        const std::string_view wanted(needle_.constData(), static_cast<std::size_t>(needle_.size()));
        if (options_.matchCase)
            return options_.wholeCell ? text == wanted : text.find(wanted) != std::string_view::npos;
        if (options_.wholeCell) {
            if (ascii_)
                return text.size() == wanted.size() && ContainsIgnoringCase(text, wanted);
            return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()))
                       .compare(options_.text, Qt::CaseInsensitive)
                   == 0;
        }
        return ContainsIgnoringCase(text, wanted);
    }

    // Whether a match may lie among these bytes: a value holding the text
    // holds it among them. Where case is folded beyond ASCII, any may.
    bool mayHold(std::string_view bytes) const
    {
        const std::string_view wanted(needle_.constData(), static_cast<std::size_t>(needle_.size()));
        if (options_.matchCase)
            return bytes.find(wanted) != std::string_view::npos;
        return !ascii_ || ContainsIgnoringCase(bytes, wanted);
    }

private:
    const TableModel::FindOptions& options_;
    QByteArray needle_;
    bool ascii_;
};

// As among rows in memory: NULL and values shown as their size never match.
std::function<bool(int, ValueKind, std::string_view)> cellMatches(const std::vector<ColumnInfo>& columns,
                                                                  const TableModel::FindOptions& options)
{
    return [options, columns](int column, ValueKind kind, std::string_view value) {
        return kind != ValueKind::Null && !showsSize(columns[static_cast<std::size_t>(column)], kind)
               && CellMatcher(options)(value);
    };
}

} // namespace

std::optional<std::vector<TableModel::Match>> TableModel::matchesInDatabase(const FindOptions& options,
                                                                          const QList<int>& columns,
                                                                          std::size_t memory) const
{
    WindowRows& window = *rowset_->window();
    WindowFindRequest request{window.order(), std::nullopt, {}, {}, 0, false, options.text.toStdString(), {}};
    request.columns.assign(columns.begin(), columns.end());
    request.matches = cellMatches(rowset_->columns(), options);
    // The session is the worker's alone while it reads; the matches come back with the call.
    std::shared_ptr<Session> session = window.anotherSession();
    return RunBlocking([session, request = std::move(request), memory](const StopToken& stop) {
        std::optional<std::vector<Match>> found(std::in_place);
        std::size_t taken = 0;
        const bool all = EachMatchInDatabase(
            *session, request,
            [&](std::vector<Value> values, std::vector<int> matched) {
                taken += sizeof(Match) + matched.size() * sizeof(int);
                for (const Value& v : values)
                    taken += sizeof(Value) + v.bytes.size();
                if (taken > memory)
                    return false;
                found->push_back(Match{std::move(values), std::move(matched)});
                return true;
            },
            stop);
        if (!all)
            found.reset();
        return found;
    });
}

std::optional<RowRefusal> TableModel::typeNotShown(const std::vector<Value>& row,
                                                  const std::vector<std::pair<int, std::string>>& texts)
{
    RowStatements::Values edits;
    if (std::optional<RowRefusal> why = rowset_->typedEdits(row, texts, edits))
        return why;
    std::vector<int> typed;
    for (std::size_t c = 0; c < edits.size(); ++c)
        if (edits[c])
            typed.push_back(static_cast<int>(c));
    if (typed.empty())
        return std::nullopt;
    std::vector<Value> stored;
    if (std::optional<RowRefusal> why = writeNotShown(RowWrite{RowWrite::Kind::Update, std::move(edits), row, false}, stored))
        return why;
    emit rowWrittenNotShown(row, stored, typed);
    return std::nullopt;
}

bool TableModel::startFindInDatabase(const QModelIndex& from, const FindOptions& options, const QList<int>& columns)
{
    WindowRows& window = *rowset_->window();
    WindowFindRequest request{window.order(), std::nullopt, {}, {}, 0, options.backwards, options.text.toStdString(), {}};
    if (from.isValid()) {
        const std::int64_t at = rowsetRow(from.row());
        request.place = window.placeAt(at);
        if (const std::optional<std::vector<Value>> values = window.row(at))
            request.current = *values;
        // The last match, its block perhaps not here yet.
        if (!request.place && lastFound_ && lastFound_->position == at) {
            request.place = lastFound_->place;
            request.current = lastFound_->values;
        }
        if (!request.place)
            return false;
        request.currentColumn = static_cast<int>(std::max<qsizetype>(columns.indexOf(from.column()), 0));
    }
    if (viewJob_) {
        viewJob_->stopAndWait();
        viewJob_.reset();
    }
    request.columns.assign(columns.begin(), columns.end());
    request.matches = cellMatches(rowset_->columns(), options);
    // The session is the job's alone: made here, handed over with the request.
    std::shared_ptr<Session> session = window.anotherSession();
    QPointer<TableModel> self(this);
    viewJob_ = ViewJob::run([self, session, request = std::move(request)](const std::atomic<bool>& stop) {
        std::optional<WindowFound> found;
        QString failure;
        try {
            found = FindInDatabase(*session, request, stop);
        } catch (const DbError& e) {
            failure = QString::fromStdString(e.what());
        }
        return std::function<void()>([self, found, failure] {
            if (!self)
                return;
            self->viewJob_.reset();
            std::optional<Found> result;
            self->lastFound_.reset();
            if (found && found->position < self->windowRows_) {
                self->lastFound_ = LastFound{found->position, found->place, found->values};
                if (const int row = self->revealRow(found->position); row >= 0)
                    result = Found{self->index(row, found->column), found->wrapped};
                else
                    emit self->writeNoted(QStringLiteral("The next match is far from the row being typed into: "
                                                         "leave that row (or press Esc) first."),
                                          true);
            }
            emit self->viewEnded(ViewOutcome::Applied);
            if (!failure.isEmpty())
                emit self->writeNoted(QStringLiteral("The rows could not be searched in the database: %1").arg(failure),
                                      true);
            emit self->findEnded(result);
        });
    });
    return true;
}

bool TableModel::matchesCell(std::int64_t rowsetRow, int column, const FindOptions& options,
                             const QByteArray& needle) const
{
    (void)needle;
    const ColumnInfo& info = rowset_->columns()[static_cast<std::size_t>(column)];
    const EditableRowset::CellView cell = rowset_->cell(rowsetRow, column);
    if (cell.kind == ValueKind::Null || showsSize(info, cell.kind))
        return false;
    return CellMatcher(options)(cell.data);
}

bool TableModel::matches(const QModelIndex& index, const FindOptions& options) const
{
    if (!index.isValid() || isNewRowPlaceholder(index.row()) || options.text.isEmpty())
        return false;
    return matchesCell(rowsetRow(index.row()), index.column(), options, {});
}

std::optional<TableModel::Found> TableModel::find(const QModelIndex& from, const FindOptions& options,
                                                  const QList<int>& columns, const std::atomic<bool>* stop) const
{
    StopCheck check(stop);
    const int rows = clampToInt(shownRows());
    if (options.text.isEmpty() || columns.isEmpty() || rows == 0)
        return std::nullopt;
    const auto width = static_cast<std::int64_t>(columns.size());
    const std::int64_t cells = static_cast<std::int64_t>(rows) * width;
    // Where to start: the cell after (or before) `from`, in the order shown.
    std::int64_t at = options.backwards ? cells : -1;
    if (from.isValid() && from.row() < rows)
        at = static_cast<std::int64_t>(from.row()) * width + std::max<qsizetype>(columns.indexOf(from.column()), 0);

    // Forward over rows read in the table's order, nothing typed pending:
    // each column is searched down its own storage, up to the best match
    // found in an earlier column.
    const Snapshot& snapshot = rowset_->snapshot();
    if (!options.backwards && !mapped_ && rowset_->pendingRow() < 0) {
        const CellMatcher matches(options);
        const std::int64_t readRows = std::min<std::int64_t>(rows, snapshot.rowCount());
        const auto search = [&](std::int64_t firstCell, std::int64_t endCell) -> std::int64_t {
            std::int64_t best = endCell; // the cell number of the best match so far
            const std::int64_t firstRow = firstCell / width;
            for (std::int64_t p = 0; p < width; ++p) {
                const int column = columns[static_cast<qsizetype>(p)];
                const ColumnInfo& info = rowset_->columns()[static_cast<std::size_t>(column)];
                std::int64_t start = firstRow + (firstRow * width + p < firstCell ? 1 : 0);
                const std::int64_t end = std::min(readRows, best / width + 1);
                const std::int64_t row = snapshot.scanColumn(
                    column, start, end,
                    [&](std::int64_t, ValueKind kind, std::string_view v) {
                        check();
                        return kind != ValueKind::Null && !showsSize(info, kind) && matches(v);
                    },
                    [&](std::string_view bytes) {
                        check();
                        return matches.mayHold(bytes);
                    });
                if (row >= 0 && row * width + p < best && row * width + p >= firstCell)
                    best = row * width + p;
            }
            return best < endCell ? best : -1;
        };
        const std::int64_t readCells = readRows * width;
        std::int64_t found = search(at + 1, readCells);
        bool wrapped = false;
        if (found < 0) {
            found = search(0, std::min(at + 1, readCells));
            wrapped = true;
        }
        if (found >= 0)
            return Found{index(static_cast<int>(found / width), columns[static_cast<qsizetype>(found % width)]),
                         wrapped};
        return std::nullopt;
    }

    const QByteArray needle = options.text.toUtf8();
    const int step = options.backwards ? -1 : 1;
    for (std::int64_t k = 1; k <= cells; ++k) {
        check();
        std::int64_t cell = at + step * k;
        const bool wrapped = cell < 0 || cell >= cells;
        cell = ((cell % cells) + cells) % cells;
        const int row = static_cast<int>(cell / width);
        const int column = columns[static_cast<qsizetype>(cell % width)];
        if (matchesCell(rowsetRow(row), column, options, needle))
            return Found{index(row, column), wrapped};
    }
    return std::nullopt;
}
