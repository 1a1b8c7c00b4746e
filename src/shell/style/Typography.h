#pragma once
#include <QFont>

// Text sizes of the interface, given as the sizes of a 13-pixel body text and scaled up with
// the desktop's font when that is larger. Nothing is drawn smaller than 11 pixels, so Chinese
// captions stay legible.
namespace Typography {
QFont system(double size, QFont::Weight weight = QFont::Normal);
QFont body();
QFont callout();   // 12
QFont caption();   // 11
QFont caption2();  // 11, for version lines
QFont headline();  // 13 semibold
QFont title3();    // 15

// The height of one line of `text` in `font` with every font it falls back to: a line with
// Chinese in it is drawn partly in a CJK font taller than most Latin ones, and a line sized
// from `font` alone loses the tops and bottoms of its glyphs. 0 for an empty text.
int lineHeight(const QString& text, const QFont& font);
}
