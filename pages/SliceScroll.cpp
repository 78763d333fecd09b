#include "pages/SliceScroll.h"

#include "oracle/TableModel.h"

#include <QEvent>
#include <QScopedValueRollback>
#include <QScrollBar>
#include <QTableView>
#include <QTimer>

#include <algorithm>
#include <climits>
#include <limits>

namespace {

int toInt(std::int64_t n) { return static_cast<int>(std::clamp<std::int64_t>(n, 0, INT_MAX)); }

} // namespace

SliceScroll::SliceScroll(QTableView* grid) : QObject(grid), grid_(grid)
{
    bar_ = new QScrollBar(Qt::Vertical, grid);
    bar_->setObjectName(QStringLiteral("rowsBar"));
    bar_->setAccessibleName(QStringLiteral("Rows"));
    bar_->hide();
    around_ = new QTimer(this);
    around_->setSingleShot(true);
    around_->setInterval(0);
    connect(around_, &QTimer::timeout, this, &SliceScroll::keepAround);
    QScrollBar* own = grid->verticalScrollBar();
    connect(own, &QScrollBar::valueChanged, this, &SliceScroll::viewScrolled);
    connect(own, &QScrollBar::rangeChanged, this, &SliceScroll::place);
    connect(bar_, &QScrollBar::valueChanged, this, &SliceScroll::barMoved);
    // The view's bar sits in a frame of its own that the grid lays out.
    own->parentWidget()->installEventFilter(this);
}

void SliceScroll::attach(TableModel* model)
{
    if (model_)
        disconnect(model_, nullptr, this, nullptr);
    model_ = model;
    if (model) {
        connect(model, &TableModel::countProgress, this, &SliceScroll::place);
        connect(model, &QAbstractItemModel::layoutChanged, this, &SliceScroll::place);
        connect(model, &QAbstractItemModel::rowsInserted, this, &SliceScroll::place);
        connect(model, &QAbstractItemModel::rowsRemoved, this, &SliceScroll::place);
        connect(model, &QAbstractItemModel::modelReset, this, &SliceScroll::place);
    }
    place();
}

bool SliceScroll::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::Show:
    case QEvent::Hide:
        place();
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

void SliceScroll::place()
{
    QScrollBar* own = grid_->verticalScrollBar();
    QWidget* room = own->parentWidget();
    const bool on = model_ && model_->sliced() && !room->isHidden();
    bar_->setVisible(on);
    if (!on)
        return;
    bar_->setGeometry(room->geometry());
    bar_->raise();
    const QScopedValueRollback syncing(syncing_, true);
    bar_->setSingleStep(own->singleStep());
    bar_->setPageStep(own->pageStep());
    bar_->setRange(0, toInt(model_->allRows() - own->pageStep()));
    bar_->setValue(toInt(model_->base() + own->value()));
}

void SliceScroll::viewScrolled()
{
    if (syncing_ || !model_ || !model_->sliced())
        return;
    place();
    around_->start();
}

void SliceScroll::barMoved(int value)
{
    if (syncing_ || !model_)
        return;
    QScrollBar* own = grid_->verticalScrollBar();
    // Past the slice: the slice moves to have the row in its middle (unless
    // a row is typed into; the bar then goes as far as the slice does).
    if (value < model_->base() || value > model_->base() + own->maximum())
        model_->setBase(value - model_->rowCount() / 2);
    {
        const QScopedValueRollback syncing(syncing_, true);
        own->setValue(toInt(value - model_->base()));
    }
    place();
    around_->start();
}

void SliceScroll::keepAround()
{
    if (!model_ || !model_->sliced())
        return;
    QScrollBar* own = grid_->verticalScrollBar();
    const int rows = model_->rowCount();
    const int top = own->value();
    const int visible = own->pageStep();
    const int margin = std::max(rows / 8, 2 * visible);
    const bool nearStart = top < margin && model_->base() > 0;
    const bool nearEnd = top + visible > rows - margin && !model_->sliceAtEnd();
    if (!nearStart && !nearEnd)
        return;
    const std::int64_t at = model_->base() + top;
    if (!model_->setBase(at - rows / 2))
        return;
    {
        const QScopedValueRollback syncing(syncing_, true);
        own->setValue(toInt(at - model_->base()));
    }
    place();
}

bool SliceScroll::toEdge(bool last)
{
    if (!model_ || !model_->sliced())
        return true;
    return model_->setBase(last ? std::numeric_limits<std::int64_t>::max() : 0);
}
