#include "oracle/Snapshot.h"

#include <numeric>

void Snapshot::begin(const std::vector<ColumnInfo>& columns)
{
    columns_ = columns;
    data_.assign(columns_.size(), Column{});
    replaced_.clear();
    rowMap_.clear();
    mapped_ = false;
    physicalRows_ = 0;
    rows_ = 0;
    nextColumn_ = 0;
}

void Snapshot::cell(ValueKind kind, const char* data, std::size_t size)
{
    Column& c = data_[static_cast<std::size_t>(nextColumn_++)];
    if (kind != ValueKind::Null && size)
        c.arena.append(data, size);
    c.ends.push_back(c.arena.size());
    c.kinds.push_back(kind);
}

void Snapshot::endRow()
{
    nextColumn_ = 0;
    if (mapped_)
        rowMap_.push_back(physicalRows_);
    ++physicalRows_;
    ++rows_;
}

const Snapshot::Cell* Snapshot::replaced(std::int64_t physicalRow, int column) const
{
    if (replaced_.empty())
        return nullptr;
    const auto it = replaced_.find(physicalRow);
    if (it == replaced_.end() || static_cast<std::size_t>(column) >= it->second.size())
        return nullptr;
    return &it->second[static_cast<std::size_t>(column)];
}

ValueKind Snapshot::kind(std::int64_t row, int column) const
{
    const std::int64_t p = physical(row);
    if (const Cell* c = replaced(p, column))
        return c->kind;
    return data_[static_cast<std::size_t>(column)].kinds[static_cast<std::size_t>(p)];
}

std::string_view Snapshot::value(std::int64_t row, int column) const
{
    const std::int64_t p = physical(row);
    if (const Cell* c = replaced(p, column))
        return c->kind == ValueKind::Null ? std::string_view() : std::string_view(c->data);
    const Column& c = data_[static_cast<std::size_t>(column)];
    const auto r = static_cast<std::size_t>(p);
    const std::uint64_t begin = r == 0 ? 0 : c.ends[r - 1];
    return std::string_view(c.arena.data() + begin, c.ends[r] - begin);
}

void Snapshot::replaceRow(std::int64_t row, const std::vector<Cell>& cells)
{
    std::vector<Cell> copy = cells;
    copy.resize(columns_.size());
    replaced_[physical(row)] = std::move(copy);
}

void Snapshot::appendRow(const std::vector<Cell>& cells)
{
    for (std::size_t i = 0; i < data_.size(); ++i) {
        const Cell empty;
        const Cell& v = i < cells.size() ? cells[i] : empty;
        cell(v.kind, v.data.data(), v.data.size());
    }
    endRow();
}

void Snapshot::removeRow(std::int64_t row)
{
    if (!mapped_) {
        mapped_ = true;
        rowMap_.resize(static_cast<std::size_t>(rows_));
        std::iota(rowMap_.begin(), rowMap_.end(), std::int64_t{0});
    }
    replaced_.erase(rowMap_[static_cast<std::size_t>(row)]);
    rowMap_.erase(rowMap_.begin() + static_cast<std::ptrdiff_t>(row));
    --rows_;
}

std::size_t Snapshot::memoryBytes() const
{
    std::size_t total = sizeof(*this) + rowMap_.capacity() * sizeof(std::int64_t);
    for (const Column& c : data_)
        total += c.arena.capacity() + c.ends.capacity() * sizeof(std::uint64_t) + c.kinds.capacity();
    for (const auto& [row, cells] : replaced_)
        for (const Cell& c : cells)
            total += sizeof(Cell) + c.data.capacity();
    return total;
}
