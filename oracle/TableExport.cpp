#include "oracle/TableExport.h"

#include "oracle/TableModel.h"

#include <string>
#include <utility>

ExportEnd ExportRows(const TableModel& model, int rows, RowExport::Format format, QIODevice& to,
                    const std::function<bool(int)>& progress, const std::vector<int>& columns)
{
    std::vector<int> order = columns;
    if (order.empty())
        for (std::size_t c = 0; c < model.columns().size(); ++c)
            order.push_back(static_cast<int>(c));
    std::vector<ColumnInfo> infos;
    infos.reserve(order.size());
    for (int c : order)
        infos.push_back(model.columns()[static_cast<std::size_t>(c)]);
    const auto flush = [&to](std::string& buffer) {
        const auto size = static_cast<qint64>(buffer.size());
        const bool written = to.write(buffer.data(), size) == size;
        buffer.clear();
        return written;
    };
    RowExport out(format, std::move(infos));
    std::string buffer;
    out.begin(buffer);
    for (int r = 0; r < rows; ++r) {
        out.row(buffer, [&model, &order, r](std::size_t c) {
            const EditableRowset::CellView cell = model.cell(r, order[c]);
            return std::pair<ValueKind, std::string_view>(cell.kind, cell.data);
        });
        if (buffer.size() >= (std::size_t{1} << 20) && !flush(buffer))
            return ExportEnd::WriteFailed;
        if (r % 4096 == 0 && !progress(r))
            return ExportEnd::Stopped;
    }
    out.end(buffer);
    return flush(buffer) ? ExportEnd::Written : ExportEnd::WriteFailed;
}
