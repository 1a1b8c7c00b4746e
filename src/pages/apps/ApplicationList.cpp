#include "pages/apps/ApplicationList.h"

#include "services/CachePlan.h"
#include "shell/ApplicationIcons.h"
#include "shell/DisplayText.h"
#include "shell/LocalizedText.h"
#include "shell/PageLayout.h"
#include "shell/controls/ActionConfirmation.h"
#include "shell/controls/PathLineDelegate.h"
#include "shell/style/Palette.h"
#include "shell/style/Typography.h"

#include <QAbstractListModel>
#include <QApplication>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QScrollBar>
#include <QStyleOptionButton>
#include <QToolTip>

#include <algorithm>
#include <set>

namespace {

constexpr int kInset = 10;     // above and below each row's content
constexpr int kSide = 12;      // left and right of each row's content
constexpr int kTile = 48;      // the icon's accent tile; the icon lies 5 px inside it
constexpr int kGap = 6;
constexpr int kLineGap = 5;

} // namespace

class ApplicationListModel : public QAbstractListModel {
public:
    // What a row shows besides the application itself, worked out once per listing.
    struct Row {
        bool rule = false;
        bool running = false;
        QString name, path, bundleID, iconKey;
    };

    using QAbstractListModel::QAbstractListModel;

    const std::vector<InstalledApp>& apps() const { return apps_; }
    const Row* row(int index) const { return index >= 0 && size_t(index) < rows_.size() ? &rows_[size_t(index)] : nullptr; }
    const InstalledApp& app(int index) const { return apps_[size_t(index)]; }

    // True when the same applications are listed in the same order; their rows are then
    // updated in place.
    bool update(std::vector<InstalledApp> apps)
    {
        bool same = apps.size() == apps_.size() &&
                    std::equal(apps.begin(), apps.end(), apps_.begin(),
                               [](const InstalledApp& a, const InstalledApp& b) { return a.path == b.path; });
        if (!same) {
            beginResetModel();
            apps_ = std::move(apps);
            rows_.clear();
            rows_.reserve(apps_.size());
            for (const InstalledApp& app : apps_) rows_.push_back(rowFor(app));
            endResetModel();
            return false;
        }
        for (size_t i = 0; i < apps.size(); ++i) {
            if (apps[i] == apps_[i]) continue;
            bool running = rows_[i].running;
            apps_[i] = std::move(apps[i]);
            rows_[i] = rowFor(apps_[i]);
            rows_[i].running = running;
            changed(int(i));
        }
        return true;
    }

    void setRunning(const std::function<bool(const InstalledApp&)>& running)
    {
        for (size_t i = 0; i < apps_.size(); ++i) {
            bool now = running(apps_[i]);
            if (now == rows_[i].running) continue;
            rows_[i].running = now;
            changed(int(i));
        }
    }

    int rowCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : int(rows_.size()); }

    Qt::ItemFlags flags(const QModelIndex& index) const override
    {
        // Editable only to open the read-only path field; nothing is ever written back.
        return index.isValid() ? (Qt::ItemIsEnabled | Qt::ItemIsEditable) : Qt::NoItemFlags;
    }

    QVariant data(const QModelIndex& index, int role) const override
    {
        const Row* shown = row(index.row());
        if (!shown) return {};
        switch (role) {
        case Qt::DisplayRole:
        case Qt::AccessibleTextRole: return shown->name;
        case Qt::EditRole: return shown->path;
        case Qt::AccessibleDescriptionRole: {
            QStringList parts{shown->path, shown->bundleID};
            if (shown->running) parts << L(QStringLiteral("运行中"));
            if (shown->rule) parts << L(QStringLiteral("检查缓存"));
            parts << L(QStringLiteral("卸载…"));
            return parts.join(QStringLiteral(" · "));
        }
        default: return {};
        }
    }

    bool setData(const QModelIndex&, const QVariant&, int) override { return false; }

private:
    std::vector<InstalledApp> apps_;
    std::vector<Row> rows_;

    static Row rowFor(const InstalledApp& app)
    {
        return Row{MaintenanceEngine::cacheRules().count(app.bundleID) > 0, false, displayLine(app.name),
                   displayLine(app.path), displayLine(app.bundleID),
                   ApplicationIcons::key(textFromBytes(app.path), app.modified)};
    }

    void changed(int row) { emit dataChanged(index(row), index(row)); }
};

class ApplicationRowDelegate : public PathLineDelegate {
public:
    struct RowLayout {
        QRect tile, icon, name, path, bundleID, running;
        QRect buttons[2];
    };

    explicit ApplicationRowDelegate(ApplicationList* list)
        : PathLineDelegate(Typography::caption(), QStringLiteral("app-path-field"), list), list_(list),
          nameFont_(Typography::system(14, QFont::DemiBold)), captionFont_(Typography::caption()),
          caption2Font_(Typography::caption2()), name_(nameFont_), caption_(captionFont_), caption2_(caption2Font_),
          running_(L(QStringLiteral("运行中")))
    {
        const QString titles[] = {L(QStringLiteral("检查缓存")), L(QStringLiteral("卸载…"))};
        for (int b : {0, 1}) {
            buttonFonts_[b] = QApplication::font();
            // The uninstall title is red and of medium weight, as the page's destructive buttons are.
            if (b == ApplicationList::uninstallButton) buttonFonts_[b].setWeight(QFont::Medium);
            titles_[b] = plainTitle(titles[b]);
            QStyleOptionButton probe;
            probe.text = titles_[b];
            QFontMetrics fm(buttonFonts_[b]);
            buttonSizes_[b] = list->style()->sizeFromContents(QStyle::CT_PushButton, &probe,
                                                              QSize(fm.horizontalAdvance(titles_[b]), fm.height()), list);
        }
        int texts = name_.height() + kLineGap + caption_.height() + kLineGap + caption2_.height();
        rowHeight_ = 2 * kInset + std::max({kTile, texts, buttonSizes_[0].height(), buttonSizes_[1].height()});
    }

    int rowHeight() const { return rowHeight_; }

    RowLayout layout(const QRect& rect, const ApplicationListModel::Row& row) const
    {
        RowLayout out;
        QRect content = rect.adjusted(kSide, kInset, -kSide, -kInset);
        out.tile = QRect(content.topLeft(), QSize(kTile, kTile));
        out.icon = out.tile.adjusted(5, 5, -5, -5);
        // From the right edge: uninstall, inspect (with a cache rule), the running mark.
        int right = content.right() + 1;
        for (int b : {ApplicationList::uninstallButton, ApplicationList::inspectButton}) {
            if (b == ApplicationList::inspectButton && !row.rule) continue;
            out.buttons[b] = QRect(QPoint(right - buttonSizes_[b].width(), content.top()), buttonSizes_[b]);
            right = out.buttons[b].left() - kGap;
        }
        if (row.running) {
            int width = caption_.horizontalAdvance(running_);
            out.running = QRect(right - width, content.top(), width, caption_.height());
            right = out.running.left() - kGap;
        }
        int left = out.tile.right() + 1 + kGap;
        int width = std::max(0, right - left);
        out.name = QRect(left, content.top(), width, name_.height());
        out.path = QRect(left, out.name.bottom() + 1 + kLineGap, width, caption_.height());
        out.bundleID = QRect(left, out.path.bottom() + 1 + kLineGap, width, caption2_.height());
        return out;
    }

    QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const override { return QSize(0, rowHeight_); }

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        const ApplicationListModel::Row* row = list_->model_->row(index.row());
        if (!row) return;
        RowLayout parts = layout(option.rect, *row);
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);

        QColor wash = Palette::accent();
        wash.setAlphaF(0.06f);
        QPainterPath tile;
        tile.addRoundedRect(QRectF(parts.tile), 10, 10);
        painter->fillPath(tile, wash);
        painter->setRenderHint(QPainter::SmoothPixmapTransform);
        // Only the cache is asked while painting; a missing icon is read later, off the paint.
        if (auto icon = ApplicationIcons::cached(row->iconKey)) {
            icon->paint(painter, parts.icon, Qt::AlignCenter);
        } else {
            ApplicationIcons::placeholder().paint(painter, parts.icon, Qt::AlignCenter, QIcon::Disabled);
            list_->iconWanted();
        }

        painter->setPen(Palette::ink());
        painter->setFont(nameFont_);
        painter->drawText(parts.name, Qt::AlignLeft | Qt::AlignVCenter,
                          name_.elidedText(row->name, Qt::ElideRight, parts.name.width()));
        painter->setPen(Palette::muted());
        painter->setFont(captionFont_);
        painter->drawText(parts.path, Qt::AlignLeft | Qt::AlignVCenter,
                          caption_.elidedText(row->path, Qt::ElideMiddle, parts.path.width()));
        if (row->running) painter->drawText(parts.running, Qt::AlignLeft | Qt::AlignVCenter, running_);
        painter->setFont(caption2Font_);
        painter->drawText(parts.bundleID, Qt::AlignLeft | Qt::AlignVCenter,
                          caption2_.elidedText(row->bundleID, Qt::ElideRight, parts.bundleID.width()));

        bool current = list_->hasFocus() && list_->currentIndex().row() == index.row();
        for (int b : {0, 1})
            if (!parts.buttons[b].isNull()) paintButton(painter, option, parts.buttons[b], index.row(), b, current);
        if (current) {
            // The row the keys act on, framed as the style frames a focused control.
            painter->setPen(QPen(Palette::accent(), 2));
            painter->setBrush(Qt::NoBrush);
            painter->drawRoundedRect(QRectF(option.rect).adjusted(3, 2, -3, -2), 8, 8);
        }
        painter->restore();
    }

    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override
    {
        const ApplicationListModel::Row* row = list_->model_->row(index.row());
        if (event->type() != QEvent::ToolTip || !row) return PathLineDelegate::helpEvent(event, view, option, index);
        RowLayout parts = layout(option.rect, *row);
        // Each line of user data has its whole text as its tooltip; it may be shortened.
        for (auto [area, text] : {std::pair{parts.name, row->name}, {parts.path, row->path}, {parts.bundleID, row->bundleID}})
            if (area.contains(event->pos())) {
                QToolTip::showText(event->globalPos(), text, view->viewport(), area);
                return true;
            }
        QToolTip::hideText();
        return true;
    }

protected:
    QRect pathLine(const QRect& rect, const QModelIndex& index) const override
    {
        const ApplicationListModel::Row* row = list_->model_->row(index.row());
        return row ? layout(rect, *row).path : QRect();
    }

private:
    ApplicationList* list_;
    QFont nameFont_, captionFont_, caption2Font_;
    QFontMetrics name_, caption_, caption2_;
    QString running_;
    QFont buttonFonts_[2];
    QString titles_[2];
    QSize buttonSizes_[2];
    int rowHeight_ = 0;

    void paintButton(QPainter* painter, const QStyleOptionViewItem& option, const QRect& rect, int row, int b,
                     bool currentRow) const
    {
        QStyleOptionButton button;
        button.initFrom(list_);
        button.palette = option.palette;
        button.rect = rect;
        button.text = titles_[b];
        button.state = QStyle::State_Raised;
        if (list_->buttonEnabled(row, ApplicationList::RowButton(b))) {
            button.state |= QStyle::State_Enabled;
            RowButtonHit hit{row, b};
            bool hovered = list_->buttons_->hovered() == hit;
            if (hovered) button.state |= QStyle::State_MouseOver;
            if (hovered && list_->buttons_->pressed() == hit) button.state |= QStyle::State_Sunken;
            if (b == ApplicationList::uninstallButton)
                for (auto group : {QPalette::Active, QPalette::Inactive})
                    button.palette.setColor(group, QPalette::ButtonText, Palette::destructive());
        } else {
            button.palette.setCurrentColorGroup(QPalette::Disabled);
        }
        if (currentRow && list_->chosenButton() == ApplicationList::RowButton(b))
            button.state |= QStyle::State_HasFocus | QStyle::State_KeyboardFocusChange;
        painter->setFont(buttonFonts_[b]);
        button.fontMetrics = QFontMetrics(buttonFonts_[b]);
        list_->style()->drawControl(QStyle::CE_PushButton, &button, painter, list_);
    }
};

ApplicationList::ApplicationList(QWidget* parent) : QListView(parent)
{
    setObjectName(QStringLiteral("app-rows"));
    model_ = new ApplicationListModel(this);
    delegate_ = new ApplicationRowDelegate(this);
    setModel(model_);
    setItemDelegate(delegate_);
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::NoSelection);
    setEditTriggers(QAbstractItemView::DoubleClicked);
    setTabKeyNavigation(false);
    // The panel behind the list paints the surface and its rounded outline.
    setUpPaintedRows(this, delegate_->rowHeight());
    setAccessibleName(L(QStringLiteral("应用与缓存")));
    buttons_ = new RowButtonTracker(
        this, [this](const QPoint& at) { return buttonAt(at); },
        [this](const RowButtonHit& hit) { return buttonRect(hit.row, RowButton(hit.button)); },
        [this](const RowButtonHit& hit) { press(hit.row, RowButton(hit.button)); },
        [this](const RowButtonHit& hit) {
            setCurrentIndex(model_->index(hit.row));
            chosen_ = RowButton(hit.button);
        });
    iconDelay_.setSingleShot(true);
    iconDelay_.setInterval(ApplicationIconView::onScreenDelayMs);
    connect(&iconDelay_, &QTimer::timeout, this, &ApplicationList::loadVisibleIcons);
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, [this] { iconDelay_.start(); });
}

ApplicationList::~ApplicationList()
{
    for (auto& [key, load] : iconLoads_) load->cancel();
}

void ApplicationList::setApps(std::vector<InstalledApp> apps)
{
    Place kept = place();
    // The row at the top of the view and how far it is scrolled, to keep it in view.
    QModelIndex top = indexAt(QPoint(0, 0));
    std::string anchor = top.isValid() ? model_->app(top.row()).path : std::string();
    int offset = top.isValid() ? visualRect(top).top() : 0;
    if (model_->update(std::move(apps))) return;
    buttons_->setHovered(std::nullopt);
    buttons_->cancelPress();
    executeDelayedItemsLayout();
    setPlace(kept);
    if (int row = rowOf(anchor); row >= 0)
        verticalScrollBar()->setValue(verticalScrollBar()->value() + visualRect(model_->index(row)).top() - offset);
}

const std::vector<InstalledApp>& ApplicationList::apps() const { return model_->apps(); }

void ApplicationList::setStates(bool busy, const std::function<bool(const InstalledApp&)>& running)
{
    model_->setRunning(running);
    if (busy == busy_) return;
    busy_ = busy;
    buttons_->setBlocked(busy);
    viewport()->update();
}

int ApplicationList::rowOf(const std::string& path) const
{
    const auto& apps = model_->apps();
    auto found = std::find_if(apps.begin(), apps.end(), [&](const InstalledApp& app) { return app.path == path; });
    return found == apps.end() ? -1 : int(found - apps.begin());
}

bool ApplicationList::hasButton(int row, RowButton button) const
{
    const ApplicationListModel::Row* shown = model_->row(row);
    return shown && (button == uninstallButton || shown->rule);
}

bool ApplicationList::buttonEnabled(int row, RowButton button) const
{
    // The running test counts only while the model is idle; busy already disables.
    return hasButton(row, button) && !busy_ && !model_->row(row)->running;
}

bool ApplicationList::showsRunning(int row) const
{
    const ApplicationListModel::Row* shown = model_->row(row);
    return shown && shown->running;
}

QRect ApplicationList::buttonRect(int row, RowButton button) const
{
    const ApplicationListModel::Row* shown = model_->row(row);
    QRect rect = shown ? visualRect(model_->index(row)) : QRect();
    return rect.isValid() ? delegate_->layout(rect, *shown).buttons[button] : QRect();
}

QRect ApplicationList::iconRect(int row) const
{
    const ApplicationListModel::Row* shown = model_->row(row);
    QRect rect = shown ? visualRect(model_->index(row)) : QRect();
    return rect.isValid() ? delegate_->layout(rect, *shown).icon : QRect();
}

bool ApplicationList::iconLoaded(int row) const
{
    const ApplicationListModel::Row* shown = model_->row(row);
    return shown && ApplicationIcons::cached(shown->iconKey).has_value();
}

std::optional<ApplicationList::RowButton> ApplicationList::chosenButton() const
{
    int row = currentIndex().row();
    if (!model_->row(row)) return std::nullopt;
    return hasButton(row, chosen_) ? chosen_ : uninstallButton;
}

ApplicationList::Place ApplicationList::place() const
{
    int row = currentIndex().row();
    return {model_->row(row) ? model_->app(row).path : std::string(), chosen_};
}

void ApplicationList::setPlace(const Place& place)
{
    chosen_ = place.button;
    int row = rowOf(place.current);
    if (row < 0) return;
    // The rows in view stay as they are: the view would otherwise scroll to the current row,
    // at once or, while hidden, when next shown.
    setAutoScroll(false);
    selectionModel()->setCurrentIndex(model_->index(row), QItemSelectionModel::NoUpdate);
    setAutoScroll(true);
}

std::optional<RowButtonHit> ApplicationList::buttonAt(const QPoint& viewportPos) const
{
    QModelIndex index = indexAt(viewportPos);
    for (RowButton b : {inspectButton, uninstallButton})
        if (index.isValid() && buttonRect(index.row(), b).contains(viewportPos)) return RowButtonHit{index.row(), b};
    return std::nullopt;
}

void ApplicationList::press(int row, RowButton button)
{
    if (!buttonEnabled(row, button)) return;
    // Like a native action button: a confirmation the action asks attaches to this window.
    QWidget* host = window();
    ActionConfirmation::setSourceWindow(host == this ? nullptr : host);
    InstalledApp app = model_->app(row);  // the handler may replace the rows
    if (button == inspectButton) emit inspectRequested(app);
    else emit uninstallRequested(app);
}

void ApplicationList::keyPressEvent(QKeyEvent* event)
{
    int row = currentIndex().row();
    bool plain = (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    if (plain && model_->row(row) && state() != QAbstractItemView::EditingState) {
        switch (event->key()) {
        case Qt::Key_Left:
        case Qt::Key_Right:
            // A row without a cache rule has only the uninstall button to choose.
            if (hasButton(row, inspectButton)) chosen_ = event->key() == Qt::Key_Left ? inspectButton : uninstallButton;
            viewport()->update(visualRect(currentIndex()));
            event->accept();
            return;
        case Qt::Key_Space:
        case Qt::Key_Return:
        case Qt::Key_Enter:
            press(row, *chosenButton());
            event->accept();
            return;
        default: break;
        }
    }
    QListView::keyPressEvent(event);
}

void ApplicationList::focusInEvent(QFocusEvent* event)
{
    QListView::focusInEvent(event);
    // Reached from the keyboard, the list starts on its first row, so the keys act at once.
    if (event->reason() != Qt::MouseFocusReason && !currentIndex().isValid() && model_->rowCount() > 0)
        selectionModel()->setCurrentIndex(model_->index(0), QItemSelectionModel::NoUpdate);
    viewport()->update();
}

void ApplicationList::focusOutEvent(QFocusEvent* event)
{
    QListView::focusOutEvent(event);
    viewport()->update();
}

void ApplicationList::iconWanted()
{
    if (!iconDelay_.isActive()) iconDelay_.start();
}

void ApplicationList::loadVisibleIcons()
{
    if (!isVisible()) return;
    QModelIndex first = indexAt(QPoint(0, 0));
    QModelIndex last = indexAt(QPoint(0, viewport()->height() - 1));
    int end = last.isValid() ? last.row() : model_->rowCount() - 1;
    std::set<QString> wanted;
    for (int row = first.isValid() ? first.row() : 0; first.isValid() && row <= end; ++row)
        if (!iconLoaded(row)) wanted.insert(model_->row(row)->iconKey);
    // Rows scrolled away give up their place in the icon queue.
    for (auto it = iconLoads_.begin(); it != iconLoads_.end();) {
        if (wanted.count(it->first)) {
            ++it;
            continue;
        }
        it->second->cancel();
        it = iconLoads_.erase(it);
    }
    QPointer<ApplicationList> self(this);
    for (int row = first.isValid() ? first.row() : 0; first.isValid() && row <= end; ++row) {
        const QString& key = model_->row(row)->iconKey;
        if (!wanted.count(key) || iconLoads_.count(key)) continue;
        const InstalledApp& app = model_->app(row);
        auto load = ApplicationIcons::load(textFromBytes(app.path), app.modified, [self, key](const QIcon&) {
            if (!self) return;
            self->iconLoads_.erase(key);
            self->viewport()->update();
        });
        if (load && !load->finished()) iconLoads_[key] = load;
    }
}
