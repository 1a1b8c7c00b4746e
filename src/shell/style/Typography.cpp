#include "shell/style/Typography.h"

#include <QApplication>
#include <QFontInfo>
#include <QTextLayout>
#include <algorithm>
#include <cmath>

namespace Typography {

QFont system(double size, QFont::Weight weight)
{
    QFont font = QApplication::font();
    double base = QFontInfo(font).pixelSize();
    double scale = std::max(1.0, base / 13.0);
    font.setPixelSize(std::max(11, static_cast<int>(std::lround(size * scale))));
    font.setWeight(weight);
    return font;
}

QFont body() { return system(13); }
QFont callout() { return system(12); }
QFont caption() { return system(11); }
QFont caption2() { return system(11); }
QFont headline() { return system(13, QFont::DemiBold); }
QFont title3() { return system(15); }

int lineHeight(const QString& text, const QFont& font)
{
    if (text.isEmpty()) return 0;
    QTextLayout layout(text, font);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    layout.endLayout();
    return line.isValid() ? static_cast<int>(std::ceil(line.height())) : 0;
}

} // namespace Typography
