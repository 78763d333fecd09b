#pragma once

// A small result held whole: the engines' own look-ups (a table's key
// columns, the tables a driver lists, one value) read into it. Every cell is
// a Value of its own, which is fine for a few rows and nothing more; a
// table's rows go to the snapshot instead.

#include "oracle/Engine.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class SmallResult final : public RowSink {
public:
    // A result read again into the same object replaces the one before.
    void begin(const std::vector<ColumnInfo>& columns) override
    {
        columns_ = columns.size();
        rows_.clear();
        current_.clear();
    }
    void cell(ValueKind kind, const char* data, std::size_t size) override
    {
        current_.push_back(Value{kind, kind == ValueKind::Null ? std::string() : std::string(data, size)});
    }
    void endRow() override
    {
        rows_.push_back(std::move(current_));
        current_.clear();
    }

    std::int64_t rowCount() const { return static_cast<std::int64_t>(rows_.size()); }
    int columnCount() const { return static_cast<int>(columns_); }
    bool isNull(std::int64_t row, int column) const { return at(row, column).isNull(); }
    // The cell's text or bytes; empty for NULL.
    std::string_view value(std::int64_t row, int column) const { return at(row, column).bytes; }

private:
    const Value& at(std::int64_t row, int column) const
    {
        return rows_[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)];
    }

    std::size_t columns_ = 0;
    std::vector<std::vector<Value>> rows_;
    std::vector<Value> current_;
};
