#include "shell/controls/RowButtonTracker.h"

#include <QAbstractItemView>
#include <QFocusEvent>
#include <QMouseEvent>
#include <QScrollArea>

void revealRow(QAbstractItemView* view, const QModelIndex& index)
{
    if (!index.isValid()) return;
    view->scrollTo(index);
    QRect row = view->visualRect(index);
    for (QWidget* up = view->parentWidget(); up; up = up->parentWidget()) {
        auto* area = qobject_cast<QScrollArea*>(up);
        if (!area || !area->widget() || !area->widget()->isAncestorOf(view)) continue;
        QPoint centre = view->viewport()->mapTo(area->widget(), row.center());
        // With room for the focus ring drawn around the row.
        area->ensureVisible(centre.x(), centre.y(), row.width() / 2, row.height() / 2 + 6);
    }
}

RowButtonTracker::RowButtonTracker(QAbstractItemView* view, HitTest hitAt, Rect rectOf, Action clicked,
                                   Action pressed)
    : QObject(view), view_(view), hitAt_(std::move(hitAt)), rectOf_(std::move(rectOf)), clicked_(std::move(clicked)),
      pressedHook_(std::move(pressed))
{
    view_->setMouseTracking(true);
    view_->viewport()->installEventFilter(this);
    view_->installEventFilter(this);
}

void RowButtonTracker::setBlocked(bool blocked)
{
    blocked_ = blocked;
    if (blocked) pressed_.reset();
}

void RowButtonTracker::repaint(const std::optional<RowButtonHit>& hit)
{
    if (hit) view_->viewport()->update(rectOf_(*hit));
}

void RowButtonTracker::setHovered(std::optional<RowButtonHit> hovered)
{
    if (hovered == hovered_) return;
    repaint(hovered_);
    hovered_ = hovered;
    repaint(hovered_);
}

bool RowButtonTracker::eventFilter(QObject* watched, QEvent* event)
{
    // Events that come while the view is destroyed find it a view no longer.
    if (!qobject_cast<QAbstractItemView*>(view_)) return false;
    if (watched == view_) {
        QAbstractItemModel* model = view_->model();
        if (event->type() == QEvent::FocusIn && static_cast<QFocusEvent*>(event)->reason() != Qt::MouseFocusReason &&
            model && !view_->currentIndex().isValid() && model->rowCount() > 0)
            view_->selectionModel()->setCurrentIndex(model->index(0, 0), QItemSelectionModel::NoUpdate);
        return false;
    }
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() != Qt::LeftButton) return false;
        auto hit = hitAt_(mouse->position().toPoint());
        if (!hit) return false;
        // A quick second click on a button is another press, not a double click on the row.
        if (!blocked_) {
            pressed_ = hit;
            setHovered(hit);
            if (pressedHook_) pressedHook_(*hit);
            repaint(hit);
        }
        return true;
    }
    case QEvent::MouseButtonRelease: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (!pressed_ || mouse->button() != Qt::LeftButton) return false;
        RowButtonHit hit = *pressed_;
        pressed_.reset();
        repaint(hit);
        if (hitAt_(mouse->position().toPoint()) == hit) clicked_(hit);
        return true;
    }
    case QEvent::MouseMove:
        setHovered(hitAt_(static_cast<QMouseEvent*>(event)->position().toPoint()));
        // Held down, the button keeps the pointer: no drag selection starts under it.
        return pressed_.has_value();
    case QEvent::Leave:
        setHovered(std::nullopt);
        return false;
    default:
        return false;
    }
}
