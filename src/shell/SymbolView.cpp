#include "shell/SymbolView.h"

#include "shell/SymbolIcon.h"

#include <QPainter>

SymbolView::SymbolView(const QString& symbol, int side, QWidget* parent) : QWidget(parent), symbol_(symbol)
{
    setFixedSize(side, side);
}

void SymbolView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    SymbolIcon::icon(symbol_).paint(&painter, rect(), Qt::AlignCenter, isEnabled() ? QIcon::Normal : QIcon::Disabled);
}
