#include "shell/controls/CheckableRowList.h"

#include "shell/PageLayout.h"

#include "shell/style/Palette.h"
#include "shell/style/Typography.h"

#include <QAbstractListModel>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyleOptionButton>
#include <QStyledItemDelegate>
#include <QToolTip>

#include <algorithm>
#include <optional>

namespace {

constexpr int kInset = 5;      // above and below each row's lines
constexpr int kSide = 10;      // left and right of each row
constexpr int kCheckGap = 8;   // between the checkbox and the lines
constexpr int kLineGap = 2;

} // namespace

// The rows: their count, and their texts once a row has been drawn. The ticks stay the owner's.
class CheckableRowModel : public QAbstractListModel {
public:
    CheckableRowModel(CheckableRowList::Texts texts, CheckableRowList::Ticked ticked, CheckableRowList* list)
        : QAbstractListModel(list), list_(list), makeTexts_(std::move(texts)), ticked_(std::move(ticked))
    {
    }

    int rows() const { return static_cast<int>(texts_.size()); }
    bool enabled() const { return enabled_; }
    bool ticked(int row) const { return row >= 0 && row < rows() && ticked_(row); }

    const QStringList& texts(int row) const
    {
        std::optional<QStringList>& made = texts_[static_cast<size_t>(row)];
        if (!made) made = makeTexts_(row);
        return *made;
    }

    void setRows(int count)
    {
        count = std::max(0, count);
        const int old = rows();
        if (count > old) {
            beginInsertRows({}, old, count - 1);
            texts_.resize(static_cast<size_t>(count));
            endInsertRows();
        } else if (count < old) {
            beginRemoveRows({}, count, old - 1);
            texts_.resize(static_cast<size_t>(count));
            endRemoveRows();
        }
    }

    void reset(int count)
    {
        beginResetModel();
        texts_.assign(static_cast<size_t>(std::max(0, count)), std::nullopt);
        endResetModel();
    }

    void setEnabled(bool enabled)
    {
        if (enabled == enabled_) return;
        enabled_ = enabled;
        changedAll();
    }

    // One range for all rows: the view repaints what it shows, whatever the count.
    void changedAll()
    {
        if (rows() > 0) emit dataChanged(index(0), index(rows() - 1), {Qt::CheckStateRole});
    }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override { return parent.isValid() ? 0 : rows(); }

    Qt::ItemFlags flags(const QModelIndex& index) const override
    {
        if (!index.isValid()) return Qt::NoItemFlags;
        Qt::ItemFlags flags = Qt::ItemNeverHasChildren | Qt::ItemIsUserCheckable | Qt::ItemIsSelectable;
        return enabled_ ? flags | Qt::ItemIsEnabled : flags;
    }

    QVariant data(const QModelIndex& index, int role) const override
    {
        if (!index.isValid() || index.row() >= rows()) return {};
        switch (role) {
        case Qt::DisplayRole: return texts(index.row()).value(0);
        case Qt::AccessibleTextRole: return texts(index.row()).join(QStringLiteral(", "));
        case Qt::CheckStateRole: return ticked(index.row()) ? Qt::Checked : Qt::Unchecked;
        default: return {};
        }
    }

    // Every turn of a tick, by click, key or an assistive tool, comes here.
    bool setData(const QModelIndex& index, const QVariant& value, int role) override
    {
        if (role != Qt::CheckStateRole || !index.isValid() || index.row() >= rows() || !enabled_) return false;
        emit list_->toggled(index.row(), value.toInt() == Qt::Checked);
        return true;
    }

    void toggle(int row)
    {
        if (row >= 0 && row < rows()) setData(index(row), ticked(row) ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
    }

private:
    CheckableRowList* list_;
    CheckableRowList::Texts makeTexts_;
    CheckableRowList::Ticked ticked_;
    bool enabled_ = true;
    mutable std::vector<std::optional<QStringList>> texts_;
};

class CheckableRowDelegate : public QStyledItemDelegate {
public:
    CheckableRowDelegate(CheckableRowList* list, std::vector<CheckableRowList::Line> lines)
        : QStyledItemDelegate(list), list_(list), lines_(std::move(lines))
    {
        check_ = QSize(list->style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, list),
                       list->style()->pixelMetric(QStyle::PM_IndicatorHeight, nullptr, list));
        int height = 2 * kInset;
        for (const CheckableRowList::Line& line : lines_) {
            metrics_.emplace_back(line.font);
            // A line with Chinese in it is drawn partly in a taller font.
            heights_.push_back(std::max(metrics_.back().height(), Typography::lineHeight(QStringLiteral("Ag文件"), line.font)));
            height += heights_.back();
        }
        height += kLineGap * std::max(0, static_cast<int>(lines_.size()) - 1);
        rowHeight_ = std::max(height, check_.height() + 2 * kInset);
    }

    int rowHeight() const { return rowHeight_; }

    // Level with the first line, as a checkbox sits beside its title.
    QRect checkRect(const QRect& row) const
    {
        const int first = heights_.empty() ? rowHeight_ - 2 * kInset : heights_.front();
        return QRect(row.left() + kSide, row.top() + kInset + (first - check_.height()) / 2, check_.width(), check_.height());
    }

    QRect lineRect(const QRect& row, size_t line) const
    {
        int top = row.top() + kInset;
        for (size_t i = 0; i < line; ++i) top += heights_[i] + kLineGap;
        const int left = row.left() + kSide + check_.width() + kCheckGap;
        return QRect(left, top, std::max(0, row.right() - kSide - left + 1), heights_[line]);
    }

    QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const override { return QSize(0, rowHeight_); }

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        auto* model = static_cast<const CheckableRowModel*>(index.model());
        painter->save();
        QStyleOptionButton box;
        box.initFrom(list_);
        box.rect = checkRect(option.rect);
        // The list's own state (active window, focus from the keyboard), with the row's tick.
        box.state &= ~(QStyle::State_HasFocus | QStyle::State_Enabled | QStyle::State_MouseOver);
        box.state |= model->ticked(index.row()) ? QStyle::State_On : QStyle::State_Off;
        if (model->enabled() && list_->isEnabled()) box.state |= QStyle::State_Enabled;
        if (list_->hasFocus() && list_->currentIndex() == index) box.state |= QStyle::State_HasFocus;
        list_->style()->drawControl(QStyle::CE_CheckBox, &box, painter, list_);

        const QStringList& texts = model->texts(index.row());
        for (size_t i = 0; i < lines_.size() && i < static_cast<size_t>(texts.size()); ++i) {
            const QRect rect = lineRect(option.rect, i);
            painter->setFont(lines_[i].font);
            painter->setPen(lines_[i].muted ? Palette::muted() : Palette::ink());
            painter->drawText(rect, Qt::AlignLeft | Qt::AlignVCenter,
                              metrics_[i].elidedText(texts[static_cast<int>(i)], Qt::ElideMiddle, rect.width()));
        }
        painter->restore();
    }

    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override
    {
        // The view sends the release only when the press was on the same row.
        if (event->type() != QEvent::MouseButtonRelease) return false;
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() != Qt::LeftButton || !option.rect.contains(mouse->position().toPoint())) return false;
        static_cast<CheckableRowModel*>(model)->toggle(index.row());
        return true;
    }

    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override
    {
        if (event->type() != QEvent::ToolTip || !index.isValid())
            return QStyledItemDelegate::helpEvent(event, view, option, index);
        const QStringList& texts = static_cast<const CheckableRowModel*>(index.model())->texts(index.row());
        for (size_t i = 0; i < lines_.size() && i < static_cast<size_t>(texts.size()); ++i) {
            const QRect rect = lineRect(option.rect, i);
            const QString& text = texts[static_cast<int>(i)];
            // Only a line drawn shortened needs its whole text shown.
            if (rect.contains(event->pos()) && metrics_[i].horizontalAdvance(text) > rect.width()) {
                QToolTip::showText(event->globalPos(), text, view->viewport(), rect);
                return true;
            }
        }
        QToolTip::hideText();
        return true;
    }

private:
    CheckableRowList* list_;
    std::vector<CheckableRowList::Line> lines_;
    std::vector<QFontMetrics> metrics_;
    std::vector<int> heights_;
    QSize check_;
    int rowHeight_ = 0;
};

CheckableRowList::CheckableRowList(std::vector<Line> lines, Texts texts, Ticked ticked, QWidget* parent)
    : QListView(parent)
{
    model_ = new CheckableRowModel(std::move(texts), std::move(ticked), this);
    delegate_ = new CheckableRowDelegate(this, std::move(lines));
    setModel(model_);
    setItemDelegate(delegate_);
    setUniformItemSizes(true);
    // The ticks are the selection an assistive tool knows how to change: its toggle of a row
    // selects the row, which is taken as a turn of the tick and undone at once. The view itself
    // never selects (selectionCommand).
    setSelectionMode(QAbstractItemView::SingleSelection);
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, [this](const QItemSelection& selected) {
        if (selected.isEmpty()) return;
        const QModelIndexList rows = selected.indexes();
        selectionModel()->clearSelection();
        for (const QModelIndex& index : rows) model_->toggle(index.row());
    });
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setUpPaintedRows(this, delegate_->rowHeight());
    followRowCount();
}

CheckableRowList::~CheckableRowList() = default;

int CheckableRowList::rowCount() const { return model_->rows(); }
void CheckableRowList::setRowCount(int rows)
{
    model_->setRows(rows);
    followRowCount();
}

void CheckableRowList::resetRows(int rows)
{
    // The current row keeps its place, so the keyboard carries on where it was.
    const int current = currentIndex().row();
    model_->reset(rows);
    if (current >= 0 && model_->rows() > 0)
        selectionModel()->setCurrentIndex(model_->index(std::min(current, model_->rows() - 1)), QItemSelectionModel::NoUpdate);
    followRowCount();
}

void CheckableRowList::followRowCount()
{
    // The focus shows on a row: a list without rows is no stop for Tab.
    setFocusPolicy(model_->rows() > 0 ? Qt::StrongFocus : Qt::NoFocus);
}
void CheckableRowList::refreshTicks() { model_->changedAll(); }
void CheckableRowList::setRowsEnabled(bool enabled) { model_->setEnabled(enabled); }
bool CheckableRowList::rowsEnabled() const { return model_->enabled(); }
bool CheckableRowList::isTicked(int row) const { return model_->ticked(row); }
int CheckableRowList::rowHeight() const { return delegate_->rowHeight(); }

QStringList CheckableRowList::texts(int row) const
{
    return row >= 0 && row < model_->rows() ? model_->texts(row) : QStringList();
}

QRect CheckableRowList::checkRect(int row) const
{
    const QRect rect = visualRect(model_->index(row));
    return rect.isValid() ? delegate_->checkRect(rect) : QRect();
}

QItemSelectionModel::SelectionFlags CheckableRowList::selectionCommand(const QModelIndex&, const QEvent*) const
{
    return QItemSelectionModel::NoUpdate;
}

void CheckableRowList::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Space && !(event->modifiers() & ~Qt::KeypadModifier)) {
        // A held key turns the tick once, as a checkbox does.
        if (currentIndex().isValid() && !event->isAutoRepeat()) model_->toggle(currentIndex().row());
        event->accept();
        return;
    }
    QListView::keyPressEvent(event);
}

void CheckableRowList::mouseDoubleClickEvent(QMouseEvent* event)
{
    // The second click of a quick pair is a click too: it turns the tick back, as on a checkbox.
    mousePressEvent(event);
}

void CheckableRowList::focusInEvent(QFocusEvent* event)
{
    QListView::focusInEvent(event);
    // Reached from the keyboard, the list starts on its first row, so Space turns a tick at once.
    if (event->reason() != Qt::MouseFocusReason && !currentIndex().isValid() && model_->rows() > 0)
        selectionModel()->setCurrentIndex(model_->index(0), QItemSelectionModel::NoUpdate);
}
