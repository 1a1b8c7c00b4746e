#include "shell/PageLayout.h"

#include <QHBoxLayout>
#include <QScrollArea>
#include <QVBoxLayout>

void setUpPageScrollArea(QScrollArea* area)
{
    area->setWidgetResizable(true);
    area->setFrameShape(QFrame::NoFrame);
    area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    area->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    area->viewport()->setAutoFillBackground(false);
    // No Tab stop: it shows no focus of its own; the keys it scrolls by reach it from its controls.
    area->setFocusPolicy(Qt::NoFocus);
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
