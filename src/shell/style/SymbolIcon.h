#pragma once
#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>

// The symbols the interface names ("eye", "folder", "memorychip", ...). The desktop's icon
// theme is asked first under the freedesktop name that means the same; otherwise the shipped
// monochrome drawing is used, tinted at paint time with the palette's text colour (the
// highlighted-text colour when selected, the disabled text colour when disabled).
namespace SymbolIcon {
QIcon icon(const QString& symbol);
// The shipped drawing only, never the theme's.
QIcon shipped(const QString& symbol);
// The shipped drawing in the palette's accent colour, read when painted (pictures that stand
// in for a missing one, such as an application without an icon).
QIcon accented(const QString& symbol);
// Whether a drawing for the symbol ships with the program.
bool isShipped(const QString& symbol);
// The shipped drawing in one colour, for symbols with a colour of their own (warnings).
QPixmap tinted(const QString& symbol, const QSize& size, const QColor& colour, qreal ratio = 1.0);
// The freedesktop icon name tried first, or an empty string.
QString themeName(const QString& symbol);
}
