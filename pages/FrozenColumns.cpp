#include "pages/FrozenColumns.h"

#include "pages/DataGrid.h"
#include "pages/GridFilterRow.h"

#include <QHeaderView>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTimer>

#include <utility>

FrozenColumns::FrozenColumns(DataGrid* grid, int count) : QTableView(grid), grid_(grid), count_(count)
{
    setAccessibleName(QStringLiteral("Frozen columns"));
    setFocusPolicy(Qt::NoFocus);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    verticalHeader()->hide();
    setTabKeyNavigation(false);
    setWordWrap(false);
    setEditTriggers(grid->editTriggers());
    setSelectionBehavior(grid->selectionBehavior());
    setSelectionMode(grid->selectionMode());
    setVerticalScrollMode(grid->verticalScrollMode());
    QStyledItemDelegate* delegate = grid->newDelegate(this);
    // An editor closed with the focus in it gives the focus back to the grid,
    // which takes the keys (this view takes none). Connected before the view
    // closes the editor, while it still has the focus.
    connect(delegate, &QAbstractItemDelegate::closeEditor, grid, [grid](QWidget* editor) {
        if (editor && editor->hasFocus())
            QTimer::singleShot(0, grid, [grid] { grid->setFocus(); });
    });
    setItemDelegate(delegate);
    setModel(grid->model());
    setSelectionModel(grid->selectionModel());
    horizontalHeader()->setSectionsMovable(false);
    horizontalHeader()->setSectionsClickable(true);
    horizontalHeader()->setHighlightSections(grid->horizontalHeader()->highlightSections());
    horizontalHeader()->setContextMenuPolicy(Qt::CustomContextMenu);
    // One scroll position up and down for both.
    connect(grid->verticalScrollBar(), &QScrollBar::valueChanged, verticalScrollBar(), &QScrollBar::setValue);
    connect(verticalScrollBar(), &QScrollBar::valueChanged, grid->verticalScrollBar(), &QScrollBar::setValue);
    // Scrolled by the pixel, so that no column slips under these by half.
    grid->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    follow();
    show();
}

FrozenColumns::~FrozenColumns()
{
    grid_->setHorizontalScrollMode(QAbstractItemView::ScrollPerItem);
    grid_->filterRow()->setFrozen(nullptr, 0);
    grid_->filterRow()->followHeader();
}

bool FrozenColumns::holds(int column) const
{
    const int visual = grid_->horizontalHeader()->visualIndex(column);
    return visual >= 0 && visual < count_;
}

int FrozenColumns::frozenWidth() const
{
    int width = 0;
    const QHeaderView* header = grid_->horizontalHeader();
    for (int visual = 0; visual < count_ && visual < header->count(); ++visual)
        width += header->sectionSize(header->logicalIndex(visual)); // 0 when hidden
    return width;
}

void FrozenColumns::follow()
{
    const QHeaderView* theirs = grid_->horizontalHeader();
    QHeaderView* mine = horizontalHeader();
    if (mine->count() != theirs->count())
        return;
    for (int visual = 0; visual < theirs->count(); ++visual) {
        const int c = theirs->logicalIndex(visual);
        if (mine->visualIndex(c) != visual)
            mine->moveSection(mine->visualIndex(c), visual);
    }
    for (int c = 0; c < theirs->count(); ++c) {
        const bool shown = holds(c) && !theirs->isSectionHidden(c);
        setColumnHidden(c, !shown);
        if (shown && columnWidth(c) != theirs->sectionSize(c))
            setColumnWidth(c, theirs->sectionSize(c));
    }
    mine->setSortIndicatorShown(theirs->isSortIndicatorShown());
    mine->setSortIndicator(theirs->sortIndicatorSection(), theirs->sortIndicatorOrder());
    verticalHeader()->setDefaultSectionSize(grid_->verticalHeader()->defaultSectionSize());
    place();
}

void FrozenColumns::place()
{
    const QRect rows = grid_->viewport()->geometry();
    const QHeaderView* theirs = grid_->horizontalHeader();
    GridFilterRow* filters = grid_->filterRow();
    headings_ = theirs->isHidden() ? 0 : theirs->height();
    band_ = filters->isHidden() ? 0 : filters->height();
    const int width = std::min(frozenWidth(), rows.width());
    setGeometry(rows.left(), rows.top() - band_ - headings_, width, headings_ + band_ + rows.height());
    updateGeometries();
    verticalScrollBar()->setRange(grid_->verticalScrollBar()->minimum(), grid_->verticalScrollBar()->maximum());
    verticalScrollBar()->setValue(grid_->verticalScrollBar()->value());
    raise();
    // The filter boxes of these columns show above them, at their places.
    filters->setFrozen(horizontalHeader(), width);
    filters->followHeader();
    if (!filters->isHidden())
        filters->raise();
}

void FrozenColumns::updateGeometries()
{
    if (laying_)
        return;
    const bool was = std::exchange(laying_, true);
    QTableView::updateGeometries();
    // The headings at the top, then the filter row's band, then the rows.
    setViewportMargins(0, headings_ + band_, 0, 0);
    horizontalHeader()->setGeometry(0, 0, width(), headings_);
    laying_ = was;
}

bool FrozenColumns::editCell(const QModelIndex& index, EditTrigger trigger, QEvent* event)
{
    return QTableView::edit(index, trigger, event);
}

bool FrozenColumns::edit(const QModelIndex& index, EditTrigger trigger, QEvent* event)
{
    // The grid says whether a cell may be edited now, then comes back here.
    return grid_->edit(index, trigger, event);
}
