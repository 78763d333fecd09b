#pragma once

// The grid's clipboard, replacing and undo. Ctrl+C copies the selected cells
// (Ctrl+Shift+C with the column names first) as tab-separated text, as an
// HTML table and in the program's own exact form; Ctrl+V pastes a block at
// the current cell (one value fills every selected cell); Ctrl+H opens the
// find bar with its replace line; Ctrl+Z takes back and Ctrl+Y (or
// Ctrl+Shift+Z) does again. All of them are in the grid's right-click menu
// too. Rows are written one at a time, each as if typed and left; a batch
// of more than 1,000 rows shows its progress with a Stop button.

#include "oracle/RowBatch.h"
#include "oracle/TableHistory.h"
#include "oracle/TableModel.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <set>
#include <vector>

class DataGrid;
class QAction;
class QMenu;
class TableModel;

class GridClipboard : public QObject {
    Q_OBJECT
public:
    // Rows above which a paste asks first and a batch shows its progress.
    static constexpr int kManyRows = 1000;

    explicit GridClipboard(DataGrid* grid);

    // The grid shows another table (or the same one read again): the
    // history starts anew.
    void Attach(TableModel* model);

    void Copy(bool withColumnNames);
    void Paste();
    void OpenReplace();
    // Replaces the match in the current cell and goes on to the next match.
    void Replace();
    void ReplaceAll();
    void Undo();
    void Redo();
    // Reads a CSV or TSV file the user picks and, after the import window,
    // writes each of its rows as a new row, by the same rule as a paste; an
    // undo takes the imported rows out again.
    void Import();

    // Adds Undo, Redo, Copy, Copy with Column Names and Paste to the grid's
    // right-click menu, named for what they would do now; MenuClosed once
    // the menu is gone. Replace goes beside the grid's Find.
    void AddMenuActions(QMenu& menu);
    void MenuClosed();
    QAction* ReplaceAction() const { return replace_; }

    TableHistory* History() const { return history_; }

private:
    // Before writing many rows: nothing being read, and the row being
    // edited written first (the user may go back to it or discard it
    // instead; either way nothing more happens). False: do nothing.
    bool readyToWrite(const QString& readingNote);
    BatchResult runBatch(int rows, const QString& doing, const std::function<BatchResult(const BatchProgress&)>& work);
    BatchResult runBatchSteps(int rows, const QString& doing,
                              const std::function<BatchResult(const BatchProgress&)>& work);
    void copyCells(bool withColumnNames);
    void paste();
    // The rows of a paste that fills every selected cell with one value.
    std::vector<RowInput> fillInputs(const CellInput& value) const;
    // The rows with a selected cell (not the placeholder); the cells selected.
    std::set<int> selectedRows(qint64* selectedCells) const;
    void selectPasted(int top, int rows, int width, const std::vector<int>& columns);
    void replaceAll();
    // The same among rows kept in the database: the matches found there, each row written by its values.
    void replaceAllInDatabase(const TableModel::FindOptions& options, const QList<int>& columns, int column);
    // How a Replace All ended: on the find bar, or (stopped) in a message.
    void showReplaced(const BatchResult& result, std::size_t cells, std::size_t rows, int column);
    void import();
    // Takes the next step back (or again) row by row and says where it stopped.
    void replayStep(bool redo);
    // After a paste or Replace All that did not write every row.
    void reportStopped(const BatchResult& result, int column);
    void showRow(int row);
    // The columns shown, in their order on the screen, from `column` on
    // (all of them for -1).
    std::vector<int> shownColumns(int fromColumn = -1) const;

    DataGrid* grid_;
    TableModel* model_ = nullptr;
    QPointer<TableHistory> history_;
    QAction* copy_ = nullptr;
    QAction* copyWithNames_ = nullptr;
    QAction* paste_ = nullptr;
    QAction* replace_ = nullptr;
    QAction* undo_ = nullptr;
    QAction* redo_ = nullptr;
};
