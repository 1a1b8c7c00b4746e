#include "shell/PageLayout.h"

#include <QAbstractItemView>
#include <QEvent>
#include <QHBoxLayout>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

namespace {

// While the scroll bar shows, the content ends a gap before it, so that cards and panels keep
// their outline and corners clear of the bar. Shown or hidden with the page, the bar keeps its
// place: only whether the area itself shows it counts.
class ScrollBarGap : public QObject {
public:
    explicit ScrollBarGap(QScrollArea* area) : QObject(area)
    {
        area->verticalScrollBar()->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() != QEvent::Show && event->type() != QEvent::Hide) return false;
        // The bar hides as the area is destroyed, when the area is a scroll area no longer.
        auto* area = qobject_cast<QScrollArea*>(parent());
        QWidget* content = area ? area->widget() : nullptr;
        if (!content) return false;
        QMargins margins = content->contentsMargins();
        margins.setRight(area->verticalScrollBar()->isVisibleTo(area) ? pageScrollBarGap : 0);
        content->setContentsMargins(margins);
        return false;
    }
};

} // namespace

void setUpPageScrollArea(QScrollArea* area)
{
    area->setWidgetResizable(true);
    area->setFrameShape(QFrame::NoFrame);
    area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    area->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    area->viewport()->setAutoFillBackground(false);
    new ScrollBarGap(area);
    // No Tab stop: it shows no focus of its own; the keys it scrolls by reach it from its controls.
    area->setFocusPolicy(Qt::NoFocus);
}

void setUpPaintedRows(QAbstractItemView* view, int rowHeight)
{
    view->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    view->verticalScrollBar()->setSingleStep(rowHeight / 3);
    view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view->setFrameShape(QFrame::NoFrame);
    view->setAutoFillBackground(false);
    view->viewport()->setAutoFillBackground(false);
}

QVBoxLayout* column(QWidget* owner, int spacing, int margin)
{
    auto* layout = new QVBoxLayout(owner);
    layout->setContentsMargins(margin, margin, margin, margin);
    layout->setSpacing(spacing);
    return layout;
}

QHBoxLayout* row(QWidget* owner, int spacing, int margin)
{
    auto* layout = new QHBoxLayout(owner);
    layout->setContentsMargins(margin, margin, margin, margin);
    layout->setSpacing(spacing);
    return layout;
}

void placeCentred(QWidget* area, QWidget* content)
{
    auto* centre = column(area, 0);
    centre->addStretch(1);
    auto* middle = new QHBoxLayout();
    middle->addStretch(1);
    middle->addWidget(content, 100);
    middle->addStretch(1);
    centre->addLayout(middle);
    centre->addStretch(1);
}
