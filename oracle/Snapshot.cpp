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
    auto* b = reinterpret_cast<Wide*>(c.blocks.back().block);
    if (sizeof(Wide) + b->head.size + size > c.fillingCapacity) [[unlikely]]
        b = grow(c, std::max(sizeof(Wide) + b->head.size + size, c.fillingCapacity * 2));
    if (size) {
        std::memcpy(b->bytes() + b->head.size, data, size);
        b->head.size += static_cast<std::uint32_t>(size);
    }
    b->ends[slot_] = b->head.size;
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
        reopen(c);
}

// The filling block, moved into a buffer of `capacity` bytes.
Snapshot::Wide* Snapshot::grow(Column& c, std::size_t capacity)
{
    const Block* b = c.blocks.back().block;
    auto buffer = std::make_unique_for_overwrite<char[]>(capacity);
    std::memcpy(buffer.get(), b, sizeof(Wide) + b->size);
    c.filling = std::move(buffer);
    c.fillingCapacity = capacity;
    auto* moved = reinterpret_cast<Wide*>(c.filling.get());
    c.blocks.back() = {&moved->head, nullptr};
    return moved;
}

// The last block, closed, copied back into a filling buffer, wide again.
void Snapshot::reopen(Column& c)
{
    const Block& b = *c.blocks.back().block;
    const std::size_t capacity = sizeof(Wide) + b.size + 1024;
    auto buffer = std::make_unique_for_overwrite<char[]>(capacity);
    auto* w = new (buffer.get()) Wide;
    w->head = {b.size, static_cast<std::uint16_t>(kBlockRows), 0, 0};
    for (std::size_t slot = 0; slot < b.cells; ++slot) {
        w->ends[slot] = b.end(slot);
        w->kinds[slot] = b.stored(slot);
    }
    std::memcpy(w->bytes(), b.bytes(), b.size);
    c.filling = std::move(buffer);
    c.fillingCapacity = capacity;
    c.blocks.back() = {&w->head, nullptr};
    c.open = true;
}

void Snapshot::startBlock(Column& c)
{
    constexpr std::size_t kFirstCapacity = sizeof(Wide) + 16 * 1024;
    if (c.fillingCapacity < kFirstCapacity) {
        c.filling = std::make_unique_for_overwrite<char[]>(kFirstCapacity);
        c.fillingCapacity = kFirstCapacity;
    }
    auto* b = new (c.filling.get()) Wide; // every slot is written before it is read
    b->head = {0, static_cast<std::uint16_t>(kBlockRows), 0, 0};
    c.blocks.push_back({&b->head, nullptr});
    c.open = true;
}

// The filling block goes into the block memory, as small as its rows allow:
// its cells only, 16-bit ends when its bytes allow them, one kind for all
// when its cells share it (or share it but for NULLs).
void Snapshot::closeBlock(Column& c)
{
    if (!c.open)
        return;
    const auto& w = *reinterpret_cast<const Wide*>(c.blocks.back().block);
    const std::int64_t first = static_cast<std::int64_t>(c.blocks.size() - 1) * kBlockRows;
    const auto count = static_cast<std::size_t>(std::clamp<std::int64_t>(physicalRows_ - first, 0, kBlockRows));
    // (a cell of a row not ended is not kept)
    const std::uint32_t size = count == 0 ? 0 : w.ends[count - 1];
    // (loops with no early way out and no branch: a few cycles a cell)
    const auto null = static_cast<std::uint8_t>(ValueKind::Null);
    const std::uint8_t* kinds = w.kinds;
    std::uint8_t one = count ? kinds[0] : null;
    std::uint8_t differ = 0;
    for (std::size_t slot = 0; slot < count; ++slot)
        differ |= static_cast<std::uint8_t>(kinds[slot] ^ one);
    bool oneKind = differ == 0, anyNull = false;
    if (!oneKind) {
        // One kind but for NULLs?
        const std::uint8_t* notNull = std::find_if(kinds, kinds + count, [null](std::uint8_t k) { return k != null; });
        one = *notNull; // there is one: the kinds differ
        std::uint8_t other = 0, nulls = 0;
        for (std::size_t slot = 0; slot < count; ++slot) {
            other |= static_cast<std::uint8_t>(kinds[slot] != one && kinds[slot] != null);
            nulls |= static_cast<std::uint8_t>(kinds[slot] == null);
        }
        oneKind = other == 0;
        anyNull = nulls != 0;
    }

    Block head{size, static_cast<std::uint16_t>(count), 0, 0};
    if (size <= 0xffff)
        head.layout |= kNarrowEnds;
    if (oneKind) {
        head.layout |= kOneKind;
        head.kind = one;
        if (anyNull && one != null)
            head.layout |= kNullBits;
    }
    BlockMemory::Place place = memory_.allocate(sizeof(Block) + head.endsBytes() + head.kindsBytes() + size);
    auto* b = new (place.at) Block(head);
    auto* arrays = place.at + sizeof(Block);
    if (head.narrow()) {
        auto* ends = reinterpret_cast<std::uint16_t*>(arrays); // aligned: the head is 8 bytes
        for (std::size_t slot = 0; slot < count; ++slot)
            ends[slot] = static_cast<std::uint16_t>(w.ends[slot]);
    } else
        std::memcpy(arrays, w.ends, count * 4);
    char* kindsAt = arrays + head.endsBytes();
    if (!oneKind) {
        std::memcpy(kindsAt, kinds, count);
    } else if (head.layout & kNullBits) {
        std::memset(kindsAt, 0, head.kindsBytes());
        for (std::size_t slot = 0; slot < count; ++slot)
            if (kinds[slot] == null)
                kindsAt[slot / 8] = static_cast<char>(kindsAt[slot / 8] | 1 << (slot % 8));
    }
    std::memcpy(b->bytes(), reinterpret_cast<const char*>(&w + 1), size);
    c.blocks.back() = {b, std::move(place.piece)};
    c.open = false;
}

// Where a cell kept apart holds its index among those of its column; null
// for a cell held in the block.
char* Snapshot::apartIndex(Block& b, std::size_t slot)
{
    return (b.stored(slot) & kApartFlag) ? b.bytes() + b.begin(slot) : nullptr;
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
    return static_cast<ValueKind>(at.block->stored(at.slot) & ~kApartFlag);
}

std::string_view Snapshot::value(std::int64_t row, int column) const
{
    const std::int64_t p = physical(row);
    if (const Value* c = replaced(p, column))
        return c->kind == ValueKind::Null ? std::string_view() : std::string_view(c->bytes);
    const Column& c = data_[static_cast<std::size_t>(column)];
    const Located at = locate(c, p);
    const Block& b = *at.block;
    const std::uint32_t begin = b.begin(at.slot);
    if (b.stored(at.slot) & kApartFlag) [[unlikely]] {
        std::uint32_t index = 0;
        std::memcpy(&index, b.bytes() + begin, sizeof index);
        return c.apart[index];
    }
    return std::string_view(b.bytes() + begin, b.end(at.slot) - begin);
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
            for (std::size_t slot = 0; slot < std::min<std::size_t>(slot_, filling.cells); ++slot) {
                char* at = apartIndex(filling, slot);
                if (!at)
                    continue;
                std::uint32_t index = 0;
                std::memcpy(&index, at, sizeof index);
                const auto renumbered = static_cast<std::uint32_t>(from.apart.size());
                from.apart.push_back(std::move(to.apart[index]));
                std::memcpy(at, &renumbered, sizeof renumbered);
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
                for (std::size_t slot = 0; slot < std::min<std::size_t>(slots, block->cells); ++slot) {
                    char* at = apartIndex(*block, slot);
                    if (!at)
                        continue;
                    std::uint32_t index = 0;
                    std::memcpy(&index, at, sizeof index);
                    index += base;
                    std::memcpy(at, &index, sizeof index);
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
