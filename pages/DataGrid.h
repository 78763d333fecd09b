#pragma once

// The editor page's grid: a table view bound to an editable rowset, holding
// the only reference to it. An edited row is written when the user leaves it
// (another row becomes current, or the focus goes to another control of the
// page); a refused write is shown, the typed values stay and the row becomes
// current again, unless the user settles a change or deletion by another
// user otherwise in the conflict window. Keys: Esc reverts the row (the first Esc cancels an open
// cell editor), Ctrl+0 sets the cell to NULL, Delete removes the selected
// whole rows after a question. A new row is typed into the empty row at the
// bottom. Copying, pasting, replacing and undo are GridClipboard's. All
// member functions are called from the UI thread only.

#include "oracle/EditableRowset.h"
#include "oracle/TableModel.h"

#include <QHash>
#include <QPointer>
#include <QStringList>
#include <QTableView>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class GridClipboard;
class GridFilterRow;
class GridFindBar;
class SliceScroll;
class GridLayout;
class GridStatusLine;
class QAction;
class QStyledItemDelegate;
class RowDetailsWindow;
class TableModel;

class DataGrid : public QTableView {
    Q_OBJECT
public:
    explicit DataGrid(QWidget* parent = nullptr);
    ~DataGrid() override;

    // Binds the grid to a rowset, which its model then owns, or unbinds it
    // with nullptr. Either way the previous model goes, and with it the
    // previous rowset and its connection.
    void SetDataSource(std::unique_ptr<EditableRowset> rowset);
    TableModel* Model() const { return model_; }
    // The most rows the grid's view can hold (from its rows' height); a
    // table opened with more goes to the database, which keeps the rest.
    // setRowLimit sets it (for the next table opened), as for a test.
    std::int64_t rowLimit() const;
    void setRowLimit(std::int64_t rows) { rowLimit_ = rows; }
    // Never leaves a cell under the columns kept in place at the left.
    void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;

    // Writes the pending row, if any, before the page is left. On a refused
    // write the user is told why and chooses: go back to the row (false) or
    // discard the typed values (true).
    bool finishEditing();

    // Writes the pending row now. On failure shows why, keeps the typed
    // values and makes that row current again; returns false. A change or
    // deletion by another user is settled in the conflict window first:
    // true when nothing is left pending after it.
    bool commitPendingRow();

    // Runs `work` once the event being handled is done, and never while a
    // write waits for the database (it then runs after that write).
    void whenIdle(std::function<void()> work);

    // The current row as a form in a window of its own (F4), following the
    // grid's current row; null until first shown.
    void showRowDetails();
    RowDetailsWindow* rowDetails() const;

    GridStatusLine* statusLine() const { return statusLine_; }
    GridFilterRow* filterRow() const { return filterRow_; }
    GridFindBar* findBar() const { return findBar_; }
    // Copy, paste, replace, undo and redo.
    GridClipboard* clipboard() const { return clipboard_; }
    // Columns hidden, moved and fitted, and the layout remembered per table.
    GridLayout* columnLayout() const { return layout_; }

    // The view of the rows. Each first writes the pending row, by the same
    // rule as leaving the page; when that write is refused and the user goes
    // back to the row, the view does not change. While rows are still
    // coming, a sort or filter waits for the read to end.
    // Sorts by a column (ascending, descending) or back to the table's order (-1).
    void sortBy(int column, bool descending);
    // Sorts by several columns at once (see TableModel::SortOrder).
    void sortByOrder(const TableModel::SortOrder& order);
    // Adds a column to the sort as its last key (Shift+click on a heading);
    // a column already in it changes direction instead.
    void addToSort(int column, bool descending);
    // Shows the filter row (focused on the current column) or hides and clears it.
    void toggleFilterRow();
    // Opens the find bar (with its replace line, or without); finds the
    // next (or previous) matching cell.
    void openFind(bool withReplace = false);
    void findNext(bool backwards);
    // Writes the pending row, then reads the table again, keeping the sort,
    // the filter, the column widths and the current row.
    void refresh();
    // Asks for a row number and goes there (Ctrl+G), in the order shown.
    void goToRow();
    // Filters the current cell's column by its value, or leaves that value
    // out (the filter row says how, and can change it).
    void filterByCurrentValue(bool exclude);
    // Writes the rows shown, in their order, to a file the user names (CSV,
    // TSV or JSON by its ending), first writing the row being typed.
    void exportRows();
    // The same for the selected cells only: the selected rows' selected
    // columns, in the order shown.
    void exportSelection();

    // Stops reading the table (Stop, Esc): the rows read so far stay and
    // become editable. Without waitForEnd the rows still on their way
    // arrive later (leaving the page must not wait for them).
    void stopReading(bool waitForEnd = true);

signals:
    // The grid was bound to another rowset (or to none).
    void dataSourceChanged();

protected:
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void updateGeometries() override;
    bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) override;

private:
    // Puts back a remembered sort and filter by the grid's own means.
    friend class GridLayout;
    // The columns kept in place while scrolling sideways edit through the grid.
    friend class FrozenColumns;
    // Writes the pending row; the row that could not be written, or -1.
    int submitPendingRow(RowRefusal* refusal);
    // The one way a refused write is told: a change or deletion by another
    // user is settled in the conflict window, anything else is a message;
    // leaving the view or the page, a row still refused offers to go back to
    // it or to discard its changes. The row that still holds typed values
    // afterwards, or -1.
    enum class Leaving { Row, View };
    int showRefusal(int row, RowRefusal refusal, Leaving leaving);
    // One round of the conflict window and the write it asks for (in
    // DataGridWindows.cpp): the row still pending afterwards, or -1; a
    // refusal of that write in *again.
    int settleConflict(int row, const RowRefusal& refusal, std::optional<RowRefusal>* again);
    void goBackToRow(int row);
    void commitOpenEditor();
    void showRowsInDatabase();
    void discardOpenEditor();
    void setCurrentToNull();
    void deleteSelectedRows();
    void returnToRow(int row, int column, const RowRefusal& refusal);
    void onFocusChanged(QWidget* old, QWidget* now);
    bool ownsWidget(const QWidget* w) const;
    void readProgress(qint64 rows);
    void readEnded();
    // Applies the view asked for while rows were coming (after Refresh).
    void applyWaitingView();
    void layoutBars();
    // Writes the pending row before the view changes; false to leave the view as it is.
    bool readyForViewChange();
    void headerClicked(int column);
    void headerMenu(const QPoint& at);
    void showHeaderMenu(int column, const QPoint& globalAt);
    // The delegate the grid draws and edits its cells with, for another view of them.
    QStyledItemDelegate* newDelegate(QObject* parent);
    // The selection without the cells of hidden columns.
    QItemSelection shownSelection() const;
    void applyFilters();
    void applyView(const TableModel::SortOrder& sort);
    // Writes rows (all shown, or those listed) and columns (all, or those listed) to a file the user names.
    void exportPart(std::vector<int> rows, std::vector<int> columns);
    // A view worked out on a worker came back (or not).
    void viewEnded(TableModel::ViewOutcome outcome);
    // After a new view: the sort shown in the heading, the current cell on
    // the row it was on, the filter's count, then what waited for the view.
    void showView(std::int64_t currentRow, int column);
    void runAfterView();
    // Where a find landed (the find bar says how), or "No match".
    void showFound(const std::optional<TableModel::Found>& found, bool backwards);
    void showFilterCount();
    // The filter row under the headings, as it is (shown and laid out).
    void showFilterRow();
    // The filter text that keeps (or leaves out) the cell's value; nothing
    // where the filter row could not say it (binary, several lines, spaces
    // at an end, bytes that are no text).
    std::optional<QString> valueFilter(const QModelIndex& index, bool exclude) const;
    void addViewActions();
    // The view to carry over to the table read again (or to the rows still
    // coming): sort, filter, column widths and the current cell.
    struct Carried {
        TableModel::SortOrder sort;
        QStringList filters;
        bool filterRowShown = false;
        QHash<QString, int> widths;    // by column name
        std::vector<Value> currentKey; // the current row's key, when the table has one
        int currentRow = -1;           // otherwise its place
        QString currentColumn;
    };
    void restore(const Carried& carried);

    TableModel* model_ = nullptr; // a child of the grid
    QAction* setNullAction_ = nullptr;
    QAction* deleteRowsAction_ = nullptr;
    QAction* rowDetailsAction_ = nullptr;
    QPointer<RowDetailsWindow> details_;
    bool returning_ = false;
    // Below the rows, inside the grid's area: what the grid has to say.
    QWidget* bottomBars_ = nullptr;
    GridStatusLine* statusLine_ = nullptr;
    GridFindBar* findBar_ = nullptr;
    // Under the headings, when the user asks for it.
    GridFilterRow* filterRow_ = nullptr;
    QTimer* filterTimer_ = nullptr;
    QTimer* widenTimer_ = nullptr;
    bool layingOut_ = false;
    QAction* findAction_ = nullptr;
    QAction* findNextAction_ = nullptr;
    QAction* findPreviousAction_ = nullptr;
    QAction* filterAction_ = nullptr;
    QAction* refreshAction_ = nullptr;
    QAction* sortAscendingAction_ = nullptr;
    QAction* sortDescendingAction_ = nullptr;
    QAction* tableOrderAction_ = nullptr;
    QAction* goToRowAction_ = nullptr;
    QAction* filterByValueAction_ = nullptr;
    QAction* excludeValueAction_ = nullptr;
    QAction* exportAction_ = nullptr;
    QAction* importAction_ = nullptr;
    QAction* exportSelectionAction_ = nullptr;
    QAction* addSortAscendingAction_ = nullptr;
    QAction* addSortDescendingAction_ = nullptr;
    // What the selection holds is told once the selecting is done.
    bool summaryWaiting_ = false;
    // A view asked for while rows were still coming, applied at the read's end.
    bool viewWaiting_ = false;
    // While a view is worked out on a worker: where the current cell was,
    // and what waits for the view (placing the current row after a refresh).
    std::int64_t viewCurrentRow_ = -1;
    int viewCurrentColumn_ = -1;
    QString viewWhat_; // "sort the rows", for a message when memory runs short
    bool finding_ = false; // the job on the worker is a find
    bool findingBackwards_ = false;
    std::function<void()> afterView_;
    // While the rows going to the database look for the current row: the
    // current cell's column there; -1 when nothing is followed.
    int followColumn_ = -1;
    std::optional<std::int64_t> rowLimit_;
    bool placing_ = false; // the grid itself puts the current cell after a new view
    std::unique_ptr<Carried> carried_;
    GridClipboard* clipboard_ = nullptr;
    GridLayout* layout_ = nullptr;
    SliceScroll* slice_ = nullptr;
};
