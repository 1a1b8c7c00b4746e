#pragma once
#include <QtGlobal>

class QPainter;
class QRectF;

// The ring that marks the control or row with the keyboard focus: the accent colour, partly
// transparent, 1.5 px wide with rounded corners. On an accent fill (a selected row) it takes
// the fill's text colour instead, so it still shows there.
namespace FocusRing {
void paint(QPainter& painter, const QRectF& area, qreal radius, bool onAccent = false);
}
