#include "shell/window/OverviewPage.h"

#include "engine/ByteFormat.h"
#include "engine/Dates.h"
#include "model/AppModel.h"
#include "services/MemoryAdvice.h"
#include "shell/DisplayText.h"
#include "shell/PageLayout.h"
#include "shell/style/TessynStyle.h"
#include "shell/app/AppSettings.h"
#include "shell/LocalizedText.h"
#include "shell/window/PageDestinations.h"
#include "shell/controls/SectionCard.h"
#include "shell/controls/StyledLabel.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QPushButton* makeButton(const QString& title)
{
    auto* button = new QPushButton();
    button->setProperty("tessynTitle", title);
    button->setAutoDefault(false);
    button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    return button;
}

QString unavailable() { return QStringLiteral("暂不可获取"); }

} // namespace

OverviewPage::OverviewPage(AppModel& model, Navigate navigate, QWidget* parent)
    : QScrollArea(parent), model_(model), navigate_(std::move(navigate))
{
    setObjectName(QStringLiteral("overview"));
    setUpPageScrollArea(this);

    auto* body = new QWidget();
    body->setAutoFillBackground(false);
    auto* stack = column(body, 20);

    // Memory card.
    auto* memoryContent = new QWidget();
    auto* memoryColumn = column(memoryContent, 6);
    adviceTitle_ = new StyledLabel(Typography::system(15, QFont::Bold));
    adviceTitle_->setWordWrap(true);
    adviceExplanation_ = new StyledLabel(Typography::caption(), StyledLabel::Tone::muted);
    adviceExplanation_->setWordWrap(true);
    physicalMemory_ = new StyledLabel(Typography::caption(), StyledLabel::Tone::muted);
    memoryButton_ = makeButton(QStringLiteral("查看内存"));
    PrimaryActionStyle::apply(memoryButton_);
    connect(memoryButton_, &QPushButton::clicked, this, [this] {
        if (navigate_) navigate_(Pages::memory);
    });
    memoryColumn->addWidget(adviceTitle_);
    memoryColumn->addWidget(adviceExplanation_);
    memoryColumn->addWidget(physicalMemory_);
    memoryColumn->addSpacing(6);
    memoryColumn->addWidget(memoryButton_);
    memoryColumn->addStretch(1);

    // Disk card.
    auto* diskContent = new QWidget();
    auto* diskColumn = column(diskContent, 6);
    freeSpace_ = new StyledLabel(Typography::system(32, QFont::DemiBold));
    freeSpaceNote_ = new StyledLabel(Typography::caption(), StyledLabel::Tone::muted);
    freeSpaceNote_->setWordWrap(true);
    filesButton_ = makeButton(QStringLiteral("整理文件"));
    PrimaryActionStyle::apply(filesButton_);
    connect(filesButton_, &QPushButton::clicked, this, [this] {
        if (navigate_) navigate_(Pages::files);
    });
    diskColumn->addWidget(freeSpace_);
    diskColumn->addWidget(freeSpaceNote_);
    diskColumn->addSpacing(6);
    diskColumn->addWidget(filesButton_);
    diskColumn->addStretch(1);

    auto* row = new QHBoxLayout();
    row->setSpacing(18);
    row->addWidget(card(QStringLiteral("内存状态"), QStringLiteral("memorychip"), memoryContent), 1, Qt::AlignTop);
    row->addWidget(card(QStringLiteral("磁盘空间"), QStringLiteral("internaldrive"), diskContent), 1, Qt::AlignTop);
    stack->addLayout(row);

    // Scan card.
    auto* scanContent = new QWidget();
    auto* scanColumn = column(scanContent, 8);
    notScanned_ = new StyledLabel(Typography::body());
    notScanned_->setWordWrap(true);
    counts_ = new StyledLabel(Typography::body());
    scanState_ = new StyledLabel(Typography::body(), StyledLabel::Tone::muted);
    shortcuts_ = new QWidget();
    auto* shortcutRow = new QHBoxLayout(shortcuts_);
    shortcutRow->setContentsMargins(0, 0, 0, 0);
    const std::pair<const char*, const char*> shortcuts[] = {
        {"查看大文件", "大文件"}, {"整理旧下载", "旧下载候选"}, {"查看重复文件", "重复文件"}};
    for (const auto& [title, filter] : shortcuts) {
        QPushButton* button = makeButton(QString::fromUtf8(title));
        QString value = QString::fromUtf8(filter);
        connect(button, &QPushButton::clicked, this, [this, value] { openFiles(value); });
        shortcutRow->addWidget(button);
        shortcutButtons_.emplace_back(value, button);
    }
    shortcutRow->addStretch(1);
    rootPath_ = new StyledLabel(Typography::caption(), StyledLabel::Tone::muted);
    rootPath_->setTextFormat(Qt::PlainText);
    rootPath_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    rootPath_->setWordWrap(true);
    scanColumn->addWidget(notScanned_);
    scanColumn->addWidget(counts_);
    scanColumn->addWidget(scanState_);
    scanColumn->addWidget(shortcuts_);
    scanColumn->addWidget(rootPath_);
    stack->addWidget(card(QStringLiteral("最近扫描"), QStringLiteral("magnifyingglass"), scanContent));

    footnote_ = new StyledLabel(Typography::callout(), StyledLabel::Tone::muted);
    footnote_->setWordWrap(true);
    stack->addWidget(footnote_);
    stack->addStretch(1);
    setWidget(body);

    for (auto signal : {&AppModel::memorySamplesChanged, &AppModel::memoryChanged, &AppModel::availableSpaceChanged,
                        &AppModel::reportChanged, &AppModel::rootChanged})
        connect(&model_, signal, this, &OverviewPage::refreshContent);
    connect(&AppSettings::shared(), &AppSettings::changed, this, [this](const QString& key) {
        if (key == AppSettings::languageKey) refreshContent();
    });
    refreshContent();
}

QPushButton* OverviewPage::shortcutButton(const QString& filter) const
{
    for (const auto& [value, button] : shortcutButtons_)
        if (value == filter) return button;
    return nullptr;
}

void OverviewPage::openFiles(const QString& filter)
{
    model_.setFilter(filter.toStdString());
    model_.refreshResults(false);
    if (navigate_) navigate_(Pages::files);
}

void OverviewPage::refreshContent()
{
    MemoryAdvice advice = MemoryAdvice::evaluate(model_.memorySamples(), dateNow());
    adviceTitle_->setText(L(QString::fromStdString(advice.title)));
    adviceExplanation_->setText(L(QString::fromStdString(advice.explanation)));
    const auto& memory = model_.memory();
    QString total = memory ? QString::fromStdString(formatFileSize(static_cast<int64_t>(memory->total))) : unavailable();
    physicalMemory_->setText(L(QStringLiteral("物理内存：") + total));

    auto space = model_.availableSpace();
    freeSpace_->setText(L(space ? QString::fromStdString(formatFileSize(*space)) : unavailable()));
    freeSpaceNote_->setText(L(QStringLiteral("所选目录所在卷可用空间")));

    const auto& report = model_.report();
    notScanned_->setVisible(!report);
    counts_->setVisible(bool(report));
    scanState_->setVisible(bool(report));
    shortcuts_->setVisible(bool(report));
    notScanned_->setText(L(QStringLiteral("尚未扫描。选择文件夹开始，所有文件默认不选中。")));
    if (report) {
        counts_->setText(L(QStringLiteral("已检查 ") + QString::number(report->inspected) + QStringLiteral(" 个文件，跳过 ") +
                           QString::number(report->skipped) + QStringLiteral(" 项")));
        scanState_->setText(L(report->cancelled ? QStringLiteral("扫描已取消，结果不完整")
                                                : QStringLiteral("扫描完成；仅覆盖所选目录")));
    }
    const auto& root = model_.root();
    rootPath_->setVisible(bool(root));
    rootPath_->setText(root ? displayLine(*root) : QString());

    for (QPushButton* button : {memoryButton_, filesButton_}) button->setText(plainTitle(L(button->property("tessynTitle").toString())));
    for (const auto& [value, button] : shortcutButtons_)
        button->setText(plainTitle(L(button->property("tessynTitle").toString())));
    footnote_->setText(L(QStringLiteral("文件扫描和处理在本机完成；首版不会自动清理或关闭应用。")));
}
