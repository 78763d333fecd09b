#include "pages/GridLayout.h"

#include "oracle/Globals.h"
#include "oracle/TableModel.h"
#include "pages/ColumnsWindow.h"
#include "pages/DataGrid.h"
#include "pages/FrozenColumns.h"
#include "pages/GridFilterRow.h"
#include "shell/SettingsStore.h"

#include <QHash>
#include <QHeaderView>
#include <QMenu>
#include <QScopeGuard>
#include <QStyleOptionViewItem>
#include <QTimer>

#include <algorithm>
#include <utility>

namespace {

// The login's settings are the application's: the layouts sit beside them.
const QString kApplication = QStringLiteral("Marrowick");

QString columnName(const TableModel& model, int column)
{
    return QString::fromStdString(model.columns()[static_cast<std::size_t>(column)].name);
}

} // namespace

GridLayout::GridLayout(DataGrid* grid) : QObject(grid), grid_(grid)
{
    saveTimer_ = new QTimer(this);
    saveTimer_->setSingleShot(true);
    // Dragging an edge resizes many times a second: written once it rests.
    saveTimer_->setInterval(300);
    connect(saveTimer_, &QTimer::timeout, this, &GridLayout::flush);

    QHeaderView* header = grid_->horizontalHeader();
    header->setSectionsMovable(true);
    connect(header, &QHeaderView::sectionMoved, this, [this] {
        if (frozen_)
            frozen_->follow();
        changed();
    });
    connect(header, &QHeaderView::sectionResized, this, [this](int, int before, int now) {
        if (frozen_)
            frozen_->follow();
        // Hiding a column or showing it again sizes it to or from nothing.
        if (applying_ || before == 0 || now == 0)
            return;
        userWidths_ = true;
        changed();
    });
    // Made after the view's own fit to the contents: a very long value must
    // not make the column wider than the rows' room.
    connect(header, &QHeaderView::sectionHandleDoubleClicked, this, &GridLayout::fitOne);
}

QString GridLayout::filePath() { return LayoutStore::PathBeside(SettingsFilePath(kApplication)); }

void GridLayout::addMenuActions(QMenu& menu, int column)
{
    menu.addSeparator();
    QAction* hide = menu.addAction(QStringLiteral("Hide Column"), this, [this, column] { hideColumn(column); });
    hide->setEnabled(column >= 0 && shownCount() > 1);
    menu.addAction(QStringLiteral("Columns\u2026"), this, &GridLayout::chooseColumns);
    const QHeaderView* header = grid_->horizontalHeader();
    // Kept in place up to here only with a column shown to scroll at its right.
    bool anyRight = false;
    for (int visual = header->visualIndex(column) + 1; column >= 0 && visual < header->count(); ++visual)
        anyRight = anyRight || !header->isSectionHidden(header->logicalIndex(visual));
    menu.addAction(QStringLiteral("Freeze Columns Up to Here"), this, [this, column] { freezeUpTo(column); })
        ->setEnabled(anyRight);
    menu.addAction(QStringLiteral("Unfreeze Columns"), this, &GridLayout::unfreeze)->setEnabled(frozen_ != nullptr);
    menu.addAction(QStringLiteral("Reset Columns"), this, &GridLayout::reset);
}

int GridLayout::shownCount() const
{
    const TableModel* model = grid_->Model();
    int shown = 0;
    for (int c = 0; model && c < model->columnCount(); ++c)
        shown += grid_->isColumnHidden(c) ? 0 : 1;
    return shown;
}

void GridLayout::fitWidths()
{
    const TableModel* model = grid_->Model();
    if (!model)
        return;
    // Widths fitted to the rows are not the user's own.
    const bool wasApplying = std::exchange(applying_, true);
    const auto applied = qScopeGuard([this, wasApplying] { applying_ = wasApplying; });
    grid_->resizeColumnsToContents();
    // Very long texts must not make a column wider than the grid. A hidden
    // column shows no width: it keeps the one it was fitted to.
    const int widest = std::max(grid_->viewport()->width() * 2 / 3, 120);
    for (int c = 0; c < model->columnCount(); ++c)
        if (!grid_->isColumnHidden(c))
            grid_->setColumnWidth(c, std::min(grid_->columnWidth(c), widest));
}

void GridLayout::widenToShown()
{
    const TableModel* model = grid_->Model();
    const int first = grid_->rowAt(0);
    // Rows in memory were measured when the table opened (a thousand around
    // the screen); rows kept in the database only as far as they were read.
    if (!model || !model->rowsInDatabase() || userWidths_ || first < 0)
        return;
    int last = grid_->rowAt(grid_->viewport()->height() - 1);
    if (last < 0)
        last = model->rowCount() - 1;
    const int widest = std::max(grid_->viewport()->width() * 2 / 3, 120);
    QStyleOptionViewItem option;
    grid_->initViewItemOption(&option);
    const int line = grid_->showGrid() ? 1 : 0;
    const bool wasApplying = std::exchange(applying_, true);
    for (int c = 0; c < model->columnCount(); ++c) {
        const int now = grid_->columnWidth(c);
        if (grid_->isColumnHidden(c) || now >= widest)
            continue;
        int wanted = now;
        for (int r = first; r <= last; ++r) {
            const QModelIndex index = model->index(r, c);
            wanted = std::max(wanted, grid_->itemDelegateForIndex(index)->sizeHint(option, index).width() + line);
        }
        if (wanted > now)
            grid_->setColumnWidth(c, std::min(wanted, widest));
    }
    applying_ = wasApplying;
}

void GridLayout::showTableOrder()
{
    const TableModel* model = grid_->Model();
    QHeaderView* header = grid_->horizontalHeader();
    const bool wasApplying = std::exchange(applying_, true);
    for (int c = 0; model && c < model->columnCount(); ++c) {
        grid_->setColumnHidden(c, false);
        if (header->visualIndex(c) != c)
            header->moveSection(header->visualIndex(c), c);
    }
    applying_ = wasApplying;
}

void GridLayout::fitOne(int column)
{
    const int widest = std::max(grid_->viewport()->width(), 120);
    if (grid_->columnWidth(column) > widest)
        grid_->setColumnWidth(column, widest);
}

void GridLayout::tableOpened(bool withView)
{
    saveTimer_->stop();
    database_.clear();
    table_.clear();
    userWidths_ = false;
    const TableModel* model = grid_->Model();
    if (!model)
        return;
    // The headings keep their places over a model of as many columns: another
    // table starts from its own order.
    if (withView)
        showTableOrder();
    const QString database = LayoutStore::DatabaseKey(CurrentLoginFields().sid);
    const QString table = QString::fromStdString(model->table());
    if (const std::optional<TableLayout> layout = LayoutStore(filePath()).Load(database, table))
        apply(*layout, withView);
    database_ = database;
    table_ = table;
}

void GridLayout::tableClosing()
{
    flush();
    // Its view goes before the grid takes another model.
    delete frozen_;
    database_.clear();
    table_.clear();
}

void GridLayout::flush()
{
    saveTimer_->stop();
    if (database_.isEmpty() || !grid_->Model())
        return;
    const TableLayout layout = capture();
    LayoutStore store(filePath());
    if (worthKeeping(layout))
        store.Save(database_, table_, layout);
    else
        store.Forget(database_, table_);
}

void GridLayout::viewChanged()
{
    // The sort mark shows on a heading kept in place too.
    if (frozen_)
        frozen_->follow();
    changed();
}

void GridLayout::changed()
{
    if (applying_ || database_.isEmpty())
        return;
    saveTimer_->start();
}

TableLayout GridLayout::capture() const
{
    const TableModel& model = *grid_->Model();
    const QHeaderView* header = grid_->horizontalHeader();
    TableLayout layout;
    layout.frozen = frozen_ ? frozen_->count() : 0;
    for (int visual = 0; visual < header->count(); ++visual) {
        const int c = header->logicalIndex(visual);
        const bool hidden = grid_->isColumnHidden(c);
        // A hidden column's width is not to be had: it is fitted when shown.
        layout.columns.append({columnName(model, c), hidden ? -1 : grid_->columnWidth(c), hidden});
    }
    // A view put back while the rows are still coming is the one to keep.
    const bool waiting = grid_->viewWaiting_ && grid_->carried_;
    const TableModel::SortOrder sort = waiting ? grid_->carried_->sort : model.sortWanted();
    if (sort.column >= 0 && sort.column < model.columnCount()) {
        layout.sortColumn = columnName(model, sort.column);
        layout.sortDescending = sort.descending;
    }
    layout.filterRowShown = waiting ? grid_->carried_->filterRowShown : !grid_->filterRow()->isHidden();
    if (layout.filterRowShown) {
        const QStringList texts = waiting ? grid_->carried_->filters : grid_->filterRow()->texts();
        for (int c = 0; c < model.columnCount() && c < texts.size(); ++c)
            if (!texts[c].isEmpty())
                layout.filters.append({columnName(model, c), texts[c]});
    }
    return layout;
}

bool GridLayout::worthKeeping(const TableLayout& layout) const
{
    if (userWidths_ || layout.frozen > 0 || !layout.sortColumn.isEmpty() || layout.filterRowShown)
        return true;
    const QHeaderView* header = grid_->horizontalHeader();
    for (int visual = 0; visual < header->count(); ++visual)
        if (header->logicalIndex(visual) != visual || header->isSectionHidden(visual))
            return true;
    return false;
}

void GridLayout::apply(const TableLayout& layout, bool withView)
{
    TableModel* model = grid_->Model();
    QHeaderView* header = grid_->horizontalHeader();
    const int count = model->columnCount();
    QHash<QString, int> byName;
    for (int c = 0; c < count; ++c)
        byName.insert(columnName(*model, c), c);
    {
        applying_ = true;
        const auto done = qScopeGuard([this] { applying_ = false; });
        // The columns remembered, in their order; a column gone is passed
        // over, and one added since stays to the right, in the table's order.
        int visual = 0;
        for (const ColumnLayout& column : layout.columns) {
            const auto found = byName.constFind(column.name);
            if (found == byName.constEnd())
                continue;
            const int c = *found;
            header->moveSection(header->visualIndex(c), visual++);
            if (column.width > 0) {
                grid_->setColumnWidth(c, column.width);
                userWidths_ = true;
            }
            grid_->setColumnHidden(c, column.hidden);
        }
        if (count > 0 && shownCount() == 0)
            grid_->setColumnHidden(header->logicalIndex(0), false);
        keepCurrentShown();
        if (layout.frozen > 0 && layout.frozen < count)
            freeze(layout.frozen);
    }
    if (!withView)
        return;
    const int sortColumn = layout.sortColumn.isEmpty() ? -1 : byName.value(layout.sortColumn, -1);
    QStringList filters;
    for (int c = 0; c < count; ++c)
        filters << QString();
    bool anyFilter = false;
    for (const auto& [name, text] : layout.filters)
        if (const int c = byName.value(name, -1); c >= 0 && !text.isEmpty()) {
            filters[c] = text;
            anyFilter = true;
        }
    if (sortColumn < 0 && !anyFilter && !layout.filterRowShown)
        return;
    // As a sort asked for while the rows are coming: applied once they are all in.
    auto carried = std::make_unique<DataGrid::Carried>();
    carried->sort = {sortColumn, layout.sortDescending};
    carried->filters = filters;
    carried->filterRowShown = layout.filterRowShown || anyFilter;
    grid_->carried_ = std::move(carried);
    grid_->viewWaiting_ = true;
    if (!model->reading())
        grid_->applyWaitingView();
}

void GridLayout::keepCurrentShown()
{
    const TableModel* model = grid_->Model();
    const QModelIndex current = grid_->currentIndex();
    if (!model || !current.isValid() || !grid_->isColumnHidden(current.column()))
        return;
    const QHeaderView* header = grid_->horizontalHeader();
    const int at = header->visualIndex(current.column());
    // The nearest column shown, to the right first.
    for (int step = 1; step < header->count(); ++step)
        for (const int visual : {at + step, at - step})
            if (visual >= 0 && visual < header->count() && !header->isSectionHidden(header->logicalIndex(visual))) {
                grid_->setCurrentIndex(model->index(current.row(), header->logicalIndex(visual)));
                return;
            }
}

void GridLayout::hideColumn(int column)
{
    const TableModel* model = grid_->Model();
    if (!model || column < 0 || column >= model->columnCount() || shownCount() <= 1)
        return;
    grid_->setColumnHidden(column, true);
    keepCurrentShown();
    changed();
}

void GridLayout::chooseColumns()
{
    const TableModel* model = grid_->Model();
    if (!model)
        return;
    const QHeaderView* header = grid_->horizontalHeader();
    QStringList names;
    QList<bool> shown;
    for (int visual = 0; visual < header->count(); ++visual) {
        const int c = header->logicalIndex(visual);
        names << columnName(*model, c);
        shown << !grid_->isColumnHidden(c);
    }
    ColumnsWindow window(grid_->window(), names, shown);
    if (window.exec() != QDialog::Accepted || grid_->Model() != model)
        return;
    const QList<bool> chosen = window.shown();
    if (!chosen.contains(true))
        return;
    for (int visual = 0; visual < chosen.size() && visual < header->count(); ++visual)
        grid_->setColumnHidden(header->logicalIndex(visual), !chosen[visual]);
    keepCurrentShown();
    changed();
    grid_->setFocus();
}

void GridLayout::reset()
{
    TableModel* model = grid_->Model();
    if (!model)
        return;
    // The row being typed is written first, as for any change of the view.
    if (!model->reading() && !grid_->readyForViewChange())
        return;
    saveTimer_->stop();
    delete frozen_;
    {
        applying_ = true;
        const auto done = qScopeGuard([this] { applying_ = false; });
        showTableOrder();
        fitWidths();
    }
    userWidths_ = false;
    if (!database_.isEmpty())
        LayoutStore(filePath()).Forget(database_, table_);
    GridFilterRow* filterRow = grid_->filterRow();
    if (!filterRow->isHidden()) {
        filterRow->clear();
        filterRow->hide();
        grid_->layoutBars();
    }
    grid_->sortBy(-1, false);
}

FrozenColumns* GridLayout::frozen() const { return frozen_; }

void GridLayout::freezeUpTo(int column)
{
    if (!grid_->Model() || column < 0 || column >= grid_->Model()->columnCount())
        return;
    freeze(grid_->horizontalHeader()->visualIndex(column) + 1);
    changed();
}

void GridLayout::unfreeze()
{
    delete frozen_;
    changed();
}

void GridLayout::freeze(int count)
{
    delete frozen_;
    frozen_ = new FrozenColumns(grid_, count);
    QHeaderView* header = frozen_->horizontalHeader();
    // Its headings answer as the grid's do.
    connect(header, &QHeaderView::sectionClicked, grid_, &DataGrid::headerClicked);
    connect(header, &QHeaderView::customContextMenuRequested, grid_, [this, header](const QPoint& at) {
        grid_->showHeaderMenu(header->logicalIndexAt(at), header->mapToGlobal(at));
    });
    connect(header, &QHeaderView::sectionResized, grid_, [this](int column, int, int now) {
        if (now > 0 && grid_->columnWidth(column) != now)
            grid_->setColumnWidth(column, now);
    });
    connect(header, &QHeaderView::sectionHandleDoubleClicked, grid_, [this](int column) {
        grid_->resizeColumnToContents(column);
        fitOne(column);
    });
    grid_->scrollTo(grid_->currentIndex());
}
