#include "shell/window/CarriedPage.h"

#include <QAbstractItemView>
#include <QCoreApplication>
#include <QScrollBar>
#include <QWidget>

PageCarry PageCarry::from(QWidget* page)
{
    PageCarry carry;
    if (!page) return carry;
    // The focus first: handing over closes the page's sheets, which moves it.
    carry.focus_ = FocusSpot::in(page);
    if (auto* carried = dynamic_cast<CarriedPage*>(page)) carry.state_ = carried->handOver();
    return carry;
}

void PageCarry::into(QWidget* page) const
{
    if (!page) return;
    if (auto* carried = dynamic_cast<CarriedPage*>(page); carried && state_.has_value()) carried->takeOver(state_);
    page->show();
    focus_.restore(page);
}

void dropWindow(QWidget* window)
{
    if (!window) return;
    // Hidden, not closed: a close is refused while the model processes, and a close would
    // count as the user's answer.
    window->hide();
    window->deleteLater();
}

int listPosition(const QAbstractScrollArea* list) { return list ? list->verticalScrollBar()->value() : 0; }

namespace {

void applyListPosition(QAbstractScrollArea* list, int position)
{
    // The list reaches its length only once the layouts have placed its rows.
    for (int turn = 0; turn < 3; ++turn) QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    if (auto* view = qobject_cast<QAbstractItemView*>(list)) view->doItemsLayout();
    list->verticalScrollBar()->setValue(position);
}

// Puts a list's position back the first time the list is shown.
class PositionWhenShown : public QObject {
public:
    PositionWhenShown(QAbstractScrollArea* list, int position) : QObject(list), list_(list), position_(position)
    {
        list->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == list_ && event->type() == QEvent::Show) {
            list_->removeEventFilter(this);
            applyListPosition(list_, position_);
            deleteLater();
        }
        return false;
    }

private:
    QAbstractScrollArea* list_;
    int position_;
};

} // namespace

void restoreListPosition(QAbstractScrollArea* list, int position)
{
    if (!list || position <= 0) return;
    if (list->isVisible()) applyListPosition(list, position);
    else new PositionWhenShown(list, position);
}
