// The grid's windows of its own: the conflict window that settles a write
// another user's change or deletion refused, and the row details window.
// The rows themselves and their writes are in DataGrid.cpp.

#include "pages/ConflictWindow.h"
#include "pages/DataGrid.h"
#include "pages/RowDetailsWindow.h"

#include "oracle/TableModel.h"

int DataGrid::settleConflict(int row, const RowRefusal& refusal, std::optional<RowRefusal>* again)
{
    if (!model_ || !model_->IsRowPending(row))
        return -1;
    const EditableRowset& rowset = model_->rowset();
    const std::int64_t at = model_->RowsetRow(row);
    std::vector<std::optional<Value>> typed;
    for (int c = 0; c < rowset.columnCount(); ++c)
        typed.push_back(rowset.typedCell(at, c));
    const std::vector<Value> read = at < rowset.snapshot().rowCount() ? rowset.snapshot().row(at) : std::vector<Value>{};
    ConflictWindow ask(rowset.columns(), read, typed, refusal.current, window());
    const ConflictWindow::Choice choice = ask.Ask();
    if (!model_ || !model_->IsRowPending(row))
        return -1;

    // Whatever is chosen, the row is checked from now on against what the
    // database holds now, and Esc restores that.
    if (refusal.current)
        model_->TakeCurrent(row, *refusal.current);
    switch (choice) {
    case ConflictWindow::Choice::KeepEditing:
        break;
    case ConflictWindow::Choice::UseTheirs: {
        // Theirs as they are now: the row may have changed again, or gone,
        // while the window was up. A row gone is settled as one.
        const EditableRowset::RowNow now = model_->ReadRowAgain(row);
        if (now.state == EditableRowset::RowNow::State::Gone) {
            *again = RowRefusal{RowRefusal::Why::DeletedByOther, EditableRowset::kDeletedByOtherUser, std::nullopt};
            break;
        }
        if (now.state == EditableRowset::RowNow::State::Found)
            model_->TakeCurrent(row, now.values);
        model_->RevertRow(row);
        break;
    }
    case ConflictWindow::Choice::Overwrite:
        *again = model_->SubmitRow(row);
        break;
    case ConflictWindow::Choice::InsertAsNewRow: {
        const int column = std::max(0, currentIndex().column());
        row = model_->ConvertToNewRow(row);
        if (row < 0)
            return -1;
        *again = model_->SubmitRow(row);
        // The model started over: the current cell goes to the row inserted.
        returning_ = true;
        setCurrentIndex(model_->index(row, column));
        returning_ = false;
        scrollTo(currentIndex());
        break;
    }
    case ConflictWindow::Choice::Discard:
        model_->ForgetRow(row);
        return -1;
    }
    return model_->IsRowPending(row) ? row : -1;
}

DataGrid::~DataGrid()
{
    // The details window is a window of the page but works on this grid:
    // it goes with the grid.
    delete details_;
}

void DataGrid::ShowRowDetails()
{
    if (!model_)
        return;
    // A value still in the cell's editor is shown there too.
    commitOpenEditor();
    if (!details_)
        details_ = new RowDetailsWindow(this, window());
    details_->Open();
}

RowDetailsWindow* DataGrid::RowDetails() const { return details_; }
