#include "shell/controls/RoundedPanel.h"

#include "shell/PageLayout.h"
#include "shell/style/Palette.h"

#include <QPainter>
#include <QPainterPath>
#include <QScrollArea>
#include <QVBoxLayout>

RoundedPanel::RoundedPanel(double radius, bool outlined, QWidget* parent)
    : QWidget(parent), radius_(radius), outlined_(outlined)
{
}

void RoundedPanel::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), radius_, radius_);
    p.fillPath(shape, Palette::surface());
    if (outlined_) p.strokePath(shape, QPen(Palette::line(), 1));
}

RoundedPanel* scrollingPanel(double radius, QVBoxLayout*& rows)
{
    auto* panel = new RoundedPanel(radius, true);
    auto* column = new QVBoxLayout(panel);
    column->setContentsMargins(1, 1, 1, 1);
    auto* scroll = new QScrollArea();
    setUpPageScrollArea(scroll);
    // The rows' controls are the stops; the list shows no focus of its own and scrolls to
    // whichever of them the focus reaches.
    scroll->setFocusPolicy(Qt::NoFocus);
    auto* content = new QWidget();
    rows = new QVBoxLayout(content);
    rows->addStretch(1);
    scroll->setWidget(content);
    content->setAutoFillBackground(false);  // setWidget turns it on; the panel paints the surface
    column->addWidget(scroll);
    return panel;
}
