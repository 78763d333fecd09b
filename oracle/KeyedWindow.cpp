#include "oracle/KeyedWindow.h"

#include <algorithm>

KeyedWindow::KeyedWindow(KeyOrder order, std::size_t budget) : order_(std::move(order)), budget_(budget) {}

void KeyedWindow::takePass(const std::vector<Place>& starts, std::int64_t counted, bool ended)
{
    const std::size_t before = starts_.size();
    starts_.insert(starts_.end(), starts.begin() + static_cast<std::ptrdiff_t>(before), starts.end());
    counted_ = counted;
    passEnded_ = ended;
    // The last block kept may have been read without its end: read it again.
    if (before > 0 && (starts_.size() > before || ended)) {
        lengths_.erase(before - 1);
        const auto it = kept_.find(before - 1);
        if (it != kept_.end() && !it->second.bounded) {
            bytes_ -= it->second.bytes;
            kept_.erase(it);
        }
    }
}

std::int64_t KeyedWindow::counted(std::size_t block) const
{
    if (block + 1 < starts_.size())
        return kBlockRows;
    return counted_ - kBlockRows * static_cast<std::int64_t>(block);
}

std::int64_t KeyedWindow::length(std::size_t block) const
{
    const auto it = lengths_.find(block);
    return it != lengths_.end() ? it->second : counted(block);
}

std::int64_t KeyedWindow::rowCount() const
{
    std::int64_t n = counted_;
    for (const auto& [block, len] : lengths_)
        n += len - counted(block);
    // The head's rows are there whatever the pass has counted yet.
    return passEnded_ ? n : std::max(n, headRows_);
}

KeyedWindow::Spot KeyedWindow::locate(std::int64_t position) const
{
    // Blocks between those of another length are kBlockRows long.
    std::int64_t shift = 0; // how far the blocks read so far moved the positions
    for (const auto& [block, len] : lengths_) {
        const std::int64_t start = kBlockRows * static_cast<std::int64_t>(block) + shift;
        if (position < start)
            break;
        if (position < start + len)
            return {block, position - start};
        shift += len - counted(block);
    }
    const std::int64_t at = std::max<std::int64_t>(0, position - shift);
    std::size_t block = static_cast<std::size_t>(at / kBlockRows);
    std::int64_t row = at % kBlockRows;
    if (!starts_.empty() && block >= starts_.size()) {
        // In the last block while the pass still counts (or past the end).
        row += kBlockRows * static_cast<std::int64_t>(block - (starts_.size() - 1));
        block = starts_.size() - 1;
    }
    return {block, row};
}

std::int64_t KeyedWindow::blockStart(std::size_t block) const
{
    std::int64_t start = kBlockRows * static_cast<std::int64_t>(block);
    for (const auto& [b, len] : lengths_) {
        if (b >= block)
            break;
        start += len - counted(b);
    }
    return start;
}

const Snapshot* KeyedWindow::rows(std::size_t block)
{
    const auto it = kept_.find(block);
    if (it == kept_.end())
        return nullptr;
    it->second.used = ++clock_;
    return &it->second.rows;
}

KeyOrder::Statement KeyedWindow::blockQuery(std::size_t block) const
{
    const Place* from = block > 0 ? &starts_[block] : nullptr;
    if (block + 1 < starts_.size())
        return order_.rowsFrom(from, &starts_[block + 1]);
    // The last block: to the end once the pass has ended, else its first rows.
    if (passEnded_)
        return order_.rowsFrom(from, nullptr);
    return order_.rowsFrom(from, nullptr, kBlockRows);
}

std::int64_t KeyedWindow::takeBlock(std::size_t block, Snapshot rows)
{
    const std::int64_t before = rowCount();
    const bool isBounded = bounded(block);
    if (isBounded) {
        if (rows.rowCount() != counted(block))
            lengths_[block] = rows.rowCount();
        else
            lengths_.erase(block);
    }
    keep(block, std::move(rows), isBounded, false);
    return rowCount() - before;
}

KeyOrder::Statement KeyedWindow::headQuery() const { return order_.rowsFrom(nullptr, nullptr, kHeadRows); }

std::int64_t KeyedWindow::takeHead(Snapshot rows)
{
    if (kept_.contains(0))
        return 0;
    const std::int64_t before = rowCount();
    headRows_ = rows.rowCount();
    // Block 0's first rows whatever the pass finds later, so the pass's
    // places do not let them go; fewer rows than asked for are all there are.
    keep(0, std::move(rows), true, headRows_ == kHeadRows);
    return rowCount() - before;
}

bool KeyedWindow::partial(std::size_t block) const
{
    const auto it = kept_.find(block);
    return it != kept_.end() && it->second.head;
}

void KeyedWindow::keep(std::size_t block, Snapshot rows, bool isBounded, bool head)
{
    const auto old = kept_.find(block);
    if (old != kept_.end()) {
        bytes_ -= old->second.bytes;
        kept_.erase(old);
    }
    const std::size_t size = rows.memoryBytes();
    kept_.emplace(block, Kept{std::move(rows), ++clock_, size, isBounded, head});
    bytes_ += size;
    makeRoom();
}

std::int64_t KeyedWindow::readBlock(Session& session, std::size_t block)
{
    const KeyOrder::Statement s = blockQuery(block);
    Snapshot rows;
    session.query(s.sql, s.params, rows);
    return takeBlock(block, std::move(rows));
}

void KeyedWindow::replaceRow(std::int64_t position, const std::vector<Value>& values)
{
    const Spot s = locate(position);
    const auto it = kept_.find(s.block);
    if (it != kept_.end() && s.row < it->second.rows.rowCount())
        it->second.rows.replaceRow(s.row, values);
}

void KeyedWindow::removeRow(std::int64_t position)
{
    const Spot s = locate(position);
    const auto it = kept_.find(s.block);
    if (it != kept_.end() && s.row < it->second.rows.rowCount())
        it->second.rows.removeRow(s.row);
    lengths_[s.block] = length(s.block) - 1;
}

void KeyedWindow::addRow(std::size_t block) { resize(block, +1); }

void KeyedWindow::removeFromBlock(std::size_t block) { resize(block, -1); }

void KeyedWindow::resize(std::size_t block, std::int64_t by)
{
    lengths_[block] = std::max<std::int64_t>(0, length(block) + by);
    if (const auto it = kept_.find(block); it != kept_.end()) {
        bytes_ -= it->second.bytes;
        kept_.erase(it);
    }
}

void KeyedWindow::forgetRows()
{
    kept_.clear();
    bytes_ = 0;
}

void KeyedWindow::makeRoom()
{
    // The least lately used go first; the block just read always stays.
    while (bytes_ > budget_ && kept_.size() > 1) {
        auto oldest = kept_.begin();
        for (auto it = kept_.begin(); it != kept_.end(); ++it)
            if (it->second.used < oldest->second.used)
                oldest = it;
        bytes_ -= oldest->second.bytes;
        kept_.erase(oldest);
    }
}
