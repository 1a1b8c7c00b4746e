#include "pages/history/HistoryRecordList.h"

#include "shell/controls/ActionConfirmation.h"
#include "shell/DisplayText.h"
#include "shell/LocalizedText.h"
#include "shell/style/FocusRing.h"
#include "shell/style/Palette.h"
#include "shell/style/SymbolIcon.h"
#include "shell/style/Typography.h"

#include <QAbstractListModel>
#include <QApplication>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QScrollBar>
#include <QStyleOptionButton>
#include <QStyledItemDelegate>
#include <QToolTip>
#include <algorithm>
#include <map>
#include <memory>

namespace {

constexpr int kInset = 8;         // above and below each row's content
constexpr int kSide = 12;         // left and right of each row's content
constexpr int kIconSide = 18;
constexpr int kIconGap = 10;
constexpr int kLineGap = 4;
constexpr int kTrailingGap = 16;  // between the texts and the date column

// The last component of a path, as a file URL names it ("/a/b/" gives "b").
QString lastComponent(const std::string& path)
{
    size_t end = path.find_last_not_of('/');
    if (end == std::string::npos) return path.empty() ? QString() : QStringLiteral("/");
    size_t slash = path.rfind('/', end);
    size_t begin = slash == std::string::npos ? 0 : slash + 1;
    return HistoryRecordList::oneLine(path.substr(begin, end + 1 - begin));
}

QString subtitleOf(const Operation& record)
{
    return record.restoredAt ? L(QStringLiteral("已恢复到原位置")) : L(textFromBytes(record.detail));
}

// What a row shows, formatted when the row is first drawn rather than on every paint and
// pointer move: the date goes through the locale's formatter, the path through a full scan.
struct RowTexts {
    QString title, path, subtitle, date;
};

QColor successColour() { return Palette::isDark() ? QColor(0x4c, 0xd9, 0x64) : QColor(0x1f, 0x9d, 0x3f); }
QColor warningColour() { return QColor(0xf0, 0x8c, 0x00); }

} // namespace

class HistoryRecordModel : public QAbstractListModel {
public:
    using QAbstractListModel::QAbstractListModel;

    const std::vector<Operation>& records() const { return records_; }
    const Operation* record(int row) const
    {
        return row >= 0 && static_cast<size_t>(row) < records_.size() ? &records_[static_cast<size_t>(row)] : nullptr;
    }
    // The texts of a row that exists.
    const RowTexts& texts(int row) const
    {
        std::optional<RowTexts>& made = texts_[static_cast<size_t>(row)];
        if (!made) {
            const Operation& r = records_[static_cast<size_t>(row)];
            made = RowTexts{lastComponent(r.path), HistoryRecordList::oneLine(r.path), subtitleOf(r), L(numericDateTime(r.date))};
        }
        return *made;
    }

    // True when only record contents changed (same ids in the same order); those rows are
    // updated in place.
    bool update(const std::vector<Operation>& records)
    {
        bool sameRows = records.size() == records_.size() &&
                        std::equal(records.begin(), records.end(), records_.begin(),
                                   [](const Operation& a, const Operation& b) { return a.id == b.id; });
        if (!sameRows) {
            beginResetModel();
            records_ = records;
            texts_.assign(records_.size(), std::nullopt);
            endResetModel();
            return false;
        }
        for (size_t i = 0; i < records.size(); ++i) {
            if (records[i] == records_[i]) continue;
            records_[i] = records[i];
            texts_[i].reset();
            QModelIndex changed = index(static_cast<int>(i));
            emit dataChanged(changed, changed);
        }
        return true;
    }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : static_cast<int>(records_.size());
    }

    Qt::ItemFlags flags(const QModelIndex& index) const override
    {
        // Editable only to open the read-only path field; nothing is ever written back.
        return index.isValid() ? (Qt::ItemIsEnabled | Qt::ItemIsEditable) : Qt::NoItemFlags;
    }

    QVariant data(const QModelIndex& index, int role) const override
    {
        if (!record(index.row())) return {};
        const RowTexts& row = texts(index.row());
        switch (role) {
        case Qt::DisplayRole: return row.title;
        case Qt::EditRole: return row.path;
        case Qt::AccessibleTextRole:
            return row.title + QLatin1Char('\n') + row.path + QLatin1Char('\n') + row.subtitle + QLatin1Char('\n') + row.date;
        default: return {};
        }
    }

    bool setData(const QModelIndex&, const QVariant&, int) override { return false; }

private:
    std::vector<Operation> records_;
    mutable std::vector<std::optional<RowTexts>> texts_;  // one per record, made on first use
};

class HistoryRecordDelegate : public QStyledItemDelegate {
public:
    // Where each part of a row goes.
    struct RowLayout {
        QRect icon, title, path, subtitle, date, button;
    };

    explicit HistoryRecordDelegate(HistoryRecordList* list)
        : QStyledItemDelegate(list), list_(list), titleFont_(Typography::system(13, QFont::Bold)),
          captionFont_(Typography::caption()), buttonFont_(QApplication::font()), title_(titleFont_), caption_(captionFont_),
          buttonTitle_(plainTitle(L(QStringLiteral("恢复到原位置"))))
    {
        QStyleOptionButton probe;
        probe.text = buttonTitle_;
        QFontMetrics fm(buttonFont_);
        buttonSize_ = list->style()->sizeFromContents(QStyle::CT_PushButton, &probe,
                                                      QSize(fm.horizontalAdvance(buttonTitle_), fm.height()), list);
        int caption = caption_.lineSpacing();
        int texts = title_.lineSpacing() + 2 * (kLineGap + caption);
        int trailing = caption + kLineGap + buttonSize_.height();
        rowHeight_ = 2 * kInset + std::max(texts, trailing);
    }

    int rowHeight() const { return rowHeight_; }

    RowLayout layout(const QRect& rect, const HistoryRecordModel& model, int row) const
    {
        RowLayout out;
        QRect content = rect.adjusted(kSide, kInset, -kSide, -kInset);
        int captionLine = caption_.lineSpacing();
        int titleLine = title_.lineSpacing();
        bool restorable = HistoryRecordList::isRestorable(*model.record(row));
        int trailing = std::max(caption_.horizontalAdvance(model.texts(row).date), restorable ? buttonSize_.width() : 0);
        out.date = QRect(content.right() - trailing + 1, content.top(), trailing, captionLine);
        if (restorable)
            out.button = QRect(content.right() - buttonSize_.width() + 1, out.date.bottom() + 1 + kLineGap,
                               buttonSize_.width(), buttonSize_.height());
        out.icon = QRect(content.left(), content.top() + (titleLine - kIconSide) / 2, kIconSide, kIconSide);
        int left = out.icon.right() + 1 + kIconGap;
        int width = std::max(0, out.date.left() - kTrailingGap - left);
        out.title = QRect(left, content.top(), width, titleLine);
        out.path = QRect(left, out.title.bottom() + 1 + kLineGap, width, captionLine);
        out.subtitle = QRect(left, out.path.bottom() + 1 + kLineGap, width, captionLine);
        return out;
    }

    QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const override { return QSize(0, rowHeight_); }

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        auto* model = static_cast<const HistoryRecordModel*>(index.model());
        const Operation* record = model->record(index.row());
        if (!record) return;
        const RowTexts& texts = model->texts(index.row());
        RowLayout parts = layout(option.rect, *model, index.row());
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);

        // Status symbol.
        bool success = record->success;
        qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        painter->drawPixmap(parts.icon, statusPixmap(success, ratio));

        // Name, path and outcome.
        painter->setPen(Palette::ink());
        painter->setFont(titleFont_);
        painter->drawText(parts.title, Qt::AlignLeft | Qt::AlignVCenter,
                          title_.elidedText(texts.title, Qt::ElideRight, parts.title.width()));
        painter->setFont(captionFont_);
        painter->drawText(parts.path, Qt::AlignLeft | Qt::AlignVCenter,
                          caption_.elidedText(texts.path, Qt::ElideMiddle, parts.path.width()));
        painter->setPen(Palette::muted());
        painter->drawText(parts.subtitle, Qt::AlignLeft | Qt::AlignVCenter,
                          caption_.elidedText(texts.subtitle, Qt::ElideRight, parts.subtitle.width()));

        // Date and restore button.
        painter->setPen(Palette::ink());
        painter->drawText(parts.date, Qt::AlignRight | Qt::AlignVCenter, texts.date);
        if (!parts.button.isNull()) paintButton(painter, option, parts.button, index.row());

        // The current row of the focused list, inside the row's margins.
        if (option.state & QStyle::State_HasFocus)
            FocusRing::paint(*painter, QRectF(option.rect).adjusted(4.5, 2.5, -4.5, -2.5), 8);

        // Divider below every row but the last.
        if (index.row() + 1 < model->rowCount()) {
            painter->setPen(QPen(Palette::line(), 1));
            int y = option.rect.bottom();
            painter->drawLine(QPoint(option.rect.left() + kSide, y), QPoint(option.rect.right() - kSide, y));
        }
        painter->restore();
    }

    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override
    {
        auto* model = static_cast<const HistoryRecordModel*>(index.model());
        const Operation* record = model ? model->record(index.row()) : nullptr;
        if (event->type() != QEvent::ToolTip || !record) return QStyledItemDelegate::helpEvent(event, view, option, index);
        RowLayout parts = layout(option.rect, *model, index.row());
        const RowTexts& texts = model->texts(index.row());
        QString tip;
        QRect area;
        if (parts.path.contains(event->pos()) || parts.title.contains(event->pos())) {
            tip = texts.path;  // the user's path, never a catalog text
            area = parts.title.united(parts.path);
        } else if (parts.subtitle.contains(event->pos())) {
            const QString& text = texts.subtitle;
            // Only an outcome that does not fit needs its whole text shown.
            if (caption_.horizontalAdvance(text) > parts.subtitle.width()) tip = text;
            area = parts.subtitle;
        }
        if (tip.isEmpty()) {
            QToolTip::hideText();
            return true;
        }
        QToolTip::showText(event->globalPos(), tip, view->viewport(), area);
        return true;
    }

    // A read-only field over the path line, to select and copy it.
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem&, const QModelIndex&) const override
    {
        auto* field = new QLineEdit(parent);
        field->setObjectName(QStringLiteral("history-path-field"));
        field->setReadOnly(true);
        field->setFont(captionFont_);
        return field;
    }

    void setEditorData(QWidget* editor, const QModelIndex& index) const override
    {
        auto* field = static_cast<QLineEdit*>(editor);
        field->setText(index.data(Qt::EditRole).toString());
        field->selectAll();
    }

    void setModelData(QWidget*, QAbstractItemModel*, const QModelIndex&) const override {}

    void updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        auto* model = static_cast<const HistoryRecordModel*>(index.model());
        if (model->record(index.row())) {
            QRect line = layout(option.rect, *model, index.row()).path;
            int height = std::max(line.height() + 6, editor->sizeHint().height());
            editor->setGeometry(QRect(line.left() - 3, line.center().y() - height / 2, line.width() + 6, height));
        }
    }

private:
    HistoryRecordList* list_;
    QFont titleFont_;
    QFont captionFont_;
    QFont buttonFont_;
    QFontMetrics title_;
    QFontMetrics caption_;
    QString buttonTitle_;
    QSize buttonSize_;
    int rowHeight_ = 0;
    mutable std::map<std::tuple<bool, bool, qreal>, QPixmap> symbols_;

    const QPixmap& statusPixmap(bool success, qreal ratio) const
    {
        auto key = std::make_tuple(success, Palette::isDark(), ratio);
        auto found = symbols_.find(key);
        if (found == symbols_.end()) {
            QPixmap pixmap = SymbolIcon::tinted(success ? QStringLiteral("checkmark.circle") : QStringLiteral("exclamationmark.circle"),
                                                QSize(kIconSide, kIconSide), success ? successColour() : warningColour(), ratio);
            found = symbols_.emplace(key, pixmap).first;
        }
        return found->second;
    }

    void paintButton(QPainter* painter, const QStyleOptionViewItem& option, const QRect& rect, int row) const
    {
        QStyleOptionButton button;
        button.initFrom(list_);
        button.palette = option.palette;
        button.rect = rect;
        button.text = buttonTitle_;
        // Kept from the list: whether the keyboard moved the focus, without which the style
        // draws no focus on a button.
        button.state = (button.state & QStyle::State_KeyboardFocusChange) | QStyle::State_Raised;
        bool enabled = !list_->blocked_ && list_->isEnabled();
        if (enabled) {
            button.state |= QStyle::State_Enabled;
            bool hovered = list_->buttons_->hovered() == RowButtonHit{row};
            if (hovered) button.state |= QStyle::State_MouseOver;
            if (hovered && list_->buttons_->pressed() == RowButtonHit{row}) button.state |= QStyle::State_Sunken;
            if (option.state & QStyle::State_HasFocus) button.state |= QStyle::State_HasFocus;
        } else {
            button.palette.setCurrentColorGroup(QPalette::Disabled);
        }
        painter->setFont(buttonFont_);
        button.fontMetrics = QFontMetrics(buttonFont_);
        list_->style()->drawControl(QStyle::CE_PushButton, &button, painter, list_);
    }
};

HistoryRecordList::HistoryRecordList(QWidget* parent) : QListView(parent)
{
    setObjectName(QStringLiteral("history-records"));
    model_ = new HistoryRecordModel(this);
    delegate_ = new HistoryRecordDelegate(this);
    setModel(model_);
    setItemDelegate(delegate_);
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::NoSelection);
    setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    verticalScrollBar()->setSingleStep(delegate_->rowHeight() / 3);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFrameShape(QFrame::NoFrame);
    buttons_ = new RowButtonTracker(
        this, [this](const QPoint& at) { return buttonAt(at); },
        [this](const RowButtonHit& hit) { return restoreButtonRect(hit.row); },
        [this](const RowButtonHit& hit) { press(hit.row); },
        [this](const RowButtonHit& hit) { setCurrentIndex(model_->index(hit.row)); });
    // The panel behind the list paints the surface and its rounded outline.
    setAutoFillBackground(false);
    viewport()->setAutoFillBackground(false);
    setAccessibleName(L(QStringLiteral("操作记录")));
}

HistoryRecordList::~HistoryRecordList() = default;

QString HistoryRecordList::oneLine(const std::string& bytes) { return displayLine(bytes); }

bool HistoryRecordList::isRestorable(const Operation& record)
{
    return record.success && record.trashPath && !record.restoredAt;
}

void HistoryRecordList::setRecords(const std::vector<Operation>& records)
{
    int scrolled = verticalScrollBar()->value();
    if (model_->update(records)) return;
    buttons_->setHovered(std::nullopt);
    buttons_->cancelPress();
    // Lay the new rows out now so the old scroll position can be taken up again.
    executeDelayedItemsLayout();
    verticalScrollBar()->setValue(scrolled);
}

const std::vector<Operation>& HistoryRecordList::records() const { return model_->records(); }

void HistoryRecordList::setRestoreBlocked(bool blocked)
{
    if (blocked == blocked_) return;
    blocked_ = blocked;
    buttons_->setBlocked(blocked);
    viewport()->update();
}

QRect HistoryRecordList::restoreButtonRect(int row) const
{
    if (!model_->record(row)) return {};
    QRect rect = visualRect(model_->index(row));
    if (!rect.isValid()) return {};
    return delegate_->layout(rect, *model_, row).button;
}

QString HistoryRecordList::subtitle(int row) const
{
    return model_->record(row) ? model_->texts(row).subtitle : QString();
}

QString HistoryRecordList::dateText(int row) const
{
    return model_->record(row) ? model_->texts(row).date : QString();
}

std::optional<RowButtonHit> HistoryRecordList::buttonAt(const QPoint& viewportPos) const
{
    QModelIndex index = indexAt(viewportPos);
    if (!index.isValid()) return std::nullopt;
    QRect button = restoreButtonRect(index.row());
    if (button.isNull() || !button.contains(viewportPos)) return std::nullopt;
    return RowButtonHit{index.row()};
}

void HistoryRecordList::press(int row)
{
    const Operation* record = model_->record(row);
    if (blocked_ || !record || !isRestorable(*record)) return;
    // Like a native action button: the confirmation attaches to this window.
    QWidget* host = window();
    ActionConfirmation::setSourceWindow(host == this ? nullptr : host);
    emit restoreRequested(*record);
}

void HistoryRecordList::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Space && event->modifiers() == Qt::NoModifier && currentIndex().isValid() &&
        state() != QAbstractItemView::EditingState) {
        // The record is in sight before its restore is asked about.
        revealRow(this, currentIndex());
        press(currentIndex().row());
        event->accept();
        return;
    }
    QListView::keyPressEvent(event);
}
