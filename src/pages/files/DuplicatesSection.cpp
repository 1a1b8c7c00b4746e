#include "pages/files/DuplicatesSection.h"

#include "model/AppModel.h"
#include "shell/window/CarriedPage.h"
#include "shell/controls/DisclosureGroup.h"
#include "pages/files/DuplicateGroupView.h"
#include "shell/style/TessynStyle.h"
#include "shell/controls/ContentUnavailableView.h"
#include "shell/LocalizedText.h"
#include "shell/style/Palette.h"
#include "shell/style/SymbolView.h"
#include "shell/controls/StyledLabel.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

namespace {

QString joined(const std::vector<std::string>& lines)
{
    QStringList out;
    for (const std::string& line : lines) out << warningText(QString::fromStdString(line));
    return out.join(QLatin1Char('\n'));
}

} // namespace

DuplicatesSection::DuplicatesSection(AppModel& model, std::function<bool()> busy, QWidget* parent)
    : QWidget(parent), model_(model), busy_(std::move(busy))
{
    setObjectName(QStringLiteral("duplicates-section"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);

    // Start form, centred in the room left.
    start_ = new QWidget();
    auto* startColumn = new QVBoxLayout(start_);
    startColumn->setSpacing(14);
    startColumn->addStretch(1);
    auto* symbol = new SymbolView(QStringLiteral("doc.on.doc"), 34, &Palette::accent);
    startColumn->addWidget(symbol, 0, Qt::AlignHCenter);
    auto* title = new StyledLabel(Typography::headline());
    title->setText(L(QStringLiteral("找出内容相同的文件")));
    startColumn->addWidget(title, 0, Qt::AlignHCenter);
    auto* explanation = new StyledLabel(Typography::callout(), StyledLabel::Tone::muted);
    explanation->setWordWrap(true);
    explanation->setAlignment(Qt::AlignHCenter);
    explanation->setText(L(QStringLiteral("按文件内容比对，检测完成后由你选择副本，每组至少保留一份。")));
    startColumn->addWidget(explanation);
    detect_ = new QPushButton(plainTitle(L(QStringLiteral("检测重复文件"))));
    detect_->setAutoDefault(false);
    PrimaryActionStyle::apply(detect_);
    connect(detect_, &QPushButton::clicked, this, [this] { model_.detectDuplicates(); });
    startColumn->addWidget(detect_, 0, Qt::AlignHCenter);
    startColumn->addStretch(1);
    layout->addWidget(start_, 1);

    // Report form.
    report_ = new QWidget();
    auto* reportColumn = new QVBoxLayout(report_);
    reportColumn->setContentsMargins(0, 0, 0, 0);
    reportColumn->setSpacing(10);
    count_ = new StyledLabel(Typography::caption(), StyledLabel::Tone::muted);
    count_->setWordWrap(true);
    reportColumn->addWidget(count_);
    cancelled_ = new QWidget();
    auto* cancelledRow = new QHBoxLayout(cancelled_);
    cancelledRow->setContentsMargins(0, 0, 0, 0);
    auto* cancelledIcon = new SymbolView(QStringLiteral("exclamationmark.circle"), 12);
    auto* cancelledText = new StyledLabel(Typography::caption());
    cancelledText->setText(L(QStringLiteral("检测已取消，只展示已确认的部分结果")));
    cancelledRow->addWidget(cancelledIcon);
    cancelledRow->addWidget(cancelledText);
    cancelledRow->addStretch(1);
    reportColumn->addWidget(cancelled_);
    nothingFound_ = new ContentUnavailableView(QStringLiteral("doc.on.doc"), QStringLiteral("未发现内容重复"),
                                               QStringLiteral("仅检测本次扫描范围内的非空文件，硬链接不计为独立副本。"));
    reportColumn->addWidget(nothingFound_, 1);
    auto* scroller = new QScrollArea();
    // Not a stop of its own: it shows no focus. It marks the list's place in the tab order.
    scroller->setFocusPolicy(Qt::ClickFocus);
    scroller->setWidgetResizable(true);
    scroller->setFrameShape(QFrame::NoFrame);
    scroller->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    groups_ = scroller;
    auto* groupBody = new QWidget();
    groupRows_ = new QVBoxLayout(groupBody);
    groupRows_->setContentsMargins(0, 0, 0, 0);
    groupRows_->addStretch(1);
    scroller->setWidget(groupBody);
    connect(scroller->verticalScrollBar(), &QScrollBar::valueChanged, this, [this, scroller](int value) {
        if (value >= scroller->verticalScrollBar()->maximum() - 200) showMoreGroups();
    });
    reportColumn->addWidget(groups_, 1);
    warningText_ = new StyledLabel(Typography::caption());
    warningText_->setTextFormat(Qt::PlainText);
    warningText_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    warningText_->setWordWrap(true);
    warnings_ = new DisclosureGroup(warningText_);
    reportColumn->addWidget(warnings_);
    layout->addWidget(report_, 1);

    connect(&model_, &AppModel::duplicateReportChanged, this, [this] {
        if (!model_.duplicateReport()) forgetReport();
    });
    refresh();
}

void DuplicatesSection::forgetReport()
{
    for (DuplicateGroupView* view : order_) {
        view->hide();
        view->deleteLater();
    }
    views_.clear();
    order_.clear();
    while (groupRows_->count() > 0) delete groupRows_->takeAt(0);
    groupRows_->addStretch(1);
    wanted_ = kGroupsPerBatch;
    static_cast<QScrollArea*>(groups_)->verticalScrollBar()->setValue(0);
    warnings_->setExpanded(false);
}

QWidget* DuplicatesSection::firstControl() const
{
    // The list's controls follow its scroller in the tab order (refreshGroups puts them there).
    for (QWidget* next = groups_->nextInFocusChain(); groups_->isAncestorOf(next); next = next->nextInFocusChain())
        if (next->isVisible() && next->isEnabled() && (next->focusPolicy() & Qt::TabFocus)) return next;
    return nullptr;
}

void DuplicatesSection::refresh()
{
    const auto& report = model_.duplicateReport();
    start_->setVisible(!report);
    report_->setVisible(bool(report));
    detect_->setEnabled(!busy_());
    if (!report) return;
    count_->setText(L(QString::number(report->groups.size()) +
                      QStringLiteral(" 组内容重复 · 每组至少保留一份。建议位置依据路径较短，不代表文件更重要。")));
    cancelled_->setVisible(report->cancelled);
    nothingFound_->setVisible(report->groups.empty());
    groups_->setVisible(!report->groups.empty());
    groups_->setEnabled(!model_.processing());
    warnings_->setVisible(!report->warnings.empty());
    warnings_->setLabel(L(QStringLiteral("检测失败或跳过 ") + QString::number(report->warnings.size()) +
                          QStringLiteral(" 项（最多展示 20 条）")));
    warningText_->setText(joined(report->warnings));
    refreshGroups();
}

DuplicateGroupView* DuplicatesSection::groupView(const std::string& id) const
{
    auto found = views_.find(id);
    return found == views_.end() ? nullptr : found->second;
}

void DuplicatesSection::showMoreGroups()
{
    if (order_.size() < wanted_) return;  // everything listed is built
    wanted_ += kGroupsPerBatch;
    refreshGroups();
}

void DuplicatesSection::refreshGroups()
{
    const auto& groups = model_.queryResults().groups;
    size_t count = std::min(groups.size(), wanted_);
    std::vector<DuplicateGroupView*> order;
    std::map<std::string, DuplicateGroupView*> views;
    for (size_t i = 0; i < count; ++i) {
        const DuplicateGroup& group = groups[i];
        DuplicateGroupView* view = groupView(group.id);
        if (view) {
            view->setGroup(group);
        } else {
            view = new DuplicateGroupView(model_, group);
            if (carrying_)
                if (auto carried = carrying_->groups.find(group.id); carried != carrying_->groups.end())
                    view->takeOver(carried->second);
        }
        views[group.id] = view;
        order.push_back(view);
    }
    for (const auto& [id, view] : views_)
        if (!views.count(id)) {
            view->hide();
            view->deleteLater();
        }
    views_ = std::move(views);
    if (order == order_) return;
    order_ = std::move(order);
    while (groupRows_->count() > 0) delete groupRows_->takeAt(0);  // the stretch is added again below
    for (DuplicateGroupView* view : order_) {
        groupRows_->addWidget(view);
        view->show();  // at once, not on the layout's next turn
    }
    groupRows_->addStretch(1);
    // Views made now join the end of the window's tab order: the list's place is where the
    // list stands, before the problems and the scan notes.
    QWidget* previous = groups_;
    for (DuplicateGroupView* view : order_) previous = view->placeInTabOrder(previous);
}

DuplicatesSection::Carried DuplicatesSection::handOver() const
{
    Carried carried{wanted_, {}, warnings_->expanded(), listPosition(static_cast<QScrollArea*>(groups_))};
    for (const auto& [id, view] : views_) carried.groups.emplace(id, view->handOver());
    return carried;
}

void DuplicatesSection::takeOver(const Carried& carried)
{
    // Views already built for the first batch take their state now; the rest as they are built.
    for (const auto& [id, view] : views_)
        if (auto found = carried.groups.find(id); found != carried.groups.end()) view->takeOver(found->second);
    carrying_ = &carried;
    wanted_ = std::max(wanted_, carried.wanted);
    if (model_.duplicateReport()) refreshGroups();
    carrying_ = nullptr;
    warnings_->setExpanded(carried.warningsOpen);
    restoreListPosition(static_cast<QScrollArea*>(groups_), carried.listPosition);
}
