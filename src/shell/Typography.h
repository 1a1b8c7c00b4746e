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
}
