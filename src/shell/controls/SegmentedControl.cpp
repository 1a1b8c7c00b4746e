#include "shell/controls/SegmentedControl.h"

#include "shell/LocalizedText.h"
#include "shell/style/FocusRing.h"
#include "shell/style/Palette.h"

#include <QButtonGroup>
#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QStyleOptionFocusRect>
#include <algorithm>

namespace {

class SegmentButton : public QPushButton {
public:
    SegmentButton(const QString& text, QWidget* parent) : QPushButton(plainTitle(text), parent)
    {
        setCheckable(true);
        setAutoDefault(false);
        setFlat(true);
        setAttribute(Qt::WA_Hover);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        setMinimumWidth(40);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        QRectF pill = QRectF(rect()).adjusted(2.5, 2.5, -2.5, -2.5);
        QPalette pal = palette();
        bool enabled = isEnabled();
        if (isChecked()) {
            QColor fill = enabled ? Palette::accent() : pal.color(QPalette::Disabled, QPalette::Highlight);
            QPainterPath path;
            path.addRoundedRect(pill, 4.5, 4.5);
            p.fillPath(path, fill);
        } else if (underMouse() && enabled) {
            QColor hover = Palette::ink();
            hover.setAlphaF(0.07f);
            QPainterPath path;
            path.addRoundedRect(pill, 4.5, 4.5);
            p.fillPath(path, hover);
        }
        // On the chosen segment an accent ring would vanish into the fill: it goes inside, in
        // the fill's text colour.
        if (hasFocus() && isChecked() && enabled) FocusRing::paint(p, pill.adjusted(2, 2, -2, -2), 3, true);
        else if (hasFocus()) FocusRing::paint(p, pill.adjusted(-1, -1, 1, 1), 5.5);
        QColor textColour = isChecked() ? (enabled ? pal.color(QPalette::Active, QPalette::HighlightedText)
                                                   : pal.color(QPalette::Disabled, QPalette::ButtonText))
                                        : pal.color(enabled ? QPalette::Active : QPalette::Disabled, QPalette::ButtonText);
        p.setPen(textColour);
        QString shown = text();
        shown.replace(QStringLiteral("&&"), QStringLiteral("&"));
        p.drawText(rect(), Qt::AlignCenter | Qt::TextSingleLine,
                   fontMetrics().elidedText(shown, Qt::ElideRight, width() - 8));
    }
};

} // namespace

SegmentedControl::SegmentedControl(const QStringList& labels, QWidget* parent) : QWidget(parent)
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    group_ = new QButtonGroup(this);
    group_->setExclusive(true);
    for (int i = 0; i < labels.size(); ++i) {
        auto* button = new SegmentButton(labels[i], this);
        group_->addButton(button, i);
        button->installEventFilter(this);
        row->addWidget(button);
        segments_.push_back(button);
    }
    connect(group_, &QButtonGroup::idClicked, this, &SegmentedControl::segmentChosen);
    setAttribute(Qt::WA_Hover);
    setMinimumHeight(24);
}

bool SegmentedControl::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress) return QWidget::eventFilter(watched, event);
    auto* key = static_cast<QKeyEvent*>(event);
    int step = key->key() == Qt::Key_Left || key->key() == Qt::Key_Up      ? -1
               : key->key() == Qt::Key_Right || key->key() == Qt::Key_Down ? 1
                                                                            : 0;
    auto at = std::find(segments_.begin(), segments_.end(), watched);
    if (step == 0 || key->modifiers() != Qt::NoModifier || at == segments_.end()) return QWidget::eventFilter(watched, event);
    // The arrows go to the next segment and, from the chosen one, choose it, as radio buttons
    // do; the focus moves first, so whatever the choice rebuilds finds it on the new segment.
    qsizetype next = (at - segments_.begin()) + step;
    // At either end the key goes on to the button and its parents, as before.
    if (next < 0 || next >= qsizetype(segments_.size()) || !segments_[size_t(next)]->isEnabled())
        return QWidget::eventFilter(watched, event);
    QPushButton* target = segments_[size_t(next)];
    bool choose = (*at)->isChecked();
    target->setFocus(step < 0 ? Qt::BacktabFocusReason : Qt::TabFocusReason);
    if (choose) target->click();
    return true;
}

int SegmentedControl::selectedIndex() const { return group_->checkedId(); }

void SegmentedControl::setSelectedIndex(int index)
{
    if (index >= 0 && index < count()) {
        segments_[static_cast<size_t>(index)]->setChecked(true);
        return;
    }
    group_->setExclusive(false);
    for (auto* s : segments_) s->setChecked(false);
    group_->setExclusive(true);
}

QPushButton* SegmentedControl::segment(int index) const
{
    return index >= 0 && index < count() ? segments_[static_cast<size_t>(index)] : nullptr;
}

void SegmentedControl::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QRectF track = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath path;
    path.addRoundedRect(track, 6.5, 6.5);
    QColor fill = palette().color(QPalette::Button);
    p.fillPath(path, fill);
    p.setPen(QPen(Palette::line(), 1));
    p.drawPath(path);
    // Dividers only between two segments that are both unchosen.
    int chosen = selectedIndex();
    for (int i = 1; i < count(); ++i) {
        if (i == chosen || i - 1 == chosen) continue;
        int x = segments_[static_cast<size_t>(i)]->geometry().left();
        p.drawLine(QPointF(x + 0.5, height() * 0.28), QPointF(x + 0.5, height() * 0.72));
    }
}
