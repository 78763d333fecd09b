#include "oracle/Blocking.h"

#include "oracle/DbError.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QThreadPool>
#include <QTimer>

#include <exception>
#include <future>
#include <thread>

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

// Worker threads for blocking calls. Threads are reused; one stuck in an
// abandoned call only keeps its own thread.
QThreadPool& workers()
{
    static QThreadPool* pool = [] {
        auto* p = new QThreadPool;
        p->setMaxThreadCount(256);
        return p;
    }();
    return *pool;
}

} // namespace

void StartWorker(std::function<void()> task) { workers().start(std::move(task)); }

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
    std::promise<void> ended;
    std::exception_ptr failure;
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
    std::future<void> ended = call->ended.get_future();
    // Lives on this thread; the worker only posts to it, and the last owner
    // (worker or waiter) lets it go through the event loop.
    std::shared_ptr<WaitControl> control(new WaitControl, [](WaitControl* c) { c->deleteLater(); });

    workers().start([call, control] {
        try {
            call->work(StopToken(&call->stop));
        } catch (...) {
            call->failure = std::current_exception();
        }
        call->work = nullptr; // what it captured goes here, on its own thread
        call->ended.set_value();
        QMetaObject::invokeMethod(control.get(), [c = control.get()] { c->finish(); }, Qt::QueuedConnection);
    });

    if (ended.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready) {
        QEventLoop loop;
        QObject::connect(control.get(), &WaitControl::done, &loop, &QEventLoop::quit);
        QTimer patience;
        patience.setSingleShot(true);
        QObject::connect(&patience, &QTimer::timeout, &loop, [&control] {
            if (const LongWaitHandler& handler = longWaitHandler(); handler && !control->finished())
                handler(*control);
        });
        patience.start(static_cast<int>(patienceMs().load()));
        // Input waits until the call is over; everything else goes on.
        if (!control->finished() && !control->stopped())
            loop.exec(QEventLoop::ExcludeUserInputEvents);
    }

    if (control->stopped()) {
        call->stop.store(true, std::memory_order_release);
        // A call that ended meanwhile counts as done: its result stands.
        if (ended.wait_for(std::chrono::milliseconds(0)) == std::future_status::ready) {
            if (call->failure)
                std::rethrow_exception(call->failure);
            return;
        }
        if (interrupt)
            std::thread(std::move(interrupt)).detach(); // may itself wait for a server that does not answer
        throw DbError(DbError::kStoppedWaiting, "you stopped waiting for the database");
    }
    ended.wait();
    if (call->failure)
        std::rethrow_exception(call->failure);
}
