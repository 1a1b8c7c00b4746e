#include "pages/DisclosureGroup.h"

#include "shell/LocalizedText.h"
#include "shell/Typography.h"

#include <QLabel>
#include <QToolButton>
#include <QVBoxLayout>

DisclosureGroup::DisclosureGroup(const QString& title, const QString& content, const QFont& font, QWidget* parent)
    : QWidget(parent)
{
    toggle_ = new QToolButton();
    toggle_->setObjectName(QStringLiteral("disclosure-toggle"));
    toggle_->setText(plainTitle(title));
    toggle_->setFont(font);
    toggle_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    toggle_->setAutoRaise(true);
    toggle_->setArrowType(Qt::RightArrow);
    toggle_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);

    auto* label = new StyledLabel(font, StyledLabel::Tone::muted);
    label->setObjectName(QStringLiteral("disclosure-content"));
    label->setText(content);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setContentsMargins(18, 0, 0, 0);
    label->hide();
    content_ = label;

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(6);
    column->addWidget(toggle_, 0, Qt::AlignLeft);
    column->addWidget(content_);
    connect(toggle_, &QToolButton::clicked, this, [this] { setExpanded(!expanded()); });
}

void DisclosureGroup::setExpanded(bool expanded)
{
    expanded_ = expanded;
    toggle_->setArrowType(expanded ? Qt::DownArrow : Qt::RightArrow);
    content_->setVisible(expanded);
}
