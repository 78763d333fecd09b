#pragma once

// The grid's column layout: columns hidden (heading menu "Hide Column",
// "Columns…"), moved by dragging their headings, fitted by a double-click on
// a heading's edge (never wider than the rows' room), the first ones kept in
// place while scrolling sideways ("Freeze Columns Up to Here", "Unfreeze
// Columns"), and "Reset Columns".
// The layout, with the sort and the filter, is remembered per database and
// table in the layout file beside the login's settings (see LayoutStore)
// and put back when the same table is opened again; columns are matched by
// name, a column gone is passed over and a new one goes to the right.

#include "shell/LayoutStore.h"

#include <QObject>
#include <QPointer>
#include <QString>

class DataGrid;
class FrozenColumns;
class QMenu;
class QTimer;

class GridLayout : public QObject {
    Q_OBJECT
public:
    explicit GridLayout(DataGrid* grid);

    // The heading menu's entries for the column under the pointer.
    void addMenuActions(QMenu& menu, int column);

    // The grid was bound to a table: its remembered layout is put on, with
    // the sort and the filter unless the view is carried over (a refresh).
    void tableOpened(bool withView);
    // What is to be remembered is written now (the page is left, the program ends).
    void flush();
    // The grid leaves its table: flushed, and nothing more is remembered for it.
    void tableClosing();
    // The sort or the filter changed.
    void viewChanged();
    // The widths the grid gives a table when it opens it.
    void fitWidths();
    // The same, unless the user's own widths are in force (resized or remembered).
    void fitWidthsAgain()
    {
        if (!userWidths_)
            fitWidths();
    }
    // Rows kept in the database shown far from those the widths were fitted to may hold wider
    // values (a key of more digits): their columns widen to them, never
    // narrow, unless the user's own widths are in force.
    void widenToShown();

    void hideColumn(int column);
    // Asks in the Columns window which columns to show.
    void chooseColumns();
    // Forgets the table's layout: its own order and widths, no sort, no filter.
    void reset();
    // Keeps the columns up to this one (on the screen) in place; none.
    void freezeUpTo(int column);
    void unfreeze();
    FrozenColumns* frozen() const;

    // Where the layouts are kept.
    static QString filePath();

private:
    TableLayout capture() const;
    // Whether the layout holds anything the table would not show by itself.
    bool worthKeeping(const TableLayout& layout) const;
    void apply(const TableLayout& layout, bool withView);
    // The user changed the layout: it is written shortly.
    void changed();
    void fitOne(int column);
    // Every column shown, in the table's order.
    void showTableOrder();
    // The current cell leaves a hidden column for the nearest one shown.
    void keepCurrentShown();
    int shownCount() const;

    DataGrid* grid_;
    QTimer* saveTimer_ = nullptr;
    QString database_; // empty: no table, nothing to remember
    QString table_;
    bool applying_ = false;
    bool userWidths_ = false;
    QPointer<FrozenColumns> frozen_;
    // Keeps the first `count` places; 0 for none.
    void freeze(int count);
};
