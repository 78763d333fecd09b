#pragma once

// Changes to many rows of the grid's model written one row at a time, each
// exactly as if the user had typed the row and left it: the row's cells are
// put in (typing rules for text, or exact values), then the row is written
// by the model, in its own transaction, under the exactly-one-row rule. The
// first row refused ends the batch: it stays pending with its values and
// the reason; the rows before it are written, the rows after it untouched.
// Paste and Replace All are batches; so is taking back a paste.

#include "oracle/ClipboardText.h"
#include "oracle/Engine.h"
#include "oracle/RowRefusal.h"

#include <QString>

#include <functional>
#include <utility>
#include <vector>

class TableModel;

// What goes into one cell: a text typed (an empty one is NULL in a column
// that is not text) or an exact value.
struct CellInput {
    bool exact = false;
    Value value; // the text's UTF-8 bytes when not exact
};

// One row's cells: a row of the model, or -1 for a new row typed into the
// new-row placeholder, wherever it is by then.
struct RowInput {
    int row = -1;
    std::vector<std::pair<int, CellInput>> cells; // (column, what goes in)
};

// How a batch ended.
struct BatchResult {
    int total = 0;        // rows in the batch
    int written = 0;      // rows done (written, or left unchanged)
    // A row was refused: why, and the model's row (-1: a row the grid does not show).
    std::optional<RowRefusal> refusal;
    int refusedRow = -1;
    bool stopped = false; // the user asked to stop

    bool complete() const { return !refusal && !stopped && written == total; }
    // "7 of 10 rows written; row 8: <reason>" (rows as the grid numbers them).
    QString summary() const;
};

// Told how far the batch is after each row; false stops it after that row.
using BatchProgress = std::function<bool(int written, int total)>;

// Writes the rows in order (see above). The model must not be reading, nor
// have a pending row.
BatchResult WriteRows(TableModel& model, const std::vector<RowInput>& rows, const BatchProgress& progress = {});

// The rows of a paste: a block whose top left cell lands on `row`, its
// columns on `columns` (the columns shown from there rightwards, in order).
// Rows at or past the new-row placeholder become new rows. A cell with no
// value leaves its cell alone.
std::vector<RowInput> PasteRows(const TableModel& model, const CellBlock& block, int row, const std::vector<int>& columns);
std::vector<RowInput> PasteRows(const TableModel& model, const TextRows& block, int row, const std::vector<int>& columns);
