#pragma once

// The sort and filter of a snapshot's rows worked out on a worker thread,
// so that the window goes on painting and answering while a large table is
// put in order. The snapshot is only read there; whoever owns it must not
// change it until the job has ended (stopAndWait). The result comes back on
// the user-interface thread, unless the job was stopped first.

#include "oracle/RowOrder.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

class ViewJob {
public:
    struct Request {
        int sortColumn = -1;
        bool descending = false;
        std::vector<std::pair<int, ColumnFilter>> filters;
    };
    struct Result {
        std::vector<std::int32_t> rows; // the snapshot's rows shown, in their order
        bool outOfMemory = false;       // the rows are then empty
    };

    // Starts the job over the first `rowCount` rows of `snapshot`; `done`
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
