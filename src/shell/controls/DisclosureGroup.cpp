#include "shell/controls/DisclosureGroup.h"

#include "shell/LocalizedText.h"
#include "shell/controls/StyledLabel.h"

#include <QCoreApplication>
#include <QScrollArea>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

QWidget* textContent(const QString& text, const QFont& font)
{
    auto* label = new StyledLabel(font, StyledLabel::Tone::muted);
    label->setObjectName(QStringLiteral("disclosure-content"));
    label->setText(text);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setContentsMargins(18, 6, 0, 0);
    return label;
}

} // namespace

DisclosureGroup::DisclosureGroup(QWidget* content, QWidget* parent) : QWidget(parent), content_(content)
{
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    toggle_ = new QToolButton();
    toggle_->setObjectName(QStringLiteral("disclosure-toggle"));
    toggle_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    toggle_->setAutoRaise(true);
    toggle_->setArrowType(Qt::RightArrow);
    toggle_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    connect(toggle_, &QToolButton::clicked, this, [this] {
        setExpanded(!expanded_);
        // Opened by hand, the content is brought into view in the page or list scrolling around
        // it, once the layouts have made room for it; otherwise only the arrow seems to change.
        if (expanded_) QTimer::singleShot(0, this, [this] { revealContent(); });
    });
    column->addWidget(toggle_, 0, Qt::AlignLeft);
    column->addWidget(content_);
    content_->setVisible(false);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
}

DisclosureGroup::DisclosureGroup(const QString& title, const QString& text, const QFont& font, QWidget* parent)
    : DisclosureGroup(textContent(text, font), parent)
{
    toggle_->setFont(font);
    setLabel(title);
}

void DisclosureGroup::setLabel(const QString& text)
{
    label_ = text;
    toggle_->setText(plainTitle(text));
    toggle_->setAccessibleName(text);
}

void DisclosureGroup::setExpanded(bool expanded)
{
    expanded_ = expanded;
    toggle_->setArrowType(expanded ? Qt::DownArrow : Qt::RightArrow);
    content_->setVisible(expanded);
}

void DisclosureGroup::revealContent()
{
    for (int turn = 0; turn < 3; ++turn) QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    for (QWidget* up = parentWidget(); up; up = up->parentWidget())
        if (auto* area = qobject_cast<QScrollArea*>(up)) {
            area->ensureWidgetVisible(content_, 0, 0);
            return;
        }
}
