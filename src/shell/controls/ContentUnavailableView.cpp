#include "shell/controls/ContentUnavailableView.h"

#include "shell/LocalizedText.h"
#include "shell/style/SymbolView.h"
#include "shell/controls/StyledLabel.h"

#include <QVBoxLayout>

ContentUnavailableView::ContentUnavailableView(const QString& symbol, const QString& title, const QString& description,
                                               QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("content-unavailable"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(16, 24, 16, 24);
    column->setSpacing(8);
    column->addStretch(1);
    auto* icon = new SymbolView(symbol, 40);
    icon->setEnabled(false);  // drawn in the disabled (muted) tone
    column->addWidget(icon, 0, Qt::AlignHCenter);
    column->addSpacing(4);
    title_ = new StyledLabel(Typography::title3());
    title_->setFont(Typography::system(17, QFont::DemiBold));
    title_->setAlignment(Qt::AlignHCenter);
    title_->setWordWrap(true);
    title_->setText(L(title));
    title_->setAccessibleName(title_->text());
    column->addWidget(title_);
    description_ = new StyledLabel(Typography::callout(), StyledLabel::Tone::muted);
    description_->setAlignment(Qt::AlignHCenter);
    description_->setWordWrap(true);
    description_->setText(L(description));
    description_->setVisible(!description.isEmpty());
    column->addWidget(description_);
    column->addStretch(1);
}
