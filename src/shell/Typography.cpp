#include "shell/Typography.h"

#include "shell/Palette.h"

#include <QApplication>
#include <QEvent>
#include <QFontInfo>
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

} // namespace Typography

StyledLabel::StyledLabel(const QFont& font, Tone tone, QWidget* parent) : QLabel(parent), tone_(tone)
{
    setFont(font);
    applyTone();
}

void StyledLabel::setTone(Tone tone)
{
    tone_ = tone;
    applyTone();
}

bool StyledLabel::event(QEvent* event)
{
    bool handled = QLabel::event(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::ApplicationPaletteChange) applyTone();
    return handled;
}

void StyledLabel::applyTone()
{
    if (applying_) return;
    applying_ = true;
    QColor colour = tone_ == Tone::muted ? Palette::muted() : tone_ == Tone::accent ? Palette::accent() : Palette::ink();
    QPalette p = palette();
    if (p.color(QPalette::WindowText) != colour || p.color(QPalette::Text) != colour) {
        p.setColor(QPalette::WindowText, colour);
        p.setColor(QPalette::Text, colour);
        setPalette(p);
    }
    applying_ = false;
}
