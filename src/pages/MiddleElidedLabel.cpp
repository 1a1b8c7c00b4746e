#include "pages/MiddleElidedLabel.h"

#include <QResizeEvent>

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

QSize MiddleElidedLabel::minimumSizeHint() const { return QSize(40, fontMetrics().height()); }

QSize MiddleElidedLabel::sizeHint() const
{
    return QSize(fontMetrics().horizontalAdvance(full_) + 2, fontMetrics().height());
}

void MiddleElidedLabel::resizeEvent(QResizeEvent* event)
{
    StyledLabel::resizeEvent(event);
    elide();
}

void MiddleElidedLabel::elide() { setText(fontMetrics().elidedText(full_, Qt::ElideMiddle, std::max(0, width()))); }
