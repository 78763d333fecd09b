#include "oracle/PositionIndex.h"

#include "oracle/Blocking.h"

#include <QEventLoop>

#include <atomic>
#include <chrono>
#include <mutex>

namespace {

struct PassStopped {};

using Clock = std::chrono::steady_clock;
constexpr auto kHandOverInterval = std::chrono::milliseconds(100);

} // namespace

struct PositionIndex::Shared {
    // Set before the worker starts, then the worker's alone.
    const KeyOrder::Statement places;
    UiMailbox* const mailbox;
    // The user-interface thread's alone.
    PositionIndex* index = nullptr; // null once the index is gone
    // Touched only with `mutex` held.
    std::mutex mutex;
    struct HandOver {
        std::vector<Place> starts;
        std::int64_t counted = 0;
        bool ended = false;
        bool stopped = false;
        std::optional<DbError> failure;
    } handOver;
    // The worker's until it sets handOver.ended; then taken under the lock.
    std::shared_ptr<Session> session;
    std::atomic<bool> stop{false};

    Shared(KeyOrder::Statement p, std::shared_ptr<Session> s)
        : places(std::move(p)), mailbox(&UiMailbox::instance()), session(std::move(s))
    {
    }

    void post(const std::shared_ptr<Shared>& self)
    {
        mailbox->post([self] {
            if (self->index)
                emit self->index->arrived();
        });
    }
};

namespace {

// Counts the rows and keeps the first row's place of every block.
class PassSink final : public RowSink {
public:
    explicit PassSink(std::shared_ptr<PositionIndex::Shared> shared) : shared_(std::move(shared)) {}

    void begin(const std::vector<ColumnInfo>& columns) override { terms_ = columns.size(); }
    void cell(ValueKind kind, const char* data, std::size_t size) override
    {
        if (keeping_)
            place_.push_back(Value{kind, data ? std::string(data, size) : std::string()});
    }
    void endRow() override
    {
        if (keeping_) {
            starts_.push_back(std::move(place_));
            place_ = {};
        }
        ++rows_;
        keeping_ = rows_ % PositionIndex::kBlockRows == 0;
        if (shared_->stop.load(std::memory_order_relaxed))
            throw PassStopped{};
        if (keeping_ && (starts_.size() == 1 || Clock::now() - last_ >= kHandOverInterval))
            handOver(false, {}, false);
    }

    // Everything found so far; with `ended`, also that the pass is over.
    void handOver(bool ended, std::optional<DbError> failure, bool stopped)
    {
        {
            const std::lock_guard<std::mutex> lock(shared_->mutex);
            auto& h = shared_->handOver;
            for (auto& p : starts_)
                h.starts.push_back(std::move(p));
            h.counted = rows_;
            if (ended) {
                h.ended = true;
                h.stopped = stopped;
                h.failure = std::move(failure);
            }
        }
        starts_.clear();
        last_ = Clock::now();
        shared_->post(shared_);
    }

private:
    std::shared_ptr<PositionIndex::Shared> shared_;
    std::size_t terms_ = 0;
    std::vector<PositionIndex::Place> starts_;
    PositionIndex::Place place_;
    bool keeping_ = true; // the next row starts a block
    std::int64_t rows_ = 0;
    Clock::time_point last_ = Clock::now();
};

void runPass(const std::shared_ptr<PositionIndex::Shared>& shared)
{
    PassSink sink(shared);
    std::optional<DbError> failure;
    bool stopped = false;
    try {
        shared->session->queryLarge(shared->places.sql, shared->places.params, sink);
    } catch (const PassStopped&) {
        stopped = true;
    } catch (const DbError& e) {
        failure = e;
    } catch (const std::exception& e) {
        failure = DbError(DbError::kGeneric, e.what());
    }
    sink.handOver(true, std::move(failure), stopped);
}

} // namespace

PositionIndex::PositionIndex(std::shared_ptr<Session> session, KeyOrder::Statement places)
    : shared_(std::make_shared<Shared>(std::move(places), std::move(session)))
{
    shared_->index = this;
    StartWorker([shared = shared_] { runPass(shared); });
}

PositionIndex::~PositionIndex()
{
    // The worker goes on to its end alone, owning the session.
    shared_->index = nullptr;
    shared_->stop = true;
}

void PositionIndex::stop() { shared_->stop = true; }

bool PositionIndex::take()
{
    const std::lock_guard<std::mutex> lock(shared_->mutex);
    auto& h = shared_->handOver;
    const bool came = !h.starts.empty() || h.counted != counted_ || (h.ended && !ended_);
    for (auto& p : h.starts)
        starts_.push_back(std::move(p));
    h.starts.clear();
    counted_ = h.counted;
    if (h.ended && !ended_) {
        ended_ = true;
        stopped_ = h.stopped;
        failure_ = h.failure;
        session_ = std::move(shared_->session);
    }
    return came;
}

void PositionIndex::waitForEnd()
{
    const auto done = [this] {
        const std::lock_guard<std::mutex> lock(shared_->mutex);
        return shared_->handOver.ended;
    };
    if (done())
        return;
    QEventLoop loop;
    connect(this, &PositionIndex::arrived, &loop, [&] {
        if (done())
            loop.quit();
    });
    if (!done())
        loop.exec(QEventLoop::ExcludeUserInputEvents);
}
