#include "oracle/ViewJob.h"

#include "oracle/Blocking.h"

#include <condition_variable>
#include <mutex>
#include <numeric>

namespace {

std::function<void(const std::atomic<bool>&)>& startHook()
{
    static std::function<void(const std::atomic<bool>&)> hook;
    return hook;
}

std::atomic<std::int64_t>& workerRows()
{
    static std::atomic<std::int64_t> rows{50'000};
    return rows;
}

} // namespace

std::int64_t ViewJob::workerFromRows() { return workerRows().load(); }

void ViewJob::setWorkerFromRows(std::int64_t rows) { workerRows().store(rows); }

// Shared by the worker and the user-interface thread: `stop` is the only
// field both write; `ended` is the worker's, read under the mutex.
struct ViewJob::State {
    std::atomic<bool> stop{false};
    std::mutex mutex;
    std::condition_variable endedChanged;
    bool ended = false;
};

std::vector<std::int32_t> ViewJob::work(const Snapshot& snapshot, std::int64_t rowCount, const Request& request,
                                        const std::atomic<bool>* stop)
{
    std::vector<std::int32_t> rows(static_cast<std::size_t>(rowCount));
    std::iota(rows.begin(), rows.end(), 0);
    // Filtering first leaves fewer rows to sort; the order of the rows kept is the same.
    if (!request.filters.empty())
        rows = FilterRows(snapshot, request.filters, rows, stop);
    if (!request.sort.empty())
        SortRowsBy(snapshot, request.sort, rows, stop);
    rows.shrink_to_fit();
    return rows;
}

std::shared_ptr<ViewJob> ViewJob::run(Work work)
{
    auto state = std::make_shared<State>();
    // The hook is read here, on the thread that sets it.
    std::function<void(const std::atomic<bool>&)> hook = startHook();
    StartWorker([state, work = std::move(work), hook = std::move(hook)] {
        std::function<void()> deliver;
        try {
            if (hook)
                hook(state->stop);
            deliver = work(state->stop);
        } catch (const ViewStopped&) {
        }
        {
            // From here on the rows are not read.
            const std::lock_guard<std::mutex> lock(state->mutex);
            state->ended = true;
        }
        state->endedChanged.notify_all();
        if (!deliver)
            return;
        // `stop` is set on the user-interface thread only, so it is read
        // there too: a job stopped before its result arrives gives none.
        UiMailbox::instance().post([state, deliver = std::move(deliver)] {
            if (!state->stop.load())
                deliver();
        });
    });
    return std::shared_ptr<ViewJob>(new ViewJob(std::move(state)));
}

std::shared_ptr<ViewJob> ViewJob::start(const Snapshot& snapshot, std::int64_t rowCount, Request request,
                                        std::function<void(Result)> done)
{
    return run([&snapshot, rowCount, request = std::move(request),
                done = std::move(done)](const std::atomic<bool>& stop) -> std::function<void()> {
        auto result = std::make_shared<Result>();
        try {
            result->rows = work(snapshot, rowCount, request, &stop);
        } catch (const std::bad_alloc&) {
            result->rows = {};
            result->outOfMemory = true;
        }
        return [result, done] { done(std::move(*result)); };
    });
}

ViewJob::~ViewJob() { stopAndWait(); }

void ViewJob::stop() { state_->stop.store(true); }

void ViewJob::stopAndWait()
{
    stop();
    std::unique_lock<std::mutex> lock(state_->mutex);
    state_->endedChanged.wait(lock, [this] { return state_->ended; });
}

void ViewJob::setStartHook(std::function<void(const std::atomic<bool>&)> hook) { startHook() = std::move(hook); }
