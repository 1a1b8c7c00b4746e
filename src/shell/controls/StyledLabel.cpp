#include "shell/controls/StyledLabel.h"

#include "shell/style/Palette.h"

#include <QEvent>

StyledLabel::StyledLabel(const QFont& font, Tone tone, QWidget* parent) : QLabel(parent), tone_(tone)
{
    setFont(font);
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
