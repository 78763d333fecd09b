#pragma once

// The editor page's grid: a table view bound to an editable rowset, holding
// the only reference to it. An edited row is written when the user leaves it
// (another row becomes current, or the focus goes to another control of the
// page); a refused write is shown, the typed values stay and the row becomes
// current again. Keys: Esc reverts the row (the first Esc cancels an open
// cell editor), Ctrl+0 sets the cell to NULL, Delete removes the selected
// whole rows after a question. A new row is typed into the empty row at the
// bottom. All member functions are called from the UI thread only.

#include "oracle/EditableRowset.h"

#include <QTableView>

#include <memory>

class GridStatusLine;
class QAction;
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

    // Writes the pending row, if any, before the page is left. On a refused
    // write the user is told why and chooses: go back to the row (false) or
    // discard the typed values (true).
    bool FinishEditing();

    // Writes the pending row now. On failure shows why, keeps the typed
    // values and makes that row current again; returns false.
    bool CommitPendingRow();

    QAction* SetNullAction() const { return setNullAction_; }
    QAction* DeleteRowsAction() const { return deleteRowsAction_; }
    GridStatusLine* StatusLine() const { return statusLine_; }

    // Stops reading the table (Stop, Esc): the rows read so far stay and
    // become editable. Without waitForEnd the rows still on their way
    // arrive later (leaving the page must not wait for them).
    void StopReading(bool waitForEnd = true);

protected:
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void updateGeometries() override;
    bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    // Writes the pending row; the row that could not be written, or -1.
    int submitPendingRow(QString* error);
    void goBackToRow(int row);
    void commitOpenEditor();
    void discardOpenEditor();
    void setCurrentToNull();
    void deleteSelectedRows();
    void returnToRow(int row, int column, const QString& reason);
    void onFocusChanged(QWidget* old, QWidget* now);
    bool ownsWidget(const QWidget* w) const;
    void readProgress(qint64 rows);
    void readEnded();
    void layoutBars();

    TableModel* model_ = nullptr; // a child of the grid
    QAction* setNullAction_ = nullptr;
    QAction* deleteRowsAction_ = nullptr;
    bool returning_ = false;
    // Below the rows, inside the grid's area: what the grid has to say.
    QWidget* bottomBars_ = nullptr;
    GridStatusLine* statusLine_ = nullptr;
    bool layingOut_ = false;
};
