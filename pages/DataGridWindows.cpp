// The grid's windows of its own: the conflict window that settles a write
// another user's change or deletion refused, and the row details window.
// The rows themselves and their writes are in DataGrid.cpp.

#include "pages/ConflictWindow.h"
#include "pages/DataGrid.h"
#include "pages/GridLayout.h"
#include "pages/RowDetailsWindow.h"

#include "oracle/TableModel.h"

int DataGrid::settleConflict(int row, const RowRefusal& refusal, std::optional<RowRefusal>* again)
{
    if (!model_ || !model_->isRowPending(row))
        return -1;
    // The three versions of the row, as the refusal brought them.
    ConflictWindow ask(model_->columns(), refusal.read, refusal.typed, refusal.current, window());
    const ConflictWindow::Choice choice = ask.Ask();
    if (!model_ || !model_->isRowPending(row))
        return -1;

    // Whatever is chosen, the row is checked from now on against what the
    // database holds now, and Esc restores that.
    if (refusal.current)
        model_->takeCurrent(row, *refusal.current);
    switch (choice) {
    case ConflictWindow::Choice::KeepEditing:
        break;
    case ConflictWindow::Choice::UseTheirs: {
        // Theirs as they are now: the row may have changed again, or gone,
        // while the window was up. A row gone is settled as one.
        const RowNow now = model_->readRowAgain(row);
        if (now.state == RowNow::State::Gone) {
            RowRefusal gone = makeRefusal(RowRefusal::Why::DeletedByOther, RowRefusal::kDeletedByOtherUser);
            gone.read = model_->valuesRead(row);
            for (int c = 0; c < model_->columnCount(); ++c)
                gone.typed.push_back(model_->typedCell(row, c));
            *again = std::move(gone);
            break;
        }
        if (now.state == RowNow::State::Found)
            model_->takeCurrent(row, now.values);
        model_->revertRow(row);
        break;
    }
    case ConflictWindow::Choice::Overwrite:
        *again = model_->submitRow(row);
        break;
    case ConflictWindow::Choice::InsertAsNewRow: {
        if (model_->rowsInDatabase()) {
            *again = model_->insertAgain(row);
            break;
        }
        const int column = std::max(0, currentIndex().column());
        row = model_->convertToNewRow(row);
        if (row < 0)
            return -1;
        *again = model_->submitRow(row);
        // The model started over: the current cell goes to the row inserted.
        returning_ = true;
        setCurrentIndex(model_->index(row, column));
        returning_ = false;
        scrollTo(currentIndex());
        break;
    }
    case ConflictWindow::Choice::Discard:
        model_->forgetRow(row);
        return -1;
    }
    return model_->isRowPending(row) ? row : -1;
}

DataGrid::~DataGrid()
{
    // The details window is a window of the page but works on this grid:
    // it goes with the grid.
    delete details_;
    // The layout is written before the model goes with the grid's children,
    // and the view of the columns kept in place goes while the grid is whole.
    layout_->tableClosing();
}

void DataGrid::showRowDetails()
{
    if (!model_)
        return;
    // A value still in the cell's editor is shown there too.
    commitOpenEditor();
    if (!details_)
        details_ = new RowDetailsWindow(this, window());
    details_->Open();
}

RowDetailsWindow* DataGrid::rowDetails() const { return details_; }
