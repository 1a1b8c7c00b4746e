#include "pages/files/NativeFileTable.h"

#include "engine/ByteFormat.h"
#include "shell/app/AppSettings.h"
#include "shell/DesktopServices.h"
#include "shell/DisplayText.h"
#include "shell/LocalizedText.h"
#include "shell/style/FocusRing.h"
#include "shell/style/Palette.h"
#include "shell/style/SymbolIcon.h"
#include "shell/style/Typography.h"

#include <QAbstractTableModel>
#include <QAction>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QToolTip>
#include <algorithm>

namespace {

constexpr int kRowHeight = 44;
constexpr int kButtonSide = 28;
constexpr int kButtonSpacing = 4;
constexpr int kIconSide = 16;
constexpr int kLeading = 8;
constexpr int kTrailing = 6;

struct ColumnSpec {
    const char* title;
    int width;
};
constexpr ColumnSpec kColumns[] = {{"文件", 350}, {"大小", 90}, {"修改时间", 100}, {"操作", 76}};

const char* const kButtonTitles[] = {"预览", "在 Finder 显示"};
const char* const kButtonSymbols[] = {"eye", "folder"};

constexpr int ParentRole = NativeFileTable::parentRole;

using Interval = std::pair<int, int>;  // first and last row, inclusive

std::vector<Interval> intervalsOf(std::vector<Interval> spans)
{
    std::sort(spans.begin(), spans.end());
    std::vector<Interval> merged;
    for (const auto& s : spans) {
        if (!merged.empty() && s.first <= merged.back().second + 1)
            merged.back().second = std::max(merged.back().second, s.second);
        else
            merged.push_back(s);
    }
    return merged;
}

std::vector<Interval> intervalsOf(const QItemSelection& selection)
{
    std::vector<Interval> spans;
    spans.reserve(static_cast<size_t>(selection.size()));
    for (const QItemSelectionRange& range : selection)
        if (range.isValid()) spans.emplace_back(range.top(), range.bottom());
    return intervalsOf(std::move(spans));
}

std::vector<Interval> intervalsOfRows(const std::vector<int>& sortedRows)
{
    std::vector<Interval> out;
    for (int row : sortedRows) {
        if (!out.empty() && row <= out.back().second + 1)
            out.back().second = std::max(out.back().second, row);
        else
            out.emplace_back(row, row);
    }
    return out;
}

} // namespace

// The rows and what is needed to draw them. Text is made on demand, so only the rows on
// screen are ever formatted.
class FileTableModel : public QAbstractTableModel {
public:
    explicit FileTableModel(QObject* parent) : QAbstractTableModel(parent), files_(std::make_shared<std::vector<FileEntry>>())
    {
    }

    const FileList& files() const { return files_; }
    const FilePresentationMap& presentation() const { return presentation_; }
    bool processing() const { return processing_; }
    AppLanguage language() const { return language_; }
    int reloads() const { return reloads_; }

    void reload(FileList files, FilePresentationMap presentation, bool processing, AppLanguage language)
    {
        beginResetModel();
        files_ = std::move(files);
        presentation_ = std::move(presentation);
        processing_ = processing;
        language_ = language;
        ++reloads_;
        endResetModel();
    }

    // Same rows, but the caller's (equal) values are adopted without a reload.
    void adopt(FilePresentationMap presentation, AppLanguage language)
    {
        presentation_ = std::move(presentation);
        language_ = language;
    }

    void retitle() { emit headerDataChanged(Qt::Horizontal, 0, NativeFileTable::columnCount - 1); }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : static_cast<int>(files_->size());
    }

    int columnCount(const QModelIndex& parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : NativeFileTable::columnCount;
    }

    Qt::ItemFlags flags(const QModelIndex& index) const override
    {
        // Rows stay selectable while processing so the selection keeps showing; the view
        // refuses selection changes then.
        return index.isValid() ? (Qt::ItemIsEnabled | Qt::ItemIsSelectable) : Qt::NoItemFlags;
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation != Qt::Horizontal || section < 0 || section >= NativeFileTable::columnCount) return {};
        if (role == Qt::DisplayRole) return L(QString::fromUtf8(kColumns[section].title), language_);
        if (role == Qt::TextAlignmentRole) return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
        return {};
    }

    const FileEntry* entry(int row) const
    {
        return row >= 0 && static_cast<size_t>(row) < files_->size() ? &(*files_)[static_cast<size_t>(row)] : nullptr;
    }

    const FilePresentation* presentationFor(const FileEntry& entry) const
    {
        if (presentation_.empty()) return nullptr;
        auto found = presentation_.find(entry.path);
        return found == presentation_.end() ? nullptr : &found->second;
    }

    QString sizeText(const FileEntry& e) const
    {
        const FilePresentation* p = presentationFor(e);
        return L(p ? QString::fromStdString(p->size) : QString::fromStdString(formatFileSize(e.size)), language_);
    }

    QString dateText(const FileEntry& e) const
    {
        if (const FilePresentation* p = presentationFor(e)) return QString::fromStdString(p->date);
        return numericDate(e.modified);
    }

    QString parentText(const FileEntry& e) const
    {
        if (const FilePresentation* p = presentationFor(e)) return displayLine(p->parent);
        auto slash = e.path.rfind('/');
        return slash == std::string::npos ? QString() : displayLine(std::string_view(e.path).substr(0, slash));
    }

    QVariant data(const QModelIndex& index, int role) const override
    {
        const FileEntry* e = index.isValid() ? entry(index.row()) : nullptr;
        if (!e) return {};
        int column = index.column();
        switch (role) {
        case Qt::DisplayRole:
            if (column == NativeFileTable::fileColumn) return displayLine(e->name());
            if (column == NativeFileTable::sizeColumn) return sizeText(*e);
            if (column == NativeFileTable::dateColumn) return dateText(*e);
            return {};
        case ParentRole: return parentText(*e);
        case Qt::ToolTipRole:
            return column == NativeFileTable::actionsColumn ? QVariant() : QVariant(displayLine(e->path));
        case Qt::AccessibleTextRole:
            if (column == NativeFileTable::fileColumn) return textFromBytes(e->name()) + QLatin1Char('\n') + parentText(*e);
            if (column == NativeFileTable::actionsColumn) {
                QString name = textFromBytes(e->name());
                return L(QString::fromUtf8(kButtonTitles[0]), language_) + QLatin1Char(' ') + name + QStringLiteral("; ") +
                       L(QString::fromUtf8(kButtonTitles[1]), language_) + QLatin1Char(' ') + name;
            }
            return data(index, Qt::DisplayRole);
        default: return {};
        }
    }

private:
    FileList files_;
    FilePresentationMap presentation_;
    bool processing_ = false;
    AppLanguage language_ = AppLanguage::english;
    int reloads_ = 0;
};

class FileTableDelegate : public QStyledItemDelegate {
public:
    explicit FileTableDelegate(NativeFileTable* table) : QStyledItemDelegate(table), table_(table) {}

    static QRect buttonRect(const QRect& cell, NativeFileTable::RowButton button)
    {
        int total = 2 * kButtonSide + kButtonSpacing;
        int x = cell.left() + (cell.width() - total) / 2 + static_cast<int>(button) * (kButtonSide + kButtonSpacing);
        int y = cell.top() + (cell.height() - kButtonSide) / 2;
        return QRect(x, y, kButtonSide, kButtonSide);
    }

    QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex& index) const override
    {
        return QSize(kColumns[std::clamp(index.column(), 0, 3)].width, kRowHeight);
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QStyleOptionViewItem opt = option;
        initStyleOption(&opt, index);
        opt.text.clear();
        opt.icon = QIcon();
        // The table draws one focus ring around the whole current row instead of a cell frame.
        opt.state &= ~QStyle::State_HasFocus;
        const QWidget* widget = option.widget;
        QStyle* style = widget ? widget->style() : nullptr;
        if (style) style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);

        bool selected = option.state & QStyle::State_Selected;
        auto* model = static_cast<const FileTableModel*>(index.model());
        const FileEntry* e = model->entry(index.row());
        if (!e) return;
        painter->save();
        if (index.column() == NativeFileTable::actionsColumn)
            paintButtons(painter, option.rect, index.row(), selected, model->processing());
        else
            paintText(painter, option, index, selected);
        painter->restore();
    }

    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override
    {
        if (event->type() == QEvent::ToolTip && index.column() == NativeFileTable::actionsColumn) {
            for (auto b : {NativeFileTable::previewButton, NativeFileTable::revealButton}) {
                if (buttonRect(option.rect, b).contains(event->pos())) {
                    QToolTip::showText(event->globalPos(), L(NativeFileTable::rowButtonTitle(b)), view->viewport(),
                                       buttonRect(option.rect, b));
                    return true;
                }
            }
            QToolTip::hideText();
            return true;
        }
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    }

private:
    NativeFileTable* table_;

    void paintText(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index, bool selected) const
    {
        const QPalette& pal = option.palette;
        QColor primary = selected ? pal.color(QPalette::Active, QPalette::HighlightedText) : Palette::ink();
        QColor secondary = primary;
        secondary.setAlphaF(selected ? 0.82f : 0.62f);
        QRect area = option.rect.adjusted(kLeading, 0, -kTrailing, 0);
        QFontMetrics fm(option.font);
        painter->setFont(option.font);
        QString first = index.data(Qt::DisplayRole).toString();
        if (index.column() == NativeFileTable::fileColumn) {
            QString second = index.data(ParentRole).toString();
            first = fm.elidedText(first, Qt::ElideMiddle, area.width());
            second = fm.elidedText(second, Qt::ElideMiddle, area.width());
            // A name in CJK is drawn in a fallback font taller than the table's own; the line
            // must be as tall as the fonts actually used, or descenders are cut off.
            int line = std::max({fm.lineSpacing(), Typography::lineHeight(first, option.font),
                                 Typography::lineHeight(second, option.font)});
            int top = area.top() + (area.height() - 2 * line) / 2;
            painter->setPen(primary);
            painter->drawText(QRect(area.left(), top, area.width(), line), Qt::AlignLeft | Qt::AlignVCenter, first);
            painter->setPen(secondary);
            painter->drawText(QRect(area.left(), top + line, area.width(), line), Qt::AlignLeft | Qt::AlignVCenter, second);
            return;
        }
        painter->setPen(index.column() == NativeFileTable::sizeColumn ? primary : secondary);
        painter->drawText(area, Qt::AlignLeft | Qt::AlignVCenter, fm.elidedText(first, Qt::ElideMiddle, area.width()));
    }

    void paintButtons(QPainter* painter, const QRect& cell, int row, bool selected, bool processing) const
    {
        painter->setRenderHint(QPainter::Antialiasing);
        for (auto b : {NativeFileTable::previewButton, NativeFileTable::revealButton}) {
            QRect r = buttonRect(cell, b);
            RowButtonHit hit{row, b};
            bool hovered = table_->buttons_->hovered() == hit;
            if (hovered && !processing) {
                QColor wash = selected ? QColor(255, 255, 255) : Palette::ink();
                bool down = table_->buttons_->pressed() == hit;
                wash.setAlphaF(down ? 0.18f : 0.09f);
                QPainterPath path;
                path.addRoundedRect(QRectF(r).adjusted(1, 1, -1, -1), 6, 6);
                painter->fillPath(path, wash);
            }
            QIcon::Mode mode = processing ? QIcon::Disabled : (selected ? QIcon::Selected : QIcon::Normal);
            QRect iconRect(r.left() + (kButtonSide - kIconSide) / 2, r.top() + (kButtonSide - kIconSide) / 2, kIconSide,
                           kIconSide);
            SymbolIcon::icon(QString::fromLatin1(kButtonSymbols[b])).paint(painter, iconRect, Qt::AlignCenter, mode);
        }
    }
};

NativeFileTable::NativeFileTable(QWidget* parent) : QTableView(parent)
{
    model_ = new FileTableModel(this);
    delegate_ = new FileTableDelegate(this);
    setModel(model_);
    setItemDelegate(delegate_);
    model_->reload(model_->files(), {}, false, currentLanguage());
    reveal_ = [](const std::string& path) { DesktopServices::reveal(path); };
    buttons_ = new RowButtonTracker(
        this, [this](const QPoint& at) { return buttonAt(at); },
        [this](const RowButtonHit& hit) { return rowButtonRect(hit.row, RowButton(hit.button)); },
        [this](const RowButtonHit& hit) { trigger(hit.row, RowButton(hit.button)); });

    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setAlternatingRowColors(true);
    setShowGrid(false);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    setTextElideMode(Qt::ElideMiddle);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setFrameShape(QFrame::NoFrame);
    // One stop in the focus chain: Tab goes on to the page's next control instead of walking
    // through every cell of every row.
    setTabKeyNavigation(false);
    const QList<QKeySequence> shortcuts[] = {{QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)},
                                             {QKeySequence(Qt::CTRL | Qt::Key_Return), QKeySequence(Qt::CTRL | Qt::Key_Enter)}};
    for (auto b : {previewButton, revealButton}) {
        auto* action = new QAction(SymbolIcon::icon(QString::fromLatin1(kButtonSymbols[b])), QString(), this);
        action->setShortcuts(shortcuts[b]);
        action->setShortcutContext(Qt::WidgetShortcut);
        connect(action, &QAction::triggered, this, [this, b] {
            if (!menuPath_) revealRow(this, currentIndex());
            trigger(menuPath_ ? menuRow() : currentIndex().row(), b);
        });
        addAction(action);
        rowActions_[b] = action;
    }

    QHeaderView* rows = verticalHeader();
    rows->hide();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setMinimumSectionSize(kRowHeight);
    rows->setDefaultSectionSize(kRowHeight);

    QHeaderView* columns = horizontalHeader();
    columns->setHighlightSections(false);
    columns->setSectionsClickable(false);
    columns->setStretchLastSection(false);
    columns->setMinimumSectionSize(kColumns[actionsColumn].width);
    columns->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    for (int c = 0; c < columnCount; ++c) {
        columns->resizeSection(c, kColumns[c].width);
        columns->setSectionResizeMode(c, c == fileColumn ? QHeaderView::Stretch : QHeaderView::Fixed);
    }
    // Room for the name column's 140 px minimum beside the fixed columns.
    setMinimumWidth(140 + kColumns[1].width + kColumns[2].width + kColumns[3].width +
                    style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 2 * frameWidth());

    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, &NativeFileTable::userSelectionChanged);
    connect(&AppSettings::shared(), &AppSettings::changed, this, [this](const QString& key) {
        if (key == AppSettings::languageKey) setLanguage(currentLanguage());
    });
    setAccessibleName(L(QStringLiteral("文件"), model_->language()));
    retitleRowActions();
}

NativeFileTable::~NativeFileTable() = default;

const std::vector<FileEntry>& NativeFileTable::files() const { return *model_->files(); }
const FilePresentationMap& NativeFileTable::presentation() const { return model_->presentation(); }
bool NativeFileTable::processing() const { return model_->processing(); }
AppLanguage NativeFileTable::language() const { return model_->language(); }
int NativeFileTable::reloadCount() const { return model_->reloads(); }

QString NativeFileTable::rowButtonTitle(RowButton button) { return QString::fromUtf8(kButtonTitles[button]); }

void NativeFileTable::apply(FileList files, FilePresentationMap presentation, PathSelection selection, bool processing,
                            AppLanguage language)
{
    if (!files) files = std::make_shared<std::vector<FileEntry>>();
    const FileList& old = model_->files();
    bool sameFiles = files == old || *files == *old;
    bool stale = language != model_->language() || !sameFiles || presentation != model_->presentation() ||
                 processing != model_->processing();
    selection_ = std::move(selection);

    updating_ = true;
    if (stale || model_->rowCount() != static_cast<int>(files->size())) {
        if (!sameFiles) {
            slots_.clear();
            indexed_ = false;
            // A row button held down stood for a file that may no longer be on that row.
            buttons_->cancelPress();
        }
        // Equal rows keep the list the index points into.
        model_->reload(sameFiles ? old : std::move(files), std::move(presentation), processing, language);
    } else {
        model_->adopt(std::move(presentation), language);
    }
    model_->retitle();
    setAccessibleName(L(QStringLiteral("文件"), language));
    retitleRowActions();
    syncSelection();
    updating_ = false;
}

void NativeFileTable::setFiles(FileList files)
{
    apply(std::move(files), model_->presentation(), selection_, model_->processing(), model_->language());
}

void NativeFileTable::setFiles(std::vector<FileEntry> files)
{
    setFiles(std::make_shared<const std::vector<FileEntry>>(std::move(files)));
}

void NativeFileTable::setPresentation(FilePresentationMap presentation)
{
    apply(model_->files(), std::move(presentation), selection_, model_->processing(), model_->language());
}

void NativeFileTable::setPathSelection(PathSelection selection)
{
    apply(model_->files(), model_->presentation(), std::move(selection), model_->processing(), model_->language());
}

void NativeFileTable::setProcessing(bool processing)
{
    apply(model_->files(), model_->presentation(), selection_, processing, model_->language());
}

void NativeFileTable::setLanguage(AppLanguage language)
{
    apply(model_->files(), model_->presentation(), selection_, model_->processing(), language);
}

void NativeFileTable::retitleRowActions()
{
    for (auto b : {previewButton, revealButton}) {
        rowActions_[b]->setText(plainTitle(L(rowButtonTitle(b), model_->language())));
        rowActions_[b]->setEnabled(!model_->processing());
    }
}

void NativeFileTable::ensureIndex()
{
    if (indexed_) return;
    const auto& files = *model_->files();
    size_t capacity = 16;
    while (capacity < files.size() * 2) capacity <<= 1;
    slots_.assign(capacity, Slot{});
    duplicatePaths_ = false;
    const size_t mask = capacity - 1;
    std::hash<std::string_view> hash;
    for (size_t row = 0; row < files.size(); ++row) {
        std::string_view path = files[row].path;
        size_t h = hash(path);
        auto tag = static_cast<uint32_t>(h >> 32);
        size_t at = h & mask;
        bool present = false;
        while (slots_[at].row != 0) {
            if (slots_[at].hash == tag && files[slots_[at].row - 1].path == path) {
                present = true;
                break;
            }
            at = (at + 1) & mask;
        }
        if (present)
            duplicatePaths_ = true;
        else
            slots_[at] = Slot{static_cast<uint32_t>(row + 1), tag};
    }
    indexed_ = true;
}

int NativeFileTable::rowOf(std::string_view path) const
{
    if (slots_.empty()) return -1;
    const auto& files = *model_->files();
    const size_t mask = slots_.size() - 1;
    size_t h = std::hash<std::string_view>{}(path);
    auto tag = static_cast<uint32_t>(h >> 32);
    for (size_t at = h & mask; slots_[at].row != 0; at = (at + 1) & mask)
        if (slots_[at].hash == tag && files[slots_[at].row - 1].path == path) return static_cast<int>(slots_[at].row - 1);
    return -1;
}

std::vector<int> NativeFileTable::rowsFor(const PathSelection& selection)
{
    std::vector<int> rows;
    if (selection.empty()) return rows;
    const auto& files = *model_->files();
    ensureIndex();
    if (duplicatePaths_) {
        for (size_t i = 0; i < files.size(); ++i)
            if (selection.count(files[i].path)) rows.push_back(static_cast<int>(i));
        return rows;
    }
    for (const auto& path : selection)
        if (int row = rowOf(path); row >= 0) rows.push_back(row);
    std::sort(rows.begin(), rows.end());
    return rows;
}

void NativeFileTable::syncSelection()
{
    auto target = intervalsOfRows(rowsFor(selection_));
    if (target == intervalsOf(selectionModel()->selection())) return;
    if (target.empty()) {
        selectionModel()->clearSelection();
        return;
    }
    QItemSelection rows;
    for (const auto& [first, last] : target)
        rows.select(model_->index(first, 0), model_->index(last, columnCount - 1));
    selectionModel()->select(rows, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void NativeFileTable::userSelectionChanged()
{
    if (updating_ || model_->processing()) return;
    const auto& files = *model_->files();
    ensureIndex();
    PathSelection next;
    for (const auto& path : selection_)
        if (rowOf(path) < 0) next.insert(next.end(), path);
    for (const auto& [first, last] : intervalsOf(selectionModel()->selection()))
        for (int row = first; row <= last && static_cast<size_t>(row) < files.size(); ++row)
            next.insert(files[static_cast<size_t>(row)].path);
    if (next == selection_) return;
    selection_ = std::move(next);
    emit pathSelectionChanged(selection_);
}

QItemSelectionModel::SelectionFlags NativeFileTable::selectionCommand(const QModelIndex& index, const QEvent* event) const
{
    if (model_->processing()) return QItemSelectionModel::NoUpdate;
    if (event && event->type() == QEvent::KeyPress) {
        // Moving through the rows leaves the selection as it is, so that files picked with
        // Space stay picked; with Shift the move extends the selection as usual.
        auto* key = static_cast<const QKeyEvent*>(event);
        switch (key->key()) {
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_Left:
        case Qt::Key_Right:
        case Qt::Key_Home:
        case Qt::Key_End:
        case Qt::Key_PageUp:
        case Qt::Key_PageDown:
            if (!(key->modifiers() & Qt::ShiftModifier)) return QItemSelectionModel::NoUpdate;
            break;
        default: break;
        }
    }
    return QTableView::selectionCommand(index, event);
}

void NativeFileTable::keyPressEvent(QKeyEvent* event)
{
    // Space picks the current row in or out of the selection, whatever else is selected.
    if (event->key() == Qt::Key_Space && !(event->modifiers() & Qt::ShiftModifier)) {
        QModelIndex current = currentIndex();
        revealRow(this, current);
        if (current.isValid() && !model_->processing())
            selectionModel()->select(current, QItemSelectionModel::Toggle | QItemSelectionModel::Rows);
        event->accept();
        return;
    }
    QTableView::keyPressEvent(event);
}

QModelIndex NativeFileTable::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers)
{
    // Rows are what the table lists: Home and End go to the first and the last one.
    if (action == MoveHome || action == MoveEnd) modifiers |= Qt::ControlModifier;
    return QTableView::moveCursor(action, modifiers);
}

void NativeFileTable::paintEvent(QPaintEvent* event)
{
    QTableView::paintEvent(event);
    // With the focus the current row wears a ring across all its cells, on the selection too.
    QModelIndex current = currentIndex();
    if (!hasFocus() || !current.isValid()) return;
    QRect row = visualRect(model_->index(current.row(), fileColumn))
                    .united(visualRect(model_->index(current.row(), actionsColumn)));
    if (row.isEmpty()) return;
    QPainter painter(viewport());
    bool selected = selectionModel()->isRowSelected(current.row(), QModelIndex());
    FocusRing::paint(painter, QRectF(row).adjusted(1.5, 1.5, -1.5, -1.5), 6, selected);
}

void NativeFileTable::currentChanged(const QModelIndex& current, const QModelIndex& previous)
{
    QTableView::currentChanged(current, previous);
    // The ring spans the row, more than the one cell the view repaints.
    for (const QModelIndex& index : {previous, current})
        if (index.isValid()) viewport()->update(0, rowViewportPosition(index.row()), viewport()->width(), rowHeight(index.row()));
}

void NativeFileTable::contextMenuEvent(QContextMenuEvent* event)
{
    bool mouse = event->reason() == QContextMenuEvent::Mouse;
    // The event comes from the viewport or from the table itself: the global position is
    // the one both agree on.
    QPoint inViewport = viewport()->mapFromGlobal(event->globalPos());
    int row = !mouse ? currentIndex().row() : viewport()->rect().contains(inViewport) ? rowAt(inViewport.y()) : -1;
    if (!model_->entry(row)) return;
    QMenu menu(this);
    menu.addAction(rowActions_[previewButton]);
    menu.addAction(rowActions_[revealButton]);
    QPoint at = mouse ? event->globalPos()
                      : viewport()->mapToGlobal(visualRect(model_->index(row, fileColumn)).bottomLeft());
    // Kept by path: a move that ends while the menu is open replaces the rows.
    menuPath_ = model_->entry(row)->path;
    menu.exec(at);
    menuPath_.reset();
}

int NativeFileTable::menuRow()
{
    ensureIndex();
    return rowOf(*menuPath_);
}

void NativeFileTable::selectAll()
{
    if (model_->processing()) return;
    QTableView::selectAll();
}

QRect NativeFileTable::rowButtonRect(int row, RowButton button) const
{
    QRect cell = visualRect(model_->index(row, actionsColumn));
    if (cell.isEmpty()) return {};
    return FileTableDelegate::buttonRect(cell, button);
}

std::optional<RowButtonHit> NativeFileTable::buttonAt(const QPoint& pos) const
{
    QModelIndex index = indexAt(pos);
    if (!index.isValid() || index.column() != actionsColumn) return std::nullopt;
    QRect cell = visualRect(index);
    for (auto b : {previewButton, revealButton})
        if (FileTableDelegate::buttonRect(cell, b).contains(pos)) return RowButtonHit{index.row(), b};
    return std::nullopt;
}

void NativeFileTable::trigger(int row, RowButton button)
{
    if (model_->processing()) return;
    const FileEntry* e = model_->entry(row);
    if (!e) return;
    const auto& handler = button == previewButton ? preview_ : reveal_;
    if (handler) handler(e->path);
}
