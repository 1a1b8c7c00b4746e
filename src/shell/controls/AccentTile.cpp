#include "shell/controls/AccentTile.h"

#include "shell/style/Palette.h"
#include "shell/style/SymbolIcon.h"

#include <QPainter>
#include <QPainterPath>

AccentTile::AccentTile(int side, double radius, double opacity, QWidget* parent)
    : QWidget(parent), radius_(radius), opacity_(opacity)
{
    setFixedSize(side, side);
}

void AccentTile::setSymbol(const QString& symbol, int symbolSide)
{
    symbol_ = symbol;
    symbolSide_ = symbolSide;
    update();
}

void AccentTile::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QColor wash = Palette::accent();
    wash.setAlphaF(opacity_);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), radius_, radius_);
    p.fillPath(shape, wash);
    if (symbol_.isEmpty()) return;
    QPixmap symbol = SymbolIcon::tinted(symbol_, QSize(symbolSide_, symbolSide_), Palette::accent(), devicePixelRatioF());
    p.drawPixmap(QRect((width() - symbolSide_) / 2, (height() - symbolSide_) / 2, symbolSide_, symbolSide_), symbol);
}
