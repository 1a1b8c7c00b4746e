#include "shell/style/FocusRing.h"

#include "shell/style/Palette.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPalette>

namespace FocusRing {

void paint(QPainter& painter, const QRectF& area, qreal radius, bool onAccent)
{
    QColor ring = onAccent ? QGuiApplication::palette().color(QPalette::Active, QPalette::HighlightedText) : Palette::accent();
    ring.setAlphaF(onAccent ? 0.9f : 0.55f);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(ring, 1.5));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(area, radius, radius);
    painter.restore();
}

} // namespace FocusRing
