#pragma once

// Work over a snapshot's rows (a sort and filter, a find) done on a worker
// thread, so that the window goes on painting and answering while a large
// table is put in order or searched. The rows are only read there; whoever
// owns them must not change them until the job has ended (stopAndWait). The
// result comes back on the user-interface thread, unless the job was
// stopped first.

#include "oracle/RowOrder.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

class ViewJob {
public:
    struct Request {
        std::vector<SortKey> sort; // none: the table's order
        std::vector<std::pair<int, ColumnFilter>> filters;
    };
    struct Result {
        std::vector<std::int32_t> rows; // the snapshot's rows shown, in their order
        bool outOfMemory = false;       // the rows are then empty
    };

    // Runs `work` on a worker; what it gives back is then run on the
    // user-interface thread, unless stop or stopAndWait came first. `work`
    // ends early by throwing ViewStopped (see StopCheck).
    using Work = std::function<std::function<void()>(const std::atomic<bool>& stop)>;
    static std::shared_ptr<ViewJob> run(Work work);

    // Sorts and filters the first `rowCount` rows of `snapshot`; `done`
    // is called on the user-interface thread with the result, unless stop
    // or stopAndWait came first.
    static std::shared_ptr<ViewJob> start(const Snapshot& snapshot, std::int64_t rowCount, Request request,
                                          std::function<void(Result)> done);
    ~ViewJob();

    // The result is not wanted any more; returns at once.
    void stop();
    // As stop, and returns once the worker no longer reads the snapshot.
    void stopAndWait();

    // The rows of `request` worked out here and now (a small table, or the
    // worker's own body). ViewStopped when `stop` is set on the way.
    static std::vector<std::int32_t> work(const Snapshot& snapshot, std::int64_t rowCount, const Request& request,
                                          const std::atomic<bool>* stop);

    // From how many rows on a view is worked out on a worker (below, at
    // once: it takes less than a screen's repaint). Tests set it lower.
    static std::int64_t workerFromRows();
    static void setWorkerFromRows(std::int64_t rows);

    // For tests: called on the worker before it starts, with the job's stop flag.
    static void setStartHook(std::function<void(const std::atomic<bool>&)> hook);

    struct State;

private:
    explicit ViewJob(std::shared_ptr<State> state) : state_(std::move(state)) {}
    std::shared_ptr<State> state_;
};
