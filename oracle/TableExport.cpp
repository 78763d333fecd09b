#include "oracle/TableExport.h"

#include "oracle/TableModel.h"

#include <string>
#include <utility>

ExportEnd ExportRows(const TableModel& model, int rows, RowExport::Format format, QIODevice& to,
                    const std::function<bool(int)>& progress)
{
    const auto flush = [&to](std::string& buffer) {
        const auto size = static_cast<qint64>(buffer.size());
        const bool written = to.write(buffer.data(), size) == size;
        buffer.clear();
        return written;
    };
    RowExport out(format, model.columns());
    std::string buffer;
    out.begin(buffer);
    for (int r = 0; r < rows; ++r) {
        out.row(buffer, [&model, r](std::size_t c) {
            const EditableRowset::CellView cell = model.cell(r, static_cast<int>(c));
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
