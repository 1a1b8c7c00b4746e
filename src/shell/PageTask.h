#pragma once
#include <QCoreApplication>
#include <QFuture>
#include <QFutureWatcher>
#include <QMetaObject>
#include <QPointer>
#include <QThreadPool>

#include <functional>
#include <memory>
#include <type_traits>

// Runs read-only work of a page off the main thread and hands its result to `done` on the
// main thread, only while `owner` still exists. Nothing waits for the work: a closed sheet
// simply never hears of it. The global pool is drained before the application object goes,
// so the hand-over always has an event loop to go to.
template <class Work, class Done>
void runOffMainThread(QObject* owner, Work work, Done done)
{
    using Result = std::invoke_result_t<Work&>;
    QPointer<QObject> guard(owner);
    auto shared = std::make_shared<std::pair<Work, Done>>(std::move(work), std::move(done));
    QThreadPool::globalInstance()->start([guard, shared]() {
        auto result = std::make_shared<Result>(shared->first());
        QCoreApplication* application = QCoreApplication::instance();
        if (!application) return;  // the program is ending
        QMetaObject::invokeMethod(
            application,
            [guard, shared, result]() {
                if (guard) shared->second(std::move(*result));
            },
            Qt::QueuedConnection);
    });
}

// Runs `done` on the main thread when a model operation's completion finishes, only while
// `context` still exists. (QFuture::then with a context object asserts in Qt 6.4 when the
// context goes first; a watcher owned by the context simply goes with it.)
inline void whenFinished(QObject* context, const QFuture<void>& future, std::function<void()> done)
{
    auto* watcher = new QFutureWatcher<void>(context);
    QObject::connect(watcher, &QFutureWatcherBase::finished, context, [watcher, done = std::move(done)] {
        watcher->deleteLater();
        done();
    });
    watcher->setFuture(future);
}
