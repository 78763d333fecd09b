#include "oracle/TableReader.h"

#include "oracle/Blocking.h"

#include <QEventLoop>

#include <atomic>
#include <chrono>
#include <deque>
#include <mutex>

namespace {

// Thrown through the engine by the sink when the reader is asked to stop.
struct ReadStopped {};

using Clock = std::chrono::steady_clock;
constexpr auto kBatchInterval = std::chrono::milliseconds(100);

} // namespace

// What the worker hands over, and the one lock that guards the hand-over.
struct TableReader::Shared {
    std::mutex mutex;
    std::deque<Snapshot> parts;            // rows read, in order
    std::optional<std::vector<ColumnInfo>> columns;
    std::vector<std::string> primaryKey;
    std::optional<long long> estimatedRows;
    bool ended = false;
    bool stopped = false;
    std::optional<DbError> failure;
    std::shared_ptr<Session> session;      // the worker's until ended
    std::atomic<bool> stop{false};
    std::string sql;
    std::string table;
    UiMailbox* mailbox = nullptr;          // to tell the user-interface thread
    TableReader* reader = nullptr;         // touched on the user-interface thread only
};

namespace {

// Tells the user-interface thread that something arrived. The message holds
// the shared state, so it outlives both sides if it must.
void post(const std::shared_ptr<TableReader::Shared>& shared)
{
    shared->mailbox->post([shared] {
        if (shared->reader)
            emit shared->reader->arrived();
    });
}

} // namespace

namespace {

// Fills the worker's own snapshot and hands over whole blocks as they fill.
class ReadSink final : public RowSink {
public:
    explicit ReadSink(std::shared_ptr<TableReader::Shared> shared) : shared_(std::move(shared)) {}

    void begin(const std::vector<ColumnInfo>& columns) override
    {
        part_.begin(columns);
        {
            const std::lock_guard<std::mutex> lock(shared_->mutex);
            shared_->columns = columns;
        }
        post(shared_);
        last_ = Clock::now();
    }
    void cell(ValueKind kind, const char* data, std::size_t size) override { part_.cell(kind, data, size); }
    void endRow() override
    {
        part_.endRow();
        if (shared_->stop.load(std::memory_order_relaxed))
            throw ReadStopped{};
        if (++rows_ % 1024 != 0)
            return;
        // The first block goes at once, so the grid shows rows early.
        if (!first_ && Clock::now() - last_ < kBatchInterval)
            return;
        first_ = false;
        handOver(false);
        last_ = Clock::now();
    }
    void end() override { part_.end(); }

    // Everything read so far (with all, the block still filling too).
    void handOver(bool all)
    {
        Snapshot whole = part_.takeWholeBlocks(all);
        if (whole.rowCount() == 0)
            return;
        {
            const std::lock_guard<std::mutex> lock(shared_->mutex);
            shared_->parts.push_back(std::move(whole));
        }
        post(shared_);
    }

    // The last rows and the end, in one step: whoever takes the rows also
    // learns that there are no more.
    void handOverLast(bool stopped, std::optional<DbError> failure)
    {
        Snapshot rest = part_.takeWholeBlocks(true);
        {
            const std::lock_guard<std::mutex> lock(shared_->mutex);
            if (rest.rowCount() > 0)
                shared_->parts.push_back(std::move(rest));
            shared_->ended = true;
            shared_->stopped = stopped;
            shared_->failure = std::move(failure);
        }
        post(shared_);
    }

private:
    std::shared_ptr<TableReader::Shared> shared_;
    Snapshot part_;
    long long rows_ = 0;
    bool first_ = true;
    Clock::time_point last_;
};

void readTable(const std::shared_ptr<TableReader::Shared>& shared)
{
    Session& session = *shared->session;
    ReadSink sink(shared);
    bool stopped = false;
    std::optional<DbError> failure;
    try {
        std::vector<std::string> key = session.primaryKey(shared->table);
        std::optional<long long> estimate = session.estimatedRows(shared->table);
        {
            const std::lock_guard<std::mutex> lock(shared->mutex);
            shared->primaryKey = std::move(key);
            shared->estimatedRows = estimate;
        }
        session.query(shared->sql, {}, sink);
    } catch (const ReadStopped&) {
        stopped = true;
    } catch (const DbError& e) {
        failure = e;
    } catch (const std::exception& e) {
        failure = DbError(DbError::kGeneric, e.what());
    }
    sink.handOverLast(stopped, std::move(failure));
}

} // namespace

TableReader::TableReader(std::shared_ptr<Session> session, std::string sql, std::string table)
    : shared_(std::make_shared<Shared>())
{
    shared_->session = std::move(session);
    shared_->sql = std::move(sql);
    shared_->table = std::move(table);
    shared_->mailbox = &UiMailbox::instance();
    shared_->reader = this;
    StartWorker([shared = shared_] { readTable(shared); });
}

TableReader::~TableReader()
{
    // The worker goes on alone to its end, owning the session; it reads no
    // more than the row it is on.
    shared_->reader = nullptr;
    shared_->stop = true;
}

void TableReader::stop() { shared_->stop = true; }

bool TableReader::take(Snapshot& into)
{
    std::deque<Snapshot> parts;
    bool ended = false;
    {
        const std::lock_guard<std::mutex> lock(shared_->mutex);
        parts.swap(shared_->parts);
        if (!columnsKnown_ && shared_->columns) {
            into.begin(*shared_->columns);
            columnsKnown_ = true;
            primaryKey_ = shared_->primaryKey;
            estimatedRows_ = shared_->estimatedRows;
        }
        if (shared_->ended && state_ == State::Reading) {
            ended = true;
            state_ = shared_->failure ? State::Failed : shared_->stopped ? State::Stopped : State::Done;
            failure_ = shared_->failure;
            session_ = std::move(shared_->session);
        }
    }
    for (Snapshot& part : parts)
        into.adopt(std::move(part));
    return !parts.empty() || ended;
}

std::shared_ptr<Session> TableReader::takeSession() { return std::move(session_); }

namespace {

// Turns the event loop (no user input) until `done` holds.
template <typename Done>
void waitUntil(TableReader& reader, Done done)
{
    if (done())
        return;
    QEventLoop loop;
    QObject::connect(&reader, &TableReader::arrived, &loop, [&] {
        if (done())
            loop.quit();
    });
    if (!done())
        loop.exec(QEventLoop::ExcludeUserInputEvents);
}

} // namespace

void TableReader::waitForFirstRows()
{
    waitUntil(*this, [this] {
        const std::lock_guard<std::mutex> lock(shared_->mutex);
        return !shared_->parts.empty() || shared_->ended;
    });
}

void TableReader::waitForEnd()
{
    waitUntil(*this, [this] {
        const std::lock_guard<std::mutex> lock(shared_->mutex);
        return shared_->ended;
    });
}
