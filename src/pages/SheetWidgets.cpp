#include "pages/SheetWidgets.h"

#include <QProgressBar>

namespace SheetWidgets {

StyledLabel* text(const QFont& font, StyledLabel::Tone tone)
{
    auto* label = new StyledLabel(font, tone);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    return label;
}

QProgressBar* spinner(int width, int height)
{
    auto* bar = new QProgressBar();
    bar->setRange(0, 0);
    bar->setTextVisible(false);
    bar->setFixedSize(width, height);
    return bar;
}

} // namespace SheetWidgets
