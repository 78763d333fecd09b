#include "oracle/Snapshot.h"

#include <algorithm>
#include <cstring>
#include <numeric>
#include <unordered_set>

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
    if (!c.open) [[unlikely]]
        openBlock(c);
    if (kind == ValueKind::Null)
        put(c, static_cast<std::uint8_t>(kind), nullptr, 0);
    else if (size >= kApart) [[unlikely]]
        putApart(c, kind, data, size);
    else
        put(c, static_cast<std::uint8_t>(kind), data, size);
}

// Once a million times a column: kept short.
inline void Snapshot::put(Column& c, std::uint8_t stored, const char* data, std::size_t size)
{
    Block* b = c.blocks.back().block;
    if (sizeof(Block) + b->size + size > c.fillingCapacity) [[unlikely]]
        b = refill(c, std::max(sizeof(Block) + b->size + size, c.fillingCapacity * 2));
    if (size) {
        std::memcpy(b->bytes() + b->size, data, size);
        b->size += static_cast<std::uint32_t>(size);
    }
    b->ends[slot_] = b->size;
    b->kinds[slot_] = stored;
}

// The block holds the cell's index among those kept apart.
void Snapshot::putApart(Column& c, ValueKind kind, const char* data, std::size_t size)
{
    const auto index = static_cast<std::uint32_t>(c.apart.size());
    c.apart.emplace_back(data, size);
    put(c, static_cast<std::uint8_t>(kind) | kApartFlag, reinterpret_cast<const char*>(&index), sizeof index);
}

void Snapshot::openBlock(Column& c)
{
    if (slot_ == 0 && static_cast<std::int64_t>(c.blocks.size()) * kBlockRows <= physicalRows_)
        startBlock(c);
    else // a row added after the fill: its block fills again
        refill(c, sizeof(Block) + c.blocks.back().block->size + 1024);
}

// The last block, copied into a new filling buffer of `capacity` bytes: to
// grow, or to fill again a block already in the block memory.
Snapshot::Block* Snapshot::refill(Column& c, std::size_t capacity)
{
    const Block* b = c.blocks.back().block;
    auto buffer = std::make_unique_for_overwrite<char[]>(capacity);
    std::memcpy(buffer.get(), b, sizeof(Block) + b->size);
    c.filling = std::move(buffer);
    c.fillingCapacity = capacity;
    auto* moved = reinterpret_cast<Block*>(c.filling.get());
    c.blocks.back() = {moved, nullptr};
    c.open = true;
    return moved;
}

void Snapshot::startBlock(Column& c)
{
    constexpr std::size_t kFirstCapacity = sizeof(Block) + 16 * 1024;
    if (c.fillingCapacity < kFirstCapacity) {
        c.filling = std::make_unique_for_overwrite<char[]>(kFirstCapacity);
        c.fillingCapacity = kFirstCapacity;
    }
    auto* b = new (c.filling.get()) Block; // every slot is written before it is read
    b->size = 0;
    c.blocks.push_back({b, nullptr});
    c.open = true;
}

// The filling block goes into the block memory, exactly as large as it is.
void Snapshot::closeBlock(Column& c)
{
    if (!c.open)
        return;
    const Block* b = c.blocks.back().block;
    const std::size_t size = sizeof(Block) + b->size;
    BlockMemory::Place place = memory_.allocate(size);
    std::memcpy(place.at, b, size);
    c.blocks.back() = {reinterpret_cast<Block*>(place.at), std::move(place.piece)};
    c.open = false;
}

void Snapshot::closeBlocks()
{
    for (Column& c : data_)
        closeBlock(c);
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

void Snapshot::end()
{
    closeBlocks();
    memory_.trim();
    for (Column& c : data_) {
        c.filling.reset();
        c.fillingCapacity = 0;
    }
}

const Value* Snapshot::replaced(std::int64_t physicalRow, int column) const
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
    if (const Value* c = replaced(p, column))
        return c->kind;
    const Located at = locate(data_[static_cast<std::size_t>(column)], p);
    return static_cast<ValueKind>(at.block->kinds[at.slot] & ~kApartFlag);
}

std::string_view Snapshot::value(std::int64_t row, int column) const
{
    const std::int64_t p = physical(row);
    if (const Value* c = replaced(p, column))
        return c->kind == ValueKind::Null ? std::string_view() : std::string_view(c->bytes);
    const Column& c = data_[static_cast<std::size_t>(column)];
    const Located at = locate(c, p);
    const Block& b = *at.block;
    const std::uint32_t begin = at.slot == 0 ? 0 : b.ends[at.slot - 1];
    if (b.kinds[at.slot] & kApartFlag) {
        std::uint32_t index = 0;
        std::memcpy(&index, b.bytes() + begin, sizeof index);
        return c.apart[index];
    }
    return std::string_view(b.bytes() + begin, b.ends[at.slot] - begin);
}

std::vector<Value> Snapshot::row(std::int64_t row) const
{
    std::vector<Value> values;
    values.reserve(columns_.size());
    for (int c = 0; c < columnCount(); ++c)
        values.push_back({kind(row, c), std::string(value(row, c))});
    return values;
}

void Snapshot::replaceRow(std::int64_t row, const std::vector<Value>& values)
{
    std::vector<Value> copy = values;
    copy.resize(columns_.size());
    replaced_[physical(row)] = std::move(copy);
}

void Snapshot::appendRow(const std::vector<Value>& values)
{
    for (std::size_t i = 0; i < data_.size(); ++i) {
        const Value empty;
        const Value& v = i < values.size() ? values[i] : empty;
        cell(v.kind, v.bytes.data(), v.bytes.size());
    }
    endRow();
}

Snapshot Snapshot::takeWholeBlocks(bool all)
{
    Snapshot part;
    part.columns_ = columns_;
    part.data_.resize(data_.size());
    std::int64_t whole = all ? physicalRows_ : physicalRows_ / kBlockRows * kBlockRows;
    auto wholeBlocks = static_cast<std::size_t>((whole + kBlockRows - 1) / kBlockRows);
    if (all)
        closeBlocks(); // blocks leave only from the block memory
    // Blocks leave only from the block memory: a last whole block that could
    // not be closed (memory ran out) stays behind with its rows.
    while (wholeBlocks > 0 && std::any_of(data_.begin(), data_.end(), [wholeBlocks](const Column& c) {
               return !c.blocks[wholeBlocks - 1].piece;
           })) {
        --wholeBlocks;
        whole = static_cast<std::int64_t>(wholeBlocks) * kBlockRows;
    }
    if (whole == 0)
        return part;
    for (std::size_t c = 0; c < data_.size(); ++c) {
        Column& from = data_[c];
        Column& to = part.data_[c];
        to.blocks.assign(std::make_move_iterator(from.blocks.begin()),
                         std::make_move_iterator(from.blocks.begin() + static_cast<std::ptrdiff_t>(wholeBlocks)));
        from.blocks.erase(from.blocks.begin(), from.blocks.begin() + static_cast<std::ptrdiff_t>(wholeBlocks));
        // Cells kept apart go with their blocks; those of the block still
        // filling (never more than its rows) stay, renumbered from zero.
        to.apart = std::move(from.apart);
        from.apart.clear();
        if (!from.blocks.empty()) {
            Block& filling = *from.blocks.front().block;
            for (std::size_t slot = 0; slot < slot_; ++slot) {
                if (!(filling.kinds[slot] & kApartFlag))
                    continue;
                const std::uint32_t begin = slot == 0 ? 0 : filling.ends[slot - 1];
                std::uint32_t index = 0;
                std::memcpy(&index, filling.bytes() + begin, sizeof index);
                const auto renumbered = static_cast<std::uint32_t>(from.apart.size());
                from.apart.push_back(std::move(to.apart[index]));
                std::memcpy(filling.bytes() + begin, &renumbered, sizeof renumbered);
            }
        }
    }
    part.physicalRows_ = part.rows_ = whole;
    part.slot_ = static_cast<std::size_t>(whole % kBlockRows);
    physicalRows_ -= whole;
    rows_ -= whole;
    return part;
}

void Snapshot::adopt(Snapshot&& part)
{
    if (part.physicalRows_ == 0)
        return;
    // Everything that can fail for want of memory comes first, so that a
    // failure leaves this snapshot as it was.
    if (data_.empty() && columns_.empty()) {
        std::vector<Column> data(part.columns_.size());
        columns_ = part.columns_;
        data_ = std::move(data);
    }
    for (std::size_t c = 0; c < data_.size() && c < part.data_.size(); ++c) {
        data_[c].blocks.reserve(data_[c].blocks.size() + part.data_[c].blocks.size());
        data_[c].apart.reserve(data_[c].apart.size() + part.data_[c].apart.size());
    }
    if (mapped_)
        rowMap_.reserve(rowMap_.size() + static_cast<std::size_t>(part.physicalRows_));
    closeBlocks();
    for (std::size_t c = 0; c < data_.size() && c < part.data_.size(); ++c) {
        Column& to = data_[c];
        Column& from = part.data_[c];
        const auto base = static_cast<std::uint32_t>(to.apart.size());
        if (base && !from.apart.empty()) {
            // Indices of cells kept apart follow those already here.
            for (std::size_t b = 0; b < from.blocks.size(); ++b) {
                Block* block = from.blocks[b].block;
                const std::int64_t first = static_cast<std::int64_t>(b) * kBlockRows;
                const auto slots = static_cast<std::size_t>(std::min(kBlockRows, part.physicalRows_ - first));
                for (std::size_t slot = 0; slot < slots; ++slot) {
                    if (!(block->kinds[slot] & kApartFlag))
                        continue;
                    const std::uint32_t begin = slot == 0 ? 0 : block->ends[slot - 1];
                    std::uint32_t index = 0;
                    std::memcpy(&index, block->bytes() + begin, sizeof index);
                    index += base;
                    std::memcpy(block->bytes() + begin, &index, sizeof index);
                }
            }
        }
        for (auto& s : from.apart)
            to.apart.push_back(std::move(s));
        for (auto& block : from.blocks)
            to.blocks.push_back(std::move(block));
        to.open = false;
    }
    if (mapped_)
        for (std::int64_t r = 0; r < part.physicalRows_; ++r)
            rowMap_.push_back(physicalRows_ + r);
    physicalRows_ += part.physicalRows_;
    rows_ += part.physicalRows_;
    slot_ = static_cast<std::size_t>(physicalRows_ % kBlockRows);
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
    // Each piece of block memory once, however many blocks it holds.
    std::unordered_set<const MemoryPiece*> pieces;
    for (const Column& c : data_) {
        total += c.blocks.capacity() * sizeof(BlockRef) + c.fillingCapacity;
        for (const BlockRef& b : c.blocks)
            if (b.piece && pieces.insert(b.piece.get()).second)
                total += b.piece->size();
        total += c.apart.capacity() * sizeof(std::string);
        for (const std::string& s : c.apart)
            total += s.capacity();
    }
    for (const auto& [row, values] : replaced_)
        for (const Value& v : values)
            total += sizeof(Value) + v.bytes.capacity();
    return total;
}
