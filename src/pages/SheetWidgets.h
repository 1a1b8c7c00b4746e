#pragma once
#include "shell/StyledLabel.h"

class QProgressBar;

// Small widgets the pages and their sheets build alike.
namespace SheetWidgets {
// A word-wrapped plain-text label (paths and names are never read as markup).
StyledLabel* text(const QFont& font, StyledLabel::Tone tone = StyledLabel::Tone::ink);
// An indeterminate progress indicator, `width` wide and `height` high.
QProgressBar* spinner(int width, int height = 6);
} // namespace SheetWidgets
