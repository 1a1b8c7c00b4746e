#include "pages/history/HistoryPage.h"

#include "model/AppModel.h"
#include "model/Completion.h"
#include "pages/history/HistoryRecordList.h"
#include "shell/controls/AccentTile.h"
#include "shell/controls/RoundedPanel.h"
#include "shell/controls/ActionConfirmation.h"
#include "shell/DesktopServices.h"
#include "shell/DisplayText.h"
#include "shell/LocalizedText.h"
#include "shell/controls/NativeActionButton.h"
#include "shell/PageLayout.h"
#include "shell/style/SymbolView.h"
#include "shell/controls/StyledLabel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QScrollArea>
#include <QVBoxLayout>
#include <algorithm>

namespace {

// Notes past this height scroll, so a pile of them never pushes the records off the page.
constexpr int kNotesMaxHeight = 160;

QColor warningColour() { return QColor(0xf0, 0x8c, 0x00); }

} // namespace

HistoryPage::HistoryPage(AppModel& model, QWidget* parent) : QWidget(parent), model_(model)
{
    setObjectName(QStringLiteral("history-page"));
    auto* stack = column(this, 16);

    notesArea_ = new QScrollArea();
    notesArea_->setObjectName(QStringLiteral("history-notes"));
    setUpPageScrollArea(notesArea_);
    notes_ = new QWidget();
    notes_->setAutoFillBackground(false);
    notesLayout_ = column(notes_, 16);
    notesArea_->setWidget(notes_);
    stack->addWidget(notesArea_);

    clearNotes_ = new NativeActionButton(QStringLiteral("已核对中断项，清除提示…"), NativeActionButton::Emphasis::standard,
                                         [this] { confirmClearNotes(); });
    clearNotes_->setObjectName(QStringLiteral("history-clear-notes"));
    stack->addWidget(clearNotes_, 0, Qt::AlignLeft);

    emptyArea_ = makeEmptyArea();
    stack->addWidget(emptyArea_, 1);
    header_ = makeHeader();
    stack->addWidget(header_);

    listPanel_ = new RoundedPanel(12, true);
    listPanel_->setObjectName(QStringLiteral("history-list-panel"));
    auto* panelLayout = new QVBoxLayout(listPanel_);
    panelLayout->setContentsMargins(1, 4, 1, 4);
    list_ = new HistoryRecordList();
    panelLayout->addWidget(list_);
    stack->addWidget(listPanel_, 1);
    connect(list_, &HistoryRecordList::restoreRequested, this, [this](const Operation& record) { confirmRestore(record); });

    connect(&model_, &AppModel::historyChanged, this, &HistoryPage::showHistory);
    connect(&model_, &AppModel::recoveryNotesChanged, this, &HistoryPage::showNotes);
    // Restoring waits for every file job; clearing the notes for every job at all.
    connect(&model_, &AppModel::maintenanceBusyChanged, this, &HistoryPage::showBlocking);

    showNotes();
    showHistory();
    showBlocking();
}

QWidget* HistoryPage::makeEmptyArea()
{
    auto* area = new QWidget();
    area->setObjectName(QStringLiteral("history-empty"));

    auto* card = new RoundedPanel(20, true);
    card->setObjectName(QStringLiteral("history-empty-card"));
    card->setMaximumWidth(520);
    auto* column = new QVBoxLayout(card);
    column->setContentsMargins(28, 28, 28, 28);
    column->setSpacing(14);
    // A symbol in the accent colour on a faint accent disc.
    auto* badge = new AccentTile(86, 43, 0.08);
    badge->setSymbol(QStringLiteral("clock.arrow.circlepath"), 38);
    column->addWidget(badge, 0, Qt::AlignHCenter);
    auto* title = new StyledLabel(Typography::system(15, QFont::DemiBold));
    title->setText(L(QStringLiteral("还没有整理记录")));
    title->setAlignment(Qt::AlignHCenter);
    title->setWordWrap(true);
    column->addWidget(title);
    auto* description = new StyledLabel(Typography::callout(), StyledLabel::Tone::muted);
    description->setText(L(QStringLiteral("完成文件整理后，可以在这里查看每项结果，\n并将废纸篓中的文件恢复到原位置。")));
    description->setAlignment(Qt::AlignHCenter);
    description->setWordWrap(true);
    column->addWidget(description);
    column->addSpacing(6);
    auto* open = new NativeActionButton(QStringLiteral("打开废纸篓"), NativeActionButton::Emphasis::standard,
                                        [] { DesktopServices::openTrash(); });
    open->setObjectName(QStringLiteral("history-empty-open-trash"));
    column->addWidget(open, 0, Qt::AlignHCenter);

    placeCentred(area, card);
    return area;
}

QWidget* HistoryPage::makeHeader()
{
    auto* header = new QWidget();
    header->setObjectName(QStringLiteral("history-header"));
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);
    row->addWidget(new SymbolView(QStringLiteral("clock"), 14), 0, Qt::AlignVCenter);
    count_ = new StyledLabel(Typography::system(12, QFont::Medium));
    count_->setObjectName(QStringLiteral("history-count"));
    row->addWidget(count_, 0, Qt::AlignVCenter);
    row->addStretch(1);
    auto* open = new NativeActionButton(QStringLiteral("打开废纸篓"), NativeActionButton::Emphasis::standard,
                                        [] { DesktopServices::openTrash(); });
    open->setObjectName(QStringLiteral("history-open-trash"));
    row->addWidget(open, 0, Qt::AlignVCenter);
    return header;
}

void HistoryPage::showNotes()
{
    while (QLayoutItem* item = notesLayout_->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    const std::vector<std::string>& notes = model_.recoveryNotes();
    for (const std::string& note : notes) {
        auto* line = new QLabel(L(textFromBytes(note)));
        line->setObjectName(QStringLiteral("history-note"));
        line->setFont(Typography::callout());
        line->setTextFormat(Qt::PlainText);
        line->setWordWrap(true);
        line->setTextInteractionFlags(Qt::TextSelectableByMouse);
        QPalette orange = line->palette();
        for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
            orange.setColor(group, QPalette::WindowText, warningColour());
        line->setPalette(orange);
        notesLayout_->addWidget(line);
    }
    notesArea_->setVisible(!notes.empty());
    clearNotes_->setVisible(!notes.empty());
    fitNotes();
}

// The notes take the height they need, up to the cap; beyond it they scroll.
void HistoryPage::fitNotes()
{
    if (!notesArea_->isVisibleTo(this)) return;
    int width = std::max(1, this->width());
    int needed = notes_->hasHeightForWidth() ? notes_->heightForWidth(width) : notes_->sizeHint().height();
    notesArea_->setFixedHeight(std::min(needed, kNotesMaxHeight));
}

void HistoryPage::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    fitNotes();
}

void HistoryPage::showHistory()
{
    const std::vector<Operation>& history = model_.history();
    emptyArea_->setVisible(history.empty());
    header_->setVisible(!history.empty());
    listPanel_->setVisible(!history.empty());
    count_->setText(L(QString::number(history.size()) + QStringLiteral(" 条处理记录")));
    list_->setRecords(history);
}

void HistoryPage::showBlocking()
{
    list_->setRestoreBlocked(model_.processing() || model_.scanning() || model_.detectingDuplicates());
    clearNotes_->setEnabled(!model_.maintenanceBusy());
}

void HistoryPage::confirmRestore(const Operation& record, QWidget* window)
{
    QString detail = HistoryRecordList::oneLine(record.path) + QStringLiteral("\n原位置已有文件不会覆盖；文件或目录变化时拒绝恢复。");
    QPointer<HistoryPage> self(this);
    AppModel* model = &model_;
    ActionConfirmation::present(QStringLiteral("恢复到原位置？"), detail, QStringLiteral("恢复"),
                                [self, model, record](bool confirmed) {
                                    if (self && self->restoring_ == record.id) self->restoring_.reset();
                                    if (!confirmed) return;
                                    // The record may have been restored while the question was
                                    // open (from another window): hand over the model's own
                                    // copy so the model declines instead of reporting a failure.
                                    Operation current = record;
                                    for (const Operation& op : model->history())
                                        if (op.id == record.id) current = op;
                                    QFuture<void> done = model->restore(current);
                                    if (self) whenFinished(self, done, [self] { emit self->restoreFinished(); });
                                },
                                window, [self, id = record.id](QDialog* dialog) {
                                    if (!self) return;
                                    self->question_ = dialog;
                                    self->restoring_ = id;
                                });
}

void HistoryPage::confirmClearNotes(QWidget* window)
{
    QPointer<HistoryPage> self(this);
    AppModel* model = &model_;
    ActionConfirmation::present(
        QStringLiteral("已在原位置与废纸篓核对中断项？"),
        QStringLiteral("只清除中断日志与提示，不移动、恢复或删除文件。状态不明确时请取消。"), QStringLiteral("清除提示"),
        [model](bool confirmed) {
            if (confirmed) model->acknowledgeInterruptedActions();
        },
        window, [self](QDialog* dialog) {
            if (!self) return;
            self->question_ = dialog;
            self->restoring_.reset();
        });
}

// ---------------------------------------------------------------------------------------------
// Language change

std::any HistoryPage::handOver()
{
    Carried carried{listPosition(list_), list_->currentIndex().row(), listPosition(notesArea_), question_ != nullptr,
                    restoring_};
    dropWindow(question_);
    return carried;
}

void HistoryPage::takeOver(std::any state)
{
    const auto* carried = std::any_cast<Carried>(&state);
    if (!carried) return;
    if (carried->currentRow >= 0 && carried->currentRow < list_->model()->rowCount())
        list_->setCurrentIndex(list_->model()->index(carried->currentRow, 0));
    restoreListPosition(list_, carried->listPosition);
    restoreListPosition(notesArea_, carried->notesPosition);
    if (!carried->asking) return;
    // Asked again in this page's window, about the record as the model now holds it.
    if (!carried->restoring) return confirmClearNotes(window());
    for (const Operation& record : model_.history())
        if (record.id == *carried->restoring && HistoryRecordList::isRestorable(record)) return confirmRestore(record, window());
}
