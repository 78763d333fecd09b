#include "oracle/WindowRows.h"

#include "oracle/Blocking.h"
#include "oracle/WindowPlace.h"

#include <algorithm>
#include <utility>

namespace {

// Blocks asked for beyond these (the oldest) are forgotten: scrolling fast
// asks for many that are gone from the screen before they could be read.
constexpr std::size_t kWantedAtMost = 6;

} // namespace

// What the worker reading a block shares with the rows. The session is used
// by one worker at a time (one block is read at a time) and by no one else.
struct WindowRows::Fetch {
    std::shared_ptr<Session> session;
    UiMailbox* mailbox = &UiMailbox::instance();
    WindowRows* owner = nullptr; // the user-interface thread's; null once the rows are gone
};

namespace {

// The blocks kept take at least this much: fewer than a screen's worth
// would be read again and again, each letting the other go.
constexpr std::size_t kKeptAtLeast = std::size_t{16} << 20;

} // namespace

WindowRows::WindowRows(const Connection& login, KeyOrder order, std::size_t budget)
    : passLogin_(login.Another()), budget_(std::max(budget, kKeptAtLeast)), fetch_(std::make_shared<Fetch>())
{
    fetch_->session = login.Another()->Lend();
    fetch_->owner = this;
    window_ = std::make_unique<KeyedWindow>(std::move(order), budget_);
    startPass();
}

WindowRows::~WindowRows()
{
    // A block still being read is dropped when it comes; the session goes
    // with the last who holds it.
    fetch_->owner = nullptr;
}

void WindowRows::startPass()
{
    // The first screen need not wait for the pass (a filter that matches
    // rarely, or a sort the database does in full, keeps the pass long).
    headWanted_ = true;
    // A filter in the table's order: the head walks the key's order to its
    // first matches, and the pass would walk all of it beside it, each
    // slowing the other. The pass waits for the head; a head of fewer
    // rows than a head's worth holds them all, and no pass is needed.
    // (A sort keeps its pass at once: the database sorts in full for it.)
    index_.reset();
    passWaits_ = window_->order().filtered() && window_->order().tableOrder();
    if (!passWaits_)
        startIndex();
    fetchNext();
}

void WindowRows::startIndex()
{
    // A login of its own for each pass: a pass given up keeps its session
    // until the database answers the row it is on.
    index_ = std::make_unique<PositionIndex>(passLogin_->Another()->Lend(), window_->order().placesQuery());
    connect(index_.get(), &PositionIndex::arrived, this, &WindowRows::takePass);
}

void WindowRows::passAfterHead(const Snapshot& head, bool failed)
{
    passWaits_ = false;
    if (failed || head.rowCount() >= KeyedWindow::kHeadRows) {
        startIndex();
        return;
    }
    std::vector<KeyedWindow::Place> starts;
    if (head.rowCount() > 0)
        starts.push_back(window_->order().placeOf(head.row(0)));
    window_->takePass(starts, head.rowCount(), true);
}

void WindowRows::reorder(KeyOrder order)
{
    ++generation_;
    wanted_.clear();
    failure_.reset();
    window_ = std::make_unique<KeyedWindow>(std::move(order), budget_);
    if (index_)
        index_->stop();
    startPass();
    emit countChanged(true);
}

void WindowRows::takePass()
{
    if (!index_->take())
        return;
    // A pass that failed leaves the last block's end unknown: read to the
    // table's end, it could hold nearly every row.
    window_->takePass(index_->blockStarts(), index_->rowsCounted(), index_->ended() && !index_->failure());
    if (index_->failure() && !failure_) {
        failure_ = index_->failure();
        emit failed();
    }
    emit countChanged(false);
}

std::optional<WindowRows::Here> WindowRows::at(std::int64_t position) const
{
    if (position < 0 || position >= window_->rowCount())
        return std::nullopt;
    const KeyedWindow::Spot spot = window_->locate(position);
    const Snapshot* rows = window_->rows(spot.block);
    if (!rows) {
        ask(spot.block);
        return std::nullopt;
    }
    if (spot.row >= rows->rowCount()) {
        if (window_->partial(spot.block))
            ask(spot.block);
        return std::nullopt;
    }
    return Here{rows, spot.row, window_->order().firstTableColumn()};
}

std::optional<std::vector<Value>> WindowRows::row(std::int64_t position) const
{
    const std::optional<Here> here = at(position);
    if (!here)
        return std::nullopt;
    std::vector<Value> values = here->rows->row(here->row);
    values.erase(values.begin(), values.begin() + here->firstColumn);
    return values;
}

std::optional<std::vector<Value>> WindowRows::placeAt(std::int64_t position) const
{
    const std::optional<Here> here = at(position);
    if (!here)
        return std::nullopt;
    return window_->order().placeOf(here->rows->row(here->row));
}

void WindowRows::replaceRow(std::int64_t position, const std::vector<Value>& stored)
{
    const std::optional<Here> here = at(position);
    if (!here)
        return;
    std::vector<Value> values;
    for (int c = 0; c < here->firstColumn; ++c)
        values.push_back(Value{here->rows->kind(here->row, c), std::string(here->rows->value(here->row, c))});
    values.insert(values.end(), stored.begin(), stored.end());
    window_->replaceRow(position, values);
}

void WindowRows::removeRow(std::int64_t position) { window_->removeRow(position); }

void WindowRows::forgetRows()
{
    window_->forgetRows();
    // A block being read may hold what was there before: it is read again.
    ++forgotten_;
}

std::optional<std::size_t> WindowRows::blockOf(Connection& connection, const std::vector<Value>& row)
{
    if (!window_->order().keyed())
        return std::nullopt;
    const std::uint64_t generation = generation_;
    std::optional<std::size_t> block;
    try {
        block = connection.Run([order = window_->order(), row, starts = window_->starts()](Session& session,
                                                                                          const StopToken&) {
            return BlockOfRow(session, order, row, starts);
        });
    } catch (const DbError&) {
        return std::nullopt;
    }
    // Put in another order meanwhile: its pass counts the rows anew.
    return generation == generation_ ? block : std::nullopt;
}

std::optional<std::int64_t> WindowRows::rowInserted(Connection& connection, const std::vector<Value>& stored)
{
    // A block being read may or may not hold the row: it is read again.
    ++forgotten_;
    const std::optional<std::size_t> block = blockOf(connection, stored);
    if (!block) {
        window_->forgetRows();
        return std::nullopt;
    }
    window_->addRow(*block);
    return window_->blockStart(*block);
}

void WindowRows::rowDeleted(std::optional<std::size_t> block)
{
    ++forgotten_;
    if (block)
        window_->removeFromBlock(*block);
    window_->forgetRows();
}

void WindowRows::readAgain(std::size_t block, bool head)
{
    reading_.reset();
    if (head)
        headWanted_ = true;
    else
        ask(block);
    fetchNext();
}

void WindowRows::eachBlock(const std::function<bool(const Snapshot&, int)>& visit) const
{
    const std::shared_ptr<Session> session = anotherSession();
    for (std::size_t block = 0; block < window_->blockCount(); ++block) {
        const KeyOrder::Statement s = window_->blockQuery(block);
        Snapshot rows;
        session->query(s.sql, s.params, rows);
        if (!visit(rows, window_->order().firstTableColumn()))
            return;
    }
}

void WindowRows::eachRowAt(const std::vector<std::int64_t>& positions,
                           const std::function<bool(std::vector<Value>)>& visit) const
{
    const int first = window_->order().firstTableColumn();
    const auto reaches = [this](std::int64_t p) { return p >= 0 && p < window_->rowCount(); };
    std::shared_ptr<Session> session;
    for (std::size_t at = 0; at < positions.size();) {
        if (!reaches(positions[at])) {
            ++at;
            continue;
        }
        // The rows wanted of one block, taken out before any is visited: a
        // visit lets the window turn, which may let the block go.
        const std::size_t block = window_->locate(positions[at]).block;
        Snapshot read;
        const Snapshot* rows = window_->partial(block) ? nullptr : window_->rows(block);
        if (!rows) {
            if (!session)
                session = anotherSession();
            const KeyOrder::Statement s = window_->blockQuery(block);
            session->query(s.sql, s.params, read);
            rows = &read;
        }
        std::vector<std::vector<Value>> wanted;
        for (; at < positions.size() && reaches(positions[at]); ++at) {
            const KeyedWindow::Spot spot = window_->locate(positions[at]);
            if (spot.block != block)
                break;
            if (spot.row >= rows->rowCount())
                continue;
            std::vector<Value> values = rows->row(spot.row);
            values.erase(values.begin(), values.begin() + first);
            wanted.push_back(std::move(values));
        }
        for (std::vector<Value>& values : wanted)
            if (!visit(std::move(values)))
                return;
    }
}

void WindowRows::ask(std::size_t block) const
{
    if (reading_ == block)
        return;
    std::erase(wanted_, block);
    wanted_.push_front(block);
    if (wanted_.size() > kWantedAtMost)
        wanted_.pop_back();
    fetchNext();
}

void WindowRows::holdReads(bool held)
{
    readsHeld_ = held;
    fetchNext();
}

void WindowRows::fetchNext() const
{
    if (readsHeld_ || reading_ || (wanted_.empty() && !headWanted_))
        return;
    const bool head = std::exchange(headWanted_, false);
    const std::size_t block = head ? 0 : wanted_.front();
    if (!head)
        wanted_.pop_front();
    reading_ = block;
    const std::uint64_t generation = generation_;
    const std::uint64_t forgotten = forgotten_;
    StartWorker([fetch = fetch_, statement = head ? window_->headQuery() : window_->blockQuery(block), block, head,
                 generation, forgotten] {
        auto rows = std::make_shared<Snapshot>();
        std::optional<DbError> failure;
        try {
            fetch->session->query(statement.sql, statement.params, *rows);
        } catch (const DbError& e) {
            failure = e;
        } catch (const std::bad_alloc&) {
            rows.reset();
            failure = DbError(DbError::kGeneric, "there was not enough memory to read the rows");
        } catch (const std::exception& e) {
            failure = DbError(DbError::kGeneric, e.what());
        }
        fetch->mailbox->post([fetch, generation, forgotten, block, head, rows, failure] {
            if (!fetch->owner)
                return;
            if (forgotten != fetch->owner->forgotten_ && generation == fetch->owner->generation_)
                fetch->owner->readAgain(block, head);
            else
                fetch->owner->fetched(generation, block, head, rows, failure);
        });
    });
}

void WindowRows::fetched(std::uint64_t generation, std::size_t block, bool head, std::shared_ptr<Snapshot> rows,
                         std::optional<DbError> failure)
{
    reading_.reset();
    if (generation == generation_) {
        if (failure) {
            if (head && passWaits_)
                passAfterHead({}, true);
            if (!failure_) {
                failure_ = std::move(failure);
                emit failed();
            }
        } else {
            const std::int64_t read = rows->rowCount();
            const bool counted = head && passWaits_;
            if (counted)
                passAfterHead(*rows, false);
            if ((head ? window_->takeHead(std::move(*rows)) : window_->takeBlock(block, std::move(*rows))) != 0)
                emit countChanged(true);
            else
                emit rowsArrived(window_->blockStart(block), read);
            if (counted && !passWaits_ && !index_)
                emit countChanged(false); // the head was every row: counted
        }
    }
    fetchNext();
}
