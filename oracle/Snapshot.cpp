#include "oracle/Snapshot.h"

#include <cstring>
#include <numeric>

void Snapshot::begin(const std::vector<ColumnInfo>& columns)
{
    columns_ = columns;
    data_.clear();
    data_.resize(columns_.size());
    replaced_.clear();
    rowMap_.clear();
    mapped_ = false;
    physicalRows_ = 0;
    rows_ = 0;
    slot_ = 0;
    nextColumn_ = 0;
}

void Snapshot::cell(ValueKind kind, const char* data, std::size_t size)
{
    Column& c = data_[static_cast<std::size_t>(nextColumn_++)];
    if (slot_ == 0 && static_cast<std::int64_t>(c.blocks.size()) * kBlockRows <= physicalRows_) {
        // A new block starts about as large as the one before it, so that it
        // rarely grows by copying and ends with little spare room.
        auto block = std::make_unique_for_overwrite<Block>(); // every slot is written before it is read
        if (!c.blocks.empty()) {
            const std::size_t previous = c.blocks.back()->bytes.size();
            block->bytes.reserve(previous + previous / 16 + 16);
        }
        c.blocks.push_back(std::move(block));
    }
    Block& b = *c.blocks.back();
    auto stored = static_cast<std::uint8_t>(kind);
    if (kind != ValueKind::Null) {
        if (size >= kApart) {
            const auto index = static_cast<std::uint32_t>(c.apart.size());
            c.apart.emplace_back(data, size);
            b.bytes.append(reinterpret_cast<const char*>(&index), sizeof index);
            stored |= kApartFlag;
        } else if (size) {
            b.bytes.append(data, size);
        }
    }
    b.ends[slot_] = static_cast<std::uint32_t>(b.bytes.size());
    b.kinds[slot_] = stored;
}

void Snapshot::endRow()
{
    nextColumn_ = 0;
    if (mapped_)
        rowMap_.push_back(physicalRows_);
    ++physicalRows_;
    ++rows_;
    if (++slot_ == static_cast<std::size_t>(kBlockRows)) {
        slot_ = 0;
        closeBlocks();
    }
}

void Snapshot::end() { closeBlocks(); }

// Gives back a full block's spare room when it is large.
void Snapshot::closeBlocks()
{
    for (Column& c : data_) {
        if (c.blocks.empty())
            continue;
        std::string& bytes = c.blocks.back()->bytes;
        if (bytes.capacity() - bytes.size() > bytes.size() / 4 + 64)
            bytes.shrink_to_fit();
    }
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
    const Located at = locate(data_[static_cast<std::size_t>(column)], p);
    return static_cast<ValueKind>(at.block->kinds[at.slot] & ~kApartFlag);
}

std::string_view Snapshot::value(std::int64_t row, int column) const
{
    const std::int64_t p = physical(row);
    if (const Cell* c = replaced(p, column))
        return c->kind == ValueKind::Null ? std::string_view() : std::string_view(c->data);
    const Column& c = data_[static_cast<std::size_t>(column)];
    const Located at = locate(c, p);
    const Block& b = *at.block;
    const std::uint32_t begin = at.slot == 0 ? 0 : b.ends[at.slot - 1];
    if (b.kinds[at.slot] & kApartFlag) {
        std::uint32_t index = 0;
        std::memcpy(&index, b.bytes.data() + begin, sizeof index);
        return c.apart[index];
    }
    return std::string_view(b.bytes.data() + begin, b.ends[at.slot] - begin);
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
    std::size_t total = sizeof(*this) + rowMap_.capacity() * sizeof(std::int64_t)
                        + data_.capacity() * sizeof(Column) + columns_.capacity() * sizeof(ColumnInfo);
    for (const Column& c : data_) {
        total += c.blocks.capacity() * sizeof(std::unique_ptr<Block>);
        for (const auto& b : c.blocks)
            total += sizeof(Block) + b->bytes.capacity();
        total += c.apart.capacity() * sizeof(std::string);
        for (const std::string& s : c.apart)
            total += s.capacity();
    }
    for (const auto& [row, cells] : replaced_)
        for (const Cell& c : cells)
            total += sizeof(Cell) + c.data.capacity();
    return total;
}
