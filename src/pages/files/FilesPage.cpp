#include "pages/files/FilesPage.h"

#include "model/AppModel.h"
#include "shell/controls/DisclosureGroup.h"
#include "pages/files/DuplicatesSection.h"
#include "shell/controls/MiddleElidedLabel.h"
#include "pages/files/MoveConfirmationSheet.h"
#include "shell/controls/RoundedPanel.h"
#include "shell/controls/SheetWidgets.h"
#include "pages/files/SpaceSummaryView.h"
#include "shell/DisplayText.h"
#include "shell/style/TessynStyle.h"
#include "shell/app/AppSettings.h"
#include "shell/controls/ContentUnavailableView.h"
#include "shell/LocalizedText.h"
#include "shell/PageLayout.h"
#include "shell/controls/NativeActionButton.h"
#include "pages/files/NativeFileTable.h"
#include "shell/style/FocusRing.h"
#include "shell/style/Palette.h"
#include "shell/controls/SectionCard.h"
#include "shell/style/SymbolIcon.h"
#include "shell/style/SymbolView.h"
#include "shell/controls/StyledLabel.h"
#include "shell/window/FocusSpot.h"

#include <QDoubleValidator>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QProgressBar>
#include <QPushButton>
#include <QResizeEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

const std::string kAllFiles = "全部文件";
const std::string kLargeFiles = "大文件";
const std::string kOldDownloads = "旧下载候选";
const std::string kDuplicates = "重复文件";
const char* const kChips[] = {"全部文件", "大文件", "旧下载候选", "重复文件"};
const char* const kKinds[] = {"图片", "视频", "音频", "文档", "安装包与压缩包", "其他"};
const char* const kSorts[] = {"大小", "最近修改", "名称"};

QString q(const std::string& text) { return QString::fromStdString(text); }
QString q(const char* text) { return QString::fromUtf8(text); }

QPushButton* button(const QString& chinese, const QString& symbol = {})
{
    auto* made = new QPushButton(plainTitle(L(chinese)));
    made->setAutoDefault(false);
    made->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    if (!symbol.isEmpty()) made->setIcon(SymbolIcon::icon(symbol));
    return made;
}

StyledLabel* label(const QFont& font, StyledLabel::Tone tone = StyledLabel::Tone::ink, const QString& text = {})
{
    auto* made = new StyledLabel(font, tone);
    made->setTextFormat(Qt::PlainText);
    if (!text.isEmpty()) made->setText(text);
    return made;
}

// A symbol followed by a text, in one tone.
QWidget* symbolLabel(const QString& symbol, const QString& text, StyledLabel::Tone tone, StyledLabel** textOut = nullptr)
{
    auto* holder = new QWidget();
    auto* line = row(holder, 5);
    auto* icon = new SymbolView(symbol, 13, [tone] {
        return tone == StyledLabel::Tone::accent ? Palette::accent()
               : tone == StyledLabel::Tone::muted ? Palette::muted()
                                                   : Palette::ink();
    });
    auto* words = label(Typography::caption(), tone, text);
    line->addWidget(icon);
    line->addWidget(words);
    holder->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    if (textOut) *textOut = words;
    return holder;
}

// A category chip: a plain button whose text and wash show whether it is the current filter.
class ChipButton : public QPushButton {
public:
    explicit ChipButton(const QString& text) : QPushButton(plainTitle(text))
    {
        setFont(Typography::system(12, QFont::Medium));
        setFlat(true);
        setAutoDefault(false);
        setCursor(Qt::PointingHandCursor);
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    }
    void setCurrent(bool current)
    {
        if (current_ == current) return;
        current_ = current;
        setProperty("current", current);
        update();
    }
    QSize sizeHint() const override
    {
        QFontMetrics fm(font());
        return QSize(fm.horizontalAdvance(text()) + 24, fm.height() + 18);
    }
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        if (current_) {
            QColor wash = Palette::accent();
            wash.setAlphaF(0.12f);
            QPainterPath path;
            path.addRoundedRect(QRectF(rect()), 9, 9);
            p.fillPath(path, wash);
        }
        // As on the navigation entries: the ring shows once the keyboard has moved the focus.
        if (hasFocus() && window()->testAttribute(Qt::WA_KeyboardFocusChange))
            FocusRing::paint(p, QRectF(rect()).adjusted(1, 1, -1, -1), 8);
        QColor ink = current_ ? Palette::accent() : Palette::muted();
        if (!isEnabled()) ink.setAlphaF(0.45f);
        p.setPen(ink);
        p.setFont(font());
        p.drawText(rect(), Qt::AlignCenter | Qt::TextShowMnemonic, text());
    }

private:
    bool current_ = false;
};

// A scrolling box as tall as its content up to a cap, from where it scrolls; when the page is
// short it gives up height too, down to two lines.
class FittedScroller : public QScrollArea {
public:
    explicit FittedScroller(int cap) : cap_(cap)
    {
        setWidgetResizable(true);
        setFrameShape(QFrame::NoFrame);
        // A line with nowhere to wrap (a long name of one word) is read by scrolling sideways.
        setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
    }
    QSize sizeHint() const override { return {QScrollArea::sizeHint().width(), std::min(cap_, contentHeight())}; }
    QSize minimumSizeHint() const override
    {
        int twoLines = 2 * fontMetrics().lineSpacing();
        return {QScrollArea::minimumSizeHint().width(), std::min(sizeHint().height(), twoLines)};
    }

protected:
    void resizeEvent(QResizeEvent* event) override
    {
        QScrollArea::resizeEvent(event);
        // Wrapped lines need another height at another width.
        if (event->oldSize().width() != event->size().width()) updateGeometry();
    }

private:
    int cap_;

    int contentHeight() const
    {
        QWidget* content = widget();
        if (!content) return 0;
        int width = contentsRect().width();
        int least = content->minimumSizeHint().width();
        int height = content->hasHeightForWidth() ? content->heightForWidth(std::max(width, least)) : content->sizeHint().height();
        // Room for the sideways scroll bar, or it covers the last line.
        if (least > width) height += horizontalScrollBar()->sizeHint().height();
        const QMargins frame = contentsMargins();
        return height + frame.top() + frame.bottom();
    }
};

// The areas above the selection bar, made exactly as tall as the room there, or as their least
// height when that is more: the results table (or the duplicate list) then takes only what
// the other areas leave, and only a window too short for every area at its least height makes
// them scroll. The selection bar under them stays in the window even then.
class AreasScroller : public QScrollArea {
public:
    explicit AreasScroller(QWidget* body)
    {
        setUpPageScrollArea(this);
        setWidgetResizable(false);
        setWidget(body);
        body->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        // Filters run after the body's own layout has taken the request: an area shown or
        // hidden changes the least height.
        if (watched == widget() && event->type() == QEvent::LayoutRequest) fit();
        return QScrollArea::eventFilter(watched, event);
    }
    bool viewportEvent(QEvent* event) override
    {
        if (event->type() == QEvent::Resize) fit();
        return QScrollArea::viewportEvent(event);
    }

private:
    void fit()
    {
        QWidget* body = widget();
        QLayout* layout = body->layout();
        int width = viewport()->width();
        int least = layout->hasHeightForWidth() ? layout->totalMinimumHeightForWidth(width) : layout->totalMinimumSize().height();
        body->resize(width, std::max(viewport()->height(), least));
    }
};

// The one-pixel rule above the selection bar.
class Divider : public QWidget {
public:
    Divider() { setFixedHeight(1); }

protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), Palette::line()); }
};

} // namespace

FilesPage::FilesPage(AppModel& model, QWidget* parent)
    : QWidget(parent), model_(model), seenFilter_(model.filter()), seenSearch_(model.search())
{
    setObjectName(QStringLiteral("files"));

    auto* body = new QWidget();
    body->setAutoFillBackground(false);
    auto* stack = column(body, 10);
    spaced_.emplace_back(stack, stack->spacing());
    stack->addWidget(header_ = buildHeader());
    stack->addWidget(filterBar_ = buildFilterBar());
    stack->addWidget(scanCard_ = buildScanCard());
    stack->addWidget(duplicateCard_ = buildDuplicateCard());
    stack->addWidget(empty_ = buildEmptyState(), 1);
    stack->addWidget(results_ = buildResults(), 1);
    // Cards keep to the top while the central area is short.
    stack->addStretch(0);
    areas_ = new AreasScroller(body);
    areas_->setObjectName(QStringLiteral("files-areas"));
    areas_->setFocusPolicy(Qt::ClickFocus);  // no Tab stop: it shows no focus of its own

    auto* page = column(this, 10);
    spaced_.emplace_back(page, page->spacing());
    page->addWidget(areas_, 1);
    page->addWidget(selectionBar_ = buildSelectionBar());

    auto* m = &model_;
    for (auto signal : {&AppModel::rootChanged, &AppModel::reportChanged, &AppModel::scanningChanged,
                        &AppModel::processingChanged, &AppModel::detectingDuplicatesChanged, &AppModel::restoringChanged,
                        &AppModel::duplicateReportChanged})
        connect(m, signal, this, &FilesPage::refreshAreas);
    connect(m, &AppModel::scanProgressChanged, this, &FilesPage::refreshScanProgress);
    connect(m, &AppModel::duplicateProgressChanged, this, &FilesPage::refreshDuplicateProgress);
    connect(m, &AppModel::filterChanged, this, [this] {
        resetLimitOnNewQuery();
        refreshFilterBar();
        refreshResults();
    });
    connect(m, &AppModel::searchChanged, this, [this] {
        if (resetLimitOnNewQuery()) refreshResults();
        refreshFilterBar();
    });
    connect(m, &AppModel::thresholdChanged, this, &FilesPage::refreshFilterBar);
    connect(m, &AppModel::sortChanged, this, &FilesPage::refreshFilterBar);
    connect(m, &AppModel::queryResultsChanged, this, &FilesPage::refreshResults);
    connect(m, &AppModel::filteringChanged, this, &FilesPage::refreshResults);
    connect(m, &AppModel::selectionChanged, this, &FilesPage::refreshTableSelection);
    connect(m, &AppModel::selectedSizeChanged, this, &FilesPage::refreshSelectionBar);
    connect(m, &AppModel::actionProgressChanged, this, &FilesPage::refreshSelectionBar);
    refreshAreas();
}

void FilesPage::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    setCompact(height() < kRoomyHeight);
    setTight(height() < kTightHeight);
}

// The button keeps its place in the focus chain: after the table, before the notes.
void FilesPage::setTight(bool tight)
{
    if (tight == tight_) return;
    tight_ = tight;
    if (tight) {
        resultsStack_->removeWidget(loadMore_);
        notesLine_->insertWidget(0, loadMore_, 0, Qt::AlignLeft | Qt::AlignTop);
    } else {
        notesLine_->removeWidget(loadMore_);
        resultsStack_->insertWidget(resultsStack_->indexOf(tableFrame_) + 1, loadMore_, 0, Qt::AlignLeft);
    }
}

// Only spacing and insets change, and the folder's name and path share one line: nothing
// folds that the user would have to open.
void FilesPage::setCompact(bool compact)
{
    if (compact == compact_) return;
    compact_ = compact;
    for (const auto& [layout, roomy] : spaced_) layout->setSpacing(compact ? roomy - 4 : roomy);
    for (QBoxLayout* layout : insets_) {
        int inset = compact ? 6 : 10;
        layout->setContentsMargins(inset, inset, inset, inset);
    }
    // The path follows the name on its line, in what the whole name leaves.
    folderNames_->setDirection(compact ? QBoxLayout::LeftToRight : QBoxLayout::TopToBottom);
    folderNames_->setSpacing(compact ? 10 : 3);
    folderName_->setSizePolicy(compact ? QSizePolicy::Preferred : QSizePolicy::Ignored, QSizePolicy::Fixed);
    folderNames_->setStretch(1, compact ? 1 : 0);
    // The caption joins the selection's line, in the room between its buttons.
    const int buttonsEnd = selectionLine_->indexOf(clearSelection_) + 1;
    if (compact) {
        selectionStack_->removeWidget(selectionCaption_);
        selectionLine_->insertWidget(buttonsEnd, selectionCaption_, 1);
        selectionLine_->setStretch(buttonsEnd + 1, 0);
    } else {
        selectionLine_->removeWidget(selectionCaption_);
        selectionLine_->setStretch(buttonsEnd, 1);
        selectionStack_->addWidget(selectionCaption_);
    }
}

bool FilesPage::busy() const { return model_.scanning() || model_.processing() || model_.detectingDuplicates(); }

QPushButton* FilesPage::chip(const std::string& filter) const
{
    auto found = chips_.find(filter);
    return found == chips_.end() ? nullptr : found->second;
}

// ---------------------------------------------------------------------------------------------
// Areas

QWidget* FilesPage::buildHeader()
{
    auto* panel = new RoundedPanel(14, false);
    panel->setObjectName(QStringLiteral("folder-header"));
    auto* line = row(panel, 12, 10);
    insets_.push_back(line);
    auto* icon = new SymbolView(QStringLiteral("folder.fill"), 22, &Palette::accent);
    line->addWidget(icon);
    auto* names = new QWidget();
    auto* namesColumn = column(names, 3);
    folderNames_ = namesColumn;
    folderName_ = new MiddleElidedLabel(Typography::headline());
    folderPath_ = new MiddleElidedLabel(Typography::caption(), StyledLabel::Tone::muted);
    namesColumn->addWidget(folderName_);
    namesColumn->addWidget(folderPath_);
    names->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    line->addWidget(names, 1);
    changeFolder_ = button(QStringLiteral("更换文件夹"));
    SecondaryActionStyle::apply(changeFolder_);
    connect(changeFolder_, &QPushButton::clicked, this, [this] { model_.choose(); });
    scan_ = button(QStringLiteral("开始扫描"), QStringLiteral("magnifyingglass"));
    PrimaryActionStyle::apply(scan_);
    connect(scan_, &QPushButton::clicked, this, [this] {
        limit_ = kPageRows;
        model_.scan();
    });
    stop_ = button(QStringLiteral("停止"));
    connect(stop_, &QPushButton::clicked, this, [this] { model_.cancelScanJobs(); });
    line->addWidget(changeFolder_);
    line->addWidget(scan_);
    line->addWidget(stop_);
    return panel;
}

QWidget* FilesPage::buildFilterBar()
{
    auto* bar = new QWidget();
    bar->setObjectName(QStringLiteral("filter-bar"));
    auto* stack = column(bar, 10);
    spaced_.emplace_back(stack, stack->spacing());

    chipRow_ = new QWidget();
    auto* chips = row(chipRow_, 6);
    for (const char* value : kChips) {
        std::string filter = value;
        QString shown = filter == kOldDownloads ? QStringLiteral("旧安装包") : q(value);
        auto* chip = new ChipButton(L(shown));
        connect(chip, &QPushButton::clicked, this, [this, filter] { model_.setFilter(filter); });
        chips->addWidget(chip);
        chips_[filter] = chip;
    }
    chips->addStretch(1);
    kinds_ = button(QStringLiteral("文件类型"));
    kinds_->setFixedWidth(110);
    auto* kindMenu = new QMenu(kinds_);
    for (const char* kind : kKinds) {
        std::string value = kind;
        kindMenu->addAction(plainTitle(L(q(kind))), this, [this, value] { model_.setFilter(value); });
    }
    kinds_->setMenu(kindMenu);
    chips->addWidget(kinds_);
    stack->addWidget(chipRow_);

    auto* searchPanel = new RoundedPanel(10, false);
    searchRow_ = searchPanel;
    auto* line = row(searchPanel, 10, 10);
    insets_.push_back(line);
    auto* glass = new SymbolView(QStringLiteral("magnifyingglass"), 14, &Palette::muted);
    line->addWidget(glass);
    search_ = new QLineEdit();
    search_->setFrame(false);
    search_->setPlaceholderText(L(QStringLiteral("搜索文件名或路径")));
    search_->setAccessibleName(L(QStringLiteral("搜索文件名或路径")));
    // A palette role, not a style sheet: a style sheet keeps the placeholder in the colours of
    // the appearance the field was made in.
    QPalette clear = search_->palette();
    clear.setColor(QPalette::Base, Qt::transparent);
    search_->setPalette(clear);
    connect(search_, &QLineEdit::textEdited, this, [this](const QString& text) { model_.setSearch(text.toStdString()); });
    line->addWidget(search_, 1);
    clearSearch_ = new QToolButton();
    clearSearch_->setAutoRaise(true);
    clearSearch_->setIcon(SymbolIcon::icon(QStringLiteral("xmark.circle.fill")));
    clearSearch_->setAccessibleName(L(QStringLiteral("清除搜索")));
    clearSearch_->setToolTip(L(QStringLiteral("清除搜索")));
    connect(clearSearch_, &QToolButton::clicked, this, [this] { model_.setSearch(""); });
    line->addWidget(clearSearch_);
    thresholdGroup_ = new QWidget();
    auto* thresholdLine = row(thresholdGroup_, 6);
    threshold_ = new QLineEdit();
    threshold_->setFixedWidth(60);
    threshold_->setPlaceholderText(L(QStringLiteral("MB")));
    threshold_->setAccessibleName(L(QStringLiteral("MB")));
    auto* validator = new QDoubleValidator(0, 1e12, 6, threshold_);
    validator->setNotation(QDoubleValidator::StandardNotation);
    threshold_->setValidator(validator);
    connect(threshold_, &QLineEdit::textEdited, this, [this](const QString& text) {
        bool ok = false;
        double value = QLocale().toDouble(text, &ok);
        if (ok && value != model_.threshold()) model_.setThreshold(value);
    });
    connect(threshold_, &QLineEdit::editingFinished, this, &FilesPage::refreshFilterBar);
    thresholdLine->addWidget(threshold_);
    thresholdLine->addWidget(label(Typography::caption(), StyledLabel::Tone::ink, L(QStringLiteral("MB 以上"))));
    line->addWidget(thresholdGroup_);
    sortMenu_ = button(QString(), QStringLiteral("arrow.up.arrow.down"));
    auto* sortChoices = new QMenu(sortMenu_);
    for (const char* sort : kSorts) {
        std::string value = sort;
        sortChoices->addAction(plainTitle(L(q(sort))), this, [this, value] { model_.setSort(value); });
    }
    sortMenu_->setMenu(sortChoices);
    line->addWidget(sortMenu_);
    stack->addWidget(searchRow_);

    auto* oldDownloads = label(Typography::caption(), StyledLabel::Tone::muted,
                               L(QStringLiteral("修改超过 30 天的安装包和压缩包，请先检查是否仍需保留。")));
    oldDownloads->setWordWrap(true);
    stack->addWidget(oldDownloads_ = oldDownloads);
    kindLabel_ = symbolLabel(QStringLiteral("line.3.horizontal.decrease.circle"), QString(), StyledLabel::Tone::accent,
                             &kindText_);
    stack->addWidget(kindLabel_);
    return bar;
}

QWidget* FilesPage::buildScanCard()
{
    auto* content = new QWidget();
    auto* lines = column(content, 6);
    scanCounts_ = label(Typography::body());
    scanBytes_ = label(Typography::body());
    scanCurrent_ = new MiddleElidedLabel(Typography::caption(), StyledLabel::Tone::muted);
    auto* note = label(Typography::caption(), StyledLabel::Tone::muted,
                       L(QStringLiteral("总数量尚未知，不显示估算百分比。取消后保留部分结果。")));
    note->setWordWrap(true);
    for (QWidget* w : std::initializer_list<QWidget*>{scanCounts_, scanBytes_, scanCurrent_, note}) lines->addWidget(w);
    SectionCard* made = card(QStringLiteral("正在扫描所选目录"), QStringLiteral("magnifyingglass"), content);
    made->setObjectName(QStringLiteral("scan-card"));
    made->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Maximum);  // its own height, at the top
    return made;
}

QWidget* FilesPage::buildDuplicateCard()
{
    auto* content = new QWidget();
    auto* lines = column(content, 6);
    duplicateBar_ = new QProgressBar();
    duplicateBar_->setTextVisible(false);
    duplicateBar_->setRange(0, 1000);
    duplicateBar_->setFixedHeight(8);
    duplicateCounts_ = label(Typography::body());
    duplicateCurrent_ = new MiddleElidedLabel(Typography::caption(), StyledLabel::Tone::muted);
    auto* note = label(Typography::caption(), StyledLabel::Tone::muted,
                       L(QStringLiteral("流式 SHA-256 检测，不把文件名相同视为内容重复。")));
    note->setWordWrap(true);
    for (QWidget* w : std::initializer_list<QWidget*>{duplicateBar_, duplicateCounts_, duplicateCurrent_, note})
        lines->addWidget(w);
    SectionCard* made = card(QStringLiteral("正在按内容检测重复文件"), QStringLiteral("doc.on.doc"), content);
    made->setObjectName(QStringLiteral("duplicate-card"));
    made->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Maximum);
    return made;
}

QWidget* FilesPage::buildEmptyState()
{
    auto* outer = new QWidget();
    outer->setObjectName(QStringLiteral("empty-state"));
    auto* inner = new QWidget();
    inner->setMaximumWidth(560);
    auto* stack = column(inner, 16, 24);
    auto* symbol = new SymbolView(QStringLiteral("folder"), 36);
    symbol->setEnabled(false);  // drawn in the muted tone
    stack->addWidget(symbol, 0, Qt::AlignHCenter);
    auto* texts = new QWidget();
    auto* textColumn = column(texts, 6);
    emptyTitle_ = label(Typography::system(17, QFont::Bold));
    emptyTitle_->setAlignment(Qt::AlignHCenter);
    emptyTitle_->setWordWrap(true);
    emptyDescription_ = label(Typography::body(), StyledLabel::Tone::muted);
    emptyDescription_->setAlignment(Qt::AlignHCenter);
    emptyDescription_->setWordWrap(true);
    textColumn->addWidget(emptyTitle_);
    textColumn->addWidget(emptyDescription_);
    stack->addWidget(texts);
    choose_ = button(QStringLiteral("选择文件夹"), QStringLiteral("folder.badge.plus"));
    PrimaryActionStyle::apply(choose_);
    connect(choose_, &QPushButton::clicked, this, [this] { model_.choose(); });
    stack->addWidget(choose_, 0, Qt::AlignHCenter);
    auto* steps = new QWidget();
    auto* stepRow = row(steps, 28);
    stepRow->addStretch(1);
    const std::pair<const char*, const char*> stepTexts[] = {
        {"folder", "1  选择文件夹"}, {"list.bullet.rectangle", "2  查看扫描结果"}, {"checkmark.shield", "3  检查后再整理"}};
    for (const auto& [symbolName, text] : stepTexts) {
        stepRow->addWidget(symbolLabel(q(symbolName), L(q(text)), StyledLabel::Tone::muted));
    }
    stepRow->addStretch(1);
    stack->addWidget(steps);
    auto* hint = label(Typography::caption(), StyledLabel::Tone::muted,
                       L(QStringLiteral("建议从下载目录开始 · 跳过应用包、图库和 Library 目录")));
    hint->setAlignment(Qt::AlignHCenter);
    hint->setWordWrap(true);
    stack->addWidget(hint);
    placeCentred(outer, inner);
    return outer;
}

QWidget* FilesPage::buildResults()
{
    auto* area = new QWidget();
    area->setObjectName(QStringLiteral("results"));
    auto* stack = column(area, 10);
    spaced_.emplace_back(stack, stack->spacing());
    resultsStack_ = stack;
    summary_ = new SpaceSummaryView();
    stack->addWidget(summary_);

    auto* headerRow = new QWidget();
    auto* header = row(headerRow, 8);
    matches_ = label(Typography::caption());
    header->addWidget(matches_);
    filteringBadge_ = new QWidget();
    auto* filtering = row(filteringBadge_, 5);
    filtering->addWidget(SheetWidgets::spinner(28, 6));
    filtering->addWidget(label(Typography::caption(), StyledLabel::Tone::ink, L(QStringLiteral("筛选中"))));
    header->addWidget(filteringBadge_);
    header->addStretch(1);
    selectPage_ = button(QStringLiteral("选择当前页"));
    selectPage_->setToolTip(L(QStringLiteral("切换筛选仍保留选择；确认页列出全部所选文件。")));
    connect(selectPage_, &QPushButton::clicked, this, &FilesPage::selectCurrentPage);
    header->addWidget(selectPage_);
    partialBadge_ = symbolLabel(QStringLiteral("exclamationmark.circle"), L(QStringLiteral("部分结果")), StyledLabel::Tone::ink);
    header->addWidget(partialBadge_);
    stack->addWidget(headerRow);

    duplicates_ = new DuplicatesSection(model_, [this] { return busy(); });
    stack->addWidget(duplicates_, 1);

    auto* frame = new RoundedPanel(12, true);
    tableFrame_ = frame;
    auto* inset = column(frame, 0, 1);
    table_ = new NativeFileTable();
    table_->setMinimumHeight(80);
    table_->viewport()->setAutoFillBackground(false);
    table_->setPreviewHandler([this](const std::string& path) { model_.quickLook(path); });
    connect(table_, &NativeFileTable::pathSelectionChanged, this, &FilesPage::tableSelectionChanged);
    inset->addWidget(table_);
    stack->addWidget(tableFrame_, 1);
    loadMore_ = button(QString());
    connect(loadMore_, &QPushButton::clicked, this, [this] {
        const bool focused = loadMore_->hasFocus();
        const int firstNew = limit_;
        limit_ += kPageRows;
        refreshResults();
        // The last page takes the button away: the focus goes to the first row it brought,
        // not on to whatever follows in the window.
        if (focused && !loadMore_->isVisible() && firstNew < table_->model()->rowCount()) {
            table_->setFocus(Qt::TabFocusReason);
            table_->selectionModel()->setCurrentIndex(table_->model()->index(firstNew, NativeFileTable::fileColumn),
                                                      QItemSelectionModel::NoUpdate);
        }
    });
    stack->addWidget(loadMore_, 0, Qt::AlignLeft);

    noMatch_ = new ContentUnavailableView(QStringLiteral("doc.text.magnifyingglass"), QStringLiteral("未找到匹配文件"),
                                          QStringLiteral("尝试更改分类或搜索条件。未扫描和跳过的项目不计入结果。"));
    stack->addWidget(noMatch_, 1);

    scanNotesBox_ = new FittedScroller(90);
    scanNoteLines_ = new QWidget();
    column(scanNoteLines_, 3)->setAlignment(Qt::AlignTop);
    scanNotesBox_->setWidget(scanNoteLines_);
    scanNotes_ = new DisclosureGroup(scanNotesBox_);
    notesLine_ = new QHBoxLayout();
    notesLine_->setSpacing(12);
    notesLine_->addWidget(scanNotes_, 1);
    stack->addLayout(notesLine_);
    return area;
}

QWidget* FilesPage::buildSelectionBar()
{
    auto* bar = new QWidget();
    bar->setObjectName(QStringLiteral("selection-bar"));
    auto* stack = column(bar, 8);
    spaced_.emplace_back(stack, stack->spacing());
    selectionStack_ = stack;
    stack->addWidget(new Divider());
    auto* line = new QHBoxLayout();
    selectionLine_ = line;
    line->setSpacing(8);
    selected_ = label(Typography::callout());
    line->addWidget(selected_);
    clearSelection_ = button(QStringLiteral("取消选择"));
    SecondaryActionStyle::apply(clearSelection_);
    connect(clearSelection_, &QPushButton::clicked, this, [this] { model_.setSelection({}); });
    line->addWidget(clearSelection_);
    line->addStretch(1);
    actionGroup_ = new QWidget();
    auto* progress = row(actionGroup_, 8);
    progress->addWidget(SheetWidgets::spinner(36, 8));
    counter_ = label(Typography::caption());
    progress->addWidget(counter_);
    stopAction_ = button(QStringLiteral("停止后续处理"));
    stopAction_->setToolTip(L(QStringLiteral("已完成的文件仍在废纸篓中，可在操作记录中恢复。")));
    connect(stopAction_, &QPushButton::clicked, this, [this] { model_.cancelAction(); });
    progress->addWidget(stopAction_);
    line->addWidget(actionGroup_);
    review_ = new NativeActionButton(QStringLiteral("检查所选项"), NativeActionButton::Emphasis::primary,
                                     [this] { openConfirmation(); });
    line->addWidget(review_);
    stack->addLayout(line);
    selectionCaption_ = label(Typography::caption(), StyledLabel::Tone::muted,
                              L(QStringLiteral("⌘ / ⇧ 多选 · 移入废纸篓后可恢复，清空前仍占用空间。")));
    selectionCaption_->setWordWrap(true);
    stack->addWidget(selectionCaption_);
    return bar;
}

// ---------------------------------------------------------------------------------------------
// Redrawing

void FilesPage::refreshAreas()
{
    const auto& report = model_.report();
    bool scanning = model_.scanning();
    bool detecting = model_.detectingDuplicates();
    QPointer<QWidget> focused = window()->focusWidget();
    if (focused && !isAncestorOf(focused)) focused = nullptr;
    if (focused != focusLeftOn_) focusDuplicatesWhenShown_ = false;
    if (focused == duplicates_->detectButton() && detecting) focusDuplicatesWhenShown_ = true;
    // A report that goes starts the next one with its notes folded and its rows from the top.
    if (!report) {
        scanNotes_->setExpanded(false);
        table_->scrollToTop();
    }
    header_->setVisible(model_.root().has_value());
    filterBar_->setVisible(report && !scanning);
    scanCard_->setVisible(scanning);
    duplicateCard_->setVisible(!scanning && detecting);
    empty_->setVisible(!scanning && !detecting && !report);
    results_->setVisible(!scanning && !detecting && report);
    selectionBar_->setVisible(report || model_.processing());

    bool chosen = model_.root().has_value();
    emptyTitle_->setText(L(chosen ? QStringLiteral("准备好，开始查看文件") : QStringLiteral("让文件夹重新有条理")));
    emptyDescription_->setText(L(chosen ? QStringLiteral("扫描只读取文件信息，整理前会让你检查所选项目。")
                                        : QStringLiteral("选择一个文件夹，找出大文件、旧安装包和重复内容。")));
    choose_->setVisible(!chosen);
    choose_->setEnabled(!busy());

    refreshHeader();
    refreshScanProgress();
    refreshDuplicateProgress();
    refreshFilterBar();
    refreshResults();
    refreshSelectionBar();
    keepFocusInPage(focused);
    focusLeftOn_ = window()->focusWidget();
}

void FilesPage::keepFocusInPage(QWidget* lost)
{
    if (!lost) return;
    QWidget* now = window()->focusWidget();
    if (now && isAncestorOf(now) && now->isVisible()) return;
    if (QWidget* next = nextTabStop(lost, this)) next->setFocus(Qt::TabFocusReason);
}

// Once the search has ended and the query has passed its groups on.
void FilesPage::focusDuplicatesIfAwaited()
{
    if (!focusDuplicatesWhenShown_ || model_.detectingDuplicates() || model_.filtering()) return;
    focusDuplicatesWhenShown_ = false;
    // The user has moved the focus meanwhile: it stays where they put it.
    if (window()->focusWidget() != focusLeftOn_ || !duplicates_->isVisible()) return;
    QWidget* target = duplicates_->firstControl();
    if (!target) target = nextTabStop(duplicates_, this);
    if (target) target->setFocus(Qt::TabFocusReason);
}

void FilesPage::refreshHeader()
{
    const auto& root = model_.root();
    if (root) {
        QString path = displayLine(*root);
        QString name = path.section(QLatin1Char('/'), -1, -1, QString::SectionSkipEmpty);
        // Names and paths are the user's, never catalog texts: a folder named 文档 stays 文档.
        // Each label's tooltip is its whole text.
        folderName_->setFullText(name.isEmpty() ? path : name);
        folderPath_->setFullText(path);
    }
    changeFolder_->setEnabled(!busy());
    scan_->setEnabled(!busy());
    scan_->setText(plainTitle(L(model_.report() ? QStringLiteral("重新扫描") : QStringLiteral("开始扫描"))));
    stop_->setVisible(model_.scanning() || model_.detectingDuplicates());
}

void FilesPage::refreshScanProgress()
{
    if (!model_.scanning()) return;
    const ScanProgress& progress = model_.scanProgress();
    scanCounts_->setText(L(QStringLiteral("已检查 ") + QString::number(progress.inspected) + QStringLiteral(" 个文件 · 跳过 ") +
                           QString::number(progress.skipped) + QStringLiteral(" 项")));
    scanBytes_->setText(L(QStringLiteral("已发现文件大小：") + sizeText(progress.bytes)));
    scanCurrent_->setFullText(displayLine(progress.current));
}

void FilesPage::refreshDuplicateProgress()
{
    if (!model_.detectingDuplicates()) return;
    const DuplicateProgress& progress = model_.duplicateProgress();
    double total = std::max<double>(1.0, double(progress.total));
    duplicateBar_->setValue(static_cast<int>(std::clamp(double(progress.completed) / total, 0.0, 1.0) * 1000));
    duplicateCounts_->setText(L(QString::number(progress.completed) + QStringLiteral(" / ") + QString::number(progress.total) +
                                QStringLiteral(" 个同大小候选")));
    duplicateCurrent_->setFullText(displayLine(progress.current));
}

void FilesPage::refreshFilterBar()
{
    if (!filterBar_->isVisibleTo(this)) return;
    const std::string& filter = model_.filter();
    bool processing = model_.processing();
    for (const auto& [value, chip] : chips_) static_cast<ChipButton*>(chip)->setCurrent(value == filter);
    chipRow_->setEnabled(!processing);
    searchRow_->setEnabled(!processing);
    QString search = q(model_.search());
    if (search_->text() != search) search_->setText(search);
    clearSearch_->setVisible(!search.isEmpty());
    thresholdGroup_->setVisible(filter == kLargeFiles);
    bool ok = false;
    double typed = QLocale().toDouble(threshold_->text(), &ok);
    if (!(threshold_->hasFocus() && ok && typed == model_.threshold()))
        threshold_->setText(QLocale().toString(model_.threshold(), 'f', QLocale::FloatingPointShortest));
    // 120 wide unless a label needs more: a longer translation is shown whole, not cut.
    // Measured here, once the page's style and fonts apply.
    int sortWidth = 120;
    for (const char* sort : kSorts) {
        sortMenu_->setText(plainTitle(L(q(sort))));
        sortWidth = std::max(sortWidth, sortMenu_->sizeHint().width());
    }
    sortMenu_->setFixedWidth(sortWidth);
    sortMenu_->setText(plainTitle(L(q(model_.sort()))));
    oldDownloads_->setVisible(filter == kOldDownloads);
    bool kind = filter != kAllFiles && filter != kLargeFiles && filter != kOldDownloads && filter != kDuplicates;
    kindLabel_->setVisible(kind);
    if (kind) kindText_->setText(L(QStringLiteral("当前分类：") + q(filter)));
}

void FilesPage::refreshResults()
{
    const auto& report = model_.report();
    if (!report || !results_->isVisibleTo(this)) return;
    summary_->display(static_cast<int64_t>(report->files.size()), report->fileSizeTotal, report->elapsed,
                      report->savedCategories);

    const auto& results = model_.queryResults();
    bool duplicateFilter = model_.filter() == kDuplicates;
    matches_->setText(L(QStringLiteral("匹配 ") + QString::number(results.files.size()) + QStringLiteral(" 项 · 已检查 ") +
                        QString::number(report->inspected) + QStringLiteral(" 项")));
    filteringBadge_->setVisible(model_.filtering());
    selectPage_->setVisible(!duplicateFilter && !results.files.empty());
    selectPage_->setEnabled(!model_.processing() && !model_.filtering());
    partialBadge_->setVisible(report->cancelled);

    bool listed = !duplicateFilter && !results.files.empty();
    duplicates_->setVisible(duplicateFilter);
    if (duplicateFilter) duplicates_->refresh();
    tableFrame_->setVisible(listed);
    noMatch_->setVisible(!duplicateFilter && results.files.empty());
    loadMore_->setVisible(listed && results.files.size() > static_cast<size_t>(limit_));
    loadMore_->setText(plainTitle(L(QStringLiteral("加载更多（当前 ") + QString::number(limit_) + QStringLiteral(" 项）"))));
    refreshTable();
    refreshScanNotes();
    focusDuplicatesIfAwaited();
}

void FilesPage::refreshTable()
{
    if (!tableFrame_->isVisibleTo(this)) return;
    const auto& results = model_.queryResults();
    size_t shown = std::min(results.files.size(), static_cast<size_t>(limit_));
    auto rows = std::make_shared<std::vector<FileEntry>>(results.files.begin(), results.files.begin() + static_cast<std::ptrdiff_t>(shown));
    PathSelection selected = selectedAmong(*rows);
    table_->apply(std::move(rows), results.presentation, std::move(selected), model_.processing(), currentLanguage());
}

// Only the selection changed: the table keeps its rows, so they are neither copied nor compared.
void FilesPage::refreshTableSelection()
{
    if (!tableFrame_->isVisibleTo(this)) return;
    table_->setPathSelection(selectedAmong(table_->files()));
}

// The table only needs to know which of its own rows are selected; the page merges its
// answers back into the whole selection.
PathSelection FilesPage::selectedAmong(const std::vector<FileEntry>& rows) const
{
    PathSelection selected;
    const auto& selection = model_.selection();
    if (!selection.empty())
        for (const FileEntry& file : rows)
            if (selection.count(file.path)) selected.insert(file.path);
    return selected;
}

void FilesPage::refreshScanNotes()
{
    const auto& report = model_.report();
    bool shown = report && (report->skipped > 0 || !report->warnings.empty());
    scanNotes_->setVisible(shown);
    if (!shown) return;
    scanNotes_->setLabel(L(QStringLiteral("跳过 ") + QString::number(report->skipped) + QStringLiteral(" 项 / 扫描说明")));
    QStringList lines{L(QStringLiteral("跳过应用包、符号链接、云文件和保护目录；权限不足项不代表已清理。"))};
    for (const std::string& warning : report->warnings) lines << warningText(q(warning));
    if (scanNoteLines_->property("lines").toStringList() == lines) return;
    scanNoteLines_->setProperty("lines", lines);
    QLayout* layout = scanNoteLines_->layout();
    while (QLayoutItem* item = layout->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    for (const QString& text : lines) {
        auto* line = label(Typography::caption(), StyledLabel::Tone::ink, text);
        line->setWordWrap(true);
        line->setTextInteractionFlags(Qt::TextSelectableByMouse);
        layout->addWidget(line);
    }
    scanNotesBox_->updateGeometry();
}

void FilesPage::refreshSelectionBar()
{
    bool processing = model_.processing();
    const ActionProgress& progress = model_.actionProgress();
    selected_->setText(L(QStringLiteral("已选 ") + QString::number(model_.selectedFiles().size()) + QStringLiteral(" 项 · ") +
                         sizeText(model_.selectedSize())));
    clearSelection_->setEnabled(!processing && !model_.selection().empty());
    actionGroup_->setVisible(processing);
    counter_->setVisible(!model_.restoring());
    stopAction_->setVisible(!model_.restoring());
    counter_->setText(QString::number(progress.completed) + QStringLiteral("/") + QString::number(progress.total));
    review_->setEnabled(!model_.selectedFiles().empty() && !busy());
}

// ---------------------------------------------------------------------------------------------
// Actions

bool FilesPage::resetLimitOnNewQuery()
{
    if (model_.filter() == seenFilter_ && model_.search() == seenSearch_) return false;
    seenFilter_ = model_.filter();
    seenSearch_ = model_.search();
    limit_ = kPageRows;
    return true;
}

void FilesPage::selectCurrentPage()
{
    const auto& files = model_.queryResults().files;
    AppModel::PathSet next = model_.selection();
    size_t shown = std::min(files.size(), static_cast<size_t>(limit_));
    for (size_t i = 0; i < shown; ++i) next.insert(files[i].path);
    model_.setSelection(std::move(next));
}

void FilesPage::tableSelectionChanged()
{
    AppModel::PathSet next = model_.selection();
    for (const FileEntry& file : table_->files()) next.erase(file.path);
    for (const std::string& path : table_->pathSelection()) next.insert(path);
    model_.setSelection(std::move(next));
}

void FilesPage::openConfirmation(const PageCarry* carry)
{
    if (sheet_) return;
    sheet_ = new MoveConfirmationSheet(model_, window());
    sheet_->setAttribute(Qt::WA_DeleteOnClose);
    // The sheet belongs to this page and goes with it.
    connect(this, &QObject::destroyed, sheet_, &QDialog::reject);
    sheet_->open();
    if (carry) carry->into(sheet_);
}

// ---------------------------------------------------------------------------------------------
// Language change

// A page that is not built sees nothing go: the state it is to take over may wait for it
// while another window or the menu scans again, searches for duplicates again or changes the
// query. What belonged to a report that went stays behind, as a shown page drops it.
class FilesPage::Replaced : public QObject {
public:
    explicit Replaced(const AppModel& model)
    {
        const AppModel* m = &model;
        connect(m, &AppModel::reportChanged, this, [this, m] {
            if (!m->report()) scan = duplicates = true;
        });
        connect(m, &AppModel::duplicateReportChanged, this, [this, m] {
            if (!m->duplicateReport()) duplicates = true;
        });
        for (auto signal : {&AppModel::filterChanged, &AppModel::searchChanged})
            connect(m, signal, this, [this] { query = true; });
    }
    bool scan = false;        // the scan report went: its notes, rows and sheet with it
    bool duplicates = false;  // the duplicate report went: its groups, problems and position
    bool query = false;       // another filter or search: the table starts at its first rows
};

std::any FilesPage::handOver()
{
    Carried carried{limit_, scanNotes_->expanded(), listPosition(table_), listPosition(areas_), duplicates_->handOver(), {},
                    std::make_shared<Replaced>(model_)};
    if (sheet_) carried.sheet = PageCarry::from(sheet_);
    dropWindow(sheet_);
    return carried;
}

void FilesPage::takeOver(std::any state)
{
    const auto* carried = std::any_cast<Carried>(&state);
    if (!carried) return;
    const Replaced& replaced = *carried->replaced;
    const bool sameRows = !replaced.scan && !replaced.query;
    if (sameRows && limit_ != carried->limit) {
        limit_ = carried->limit;
        refreshResults();
    }
    if (!replaced.scan) scanNotes_->setExpanded(carried->notesOpen);
    if (!replaced.duplicates) duplicates_->takeOver(carried->duplicates);
    if (sameRows) restoreListPosition(table_, carried->tablePosition);
    restoreListPosition(areas_, carried->areasPosition);
    // The selection it confirmed went with the report.
    if (carried->sheet && !replaced.scan) openConfirmation(&*carried->sheet);
}
