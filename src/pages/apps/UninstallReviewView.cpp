#include "pages/apps/UninstallReviewView.h"

#include "engine/Operation.h"
#include "model/AppModel.h"
#include "model/Completion.h"
#include "shell/controls/RoundedPanel.h"
#include "shell/controls/SheetWidgets.h"
#include "services/RelatedFiles.h"
#include "shell/controls/ActionConfirmation.h"
#include "shell/DisplayText.h"
#include "shell/LocalizedText.h"
#include "shell/controls/NativeActionButton.h"
#include "pages/apps/NativeRelatedCheckbox.h"
#include "shell/PageTask.h"
#include "shell/style/Typography.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QScrollArea>
#include <QVBoxLayout>

#include <algorithm>
#include <cerrno>
#include <sys/stat.h>

namespace {

bool movedAndKept(const Operation& record) { return record.success && !record.restoredAt; }

// Only a missing path counts as gone; any other failure to look leaves the question open.
bool pathGone(const std::string& path)
{
    struct stat info {};
    return lstat(path.c_str(), &info) != 0 && errno == ENOENT;
}

const QString kRetryExplanation = QStringLiteral("应用包已移入废纸篓；以下关联项尚待处理。");
const QString kExplanation = QStringLiteral("应用包将移入废纸篓。");
const QString kScopeNote = QStringLiteral("关联项仅按 bundle ID 精确路径匹配，不能证明独占归属；默认保留。"
                                          "支持数据可能包含文稿、数据库与登录状态，请先备份。");

} // namespace

UninstallReviewView::UninstallReviewView(AppModel& model, InstalledApp app, QWidget* parent)
    : ReviewSheet(model, parent), app_(std::move(app))
{
    setObjectName(QStringLiteral("uninstall-review"));
    auto* title = SheetWidgets::text(Typography::system(17, QFont::Bold));
    title->setObjectName(QStringLiteral("uninstall-title"));
    const QString name = displayLine(app_.name);
    title->setText(L(QStringLiteral("卸载 ") + SheetWidgets::titleName(name, title->font(), kWidth - 2 * kMargin)));
    title->setToolTip(name);
    column()->addWidget(title);
    auto* path = SheetWidgets::text(Typography::caption());
    path->setText(displayLine(app_.path));
    path->setTextInteractionFlags(Qt::TextSelectableByMouse);
    column()->addWidget(path);
    explanation_ = SheetWidgets::text(Typography::body());
    explanation_->setObjectName(QStringLiteral("uninstall-explanation"));
    column()->addWidget(explanation_);
    loadingIndicator_ = SheetWidgets::spinner(80);
    // Loading, the empty note and the message come and go; the list keeps its height.
    SheetWidgets::keepPlaceWhenHidden(loadingIndicator_);
    column()->addWidget(loadingIndicator_);

    list_ = scrollingPanel(12, rowColumn_);
    rowColumn_->setContentsMargins(12, 8, 12, 8);
    rowColumn_->setSpacing(12);
    column()->addWidget(list_, 1);

    emptyNote_ = SheetWidgets::text(Typography::caption());
    emptyNote_->setObjectName(QStringLiteral("uninstall-empty"));
    emptyNote_->setText(L(QStringLiteral("没有可确认的精确关联项；同 bundle ID 的多个应用不会归属关联文件。")));
    SheetWidgets::keepPlaceWhenHidden(emptyNote_);
    column()->addWidget(emptyNote_);
    message_ = SheetWidgets::text(Typography::caption());
    message_->setObjectName(QStringLiteral("uninstall-message"));
    column()->addWidget(SheetWidgets::fixedLines(message_, 3));
    column()->addWidget(buildButtons());

    connect(&model_, &AppModel::maintenanceBusyChanged, this, &UninstallReviewView::refreshStates);
    connect(&model_, &AppModel::historyChanged, this, &UninstallReviewView::refreshNotes);
    connect(&model_, &AppModel::messageChanged, this, &UninstallReviewView::refreshTexts);
    rebuildRows();
    discover(model_.installedApps());
}

QWidget* UninstallReviewView::buildButtons()
{
    auto* bar = new QWidget();
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(0, 0, 0, 0);
    close_ = new NativeActionButton(QStringLiteral("关闭"), NativeActionButton::Emphasis::standard, [this] { accept(); });
    recheck_ = new NativeActionButton(QStringLiteral("重新检查关联项"), NativeActionButton::Emphasis::standard,
                                      [this] { recheck(); });
    row->addWidget(close_);
    row->addWidget(recheck_);
    row->addStretch(1);
    runIndicator_ = SheetWidgets::spinner(48);
    row->addWidget(runIndicator_);
    stop_ = new NativeActionButton(QStringLiteral("停止后续关联项"), NativeActionButton::Emphasis::standard,
                                   [this] { model_.setMaintenanceStop(true); });
    row->addWidget(stop_);
    primary_ = new NativeActionButton(QStringLiteral("卸载并检查…"), NativeActionButton::Emphasis::destructive,
                                      [this] { confirmAndRun(); });
    row->addWidget(primary_);
    return bar;
}

std::string UninstallReviewView::failureNote(const std::vector<Operation>& history, const std::string& path)
{
    auto newest = std::find_if(history.begin(), history.end(), [&](const Operation& r) { return r.path == path; });
    if (newest == history.end() || newest->success) return {};
    return newest->detail;
}

NativeRelatedCheckbox* UninstallReviewView::checkbox(const std::string& path) const
{
    for (const Row& row : rows_)
        if (row.item.path == path) return row.check;
    return nullptr;
}

QLabel* UninstallReviewView::note(const std::string& path) const
{
    for (const Row& row : rows_)
        if (row.item.path == path) return row.note;
    return nullptr;
}

// ---------------------------------------------------------------------------------------------
// Discovery

void UninstallReviewView::discover(std::vector<InstalledApp> installed)
{
    loading_ = true;
    refreshTexts();
    refreshStates();
    // Discovery signs whole folders; the result is dropped if the sheet is gone by then, or
    // if a newer discovery (or a predecessor's items) took its place.
    const int discovery = ++discovery_;
    runOffMainThread(
        this,
        [app = app_, home = model_.maintenanceHome(), installed = std::move(installed)] {
            return RelatedFiles::discover(app, home, installed);
        },
        [this, discovery](std::vector<RelatedItem> found) {
            if (discovery != discovery_) return;
            items_ = std::move(found);
            loading_ = false;
            rebuildRows();
            emit itemsDiscovered();
        });
}

void UninstallReviewView::recheck()
{
    selection_.clear();
    // Once the bundle is gone the model no longer lists it; the sheet's own record stands in.
    discover(packageRemoved_ ? std::vector<InstalledApp>{app_} : model_.installedApps());
}

void UninstallReviewView::setSelected(const std::string& path, bool selected)
{
    if (selected) selection_.insert(path);
    else selection_.erase(path);
    if (NativeRelatedCheckbox* check = checkbox(path)) check->setSelected(selected);
}

// ---------------------------------------------------------------------------------------------
// Confirm, run and reconcile

void UninstallReviewView::confirmAndRun()
{
    std::vector<RelatedItem> chosen;
    for (const RelatedItem& item : items_)
        if (selection_.count(item.path)) chosen.push_back(item);
    const QString detail = displayLine(app_.path) + QLatin1Char('\n') + QStringLiteral("关联项 ") + QString::number(chosen.size()) +
                           QStringLiteral(" 个。支持数据可能不可重建；失败项不会自动重试。应用移走失败时会保留全部关联项。");
    QPointer<UninstallReviewView> self(this);
    ActionConfirmation::present(
        QStringLiteral("将应用及选中的关联项移入废纸篓？"), detail, QStringLiteral("移入废纸篓"),
        [self, chosen](bool confirmed) {
            if (confirmed && self) self->run(chosen);
        },
        this, [self](QDialog* dialog) {
            if (self) self->confirmation_ = dialog;
        });
}

void UninstallReviewView::run(const std::vector<RelatedItem>& chosen)
{
    std::unordered_set<std::string> before;
    for (const Operation& record : model_.history()) before.insert(record.id);
    std::vector<std::string> chosenPaths;
    for (const RelatedItem& item : chosen) chosenPaths.push_back(item.path);
    QFuture<void> done = packageRemoved_ ? model_.retryRelated(app_, chosen) : model_.removeApp(app_, chosen);
    awaitRun(std::make_shared<const Run>(Run{done, std::move(before), std::move(chosenPaths)}));
}

void UninstallReviewView::awaitRun(std::shared_ptr<const Run> run)
{
    run_ = run;
    // Also after a refusal: the model may have written records or a message meanwhile. Only
    // while this sheet still awaits it: one that handed the run over leaves it to its successor.
    whenFinished(this, run->done, [this, run] {
        if (run_ != run) return;
        run_.reset();
        reconcile(run->before, run->chosen);
    });
}

void UninstallReviewView::reconcile(const std::unordered_set<std::string>& before,
                                    const std::vector<std::string>& chosen)
{
    const std::vector<Operation>& history = model_.history();
    for (const Operation& record : history)
        if (!before.count(record.id)) ownRecords_.insert(record.id);

    // A record proves a move only when this sheet's calls wrote it or the path is really gone:
    // an older record of an application reinstalled at the same path (or of a related item
    // made again since) must not make a refused run look like a finished one.
    auto moved = [&](const std::string& path, bool bundle) {
        const bool gone = pathGone(path);
        return std::any_of(history.begin(), history.end(), [&](const Operation& record) {
            return record.path == path && (!bundle || record.kind == "application") && movedAndKept(record) &&
                   (gone || ownRecords_.count(record.id));
        });
    };
    packageRemoved_ = moved(app_.path, true);
    std::erase_if(items_, [&](const RelatedItem& item) { return moved(item.path, false); });
    std::set<std::string> kept;
    for (const RelatedItem& item : items_)
        if (selection_.count(item.path)) kept.insert(item.path);
    selection_ = std::move(kept);
    rebuildRows();
    emit reconciled();

    const bool chosenLeft = std::any_of(chosen.begin(), chosen.end(), [&](const std::string& path) {
        return std::any_of(items_.begin(), items_.end(), [&](const RelatedItem& item) { return item.path == path; });
    });
    if (packageRemoved_ && !chosenLeft) accept();
}

// ---------------------------------------------------------------------------------------------
// Redrawing

void UninstallReviewView::rebuildRows()
{
    for (Row& row : rows_) delete row.widget;
    rows_.clear();
    for (const RelatedItem& item : items_) {
        Row row{item};
        row.widget = new QWidget();
        auto* line = new QHBoxLayout(row.widget);
        line->setContentsMargins(0, 0, 0, 0);
        line->setAlignment(Qt::AlignTop);
        row.check = new NativeRelatedCheckbox(textFromBytes(item.path));
        row.check->setSelected(selection_.count(item.path) > 0);
        connect(row.check, &NativeRelatedCheckbox::selectionWritten, this,
                [this, path = item.path](bool on) { setSelected(path, on); });
        line->addWidget(row.check, 0, Qt::AlignTop);
        auto* texts = new QVBoxLayout();
        texts->setSpacing(3);
        auto* label = SheetWidgets::text(Typography::system(13, QFont::Bold));
        label->setText(L(displayLine(item.label)));
        texts->addWidget(label);
        auto* path = SheetWidgets::text(Typography::caption());
        path->setText(displayLine(item.path));
        path->setTextInteractionFlags(Qt::TextSelectableByMouse);
        texts->addWidget(path);
        if (item.directory) {
            auto* size = SheetWidgets::text(Typography::caption2());
            size->setText(L(QStringLiteral("目录大小未统计 · 整个目录将移走")));
            texts->addWidget(size);
        }
        row.note = new QLabel();
        row.note->setObjectName(QStringLiteral("failure-note"));
        row.note->setFont(Typography::caption());
        row.note->setTextFormat(Qt::PlainText);
        row.note->setWordWrap(true);
        QPalette orange = row.note->palette();
        orange.setColor(QPalette::WindowText, QColor(0xe8, 0x80, 0x00));
        row.note->setPalette(orange);
        texts->addWidget(row.note);
        line->addLayout(texts, 1);
        rowColumn_->insertWidget(static_cast<int>(rows_.size()), row.widget);
        rows_.push_back(row);
    }
    refreshNotes();
    refreshTexts();
    refreshStates();
}

void UninstallReviewView::refreshNotes()
{
    for (Row& row : rows_) {
        const std::string note = failureNote(model_.history(), row.item.path);
        row.note->setText(note.empty() ? QString() : L(textFromBytes(note)));
        row.note->setVisible(!note.empty());
    }
}

void UninstallReviewView::refreshTexts()
{
    explanation_->setText(L((packageRemoved_ ? kRetryExplanation : kExplanation) + kScopeNote));
    // The retry text is longer: room for it from the start keeps the list where it is.
    explanation_->setMinimumHeight(SheetWidgets::tallestText(
        explanation_, {L(kExplanation + kScopeNote), L(kRetryExplanation + kScopeNote)}, kWidth - 2 * kMargin));
    primary_->setTitle(packageRemoved_ ? QStringLiteral("重试所选关联项…") : QStringLiteral("卸载并检查…"));
    emptyNote_->setVisible(!loading_ && items_.empty());
    const auto& message = model_.message();
    message_->setVisible(message.has_value());
    message_->setText(message ? L(textFromBytes(*message)) : QString());
}

void UninstallReviewView::refreshStates()
{
    const bool processing = model_.processing();
    loadingIndicator_->setVisible(loading_);
    for (Row& row : rows_) row.widget->setEnabled(!processing);
    close_->setEnabled(!processing);
    recheck_->setEnabled(!processing && !loading_);
    // Any job the model counts as busy makes it refuse the run after the confirmation.
    primary_->setEnabled(!model_.maintenanceBusy() && !loading_);
    runIndicator_->setVisible(processing);
    stop_->setVisible(processing);
}

// ---------------------------------------------------------------------------------------------
// Language change

std::any UninstallReviewView::handOver()
{
    Carried carried{items_, selection_, loading_, packageRemoved_, ownRecords_,
                    std::exchange(run_, nullptr), listPosition(list_->findChild<QScrollArea*>()),
                    confirmation_ != nullptr};
    dropWindow(confirmation_);
    return carried;
}

void UninstallReviewView::takeOver(std::any state)
{
    auto* carried = std::any_cast<Carried>(&state);
    if (!carried) return;
    ++discovery_;  // the predecessor's items stand, not the first discovery of this sheet
    items_ = std::move(carried->items);
    selection_ = std::move(carried->selection);
    loading_ = false;
    packageRemoved_ = carried->packageRemoved;
    ownRecords_ = std::move(carried->ownRecords);
    rebuildRows();
    restoreListPosition(list_->findChild<QScrollArea*>(), carried->listPosition);
    // A discovery the predecessor awaited runs again; it keeps the ticks.
    if (carried->loading) discover(packageRemoved_ ? std::vector<InstalledApp>{app_} : model_.installedApps());
    if (carried->run) awaitRun(carried->run);
    if (carried->confirming) confirmAndRun();
}
