#include "pages/DataGrid.h"

#include "oracle/TableModel.h"
#include "pages/CellEditors.h"
#include "pages/FrozenColumns.h"
#include "pages/GridClipboard.h"
#include "pages/GridFilterRow.h"
#include "pages/GridFindBar.h"
#include "pages/GridLayout.h"
#include "pages/GridStatusLine.h"
#include "pages/Messages.h"
#include "pages/SelectionSummary.h"
#include "pages/RowDetailsWindow.h"
#include "pages/SliceScroll.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMetaProperty>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QScrollBar>
#include <QStyleOption>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <limits>

namespace {

// The text an editor showed when it opened.
constexpr char kShownText[] = "dervantaShownText";

// Draws NULL apart from an empty text, marks typed cells, and tells the grid
// when the model refuses a typed value.
class GridDelegate : public QStyledItemDelegate {
public:
    GridDelegate(QObject* parent, std::function<void(const QString&)> refused)
        : QStyledItemDelegate(parent), refused_(std::move(refused)), editors_(new CellEditors(this))
    {
    }

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        // The column's type may bring an editor of its own.
        const auto* table = qobject_cast<const TableModel*>(index.model());
        QWidget* editor = table ? editors_->create(parent, *table, index) : nullptr;
        if (!editor) {
            editor = QStyledItemDelegate::createEditor(parent, option, index);
            // A cell may hold any length of text: the editor must never cut it.
            if (auto* line = qobject_cast<QLineEdit*>(editor))
                line->setMaxLength(std::numeric_limits<int>::max());
        }
        if (table && editor)
            CellEditors::watch(editor, *table, index);
        return editor;
    }

    void setEditorData(QWidget* editor, const QModelIndex& index) const override
    {
        QStyledItemDelegate::setEditorData(editor, index);
        const QByteArray property = editor->metaObject()->userProperty().name();
        if (!property.isEmpty())
            editor->setProperty(kShownText, editor->property(property.constData()));
        CellEditors::filled(editor);
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::paint(painter, option, index);
        CellEditors::paintWarning(painter, option, index);
    }

    // A boolean cell's check box: a click on it, or Space, turns it to its next state.
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override
    {
        auto* table = qobject_cast<TableModel*>(model);
        if (!table || !CellEditors::checkState(index) || !(table->flags(index) & Qt::ItemIsEditable)
            || table->editsWaitForRead() || table->viewBusy())
            return QStyledItemDelegate::editorEvent(event, model, option, index);
        bool toggles = false;
        if (event->type() == QEvent::KeyPress) {
            const auto* key = static_cast<QKeyEvent*>(event);
            toggles = key->key() == Qt::Key_Space && key->modifiers() == Qt::NoModifier;
        } else if (event->type() == QEvent::MouseButtonRelease || event->type() == QEvent::MouseButtonDblClick) {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            QStyleOptionViewItem box = option;
            initStyleOption(&box, index);
            const QWidget* widget = option.widget;
            const QStyle* style = widget ? widget->style() : QApplication::style();
            const QRect check = style->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &box, widget);
            if (mouse->button() != Qt::LeftButton || !check.contains(mouse->position().toPoint()))
                return QStyledItemDelegate::editorEvent(event, model, option, index);
            // A double click is two clicks on the box, not a text editor.
            if (event->type() == QEvent::MouseButtonDblClick)
                return true;
            toggles = true;
        }
        if (!toggles)
            return QStyledItemDelegate::editorEvent(event, model, option, index);
        if (const std::optional<RowRefusal> why = CellEditors::toggle(*table, index))
            refused_(QString::fromStdString(why->text));
        return true;
    }

    void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override
    {
        auto* table = qobject_cast<TableModel*>(model);
        const QByteArray property = editor->metaObject()->userProperty().name();
        if (!table || property.isEmpty()) {
            QStyledItemDelegate::setModelData(editor, model, index);
            return;
        }
        const QVariant text = editor->property(property.constData());
        // An editor confirmed as it was opened writes nothing: the text it
        // showed need not be the exact value (bytes that are no UTF-8), and a
        // value the user did not change must never be rewritten.
        const QVariant shown = editor->property(kShownText);
        if (shown.isValid() && shown == text)
            return;
        if (const std::optional<RowRefusal> why = table->store(index, text.toString()))
            refused_(QString::fromStdString(why->text));
    }

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        if (index.data(TableModel::NullRole).toBool()) {
            option->font.setItalic(true);
            option->palette.setColor(QPalette::Text, QColor(0x80, 0x80, 0x80));
            option->palette.setColor(QPalette::HighlightedText, QColor(0xD0, 0xD0, 0xD0));
        }
        if (index.data(TableModel::PendingRole).toBool())
            option->backgroundBrush = QColor(0xFF, 0xF4, 0xC0);
        CellEditors::styleCheck(option, index);
        // A new row's empty cell shows, greyed, what the database will put there.
        if (const QString hint = index.data(TableModel::HintRole).toString();
            !sizing_ && !hint.isEmpty() && option->text.isEmpty()) {
            option->features |= QStyleOptionViewItem::HasDisplay;
            option->text = hint;
            option->palette.setColor(QPalette::Text, QColor(0x90, 0x90, 0x90));
            option->palette.setColor(QPalette::HighlightedText, QColor(0xD0, 0xD0, 0xD0));
        }
    }

public:
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        // Columns are as wide as their values, never as the new row's hints.
        const QScopedValueRollback<bool> sizing(sizing_, true);
        return QStyledItemDelegate::sizeHint(option, index);
    }

private:
    std::function<void(const QString&)> refused_;
    mutable bool sizing_ = false;
    CellEditors* editors_;
};

// The row headers: a row whose typed values are not saved yet shows a pencil.
class RowHeader : public QHeaderView {
public:
    explicit RowHeader(QWidget* parent) : QHeaderView(Qt::Vertical, parent) {}

protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override
    {
        QHeaderView::paintSection(painter, rect, logicalIndex);
        if (!model() || !model()->headerData(logicalIndex, Qt::Vertical, TableModel::PendingRole).toBool())
            return;
        painter->save();
        painter->setPen(QColor(0xC0, 0x00, 0x00));
        painter->drawText(rect.adjusted(2, 0, -2, 0), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("\u270E"));
        painter->restore();
    }
};

// The column headings: while rows are sorted by several columns, each key's
// heading shows its arrow and place after the name ("name ▲1").
class SortHeader : public QHeaderView {
public:
    explicit SortHeader(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {}

protected:
    void initStyleOptionForIndex(QStyleOptionHeader* option, int logicalIndex) const override
    {
        QHeaderView::initStyleOptionForIndex(option, logicalIndex);
        if (!model())
            return;
        const QString mark = model()->headerData(logicalIndex, Qt::Horizontal, TableModel::SortMarkRole).toString();
        if (!mark.isEmpty())
            option->text += QLatin1Char(' ') + mark;
    }
};

// A reason that ends a sentence: a database message may bring its own full stop.
QString sentenceEnd(const QString& reason)
{
    const QString text = reason.trimmed();
    if (text.endsWith(u'.') || text.endsWith(u'!') || text.endsWith(u'?'))
        return text;
    return text + u'.';
}

QString savingFailedText(const QString& reason)
{
    return QStringLiteral("The row could not be saved: %1\n\nYour typed values are kept. Correct them and leave "
                          "the row again, or press Esc to restore the values read.")
        .arg(sentenceEnd(reason));
}

} // namespace

DataGrid::DataGrid(QWidget* parent)
    : QTableView(parent)
{
    setVerticalHeader(new RowHeader(this));
    setHorizontalHeader(new SortHeader(this));
    verticalHeader()->setSectionsClickable(true);
    // One line of text a row, as a grid of records shows it.
    verticalHeader()->setMinimumSectionSize(fontMetrics().height() + 2);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    // All rows one height, scrolled a row at a time.
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    verticalHeader()->setHighlightSections(true);
    horizontalHeader()->setHighlightSections(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::SelectedClicked
                    | QAbstractItemView::EditKeyPressed | QAbstractItemView::AnyKeyPressed);
    // Tab leaves the grid for the page's buttons; arrows move between cells.
    setTabKeyNavigation(false);
    setWordWrap(false);
    setItemDelegate(newDelegate(this));

    setNullAction_ = new QAction(QStringLiteral("Set to NULL"), this);
    setNullAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_0));
    setNullAction_->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    connect(setNullAction_, &QAction::triggered, this, &DataGrid::setCurrentToNull);
    addAction(setNullAction_);

    deleteRowsAction_ = new QAction(QStringLiteral("Delete Selected Rows"), this);
    deleteRowsAction_->setShortcut(QKeySequence(Qt::Key_Delete));
    deleteRowsAction_->setShortcutContext(Qt::WidgetShortcut);
    connect(deleteRowsAction_, &QAction::triggered, this, &DataGrid::deleteSelectedRows);
    addAction(deleteRowsAction_);

    rowDetailsAction_ = new QAction(QStringLiteral("Row Details\u2026"), this);
    rowDetailsAction_->setShortcut(QKeySequence(Qt::Key_F4));
    rowDetailsAction_->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    connect(rowDetailsAction_, &QAction::triggered, this, &DataGrid::showRowDetails);
    addAction(rowDetailsAction_);

    connect(qApp, &QApplication::focusChanged, this, &DataGrid::onFocusChanged);

    bottomBars_ = new QWidget(this);
    auto* bars = new QVBoxLayout(bottomBars_);
    bars->setContentsMargins(0, 0, 0, 0);
    bars->setSpacing(0);
    findBar_ = new GridFindBar(bottomBars_);
    bars->addWidget(findBar_);
    statusLine_ = new GridStatusLine(bottomBars_);
    bars->addWidget(statusLine_);
    bottomBars_->hide();
    connect(statusLine_, &GridStatusLine::shownChanged, this, &DataGrid::layoutBars);
    connect(statusLine_, &GridStatusLine::stopRequested, this, [this] {
        if (model_ && model_->viewBusy())
            model_->stopView();
        else
            stopReading();
    });
    filterRow_ = new GridFilterRow(this);
    addViewActions();
    clipboard_ = new GridClipboard(this);
    layout_ = new GridLayout(this);
    slice_ = new SliceScroll(this);
    // Rows scrolled to, or come from the database, widen their columns
    // once the scrolling rests.
    widenTimer_ = new QTimer(this);
    widenTimer_->setSingleShot(true);
    widenTimer_->setInterval(50);
    connect(widenTimer_, &QTimer::timeout, layout_, &GridLayout::widenToShown);
    connect(verticalScrollBar(), &QScrollBar::valueChanged, widenTimer_, qOverload<>(&QTimer::start));
}

QStyledItemDelegate* DataGrid::newDelegate(QObject* parent)
{
    return new GridDelegate(parent, [this](const QString& reason) {
        QTimer::singleShot(0, this, [this, reason] { ShowMessage(window(), reason); });
    });
}

void DataGrid::updateGeometries()
{
    // The bars' own change of the margins lays out nothing more.
    if (layingOut_)
        return;
    QTableView::updateGeometries();
    layoutBars();
}

// The bars below the rows take room from the rows, never from the page:
// the grid's own rectangle stays what the page's layout gives it.
void DataGrid::layoutBars()
{
    if (layingOut_)
        return;
    layingOut_ = true;
    bool any = false;
    for (QWidget* bar : bottomBars_->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        any = any || !bar->isHidden();
    const int bottom = any ? bottomBars_->sizeHint().height() : 0;
    const bool filters = filterRow_ && !filterRow_->isHidden();
    const int top = filters ? filterRow_->sizeHint().height() : 0;
    // The base has just set the margins for the headings alone.
    const QMargins margins = viewportMargins();
    // As the base measures the headings (their widget may not be laid out yet).
    QHeaderView* heading = horizontalHeader();
    const int headings = heading->isHidden() ? 0 : std::max(heading->minimumHeight(), heading->sizeHint().height());
    if (margins.bottom() != bottom || margins.top() != headings + top)
        setViewportMargins(margins.left(), headings + top, margins.right(), bottom);
    const QRect rows = viewport()->geometry();
    // The row headings follow the rows down past the filter row.
    if (!verticalHeader()->isHidden())
        verticalHeader()->setGeometry(rows.left() - verticalHeader()->width(), rows.top(), verticalHeader()->width(),
                                      rows.height());
    if (!heading->isHidden())
        heading->setGeometry(rows.left(), rows.top() - top - headings, rows.width(), headings);
    if (filters) {
        filterRow_->setGeometry(rows.left(), rows.top() - top, rows.width(), top);
        filterRow_->followHeader();
        filterRow_->raise();
    }
    bottomBars_->setVisible(any);
    if (any) {
        bottomBars_->setGeometry(frameWidth(), rows.bottom() + 1, rows.right() + 1 - frameWidth(), bottom);
        bottomBars_->raise();
    }
    // The base fitted the scroll range to the rows' room before the bars
    // took theirs: fit it again (rows are all one height, scrolled by row).
    if ((top || bottom) && model()) {
        const int rowHeight = std::max(1, verticalHeader()->defaultSectionSize());
        const int visible = std::max(1, rows.height() / rowHeight);
        const int count = model()->rowCount();
        verticalScrollBar()->setPageStep(visible);
        verticalScrollBar()->setRange(0, std::max(0, count - visible));
    }
    if (FrozenColumns* frozen = layout_ ? layout_->frozen() : nullptr)
        frozen->place();
    layingOut_ = false;
}

void DataGrid::showRowsInDatabase()
{
    statusLine_->showInDatabase(model_->totalRows(), model_->countingRows(), *model_->readOverBudget(),
                                model_->isFiltered(), model_->rowLimit(), model_->readOverRows());
}

std::int64_t DataGrid::rowLimit() const
{
    if (rowLimit_)
        return *rowLimit_;
    // The view places its rows in int pixels, and hangs once they pass:
    // room is kept for the rows that come before the count is cut.
    constexpr std::int64_t kPixels = std::numeric_limits<int>::max() - (1 << 26);
    return kPixels / std::max(1, verticalHeader()->defaultSectionSize());
}

void DataGrid::stopReading(bool waitForEnd)
{
    if (!model_ || !model_->reading())
        return;
    model_->stopReading(waitForEnd);
}

void DataGrid::readProgress(qint64 rows)
{
    if (model_ && model_->reading())
        statusLine_->showReading(rows, model_->estimatedRows());
}

void DataGrid::readEnded()
{
    if (!model_)
        return;
    const qint64 rows = model_->totalRows();
    applyWaitingView();
    switch (model_->readState()) {
    case TableReader::State::Done:
    case TableReader::State::Reading:
        statusLine_->showDone(rows);
        showFilterCount();
        break;
    case TableReader::State::Stopped:
        if (model_->rowsInDatabase())
            showRowsInDatabase();
        else
            statusLine_->showStopped(rows, model_->readOutOfMemory(), model_->readOverBudget(),
                                     model_->readOverRows() ? std::optional<qint64>(model_->rowLimit())
                                                            : std::nullopt);
        break;
    case TableReader::State::Failed:
        statusLine_->showFailed(rows);
        // Reported, and the program goes on with the rows read so far.
        if (const std::optional<DbError>& failure = model_->readFailure())
            QTimer::singleShot(0, this, [this, number = failure->number(),
                                          text = QString::fromStdString(failure->description())] {
                ShowMessage(window(), QStringLiteral("Not every row could be read.\n\nError %1: %2")
                                          .arg(QString::number(number), text));
            });
        break;
    }
}

void DataGrid::applyWaitingView()
{
    if (!viewWaiting_ || !carried_)
        return;
    // What was asked for while rows were coming applies to them all now.
    viewWaiting_ = false;
    const std::unique_ptr<Carried> carried = std::move(carried_);
    restore(*carried);
}

bool DataGrid::edit(const QModelIndex& index, EditTrigger trigger, QEvent* event)
{
    const bool byUser = trigger != QAbstractItemView::NoEditTriggers && trigger != QAbstractItemView::CurrentChanged
                        && (editTriggers() & trigger);
    if (byUser && model_ && model_->editsWaitForRead() && index.isValid()) {
        statusLine_->showNote(QStringLiteral("Rows can be edited once they are all read (or after Stop)."));
        return false;
    }
    if (byUser && model_ && model_->viewBusy() && index.isValid()) {
        statusLine_->showNote(QStringLiteral("Rows can be edited once they are in their new order (or after Stop)."));
        return false;
    }
    // A column kept in place is edited where it shows.
    if (FrozenColumns* frozen = layout_->frozen(); frozen && index.isValid() && frozen->holds(index.column()))
        return frozen->editCell(index, trigger, event);
    return QTableView::edit(index, trigger, event);
}

void DataGrid::scrollTo(const QModelIndex& index, ScrollHint hint)
{
    FrozenColumns* frozen = layout_ ? layout_->frozen() : nullptr;
    const int sideways = horizontalScrollBar()->value();
    QTableView::scrollTo(index, hint);
    if (!frozen || !index.isValid())
        return;
    // A column kept in place shows as it is; another is never left under them.
    if (frozen->holds(index.column()))
        horizontalScrollBar()->setValue(sideways);
    else if (const int left = visualRect(index).left(); left < frozen->frozenWidth())
        horizontalScrollBar()->setValue(horizontalScrollBar()->value() - (frozen->frozenWidth() - left));
}

void DataGrid::SetDataSource(std::unique_ptr<EditableRowset> rowset)
{
    // The same table read again (a refresh) carries its own view over.
    const bool readAgain = model_ && rowset && model_->table() == rowset->table();
    layout_->tableClosing();
    TableModel* previous = std::exchange(model_, rowset ? new TableModel(std::move(rowset), this) : nullptr);
    if (model_)
        model_->setRowLimit(rowLimit());
    QItemSelectionModel* oldSelection = selectionModel();
    setModel(model_);
    delete oldSelection;
    // The view no longer uses it: the old rowset and its connection end here.
    delete previous;
    statusLine_->clear();
    carried_.reset();
    afterView_ = nullptr;
    finding_ = false;
    viewWaiting_ = false;
    followColumn_ = -1;
    horizontalHeader()->setSortIndicatorShown(false);
    filterRow_->clear();
    filterRow_->hide();
    QStringList names;
    if (model_)
        for (int c = 0; c < model_->columnCount(); ++c)
            names << model_->headerData(c, Qt::Horizontal).toString();
    filterRow_->setColumns(horizontalHeader(), names);
    layoutBars();
    clipboard_->Attach(model_);
    slice_->attach(model_);
    if (model_)
        model_->setSliceHold([this] { return details_ && details_->holdsTyping(); });
    if (model_) {
        connect(model_, &TableModel::readProgress, this, &DataGrid::readProgress);
        connect(model_, &TableModel::readEnded, this, &DataGrid::readEnded);
        connect(model_, &TableModel::countProgress, this, [this] {
            if (!model_->rowsInDatabase())
                return;
            if (model_->readOverBudget())
                showRowsInDatabase();
            // Numbered anew, the rows had no current cell: the first one is.
            if (!currentIndex().isValid() && model_->rowCount() > 0) {
                const QScopedValueRollback placing(placing_, true);
                setCurrentIndex(model_->index(0, 0));
            }
        });
        // Rows that go to the database before any shows have their widths
        // fitted once their first rows come, not to the empty cells: the rows
        // on the screen (the current row may have been found again far down).
        connect(model_, &TableModel::dataChanged, this, [this, fit = std::make_shared<bool>(true)] {
            widenTimer_->start();
            const QModelIndex top = model_->index(std::max(rowAt(0), 0), 0);
            if (*fit && model_->rowsInDatabase() && !model_->data(top).toString().isEmpty()) {
                *fit = false;
                layout_->fitWidthsAgain();
            }
        });
        // Rows that go to the database keep the current cell on its row, once
        // the database tells where the row stands, unless the user moved first.
        connect(model_, &TableModel::rowsGoingToDatabase, this, [this] {
            const QModelIndex at = currentIndex();
            model_->followRow(at.isValid() ? at.row() : -1);
            followColumn_ = at.isValid() ? at.column() : -1;
        });
        connect(model_, &TableModel::rowFollowed, this, [this](qint64 at) {
            const int column = std::exchange(followColumn_, -1);
            // Typing meanwhile is the user's too: the row typed is not left for them.
            if (column < 0 || at < 0 || state() == QAbstractItemView::EditingState || model_->pendingRow() >= 0)
                return;
            const int row = model_->revealRow(at);
            if (row < 0)
                return;
            const QModelIndex to = model_->index(row, column);
            setCurrentIndex(to);
            scrollTo(to, QAbstractItemView::PositionAtCenter);
        });
        connect(model_, &TableModel::viewEnded, this, &DataGrid::viewEnded);
        connect(model_, &TableModel::findEnded, this,
                [this](const std::optional<TableModel::Found>& found) { showFound(found, findingBackwards_); });
        connect(model_, &TableModel::writeNoted, this, [this](const QString& text, bool tellNow) {
            if (!tellNow) {
                statusLine_->showNote(text);
                return;
            }
            // After the event that wrote the row has been handled, as a refusal is.
            QTimer::singleShot(0, this, [this, text] { ShowMessage(window(), text); });
        });
        // A read that ended while the table was opening (a small table, or
        // one that failed early) is told about as any other.
        if (model_->reading())
            readProgress(model_->totalRows());
        else
            readEnded();
        connect(model_, &TableModel::pendingRowChanged, verticalHeader()->viewport(),
                qOverload<>(&QWidget::update));
        layout_->fitWidths();
        if (model_->rowCount() > 0)
            setCurrentIndex(model_->index(0, 0));
        layout_->tableOpened(!readAgain);
    }
    emit dataSourceChanged();
}

void DataGrid::commitOpenEditor()
{
    if (state() != QAbstractItemView::EditingState)
        return;
    if (QWidget* editor = indexWidget(currentIndex())) {
        commitData(editor);
        closeEditor(editor, QAbstractItemDelegate::NoHint);
    }
}

void DataGrid::discardOpenEditor()
{
    if (state() != QAbstractItemView::EditingState)
        return;
    if (QWidget* editor = indexWidget(currentIndex()))
        closeEditor(editor, QAbstractItemDelegate::RevertModelCache);
}

int DataGrid::submitPendingRow(RowRefusal* refusal)
{
    if (!model_)
        return -1;
    commitOpenEditor();
    const int row = model_->pendingRow();
    if (row < 0)
        return -1;
    std::optional<RowRefusal> refused = model_->submitRow(row);
    if (!refused)
        return -1;
    *refusal = std::move(*refused);
    return row;
}

void DataGrid::goBackToRow(int row)
{
    setCurrentIndex(model_->index(row, std::max(0, currentIndex().column())));
    setFocus();
}

bool DataGrid::commitPendingRow()
{
    // Never a second write while one waits for the database.
    if (model_ && model_->writing())
        return false;
    RowRefusal refusal;
    const int row = submitPendingRow(&refusal);
    if (row < 0)
        return true;
    const int back = showRefusal(row, std::move(refusal), Leaving::Row);
    if (back < 0)
        return true;
    goBackToRow(back);
    return false;
}

int DataGrid::showRefusal(int row, RowRefusal refusal, Leaving leaving)
{
    // Another user's change or deletion is settled in the conflict window,
    // again for as long as the write it asks for meets one.
    while (model_ && refusal.isConflict() && model_->isRowPending(row)) {
        std::optional<RowRefusal> again;
        row = settleConflict(row, refusal, &again);
        if (!again)
            return row;
        refusal = std::move(*again);
    }
    if (!model_ || !model_->isRowPending(row)) {
        ShowMessage(window(), savingFailedText(QString::fromStdString(refusal.text)));
        return -1;
    }
    if (leaving == Leaving::Row) {
        ShowMessage(window(), savingFailedText(QString::fromStdString(refusal.text)));
        return row;
    }
    // The view or the page is being left: go back to the row, or let it go.
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Dervanta"),
                    QStringLiteral("The row you changed could not be saved: %1\n\nGo back to the row to correct "
                                   "it, or discard your changes to it?")
                        .arg(sentenceEnd(QString::fromStdString(refusal.text))),
                    QMessageBox::NoButton, window());
    box.setTextFormat(Qt::PlainText);
    QPushButton* back = box.addButton(QStringLiteral("Go Back to the Row"), QMessageBox::RejectRole);
    QPushButton* discard = box.addButton(QStringLiteral("Discard Changes"), QMessageBox::DestructiveRole);
    box.setDefaultButton(back);
    box.setEscapeButton(back);
    box.exec();
    if (box.clickedButton() == discard) {
        model_->revertRow(row);
        return -1;
    }
    return row;
}

bool DataGrid::finishEditing()
{
    // Leaving the page stops the read without waiting for it.
    stopReading(false);
    layout_->flush();
    RowRefusal refusal;
    const int row = submitPendingRow(&refusal);
    if (row < 0)
        return true;
    const int back = showRefusal(row, std::move(refusal), Leaving::View);
    if (back < 0)
        return true;
    goBackToRow(back);
    return false;
}

void DataGrid::currentChanged(const QModelIndex& current, const QModelIndex& previous)
{
    // The base commits an open editor of the previous cell first.
    QTableView::currentChanged(current, previous);
    // A move from a cell to another (the user's) wins over a row followed
    // into the database; the grid's own placing after a new view does not.
    if (previous.isValid() && current.isValid() && current != previous && !placing_)
        followColumn_ = -1;
    if (!model_ || returning_ || !previous.isValid() || current.row() == previous.row())
        return;
    const int row = previous.row();
    if (!model_->isRowPending(row))
        return;
    if (const std::optional<RowRefusal> refusal = model_->submitRow(row))
        returnToRow(row, previous.column(), *refusal);
}

void DataGrid::returnToRow(int row, int column, const RowRefusal& refusal)
{
    // Shown once the event that left the row has been handled completely, so
    // that a mouse press does not select the new row after the return.
    whenIdle([this, row, column, refusal] {
        const int back = showRefusal(row, refusal, Leaving::Row);
        if (!model_ || back < 0 || !model_->isRowPending(back))
            return;
        returning_ = true;
        selectionModel()->setCurrentIndex(model_->index(back, std::max(0, column)),
                                          QItemSelectionModel::ClearAndSelect);
        returning_ = false;
        setFocus();
    });
}

void DataGrid::whenIdle(std::function<void()> work)
{
    // Once the event being handled is done; while a write waits for the
    // database (timers fire then), only after it.
    const int delay = model_ && model_->writing() ? 50 : 0;
    QTimer::singleShot(delay, this, [this, work = std::move(work)]() mutable {
        if (model_ && model_->writing()) {
            whenIdle(std::move(work));
            return;
        }
        work();
    });
}

void DataGrid::onFocusChanged(QWidget* old, QWidget* now)
{
    // Leaving the grid for another control of the page leaves the row too.
    // A message box or a menu is another window: the row is not left then.
    if (!model_ || !old || !now || !ownsWidget(old) || ownsWidget(now) || now->window() != window())
        return;
    const int row = model_->pendingRow();
    if (row < 0)
        return;
    if (const std::optional<RowRefusal> refusal = model_->submitRow(row))
        returnToRow(row, currentIndex().column(), *refusal);
}

bool DataGrid::ownsWidget(const QWidget* w) const { return w == this || isAncestorOf(w); }

void DataGrid::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier && model_ && model_->viewBusy()) {
        model_->stopView();
        event->accept();
        return;
    }
    // Esc takes back the typing of the row first; then it stops the read.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier && model_
        && state() != QAbstractItemView::EditingState) {
        const int row = currentIndex().row();
        if (model_->isRowPending(row)) {
            model_->revertRow(row);
            event->accept();
            return;
        }
    }
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier && model_ && model_->reading()) {
        stopReading();
        event->accept();
        return;
    }
    // Rows kept in the database a slice at a time: Ctrl+Home and Ctrl+End
    // go to the slice's first or last row, which leaves (and writes) a row
    // typed into, and then to the table's, the slice moved there.
    const bool edge = model_ && model_->sliced() && event->modifiers() == Qt::ControlModifier
                      && (event->key() == Qt::Key_Home || event->key() == Qt::Key_End);
    const bool last = event->key() == Qt::Key_End;
    QTableView::keyPressEvent(event);
    if (edge && model_ && (last ? !model_->sliceAtEnd() : model_->base() > 0) && slice_->toEdge(last)) {
        setCurrentIndex(model_->index(last ? model_->rowCount() - 1 : 0, std::max(currentIndex().column(), 0)));
        scrollTo(currentIndex());
    }
}

void DataGrid::setCurrentToNull()
{
    const QModelIndex index = currentIndex();
    if (!model_ || !index.isValid())
        return;
    discardOpenEditor();
    if (const std::optional<RowRefusal> why = model_->setNull(index))
        ShowMessage(window(), QString::fromStdString(why->text));
}

void DataGrid::deleteSelectedRows()
{
    if (!model_)
        return;
    // Followed by persistent indexes: a refused write settled while the
    // question is up (or just before the delete) may take a row out or move it.
    QList<QPersistentModelIndex> chosen;
    for (const QModelIndex& index : selectionModel()->selectedRows())
        if (!model_->isNewRowPlaceholder(index.row()))
            chosen.append(index);
    if (chosen.isEmpty())
        return;
    const QString question = chosen.size() == 1
                                 ? QStringLiteral("Delete the selected row from the table?")
                                 : QStringLiteral("Delete the %1 selected rows from the table?").arg(chosen.size());
    if (!AskQuestion(window(), question))
        return;
    const auto chosenRows = [&chosen] {
        QList<int> rows;
        for (const QPersistentModelIndex& index : chosen)
            if (index.isValid())
                rows.append(index.row());
        return rows;
    };
    commitOpenEditor();
    const int pending = model_->pendingRow();
    if (pending >= 0) {
        if (chosenRows().contains(pending))
            model_->revertRow(pending);
        else if (!commitPendingRow())
            return;
    }
    const QList<int> rows = chosenRows();
    // The model started over meanwhile: the rows chosen are not known any more.
    if (rows.size() != chosen.size())
        return;
    const std::vector<TableModel::RowRefused> failures = model_->deleteRows(rows);
    if (failures.empty())
        return;
    QStringList lines;
    for (const TableModel::RowRefused& failure : failures)
        lines << QStringLiteral("Row %1: %2").arg(model_->rowNumber(failure.row)).arg(QString::fromStdString(failure.refusal.text));
    ShowMessage(window(), QStringLiteral("Some rows could not be deleted:\n\n%1").arg(lines.join(QLatin1Char('\n'))));
}

void DataGrid::contextMenuEvent(QContextMenuEvent* event)
{
    if (!model_)
        return;
    const QModelIndex index = currentIndex();
    setNullAction_->setEnabled(index.isValid() && (model_->flags(index) & Qt::ItemIsEditable));
    bool wholeRows = false;
    for (const QModelIndex& row : selectionModel()->selectedRows())
        wholeRows = wholeRows || !model_->isNewRowPlaceholder(row.row());
    deleteRowsAction_->setEnabled(wholeRows);
    QMenu menu(this);
    // What changes rows first (Set to NULL stays on top, where it always
    // was), then what changes the view.
    menu.addAction(setNullAction_);
    menu.addAction(deleteRowsAction_);
    menu.addAction(rowDetailsAction_);
    menu.addSeparator();
    clipboard_->AddMenuActions(menu);
    menu.addSeparator();
    sortAscendingAction_->setEnabled(index.isValid());
    sortDescendingAction_->setEnabled(index.isValid());
    for (QAction* a : {sortAscendingAction_, sortDescendingAction_, tableOrderAction_})
        menu.addAction(a);
    menu.addSeparator();
    const std::optional<QString> filter = index.isValid() ? valueFilter(index, false) : std::nullopt;
    filterByValueAction_->setEnabled(filter.has_value());
    excludeValueAction_->setEnabled(filter.has_value());
    for (QAction* a : {findAction_, clipboard_->ReplaceAction(), goToRowAction_, filterAction_, filterByValueAction_,
                       excludeValueAction_, refreshAction_, exportAction_, importAction_})
        menu.addAction(a);
    // Added last, so that nothing above moves.
    bool cellsSelected = false;
    for (const QItemSelectionRange& range : selectionModel()->selection())
        cellsSelected = cellsSelected || !model_->isNewRowPlaceholder(range.top());
    exportSelectionAction_->setEnabled(cellsSelected);
    addSortAscendingAction_->setEnabled(index.isValid());
    addSortDescendingAction_->setEnabled(index.isValid());
    menu.addSeparator();
    for (QAction* a : {exportSelectionAction_, addSortAscendingAction_, addSortDescendingAction_})
        menu.addAction(a);
    layout_->addMenuActions(menu, index.isValid() ? index.column() : -1);
    menu.exec(event->globalPos());
    exportSelectionAction_->setEnabled(true);
    clipboard_->MenuClosed();
    setNullAction_->setEnabled(true);
    deleteRowsAction_->setEnabled(true);
    filterByValueAction_->setEnabled(true);
    excludeValueAction_->setEnabled(true);
}

QItemSelection DataGrid::shownSelection() const
{
    // A block selected across a hidden column holds its cells too: they are
    // not the user's to count unseen.
    QItemSelection shown;
    for (const QItemSelectionRange& range : selectionModel()->selection()) {
        int start = -1;
        for (int c = range.left(); c <= range.right() + 1; ++c) {
            const bool visible = c <= range.right() && !isColumnHidden(c);
            if (visible && start < 0)
                start = c;
            if (!visible && start >= 0) {
                shown.append(QItemSelectionRange(model_->index(range.top(), start), model_->index(range.bottom(), c - 1)));
                start = -1;
            }
        }
    }
    return shown;
}

void DataGrid::selectionChanged(const QItemSelection& selected, const QItemSelection& deselected)
{
    QTableView::selectionChanged(selected, deselected);
    if (summaryWaiting_)
        return;
    summaryWaiting_ = true;
    QTimer::singleShot(0, this, [this] {
        summaryWaiting_ = false;
        statusLine_->showSelection(model_ && selectionModel() ? SelectionSummary(*model_, shownSelection()) : QString());
    });
}
