#include "pages/TableList.h"

int TableListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(names_.size());
}

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
    beginResetModel();
    names_.clear();
    endResetModel();
}

void TableListModel::append(const QString& name)
{
    const int row = rowCount();
    beginInsertRows({}, row, row);
    names_.push_back(name);
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

int TableList::ListCount() const { return model_.rowCount(); }

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
    if (index < 0 || index >= ListCount()) {
        selectionModel()->clearSelection();
        return;
    }
    setCurrentIndex(model_.index(index));
    selectionModel()->select(model_.index(index), QItemSelectionModel::ClearAndSelect);
}
