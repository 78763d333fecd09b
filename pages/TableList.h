#pragma once

// The chooser page's list of table names. FillTableList clears it and appends
// one name at a time, yielding to the event loop after each; so that a long
// list stays fast, appending costs the same at any length: every entry has
// the same height and the view never measures entries one by one.
// All member functions are called from the UI thread only.

#include "oracle/Oracle.h"

#include <QAbstractListModel>
#include <QListView>

#include <vector>

class TableListModel : public QAbstractListModel {
    Q_OBJECT
public:
    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    void clear();
    void append(const QString& name);
    const QString& at(int row) const { return names_[static_cast<std::size_t>(row)]; }

private:
    std::vector<QString> names_;
};

class TableList : public QListView, public TableListTarget {
    Q_OBJECT
public:
    explicit TableList(QWidget* parent = nullptr);

    // TableListTarget
    void Clear() override;
    void AddItem(const QString& name) override;

    int ListCount() const;
    QString List(int index) const;
    // The selected entry, -1 for none. Setting it also makes it current.
    int ListIndex() const;
    void SetListIndex(int index);

private:
    TableListModel model_;
};
