#pragma once

// The grid's first columns kept in place while the rows scroll sideways: a
// second view over the same model and selection, laid over the grid's left
// edge (headings, filter boxes and rows), showing only those columns. It
// takes no focus: keys stay with the grid, which hands it the editing of
// its cells; a click or a double-click in it selects or edits as in the grid.

#include <QTableView>

class DataGrid;

class FrozenColumns : public QTableView {
    Q_OBJECT
public:
    // The columns at the first `count` places on the screen.
    FrozenColumns(DataGrid* grid, int count);
    ~FrozenColumns() override;

    int count() const { return count_; }
    // Whether a column of the model is kept in place.
    bool holds(int column) const;
    // The room the columns kept in place take.
    int frozenWidth() const;
    // Takes the grid's order, widths, hidden columns and sort mark, then place().
    void follow();
    // Lies over the grid's left edge, from the headings to the last row shown.
    void place();
    // Opens an editor here, for the grid (which checks that it may).
    bool editCell(const QModelIndex& index, EditTrigger trigger, QEvent* event);

protected:
    bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override;
    void updateGeometries() override;

private:
    DataGrid* grid_;
    int count_;
    int headings_ = 0;
    int band_ = 0; // the filter row's height, when it shows
    bool laying_ = false;
};
