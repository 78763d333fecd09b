#pragma once

// A client-side copy of a result. Per column, rows are stored in blocks of
// 1024: where each cell's bytes end, its kind, then the exact values back to
// back (no heap object per cell). A block is filled in a buffer of its
// column's own, wide (a 32-bit end and a kind byte a cell, so that filling
// stays a couple of stores), and once full it is copied into the snapshot's
// block memory (BlockMemory.h) as small as it goes: 16-bit ends when its
// bytes fit in 65,535, and one kind for the block when every cell has it
// (NULLs then marked by a bit each) instead of a kind byte a cell. A column
// of short values thus costs two bytes a cell beyond its text. A cell of a
// megabyte or more is kept apart, so that a block's offsets never overflow.
// Rows rewritten after a save live in a small side table; a removed row only
// leaves the row map. The row count is exact once the fill has ended.
//
// A table read on another thread is filled into a snapshot of its own there,
// and handed over in whole blocks: takeWholeBlocks() on the reading thread,
// adopt() on the thread that owns the table's snapshot. Only the pieces of
// block memory are shared, and the reading thread never touches a block again
// once it has handed it over.

#include "oracle/BlockMemory.h"
#include "oracle/Engine.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

class Snapshot final : public RowSink {
public:
    Snapshot() = default;
    Snapshot(Snapshot&&) = default;
    Snapshot& operator=(Snapshot&&) = default;

    // RowSink: filled by an engine's query().
    void begin(const std::vector<ColumnInfo>& columns) override;
    void cell(ValueKind kind, const char* data, std::size_t size) override;
    void endRow() override;
    void end() override;

    const std::vector<ColumnInfo>& columns() const { return columns_; }
    int columnCount() const { return static_cast<int>(columns_.size()); }
    std::int64_t rowCount() const { return rows_; }

    ValueKind kind(std::int64_t row, int column) const;
    bool isNull(std::int64_t row, int column) const { return kind(row, column) == ValueKind::Null; }
    // The stored text or bytes; empty for NULL. Valid until the snapshot changes.
    std::string_view value(std::int64_t row, int column) const;

    // The row's values, in column order.
    std::vector<Value> row(std::int64_t row) const;

    // Replaces one row's values (after a write, with what the database stored).
    void replaceRow(std::int64_t row, const std::vector<Value>& values);
    void appendRow(const std::vector<Value>& values);
    void removeRow(std::int64_t row);

    // The rows filled so far in whole blocks, moved into a snapshot of their
    // own; the rows of a block not yet full stay. With all, every row goes.
    Snapshot takeWholeBlocks(bool all);
    // Appends the rows of `part` (filled with the same columns). This
    // snapshot must end on a whole block unless it holds no row yet, or
    // `part` is the last to come.
    void adopt(Snapshot&& part);

    std::size_t memoryBytes() const;

    // Calls visit(row, kind, value) for rows first .. end-1 of a column, in
    // order, walking the column's blocks directly; stops at the first row for
    // which visit returns true and gives it back (-1 when none does).
    // mayHold(bytes), where given, is shown the values of a run of rows back
    // to back first; when it says no, none of them is visited (a search
    // that cannot match across the run cannot match any one of them).
    template <typename Visit>
    std::int64_t scanColumn(int column, std::int64_t first, std::int64_t end, Visit visit) const
    {
        return scanColumn(column, first, end, visit, [](std::string_view) { return true; });
    }
    template <typename Visit, typename MayHold>
    std::int64_t scanColumn(int column, std::int64_t first, std::int64_t end, Visit visit, MayHold mayHold) const;

private:
    static constexpr std::int64_t kBlockRows = 1024;
    static constexpr std::size_t kApart = std::size_t{1} << 20; // cells this large are kept apart
    static constexpr std::uint8_t kApartFlag = 0x80;            // in a kind: the bytes are an index into `apart`

    // A block's head; its arrays and then its bytes follow it. A block
    // filling is Wide with kBlockRows cells; a closed one holds its rows.
    enum Layout : std::uint8_t {
        kNarrowEnds = 1, // 16-bit ends, not 32-bit
        kOneKind = 2,    // no kind byte a cell: `kind` is every cell's
        kNullBits = 4,   // with kOneKind: a bit a cell set for NULL
    };
    struct Block {
        std::uint32_t size;  // the bytes in use
        std::uint16_t cells; // cells the arrays have room for
        std::uint8_t layout; // Layout flags; none while filling
        std::uint8_t kind;   // with kOneKind: the stored kind (ValueKind, with kApartFlag)

        bool narrow() const { return (layout & kNarrowEnds) != 0; }
        const unsigned char* arrays() const { return reinterpret_cast<const unsigned char*>(this + 1); }
        std::size_t endsBytes() const { return std::size_t{cells} * (narrow() ? 2 : 4); }
        std::size_t kindsBytes() const
        {
            if (!(layout & kOneKind))
                return cells;
            return (layout & kNullBits) ? (std::size_t{cells} + 7) / 8 : 0;
        }
        const char* bytes() const
        {
            return reinterpret_cast<const char*>(arrays() + endsBytes() + kindsBytes());
        }
        char* bytes() { return const_cast<char*>(std::as_const(*this).bytes()); }
        std::uint32_t end(std::size_t slot) const
        {
            if (narrow()) {
                std::uint16_t e;
                std::memcpy(&e, arrays() + slot * 2, 2);
                return e;
            }
            std::uint32_t e;
            std::memcpy(&e, arrays() + slot * 4, 4);
            return e;
        }
        std::uint32_t begin(std::size_t slot) const { return slot == 0 ? 0 : end(slot - 1); }
        std::uint8_t stored(std::size_t slot) const
        {
            const unsigned char* k = arrays() + endsBytes();
            if (!(layout & kOneKind))
                return k[slot];
            if ((layout & kNullBits) && (k[slot / 8] >> (slot % 8) & 1))
                return static_cast<std::uint8_t>(ValueKind::Null);
            return kind;
        }
    };
    // The layout of a block while it fills.
    struct Wide {
        Block head;
        std::uint32_t ends[kBlockRows];
        std::uint8_t kinds[kBlockRows];
        char* bytes() { return reinterpret_cast<char*>(this + 1); }
    };
    static_assert(offsetof(Wide, ends) == sizeof(Block) && offsetof(Wide, kinds) == sizeof(Block) + 4 * kBlockRows
                  && sizeof(Wide) == sizeof(Block) + 5 * kBlockRows);
    struct BlockRef {
        Block* block;
        std::shared_ptr<MemoryPiece> piece; // none while the block fills in its column's buffer
    };
    struct Column {
        std::vector<BlockRef> blocks;
        std::vector<std::string> apart;
        std::unique_ptr<char[]> filling; // the last block while it fills
        std::size_t fillingCapacity = 0;
        bool open = false; // the last block is the one in `filling`
    };
    struct Located {
        const Block* block;
        std::size_t slot;
    };

    std::int64_t physical(std::int64_t row) const
    {
        return !mapped_ ? row : rowMap_[static_cast<std::size_t>(row)];
    }
    Located locate(const Column& c, std::int64_t physicalRow) const
    {
        return {c.blocks[static_cast<std::size_t>(physicalRow / kBlockRows)].block,
                static_cast<std::size_t>(physicalRow % kBlockRows)};
    }
    const Value* replaced(std::int64_t physicalRow, int column) const;
    void put(Column& c, std::uint8_t stored, const char* data, std::size_t size);
    void putApart(Column& c, ValueKind kind, const char* data, std::size_t size);
    Wide* grow(Column& c, std::size_t capacity);
    void reopen(Column& c);
    static char* apartIndex(Block& b, std::size_t slot);
    void openBlock(Column& c);
    void startBlock(Column& c);
    void closeBlock(Column& c);
    void closeBlocks();

    std::vector<ColumnInfo> columns_;
    std::vector<Column> data_;
    BlockMemory memory_;
    // (scanColumn reads the blocks directly)
    std::unordered_map<std::int64_t, std::vector<Value>> replaced_; // by physical row
    std::vector<std::int64_t> rowMap_; // visible row -> physical row, once a row was removed
    bool mapped_ = false;
    std::int64_t physicalRows_ = 0;
    std::int64_t rows_ = 0;
    std::size_t slot_ = 0; // the filling row's place in its block
    int nextColumn_ = 0;
};

template <typename Visit, typename MayHold>
std::int64_t Snapshot::scanColumn(int column, std::int64_t first, std::int64_t end, Visit visit, MayHold mayHold) const
{
    end = std::min(end, rows_);
    if (mapped_ || !replaced_.empty()) {
        // Rows moved or rewritten: the careful way.
        for (std::int64_t r = std::max<std::int64_t>(first, 0); r < end; ++r)
            if (visit(r, kind(r, column), value(r, column)))
                return r;
        return -1;
    }
    const Column& c = data_[static_cast<std::size_t>(column)];
    for (std::int64_t r = std::max<std::int64_t>(first, 0); r < end;) {
        const Block& b = *c.blocks[static_cast<std::size_t>(r / kBlockRows)].block;
        const std::int64_t blockEnd = std::min(end, (r / kBlockRows + 1) * kBlockRows);
        const auto from = static_cast<std::size_t>(r % kBlockRows);
        const auto to = static_cast<std::size_t>((blockEnd - 1) % kBlockRows);
        // Values kept apart are not among the block's bytes: such runs are visited.
        const auto* kinds = b.arrays() + b.endsBytes();
        const bool allHere = (b.layout & kOneKind) ? !(b.kind & kApartFlag)
                                                   : std::none_of(kinds + from, kinds + to + 1, [](std::uint8_t k) {
                                                         return (k & kApartFlag) != 0;
                                                     });
        const std::uint32_t runBegin = b.begin(from);
        if (allHere && !mayHold(std::string_view(b.bytes() + runBegin, b.end(to) - runBegin))) {
            r = blockEnd;
            continue;
        }
        // One loop a layout, so that the walk asks no cell how its block is laid out.
        const auto walk = [&]<typename End>(const End* ends, auto storedAt) {
            const char* bytes = b.bytes();
            for (; r < blockEnd; ++r) {
                const auto slot = static_cast<std::size_t>(r % kBlockRows);
                const std::uint8_t stored = storedAt(slot);
                const std::uint32_t begin = slot == 0 ? 0 : ends[slot - 1];
                std::string_view v(bytes + begin, ends[slot] - begin);
                if (stored & kApartFlag) [[unlikely]] {
                    std::uint32_t index = 0;
                    std::memcpy(&index, v.data(), sizeof index);
                    v = c.apart[index];
                }
                if (visit(r, static_cast<ValueKind>(stored & ~kApartFlag), v))
                    return true;
            }
            return false;
        };
        const auto walkEnds = [&](auto storedAt) {
            // The arrays follow an 8-byte head in memory aligned for any block.
            return b.narrow() ? walk(reinterpret_cast<const std::uint16_t*>(b.arrays()), storedAt)
                              : walk(reinterpret_cast<const std::uint32_t*>(b.arrays()), storedAt);
        };
        const bool found = (b.layout & (kOneKind | kNullBits)) == kOneKind
                               ? walkEnds([one = b.kind](std::size_t) { return one; })
                               : walkEnds([&b](std::size_t slot) { return b.stored(slot); });
        if (found)
            return r;
    }
    return -1;
}
