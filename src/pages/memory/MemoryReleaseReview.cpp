#include "pages/memory/MemoryReleaseReview.h"

#include "engine/ByteFormat.h"
#include "model/AppModel.h"
#include "pages/memory/NativeMemoryCheckbox.h"
#include "shell/DisplayText.h"
#include "shell/LocalizedText.h"
#include "shell/controls/NativeActionButton.h"
#include "shell/style/SymbolView.h"
#include "shell/controls/StyledLabel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QScrollArea>
#include <QVBoxLayout>

MemoryReleaseReview::MemoryReleaseReview(AppModel& model, std::vector<ApplicationMemory> candidates, Release release,
                                         QWidget* parent)
    : QDialog(parent), model_(model), release_(std::move(release))
{
    setObjectName(QStringLiteral("memory-release-review"));
    setWindowTitle(L(QStringLiteral("释放内存")));
    setFixedWidth(560);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(24, 24, 24, 24);
    column->setSpacing(16);

    auto* heading = new QHBoxLayout();
    heading->setSpacing(8);
    heading->addWidget(new SymbolView(QStringLiteral("memorychip"), 20), 0, Qt::AlignVCenter);
    auto* title = new StyledLabel(Typography::system(17, QFont::Bold));
    title->setText(L(QStringLiteral("释放内存")));
    heading->addWidget(title, 0, Qt::AlignVCenter);
    heading->addStretch(1);
    column->addLayout(heading);

    auto* intro = new StyledLabel(Typography::body());
    intro->setWordWrap(true);
    intro->setText(L(QStringLiteral("选择暂时不用的应用。执行前请保存工作；应用可能要求保存确认，Tessyn不会强制结束进程。")));
    column->addWidget(intro);

    auto* list = new QScrollArea();
    list->setObjectName(QStringLiteral("memory-release-candidates"));
    list->setFixedHeight(240);
    list->setWidgetResizable(true);
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list->setFocusPolicy(Qt::NoFocus);  // the rows' boxes are the stops: the list shows no focus
    auto* rows = new QWidget();
    rowsLayout_ = new QVBoxLayout(rows);
    rowsLayout_->setContentsMargins(10, 4, 10, 4);
    rowsLayout_->setSpacing(0);
    rowsLayout_->addStretch(1);
    list->setWidget(rows);
    column->addWidget(list);

    auto* note = new StyledLabel(Typography::caption(), StyledLabel::Tone::muted);
    note->setWordWrap(true);
    note->setText(L(QStringLiteral("占用数值不是保证可释放量。macOS 会管理缓存，退出应用后空闲内存也可能波动。")));
    column->addWidget(note);

    auto* buttons = new QHBoxLayout();
    cancel_ = new NativeActionButton(QStringLiteral("取消"), NativeActionButton::Emphasis::standard, [this] { reject(); });
    confirm_ = new NativeActionButton(QStringLiteral("已保存工作，释放所选内存"), NativeActionButton::Emphasis::primary,
                                      [this] { confirm(); });
    buttons->addWidget(cancel_);
    buttons->addStretch(1);
    buttons->addWidget(confirm_);
    column->addLayout(buttons);

    connect(&model_, &AppModel::maintenanceBusyChanged, this, &MemoryReleaseReview::refreshConfirm);
    setCandidates(std::move(candidates));
}

MemoryReleaseReview::Key MemoryReleaseReview::keyOf(const ApplicationMemory& application)
{
    return {application.id, application.bundlePath, application.name};
}

MemoryReleaseReview::Row MemoryReleaseReview::makeRow(const ApplicationMemory& application)
{
    Row row;
    row.widget = new QWidget();
    auto* line = new QHBoxLayout(row.widget);
    line->setContentsMargins(0, 4, 0, 4);
    line->setSpacing(8);
    Key key = keyOf(application);
    row.checkbox = new NativeMemoryCheckbox(displayLine(application.name), selected_.count(key) > 0);
    connect(row.checkbox, &NativeMemoryCheckbox::valueWritten, this, [this, key](bool on) {
        if (on) selected_.insert(key);
        else selected_.erase(key);
        refreshConfirm();
    });
    row.footprint = new StyledLabel(Typography::body());
    row.footprint->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    line->addWidget(row.checkbox, 1);
    line->addStretch(0);
    line->addWidget(row.footprint, 0);
    return row;
}

void MemoryReleaseReview::setCandidates(std::vector<ApplicationMemory> candidates)
{
    candidates_ = std::move(candidates);
    std::map<Key, Row> kept;
    for (const ApplicationMemory& application : candidates_) {
        Key key = keyOf(application);
        if (kept.count(key)) continue;  // one row per application
        auto found = rows_.find(key);
        Row row;
        if (found != rows_.end()) {
            row = found->second;
            rows_.erase(found);
        } else {
            row = makeRow(application);
        }
        row.footprint->setText(QString::fromStdString(formatFileSize(application.footprint)));
        row.checkbox->setValue(selected_.count(key) > 0);
        rowsLayout_->removeWidget(row.widget);
        rowsLayout_->insertWidget(static_cast<int>(kept.size()), row.widget);
        kept.emplace(std::move(key), row);
    }
    for (auto& [key, row] : rows_) delete row.widget;  // applications no longer offered
    rows_ = std::move(kept);
    refreshConfirm();
}

void MemoryReleaseReview::takeOver(std::any state)
{
    if (const auto* ticked = std::any_cast<std::set<Key>>(&state)) selected_ = *ticked;
    setCandidates(candidates_);
}

std::vector<ApplicationMemory> MemoryReleaseReview::chosen() const
{
    std::vector<ApplicationMemory> out;
    for (const ApplicationMemory& application : candidates_)
        if (selected_.count(keyOf(application))) out.push_back(application);
    return out;
}

NativeMemoryCheckbox* MemoryReleaseReview::checkbox(const ApplicationMemory& application) const
{
    auto found = rows_.find(keyOf(application));
    return found == rows_.end() ? nullptr : found->second.checkbox;
}

void MemoryReleaseReview::refreshConfirm()
{
    // A tick of an application that is no longer offered names nothing the user can see.
    confirm_->setEnabled(!chosen().empty() && !model_.maintenanceBusy());
}

void MemoryReleaseReview::confirm()
{
    std::vector<ApplicationMemory> applications = chosen();
    if (applications.empty() || model_.maintenanceBusy()) return;
    Release release = release_;
    accept();
    if (release) release(std::move(applications));
}
