#include "shell/window/NavigationWindowProbe.h"

#include <QEvent>
#include <QTimer>

NavigationWindowProbe::NavigationWindowProbe(QWidget* parent) : QWidget(parent)
{
    setFixedSize(0, 0);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    // A probe made outside any window has nothing to report yet.
    hasReported_ = parent == nullptr;
    rewatch();
}

bool NavigationWindowProbe::event(QEvent* event)
{
    if (event->type() == QEvent::ParentChange) rewatch();
    return QWidget::event(event);
}

bool NavigationWindowProbe::eventFilter(QObject* watched, QEvent* event)
{
    // Moving any ancestor moves the probe with it.
    if (event->type() == QEvent::ParentChange) rewatch();
    return QWidget::eventFilter(watched, event);
}

void NavigationWindowProbe::rewatch()
{
    for (auto& w : watched_)
        if (w) w->removeEventFilter(this);
    watched_.clear();
    for (QWidget* w = parentWidget(); w; w = w->parentWidget()) {
        w->installEventFilter(this);
        watched_.emplace_back(w);
    }

    QWidget* host = parentWidget() ? window() : nullptr;
    if (hasReported_ && host == host_) return;
    hasReported_ = true;
    host_ = host;
    QPointer<QWidget> reported(host);
    bool none = host == nullptr;
    QTimer::singleShot(0, this, [this, reported, none] {
        if (!attached_) return;
        // A window that went away before the report counts as none.
        attached_(none ? nullptr : reported.data());
    });
}
