#pragma once

// The chooser page's list of table names. FillTableList clears it and appends
// one name at a time, yielding to the event loop after each. A shown list
// view lays out all its entries again after every insertion it is told of,
// which made a long fill quadratic; so the model takes names at once but
// tells the view of them in batches, at most every 100 ms, and every entry
// has the same height so that the view never measures entries one by one.
// Reading the list through TableList publishes what is pending first.
// All member functions are called from the UI thread only.

#include "oracle/Oracle.h"

#include <QAbstractListModel>
#include <QListView>
#include <QTimer>

#include <vector>

class TableListModel : public QAbstractListModel {
    Q_OBJECT
public:
    explicit TableListModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    void clear();
    void append(const QString& name);
    // Tells the view of every name appended so far.
    void publish();
    int count() const { return static_cast<int>(names_.size()); }
    const QString& at(int row) const { return names_[static_cast<std::size_t>(row)]; }

private:
    std::vector<QString> names_;
    int published_ = 0; // the rows the view knows of
    QTimer publishTimer_;
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

protected:
    // Once an entry is selected, one always is: a click below the last entry
    // or Ctrl+click on the selected one leaves the selection as it is.
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                         const QEvent* event = nullptr) const override;

private:
    TableListModel model_;
};
