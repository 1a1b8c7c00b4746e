#include "shell/controls/DisclosureGroup.h"

#include "shell/LocalizedText.h"
#include "shell/controls/StyledLabel.h"

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
    connect(toggle_, &QToolButton::clicked, this, [this] { setExpanded(!expanded_); });
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
