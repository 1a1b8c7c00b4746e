#include "pages/RoundedPanel.h"

#include "shell/Palette.h"

#include <QPainter>
#include <QPainterPath>

RoundedPanel::RoundedPanel(int radius, bool outlined, QWidget* parent)
    : QWidget(parent), radius_(radius), outlined_(outlined)
{
}

void RoundedPanel::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), radius_, radius_);
    p.fillPath(path, Palette::surface());
    if (!outlined_) return;
    p.setPen(QPen(Palette::line(), 1));
    p.drawPath(path);
}
