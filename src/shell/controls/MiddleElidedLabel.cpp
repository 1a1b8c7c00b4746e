#include "shell/controls/MiddleElidedLabel.h"

#include "shell/style/Typography.h"

#include <QResizeEvent>
#include <algorithm>

MiddleElidedLabel::MiddleElidedLabel(const QFont& font, Tone tone, QWidget* parent) : StyledLabel(font, tone, parent)
{
    setTextFormat(Qt::PlainText);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
}

void MiddleElidedLabel::setFullText(const QString& text)
{
    // Pages hand their texts over again on every redraw; an unchanged one needs no new layout.
    if (text == full_) return;
    full_ = text;
    setToolTip(text);
    elide();
    updateGeometry();
}

// As tall as the fonts the text is drawn in: a path with Chinese in it is partly drawn in a
// taller fallback font than the label's own.
int MiddleElidedLabel::lineHeight() const { return std::max(fontMetrics().height(), Typography::lineHeight(full_, font())); }

QSize MiddleElidedLabel::minimumSizeHint() const { return QSize(40, lineHeight()); }

QSize MiddleElidedLabel::sizeHint() const { return QSize(fontMetrics().horizontalAdvance(full_) + 2, lineHeight()); }

void MiddleElidedLabel::resizeEvent(QResizeEvent* event)
{
    StyledLabel::resizeEvent(event);
    elide();
}

void MiddleElidedLabel::elide() { setText(fontMetrics().elidedText(full_, Qt::ElideMiddle, std::max(0, width()))); }
