#pragma once

// A client-side copy of a result: per column, the exact values in one
// contiguous byte arena with an end offset and a one-byte kind per cell (nine
// bytes of overhead a cell, no heap object per cell). Rows rewritten after a
// save live in a small side table; a removed row only leaves the row map.
// The row count is exact once the fill has ended.
// All member functions are called from the UI thread only.

#include "oracle/Engine.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class Snapshot final : public RowSink {
public:
    Snapshot() = default;

    // RowSink: filled by an engine's query().
    void begin(const std::vector<ColumnInfo>& columns) override;
    void cell(ValueKind kind, const char* data, std::size_t size) override;
    void endRow() override;

    const std::vector<ColumnInfo>& columns() const { return columns_; }
    int columnCount() const { return static_cast<int>(columns_.size()); }
    std::int64_t rowCount() const { return rows_; }

    ValueKind kind(std::int64_t row, int column) const;
    bool isNull(std::int64_t row, int column) const { return kind(row, column) == ValueKind::Null; }
    // The stored text or bytes; empty for NULL. Valid until the snapshot changes.
    std::string_view value(std::int64_t row, int column) const;

    // Replaces one row's values (after a write, with what the database stored).
    struct Cell {
        ValueKind kind = ValueKind::Null;
        std::string data;
    };
    void replaceRow(std::int64_t row, const std::vector<Cell>& cells);
    void appendRow(const std::vector<Cell>& cells);
    void removeRow(std::int64_t row);

    std::size_t memoryBytes() const;

private:
    struct Column {
        std::string arena;               // the bytes of every cell, back to back
        std::vector<std::uint64_t> ends; // where each cell's bytes end
        std::vector<ValueKind> kinds;
    };
    std::int64_t physical(std::int64_t row) const
    {
        return !mapped_ ? row : rowMap_[static_cast<std::size_t>(row)];
    }
    const Cell* replaced(std::int64_t physicalRow, int column) const;

    std::vector<ColumnInfo> columns_;
    std::vector<Column> data_;
    std::unordered_map<std::int64_t, std::vector<Cell>> replaced_; // by physical row
    std::vector<std::int64_t> rowMap_; // visible row -> physical row, once a row was removed
    bool mapped_ = false;
    std::int64_t physicalRows_ = 0;
    std::int64_t rows_ = 0;
    int nextColumn_ = 0;
};
