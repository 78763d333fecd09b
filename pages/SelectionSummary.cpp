#include "pages/SelectionSummary.h"

#include "oracle/ExactSum.h"
#include "oracle/TableModel.h"
#include "pages/GridStatusLine.h"

namespace {

constexpr qint64 kMostCellsLookedAt = 250'000;

bool isNumeric(ColumnType t) { return t == ColumnType::Integer || t == ColumnType::Decimal || t == ColumnType::Real; }

} // namespace

QString SelectionSummary(const TableModel& model, const QItemSelection& selection)
{
    qint64 cells = 0;
    for (const QItemSelectionRange& range : selection) {
        int rows = range.height();
        // The new-row placeholder holds nothing.
        if (model.isNewRowPlaceholder(range.bottom()))
            --rows;
        cells += qint64{rows} * range.width();
    }
    if (cells < 2)
        return {};
    if (cells > kMostCellsLookedAt)
        return QStringLiteral("%1 cells selected").arg(GridStatusLine::number(cells));
    qint64 count = 0;
    ExactSum numbers;
    for (const QItemSelectionRange& range : selection) {
        for (int c = range.left(); c <= range.right(); ++c) {
            const bool numeric = isNumeric(model.columns()[static_cast<std::size_t>(c)].type);
            for (int r = range.top(); r <= range.bottom(); ++r) {
                if (model.isNewRowPlaceholder(r))
                    continue;
                const EditableRowset::CellView cell = model.cell(r, c);
                if (cell.kind == ValueKind::Null)
                    continue;
                ++count;
                if (numeric && cell.kind != ValueKind::Blob)
                    numbers.add(cell.data);
            }
        }
    }
    QString text = QStringLiteral("Count: %1").arg(GridStatusLine::number(count));
    if (numbers.numbers() > 0)
        text += QStringLiteral("   Sum: %1   Min: %2   Max: %3")
                    .arg(QString::fromStdString(numbers.sum()), QString::fromStdString(*numbers.least()),
                         QString::fromStdString(*numbers.greatest()));
    return text;
}
