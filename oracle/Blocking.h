#pragma once

// Calls that may block on a server, run so that the user-interface thread
// keeps turning.
//
// RunBlocking runs `work` on a worker thread. Meanwhile the calling thread
// (when it is the application's thread) dispatches everything but user input:
// windows paint and timers run, while clicks and keys wait, in their order,
// until the call has returned. When the call takes longer than the patience
// (a few seconds), the long-wait handler the pages install is called once: it
// shows a way to stop waiting (or to quit) and returns when the call ends or
// the user stopped waiting. Stopping starts `interrupt` on a thread of its own
// and throws a DbError with DbError::kStoppedWaiting; the work runs on to its
// end on its worker, owning what it captured, and sees its StopToken set, so
// it must not commit anything after that. The caller never touches again
// what the work uses.
//
// On any other thread, or without an application object, the work runs on
// the calling thread.

#include <QElapsedTimer>
#include <QObject>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>
#include <optional>
#include <type_traits>

// Whether the caller has stopped waiting for this call.
class StopToken {
public:
    explicit StopToken(const std::atomic<bool>* flag = nullptr) : flag_(flag) {}
    bool stopRequested() const { return flag_ && flag_->load(std::memory_order_acquire); }

private:
    const std::atomic<bool>* flag_;
};

// What the long-wait handler sees of the call it waits for. Lives on the
// user-interface thread.
class WaitControl : public QObject {
    Q_OBJECT
public:
    WaitControl() { since_.start(); }
    bool finished() const { return finished_; }
    // How long the call has been waited for.
    qint64 waitedMs() const { return since_.elapsed(); }
    bool stopped() const { return stopped_; }
    // The user stops waiting: the call counts as failed from now on.
    void stopWaiting();
    // The call returned (or failed): for the call's own hand-over.
    void finish();

signals:
    // The call returned (or failed) on its own, or the user stopped waiting.
    void done();

private:
    QElapsedTimer since_;
    bool finished_ = false;
    bool stopped_ = false;
};

using LongWaitHandler = std::function<void(WaitControl&)>;
void SetLongWaitHandler(LongWaitHandler handler);
// How long a call may block before the handler is asked (tests shorten it).
void SetWaitPatience(std::chrono::milliseconds patience);

// Runs `task` on a worker thread of the pool the blocking calls use, and
// returns at once.
void StartWorker(std::function<void()> task);

// Messages to the user-interface thread from any thread: each runs there, in
// the order posted, at the next turn of its event loop (nested ones too).
// Created on that thread, at its first use there.
class UiMailbox {
public:
    static UiMailbox& instance();
    void post(std::function<void()> message);

private:
    UiMailbox();
    void deliver();

    int fd_;
    std::mutex mutex_;
    std::vector<std::function<void()>> messages_;
};

// Type-erased core of RunBlocking.
void RunBlockingCall(std::function<void(const StopToken&)> work, std::function<void()> interrupt);

template <typename Work>
auto RunBlocking(Work work, std::function<void()> interrupt = {}) -> std::invoke_result_t<Work&, const StopToken&>
{
    using Result = std::invoke_result_t<Work&, const StopToken&>;
    if constexpr (std::is_void_v<Result>) {
        RunBlockingCall([work = std::move(work)](const StopToken& stop) mutable { work(stop); }, std::move(interrupt));
    } else {
        // Shared with the worker: an abandoned call may still write it.
        auto result = std::make_shared<std::optional<Result>>();
        RunBlockingCall([result, work = std::move(work)](const StopToken& stop) mutable { result->emplace(work(stop)); },
                        std::move(interrupt));
        return std::move(**result);
    }
}
