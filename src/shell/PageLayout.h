#pragma once

class QAbstractItemView;
class QHBoxLayout;
class QScrollArea;
class QVBoxLayout;
class QWidget;

// Room between a page's content and its scroll bar while the bar shows.
inline constexpr int pageScrollBarGap = 8;

// Sets a scroll area up as the scrolling body of a page: the content follows the width, no
// frame, no horizontal scrolling, a viewport that lets the window's background show, and the
// content kept `pageScrollBarGap` clear of the scroll bar while it shows.
void setUpPageScrollArea(QScrollArea* area);

// Sets a view of painted rows of `rowHeight` up inside a panel that paints the surface behind
// it: smooth scrolling by a third of a row, no horizontal scrolling, no frame, no background.
void setUpPaintedRows(QAbstractItemView* view, int rowHeight);

// A vertical layout on `owner` with `spacing` between items and `margin` on every side.
QVBoxLayout* column(QWidget* owner, int spacing, int margin = 0);
// The same, horizontal.
QHBoxLayout* row(QWidget* owner, int spacing, int margin = 0);

// Lays `content` out in the middle of `area`, with equal room left on either side and above
// and below; `content` takes the width it may have up to its maximum.
void placeCentred(QWidget* area, QWidget* content);
