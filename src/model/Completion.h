#pragma once
#include <QFuture>
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
