#include "pages/GridClipboard.h"

#include "oracle/ClipboardText.h"
#include "oracle/DbError.h"
#include "oracle/ExactText.h"
#include "oracle/MemoryBudget.h"
#include "oracle/TableHistory.h"
#include "oracle/TableModel.h"
#include "pages/DataGrid.h"
#include "pages/GridFindBar.h"
#include "pages/GridStatusLine.h"
#include "pages/ImportWindow.h"
#include "pages/Messages.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QHeaderView>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QMimeData>
#include <QProgressDialog>
#include <QScopeGuard>

#include <algorithm>
#include <limits>
#include <climits>
#include <map>
#include <set>

namespace {

auto busyPointer()
{
    QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
    return qScopeGuard([] { QGuiApplication::restoreOverrideCursor(); });
}

QString sentenceEnd(const QString& reason)
{
    const QString text = reason.trimmed();
    if (text.endsWith(u'.') || text.endsWith(u'!') || text.endsWith(u'?'))
        return text;
    return text + u'.';
}

// What the text forms carry for a cell: its text, or for bytes what the grid shows.
std::string shownText(const TableModel& model, const QModelIndex& index, const EditableRowset::CellView& cell)
{
    if (cell.kind == ValueKind::Null)
        return {};
    const ColumnInfo& column = model.columns()[static_cast<std::size_t>(index.column())];
    if (cell.kind == ValueKind::Blob || column.type == ColumnType::Binary)
        return model.data(index, Qt::DisplayRole).toString().toStdString();
    return std::string(cell.data);
}

// Rows kept in the database: each row written where it is not shown lets
// the blocks go; they are read again once the run of writes ends.
auto windowReadsHeld(TableModel* model)
{
    model->holdWindowReads(true);
    return qScopeGuard([model = QPointer<TableModel>(model)] {
        if (model)
            model->holdWindowReads(false);
    });
}

QString replacedText(const QString& cell, const TableModel::FindOptions& options, const QString& with)
{
    if (options.wholeCell)
        return with;
    QString out = cell;
    return out.replace(options.text, with, options.matchCase ? Qt::CaseSensitive : Qt::CaseInsensitive);
}

} // namespace

GridClipboard::GridClipboard(DataGrid* grid) : QObject(grid), grid_(grid)
{
    const auto make = [this](const QString& text, const QList<QKeySequence>& keys, auto slot) {
        auto* action = new QAction(text, grid_);
        action->setShortcuts(keys);
        // Also from the find bar and the filter row, whose boxes keep their own.
        action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        connect(action, &QAction::triggered, this, slot);
        grid_->addAction(action);
        return action;
    };
    copy_ = make(QStringLiteral("Copy"), {QKeySequence(Qt::CTRL | Qt::Key_C)}, [this] { Copy(false); });
    copyWithNames_ = make(QStringLiteral("Copy with Column Names"), {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C)},
                          [this] { Copy(true); });
    paste_ = make(QStringLiteral("Paste"), {QKeySequence(Qt::CTRL | Qt::Key_V)}, [this] { Paste(); });
    replace_ = make(QStringLiteral("Replace\u2026"), {QKeySequence(Qt::CTRL | Qt::Key_H)}, [this] { OpenReplace(); });
    undo_ = make(QStringLiteral("Undo"), {QKeySequence(Qt::CTRL | Qt::Key_Z)}, [this] { Undo(); });
    redo_ = make(QStringLiteral("Redo"),
                 {QKeySequence(Qt::CTRL | Qt::Key_Y), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z)},
                 [this] { Redo(); });

    GridFindBar* bar = grid_->findBar();
    connect(bar, &GridFindBar::replaceRequested, this, &GridClipboard::Replace);
    connect(bar, &GridFindBar::replaceAllRequested, this, &GridClipboard::ReplaceAll);
}

void GridClipboard::Attach(TableModel* model)
{
    model_ = model;
    history_ = model ? new TableHistory(model) : nullptr;
}

std::vector<int> GridClipboard::shownColumns(int fromColumn) const
{
    const QHeaderView* header = grid_->horizontalHeader();
    std::vector<int> columns;
    const int first = fromColumn >= 0 ? header->visualIndex(fromColumn) : 0;
    for (int visual = std::max(first, 0); visual < header->count(); ++visual) {
        const int c = header->logicalIndex(visual);
        if (!grid_->isColumnHidden(c))
            columns.push_back(c);
    }
    return columns;
}

// ---- copying ---------------------------------------------------------------------------

void GridClipboard::Copy(bool withColumnNames)
{
    RunShortOfMemory(grid_->window(), QStringLiteral("copy these cells"), [&] { copyCells(withColumnNames); });
}

void GridClipboard::copyCells(bool withColumnNames)
{
    if (!model_)
        return;
    QItemSelection selection = grid_->selectionModel()->selection();
    const QModelIndex current = grid_->currentIndex();
    if (selection.isEmpty()) {
        if (!current.isValid())
            return;
        selection.select(current, current);
    }
    // The smallest rectangle holding every selected cell, as the cells are shown.
    const QHeaderView* header = grid_->horizontalHeader();
    int top = INT_MAX, bottom = -1, left = INT_MAX, right = -1;
    for (const QItemSelectionRange& range : selection) {
        top = std::min(top, range.top());
        bottom = std::max(bottom, range.bottom());
        for (int c = range.left(); c <= range.right(); ++c) {
            if (grid_->isColumnHidden(c))
                continue;
            left = std::min(left, header->visualIndex(c));
            right = std::max(right, header->visualIndex(c));
        }
    }
    // The new-row placeholder holds nothing to copy.
    if (bottom >= 0 && model_->isNewRowPlaceholder(bottom))
        --bottom;
    if (top > bottom || left > right)
        return;
    std::vector<int> columns;
    for (int visual = left; visual <= right; ++visual)
        if (const int c = header->logicalIndex(visual); !grid_->isColumnHidden(c))
            columns.push_back(c);

    const auto busy = busyPointer();
    const bool everyCell = selection.size() == 1;
    CellBlock block;
    block.rows = bottom - top + 1;
    block.columns = static_cast<int>(columns.size());
    block.cells.reserve(static_cast<std::size_t>(block.rows) * columns.size());
    TextRows texts;
    texts.reserve(static_cast<std::size_t>(block.rows) + 1);
    if (withColumnNames) {
        std::vector<std::string>& names = texts.emplace_back();
        for (int c : columns)
            names.push_back(model_->columns()[static_cast<std::size_t>(c)].name);
    }
    QItemSelectionModel* selected = grid_->selectionModel();
    for (int r = top; r <= bottom; ++r) {
        std::vector<std::string>& line = texts.emplace_back();
        line.reserve(columns.size());
        for (int c : columns) {
            const QModelIndex index = model_->index(r, c);
            if (!everyCell && !selected->isSelected(index)) {
                block.cells.emplace_back();
                line.emplace_back();
                continue;
            }
            const EditableRowset::CellView cell = model_->cell(r, c);
            // A row kept in the database and not read yet holds no value to
            // copy: nothing goes to the clipboard rather than blanks.
            if (cell.missing) {
                grid_->statusLine()->showNote(QStringLiteral(
                    "Some of these rows are still being read from the database: copy again once they show."));
                return;
            }
            block.cells.emplace_back(Value{cell.kind, std::string(cell.data)});
            line.push_back(shownText(*model_, index, cell));
        }
    }
    auto* mime = new QMimeData;
    mime->setText(QString::fromStdString(ToPlainText(texts)));
    mime->setHtml(QString::fromStdString(ToHtml(texts, withColumnNames)));
    mime->setData(QString::fromLatin1(kCellsMimeType), QByteArray::fromStdString(EncodeCells(block)));
    QGuiApplication::clipboard()->setMimeData(mime);
}

// ---- writing many rows --------------------------------------------------------------------

bool GridClipboard::readyToWrite(const QString& readingNote)
{
    if (!model_)
        return false;
    if (model_->reading()) {
        grid_->statusLine()->showNote(readingNote);
        return false;
    }
    bool reverted = false;
    bool written = false;
    const auto watchWrite = connect(model_, &TableModel::rowWritten, this, [&written] { written = true; });
    const auto watchRevert = connect(model_, &TableModel::pendingRowChanged, this, [&](int row) {
        if (row < 0 && !written)
            reverted = true;
    });
    const bool left = grid_->finishEditing();
    disconnect(watchWrite);
    disconnect(watchRevert);
    return left && !reverted;
}

BatchResult GridClipboard::runBatch(int rows, const QString& doing,
                                    const std::function<BatchResult(const BatchProgress&)>& work)
{
    // Memory running out ends the batch after the rows written, as a refusal does.
    int written = 0;
    try {
        return runBatchSteps(rows, doing, [&work, &written](const BatchProgress& progress) {
            return work([&progress, &written](int done, int total) {
                written = done;
                return !progress || progress(done, total);
            });
        });
    } catch (const std::bad_alloc&) {
        BatchResult result;
        result.total = rows;
        result.written = written;
        result.refusal = makeRefusal(RowRefusal::Why::OutOfMemory, "there is not enough memory to go on");
        return result;
    }
}

BatchResult GridClipboard::runBatchSteps(int rows, const QString& doing,
                                         const std::function<BatchResult(const BatchProgress&)>& work)
{
    if (rows <= kManyRows) {
        const auto busy = busyPointer();
        return work({});
    }
    QProgressDialog dialog(doing, QStringLiteral("Stop"), 0, rows, grid_->window());
    dialog.setWindowTitle(QStringLiteral("Dervanta"));
    dialog.setAccessibleName(doing);
    dialog.setWindowModality(Qt::WindowModal);
    dialog.setMinimumDuration(0);
    dialog.setAutoClose(false);
    dialog.setAutoReset(false);
    dialog.setValue(0);
    const QString of = QStringLiteral("%1\n%2 of %3 rows written").arg(doing);
    return work([&dialog, &of](int written, int total) {
        dialog.setLabelText(of.arg(GridStatusLine::number(written), GridStatusLine::number(total)));
        // The dialog lets the Stop button be pressed here, between rows.
        dialog.setValue(written);
        return !dialog.wasCanceled();
    });
}

void GridClipboard::showRow(int row)
{
    if (!model_ || row < 0 || row >= model_->rowCount())
        return;
    grid_->setCurrentIndex(model_->index(row, std::max(grid_->currentIndex().column(), 0)));
    grid_->scrollTo(grid_->currentIndex());
}

void GridClipboard::reportStopped(const BatchResult& result, int column)
{
    QString text = result.summary();
    if (result.refusal && result.refusedRow >= 0 && model_->isRowPending(result.refusedRow)) {
        grid_->setCurrentIndex(model_->index(result.refusedRow, std::max(column, 0)));
        grid_->scrollTo(grid_->currentIndex());
        text += QStringLiteral("\n\nRow %1 keeps the values put into it. Correct them and leave the row again, or "
                               "press Esc to restore the values read.")
                    .arg(model_->rowNumber(result.refusedRow));
    }
    ShowMessage(grid_->window(), text);
    grid_->setFocus();
}

// ---- importing ---------------------------------------------------------------------------

namespace {

// Each line of the file as a new row: the columns mapped, NULL where the
// file says so, binary values from base64, texts as they stand, other values
// typed (their typing rules apply).
std::vector<RowInput> importInputs(const ImportedRows& file, const std::vector<int>& mapping,
                                   const std::vector<ColumnInfo>& columns)
{
    std::vector<RowInput> inputs(file.rows.size());
    for (std::size_t r = 0; r < file.rows.size(); ++r) {
        const auto& fields = file.rows[r];
        for (std::size_t c = 0; c < mapping.size(); ++c) {
            const int from = mapping[c];
            if (from < 0)
                continue;
            const std::optional<std::string> field =
                static_cast<std::size_t>(from) < fields.size() ? fields[static_cast<std::size_t>(from)] : std::nullopt;
            const ColumnInfo& column = columns[c];
            CellInput in;
            if (!field) {
                in = CellInput{true, Value{}};
            } else if (column.type == ColumnType::Binary) {
                // Binary values travel in base64 (as the export writes them).
                const auto decoded = QByteArray::fromBase64Encoding(QByteArray::fromStdString(*field),
                                                                    QByteArray::AbortOnBase64DecodingErrors);
                in = decoded ? CellInput{true, Value{ValueKind::Blob, decoded.decoded.toStdString()}}
                             : CellInput{true, Value{ValueKind::Blob, *field}};
            } else if (column.type == ColumnType::Text || column.type == ColumnType::LargeText) {
                // As it stands: an empty text stays the empty text.
                in = CellInput{true, Value{ValueKind::Text, *field}};
            } else {
                in = CellInput{false, Value{ValueKind::Text, *field}};
            }
            inputs[r].cells.emplace_back(static_cast<int>(c), std::move(in));
        }
    }
    return inputs;
}

} // namespace

void GridClipboard::Import()
{
    RunShortOfMemory(grid_->window(), QStringLiteral("import these rows"), [this] { import(); });
}

void GridClipboard::import()
{
    if (!model_)
        return;
    const QString readingNote = QStringLiteral("Rows can be imported once they are all read (or after Stop).");
    if (model_->reading()) {
        grid_->statusLine()->showNote(readingNote);
        return;
    }
    // Imported rows are new rows, which rows kept in the database take once
    // counted, below the last row: the grid goes there (its slice of them
    // would otherwise follow the rows on the screen back).
    if (model_->rowsInDatabase() && !model_->sliceAtEnd()
        && model_->setBase(std::numeric_limits<std::int64_t>::max())) {
        grid_->setCurrentIndex(model_->index(model_->rowCount() - 1, std::max(grid_->currentIndex().column(), 0)));
        grid_->scrollTo(grid_->currentIndex());
    }
    if (!model_->isNewRowPlaceholder(model_->rowCount() - 1)) {
        grid_->statusLine()->showNote(QStringLiteral("The database is still counting this table's rows: rows can be "
                                                     "imported once it has counted them."));
        return;
    }
    QFileDialog dialog(grid_->window(), QStringLiteral("Import Rows"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters({QStringLiteral("CSV or TSV files (*.csv *.tsv *.txt)"), QStringLiteral("All files (*)")});
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty() || !model_)
        return;
    const QString path = dialog.selectedFiles().constFirst();
    QFile source(path);
    if (!source.open(QIODevice::ReadOnly)) {
        ShowMessage(grid_->window(), QStringLiteral("The file could not be read: %1").arg(source.errorString()));
        return;
    }
    const QByteArray bytes = source.readAll();
    const bool tabs = QFileInfo(path).suffix().compare(QLatin1String("tsv"), Qt::CaseInsensitive) == 0;
    const ImportedRows file = ReadDelimited(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())),
                                            tabs ? ImportFormat::Tsv : ImportFormat::Csv);
    if (file.problem) {
        ShowMessage(grid_->window(),
                    QStringLiteral("The file could not be read: %1.\n\nNothing was imported.")
                        .arg(QString::fromStdString(*file.problem)));
        return;
    }
    if (file.rows.empty()) {
        grid_->statusLine()->showNote(QStringLiteral("The file holds no rows to import."));
        return;
    }
    ImportWindow window(grid_->window(), QFileInfo(path).fileName(), model_->columns(), file);
    if (window.exec() != QDialog::Accepted || !model_)
        return;
    const std::vector<int> mapping = window.mapping();
    if (std::all_of(mapping.begin(), mapping.end(), [](int m) { return m < 0; })) {
        grid_->statusLine()->showNote(QStringLiteral("No column takes values from the file; nothing was imported."));
        return;
    }
    if (!readyToWrite(readingNote))
        return;

    const std::vector<RowInput> inputs = importInputs(file, mapping, model_->columns());
    history_->beginGroup(EditHistory::Action::Import);
    const BatchResult result = runBatch(static_cast<int>(inputs.size()), QStringLiteral("Importing rows\u2026"),
                                        [this, &inputs](const BatchProgress& progress) {
                                            return WriteRows(*model_, inputs, progress);
                                        });
    history_->endGroup();
    if (result.complete()) {
        grid_->statusLine()->showNote(
            QStringLiteral("%1 rows imported.").arg(GridStatusLine::number(static_cast<qint64>(inputs.size()))));
        return;
    }
    if (result.refusal && static_cast<std::size_t>(result.written) < file.lines.size()) {
        if (result.refusedRow >= 0 && model_->isRowPending(result.refusedRow)) {
            grid_->setCurrentIndex(model_->index(result.refusedRow, 0));
            grid_->scrollTo(grid_->currentIndex());
        }
        ShowMessage(grid_->window(),
                    QStringLiteral("Line %1 of the file could not be imported: %2\n\nThe %3 rows before it were "
                                   "written; the rows after it were not. The row keeps the values put into it: "
                                   "correct them and leave the row, or press Esc to drop it.")
                        .arg(file.lines[static_cast<std::size_t>(result.written)])
                        .arg(sentenceEnd(QString::fromStdString(result.refusal->text)),
                             GridStatusLine::number(result.written)));
        return;
    }
    grid_->statusLine()->showNote(result.summary());
}

// ---- pasting -----------------------------------------------------------------------------

void GridClipboard::Paste()
{
    RunShortOfMemory(grid_->window(), QStringLiteral("paste these cells"), [this] { paste(); });
}

namespace {

// The cells the clipboard holds: the program's own exact form when it is
// there, else tab-separated text.
struct ClipboardCells {
    std::optional<CellBlock> exact;
    TextRows texts;
    int rows = 0;
    int width = 0;

    // The one value of a block of one cell.
    std::optional<CellInput> single() const
    {
        if (exact)
            return exact->at(0, 0) ? std::optional<CellInput>(CellInput{true, *exact->at(0, 0)}) : std::nullopt;
        return CellInput{false, Value{ValueKind::Text, texts[0][0]}};
    }
};

ClipboardCells clipboardCells(const QMimeData& mime)
{
    ClipboardCells cells;
    if (mime.hasFormat(QString::fromLatin1(kCellsMimeType)))
        cells.exact = DecodeCells(mime.data(QString::fromLatin1(kCellsMimeType)).toStdString());
    if (!cells.exact && mime.hasText())
        cells.texts = ParsePlainText(mime.text().toStdString());
    cells.rows = cells.exact ? cells.exact->rows : static_cast<int>(cells.texts.size());
    cells.width = cells.exact ? cells.exact->columns : 0;
    for (const auto& fields : cells.texts)
        cells.width = std::max(cells.width, static_cast<int>(fields.size()));
    return cells;
}

} // namespace

std::vector<RowInput> GridClipboard::fillInputs(const CellInput& value) const
{
    std::map<int, std::vector<int>> cellsByRow;
    for (const QModelIndex& index : grid_->selectionModel()->selectedIndexes())
        // A hidden cell inside the selected block is not the user's to fill unseen.
        if (!model_->isNewRowPlaceholder(index.row()) && !grid_->isColumnHidden(index.column()))
            cellsByRow[index.row()].push_back(index.column());
    const QHeaderView* header = grid_->horizontalHeader();
    std::vector<RowInput> inputs;
    for (auto& [row, cells] : cellsByRow) {
        std::sort(cells.begin(), cells.end(),
                  [header](int a, int b) { return header->visualIndex(a) < header->visualIndex(b); });
        RowInput& input = inputs.emplace_back();
        input.row = row;
        for (int c : cells)
            input.cells.emplace_back(c, value);
    }
    return inputs;
}

std::set<int> GridClipboard::selectedRows(qint64* selectedCells) const
{
    *selectedCells = 0;
    std::set<int> rows;
    for (const QItemSelectionRange& range : grid_->selectionModel()->selection()) {
        *selectedCells += static_cast<qint64>(range.width()) * range.height();
        for (int r = range.top(); r <= range.bottom(); ++r)
            if (!model_->isNewRowPlaceholder(r))
                rows.insert(r);
    }
    return rows;
}

void GridClipboard::paste()
{
    if (!model_)
        return;
    const QString readingNote = QStringLiteral("Rows can be pasted once they are all read (or after Stop).");
    if (model_->reading()) {
        grid_->statusLine()->showNote(readingNote);
        return;
    }
    const QMimeData* mime = QGuiApplication::clipboard()->mimeData();
    if (!mime)
        return;
    const ClipboardCells cells = clipboardCells(*mime);
    if (cells.rows == 0 || cells.width == 0) {
        grid_->statusLine()->showNote(QStringLiteral("The clipboard holds no cells to paste."));
        return;
    }

    QModelIndex current = grid_->currentIndex();
    if (!current.isValid())
        current = model_->index(0, shownColumns().empty() ? 0 : shownColumns().front());
    // One value over several selected cells fills each of them.
    qint64 selectedCells = 0;
    const std::set<int> fillRows = selectedRows(&selectedCells);
    const bool fill = cells.rows == 1 && cells.width == 1 && selectedCells > 1;
    const std::optional<CellInput> fillValue = fill ? cells.single() : std::nullopt;
    if (fill && !fillValue)
        return; // a cell that was not copied
    const int rows = fill ? static_cast<int>(fillRows.size()) : cells.rows;
    const std::vector<int> columns = fill ? std::vector<int>{} : shownColumns(current.column());
    if (!fill && cells.width > static_cast<int>(columns.size())) {
        ShowMessage(grid_->window(), QStringLiteral("The cells to paste are %1 columns wide, but only %2 columns are "
                                                    "shown from the current cell to the right.\n\nNothing was pasted.")
                                         .arg(cells.width)
                                         .arg(columns.size()));
        return;
    }
    if (rows > kManyRows
        && !AskQuestion(grid_->window(), QStringLiteral("Paste %1 rows? Each row is written to the table as it is "
                                                        "pasted.")
                                             .arg(GridStatusLine::number(rows))))
        return;
    if (!readyToWrite(readingNote))
        return;

    // Built once the row being edited is written: a new row moves the placeholder.
    const std::vector<RowInput> inputs =
        fill          ? fillInputs(*fillValue)
        : cells.exact ? PasteRows(*model_, *cells.exact, current.row(), columns)
                      : PasteRows(*model_, cells.texts, current.row(), columns);
    if (inputs.empty())
        return;

    history_->beginGroup(EditHistory::Action::Paste);
    const BatchResult result = runBatch(static_cast<int>(inputs.size()), QStringLiteral("Pasting rows\u2026"),
                                        [this, &inputs](const BatchProgress& progress) {
                                            return WriteRows(*model_, inputs, progress);
                                        });
    history_->endGroup();
    if (!result.complete()) {
        reportStopped(result, fill ? current.column() : columns.front());
        return;
    }
    grid_->statusLine()->showNote(result.summary());
    if (!fill)
        selectPasted(current.row(), rows, cells.width, columns);
}

void GridClipboard::selectPasted(int top, int rows, int width, const std::vector<int>& columns)
{
    // The cells pasted stay selected.
    const int bottom = std::min(top + rows - 1, model_->rowCount() - 1);
    QItemSelection pasted;
    for (int c = 0; c < width; ++c)
        pasted.select(model_->index(top, columns[static_cast<std::size_t>(c)]),
                      model_->index(bottom, columns[static_cast<std::size_t>(c)]));
    grid_->selectionModel()->setCurrentIndex(model_->index(top, columns.front()), QItemSelectionModel::NoUpdate);
    grid_->selectionModel()->select(pasted, QItemSelectionModel::ClearAndSelect);
}

// ---- replacing ---------------------------------------------------------------------------

void GridClipboard::OpenReplace() { grid_->openFind(true); }

namespace {

TableModel::FindOptions findOptions(const GridFindBar& bar)
{
    TableModel::FindOptions options;
    options.text = bar.text();
    options.matchCase = bar.matchCase();
    options.wholeCell = bar.wholeCell();
    return options;
}

} // namespace

void GridClipboard::Replace()
{
    GridFindBar& bar = *grid_->findBar();
    if (!model_)
        return;
    if (model_->reading()) {
        grid_->statusLine()->showNote(QStringLiteral("Cells can be replaced once all rows are read (or after Stop)."));
        return;
    }
    const TableModel::FindOptions options = findOptions(bar);
    const QModelIndex at = grid_->currentIndex();
    if (!options.text.isEmpty() && at.isValid() && model_->matches(at, options)) {
        const QString now = at.data(Qt::EditRole).toString();
        const QString next = replacedText(now, options, bar.replacement());
        if (next != now) {
            if (const std::optional<RowRefusal> why = model_->store(at, next)) {
                ShowMessage(grid_->window(), QString::fromStdString(why->text));
                return;
            }
        }
    }
    // Leaving the row for the next match writes it, as leaving it always does.
    grid_->findNext(false);
}

void GridClipboard::ReplaceAll()
{
    RunShortOfMemory(grid_->window(), QStringLiteral("replace in every cell"), [this] { replaceAll(); });
}

void GridClipboard::replaceAll()
{
    GridFindBar& bar = *grid_->findBar();
    if (!model_)
        return;
    const TableModel::FindOptions options = findOptions(bar);
    if (options.text.isEmpty()) {
        grid_->findNext(false);
        return;
    }
    if (!readyToWrite(QStringLiteral("Cells can be replaced once all rows are read (or after Stop).")))
        return;
    const QModelIndex current = grid_->currentIndex();
    const std::vector<int> scope =
        bar.thisColumnOnly() && current.isValid() ? std::vector<int>{current.column()} : shownColumns();
    QList<int> columns(scope.begin(), scope.end());
    if (model_->rowsInDatabase()) {
        replaceAllInDatabase(options, columns, current.column());
        return;
    }

    // Every match first, so that a replacement that matches again is not replaced again.
    std::vector<RowInput> rows;
    int cells = 0;
    {
        const auto busy = busyPointer();
        QModelIndex from;
        while (const std::optional<TableModel::Found> found = model_->find(from, options, columns)) {
            if (found->wrapped)
                break;
            const QModelIndex index = found->index;
            if (rows.empty() || rows.back().row != index.row())
                rows.emplace_back().row = index.row();
            // Bytes that are no UTF-8 come back as they were (see ExactText).
            std::string text = BytesFromText(replacedText(index.data(Qt::EditRole).toString(), options, bar.replacement()));
            rows.back().cells.emplace_back(index.column(), CellInput{false, Value{ValueKind::Text, std::move(text)}});
            ++cells;
            from = index;
        }
    }
    if (rows.empty()) {
        bar.showResult(QStringLiteral("No match"));
        return;
    }
    history_->beginGroup(EditHistory::Action::ReplaceAll);
    const BatchResult result = runBatch(static_cast<int>(rows.size()), QStringLiteral("Replacing\u2026"),
                                        [this, &rows](const BatchProgress& progress) {
                                            return WriteRows(*model_, rows, progress);
                                        });
    history_->endGroup();
    showReplaced(result, static_cast<std::size_t>(cells), rows.size(), current.column());
}

void GridClipboard::replaceAllInDatabase(const TableModel::FindOptions& options, const QList<int>& columns, int column)
{
    GridFindBar& bar = *grid_->findBar();
    // Every match first, as among rows in memory; the rows they are in may
    // take no more than a share of the memory the table may have.
    std::optional<std::vector<TableModel::Match>> matches;
    try {
        const auto busy = busyPointer();
        matches = model_->matchesInDatabase(options, columns, MemoryBudget() / 4);
    } catch (const DbError& e) {
        ShowMessage(grid_->window(),
                    QStringLiteral("Nothing was replaced. The rows could not be searched in the database: %1")
                        .arg(sentenceEnd(QString::fromStdString(e.what()))));
        return;
    }
    if (!matches) {
        ShowMessage(grid_->window(), QStringLiteral("Nothing was replaced: the rows that match would take more memory "
                                                    "than allowed. Filter the rows to fewer first."));
        return;
    }
    if (matches->empty()) {
        bar.showResult(QStringLiteral("No match"));
        return;
    }
    std::size_t cells = 0;
    for (const TableModel::Match& m : *matches)
        cells += m.columns.size();
    const auto rows = static_cast<int>(matches->size());
    const QString with = bar.replacement();
    history_->beginGroup(EditHistory::Action::ReplaceAll);
    BatchResult result;
    {
        const auto held = windowReadsHeld(model_);
        result = runBatch(rows, QStringLiteral("Replacing\u2026"), [&](const BatchProgress& progress) {
            BatchResult done;
            done.total = rows;
            for (const TableModel::Match& m : *matches) {
                std::vector<std::pair<int, std::string>> texts;
                for (int c : m.columns)
                    texts.emplace_back(c, BytesFromText(replacedText(TextFromBytes(m.values[static_cast<std::size_t>(c)].bytes),
                                                                     options, with)));
                if (std::optional<RowRefusal> why = model_->typeNotShown(m.values, texts)) {
                    done.refusal = std::move(why);
                    return done;
                }
                ++done.written;
                if (progress && !progress(done.written, done.total)) {
                    done.stopped = done.written < done.total;
                    return done;
                }
            }
            return done;
        });
    }
    history_->endGroup();
    showReplaced(result, cells, matches->size(), column);
}

void GridClipboard::showReplaced(const BatchResult& result, std::size_t cells, std::size_t rows, int column)
{
    GridFindBar& bar = *grid_->findBar();
    if (!result.complete()) {
        bar.showResult(QString());
        reportStopped(result, column);
        return;
    }
    bar.showResult(cells == 1 ? QStringLiteral("1 cell replaced")
                              : rows == 1 ? QStringLiteral("%1 cells replaced in 1 row").arg(cells)
                                          : QStringLiteral("%1 cells replaced in %2 rows").arg(cells).arg(rows));
}

// ---- undo and redo -------------------------------------------------------------------------

void GridClipboard::Undo()
{
    if (!model_ || !history_ || model_->reading())
        return;
    if (history_->undoIsTyping()) {
        showRow(history_->undoTyping());
        return;
    }
    if (model_->pendingRow() >= 0 && !readyToWrite({}))
        return;
    if (!history_->canUndo()) {
        grid_->statusLine()->showNote(QStringLiteral("There is nothing to undo."));
        return;
    }
    replayStep(false);
}

void GridClipboard::Redo()
{
    if (!model_ || !history_ || model_->reading())
        return;
    if (history_->redoIsTyping()) {
        showRow(history_->redoTyping());
        return;
    }
    if (!history_->canRedo()) {
        grid_->statusLine()->showNote(QStringLiteral("There is nothing to redo."));
        return;
    }
    if (model_->pendingRow() >= 0 && !readyToWrite({}))
        return;
    replayStep(true);
}

void GridClipboard::replayStep(bool redo)
{
    const QString name = redo ? history_->redoName() : history_->undoName();
    const int rows = redo ? history_->redoRows() : history_->undoRows();
    BatchResult result;
    {
        const auto held = windowReadsHeld(model_);
        result = runBatch(rows, (redo ? QStringLiteral("Redoing %1\u2026") : QStringLiteral("Undoing %1\u2026")).arg(name),
                          [this, redo](const BatchProgress& progress) {
                              return redo ? history_->redo(progress) : history_->undo(progress);
                          });
    }
    showRow(history_->lastRow());
    if (result.complete())
        return;
    if (rows == 1)
        ShowMessage(grid_->window(),
                    (redo ? QStringLiteral("%1 could not be done again: %2\n\nNothing was written.")
                          : QStringLiteral("%1 could not be undone: %2\n\nNothing was written."))
                        .arg(name, sentenceEnd(result.refusal ? QString::fromStdString(result.refusal->text)
                                                              : result.summary())));
    else
        ShowMessage(grid_->window(), (redo ? QStringLiteral("Redo of %1 stopped: %2")
                                           : QStringLiteral("Undo of %1 stopped: %2"))
                                         .arg(name, result.summary()));
    grid_->setFocus();
}

// ---- the right-click menu --------------------------------------------------------------------

void GridClipboard::AddMenuActions(QMenu& menu)
{
    const bool idle = model_ && !model_->reading();
    const QString undoName = history_ ? history_->undoName() : QString();
    const QString redoName = history_ ? history_->redoName() : QString();
    undo_->setText(undoName.isEmpty() ? QStringLiteral("Undo") : QStringLiteral("Undo %1").arg(undoName));
    redo_->setText(redoName.isEmpty() ? QStringLiteral("Redo") : QStringLiteral("Redo %1").arg(redoName));
    undo_->setEnabled(idle && !undoName.isEmpty());
    redo_->setEnabled(idle && !redoName.isEmpty());
    const QMimeData* mime = QGuiApplication::clipboard()->mimeData();
    paste_->setEnabled(idle && mime && (mime->hasText() || mime->hasFormat(QString::fromLatin1(kCellsMimeType))));
    menu.addAction(undo_);
    menu.addAction(redo_);
    menu.addSeparator();
    menu.addAction(copy_);
    menu.addAction(copyWithNames_);
    menu.addAction(paste_);
}

void GridClipboard::MenuClosed()
{
    // The keys work whatever the menu said.
    for (QAction* a : {undo_, redo_, paste_})
        a->setEnabled(true);
    undo_->setText(QStringLiteral("Undo"));
    redo_->setText(QStringLiteral("Redo"));
}
