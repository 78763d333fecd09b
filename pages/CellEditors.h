#pragma once

// The editors a cell gets by its column's type as the database reports it,
// in the grid and in the row details window: a check box for a boolean, a
// date box with a calendar for dates and date-times, a drop-down of the
// allowed values for an enum or a CHECK (col IN (...)) list, and a box that
// looks up the referenced keys for a foreign key. Every one still takes any
// text typed (the database judges it); a cell of any other type keeps the
// plain text box. Also how a boolean cell is drawn and toggled, and the
// mark on a typed value its column's type may not hold.

#include "oracle/RowRefusal.h"

#include <QModelIndex>
#include <QObject>
#include <QPointer>

#include <map>
#include <optional>

class KeyLookup;
class QPainter;
class QStyleOptionViewItem;
class QWidget;
class TableModel;

class CellEditors : public QObject {
    Q_OBJECT
public:
    explicit CellEditors(QObject* parent);
    ~CellEditors() override;

    // An editor for the cell; null where the plain text box serves.
    QWidget* create(QWidget* parent, const TableModel& model, const QModelIndex& index);
    // Once the editor shows the cell's value: typing replaces it, as in a text box.
    static void filled(QWidget* editor);
    // Marks the editor's box while what is typed may not fit the column
    // (its background and tool tip), as the cell is marked once it is in.
    static void watch(QWidget* editor, const TableModel& model, const QModelIndex& index);

    // The lookup of a foreign-key column (one per column, made at first use
    // with a connection of its own); null for any other column.
    KeyLookup* lookup(const TableModel& model, int column);

    // A boolean cell: the state its check box shows; nothing for a cell of
    // another type, or one holding a text that is no boolean.
    static std::optional<Qt::CheckState> checkState(const QModelIndex& index);
    static bool isBoolean(const QModelIndex& index);
    // Whether the column may hold NULL (as far as the catalogue tells).
    static bool nullable(const TableModel& model, int column);
    // Turns a boolean cell to its next state: true, false, then NULL where
    // the column allows it; the refusal when the model refuses.
    static std::optional<RowRefusal> toggle(TableModel& model, const QModelIndex& index);
    // Shows a boolean cell as a check box (in the style option).
    static void styleCheck(QStyleOptionViewItem* option, const QModelIndex& index);
    // Marks a cell whose typed value may not fit its column: a red wavy line
    // under it and a red corner (the reason is the cell's tool tip).
    static void paintWarning(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index);

private:
    void dropLookups();

    QPointer<const TableModel> model_;
    std::map<int, KeyLookup*> lookups_; // children of this object, by column
};
