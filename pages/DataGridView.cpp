// The view side of the grid: sorting by a heading, the filter row, the find
// bar and reading the table again (refresh). The rows themselves and their
// writes are in DataGrid.cpp.

#include "pages/DataGrid.h"

#include "oracle/DbError.h"
#include "oracle/Oracle.h"
#include "oracle/TableModel.h"
#include "pages/GridClipboard.h"
#include "pages/GridFilterRow.h"
#include "pages/GridFindBar.h"
#include "pages/GridLayout.h"
#include "pages/GridStatusLine.h"
#include "pages/Messages.h"
#include "shell/Page.h"

#include <QAction>
#include <QApplication>
#include <QScopedValueRollback>
#include <QGuiApplication>
#include <QHeaderView>
#include <QInputDialog>
#include <QLineEdit>
#include <QMenu>
#include <QScopeGuard>

#include <algorithm>
#include <climits>

namespace {

// The hourglass while the view changes: a million rows take a moment.
auto busyPointer()
{
    QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
    return qScopeGuard([] { QGuiApplication::restoreOverrideCursor(); });
}

} // namespace

void DataGrid::addViewActions()
{
    const auto make = [this](const QString& text, const QKeySequence& keys, auto slot) {
        auto* action = new QAction(text, this);
        if (!keys.isEmpty())
            action->setShortcut(keys);
        // Also while the focus is in the find bar or the filter row.
        action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        connect(action, &QAction::triggered, this, slot);
        addAction(action);
        return action;
    };
    findAction_ = make(QStringLiteral("Find\u2026"), QKeySequence(Qt::CTRL | Qt::Key_F), [this] { openFind(); });
    findNextAction_ = make(QStringLiteral("Find Next"), QKeySequence(Qt::Key_F3), [this] { findNext(false); });
    findPreviousAction_ =
        make(QStringLiteral("Find Previous"), QKeySequence(Qt::SHIFT | Qt::Key_F3), [this] { findNext(true); });
    filterAction_ =
        make(QStringLiteral("Filter\u2026"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F), [this] { toggleFilterRow(); });
    refreshAction_ = make(QStringLiteral("Refresh"), QKeySequence(Qt::Key_F5), [this] { refresh(); });
    sortAscendingAction_ = make(QStringLiteral("Sort Ascending"), {}, [this] { sortBy(currentIndex().column(), false); });
    sortDescendingAction_ = make(QStringLiteral("Sort Descending"), {}, [this] { sortBy(currentIndex().column(), true); });
    tableOrderAction_ = make(QStringLiteral("Table Order"), {}, [this] { sortBy(-1, false); });
    goToRowAction_ = make(QStringLiteral("Go to Row\u2026"), QKeySequence(Qt::CTRL | Qt::Key_G), [this] { goToRow(); });
    filterByValueAction_ =
        make(QStringLiteral("Filter by This Value"), {}, [this] { filterByCurrentValue(false); });
    excludeValueAction_ = make(QStringLiteral("Exclude This Value"), {}, [this] { filterByCurrentValue(true); });
    exportAction_ = make(QStringLiteral("Export Rows\u2026"), {}, [this] { exportRows(); });
    importAction_ = make(QStringLiteral("Import Rows\u2026"), {}, [this] { clipboard_->Import(); });
    exportSelectionAction_ = make(QStringLiteral("Export Selection\u2026"), {}, [this] { exportSelection(); });
    addSortAscendingAction_ =
        make(QStringLiteral("Add to Sort, Ascending"), {}, [this] { addToSort(currentIndex().column(), false); });
    addSortDescendingAction_ =
        make(QStringLiteral("Add to Sort, Descending"), {}, [this] { addToSort(currentIndex().column(), true); });

    QHeaderView* header = horizontalHeader();
    header->setSectionsClickable(true);
    header->setSortIndicatorShown(false);
    header->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(header, &QHeaderView::sectionClicked, this, &DataGrid::headerClicked);
    connect(header, &QHeaderView::customContextMenuRequested, this, &DataGrid::headerMenu);
    connect(header, &QHeaderView::sectionResized, filterRow_, &GridFilterRow::followHeader);
    connect(header, &QHeaderView::sectionMoved, filterRow_, &GridFilterRow::followHeader);
    connect(header, &QHeaderView::geometriesChanged, filterRow_, &GridFilterRow::followHeader);

    filterTimer_ = new QTimer(this);
    filterTimer_->setSingleShot(true);
    filterTimer_->setInterval(250);
    connect(filterTimer_, &QTimer::timeout, this, &DataGrid::applyFilters);
    connect(filterRow_, &GridFilterRow::changed, filterTimer_, qOverload<>(&QTimer::start));

    connect(findBar_, &GridFindBar::findNext, this, [this] { findNext(false); });
    connect(findBar_, &GridFindBar::findPrevious, this, [this] { findNext(true); });
    connect(findBar_, &GridFindBar::closed, this, [this] {
        layoutBars();
        setFocus();
    });
}

bool DataGrid::readyForViewChange()
{
    if (!model_)
        return false;
    commitOpenEditor();
    if (model_->pendingRow() < 0)
        return true;
    return finishEditing();
}

// ---- sorting ---------------------------------------------------------------------------

void DataGrid::headerClicked(int column)
{
    if (!model_)
        return;
    // Shift adds the column to the sort (or turns its direction).
    if (QGuiApplication::keyboardModifiers() & Qt::ShiftModifier) {
        const std::vector<TableModel::SortKey> keys = model_->sortWanted().keys();
        const auto in = std::find_if(keys.begin(), keys.end(), [column](const auto& k) { return k.column == column; });
        addToSort(column, in != keys.end() ? in->descending : false);
        return;
    }
    // Ascending, then descending, then back to the table's order.
    const TableModel::SortOrder now = model_->sortWanted();
    if (now.column != column || !now.more.empty())
        sortBy(column, false);
    else if (!now.descending)
        sortBy(column, true);
    else
        sortBy(-1, false);
}

void DataGrid::headerMenu(const QPoint& at)
{
    showHeaderMenu(horizontalHeader()->logicalIndexAt(at), horizontalHeader()->mapToGlobal(at));
}

void DataGrid::showHeaderMenu(int column, const QPoint& globalAt)
{
    if (!model_ || column < 0)
        return;
    QMenu menu(this);
    menu.addAction(QStringLiteral("Sort Ascending"), this, [this, column] { sortBy(column, false); });
    menu.addAction(QStringLiteral("Sort Descending"), this, [this, column] { sortBy(column, true); });
    menu.addAction(QStringLiteral("Table Order"), this, [this] { sortBy(-1, false); });
    menu.addSeparator();
    menu.addAction(QStringLiteral("Filter\u2026"), this, [this, column] {
        if (filterRow_->isHidden())
            toggleFilterRow();
        filterRow_->focusColumn(column);
    });
    menu.addSeparator();
    menu.addAction(QStringLiteral("Add to Sort, Ascending"), this, [this, column] { addToSort(column, false); });
    menu.addAction(QStringLiteral("Add to Sort, Descending"), this, [this, column] { addToSort(column, true); });
    layout_->addMenuActions(menu, column);
    menu.exec(globalAt);
}

void DataGrid::sortBy(int column, bool descending)
{
    TableModel::SortOrder order;
    order.column = column;
    order.descending = descending;
    sortByOrder(order);
}

void DataGrid::addToSort(int column, bool descending)
{
    if (!model_ || column < 0 || column >= model_->columnCount())
        return;
    std::vector<TableModel::SortKey> keys = model_->sortWanted().keys();
    const auto in = std::find_if(keys.begin(), keys.end(), [column](const auto& k) { return k.column == column; });
    if (in != keys.end())
        in->descending = !in->descending;
    else
        keys.push_back({column, descending});
    sortByOrder(TableModel::SortOrder::by(keys));
}

void DataGrid::sortByOrder(const TableModel::SortOrder& order)
{
    if (!model_ || order.column >= model_->columnCount())
        return;
    for (const TableModel::SortKey& key : order.more)
        if (key.column < 0 || key.column >= model_->columnCount())
            return;
    if (model_->reading()) {
        // Sorting works on the rows read: it waits for the rest.
        carried_ = std::make_unique<Carried>();
        carried_->sort = order;
        carried_->filters = filterRow_->texts();
        carried_->filterRowShown = !filterRow_->isHidden();
        viewWaiting_ = true;
        statusLine_->showNote(QStringLiteral("The rows are sorted once they are all read (or after Stop)."));
        return;
    }
    if (!readyForViewChange())
        return;
    applyView(order);
}

// ---- filtering -------------------------------------------------------------------------

void DataGrid::showFilterRow()
{
    if (!filterRow_->isHidden())
        return;
    filterRow_->show();
    layoutBars();
    filterRow_->followHeader();
}

void DataGrid::toggleFilterRow()
{
    if (!model_)
        return;
    if (filterRow_->isHidden()) {
        showFilterRow();
        filterRow_->focusColumn(currentIndex().column());
        return;
    }
    filterRow_->clear();
    filterRow_->hide();
    layoutBars();
    setFocus();
    applyFilters();
}

void DataGrid::applyFilters()
{
    filterTimer_->stop();
    if (!model_)
        return;
    // Typed while a row is being written: the filter waits for the write.
    if (model_->writing()) {
        filterTimer_->start();
        return;
    }
    if (model_->reading()) {
        carried_ = std::make_unique<Carried>();
        carried_->sort = model_->sortOrder();
        carried_->filters = filterRow_->texts();
        carried_->filterRowShown = !filterRow_->isHidden();
        viewWaiting_ = true;
        statusLine_->showNote(QStringLiteral("The rows are filtered once they are all read (or after Stop)."));
        return;
    }
    QWidget* typing = QApplication::focusWidget();
    if (!readyForViewChange())
        return;
    applyView(model_->sortWanted());
    // The user goes on typing where they were.
    if (typing && filterRow_->isAncestorOf(typing))
        typing->setFocus();
}

void DataGrid::applyView(const TableModel::SortOrder& asked)
{
    // A table read again may have fewer columns than the sort carried over.
    std::vector<TableModel::SortKey> keys = asked.keys();
    std::erase_if(keys, [this](const TableModel::SortKey& k) { return k.column >= model_->columnCount(); });
    const TableModel::SortOrder sort = TableModel::SortOrder::by(keys);
    TableModel::Filters filters;
    for (int c = 0; c < model_->columnCount(); ++c) {
        const QString typed = filterRow_->isHidden() ? QString() : filterRow_->text(c);
        ColumnFilter filter(model_->columns()[static_cast<std::size_t>(c)], typed.toStdString());
        filterRow_->setProblem(c, filter.problem() ? QString::fromStdString(*filter.problem()) : QString());
        if (!filter.empty())
            filters.emplace_back(c, std::move(filter));
    }
    // The current cell stays on its row when that row is still shown.
    const QModelIndex current = currentIndex();
    const std::int64_t currentRow = current.isValid() ? model_->rowsetRow(current.row()) : -1;
    const TableModel::SortOrder before = model_->sortOrder();
    const bool sorting = sort.column >= 0 && sort != before;
    const QString what = sort.column >= 0 ? QStringLiteral("sort the rows") : QStringLiteral("filter the rows");
    // Rows kept in the database: the current row is found in the new order
    // by its values, once the database tells where it stands.
    if (model_->rowsInDatabase() && current.isValid()) {
        model_->followRow(current.row());
        followColumn_ = current.column();
    }

    // A large table is put in order on a worker: the window goes on
    // answering, and says what it is doing until the view comes back.
    if (model_->totalRows() >= ViewJob::workerFromRows()) {
        viewCurrentRow_ = currentRow;
        viewCurrentColumn_ = current.column();
        viewWhat_ = what;
        finding_ = false; // a find on its way is replaced and gives nothing
        // Said first: a view with nothing to work out ends within startView.
        statusLine_->showBusy(sorting ? QStringLiteral("Sorting\u2026") : QStringLiteral("Filtering\u2026"));
        if (!RunShortOfMemory(window(), what, [&] { model_->startView(sort, std::move(filters)); })) {
            statusLine_->endBusy();
            runAfterView();
        }
        return;
    }
    const auto busy = busyPointer();
    // The view changes in one step, or not at all when memory runs short.
    if (!RunShortOfMemory(window(), what, [&] { model_->applyView(sort, std::move(filters)); })) {
        runAfterView();
        return;
    }
    showView(currentRow, current.column());
}

void DataGrid::viewEnded(TableModel::ViewOutcome outcome)
{
    statusLine_->endBusy();
    // A find's result comes next (findEnded); the view did not change.
    if (std::exchange(finding_, false)) {
        if (outcome == TableModel::ViewOutcome::OutOfMemory)
            ShowShortOfMemory(window(), QStringLiteral("find"));
        return;
    }
    if (outcome == TableModel::ViewOutcome::OutOfMemory)
        ShowShortOfMemory(window(), viewWhat_);
    if (outcome == TableModel::ViewOutcome::Applied)
        showView(viewCurrentRow_, viewCurrentColumn_);
    else
        runAfterView();
}

void DataGrid::showView(std::int64_t currentRow, int column)
{
    const TableModel::SortOrder sort = model_->sortOrder();
    QHeaderView* header = horizontalHeader();
    // One key: the heading's own arrow. Several: each heading draws its
    // arrow and place in the order (see the model's SortMarkRole).
    header->setSortIndicatorShown(sort.column >= 0 && sort.more.empty());
    header->viewport()->update();
    if (sort.column >= 0 && sort.more.empty())
        header->setSortIndicator(sort.column, sort.descending ? Qt::DescendingOrder : Qt::AscendingOrder);
    const int row = currentRow >= 0 ? model_->viewRow(currentRow) : -1;
    {
        const QScopedValueRollback placing(placing_, true);
        setCurrentIndex(model_->index(std::max(row, 0), std::max(column, 0)));
    }
    if (row >= 0)
        scrollTo(currentIndex());
    showFilterCount();
    layout_->viewChanged();
    runAfterView();
}

void DataGrid::runAfterView()
{
    if (afterView_)
        std::exchange(afterView_, nullptr)();
}

void DataGrid::showFilterCount()
{
    // Rows kept in the database: the count is the database's, on the state line.
    if (model_ && model_->isFiltered() && !model_->rowsInDatabase())
        statusLine_->showFiltered(std::make_pair(model_->shownRows(), model_->totalRows()));
    else
        statusLine_->showFiltered(std::nullopt);
}

// ---- finding ---------------------------------------------------------------------------

void DataGrid::openFind(bool withReplace)
{
    findBar_->open(withReplace);
    layoutBars();
}

void DataGrid::filterByCurrentValue(bool exclude)
{
    const QModelIndex index = currentIndex();
    const std::optional<QString> filter = model_ && index.isValid() ? valueFilter(index, exclude) : std::nullopt;
    if (!filter)
        return;
    showFilterRow();
    filterRow_->box(index.column())->setText(*filter);
    applyFilters();
}

std::optional<QString> DataGrid::valueFilter(const QModelIndex& index, bool exclude) const
{
    if (model_->isNewRowPlaceholder(index.row()))
        return std::nullopt;
    const ColumnInfo& column = model_->columns()[static_cast<std::size_t>(index.column())];
    const EditableRowset::CellView cell = model_->cell(index.row(), index.column());
    if (column.type == ColumnType::Binary || column.type == ColumnType::LargeText || cell.kind == ValueKind::Blob)
        return std::nullopt;
    if (cell.kind == ValueKind::Null)
        return exclude ? QStringLiteral("is not null") : QStringLiteral("is null");
    const QString value = QString::fromUtf8(cell.data.data(), static_cast<qsizetype>(cell.data.size()));
    if (value.isEmpty() || value.toUtf8() != QByteArray(cell.data.data(), static_cast<qsizetype>(cell.data.size()))
        || value.front().isSpace() || value.back().isSpace() || value.contains(QLatin1Char('\n'))
        || value.contains(QLatin1Char('\r')) || value.contains(QLatin1Char('\t')))
        return std::nullopt;
    return (exclude ? QStringLiteral("<>") : QStringLiteral("=")) + value;
}

void DataGrid::goToRow()
{
    if (!model_)
        return;
    // Every row, those past the slice of rows kept in the database too.
    const int rows = static_cast<int>(std::min<qint64>(model_->shownRows(), INT_MAX));
    if (rows == 0)
        return;
    const QModelIndex at = currentIndex();
    bool ok = false;
    const int row = QInputDialog::getInt(
        window(), QStringLiteral("Go to Row"), QStringLiteral("Row number (1 to %1):").arg(GridStatusLine::number(rows)),
        at.isValid() ? static_cast<int>(std::min<qint64>(model_->rowNumber(at.row()), rows)) : 1, 1, rows, 1, &ok);
    if (!ok || !model_)
        return;
    int shown = std::min(row, model_->rowCount()) - 1;
    // Rows kept in the database: the slice moves to the row, unless a row
    // typed into holds it; past the count only the new row being typed.
    if (model_->rowsInDatabase())
        shown = row <= model_->totalRows() ? model_->revealRow(row - 1) : model_->pendingRow();
    if (shown < 0) {
        statusLine_->showNote(QStringLiteral("Leave the row being typed into (or press Esc) first."));
        return;
    }
    const QModelIndex to = model_->index(shown, std::max(0, at.column()));
    setCurrentIndex(to);
    scrollTo(to, QAbstractItemView::PositionAtCenter);
    setFocus();
}

void DataGrid::findNext(bool backwards)
{
    if (!model_)
        return;
    if (findBar_->isHidden() || findBar_->text().isEmpty()) {
        openFind(!findBar_->isHidden() && findBar_->replacing());
        return;
    }
    TableModel::FindOptions options;
    options.text = findBar_->text();
    options.matchCase = findBar_->matchCase();
    options.wholeCell = findBar_->wholeCell();
    options.backwards = backwards;
    QList<int> columns;
    const QModelIndex from = currentIndex();
    if (findBar_->thisColumnOnly() && from.isValid()) {
        columns << from.column();
    } else {
        for (int visual = 0; visual < horizontalHeader()->count(); ++visual) {
            const int c = horizontalHeader()->logicalIndex(visual);
            if (!isColumnHidden(c))
                columns << c;
        }
    }
    // Rows kept in the database are searched there, from the current row's
    // place, on a worker.
    if (model_->rowsInDatabase()) {
        if (model_->countingRows()) {
            statusLine_->showNote(QStringLiteral("Find waits until the database has counted the rows."));
            return;
        }
        if (!model_->startFindInDatabase(from, options, columns)) {
            statusLine_->showNote(QStringLiteral("Find waits until the current row is read."));
            return;
        }
        finding_ = true;
        findingBackwards_ = backwards;
        statusLine_->showBusy(QStringLiteral("Finding\u2026"));
        return;
    }
    // A large table is searched on a worker, as it is sorted; a sort or
    // filter on its way is not dropped for it.
    if (model_->totalRows() >= ViewJob::workerFromRows()) {
        if (model_->viewBusy() && !finding_) {
            statusLine_->showNote(QStringLiteral("Find waits until the rows are in their new order (or after Stop)."));
            return;
        }
        finding_ = true;
        findingBackwards_ = backwards;
        statusLine_->showBusy(QStringLiteral("Finding\u2026"));
        if (!RunShortOfMemory(window(), QStringLiteral("find"), [&] { model_->startFind(from, options, columns); })) {
            statusLine_->endBusy();
            finding_ = false;
        }
        return;
    }
    std::optional<TableModel::Found> found;
    {
        const auto busy = busyPointer();
        found = model_->find(from, options, columns);
    }
    showFound(found, backwards);
}

void DataGrid::showFound(const std::optional<TableModel::Found>& found, bool backwards)
{
    if (!found) {
        findBar_->showResult(QStringLiteral("No match"));
        return;
    }
    findBar_->showResult(found->wrapped ? (backwards ? QStringLiteral("Wrapped to the bottom")
                                                     : QStringLiteral("Wrapped to the top"))
                                        : QString());
    setCurrentIndex(found->index);
    scrollTo(found->index);
}

// ---- reading again -----------------------------------------------------------------------

void DataGrid::refresh()
{
    if (!model_)
        return;
    // The pending row is written first, by the same rule as leaving the page.
    if (!finishEditing())
        return;
    auto carried = std::make_unique<Carried>();
    carried->sort = model_->sortWanted();
    carried->filters = filterRow_->texts();
    carried->filterRowShown = !filterRow_->isHidden();
    // A hidden column has no width on the screen: it keeps the one it will show with.
    for (int c = 0; c < model_->columnCount(); ++c)
        if (!isColumnHidden(c))
            carried->widths.insert(model_->headerData(c, Qt::Horizontal).toString(), columnWidth(c));
    const QModelIndex current = currentIndex();
    if (current.isValid()) {
        carried->currentColumn = model_->headerData(current.column(), Qt::Horizontal).toString();
        const std::vector<int> key = model_->keyColumns();
        const std::vector<Value> read = model_->valuesRead(current.row());
        if (!key.empty() && !read.empty())
            for (int c : key)
                carried->currentKey.push_back(read[static_cast<std::size_t>(c)]);
        else
            carried->currentRow = current.row();
    }

    auto* page = qobject_cast<Page*>(window());
    if (page)
        page->SetMousePointer(PointerBusy);
    std::unique_ptr<EditableRowset> rowset;
    try {
        rowset = EditableRowset::Open(OpenLoginConnection(adUseClient), model_->table(), rowLimit());
    } catch (const DbError& e) {
        if (page)
            page->SetMousePointer(PointerDefault);
        ShowMessage(window(), QStringLiteral("The table could not be read again.\n\nError %1: %2")
                                  .arg(QString::number(e.number()), QString::fromStdString(e.description())));
        return;
    }
    const bool filterRowShown = carried->filterRowShown;
    const QStringList filters = carried->filters;
    SetDataSource(std::move(rowset));
    if (filterRowShown) {
        filterRow_->setTexts(filters);
        filterRow_->show();
        layoutBars();
    }
    for (int c = 0; c < model_->columnCount(); ++c) {
        const auto width = carried->widths.find(model_->headerData(c, Qt::Horizontal).toString());
        if (width != carried->widths.end())
            setColumnWidth(c, *width);
    }
    carried_ = std::move(carried);
    viewWaiting_ = true;
    // A table read whole while opening was told about by SetDataSource.
    if (!model_->reading())
        applyWaitingView();
    if (page)
        page->SetMousePointer(PointerDefault);
}

void DataGrid::restore(const Carried& carried)
{
    if (!model_)
        return;
    if (carried.filterRowShown && filterRow_->isHidden()) {
        filterRow_->setTexts(carried.filters);
        filterRow_->show();
        layoutBars();
    }
    // The current row is placed once the view is there.
    afterView_ = [this, carried] {
        int column = currentIndex().column();
        for (int c = 0; c < model_->columnCount(); ++c)
            if (model_->headerData(c, Qt::Horizontal).toString() == carried.currentColumn)
                column = c;
        int row = -1;
        if (!carried.currentKey.empty()) {
            // The row with the same key, wherever it is now.
            row = model_->rowWithKey(carried.currentKey);
        } else if (carried.currentRow >= 0) {
            row = std::min(carried.currentRow, model_->rowCount() - 1);
        }
        if (row >= 0) {
            setCurrentIndex(model_->index(row, std::max(column, 0)));
            scrollTo(currentIndex());
        }
    };
    applyView(carried.sort);
}
