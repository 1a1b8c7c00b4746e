#include "pages/memory/NativeMemoryCheckbox.h"

#include "shell/LocalizedText.h"

#include <QStyle>
#include <QStyleOptionButton>

NativeMemoryCheckbox::NativeMemoryCheckbox(const QString& title, bool value, QWidget* parent)
    : QCheckBox(parent), title_(title)
{
    setChecked(value);
    // Gives way first in a narrow row; never wider than its whole title.
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    setAccessibleName(title_);
    setToolTip(title_);
    elide();
    connect(this, &QCheckBox::clicked, this, &NativeMemoryCheckbox::valueWritten);
}

QSize NativeMemoryCheckbox::sizeHint() const
{
    QStyleOptionButton option;
    initStyleOption(&option);
    option.text = plainTitle(title_);
    QSize text = fontMetrics().size(Qt::TextShowMnemonic, option.text);
    return style()->sizeFromContents(QStyle::CT_CheckBox, &option, text, this);
}

QSize NativeMemoryCheckbox::minimumSizeHint() const
{
    // The box and a few letters of the name.
    QStyleOptionButton option;
    initStyleOption(&option);
    QSize text = fontMetrics().size(Qt::TextSingleLine, QStringLiteral("M…"));
    return style()->sizeFromContents(QStyle::CT_CheckBox, &option, text, this);
}

void NativeMemoryCheckbox::resizeEvent(QResizeEvent* event)
{
    QCheckBox::resizeEvent(event);
    elide();
}

void NativeMemoryCheckbox::elide()
{
    QStyleOptionButton option;
    initStyleOption(&option);
    int box = style()->pixelMetric(QStyle::PM_IndicatorWidth, &option, this) +
              style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, &option, this);
    int room = std::max(0, width() - box - 2);
    QString shown = fontMetrics().horizontalAdvance(title_) <= room
                        ? title_
                        : fontMetrics().elidedText(title_, Qt::ElideRight, room);
    setText(plainTitle(shown));
}
