#pragma once
#include <QMetaObject>
#include <QObject>

#include <utility>

// Post a call from a worker to the model's thread; dropped when the model is gone by then.
template <class Fn>
void post(QObject* model, Fn&& fn)
{
    QMetaObject::invokeMethod(model, std::forward<Fn>(fn), Qt::QueuedConnection);
}
