#include "shell/window/FocusSpot.h"

#include <QAbstractItemView>
#include <QList>
#include <QWidget>

namespace {

// The anchor and the widgets under it that can take the focus, in tree order.
QList<QWidget*> focusable(QWidget* anchor)
{
    QList<QWidget*> list;
    if (anchor->focusPolicy() != Qt::NoFocus) list.append(anchor);
    for (QWidget* child : anchor->findChildren<QWidget*>())
        if (child->focusPolicy() != Qt::NoFocus) list.append(child);
    return list;
}

bool uniquelyNamed(const QWidget* widget, const QWidget* root)
{
    const QString name = widget->objectName();
    if (name.isEmpty()) return false;
    int count = root->objectName() == name ? 1 : 0;
    count += int(root->findChildren<QWidget*>(name).size());
    return count == 1;
}

} // namespace

FocusSpot FocusSpot::in(const QWidget* root)
{
    FocusSpot spot;
    if (!root) return spot;
    QWidget* focused = root->window()->focusWidget();
    if (!focused || (focused != root && !root->isAncestorOf(focused))) return spot;
    QWidget* anchor = focused;
    while (anchor != root && !uniquelyNamed(anchor, root)) anchor = anchor->parentWidget();
    if (anchor != root) spot.anchor_ = anchor->objectName();
    spot.className_ = QString::fromLatin1(focused->metaObject()->className());
    spot.index_ = int(focusable(anchor).indexOf(focused));
    return spot;
}

bool FocusSpot::restore(QWidget* root) const
{
    if (isEmpty() || !root) return false;
    QWidget* anchor = root;
    if (!anchor_.isEmpty() && root->objectName() != anchor_) anchor = root->findChild<QWidget*>(anchor_);
    if (!anchor) return false;
    QList<QWidget*> candidates = focusable(anchor);
    if (index_ >= candidates.size()) return false;
    QWidget* control = candidates[index_];
    if (QString::fromLatin1(control->metaObject()->className()) != className_ || !control->isEnabled()) return false;
    control->setFocus(Qt::OtherFocusReason);
    return true;
}

QWidget* nextTabStop(QWidget* from, QWidget* scope)
{
    for (QWidget* next = from->nextInFocusChain(); next != from; next = next->nextInFocusChain())
        if (scope->isAncestorOf(next) && next->isVisible() && next->isEnabled() && (next->focusPolicy() & Qt::TabFocus) &&
            !next->focusProxy() && !(qobject_cast<QAbstractScrollArea*>(next) && !qobject_cast<QAbstractItemView*>(next)))
            return next;
    return nullptr;
}
