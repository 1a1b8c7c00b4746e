#include "pages/apps/CacheReviewView.h"

#include "engine/ByteFormat.h"
#include "model/AppModel.h"
#include "shell/controls/CheckableRowList.h"
#include "shell/controls/DisclosureGroup.h"
#include "shell/controls/RoundedPanel.h"
#include "shell/controls/SheetWidgets.h"
#include "shell/controls/ActionConfirmation.h"
#include "shell/DisplayText.h"
#include "shell/LocalizedText.h"
#include "shell/controls/NativeActionButton.h"
#include "shell/controls/StyledLabel.h"

#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

CacheReviewView::CacheReviewView(AppModel& model, QWidget* parent) : ReviewSheet(model, parent)
{
    setObjectName(QStringLiteral("cache-review"));
    title_ = SheetWidgets::text(Typography::system(17, QFont::Bold));
    title_->setObjectName(QStringLiteral("cache-title"));
    column()->addWidget(title_);

    planArea_ = new QWidget();
    auto* plan = new QVBoxLayout(planArea_);
    plan->setContentsMargins(0, 0, 0, 0);
    plan->setSpacing(14);
    root_ = SheetWidgets::text(Typography::caption());
    root_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    plan->addWidget(root_);
    summary_ = SheetWidgets::text(Typography::callout());
    summary_->setObjectName(QStringLiteral("cache-summary"));
    plan->addWidget(summary_);

    list_ = new RoundedPanel(12, true);
    list_->setObjectName(QStringLiteral("cache-files"));
    auto* panel = new QVBoxLayout(list_);
    panel->setContentsMargins(1, 4, 1, 4);
    // Row i lists the plan's file i. The path is taken from the plan, never from a text: a name
    // whose bytes are not UTF-8 does not come back from text unchanged.
    auto file = [this](int row) -> const FileEntry* {
        const auto& plan = model_.cachePlan();
        return plan && row >= 0 && static_cast<size_t>(row) < plan->files.size() ? &plan->files[static_cast<size_t>(row)]
                                                                                : nullptr;
    };
    rows_ = new CheckableRowList(
        {{Typography::body()}, {Typography::caption()}, {Typography::caption2(), true}},
        [file](int row) {
            const FileEntry* entry = file(row);
            if (!entry) return QStringList();
            return QStringList{displayLine(entry->name()) + QStringLiteral(" · ") + L(textFromBytes(formatFileSize(entry->size))),
                               displayLine(entry->path), L(numericDateTime(entry->modified))};
        },
        [this, file](int row) {
            const FileEntry* entry = file(row);
            return entry && model_.cacheSelection().count(entry->path) > 0;
        });
    rows_->setObjectName(QStringLiteral("cache-rows"));
    rows_->setAccessibleName(L(QStringLiteral("文件")));
    connect(rows_, &CheckableRowList::toggled, this, [this, file](int row, bool on) {
        const FileEntry* entry = file(row);
        if (!entry) return;
        AppModel::PathSet chosen = model_.cacheSelection();
        if (on) chosen.insert(entry->path);
        else chosen.erase(entry->path);
        model_.setCacheSelection(std::move(chosen));
    });
    panel->addWidget(rows_);
    plan->addWidget(list_, 1);

    loadMore_ = new QPushButton();
    loadMore_->setObjectName(QStringLiteral("cache-load-more"));
    loadMore_->setAutoDefault(false);
    // The rows below stay put, and so does the list's height, once every file is listed.
    SheetWidgets::keepPlaceWhenHidden(loadMore_);
    connect(loadMore_, &QPushButton::clicked, this, &CacheReviewView::loadMore);
    plan->addWidget(loadMore_, 0, Qt::AlignLeft);
    notesSlot_ = new QVBoxLayout();
    notesSlot_->setContentsMargins(0, 0, 0, 0);
    plan->addLayout(notesSlot_);
    message_ = SheetWidgets::text(Typography::caption());
    message_->setObjectName(QStringLiteral("cache-message"));
    message_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // The model clears its message as a clean starts and writes one as it ends: the list must
    // not grow and shrink with it.
    plan->addWidget(SheetWidgets::fixedLines(message_, 3));
    plan->addStretch(0);
    plan->addWidget(buildButtons());
    // Without a plan (while a rescan runs, after a failed one) the title stands alone.
    column()->addWidget(planArea_, 1);
    column()->addStretch(0);

    // The model changes the application before the plan: rebuilding the rows then would make
    // the old plan's rows only to drop them at once.
    connect(&model_, &AppModel::cachePlanChanged, this, &CacheReviewView::rebuildPlan);
    connect(&model_, &AppModel::cacheAppChanged, this, &CacheReviewView::refreshTitle);
    connect(&model_, &AppModel::cacheSelectionChanged, this, [this] {
        rows_->refreshTicks();
        refreshSummary();
        refreshStates();
    });
    connect(&model_, &AppModel::messageChanged, this, &CacheReviewView::refreshMessage);
    connect(&model_, &AppModel::actionProgressChanged, this, &CacheReviewView::refreshStates);
    connect(&model_, &AppModel::maintenanceBusyChanged, this, &CacheReviewView::refreshStates);
    rebuildPlan();
}

int CacheReviewView::listHeightLimit(int limit, int planFiles)
{
    return kRowHeightLimit * std::max(1, std::min(limit, planFiles));
}

QWidget* CacheReviewView::buildButtons()
{
    auto* bar = new QWidget();
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(0, 0, 0, 0);
    selectShown_ = new NativeActionButton(QStringLiteral("选择显示项"), NativeActionButton::Emphasis::standard,
                                          [this] { selectShown(); });
    clear_ = new NativeActionButton(QStringLiteral("取消选择"), NativeActionButton::Emphasis::standard,
                                    [this] { model_.setCacheSelection({}); });
    rescan_ = new NativeActionButton(QStringLiteral("重新扫描"), NativeActionButton::Emphasis::standard,
                                     [this] { rescan(); });
    row->addWidget(selectShown_);
    row->addWidget(clear_);
    row->addWidget(rescan_);
    row->addStretch(1);
    progress_ = new StyledLabel(Typography::callout(), StyledLabel::Tone::muted);
    progress_->setObjectName(QStringLiteral("cache-progress"));
    row->addWidget(progress_);
    stop_ = new NativeActionButton(QStringLiteral("停止后续处理"), NativeActionButton::Emphasis::standard,
                                   [this] { model_.setMaintenanceStop(true); });
    row->addWidget(stop_);
    close_ = new NativeActionButton(QStringLiteral("关闭"), NativeActionButton::Emphasis::standard, [this] { accept(); });
    row->addWidget(close_);
    clean_ = new NativeActionButton(QStringLiteral("检查并清理…"), NativeActionButton::Emphasis::primary,
                                    [this] { confirmAndClean(); });
    row->addWidget(clean_);
    return bar;
}

// ---------------------------------------------------------------------------------------------
// Redrawing

int CacheReviewView::listedRows() const { return rows_->rowCount(); }

void CacheReviewView::rebuildPlan()
{
    refreshTitle();
    const auto& plan = model_.cachePlan();
    planArea_->setVisible(plan.has_value());
    rows_->resetRows(plan ? std::min(limit_, static_cast<int>(plan->files.size())) : 0);
    if (plan) {
        root_->setText(displayLine(plan->root));
        showRows();

        delete notes_;
        QStringList warnings;
        for (const std::string& warning : plan->report.warnings) warnings << textFromBytes(warning);
        notes_ = new DisclosureGroup(
            L(QStringLiteral("扫描说明：跳过 ") + QString::number(plan->report.skipped) + QStringLiteral(" 项")),
            L(warnings.join(QLatin1Char('\n'))), Typography::caption());
        notesSlot_->addWidget(notes_);
        // Made after the buttons, but reached from the keyboard where it stands.
        QWidget::setTabOrder(loadMore_, notes_->toggle());
        // Shown now, not on the next pass of the event loop: the rows must not jump meanwhile.
        notes_->show();
    }
    refreshSummary();
    refreshMessage();
    refreshStates();
}

void CacheReviewView::showRows()
{
    const auto& plan = model_.cachePlan();
    if (!plan) return;
    const int files = static_cast<int>(plan->files.size());
    rows_->setRowCount(std::min(limit_, files));
    list_->setMaximumHeight(listHeightLimit(limit_, files));
    loadMore_->setText(plainTitle(L(QStringLiteral("加载更多（当前 ") + QString::number(limit_) + QStringLiteral(" 项）"))));
    loadMore_->setVisible(limit_ < files);
}

void CacheReviewView::refreshTitle()
{
    const auto& app = model_.cacheApp();
    const QString name = app ? displayLine(app->name) : QStringLiteral("应用");
    title_->setText(L(SheetWidgets::titleName(name, title_->font(), kWidth - 2 * kMargin) + QStringLiteral(" · 缓存候选")));
    title_->setToolTip(app ? name : QString());
}

void CacheReviewView::refreshSummary()
{
    const auto& plan = model_.cachePlan();
    if (!plan) return;
    auto summary = [](size_t files, size_t chosen) {
        return L(QString::number(files) + QStringLiteral(" 项超过 7 天 · 已选 ") + QString::number(chosen) +
                 QStringLiteral(" 项；修改日期不能证明文件未被使用。清理可能导致重新下载或首次使用变慢。"));
    };
    const size_t files = plan->files.size();
    summary_->setText(summary(files, model_.cacheSelection().size()));
    // Room for the longest count the plan allows, so a choice never rewraps the list away.
    summary_->setMinimumHeight(SheetWidgets::tallestText(summary_, {summary(files, files), summary_->text()},
                                                         kWidth - 2 * kMargin));
}

void CacheReviewView::refreshStates()
{
    const bool processing = model_.processing();
    rows_->setRowsEnabled(!processing);
    loadMore_->setEnabled(!processing);
    selectShown_->setEnabled(!processing);
    clear_->setEnabled(!processing);
    rescan_->setEnabled(!model_.maintenanceBusy());
    close_->setEnabled(!processing);
    // Any job the model counts as busy makes it refuse the clean after the confirmation.
    clean_->setEnabled(!model_.maintenanceBusy() && !model_.cacheSelection().empty());
    if (notes_) notes_->setEnabled(!processing);
    progress_->setVisible(processing);
    stop_->setVisible(processing);
    const ActionProgress& progress = model_.actionProgress();
    progress_->setText(QString::number(progress.completed) + QLatin1Char('/') + QString::number(progress.total));
}

void CacheReviewView::refreshMessage()
{
    const auto& message = model_.message();
    message_->setVisible(message.has_value());
    message_->setText(message ? L(textFromBytes(*message)) : QString());
}

// ---------------------------------------------------------------------------------------------
// Actions

void CacheReviewView::loadMore()
{
    limit_ += kPageRows;
    showRows();
}

void CacheReviewView::selectShown()
{
    const auto& plan = model_.cachePlan();
    if (!plan) return;
    AppModel::PathSet chosen = model_.cacheSelection();
    const size_t listed = std::min(static_cast<size_t>(limit_), plan->files.size());
    for (size_t i = 0; i < listed; ++i) chosen.insert(plan->files[i].path);
    model_.setCacheSelection(std::move(chosen));
}

void CacheReviewView::rescan()
{
    if (const auto& app = model_.cacheApp()) model_.inspectCache(*app);
}

void CacheReviewView::confirmAndClean()
{
    const QString detail = QString::number(model_.cacheSelection().size()) +
                           QStringLiteral(" 项。清理可能导致重新下载。可在操作记录恢复；原位置已有文件不会覆盖。");
    QPointer<CacheReviewView> self(this);
    ActionConfirmation::present(
        QStringLiteral("将选中的缓存移入废纸篓？"), detail, QStringLiteral("移入废纸篓"),
        [self](bool confirmed) {
            if (confirmed && self) self->model_.cleanCache();
        },
        this, [self](QDialog* dialog) {
            if (self) self->confirmation_ = dialog;
        });
}

// ---------------------------------------------------------------------------------------------
// Language change

std::any CacheReviewView::handOver()
{
    Carried carried{limit_, notes_ && notes_->expanded(), listPosition(rows_), rows_->currentIndex().row(),
                    confirmation_ != nullptr};
    dropWindow(confirmation_);
    return carried;
}

void CacheReviewView::takeOver(std::any state)
{
    const auto* carried = std::any_cast<Carried>(&state);
    if (!carried) return;
    if (limit_ != carried->limit) {
        limit_ = carried->limit;
        showRows();
    }
    if (notes_) notes_->setExpanded(carried->notesOpen);
    if (carried->currentRow >= 0 && carried->currentRow < rows_->rowCount())
        // Also on rows disabled by a running clean, which the view's own setter passes over.
        rows_->selectionModel()->setCurrentIndex(rows_->model()->index(carried->currentRow, 0), QItemSelectionModel::NoUpdate);
    restoreListPosition(rows_, carried->listPosition);
    if (carried->confirming) confirmAndClean();
}
