#include "pages/TableList.h"

TableListModel::TableListModel(QObject* parent)
    : QAbstractListModel(parent)
{
    publishTimer_.setSingleShot(true);
    publishTimer_.setInterval(100);
    connect(&publishTimer_, &QTimer::timeout, this, &TableListModel::publish);
}

int TableListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : published_; }

QVariant TableListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole || role == Qt::ToolTipRole)
        return at(index.row());
    return {};
}

void TableListModel::clear()
{
    publishTimer_.stop();
    beginResetModel();
    names_.clear();
    published_ = 0;
    endResetModel();
}

void TableListModel::append(const QString& name)
{
    names_.push_back(name);
    if (!publishTimer_.isActive())
        publishTimer_.start();
}

void TableListModel::publish()
{
    publishTimer_.stop();
    if (published_ == count())
        return;
    beginInsertRows({}, published_, count() - 1);
    published_ = count();
    endInsertRows();
}

TableList::TableList(QWidget* parent)
    : QListView(parent)
{
    setModel(&model_);
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setTextElideMode(Qt::ElideRight);
}

void TableList::Clear() { model_.clear(); }

void TableList::AddItem(const QString& name) { model_.append(name); }

int TableList::ListCount() const { return model_.count(); }

QString TableList::List(int index) const
{
    return index >= 0 && index < ListCount() ? model_.at(index) : QString();
}

int TableList::ListIndex() const
{
    const QModelIndexList selected = selectionModel()->selectedIndexes();
    return selected.isEmpty() ? -1 : selected.first().row();
}

void TableList::SetListIndex(int index)
{
    model_.publish();
    if (index < 0 || index >= ListCount()) {
        selectionModel()->clearSelection();
        return;
    }
    setCurrentIndex(model_.index(index));
    selectionModel()->select(model_.index(index), QItemSelectionModel::ClearAndSelect);
}

QItemSelectionModel::SelectionFlags TableList::selectionCommand(const QModelIndex& index, const QEvent* event) const
{
    if (!selectionModel()->hasSelection())
        return QListView::selectionCommand(index, event);
    if (!index.isValid())
        return QItemSelectionModel::NoUpdate;
    const QItemSelectionModel::SelectionFlags command = QListView::selectionCommand(index, event);
    if (command & (QItemSelectionModel::Deselect | QItemSelectionModel::Toggle))
        return selectionModel()->isSelected(index) ? QItemSelectionModel::NoUpdate
                                                   : QItemSelectionModel::ClearAndSelect;
    return command;
}
