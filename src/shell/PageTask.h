#pragma once
#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>
#include <QThreadPool>

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
