#pragma once
#include "shell/controls/StyledLabel.h"

class QProgressBar;
class QScrollArea;
class QWidget;

// Small widgets the pages and their sheets build alike.
namespace SheetWidgets {
// A word-wrapped plain-text label (paths and names are never read as markup).
StyledLabel* text(const QFont& font, StyledLabel::Tone tone = StyledLabel::Tone::ink);
// An indeterminate progress indicator, `width` wide and `height` high.
QProgressBar* spinner(int width, int height = 6);
// A frameless area of a fixed height of `lines` lines of `label`'s font holding the label, so
// that a message coming and going leaves the rows around it where they are; a longer one
// scrolls inside it. Tab passes it by.
QScrollArea* fixedLines(StyledLabel* label, int lines);
// Keeps the widget's place in its layout while it is hidden.
void keepPlaceWhenHidden(QWidget* widget);
// The least height that shows `label`'s word-wrapped text at `width` for each of `texts`, so a
// label switching between them does not move the rows below it.
int tallestText(const StyledLabel* label, const QStringList& texts, int width);
// A name for a word-wrapped title `width` wide: whole while each of its words fits a line, else
// shortened in the middle to one line, since a label cannot break inside a word.
QString titleName(const QString& name, const QFont& font, int width);
} // namespace SheetWidgets
