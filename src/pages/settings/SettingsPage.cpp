#include "pages/settings/SettingsPage.h"

#include "model/AppModel.h"
#include "shell/controls/SheetWidgets.h"
#include "shell/controls/ActionConfirmation.h"
#include "shell/style/AppAppearance.h"
#include "shell/app/AppSettings.h"
#include "shell/app/AppVersion.h"
#include "shell/controls/LanguagePicker.h"
#include "shell/LocalizedText.h"
#include "shell/controls/NativeActionButton.h"
#include "shell/PageLayout.h"
#include "shell/controls/SectionCard.h"
#include "shell/controls/SegmentedControl.h"
#include "shell/controls/StyledLabel.h"
#include "update/SoftwareUpdateController.h"
#include "update/SoftwareUpdateView.h"

#include <QPointer>
#include <algorithm>
#include <QVBoxLayout>

namespace {

StyledLabel* caption(const QString& text)
{
    auto* label = SheetWidgets::text(Typography::caption(), StyledLabel::Tone::muted);
    label->setText(L(text));
    return label;
}

StyledLabel* line(const QString& text)
{
    auto* label = SheetWidgets::text(Typography::body());
    label->setText(text);
    return label;
}

} // namespace

SettingsPage::SettingsPage(AppModel& model, QWidget* parent)
    : SettingsPage(model, SoftwareUpdateController::shared(), parent)
{
}

SettingsPage::SettingsPage(AppModel& model, SoftwareUpdateController& updates, QWidget* parent)
    : QScrollArea(parent), model_(model)
{
    setObjectName(QStringLiteral("settings"));
    setUpPageScrollArea(this);

    auto* body = new QWidget();
    QVBoxLayout* stack = column(body, 20);
    body->setAutoFillBackground(false);

    // Appearance: one segment per appearance, in their order.
    auto* appearanceContent = new QWidget();
    QVBoxLayout* appearanceColumn = column(appearanceContent, 10);
    appearance_ = new SegmentedControl(
        {L(QStringLiteral("跟随系统")), L(QStringLiteral("浅色（白天）")), L(QStringLiteral("深色（夜间）"))});
    appearance_->setObjectName(QStringLiteral("appearance-picker"));
    appearance_->setAccessibleName(L(QStringLiteral("外观模式")));
    appearance_->setFixedHeight(28);
    appearance_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    appearance_->setMaximumWidth(420);
    connect(appearance_, &SegmentedControl::segmentChosen, this, [](int index) {
        if (index >= 0 && index < static_cast<int>(allAppAppearances.size()))
            AppSettings::shared().setValue(AppSettings::appearanceKey, rawValue(allAppAppearances[index]));
    });
    // Another window's settings may change it too.
    connect(&AppSettings::shared(), &AppSettings::changed, this, [this](const QString& key) {
        if (key == AppSettings::appearanceKey) showAppearance();
    });
    showAppearance();
    appearanceColumn->addWidget(appearance_);
    appearanceColumn->addWidget(
        caption(QStringLiteral("默认跟随系统。系统设置为自动外观时，Tessyn随昼夜自动切换；手动选择重启后保留。")));
    stack->addWidget(card(QStringLiteral("外观"), QStringLiteral("circle.lefthalf.filled"), appearanceContent));

    // Language.
    auto* languageContent = new QWidget();
    QVBoxLayout* languageColumn = column(languageContent, 10);
    languageColumn->addWidget(new LanguagePicker());
    languageColumn->addWidget(caption(QStringLiteral("切换立即生效，重启后保留。默认英文。")));
    stack->addWidget(card(QStringLiteral("语言"), QStringLiteral("globe"), languageContent));

    // About.
    auto* aboutContent = new QWidget();
    QVBoxLayout* aboutColumn = column(aboutContent, 6);
    aboutColumn->addWidget(line(L(QStringLiteral("版本 ") + AppVersion::version() + QStringLiteral("（构建 ") +
                                  AppVersion::build() + QStringLiteral("）"))));
    aboutColumn->addWidget(line(L(QStringLiteral("独立窗口 · 本地处理 · 官网分发"))));
    stack->addWidget(card(QStringLiteral("关于 Tessyn"), QStringLiteral("leaf"), aboutContent));

    updateCard_ = new SoftwareUpdateView(updates);
    stack->addWidget(updateCard_);

    // Privacy and records.
    auto* privacyContent = new QWidget();
    QVBoxLayout* privacyColumn = column(privacyContent, 10);
    privacyColumn->addWidget(
        line(L(QStringLiteral("扫描和文件处理无需联网。操作记录包含本地路径，可随时清除。扫描结果在退出后不保留。"))));
    clearButton_ = new NativeActionButton(QStringLiteral("清除操作记录"), NativeActionButton::Emphasis::destructive,
                                          [this] { confirmClear(); });
    clearButton_->setObjectName(QStringLiteral("clear-history"));
    privacyColumn->addWidget(clearButton_, 0, Qt::AlignLeft);
    stack->addWidget(card(QStringLiteral("隐私与记录"), QStringLiteral("lock.shield"), privacyContent));

    stack->addStretch(1);
    setWidget(body);
}

QSize SettingsPage::sizeHint() const
{
    const QSize content = widget() ? widget()->sizeHint() : QSize();
    return {QScrollArea::sizeHint().width(), std::min(content.height(), 640)};
}

void SettingsPage::showAppearance()
{
    // A stored value that names no appearance selects no segment (it is applied as "system").
    const auto stored = appAppearanceFromRaw(AppSettings::shared().appearanceRaw());
    appearance_->setSelectedIndex(stored ? static_cast<int>(*stored) : -1);
}

void SettingsPage::confirmClear()
{
    if (clear_) return;
    clear_ = true;
    QPointer<SettingsPage> page(this);
    AppModel* model = &model_;
    ActionConfirmation::present(
        QStringLiteral("清除所有本地操作记录？文件本身不受影响。"), QString(), QStringLiteral("清除记录"),
        [page, model](bool confirmed) {
            if (page) page->clear_ = false;
            // The model outlives every page; the answer counts even if the page was rebuilt.
            if (confirmed) model->clearHistory();
        },
        window(), [page](QDialog* dialog) {
            if (page) page->clearQuestion_ = dialog;
        });
}

std::any SettingsPage::handOver()
{
    Carried carried{listPosition(this), clearQuestion_ != nullptr};
    dropWindow(clearQuestion_);
    return carried;
}

void SettingsPage::takeOver(std::any state)
{
    const auto* carried = std::any_cast<Carried>(&state);
    if (!carried) return;
    restoreListPosition(this, carried->position);
    if (carried->confirmingClear) confirmClear();
}
