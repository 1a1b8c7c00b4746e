#include "shell/controls/SheetWidgets.h"

#include "shell/PageLayout.h"

#include <QFontMetrics>
#include <QProgressBar>
#include <QScrollArea>
#include <QVBoxLayout>

#include <algorithm>

namespace SheetWidgets {

StyledLabel* text(const QFont& font, StyledLabel::Tone tone)
{
    auto* label = new StyledLabel(font, tone);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    return label;
}

QProgressBar* spinner(int width, int height)
{
    auto* bar = new QProgressBar();
    bar->setRange(0, 0);
    bar->setTextVisible(false);
    bar->setFixedSize(width, height);
    return bar;
}

QScrollArea* fixedLines(StyledLabel* label, int lines)
{
    auto* area = new QScrollArea();
    setUpPageScrollArea(area);
    // No Tab stop: it shows no focus of its own. A click still lets the keys scroll it.
    area->setFocusPolicy(Qt::ClickFocus);
    auto* content = new QWidget();
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(0, 0, 0, 0);
    column->addWidget(label);
    column->addStretch(1);
    area->setWidget(content);
    content->setAutoFillBackground(false);
    area->setFixedHeight(QFontMetrics(label->font()).lineSpacing() * lines + 2);
    return area;
}

void keepPlaceWhenHidden(QWidget* widget)
{
    QSizePolicy policy = widget->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    widget->setSizePolicy(policy);
}

int tallestText(const StyledLabel* label, const QStringList& texts, int width)
{
    const QFontMetrics metrics(label->font());
    int tallest = 0;
    for (const QString& text : texts)
        tallest = std::max(tallest, metrics.boundingRect(QRect(0, 0, width, 100000), Qt::TextWordWrap, text).height());
    return tallest;
}

QString titleName(const QString& name, const QFont& font, int width)
{
    const QFontMetrics metrics(font);
    for (const QString& word : name.split(QLatin1Char(' ')))
        if (metrics.horizontalAdvance(word) > width) return metrics.elidedText(name, Qt::ElideMiddle, width);
    return name;
}

} // namespace SheetWidgets
