#include "shell/controls/WheelGuard.h"

#include <QCoreApplication>
#include <QWheelEvent>
#include <QWidget>

void WheelGuard::install(QWidget* control) { new WheelGuard(control); }

WheelGuard::WheelGuard(QWidget* control) : QObject(control)
{
    // Focus by a click or the keyboard only: the wheel neither focuses nor changes the control.
    control->setFocusPolicy(Qt::StrongFocus);
    control->installEventFilter(this);
}

bool WheelGuard::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::Wheel) return false;
    // Focus is no sign of intent: a pick leaves the focus in the control and the pointer
    // over it, and the next pass of the wheel is the user scrolling on.
    auto* control = static_cast<QWidget*>(watched);
    auto* wheel = static_cast<QWheelEvent*>(event);
    // Handed up parent by parent, as the application hands on a wheel that a widget leaves,
    // until one takes it (the scrolling list). The walk is done here because a wheel sent by
    // the program itself is not handed on at all.
    for (QWidget* up = control->parentWidget(); up; up = up->parentWidget()) {
        QWheelEvent passed(up->mapFromGlobal(wheel->globalPosition()), wheel->globalPosition(), wheel->pixelDelta(),
                           wheel->angleDelta(), wheel->buttons(), wheel->modifiers(), wheel->phase(), wheel->inverted(),
                           wheel->source(), wheel->pointingDevice());
        passed.setTimestamp(wheel->timestamp());
        if (QCoreApplication::sendEvent(up, &passed) && passed.isAccepted()) break;
        if (up->isWindow() || up->testAttribute(Qt::WA_NoMousePropagation)) break;
    }
    // Taken here either way, so the application does not hand it up a second time.
    wheel->accept();
    return true;
}
