#include "shell/ActionStyle.h"

#include "shell/Palette.h"

#include <QAbstractButton>
#include <QPainter>
#include <QPainterPath>
#include <QStyleFactory>
#include <QStyleOptionButton>

static const char* const kEmphasisProperty = "tessynEmphasis";

TessynStyle::TessynStyle() : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))) {}

void setButtonEmphasis(QAbstractButton* button, ButtonEmphasis emphasis)
{
    button->setProperty(kEmphasisProperty, static_cast<int>(emphasis));
    QFont font = button->font();
    font.setWeight(emphasis == ButtonEmphasis::standard ? QFont::Normal : QFont::Medium);
    button->setFont(font);
    button->update();
}

ButtonEmphasis buttonEmphasis(const QWidget* widget)
{
    if (!widget) return ButtonEmphasis::standard;
    return static_cast<ButtonEmphasis>(widget->property(kEmphasisProperty).toInt());
}

static void setTextColour(QPalette& palette, const QColor& colour)
{
    for (auto group : {QPalette::Active, QPalette::Inactive})
        palette.setColor(group, QPalette::ButtonText, colour);
}

void TessynStyle::drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                              const QWidget* widget) const
{
    const auto* buttonOption = qstyleoption_cast<const QStyleOptionButton*>(option);
    ButtonEmphasis emphasis = buttonEmphasis(widget);
    bool enabled = option->state & State_Enabled;
    if (!buttonOption || emphasis == ButtonEmphasis::standard || !enabled ||
        (element != CE_PushButtonBevel && element != CE_PushButtonLabel)) {
        QProxyStyle::drawControl(element, option, painter, widget);
        return;
    }

    if (element == CE_PushButtonBevel && emphasis == ButtonEmphasis::primary) {
        QColor fill = Palette::accent();
        if (option->state & (State_Sunken | State_On))
            fill = fill.darker(115);
        else if (option->state & State_MouseOver)
            fill = fill.lighter(108);
        QRectF frame = QRectF(option->rect).adjusted(1.5, 1.5, -1.5, -1.5);
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        QPainterPath path;
        path.addRoundedRect(frame, 5, 5);
        painter->fillPath(path, fill);
        if (option->state & State_HasFocus) {
            QColor ring = Palette::accent();
            ring.setAlphaF(0.45f);
            painter->setPen(QPen(ring, 2));
            painter->drawRoundedRect(frame.adjusted(-0.5, -0.5, 0.5, 0.5), 5.5, 5.5);
        }
        painter->restore();
        return;
    }

    QStyleOptionButton copy = *buttonOption;
    if (element == CE_PushButtonLabel) {
        bool primary = emphasis == ButtonEmphasis::primary;
        setTextColour(copy.palette, primary ? QColor(Qt::white) : Palette::destructive());
        // Symbols on the accent fill are drawn light, like the title.
        if (primary && !copy.icon.isNull()) {
            qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
            copy.icon = QIcon(copy.icon.pixmap(copy.iconSize, ratio, QIcon::Selected));
        }
    }
    QProxyStyle::drawControl(element, &copy, painter, widget);
}
