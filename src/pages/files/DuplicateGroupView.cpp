#include "pages/files/DuplicateGroupView.h"

#include "engine/ByteFormat.h"
#include "model/AppModel.h"
#include "shell/controls/MiddleElidedLabel.h"
#include "shell/DesktopServices.h"
#include "shell/DisplayText.h"
#include "shell/LocalizedText.h"
#include "shell/style/SymbolIcon.h"
#include "shell/controls/StyledLabel.h"
#include "shell/controls/WheelGuard.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

namespace {

QToolButton* iconButton(const QString& symbol, const QString& tip, const QString& accessible)
{
    auto* button = new QToolButton();
    button->setAutoRaise(true);
    button->setIcon(SymbolIcon::icon(symbol));
    button->setIconSize(QSize(16, 16));
    button->setFixedSize(28, 28);
    button->setToolTip(tip);
    button->setAccessibleName(accessible);
    return button;
}

QColor orange() { return QColor(0xF0, 0x8A, 0x24); }

} // namespace

DuplicateGroupView::DuplicateGroupView(AppModel& model, DuplicateGroup group, QWidget* parent)
    : QWidget(parent), model_(model), group_(std::move(group))
{
    setObjectName(QStringLiteral("duplicate-group"));
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 8, 0, 8);
    stack->setSpacing(10);

    heading_ = new StyledLabel(Typography::system(13, QFont::Bold));
    heading_->setTextFormat(Qt::PlainText);
    stack->addWidget(heading_);
    basis_ = new StyledLabel(Typography::caption(), StyledLabel::Tone::muted);
    basis_->setTextFormat(Qt::PlainText);
    stack->addWidget(basis_);

    auto* controls = new QHBoxLayout();
    auto* pickerLabel = new StyledLabel(Typography::body());
    pickerLabel->setText(L(QStringLiteral("保留位置")));
    picker_ = new QComboBox();
    picker_->setAccessibleName(L(QStringLiteral("保留位置")));
    picker_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    picker_->setMinimumContentsLength(24);
    picker_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    WheelGuard::install(picker_);  // a pass of the wheel over the list must not change the kept copy
    pickerLabel->setBuddy(picker_);
    connect(picker_, &QComboBox::activated, this, [this](int index) {
        setKeep(picker_->itemData(index).toByteArray().toStdString());
    });
    selectShown_ = new QPushButton(plainTitle(L(QStringLiteral("选择显示的副本"))));
    selectShown_->setAutoDefault(false);
    connect(selectShown_, &QPushButton::clicked, this, [this] {
        model_.selectCopies(group_, keep_, visibleCount_);
    });
    controls->addWidget(pickerLabel);
    controls->addWidget(picker_, 1);
    controls->addWidget(selectShown_);
    stack->addLayout(controls);

    rowList_ = new QVBoxLayout();
    rowList_->setSpacing(6);
    stack->addLayout(rowList_);

    loadMore_ = new QPushButton();
    loadMore_->setAutoDefault(false);
    connect(loadMore_, &QPushButton::clicked, this, [this] {
        visibleCount_ += kCopiesPerPage;
        rebuild();
    });
    stack->addWidget(loadMore_, 0, Qt::AlignLeft);

    warning_ = new QWidget();
    auto* warningRow = new QHBoxLayout(warning_);
    warningRow->setContentsMargins(0, 0, 0, 0);
    auto* warningIcon = new QLabel();
    warningIcon->setPixmap(SymbolIcon::tinted(QStringLiteral("exclamationmark.triangle"), QSize(13, 13), orange(), devicePixelRatioF()));
    auto* warningText = new QLabel(L(QStringLiteral("已选中整组，执行时会拒绝；请至少取消选择一份。")));
    warningText->setFont(Typography::caption());
    QPalette tone = warningText->palette();
    tone.setColor(QPalette::WindowText, orange());
    warningText->setPalette(tone);
    warningText->setWordWrap(true);
    warningRow->addWidget(warningIcon, 0, Qt::AlignTop);
    warningRow->addWidget(warningText, 1);
    stack->addWidget(warning_);

    connect(&model_, &AppModel::selectionChanged, this, &DuplicateGroupView::refreshMarks);
    // The suggested copy is the one kept; it is applied as any choice is when the view is
    // first shown (a view that takes over another's state is not).
    keep_ = group_.suggestedKeep().path;
    rebuild();
}

void DuplicateGroupView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (appeared_) return;
    appeared_ = true;
    applyKeep();
}

void DuplicateGroupView::takeOver(const Carried& carried)
{
    appeared_ = true;
    visibleCount_ = std::max(visibleCount_, carried.visibleCount);
    if (std::any_of(group_.files.begin(), group_.files.end(), [&](const FileEntry& file) { return file.path == carried.keep; }))
        keep_ = carried.keep;
    rebuild();
}

size_t DuplicateGroupView::shownCount() const
{
    return std::min(group_.files.size(), static_cast<size_t>(visibleCount_));
}

void DuplicateGroupView::setGroup(DuplicateGroup group)
{
    if (group == group_) return;
    group_ = std::move(group);
    rebuild();
    // The kept copy left the group (moved to the Trash): the suggestion takes its place, as
    // in a group shown for the first time, so the group is never left without a kept copy.
    bool kept = std::any_of(group_.files.begin(), group_.files.end(),
                            [&](const FileEntry& file) { return file.path == keep_; });
    if (!kept) setKeep(group_.suggestedKeep().path);
}

void DuplicateGroupView::setKeep(const std::string& path)
{
    keep_ = path;
    applyKeep();
    rebuildPicker();
    refreshMarks();
}

void DuplicateGroupView::applyKeep()
{
    const AppModel::PathSet& selection = model_.selection();
    bool started = std::any_of(group_.files.begin(), group_.files.end(),
                               [&](const FileEntry& file) { return selection.count(file.path) > 0; });
    if (started)
        model_.selectCopies(group_, keep_, visibleCount_);  // redraws through the selection's signal
}

void DuplicateGroupView::rebuild()
{
    const FileEntry& first = group_.files.front();
    heading_->setText(L(QString::number(group_.files.size()) + QStringLiteral(" 份相同内容 · 每份 ") +
                        QString::fromStdString(formatFileSize(first.size))));
    basis_->setText(L(QStringLiteral("依据：大小一致 + SHA-256 一致 · ") + QString::fromStdString(group_.id.substr(0, 12)) +
                      QStringLiteral("…")));

    size_t shown = shownCount();
    // Rows already made for the same paths stay; the rest are made again.
    for (size_t i = 0; i < rows_.size(); ++i) {
        if (i < shown && rows_[i].path == group_.files[i].path) continue;
        for (size_t j = i; j < rows_.size(); ++j) rows_[j].widget->deleteLater();
        rows_.resize(i);
        break;
    }
    size_t firstNew = rows_.size();
    for (size_t i = rows_.size(); i < shown; ++i) {
        rows_.push_back(makeRow(group_.files[i]));
        rowList_->addWidget(rows_.back().widget);
        rows_.back().widget->show();  // at once, not on the layout's next turn
    }
    bool more = group_.files.size() > static_cast<size_t>(visibleCount_);
    // The pressed button goes with the last page: its focus stays where it stood, on the first
    // new row, because focus that travels on makes the list scroll to wherever it lands.
    if (!more && loadMore_->hasFocus() && firstNew < rows_.size()) rows_[firstNew].check->setFocus();
    loadMore_->setVisible(more);
    loadMore_->setText(plainTitle(L(QStringLiteral("加载更多副本（已显示 ") + QString::number(shown) + QStringLiteral("/") +
                                    QString::number(group_.files.size()) + QStringLiteral("）"))));
    // Rows made now join the end of the window's tab order; they belong after the rows above.
    placeInTabOrder(picker_);
    rebuildPicker();
    refreshMarks();
}

QWidget* DuplicateGroupView::placeInTabOrder(QWidget* previous)
{
    std::vector<QWidget*> stops{picker_, selectShown_};
    for (const Row& row : rows_) stops.insert(stops.end(), {row.check, row.preview, row.reveal, row.keep});
    stops.push_back(loadMore_);
    for (QWidget* stop : stops) {
        if (stop != previous) QWidget::setTabOrder(previous, stop);
        previous = stop;
    }
    return previous;
}

void DuplicateGroupView::rebuildPicker()
{
    size_t options = std::min(shownCount(), static_cast<size_t>(kMostKeepOptions));
    std::vector<const FileEntry*> entries;
    for (size_t i = 0; i < options; ++i) entries.push_back(&group_.files[i]);
    bool offered = std::any_of(entries.begin(), entries.end(), [&](const FileEntry* file) { return file->path == keep_; });
    if (!keep_.empty() && !offered)
        for (const FileEntry& file : group_.files)
            if (file.path == keep_) entries.push_back(&file);

    // Each option carries the path's bytes: a name that is not UTF-8 would not survive a
    // round trip through QString, and the kept copy would match no file of the group.
    QSignalBlocker quiet(picker_);
    picker_->clear();
    for (const FileEntry* file : entries) picker_->addItem(displayLine(file->path), QByteArray::fromStdString(file->path));
    picker_->setCurrentIndex(picker_->findData(QByteArray::fromStdString(keep_)));
}

DuplicateGroupView::Row DuplicateGroupView::makeRow(const FileEntry& file)
{
    Row made;
    made.path = file.path;
    made.shownName = displayLine(file.name());
    const QString& name = made.shownName;
    made.widget = new QWidget();
    auto* line = new QHBoxLayout(made.widget);
    line->setContentsMargins(0, 0, 0, 0);

    made.check = new QCheckBox();
    made.check->setAccessibleName(QStringLiteral("选择 ") + name);
    connect(made.check, &QCheckBox::toggled, this, [this, path = file.path](bool on) { toggle(path, on); });
    line->addWidget(made.check, 0, Qt::AlignTop);

    auto* texts = new QVBoxLayout();
    texts->setSpacing(2);
    // Long names and paths are shortened in the middle rather than widening the list.
    made.name = new MiddleElidedLabel(Typography::body());
    auto* pathLabel = new MiddleElidedLabel(Typography::caption(), StyledLabel::Tone::muted);
    pathLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    pathLabel->setFullText(displayLine(file.path));
    texts->addWidget(made.name);
    texts->addWidget(pathLabel);
    line->addLayout(texts, 1);

    made.preview = iconButton(QStringLiteral("eye"), L(QStringLiteral("预览")), L(QStringLiteral("预览 ") + name));
    connect(made.preview, &QToolButton::clicked, this, [this, path = file.path] { model_.quickLook(path); });
    made.reveal = iconButton(QStringLiteral("folder"), L(QStringLiteral("在 Finder 中显示")),
                                    L(QStringLiteral("在 Finder 中显示 ") + name));
    connect(made.reveal, &QToolButton::clicked, this, [path = file.path] { DesktopServices::reveal(path); });
    made.keep = new QPushButton(plainTitle(L(QStringLiteral("保留此份"))));
    made.keep->setAutoDefault(false);
    QSizePolicy keepRoom = made.keep->sizePolicy();
    keepRoom.setRetainSizeWhenHidden(true);  // the row's icons stay in one column
    made.keep->setSizePolicy(keepRoom);
    connect(made.keep, &QPushButton::clicked, this, [this, path = file.path] { setKeep(path); });
    line->addWidget(made.preview, 0, Qt::AlignTop);
    line->addWidget(made.reveal, 0, Qt::AlignTop);
    line->addWidget(made.keep, 0, Qt::AlignTop);
    return made;
}

void DuplicateGroupView::refreshMarks()
{
    const AppModel::PathSet& selection = model_.selection();
    for (Row& row : rows_) {
        bool selected = selection.count(row.path) > 0;
        {
            QSignalBlocker quiet(row.check);
            row.check->setChecked(selected);
        }
        row.name->setFullText(row.path == keep_ && !selected ? row.shownName + L(QStringLiteral(" · 保留")) : row.shownName);
        // A pressed keep button goes away; its focus stays in the row, because focus that
        // travels on makes the list scroll to wherever it lands.
        if (row.path == keep_ && row.keep->hasFocus()) row.check->setFocus();
        row.keep->setVisible(row.path != keep_);
    }
    bool whole = std::all_of(group_.files.begin(), group_.files.end(),
                             [&](const FileEntry& file) { return selection.count(file.path) > 0; });
    warning_->setVisible(whole);
}

void DuplicateGroupView::toggle(const std::string& path, bool on)
{
    AppModel::PathSet next = model_.selection();
    if (on)
        next.insert(path);
    else
        next.erase(path);
    model_.setSelection(std::move(next));
}
