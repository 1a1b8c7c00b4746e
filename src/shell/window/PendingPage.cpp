#include "shell/window/PendingPage.h"

#include "shell/LocalizedText.h"
#include "shell/controls/StyledLabel.h"

#include <QEvent>
#include <QVBoxLayout>

PendingPage::PendingPage(const QString& page, QWidget* parent) : QWidget(parent), page_(page)
{
    setObjectName(QStringLiteral("pending-") + page);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(6);
    title_ = new StyledLabel(Typography::headline());
    note_ = new StyledLabel(Typography::body(), StyledLabel::Tone::muted);
    note_->setWordWrap(true);
    column->addWidget(title_);
    column->addWidget(note_);
    column->addStretch(1);
    retranslate();
}

void PendingPage::retranslate()
{
    title_->setText(L(page_));
    note_->setText(L(QStringLiteral("这一页尚未完成。")));
}
