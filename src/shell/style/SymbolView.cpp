#include "shell/style/SymbolView.h"

#include "shell/style/SymbolIcon.h"

#include <QPainter>

SymbolView::SymbolView(const QString& symbol, int side, QWidget* parent) : QWidget(parent), symbol_(symbol)
{
    setFixedSize(side, side);
}

SymbolView::SymbolView(const QString& symbol, int side, std::function<QColor()> colour, QWidget* parent)
    : SymbolView(symbol, side, parent)
{
    colour_ = std::move(colour);
}

void SymbolView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    if (colour_) {
        painter.drawPixmap(rect(), SymbolIcon::tinted(symbol_, size(), colour_(), devicePixelRatioF()));
        return;
    }
    SymbolIcon::icon(symbol_).paint(&painter, rect(), Qt::AlignCenter, isEnabled() ? QIcon::Normal : QIcon::Disabled);
}
