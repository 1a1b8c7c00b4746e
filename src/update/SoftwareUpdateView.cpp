#include "update/SoftwareUpdateView.h"

#include "shell/app/AppVersion.h"
#include "shell/LocalizedText.h"
#include "shell/controls/StyledLabel.h"
#include "update/SoftwareUpdateController.h"

#include <QHBoxLayout>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
QPushButton* pushButton(QWidget* parent)
{
    auto* button = new QPushButton(parent);
    button->setAutoDefault(false);
    button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    return button;
}
} // namespace

SoftwareUpdateView::SoftwareUpdateView(SoftwareUpdateController& updates, QWidget* parent)
    : SectionCard(QStringLiteral("软件更新"), QStringLiteral("arrow.down.circle"), new QWidget(), parent),
      updates_(updates)
{
    setObjectName(QStringLiteral("software-update"));
    auto* column = new QVBoxLayout(content());
    column->setContentsMargins(0, 0, 0, 0);
    // The card's own spacing: the content's elements sit as far apart as the title and the first.
    column->setSpacing(14);
    version_ = new StyledLabel(Typography::body());
    status_ = new StyledLabel(Typography::callout(), StyledLabel::Tone::muted);
    status_->setWordWrap(true);
    column->addWidget(version_);
    column->addWidget(status_);

    auto* row = new QHBoxLayout();
    row->setSpacing(8);
    busy_ = new QProgressBar();
    busy_->setRange(0, 0);
    busy_->setTextVisible(false);
    busy_->setFixedSize(48, 6);
    check_ = pushButton(content());
    download_ = pushButton(content());
    open_ = pushButton(content());
    row->addWidget(busy_, 0, Qt::AlignVCenter);
    row->addWidget(check_, 0, Qt::AlignVCenter);
    row->addWidget(download_, 0, Qt::AlignVCenter);
    row->addWidget(open_, 0, Qt::AlignVCenter);
    row->addStretch(1);
    column->addLayout(row);

    note_ = new StyledLabel(Typography::caption(), StyledLabel::Tone::muted);
    note_->setWordWrap(true);
    column->addWidget(note_);

    // The operations report through the controller's state; their completions are not needed.
    connect(check_, &QPushButton::clicked, this, [this] { (void)updates_.check(); });
    connect(download_, &QPushButton::clicked, this, [this] { (void)updates_.download(); });
    connect(open_, &QPushButton::clicked, this, [this] { updates_.openInstaller(); });
    connect(&updates_, &SoftwareUpdateController::stateChanged, this, &SoftwareUpdateView::refresh);
    refresh();
}

QLabel* SoftwareUpdateView::versionLine() const { return version_; }

void SoftwareUpdateView::refresh()
{
    using State = SoftwareUpdateController::State;
    const State state = updates_.state();
    version_->setText(L(QStringLiteral("版本 ") + AppVersion::version() + QStringLiteral("（构建 ") +
                        AppVersion::build() + QStringLiteral("）")));
    status_->setText(updates_.status());
    busy_->setVisible(updates_.busy());
    check_->setText(plainTitle(L(QStringLiteral("检查更新"))));
    check_->setEnabled(!updates_.busy());
    download_->setText(plainTitle(L(QStringLiteral("下载更新"))));
    download_->setVisible(state == State::available);
    open_->setText(plainTitle(L(QStringLiteral("打开安装包"))));
    open_->setVisible(state == State::ready);
    note_->setText(L(QStringLiteral("安装包通过 SHA-256 校验后打开。将新版 Tessyn 拖入 Applications 替换旧版。")));
}
