#include "pages/files/MoveConfirmationSheet.h"

#include "engine/ByteFormat.h"
#include "model/AppModel.h"
#include "shell/DisplayText.h"
#include "shell/LocalizedText.h"
#include "shell/controls/NativeActionButton.h"
#include "shell/style/Palette.h"
#include "shell/controls/StyledLabel.h"

#include <QAbstractListModel>
#include <QHBoxLayout>
#include <QListView>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QVBoxLayout>

namespace {

constexpr int kPathRole = Qt::UserRole + 1;

// The model's selected files as list rows; reset whenever the model replaces them.
class SelectedFilesModel : public QAbstractListModel {
public:
    explicit SelectedFilesModel(AppModel& model, QObject* parent) : QAbstractListModel(parent), model_(model)
    {
        connect(&model_, &AppModel::selectedFilesChanged, this, [this] {
            beginResetModel();
            endResetModel();
        });
    }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : static_cast<int>(model_.selectedFiles().size());
    }

    QVariant data(const QModelIndex& index, int role) const override
    {
        const auto& files = model_.selectedFiles();
        if (!index.isValid() || static_cast<size_t>(index.row()) >= files.size()) return {};
        const FileEntry& file = files[static_cast<size_t>(index.row())];
        switch (role) {
        case Qt::DisplayRole: return displayLine(file.name());
        case kPathRole:
        case Qt::ToolTipRole: return displayLine(file.path);
        case Qt::AccessibleTextRole: return displayLine(file.name()) + QLatin1Char('\n') + displayLine(file.path);
        default: return {};
        }
    }

private:
    AppModel& model_;
};

// Name over the full path, both on one line each.
class SelectedFileDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const override
    {
        QFontMetrics name(option.font);
        QFontMetrics path(Typography::caption());
        return QSize(200, name.lineSpacing() + path.lineSpacing() + 10);
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QStyleOptionViewItem opt = option;
        initStyleOption(&opt, index);
        opt.text.clear();
        opt.state &= ~QStyle::State_HasFocus;
        if (const QWidget* widget = option.widget) widget->style()->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);
        painter->save();
        QRect area = option.rect.adjusted(8, 5, -8, -5);
        QFont pathFont = Typography::caption();
        QFontMetrics nameMetrics(option.font), pathMetrics(pathFont);
        painter->setFont(option.font);
        painter->setPen(Palette::ink());
        painter->drawText(QRect(area.left(), area.top(), area.width(), nameMetrics.lineSpacing()),
                          Qt::AlignLeft | Qt::AlignVCenter,
                          nameMetrics.elidedText(index.data(Qt::DisplayRole).toString(), Qt::ElideMiddle, area.width()));
        painter->setFont(pathFont);
        painter->setPen(Palette::muted());
        painter->drawText(QRect(area.left(), area.top() + nameMetrics.lineSpacing(), area.width(), pathMetrics.lineSpacing()),
                          Qt::AlignLeft | Qt::AlignVCenter,
                          pathMetrics.elidedText(index.data(kPathRole).toString(), Qt::ElideMiddle, area.width()));
        painter->restore();
    }
};

} // namespace

MoveConfirmationSheet::MoveConfirmationSheet(AppModel& model, QWidget* parent) : QDialog(parent), model_(model)
{
    setObjectName(QStringLiteral("move-confirmation"));
    setWindowTitle(L(QStringLiteral("确认移入废纸篓")));
    setWindowModality(Qt::WindowModal);
    setFixedWidth(580);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(24, 24, 24, 24);
    column->setSpacing(18);

    auto* title = new StyledLabel(Typography::system(17, QFont::Bold));
    title->setText(L(QStringLiteral("确认移入废纸篓")));
    column->addWidget(title);
    summary_ = new StyledLabel(Typography::body());
    column->addWidget(summary_);
    auto* advice = new StyledLabel(Typography::body());
    advice->setWordWrap(true);
    advice->setText(L(QStringLiteral("请确认这些文件不再需要。移入废纸篓后仍可能占用空间，清空废纸篓后才可能释放。可在 Finder "
                                     "废纸篓中检查和恢复。")));
    column->addWidget(advice);

    list_ = new QListView();
    list_->setObjectName(QStringLiteral("selected-files"));
    list_->setModel(new SelectedFilesModel(model_, list_));
    list_->setItemDelegate(new SelectedFileDelegate(list_));
    list_->setUniformItemSizes(true);
    list_->setSelectionMode(QAbstractItemView::NoSelection);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list_->setFixedHeight(240);
    list_->setAccessibleName(L(QStringLiteral("确认移入废纸篓")));
    column->addWidget(list_);

    auto* buttons = new QHBoxLayout();
    cancel_ = new NativeActionButton(QStringLiteral("取消"), NativeActionButton::Emphasis::standard, [this] { reject(); });
    move_ = new NativeActionButton(QStringLiteral("移入废纸篓"), NativeActionButton::Emphasis::destructive, [this] {
        // Closed first, so the sheet is gone before the move begins.
        accept();
        (void)model_.trashSelected();
    });
    buttons->addWidget(cancel_);
    buttons->addStretch(1);
    buttons->addWidget(move_);
    column->addLayout(buttons);

    // Another window or the menu may scan or move while the sheet is open. The model publishes
    // the selected size right after the selected files, so that one signal covers both.
    for (auto changed : {&AppModel::selectedSizeChanged, &AppModel::processingChanged, &AppModel::scanningChanged,
                         &AppModel::detectingDuplicatesChanged})
        connect(&model_, changed, this, &MoveConfirmationSheet::refresh);
    refresh();
}

QString MoveConfirmationSheet::summary() const { return summary_->text(); }

void MoveConfirmationSheet::refresh()
{
    summary_->setText(L(QString::number(model_.selectedFiles().size()) + QStringLiteral(" 个文件 · ") +
                        QString::fromStdString(formatFileSize(model_.selectedSize()))));
    // Pressed while the model would refuse, the sheet closed as if the move had begun.
    move_->setEnabled(!model_.selectedFiles().empty() && !model_.processing() && !model_.scanning() &&
                      !model_.detectingDuplicates());
}
