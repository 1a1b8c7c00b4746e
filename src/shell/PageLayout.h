#pragma once

class QHBoxLayout;
class QScrollArea;
class QVBoxLayout;
class QWidget;

// Sets a scroll area up as the scrolling body of a page: the content follows the width, no
// frame, no horizontal scrolling, and a viewport that lets the window's background show.
void setUpPageScrollArea(QScrollArea* area);

// A vertical layout on `owner` with `spacing` between items and `margin` on every side.
QVBoxLayout* column(QWidget* owner, int spacing, int margin = 0);
// The same, horizontal.
QHBoxLayout* row(QWidget* owner, int spacing, int margin = 0);

// Lays `content` out in the middle of `area`, with equal room left on either side and above
// and below; `content` takes the width it may have up to its maximum.
void placeCentred(QWidget* area, QWidget* content);
