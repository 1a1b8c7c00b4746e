#include "shell/style/Palette.h"

#include <QGuiApplication>
#include <QPalette>

namespace Palette {

static QPalette live() { return QGuiApplication::palette(); }

QColor canvas() { return live().color(QPalette::Active, QPalette::Window); }

QColor surface() { return live().color(QPalette::Active, QPalette::Base); }

QColor ink() { return live().color(QPalette::Active, QPalette::WindowText); }

QColor muted()
{
    QColor c = ink();
    c.setAlphaF(0.62f);
    return c;
}

QColor line()
{
    QColor c = live().color(QPalette::Active, QPalette::Mid);
    c.setAlphaF(c.alphaF() * 0.5f);
    return c;
}

QColor accent() { return live().color(QPalette::Active, QPalette::Highlight); }

bool isDark() { return canvas().lightnessF() < 0.5; }

QColor destructive() { return isDark() ? QColor(0xff, 0x6b, 0x61) : QColor(0xc4, 0x1e, 0x1e); }

} // namespace Palette
