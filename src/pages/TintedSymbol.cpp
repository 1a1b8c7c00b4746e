#include "pages/TintedSymbol.h"

#include "shell/SymbolIcon.h"

#include <QPainter>

TintedSymbol::TintedSymbol(const QString& symbol, int side, std::function<QColor()> colour, QWidget* parent)
    : QWidget(parent), symbol_(symbol), colour_(std::move(colour))
{
    setFixedSize(side, side);
}

void TintedSymbol::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.drawPixmap(rect(), SymbolIcon::tinted(symbol_, size(), colour_(), devicePixelRatioF()));
}
