#include "oracle/RowBatch.h"

#include "oracle/ExactText.h"
#include "oracle/TableModel.h"

#include <algorithm>

QString BatchResult::summary() const
{
    if (refusal) {
        const QString row = refusedRow >= 0 ? QStringLiteral("row %1").arg(refusedRow + 1) : QStringLiteral("a row not shown");
        return QStringLiteral("%1 of %2 rows written; %3: %4")
            .arg(written)
            .arg(total)
            .arg(row, QString::fromStdString(refusal->text));
    }
    if (stopped)
        return QStringLiteral("%1 of %2 rows written before Stop").arg(written).arg(total);
    return total == 1 ? QStringLiteral("1 row written") : QStringLiteral("%1 rows written").arg(total);
}

BatchResult WriteRows(TableModel& model, const std::vector<RowInput>& rows, const BatchProgress& progress)
{
    BatchResult result;
    result.total = static_cast<int>(rows.size());
    for (const RowInput& input : rows) {
        // A new row goes where the placeholder is now: the last row.
        const int row = input.row >= 0 ? input.row : model.rowCount() - 1;
        if (input.row < 0 && !model.isNewRowPlaceholder(row)) {
            // No placeholder (rows kept in the database still counted): the
            // last row is a row read, which must not take a new row's values.
            result.refusal = makeRefusal(RowRefusal::Why::NoSuchCell,
                                         "the rows are still being counted by the database; new rows can be added "
                                         "once they are all counted");
            return result;
        }
        std::optional<RowRefusal> refused;
        for (const auto& [column, cell] : input.cells) {
            const QModelIndex index = model.index(row, column);
            std::optional<RowRefusal> why =
                cell.exact ? model.storeValue(index, cell.value)
                           : model.store(index, TextFromBytes(cell.value.bytes));
            // The row takes every value it can, and then stays as the user would see it typed.
            if (why && !refused)
                refused = std::move(why);
        }
        if (!refused)
            refused = model.submitRow(row);
        if (refused) {
            result.refusal = std::move(refused);
            result.refusedRow = row;
            return result;
        }
        ++result.written;
        if (progress && !progress(result.written, result.total)) {
            result.stopped = result.written < result.total;
            return result;
        }
    }
    return result;
}

namespace {

template <typename Cell>
std::vector<RowInput> pasteRows(const TableModel& model, int blockRows, int blockColumns, int row,
                                const std::vector<int>& columns, Cell cell)
{
    // Past the last row without a placeholder, rows are new rows too (refused when written).
    const int placeholder = model.isNewRowPlaceholder(model.rowCount() - 1) ? model.rowCount() - 1 : model.rowCount();
    const int width = std::min(blockColumns, static_cast<int>(columns.size()));
    std::vector<RowInput> rows;
    rows.reserve(static_cast<std::size_t>(blockRows));
    for (int r = 0; r < blockRows; ++r) {
        RowInput& input = rows.emplace_back();
        input.row = row + r < placeholder ? row + r : -1;
        for (int c = 0; c < width; ++c)
            if (std::optional<CellInput> in = cell(r, c))
                input.cells.emplace_back(columns[static_cast<std::size_t>(c)], std::move(*in));
    }
    return rows;
}

} // namespace

std::vector<RowInput> PasteRows(const TableModel& model, const CellBlock& block, int row, const std::vector<int>& columns)
{
    return pasteRows(model, block.rows, block.columns, row, columns, [&block](int r, int c) -> std::optional<CellInput> {
        const std::optional<Value>& v = block.at(r, c);
        if (!v)
            return std::nullopt;
        return CellInput{true, *v};
    });
}

std::vector<RowInput> PasteRows(const TableModel& model, const TextRows& block, int row, const std::vector<int>& columns)
{
    int width = 0;
    for (const auto& fields : block)
        width = std::max(width, static_cast<int>(fields.size()));
    return pasteRows(model, static_cast<int>(block.size()), width, row, columns,
                     [&block](int r, int c) -> std::optional<CellInput> {
                         const auto& fields = block[static_cast<std::size_t>(r)];
                         // A short line leaves the cells past its end alone.
                         if (c >= static_cast<int>(fields.size()))
                             return std::nullopt;
                         return CellInput{false, Value{ValueKind::Text, fields[static_cast<std::size_t>(c)]}};
                     });
}
