#include "shell/window/NavigationItem.h"

#include "shell/LocalizedText.h"
#include "shell/window/PageDestinations.h"
#include "shell/style/FocusRing.h"
#include "shell/style/Palette.h"
#include "shell/style/SymbolIcon.h"
#include "shell/style/Typography.h"

#include <QEvent>
#include <QKeyEvent>
#include <algorithm>
#include <cmath>
#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>

static constexpr int kIconFrame = 20;
static constexpr int kIconSide = 16;
static constexpr int kSpacing = 9;
static constexpr int kNarrowPadding = 4;
static constexpr int kNarrowSpacing = 5;

NavigationItem::NavigationItem(const QString& page, const QString& symbol, bool horizontal, QWidget* parent)
    : QAbstractButton(parent), page_(page), symbol_(symbol), horizontal_(horizontal)
{
    setCheckable(true);
    setAutoExclusive(false);
    // Tab reaches the entries; a click leaves the focus where it was.
    setFocusPolicy(Qt::TabFocus);
    setCursor(Qt::PointingHandCursor);
    setAttribute(Qt::WA_Hover);
    setSizePolicy(horizontal ? QSizePolicy::Maximum : QSizePolicy::Expanding, QSizePolicy::Fixed);
    setObjectName(QStringLiteral("nav-") + page);
    retranslate();
}

void NavigationItem::setSelected(bool selected)
{
    if (selected == isChecked()) return;
    setChecked(selected);
    updateGeometry();
    update();
}

void NavigationItem::retranslate()
{
    setText(L(page_));
    setAccessibleName(L(page_));
    setToolTip(L(Pages::shortcutHint(page_)));
    updateGeometry();
    update();
}

QFont NavigationItem::titleFont() const
{
    return Typography::system(13, isChecked() ? QFont::DemiBold : QFont::Normal);
}

int NavigationItem::titleWidth() const
{
    // Measured in the semibold face so the entry does not change width when selected; rounded
    // up so the title is never shortened by a fraction of a pixel.
    return static_cast<int>(std::ceil(QFontMetricsF(Typography::system(13, QFont::DemiBold)).horizontalAdvance(text()))) + 1;
}

QSize NavigationItem::sizeHint() const
{
    QFontMetrics metrics(Typography::system(13, QFont::DemiBold));
    int width = horizontalPadding() * 2 + kIconFrame + kSpacing + titleWidth();
    int height = verticalPadding() * 2 + std::max(kIconFrame, metrics.height());
    return {width, height};
}

QSize NavigationItem::minimumSizeHint() const
{
    QSize full = sizeHint();
    if (!horizontal_) return full;
    // A narrow top bar takes its room from the entries' side padding, then from the gap after
    // the symbol, and only then from the end of the title.
    return {2 * kNarrowPadding + kIconFrame + kNarrowSpacing, full.height()};
}

void NavigationItem::nextCheckState()
{
    // The view marks the shown page; pressing an entry only asks for it.
}

void NavigationItem::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (event->modifiers() & ~Qt::KeypadModifier) break;
        click();
        return;
    case Qt::Key_Up:
    case Qt::Key_Left:
        moveFocus(-1);
        return;
    case Qt::Key_Down:
    case Qt::Key_Right:
        moveFocus(1);
        return;
    default:
        break;
    }
    QAbstractButton::keyPressEvent(event);
}

void NavigationItem::moveFocus(int step)
{
    // The entries beside this one, in the order they are shown; the ends do not wrap.
    QList<NavigationItem*> row;
    for (NavigationItem* item : parentWidget()->findChildren<NavigationItem*>(Qt::FindDirectChildrenOnly))
        if (item->isVisible() && item->isEnabled()) row.append(item);
    std::stable_sort(row.begin(), row.end(), [](const NavigationItem* a, const NavigationItem* b) {
        return std::pair(a->y(), a->x()) < std::pair(b->y(), b->x());
    });
    qsizetype next = row.indexOf(this) + step;
    if (next >= 0 && next < row.size()) row[next]->setFocus(step < 0 ? Qt::BacktabFocusReason : Qt::TabFocusReason);
}

void NavigationItem::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LanguageChange) retranslate();
    QAbstractButton::changeEvent(event);
}

void NavigationItem::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QRectF area = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    if (isChecked() || isDown()) {
        QColor fill = Palette::accent();
        fill.setAlphaF(isDown() && !isChecked() ? 0.08f : 0.12f);
        QPainterPath path;
        path.addRoundedRect(area, 10, 10);
        p.fillPath(path, fill);
    } else if (underMouse()) {
        QColor fill = Palette::ink();
        fill.setAlphaF(0.05f);
        QPainterPath path;
        path.addRoundedRect(area, 10, 10);
        p.fillPath(path, fill);
    }

    int title = titleWidth();
    int content = kIconFrame + kSpacing + title;
    int x = std::clamp((width() - content) / 2, std::min(kNarrowPadding, horizontalPadding()), horizontalPadding());
    int gap = std::clamp(width() - 2 * x - kIconFrame - title, kNarrowSpacing, kSpacing);
    QRect iconFrame(x, (height() - kIconFrame) / 2, kIconFrame, kIconFrame);
    QIcon icon = SymbolIcon::icon(symbol_);
    QRect iconRect(QPoint(0, 0), QSize(kIconSide, kIconSide));
    iconRect.moveCenter(iconFrame.center());
    icon.paint(&p, iconRect, Qt::AlignCenter, isEnabled() ? QIcon::Normal : QIcon::Disabled);

    // The ring shows once the keyboard has moved the focus in this window, as Qt's own controls do.
    if (hasFocus() && window()->testAttribute(Qt::WA_KeyboardFocusChange))
        FocusRing::paint(p, area.adjusted(0.75, 0.75, -0.75, -0.75), 9.5);

    p.setFont(titleFont());
    p.setPen(Palette::ink());
    QRect textRect(iconFrame.right() + 1 + gap, 0, width() - iconFrame.right() - 1 - gap - x, height());
    QString shown = QFontMetrics(titleFont()).elidedText(text(), Qt::ElideRight, textRect.width());
    p.drawText(textRect, Qt::AlignVCenter | Qt::AlignLeft, shown);
}
