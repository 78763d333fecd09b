#pragma once

// The rows of a table kept in the database, as the grid reaches them by
// position: the position pass (PositionIndex) splits the order into blocks
// of kBlockRows rows, each known by its first row's place; a block is read
// by seeking from its place to the next block's (KeyOrder::rowsFrom), and
// the blocks read lately are kept, within a memory budget.
//
// Rows others insert or delete after the pass make a block longer or shorter
// when it is read: each row still belongs to exactly one block (the one
// whose places surround it), so no row shows twice or goes missing at a
// block's edge; the block's new length moves the positions after it and the
// row count, and takeBlock tells by how much.
//
// Before the pass has found anything, the head (the first kHeadRows rows,
// a screen's worth) can be read on its own: a filter or sort shows its first
// rows after the database found that many, not after a block's worth, and
// the rows count at least that many until the pass says how many there are.
//
// Used on one thread; readBlock runs a query on the session it is given.

#include "oracle/Engine.h"
#include "oracle/KeyOrder.h"
#include "oracle/Snapshot.h"

#include <cstdint>
#include <map>
#include <unordered_map>
#include <vector>

class KeyedWindow {
public:
    static constexpr std::int64_t kBlockRows = 1024;
    static constexpr std::int64_t kHeadRows = 50;
    using Place = std::vector<Value>;

    KeyedWindow(KeyOrder order, std::size_t budget);

    const KeyOrder& order() const { return order_; }

    // What the pass found: the places of the blocks' first rows (all so far,
    // in order), the rows counted, and whether the pass has ended.
    void takePass(const std::vector<Place>& starts, std::int64_t counted, bool ended);
    bool passEnded() const { return passEnded_; }

    std::int64_t rowCount() const;
    std::size_t blockCount() const { return starts_.size(); }

    // The block that holds a position (0 <= position < rowCount()), and the
    // row's place in it.
    struct Spot {
        std::size_t block = 0;
        std::int64_t row = 0;
    };
    Spot locate(std::int64_t position) const;
    // The position of a block's first row.
    std::int64_t blockStart(std::size_t block) const;

    // The block's rows when they are kept here (it counts as used now); null otherwise.
    const Snapshot* rows(std::size_t block);
    // The query that reads a block: from its place to the next block's.
    KeyOrder::Statement blockQuery(std::size_t block) const;
    // Keeps a block read by blockQuery; how much the row count changed by.
    std::int64_t takeBlock(std::size_t block, Snapshot rows);
    // The query that reads the head, and keeps what it read as block 0's
    // first rows (unless block 0 is kept already); how much the row count
    // changed by.
    KeyOrder::Statement headQuery() const;
    std::int64_t takeHead(Snapshot rows);
    // Whether a block kept holds only its first rows (the head): its other
    // rows are read with blockQuery.
    bool partial(std::size_t block) const;
    // Reads a block here and now with `session`, and keeps it (see takeBlock).
    std::int64_t readBlock(Session& session, std::size_t block);
    // A row read changed (its values as the database stored them, in the
    // columns rowsFrom reads) or went: in the block kept, if it is; a row
    // gone moves the positions after it up.
    void replaceRow(std::int64_t position, const std::vector<Value>& values);
    void removeRow(std::int64_t position);
    // A row was added among a block's, or one of its rows went: the block
    // is one longer or shorter (the positions after it move) and is read
    // again when shown.
    void addRow(std::size_t block);
    void removeFromBlock(std::size_t block);
    // The places of the blocks' first rows found so far.
    const std::vector<Place>& starts() const { return starts_; }
    // Forgets every block kept (after a change the blocks may not show).
    void forgetRows();

    // The memory the blocks kept take.
    std::size_t memoryBytes() const { return bytes_; }

private:
    // The rows the pass counted in a block.
    std::int64_t counted(std::size_t block) const;
    std::int64_t length(std::size_t block) const;
    // Whether a block's end is known (the next block's place, or the pass's end).
    bool bounded(std::size_t block) const { return block + 1 < starts_.size() || passEnded_; }
    void keep(std::size_t block, Snapshot rows, bool bounded, bool head);
    void resize(std::size_t block, std::int64_t by);
    void makeRoom();

    KeyOrder order_;
    std::size_t budget_;
    std::vector<Place> starts_;
    std::int64_t counted_ = 0;
    std::int64_t headRows_ = 0; // the rows the head read found
    bool passEnded_ = false;
    // Blocks read whose length differs from what the pass counted: their length.
    std::map<std::size_t, std::int64_t> lengths_;
    struct Kept {
        Snapshot rows;
        std::uint64_t used = 0;
        std::size_t bytes = 0;
        bool bounded = true; // read to the next block's place (else the first kBlockRows rows only)
        bool head = false;   // the head, with rows after it not read
    };
    std::unordered_map<std::size_t, Kept> kept_;
    std::uint64_t clock_ = 0;
    std::size_t bytes_ = 0;
};
