#pragma once
#include <QColor>

// The six shared colours. Each is read from the application palette at the moment of use, so
// whatever paints with them follows an appearance change without being rebuilt.
namespace Palette {
QColor canvas();   // window and page background
QColor surface();  // fill of cards, panels and lists
QColor ink();      // main text
QColor muted();    // captions and secondary lines
QColor line();     // outlines and dividers: the separator colour at half opacity
QColor accent();   // selection and highlights
// Red for destructive titles, legible on the current background.
QColor destructive();
// True when the current window background is dark.
bool isDark();
}
