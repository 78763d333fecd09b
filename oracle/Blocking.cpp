#include "oracle/Blocking.h"

#include "oracle/DbError.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <sys/eventfd.h>
#include <unistd.h>

#include <condition_variable>
#include <deque>
#include <exception>
#include <new>
#include <system_error>
#include <mutex>
#include <thread>
#include <vector>

// Work is handed to a thread and results are handed back with the
// standard library's own locks (and an eventfd to wake the user-interface
// thread), so that every hand-over is one a thread checker can see.

namespace {

LongWaitHandler& longWaitHandler()
{
    static LongWaitHandler handler;
    return handler;
}

std::atomic<long long>& patienceMs()
{
    static std::atomic<long long> ms{3000};
    return ms;
}

// Worker threads for blocking calls and reads. A thread is reused when it
// is free, one is added when none is; one stuck in an abandoned call keeps
// only itself. Never destroyed: a stuck thread may outlive everything else.
class Workers {
public:
    static Workers& instance()
    {
        static Workers* workers = new Workers;
        return *workers;
    }

    void start(std::function<void()> task)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        tasks_.push_back(std::move(task));
        if (idle_ > 0) {
            lock.unlock();
            wake_.notify_one();
            return;
        }
        try {
            std::thread([this] { serve(); }).detach();
        } catch (const std::system_error&) {
            // No thread to be had (no memory for its stack): the task is
            // not left behind for a later one, and the caller is told.
            tasks_.pop_back();
            throw std::bad_alloc();
        }
    }

private:
    void serve()
    {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            ++idle_;
            const bool got = wake_.wait_for(lock, std::chrono::seconds(60), [this] { return !tasks_.empty(); });
            --idle_;
            if (!got)
                return; // idle for a minute: the thread goes
            std::function<void()> task = std::move(tasks_.front());
            tasks_.pop_front();
            lock.unlock();
            task();
            task = nullptr; // what it captured is let go here, on this thread
            lock.lock();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> tasks_;
    int idle_ = 0;
};

} // namespace

void StartWorker(std::function<void()> task) { Workers::instance().start(std::move(task)); }

UiMailbox& UiMailbox::instance()
{
    static UiMailbox* mailbox = new UiMailbox;
    return *mailbox;
}

UiMailbox::UiMailbox() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
    auto* notifier = new QSocketNotifier(fd_, QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [this] { deliver(); });
}

void UiMailbox::post(std::function<void()> message)
{
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        messages_.push_back(std::move(message));
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(fd_, &one, sizeof one);
}

void UiMailbox::deliver()
{
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t n = ::read(fd_, &count, sizeof count);
    std::vector<std::function<void()>> messages;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        messages.swap(messages_);
    }
    for (std::function<void()>& message : messages)
        message();
}

void SetLongWaitHandler(LongWaitHandler handler) { longWaitHandler() = std::move(handler); }

void SetWaitPatience(std::chrono::milliseconds patience) { patienceMs() = patience.count(); }

void WaitControl::stopWaiting()
{
    if (finished_ || stopped_)
        return;
    stopped_ = true;
    emit done();
}

void WaitControl::finish()
{
    if (finished_ || stopped_)
        return;
    finished_ = true;
    emit done();
}

// The state one call shares between its worker and the waiting thread.
class BlockingCall {
public:
    std::function<void(const StopToken&)> work;
    std::atomic<bool> stop{false};
    std::mutex mutex;
    bool ended = false; // under mutex
    std::exception_ptr failure; // written before ended
    WaitControl* control = nullptr; // the waiting thread's only

    bool hasEnded()
    {
        const std::lock_guard<std::mutex> lock(mutex);
        return ended;
    }
};

void RunBlockingCall(std::function<void(const StopToken&)> work, std::function<void()> interrupt)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() != app->thread()) {
        const std::atomic<bool> never{false};
        work(StopToken(&never));
        return;
    }

    auto call = std::make_shared<BlockingCall>();
    call->work = std::move(work);
    WaitControl control;
    call->control = &control;
    UiMailbox& mailbox = UiMailbox::instance();

    StartWorker([call, &mailbox] {
        std::exception_ptr failure;
        try {
            call->work(StopToken(&call->stop));
        } catch (...) {
            failure = std::current_exception();
        }
        call->work = nullptr; // what it captured goes here, on its own thread
        {
            const std::lock_guard<std::mutex> lock(call->mutex);
            call->failure = std::move(failure); // handed over whole: one owner at a time
            call->ended = true;
        }
        mailbox.post([call] {
            if (call->control)
                call->control->finish();
        });
    });

    if (!call->hasEnded()) {
        QEventLoop loop;
        QObject::connect(&control, &WaitControl::done, &loop, &QEventLoop::quit);
        QTimer patience;
        patience.setSingleShot(true);
        QObject::connect(&patience, &QTimer::timeout, &loop, [&control] {
            if (const LongWaitHandler& handler = longWaitHandler(); handler && !control.finished())
                handler(control);
        });
        patience.start(static_cast<int>(patienceMs().load()));
        // Input waits until the call is over; everything else goes on.
        if (!control.finished() && !control.stopped())
            loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    call->control = nullptr;

    if (control.stopped()) {
        call->stop.store(true, std::memory_order_release);
        // A call that ended meanwhile counts as done: its result stands.
        if (!call->hasEnded()) {
            if (interrupt)
                std::thread(std::move(interrupt)).detach(); // may itself wait for a server that does not answer
            throw DbError(DbError::kStoppedWaiting, "you stopped waiting for the database");
        }
    }
    // Finished means the worker has ended: its result is there.
    std::exception_ptr failure;
    {
        const std::lock_guard<std::mutex> lock(call->mutex);
        failure = std::move(call->failure);
    }
    if (failure)
        std::rethrow_exception(failure);
}
