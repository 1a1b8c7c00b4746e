#include "pages/memory/MemoryApplicationList.h"

#include "engine/ByteFormat.h"
#include "shell/DisplayText.h"
#include "shell/LocalizedText.h"
#include "shell/style/Palette.h"
#include "shell/style/Typography.h"

#include <QAbstractListModel>
#include <QMouseEvent>
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

    void set(std::vector<ApplicationMemory> applications)
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
            return;
        }
        beginResetModel();
        rows_ = std::move(rows);
        applications_ = std::move(applications);
        endResetModel();
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

    int pressedRow = -1;
    int hoveredRow = -1;

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
        if (hasButton(index.row())) {
            QStyleOptionButton button;
            button.rect = buttonRect(item);
            button.text = title_;
            button.fontMetrics = QFontMetrics(Typography::body());
            button.palette = option.palette;
            button.state = QStyle::State_Enabled | QStyle::State_Raised;
            if (index.row() == hoveredRow) button.state |= QStyle::State_MouseOver;
            if (index.row() == pressedRow) button.state = (button.state & ~QStyle::State_Raised) | QStyle::State_Sunken;
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

    bool editorEvent(QEvent* event, QAbstractItemModel*, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override
    {
        if (!index.isValid() || !hasButton(index.row())) return false;
        auto* mouse = dynamic_cast<QMouseEvent*>(event);
        if (!mouse || mouse->button() != Qt::LeftButton) return false;
        bool inside = buttonRect(option.rect).contains(mouse->position().toPoint());
        if (event->type() == QEvent::MouseButtonPress) {
            pressedRow = inside ? index.row() : -1;
            list_->viewport()->update();
            return inside;
        }
        if (event->type() == QEvent::MouseButtonRelease) {
            bool clicked = inside && pressedRow == index.row();
            pressedRow = -1;
            list_->viewport()->update();
            // Copied: the signal's receiver may refresh the rows.
            if (clicked) emit list_->quitRequested(ApplicationMemory(rows_->row(index.row()).application));
            return clicked;
        }
        return false;
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
    setFocusPolicy(Qt::NoFocus);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setUniformItemSizes(true);
    setSpacing(kRowGap / 2);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setFrameShape(QFrame::NoFrame);
    setMouseTracking(true);
    viewport()->setAutoFillBackground(false);
    setAutoFillBackground(false);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    fitHeight();
}

void MemoryApplicationList::setApplications(std::vector<ApplicationMemory> applications)
{
    delegate_->pressedRow = -1;
    delegate_->hoveredRow = -1;
    rows_->set(std::move(applications));
    fitHeight();
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

void MemoryApplicationList::mouseMoveEvent(QMouseEvent* event)
{
    QModelIndex index = indexAt(event->position().toPoint());
    int hovered = index.isValid() && quitButtonRect(index.row()).contains(event->position().toPoint()) ? index.row() : -1;
    if (hovered != delegate_->hoveredRow) {
        delegate_->hoveredRow = hovered;
        viewport()->update();
    }
    QListView::mouseMoveEvent(event);
}

void MemoryApplicationList::leaveEvent(QEvent* event)
{
    if (delegate_->hoveredRow != -1) {
        delegate_->hoveredRow = -1;
        viewport()->update();
    }
    QListView::leaveEvent(event);
}
