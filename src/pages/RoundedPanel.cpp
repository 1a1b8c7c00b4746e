#include "pages/RoundedPanel.h"

#include "shell/Palette.h"

#include <QPainter>
#include <QPainterPath>

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
