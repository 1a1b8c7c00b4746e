#pragma once
#include <QFuture>
#include <QFutureWatcher>
#include <QPromise>

#include <memory>

// The end of a model operation for callers that wait on it: finished once the model has
// published everything the operation changes, and at once when it refuses to start. A
// completion dropped unfinished (the model went away first) leaves its future cancelled and
// finished, so nobody waits forever.
class Completion {
public:
    Completion() : promise_(std::make_shared<QPromise<void>>()) { promise_->start(); }

    QFuture<void> future() const { return promise_->future(); }
    void finish() const
    {
        if (!promise_->future().isFinished()) promise_->finish();
    }
    // The completion of an operation that refused or had nothing to do.
    static QFuture<void> now() { return QtFuture::makeReadyFuture(); }

private:
    std::shared_ptr<QPromise<void>> promise_;
};

// Runs `next` on the thread of `context` once `future` has finished, only while `context`
// exists and only when the operation ended rather than its model going away. Unlike
// QFuture::then with a context, a context that goes first (a page dropped on a language
// change, a closed sheet) is fine: Qt 6.4 asserts on it in debug builds.
template <class Next>
void whenFinished(QObject* context, const QFuture<void>& future, Next next)
{
    auto* watcher = new QFutureWatcher<void>(context);
    QObject::connect(watcher, &QFutureWatcherBase::finished, watcher, [watcher, next = std::move(next)]() mutable {
        watcher->deleteLater();
        if (!watcher->isCanceled()) next();
    });
    watcher->setFuture(future);
}
