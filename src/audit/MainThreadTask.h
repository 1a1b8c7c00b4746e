#pragma once
#include <QFuture>
#include <QFutureWatcher>
#include <QObject>
#include <QTimer>
#include <coroutine>
#include <exception>

// A coroutine that runs on the main thread and suspends only at the event loop: timers, a
// yield to pending work, or a completion. The frame belongs to a QObject (its owner): every
// resumption is bound to the owner, so a frame whose owner is gone is never resumed, and the
// owner destroys a suspended frame with itself.
class MainThreadTask {
public:
    struct promise_type {
        MainThreadTask get_return_object()
        {
            return MainThreadTask(std::coroutine_handle<promise_type>::from_promise(*this));
        }
        std::suspend_always initial_suspend() noexcept { return {}; }
        std::suspend_always final_suspend() noexcept { return {}; }
        void return_void() {}
        // The bodies catch what they expect; anything else is a fault of the program.
        void unhandled_exception() { std::terminate(); }
    };
    using Handle = std::coroutine_handle<promise_type>;

    MainThreadTask(MainThreadTask&& other) noexcept : handle_(std::exchange(other.handle_, {})) {}
    MainThreadTask(const MainThreadTask&) = delete;
    MainThreadTask& operator=(const MainThreadTask&) = delete;
    MainThreadTask& operator=(MainThreadTask&&) = delete;
    // The owner goes from the event loop (its run ends with deleteLater), so the frame is
    // suspended here, never running.
    ~MainThreadTask()
    {
        if (handle_) handle_.destroy();
    }

    // Runs the body up to its first suspension.
    void start() { handle_.resume(); }
    bool done() const { return !handle_ || handle_.done(); }

    // Suspends for `milliseconds` (0: one turn of the event loop, after the work already queued).
    struct Sleep {
        QObject* owner;
        int milliseconds;
        bool await_ready() const noexcept { return false; }
        void await_suspend(Handle handle) const
        {
            QTimer::singleShot(milliseconds, Qt::PreciseTimer, owner, [handle] { handle.resume(); });
        }
        void await_resume() const noexcept {}
    };

    // Suspends until the future has finished (or was cancelled). The awaiters hold nothing that
    // needs destroying: GCC 12 mishandles the destruction of such temporaries in co_await, so
    // the future stays a named variable of the caller.
    struct Completion {
        QObject* owner;
        const QFuture<void>* future;
        bool await_ready() const { return future->isFinished(); }
        void await_suspend(Handle handle) const
        {
            auto* watcher = new QFutureWatcher<void>(owner);
            QObject::connect(watcher, &QFutureWatcherBase::finished, owner, [watcher, handle] {
                watcher->deleteLater();
                handle.resume();
            });
            watcher->setFuture(*future);
        }
        void await_resume() const noexcept {}
    };

private:
    explicit MainThreadTask(std::coroutine_handle<promise_type> handle) : handle_(handle) {}
    std::coroutine_handle<promise_type> handle_;
};
