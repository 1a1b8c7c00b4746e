#include "shell/style/TessynStyle.h"

#include "shell/style/Palette.h"

#include <QAbstractButton>
#include <QPainter>
#include <QPainterPath>
#include <QStyleFactory>
#include <QStyleOptionButton>
#include <QStyleOptionToolButton>
#include <algorithm>

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

void TessynStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                                const QWidget* widget) const
{
    if (element != PE_IndicatorCheckBox) {
        QProxyStyle::drawPrimitive(element, option, painter, widget);
        return;
    }
    bool enabled = option->state & State_Enabled;
    bool on = option->state & (State_On | State_NoChange);
    QRectF box = QRectF(option->rect).adjusted(0.5, 0.5, -0.5, -0.5);
    qreal side = std::min(box.width(), box.height());
    box = QRectF(box.center().x() - side / 2, box.center().y() - side / 2, side, side);

    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    if (!enabled) painter->setOpacity(0.45);
    QColor accent = Palette::accent();
    if (option->state & State_Sunken) accent = accent.darker(112);
    if (on) {
        painter->setPen(QPen(accent, 1));
        painter->setBrush(accent);
    } else {
        QColor border = option->palette.color(QPalette::Active, QPalette::Mid);
        painter->setPen(QPen(border, 1));
        painter->setBrush(option->palette.color(QPalette::Active, QPalette::Base));
    }
    painter->drawRoundedRect(box, 3, 3);
    if (on) {
        painter->setPen(QPen(Qt::white, std::max<qreal>(1.5, side / 8), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter->setBrush(Qt::NoBrush);
        if (option->state & State_NoChange) {
            painter->drawLine(QPointF(box.left() + side * 0.28, box.center().y()),
                              QPointF(box.right() - side * 0.28, box.center().y()));
        } else {
            QPainterPath tick;
            tick.moveTo(box.left() + side * 0.24, box.top() + side * 0.52);
            tick.lineTo(box.left() + side * 0.42, box.top() + side * 0.70);
            tick.lineTo(box.left() + side * 0.76, box.top() + side * 0.32);
            painter->drawPath(tick);
        }
    }
    painter->restore();
}

// Fusion's menu arrow is 8 pixels wide; this leaves a little room on either side.
static constexpr int kMenuArrowRoom = 12;

// Only a menu that the whole button opens: a split button keeps Fusion's own arrow section.
static bool opensMenuOnPress(const QStyleOption* option)
{
    const auto* tool = qstyleoption_cast<const QStyleOptionToolButton*>(option);
    return tool && (tool->features & QStyleOptionToolButton::HasMenu) &&
           !(tool->features & QStyleOptionToolButton::MenuButtonPopup);
}

void TessynStyle::drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
                                     const QWidget* widget) const
{
    if (control != CC_ToolButton || !opensMenuOnPress(option)) {
        QProxyStyle::drawComplexControl(control, option, painter, widget);
        return;
    }
    // The bevel over the whole button, the label in what the arrow leaves, the arrow after it.
    QStyleOptionToolButton bevel = *qstyleoption_cast<const QStyleOptionToolButton*>(option);
    bevel.features &= ~QStyleOptionToolButton::HasMenu;
    QStyleOptionToolButton label = bevel;
    bevel.text.clear();
    bevel.icon = QIcon();
    QProxyStyle::drawComplexControl(control, &bevel, painter, widget);
    const int frame = pixelMetric(PM_DefaultFrameWidth, option, widget);
    label.rect = option->rect.adjusted(frame, frame, -frame - kMenuArrowRoom, -frame);
    QProxyStyle::drawControl(CE_ToolButtonLabel, &label, painter, widget);
    // The label ends in the two spaces QToolButton leaves after its text: the arrow takes the second.
    QStyleOption indicator = *option;
    const int space = option->fontMetrics.horizontalAdvance(QLatin1Char(' '));
    indicator.rect = QRect(label.rect.right() + 1 - space, option->rect.top(), kMenuArrowRoom, option->rect.height());
    QProxyStyle::drawPrimitive(PE_IndicatorArrowDown, &indicator, painter, widget);
}

QSize TessynStyle::sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                                    const QWidget* widget) const
{
    QSize out = QProxyStyle::sizeFromContents(type, option, size, widget);
    if (type == CT_PushButton) {
        out.rwidth() += 12;
        out.setHeight(std::max(out.height(), 28));
    }
    if (type == CT_ToolButton && opensMenuOnPress(option)) out.rwidth() += kMenuArrowRoom;
    return out;
}
