#include "pages/memory/MemoryApplicationList.h"

#include "engine/ByteFormat.h"
#include "shell/DisplayText.h"
#include "shell/LocalizedText.h"
#include "shell/style/FocusRing.h"
#include "shell/style/Palette.h"
#include "shell/style/Typography.h"

#include <QAbstractListModel>
#include <QKeyEvent>
#include <QPainter>
#include <QStyledItemDelegate>

#include <algorithm>

namespace {
constexpr int kRowHeight = 36;
constexpr int kRowGap = 10;   // between rows: half of it on each side of a row
constexpr int kButtonHeight = 26;
constexpr int kGap = 12;
} // namespace

// The rows, with their texts drawn once per refresh in the page's language.
class MemoryApplicationList::Rows : public QAbstractListModel {
public:
    struct Row {
        ApplicationMemory application;
        QString name;
        QString counts;
        QString footprint;
    };

    int rowCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : int(rows_.size()); }
    QVariant data(const QModelIndex& index, int role) const override
    {
        if (!index.isValid() || index.row() >= int(rows_.size())) return {};
        const Row& row = rows_[size_t(index.row())];
        if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole) return row.name;
        if (role == Qt::ToolTipRole) return row.name;
        if (role == Qt::AccessibleDescriptionRole) return row.counts + QStringLiteral(" · ") + row.footprint;
        return {};
    }

    const Row& row(int index) const { return rows_[size_t(index)]; }
    const std::vector<ApplicationMemory>& applications() const { return applications_; }

    // True when the rows stand for the same applications in the same order as before.
    bool set(std::vector<ApplicationMemory> applications)
    {
        std::vector<Row> rows;
        rows.reserve(applications.size());
        for (const ApplicationMemory& application : applications) {
            QString counts = QString::number(application.processCount) + QStringLiteral(" 个进程");
            if (application.unavailableCount >= 1)
                counts += QStringLiteral(" · ") + QString::number(application.unavailableCount) + QStringLiteral(" 个不可读取");
            QString footprint = application.footprint >= 1 ? QString::fromStdString(formatFileSize(application.footprint))
                                                           : QStringLiteral("不可获取");
            rows.push_back({application, displayLine(application.name), L(counts), L(footprint)});
        }
        bool sameIds = rows.size() == rows_.size() &&
                       std::equal(rows.begin(), rows.end(), rows_.begin(),
                                  [](const Row& a, const Row& b) { return a.application.id == b.application.id; });
        if (sameIds) {
            rows_ = std::move(rows);
            applications_ = std::move(applications);
            if (!rows_.empty()) emit dataChanged(index(0), index(int(rows_.size()) - 1));
            return true;
        }
        beginResetModel();
        rows_ = std::move(rows);
        applications_ = std::move(applications);
        endResetModel();
        return false;
    }

private:
    std::vector<Row> rows_;
    std::vector<ApplicationMemory> applications_;
};

class MemoryApplicationList::Delegate : public QStyledItemDelegate {
public:
    Delegate(MemoryApplicationList* list, Rows* rows, int32_t self)
        : QStyledItemDelegate(list), list_(list), rows_(rows), self_(self), title_(plainTitle(L(QStringLiteral("请求退出"))))
    {
    }

    bool hasButton(int row) const { return rows_->row(row).application.id != self_; }

    QRect buttonRect(const QRect& item) const
    {
        QFontMetrics metrics(Typography::body());
        int width = metrics.horizontalAdvance(title_) + 24;
        return QRect(item.right() - width + 1, item.center().y() - kButtonHeight / 2, width, kButtonHeight);
    }

    QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const override { return QSize(200, kRowHeight); }

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        const Rows::Row& row = rows_->row(index.row());
        QRect item = option.rect;
        painter->save();
        int right = item.right();
        bool focused = option.state & QStyle::State_HasFocus;
        // The current row of the focused list: drawn in the spacing around the row.
        if (focused) FocusRing::paint(*painter, QRectF(item).adjusted(-3.5, -3.5, 3.5, 3.5), 8);
        if (hasButton(index.row())) {
            QStyleOptionButton button;
            // Whether the keyboard moved the focus decides if the style draws it on the button.
            button.initFrom(list_);
            button.rect = buttonRect(item);
            button.text = title_;
            button.fontMetrics = QFontMetrics(Typography::body());
            button.palette = option.palette;
            button.state = (button.state & QStyle::State_KeyboardFocusChange) | QStyle::State_Enabled;
            bool hovered = list_->buttons_->hovered() == RowButtonHit{index.row()};
            if (hovered) button.state |= QStyle::State_MouseOver;
            bool down = hovered && list_->buttons_->pressed() == RowButtonHit{index.row()};
            button.state |= down ? QStyle::State_Sunken : QStyle::State_Raised;
            if (focused) button.state |= QStyle::State_HasFocus;
            painter->setFont(Typography::body());
            list_->style()->drawControl(QStyle::CE_PushButton, &button, painter, nullptr);
            right = button.rect.left() - kGap;
        }

        QFont body = Typography::body();
        QFontMetrics bodyMetrics(body);
        int footprintWidth = bodyMetrics.horizontalAdvance(row.footprint);
        QRect footprint(right - footprintWidth + 1, item.top(), footprintWidth, item.height());
        painter->setFont(body);
        painter->setPen(Palette::ink());
        painter->drawText(footprint, Qt::AlignRight | Qt::AlignVCenter, row.footprint);

        int textRight = footprint.left() - kGap;
        int textWidth = std::max(0, textRight - item.left());
        QFont caption = Typography::caption();
        QFontMetrics captionMetrics(caption);
        int top = item.center().y() - (bodyMetrics.height() + 2 + captionMetrics.height()) / 2;
        painter->drawText(QRect(item.left(), top, textWidth, bodyMetrics.height()), Qt::AlignLeft | Qt::AlignVCenter,
                          bodyMetrics.elidedText(row.name, Qt::ElideRight, textWidth));
        painter->setFont(caption);
        painter->setPen(Palette::muted());
        painter->drawText(QRect(item.left(), top + bodyMetrics.height() + 2, textWidth, captionMetrics.height()),
                          Qt::AlignLeft | Qt::AlignVCenter, captionMetrics.elidedText(row.counts, Qt::ElideRight, textWidth));
        painter->restore();
    }

private:
    MemoryApplicationList* list_;
    Rows* rows_;
    int32_t self_;
    QString title_;
};

MemoryApplicationList::MemoryApplicationList(int32_t self, QWidget* parent) : QListView(parent), self_(self)
{
    setObjectName(QStringLiteral("memory-applications"));
    rows_ = new Rows();
    rows_->setParent(this);
    delegate_ = new Delegate(this, rows_, self_);
    setModel(rows_);
    setItemDelegate(delegate_);
    setSelectionMode(QAbstractItemView::NoSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setUniformItemSizes(true);
    setSpacing(kRowGap / 2);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setFrameShape(QFrame::NoFrame);
    buttons_ = new RowButtonTracker(
        this, [this](const QPoint& at) { return buttonAt(at); },
        [this](const RowButtonHit& hit) { return quitButtonRect(hit.row); },
        [this](const RowButtonHit& hit) { press(hit.row); },
        [this](const RowButtonHit& hit) { setCurrentIndex(rows_->index(hit.row)); });
    viewport()->setAutoFillBackground(false);
    setAutoFillBackground(false);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    fitHeight();
}

void MemoryApplicationList::setApplications(std::vector<ApplicationMemory> applications)
{
    std::optional<int32_t> current = currentApplication();
    if (!rows_->set(std::move(applications))) {
        // A button held down or hovered may stand for another application now.
        buttons_->cancelPress();
        buttons_->setHovered(std::nullopt);
        // The current row follows its application. When that one has gone no row is current:
        // a neighbour moved under the ring would take the next Space meant for the one that left.
        setCurrentApplication(current);
    }
    fitHeight();
}

std::optional<int32_t> MemoryApplicationList::currentApplication() const
{
    QModelIndex current = currentIndex();
    if (!current.isValid()) return std::nullopt;
    return rows_->row(current.row()).application.id;
}

void MemoryApplicationList::setCurrentApplication(std::optional<int32_t> id)
{
    const auto& shown = rows_->applications();
    auto same = std::find_if(shown.begin(), shown.end(), [&](const ApplicationMemory& a) { return a.id == id; });
    QModelIndex row = same == shown.end() ? QModelIndex() : rows_->index(int(same - shown.begin()));
    selectionModel()->setCurrentIndex(row, QItemSelectionModel::NoUpdate);
}

const std::vector<ApplicationMemory>& MemoryApplicationList::applications() const { return rows_->applications(); }

QRect MemoryApplicationList::quitButtonRect(int row) const
{
    if (row < 0 || row >= rows_->rowCount() || !delegate_->hasButton(row)) return {};
    return delegate_->buttonRect(visualRect(rows_->index(row)));
}

void MemoryApplicationList::fitHeight()
{
    int content = rows_->rowCount() * (kRowHeight + kRowGap) + 2 * frameWidth();
    setFixedHeight(std::min(kMaximumHeight, content));
}

std::optional<RowButtonHit> MemoryApplicationList::buttonAt(const QPoint& viewportPos) const
{
    QModelIndex index = indexAt(viewportPos);
    if (!index.isValid() || !quitButtonRect(index.row()).contains(viewportPos)) return std::nullopt;
    return RowButtonHit{index.row()};
}

void MemoryApplicationList::press(int row)
{
    if (row < 0 || row >= rows_->rowCount() || !delegate_->hasButton(row)) return;
    // Copied: the signal's receiver may refresh the rows.
    emit quitRequested(ApplicationMemory(rows_->row(row).application));
}

void MemoryApplicationList::paintEvent(QPaintEvent* event)
{
    QListView::paintEvent(event);
    // The focus with no current row (its application has gone): a ring around the list.
    if (hasFocus() && !currentIndex().isValid() && rows_->rowCount() > 0) {
        QPainter painter(viewport());
        FocusRing::paint(painter, QRectF(viewport()->rect()).adjusted(1.5, 1.5, -1.5, -1.5), 8);
    }
}

// The rings reach past what the view repaints for a change of focus.
void MemoryApplicationList::focusInEvent(QFocusEvent* event)
{
    QListView::focusInEvent(event);
    viewport()->update();
}

void MemoryApplicationList::focusOutEvent(QFocusEvent* event)
{
    QListView::focusOutEvent(event);
    viewport()->update();
}

void MemoryApplicationList::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Space && event->modifiers() == Qt::NoModifier && currentIndex().isValid()) {
        // The row the button belongs to is in sight before anything is asked about it.
        revealRow(this, currentIndex());
        press(currentIndex().row());
        event->accept();
        return;
    }
    QListView::keyPressEvent(event);
}

void MemoryApplicationList::currentChanged(const QModelIndex& current, const QModelIndex& previous)
{
    QListView::currentChanged(current, previous);
    // The focus ring reaches past the row into the spacing, which the row's update leaves out.
    viewport()->update();
}
