#include "pages/apps/MaintenancePage.h"

#include <unordered_set>

#include "model/AppModel.h"
#include "model/Completion.h"
#include "pages/apps/CacheReviewView.h"
#include "shell/controls/AccentTile.h"
#include "shell/controls/DisclosureGroup.h"
#include "shell/controls/RoundedPanel.h"
#include "shell/controls/SheetWidgets.h"
#include "pages/apps/UninstallReviewView.h"
#include "services/CachePlan.h"
#include "shell/ApplicationIcons.h"
#include "shell/controls/ContentUnavailableView.h"
#include "shell/DisplayText.h"
#include "shell/LocalizedText.h"
#include "shell/controls/NativeActionButton.h"
#include "shell/PageLayout.h"
#include "shell/controls/StyledLabel.h"

#include <QHBoxLayout>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QResizeEvent>
#include <QScrollArea>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include <memory>

namespace {

// One line of user data shortened to the room it has (a path in the middle, a name at the
// end); the whole text is its tooltip.
class ElidedLabel : public StyledLabel {
public:
    ElidedLabel(const QString& text, const QFont& font, Tone tone, Qt::TextElideMode mode)
        : StyledLabel(font, tone), full_(text), mode_(mode)
    {
        setToolTip(text);
        setTextFormat(Qt::PlainText);
        setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        setMinimumWidth(60);
        setText(full_);
    }
    QSize sizeHint() const override { return {fontMetrics().horizontalAdvance(full_), StyledLabel::sizeHint().height()}; }

protected:
    void resizeEvent(QResizeEvent* event) override
    {
        StyledLabel::resizeEvent(event);
        setText(fontMetrics().elidedText(full_, mode_, event->size().width()));
    }

private:
    QString full_;
    Qt::TextElideMode mode_;
};

} // namespace

MaintenancePage::MaintenancePage(AppModel& model, QWidget* parent) : QWidget(parent), model_(model)
{
    setObjectName(QStringLiteral("maintenance-page"));
    auto* stack = column(this, 14);
    stack->addWidget(buildHeader());
    stack->addWidget(buildContent(), 1);
    stack->addWidget(buildRules());

    connect(&model_, &AppModel::installedAppsChanged, this, [this] {
        refreshCount();
        rebuildRows();
    });
    connect(searchField_, &QLineEdit::textChanged, this, &MaintenancePage::applySearch);
    for (auto signal : {&AppModel::maintenanceBusyChanged, &AppModel::runningApplicationIDsChanged,
                        &AppModel::runningApplicationPathsChanged})
        connect(&model_, signal, this, &MaintenancePage::refreshStates);

    refreshCount();
    rebuildRows();
    // The main view may ask for the same listing as it mounts the page; the model runs one
    // and refuses the other while it is busy.
    startupListing_ = model_.installedApps().empty() ? model_.refreshInstalledApps() : QtFuture::makeReadyFuture();
}

std::vector<InstalledApp> MaintenancePage::visibleApps(const std::vector<InstalledApp>& apps, const QString& search)
{
    if (search.isEmpty()) return apps;
    std::vector<InstalledApp> out;
    for (const InstalledApp& app : apps)
        if (textFromBytes(app.name).contains(search, Qt::CaseInsensitive) ||
            textFromBytes(app.bundleID).contains(search, Qt::CaseInsensitive))
            out.push_back(app);
    return out;
}

// ---------------------------------------------------------------------------------------------
// Building

QWidget* MaintenancePage::buildHeader()
{
    auto* header = new QWidget();
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(0, 0, 0, 0);
    refreshButton_ = new QPushButton(plainTitle(L(QStringLiteral("刷新应用列表"))));
    refreshButton_->setObjectName(QStringLiteral("refresh-apps"));
    refreshButton_->setAutoDefault(false);
    connect(refreshButton_, &QPushButton::clicked, this, [this] { model_.refreshInstalledApps(); });
    row->addWidget(refreshButton_, 0, Qt::AlignVCenter);
    busyIndicator_ = SheetWidgets::spinner(60);
    busyIndicator_->setObjectName(QStringLiteral("maintenance-busy"));
    row->addWidget(busyIndicator_, 0, Qt::AlignVCenter);
    countLine_ = new StyledLabel(Typography::caption(), StyledLabel::Tone::muted);
    countLine_->setObjectName(QStringLiteral("app-count"));
    row->addWidget(countLine_, 0, Qt::AlignVCenter);
    row->addStretch(1);
    searchField_ = new QLineEdit();
    searchField_->setObjectName(QStringLiteral("app-search"));
    searchField_->setPlaceholderText(L(QStringLiteral("搜索应用")));
    searchField_->setAccessibleName(L(QStringLiteral("搜索应用")));
    searchField_->setFixedWidth(180);
    row->addWidget(searchField_, 0, Qt::AlignVCenter);
    return header;
}

QWidget* MaintenancePage::buildContent()
{
    content_ = new QStackedWidget();
    content_->setObjectName(QStringLiteral("maintenance-content"));

    auto* reading = new QWidget();
    auto* readingColumn = new QVBoxLayout(reading);
    readingColumn->setSpacing(12);
    readingColumn->addStretch(1);
    readingColumn->addWidget(SheetWidgets::spinner(160), 0, Qt::AlignHCenter);
    auto* readingText = new StyledLabel(Typography::callout(), StyledLabel::Tone::muted);
    readingText->setText(L(QStringLiteral("正在读取应用列表…")));
    readingColumn->addWidget(readingText, 0, Qt::AlignHCenter);
    readingColumn->addStretch(1);
    content_->addWidget(reading);

    content_->addWidget(new ContentUnavailableView(
        QStringLiteral("app"), QStringLiteral("尚无应用列表"),
        QStringLiteral("点击刷新；系统应用、Tessyn自身和无法识别的应用包不会列出。")));
    content_->addWidget(new ContentUnavailableView(QStringLiteral("magnifyingglass"), QStringLiteral("没有匹配应用"),
                                                   QStringLiteral("尝试其他名称或清空搜索。")));

    RoundedPanel* panel = scrollingPanel(14, rowColumn_);
    panel->setObjectName(QStringLiteral("app-list"));
    rowColumn_->setContentsMargins(0, 4, 0, 4);
    rowColumn_->setSpacing(0);
    content_->addWidget(panel);
    return content_;
}

QWidget* MaintenancePage::buildRules()
{
    auto* panel = new RoundedPanel(10, false);
    panel->setObjectName(QStringLiteral("maintenance-rules"));
    auto* column = new QVBoxLayout(panel);
    column->setContentsMargins(12, 12, 12, 12);
    rules_ = new DisclosureGroup(
        L(QStringLiteral("处理范围与缓存规则 · 默认保留关联项")),
        L(QStringLiteral("仅识别 /Applications 与 ~/Applications 的第三方直接应用包，不使用管理员权限。VLC、Spotify、"
                         "Slack、Zoom 精确缓存目录及 Discord 的 Cache 子目录，候选修改超过 7 天；不清理整个支持目录、"
                         "登录数据或容器。")),
        Typography::caption());
    column->addWidget(rules_);
    return panel;
}

MaintenancePage::Row MaintenancePage::buildRow(const InstalledApp& app)
{
    Row row{app};
    row.widget = new QWidget();
    row.widget->setObjectName(textFromBytes(app.path));
    auto* line = new QHBoxLayout(row.widget);
    line->setContentsMargins(12, 10, 12, 10);

    // The icon's tile: the accent colour at 6 % opacity in a rounded square.
    auto* tile = new AccentTile(48, 10, 0.06);
    auto* tileLayout = new QVBoxLayout(tile);
    tileLayout->setContentsMargins(5, 5, 5, 5);
    auto* icon = new ApplicationIconView();
    icon->setFixedSize(38, 38);
    icon->setApplication(textFromBytes(app.path), app.modified);
    tileLayout->addWidget(icon);
    line->addWidget(tile, 0, Qt::AlignTop);

    auto* texts = new QVBoxLayout();
    texts->setSpacing(5);
    texts->addWidget(new ElidedLabel(displayLine(app.name), Typography::system(14, QFont::DemiBold), StyledLabel::Tone::ink,
                                     Qt::ElideRight));
    auto* path = new ElidedLabel(displayLine(app.path), Typography::caption(), StyledLabel::Tone::muted, Qt::ElideMiddle);
    path->setTextInteractionFlags(Qt::TextSelectableByMouse);
    texts->addWidget(path);
    texts->addWidget(new ElidedLabel(displayLine(app.bundleID), Typography::caption2(), StyledLabel::Tone::muted, Qt::ElideRight));
    line->addLayout(texts, 1);

    row.running = new StyledLabel(Typography::caption(), StyledLabel::Tone::muted);
    row.running->setObjectName(QStringLiteral("running"));
    row.running->setText(L(QStringLiteral("运行中")));
    line->addWidget(row.running, 0, Qt::AlignTop);
    if (MaintenanceEngine::cacheRules().count(app.bundleID)) {
        row.inspect = new QPushButton(plainTitle(L(QStringLiteral("检查缓存"))));
        row.inspect->setObjectName(QStringLiteral("inspect-cache"));
        row.inspect->setAutoDefault(false);
        connect(row.inspect, &QPushButton::clicked, this, [this, app] { inspect(app); });
        line->addWidget(row.inspect, 0, Qt::AlignTop);
    }
    row.uninstall = new NativeActionButton(QStringLiteral("卸载…"), NativeActionButton::Emphasis::destructive,
                                            [this, app] { uninstall(app); });
    row.uninstall->setObjectName(QStringLiteral("uninstall"));
    line->addWidget(row.uninstall, 0, Qt::AlignTop);
    return row;
}

// ---------------------------------------------------------------------------------------------
// Redrawing

void MaintenancePage::rebuildRows()
{
    for (Row& row : rows_) delete row.widget;
    rows_.clear();
    const std::vector<InstalledApp>& apps = model_.installedApps();
    for (size_t i = 0; i < apps.size(); ++i) {
        rows_.push_back(buildRow(apps[i]));
        rowColumn_->insertWidget(static_cast<int>(i), rows_.back().widget);
    }
    chainTabOrder();
    applySearch();
}

// Rows made after the page join the end of the window's tab order, behind the rules: put
// them back between the search field and the rules, in the list's order.
void MaintenancePage::chainTabOrder()
{
    QWidget* previous = searchField_;
    for (const Row& row : rows_)
        for (QWidget* button : {static_cast<QWidget*>(row.inspect), static_cast<QWidget*>(row.uninstall)})
            if (button) {
                QWidget::setTabOrder(previous, button);
                previous = button;
            }
    QWidget::setTabOrder(previous, rules_->toggle());
}

// Rows are hidden, not made again: a thousand applications rebuilt for every keystroke
// kept the page from answering for over a second each time.
void MaintenancePage::applySearch()
{
    shown_ = visibleApps(model_.installedApps(), searchField_->text());
    std::unordered_set<std::string> matching;
    for (const InstalledApp& app : shown_) matching.insert(app.path);
    for (Row& row : rows_) row.widget->setVisible(matching.count(row.app.path) > 0);
    refreshStates();
}

void MaintenancePage::refreshStates()
{
    const bool busy = model_.maintenanceBusy();
    refreshButton_->setEnabled(!busy);
    busyIndicator_->setVisible(model_.maintenanceScanning() || model_.processing());

    Content state = content();
    content_->setCurrentIndex(static_cast<int>(state));

    for (Row& row : rows_) {
        const bool running = model_.appAppearsRunning(row.app);
        row.running->setVisible(running);
        // The running test counts only while the model is idle; busy already disables.
        const bool blocked = busy || running;
        if (row.inspect) row.inspect->setEnabled(!blocked);
        row.uninstall->setEnabled(!blocked);
    }
}

void MaintenancePage::refreshCount()
{
    const auto& apps = model_.installedApps();
    size_t withRule = 0;
    for (const InstalledApp& app : apps) withRule += MaintenanceEngine::cacheRules().count(app.bundleID);
    countLine_->setText(L(QString::number(apps.size()) + QStringLiteral(" 个应用 · ") + QString::number(withRule) +
                          QStringLiteral(" 个可检查缓存")));
}

MaintenancePage::Content MaintenancePage::content() const
{
    if (model_.installedApps().empty())
        return model_.maintenanceScanning() ? Content::reading : Content::noApplications;
    return shown_.empty() ? Content::noMatch : Content::list;
}

QWidget* MaintenancePage::row(const std::string& path) const
{
    for (const Row& row : rows_)
        if (row.app.path == path && !row.widget->isHidden()) return row.widget;
    return nullptr;
}

// ---------------------------------------------------------------------------------------------
// Actions

void MaintenancePage::inspect(const InstalledApp& app)
{
    // Open the sheet only on a plan this inspection published for this application: a refused
    // inspection publishes nothing and leaves an earlier plan (maybe another application's)
    // in the model. The watch lasts as long as the inspection, not the page: a language change
    // may put another page in this one's place meanwhile.
    auto produced = std::make_shared<bool>(false);
    auto watch = std::make_shared<QMetaObject::Connection>();
    AppModel* model = &model_;
    *watch = connect(model, &AppModel::cachePlanChanged, model, [model, produced, path = app.path] {
        *produced = model->cachePlan() && model->cacheApp() && model->cacheApp()->path == path;
    });
    QFuture<void> done = model_.inspectCache(app);
    whenFinished(model, done, [watch] { QObject::disconnect(*watch); });
    awaitInspection({app.path, done, produced});
}

void MaintenancePage::awaitInspection(const Inspection& inspection)
{
    inspection_ = inspection;
    whenFinished(this, inspection.done, [this, inspection] {
        // Only while this page still awaits it: a page that handed it over leaves it to its
        // successor.
        if (!inspection_ || inspection_->produced != inspection.produced) return;
        inspection_.reset();
        const auto& app = model_.cacheApp();
        if (*inspection.produced && model_.cachePlan() && app && app->path == inspection.path) showCacheSheet();
    });
}

void MaintenancePage::showCacheSheet(const PageCarry* carry)
{
    if (cacheSheet_) return;
    cacheSheet_ = new CacheReviewView(model_, this);
    cacheSheet_->setAttribute(Qt::WA_DeleteOnClose);
    cacheSheet_->open();
    if (carry) carry->into(cacheSheet_);
}

void MaintenancePage::uninstall(const InstalledApp& app) { openUninstallSheet(app); }

void MaintenancePage::openUninstallSheet(const InstalledApp& app, const PageCarry* carry)
{
    if (uninstallSheet_) return;
    uninstallSheet_ = new UninstallReviewView(model_, app, this);
    uninstallSheet_->setAttribute(Qt::WA_DeleteOnClose);
    uninstallSheet_->open();
    if (carry) carry->into(uninstallSheet_);
}

// ---------------------------------------------------------------------------------------------
// Language change

QAbstractScrollArea* MaintenancePage::list() const
{
    return content_->widget(static_cast<int>(Content::list))->findChild<QAbstractScrollArea*>();
}

std::any MaintenancePage::handOver()
{
    Carried carried;
    carried.search = searchField_->text();
    carried.rulesOpen = rules_->expanded();
    carried.listPosition = listPosition(list());
    carried.inspection = std::exchange(inspection_, std::nullopt);
    if (cacheSheet_) carried.cacheSheet = PageCarry::from(cacheSheet_);
    if (uninstallSheet_) {
        carried.uninstalling = uninstallSheet_->app();
        carried.uninstallSheet = PageCarry::from(uninstallSheet_);
    }
    dropWindow(cacheSheet_);
    dropWindow(uninstallSheet_);
    return carried;
}

void MaintenancePage::takeOver(std::any state)
{
    const auto* carried = std::any_cast<Carried>(&state);
    if (!carried) return;
    searchField_->setText(carried->search);
    rules_->setExpanded(carried->rulesOpen);
    restoreListPosition(list(), carried->listPosition);
    if (carried->inspection) awaitInspection(*carried->inspection);
    if (carried->cacheSheet) showCacheSheet(&*carried->cacheSheet);
    if (carried->uninstalling) openUninstallSheet(*carried->uninstalling, &*carried->uninstallSheet);
}
