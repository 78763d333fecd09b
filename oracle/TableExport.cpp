#include "oracle/TableExport.h"

#include "oracle/TableModel.h"

#include <numeric>
#include <string>
#include <utility>

namespace {

bool flushed(QIODevice& to, std::string& buffer)
{
    const auto size = static_cast<qint64>(buffer.size());
    const bool written = to.write(buffer.data(), size) == size;
    buffer.clear();
    return written;
}

RowExport exporter(const TableModel& model, const std::vector<int>& columns, RowExport::Format format,
                   const std::string& nullText)
{
    std::vector<ColumnInfo> infos;
    for (int c : columns)
        infos.push_back(model.columns()[static_cast<std::size_t>(c)]);
    RowExport out(format, std::move(infos));
    out.setTable(model.table(), model.dialectKind());
    out.setNullText(nullText);
    return out;
}

// The file's end, unless the rows' writing ended it early.
ExportEnd finished(RowExport& out, std::string& buffer, QIODevice& to, ExportEnd end)
{
    if (end != ExportEnd::Written)
        return end;
    out.end(buffer);
    return flushed(to, buffer) ? ExportEnd::Written : ExportEnd::WriteFailed;
}

template <typename RowAt>
ExportEnd exportRows(const TableModel& model, int rows, RowAt rowAt, const std::vector<int>& columns,
                     RowExport::Format format, QIODevice& to, const std::function<bool(int)>& progress,
                     const std::string& nullText)
{
    const auto flush = [&to](std::string& buffer) { return flushed(to, buffer); };
    RowExport out = exporter(model, columns, format, nullText);
    std::string buffer;
    out.begin(buffer);
    for (int r = 0; r < rows; ++r) {
        const int row = rowAt(r);
        out.row(buffer, [&model, &columns, row](std::size_t c) {
            const EditableRowset::CellView cell = model.cell(row, columns[c]);
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

} // namespace

ExportEnd ExportRows(const TableModel& model, int rows, RowExport::Format format, QIODevice& to,
                     const std::function<bool(int)>& progress, const std::vector<int>& columns,
                     const std::string& nullText)
{
    std::vector<int> order = columns;
    if (order.empty()) {
        order.resize(static_cast<std::size_t>(model.columnCount()));
        std::iota(order.begin(), order.end(), 0);
    }
    return exportRows(model, rows, [](int r) { return r; }, order, format, to, progress, nullText);
}

ExportEnd ExportRowsFromDatabase(const TableModel& model, RowExport::Format format, QIODevice& to,
                                 const std::function<bool(std::int64_t)>& progress, const std::vector<int>& columns,
                                 const std::string& nullText)
{
    RowExport out = exporter(model, columns, format, nullText);
    std::string buffer;
    out.begin(buffer);
    std::int64_t written = 0;
    ExportEnd end = ExportEnd::Written;
    model.eachBlockInDatabase([&](const Snapshot& rows, int first) {
        for (std::int64_t r = 0; r < rows.rowCount(); ++r)
            out.row(buffer, [&](std::size_t c) {
                const int column = first + columns[c];
                return std::pair<ValueKind, std::string_view>(rows.kind(r, column), rows.value(r, column));
            });
        written += rows.rowCount();
        if (!flushed(to, buffer))
            end = ExportEnd::WriteFailed;
        else if (!progress(written))
            end = ExportEnd::Stopped;
        return end == ExportEnd::Written;
    });
    return finished(out, buffer, to, end);
}

ExportEnd ExportCellsFromDatabase(const TableModel& model, const std::vector<std::int64_t>& positions,
                                  const std::vector<int>& columns, RowExport::Format format, QIODevice& to,
                                  const std::function<bool(int)>& progress, const std::string& nullText)
{
    RowExport out = exporter(model, columns, format, nullText);
    std::string buffer;
    out.begin(buffer);
    int written = 0;
    ExportEnd end = ExportEnd::Written;
    model.eachRowInDatabase(positions, [&](std::vector<Value> values) {
        out.row(buffer, [&](std::size_t c) {
            const Value& v = values[static_cast<std::size_t>(columns[c])];
            return std::pair<ValueKind, std::string_view>(v.kind, v.bytes);
        });
        if (buffer.size() >= (std::size_t{1} << 20) && !flushed(to, buffer))
            end = ExportEnd::WriteFailed;
        else if (++written % 4096 == 0 && !progress(written))
            end = ExportEnd::Stopped;
        return end == ExportEnd::Written;
    });
    return finished(out, buffer, to, end);
}

ExportEnd ExportCells(const TableModel& model, const std::vector<int>& rows, const std::vector<int>& columns,
                      RowExport::Format format, QIODevice& to, const std::function<bool(int)>& progress,
                      const std::string& nullText)
{
    return exportRows(model, static_cast<int>(rows.size()), [&rows](int r) { return rows[static_cast<std::size_t>(r)]; },
                      columns, format, to, progress, nullText);
}
