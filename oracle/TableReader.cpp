#include "oracle/TableReader.h"

#include "oracle/BlockMemory.h"
#include "oracle/Blocking.h"
#include "oracle/KeyOrder.h"
#include "oracle/MemoryBudget.h"

#include <QEventLoop>

#include <atomic>
#include <chrono>
#include <deque>
#include <mutex>

namespace {

// Thrown through the engine by the sink when the reader is asked to stop.
struct ReadStopped {};
// Thrown likewise when the rows read pass the memory budget.
struct OverBudget {};

using Clock = std::chrono::steady_clock;
constexpr auto kBatchInterval = std::chrono::milliseconds(100);

} // namespace

// The state the reader and its worker share, split by who may touch it. One
// lock guards the hand-over; every other part needs none, by its rule.
struct TableReader::Shared {
    // Set before the worker starts (starting it publishes them), then read
    // by the worker alone.
    struct Work {
        std::string table;
        std::size_t budget = 0; // the bytes the rows may take
        long long mostRows = 0; // the rows the grid can hold
        UiMailbox* mailbox = nullptr; // to tell the user-interface thread
    };
    // The user-interface thread's alone: it makes and ends the reader, and
    // the messages the worker posts run there.
    struct Ui {
        TableReader* reader = nullptr; // null once the reader is gone
    };
    // What the worker hands over: touched only with `mutex` held.
    struct HandOver {
        std::deque<Snapshot> parts; // rows read, in order
        std::optional<std::vector<ColumnInfo>> columns;
        std::vector<std::string> primaryKey;
        std::optional<long long> estimatedRows;
        bool othersCanWrite = false;
        std::vector<ColumnDetails> details;
        bool ended = false;
        bool stopped = false;
        bool outOfMemory = false;
        bool overBudget = false;
        bool overRows = false;
        std::optional<DbError> failure;
    };

    Shared(std::shared_ptr<Session> s, Work w, TableReader* r) : work(std::move(w)), ui{r}, session(std::move(s)) {}

    const Work work;
    Ui ui;
    std::mutex mutex;
    HandOver handOver;
    // The worker's (used without the lock) until it sets handOver.ended;
    // from then on the user-interface thread's, taken under the lock.
    std::shared_ptr<Session> session;
    // Any thread, no lock: asks the worker to stop after the row it is on.
    std::atomic<bool> stop{false};
};

namespace {

// Tells the user-interface thread that something arrived. The message holds
// the shared state, so it outlives both sides if it must.
void post(const std::shared_ptr<TableReader::Shared>& shared)
{
    shared->work.mailbox->post([shared] {
        if (shared->ui.reader)
            emit shared->ui.reader->arrived();
    });
}

// Fills the worker's own snapshot and hands over whole blocks as they fill.
// What a cell read takes in memory, about: its bytes, where they end and its kind.
std::size_t CellBytes(std::size_t size) { return size + 5; }

// The rows a table's size is judged by, and what they take.
constexpr long long kSample = 1024;
struct SizeSink final : RowSink {
    std::size_t bytes = 0;
    std::size_t rows = 0;
    void begin(const std::vector<ColumnInfo>&) override {}
    void cell(ValueKind, const char*, std::size_t size) override { bytes += CellBytes(size); }
    void endRow() override { ++rows; }
};

class ReadSink final : public RowSink {
public:
    explicit ReadSink(std::shared_ptr<TableReader::Shared> shared)
        : shared_(std::move(shared)), reserve_(new (std::nothrow) char[kReserve])
    {
    }

    // Whether the rows about to stop the read are more than the grid holds.
    void overRows(bool over) { overRows_ = over; }

    // Room kept for handing over what was read once memory has run out.
    void releaseReserve() { reserve_.reset(); }

    static bool shortOfAddressSpace()
    {
        constexpr std::size_t kHeadroom = std::size_t{96} << 20;
        const std::optional<std::size_t> left = AddressSpaceLeft();
        return left && *left < kHeadroom;
    }

    void begin(const std::vector<ColumnInfo>& columns) override
    {
        part_.begin(columns);
        {
            const std::lock_guard<std::mutex> lock(shared_->mutex);
            shared_->handOver.columns = columns;
        }
        post(shared_);
        last_ = Clock::now();
    }
    void cell(ValueKind kind, const char* data, std::size_t size) override
    {
        // A row more than the grid can hold goes to the database, as rows
        // past the budget do; the rows before it stay.
        if (full_) {
            overRows_ = true;
            throw OverBudget{};
        }
        part_.cell(kind, data, size);
        bytes_ += CellBytes(size);
    }
    void endRow() override
    {
        part_.endRow();
        if (shared_->stop.load(std::memory_order_relaxed))
            throw ReadStopped{};
        full_ = ++rows_ >= shared_->work.mostRows;
        if (rows_ % 1024 != 0)
            return;
        // Under an address-space limit the read stops while the window still
        // has room to paint and to start its threads, not at the last byte.
        if (limited_ && shortOfAddressSpace())
            throw std::bad_alloc();
        if (bytes_ > shared_->work.budget)
            throw OverBudget{};
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
            shared_->handOver.parts.push_back(std::move(whole));
        }
        post(shared_);
    }

    // The last rows and the end, in one step: whoever takes the rows also
    // learns that there are no more. Never throws: short of memory, the
    // rows of whole blocks go, or none, but the end is always told.
    void handOverLast(bool stopped, std::optional<DbError> failure, bool outOfMemory, bool overBudget)
    {
        Snapshot rest;
        try {
            rest = part_.takeWholeBlocks(true);
        } catch (const std::bad_alloc&) {
            releaseReserve();
            outOfMemory = true;
            try {
                rest = part_.takeWholeBlocks(false);
            } catch (const std::bad_alloc&) {
                rest = Snapshot();
            }
        }
        {
            const std::lock_guard<std::mutex> lock(shared_->mutex);
            try {
                if (rest.rowCount() > 0)
                    shared_->handOver.parts.push_back(std::move(rest));
            } catch (const std::bad_alloc&) {
                outOfMemory = true;
            }
            shared_->handOver.ended = true;
            shared_->handOver.stopped = stopped || outOfMemory;
            shared_->handOver.outOfMemory = outOfMemory;
            shared_->handOver.overBudget = overBudget;
            shared_->handOver.overRows = overBudget && overRows_;
            shared_->handOver.failure = std::move(failure);
        }
        try {
            post(shared_);
        } catch (const std::bad_alloc&) {
            // The user-interface thread finds the end at its next look.
        }
    }

private:
    static constexpr std::size_t kReserve = std::size_t{16} << 20;

    std::shared_ptr<TableReader::Shared> shared_;
    std::unique_ptr<char[]> reserve_;
    const bool limited_ = AddressSpaceLeft().has_value(); // looked at once a block only then
    Snapshot part_;
    long long rows_ = 0;
    bool full_ = false; // the rows read are all the grid can hold
    bool overRows_ = false; // what passed was the rows the grid can hold
    std::size_t bytes_ = 0; // what the rows read take, about
    bool first_ = true;
    Clock::time_point last_;
};

void readTable(const std::shared_ptr<TableReader::Shared>& shared)
{
    Session& session = *shared->session;
    ReadSink sink(shared);
    bool stopped = false;
    bool outOfMemory = false;
    bool overBudget = false;
    std::optional<DbError> failure;
    try {
        std::vector<std::string> key = session.primaryKey(shared->work.table);
        std::optional<long long> estimate = session.estimatedRows(shared->work.table);
        const bool mayGoToDatabase = !key.empty() || RowLocator(session.dialect().kind());
        const bool othersCanWrite = session.othersCanWriteWhileRead(shared->work.table);
        std::vector<ColumnDetails> details;
        try {
            details = session.columnDetails(shared->work.table);
        } catch (const DbError&) {
            // Only the headings' tool tips miss them.
        }
        {
            const std::lock_guard<std::mutex> lock(shared->mutex);
            shared->handOver.primaryKey = std::move(key);
            shared->handOver.estimatedRows = estimate;
            shared->handOver.othersCanWrite = othersCanWrite;
            shared->handOver.details = std::move(details);
        }
        // A table the database says is larger than the budget goes to it
        // after its first rows (measured for their size), rather than once
        // the budget is read.
        if (mayGoToDatabase && estimate && *estimate > kSample) {
            const Dialect& dialect = session.dialect();
            const std::string sample = dialect.firstRows("SELECT * FROM " + dialect.quote(shared->work.table), kSample);
            SizeSink size;
            session.query(sample, {}, size);
            const bool tooMany = *estimate > shared->work.mostRows;
            if (tooMany
                || (size.rows > 0 && size.bytes / size.rows * static_cast<std::size_t>(*estimate) > shared->work.budget)) {
                sink.overRows(tooMany);
                session.query(sample, {}, sink); // shown until the rows go
                throw OverBudget{};
            }
        }
        session.readTable(shared->work.table, sink);
    } catch (const ReadStopped&) {
        stopped = true;
    } catch (const OverBudget&) {
        // As when memory runs out, before it does.
        outOfMemory = overBudget = true;
    } catch (const std::bad_alloc&) {
        // The rows read so far stay; the read ends as if stopped.
        sink.releaseReserve();
        outOfMemory = true;
    } catch (const DbError& e) {
        failure = e;
    } catch (const std::exception& e) {
        failure = DbError(DbError::kGeneric, e.what());
    }
    sink.handOverLast(stopped, std::move(failure), outOfMemory, overBudget);
}

} // namespace

TableReader::TableReader(std::shared_ptr<Session> session, std::string table, long long mostRows)
    : shared_(std::make_shared<Shared>(
          std::move(session), Shared::Work{std::move(table), MemoryBudget(), mostRows, &UiMailbox::instance()}, this))
{
    StartWorker([shared = shared_] { readTable(shared); });
}

TableReader::~TableReader()
{
    // The worker goes on alone to its end, owning the session; it reads no
    // more than the row it is on.
    shared_->ui.reader = nullptr;
    shared_->stop = true;
}

void TableReader::stop() { shared_->stop = true; }

bool TableReader::take(Snapshot& into)
{
    std::deque<Snapshot> parts;
    bool ended = false;
    {
        const std::lock_guard<std::mutex> lock(shared_->mutex);
        parts.swap(shared_->handOver.parts);
        if (!columnsKnown_ && shared_->handOver.columns) {
            into.begin(*shared_->handOver.columns);
            columnsKnown_ = true;
            primaryKey_ = shared_->handOver.primaryKey;
            estimatedRows_ = shared_->handOver.estimatedRows;
            othersCanWrite_ = shared_->handOver.othersCanWrite;
            details_ = std::move(shared_->handOver.details);
        }
        if (shared_->handOver.ended && state_ == State::Reading) {
            ended = true;
            const Shared::HandOver& h = shared_->handOver;
            state_ = h.failure ? State::Failed : h.stopped ? State::Stopped : State::Done;
            failure_ = h.failure;
            outOfMemory_ = outOfMemory_ || h.outOfMemory;
            overBudget_ = h.overBudget;
            overRows_ = h.overRows;
            session_ = std::move(shared_->session);
        }
    }
    for (Snapshot& part : parts) {
        // After a part that could not be taken in, none may follow it.
        if (dropping_)
            break;
        try {
            into.adopt(std::move(part));
        } catch (const std::bad_alloc&) {
            // The rows taken in so far stay whole (adopt changes nothing when
            // it fails); the rest are let go and the read stops.
            dropping_ = outOfMemory_ = true;
            shared_->stop = true;
        }
    }
    if (outOfMemory_ && state_ == State::Done)
        state_ = State::Stopped;
    return !parts.empty() || ended;
}

std::size_t TableReader::budget() const { return shared_->work.budget; }

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
        return !shared_->handOver.parts.empty() || shared_->handOver.ended;
    });
}

void TableReader::waitForEnd()
{
    waitUntil(*this, [this] {
        const std::lock_guard<std::mutex> lock(shared_->mutex);
        return shared_->handOver.ended;
    });
}
