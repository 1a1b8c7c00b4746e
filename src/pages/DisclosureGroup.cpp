#include "pages/DisclosureGroup.h"

#include "shell/LocalizedText.h"

#include <QToolButton>
#include <QVBoxLayout>

DisclosureGroup::DisclosureGroup(QWidget* content, QWidget* parent) : QWidget(parent), content_(content)
{
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    toggle_ = new QToolButton();
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
