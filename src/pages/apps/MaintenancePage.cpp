#include "pages/apps/MaintenancePage.h"

#include "model/AppModel.h"
#include "model/Completion.h"
#include "pages/apps/CacheReviewView.h"
#include "shell/controls/DisclosureGroup.h"
#include "shell/controls/RoundedPanel.h"
#include "shell/controls/SheetWidgets.h"
#include "pages/apps/UninstallReviewView.h"
#include "services/CachePlan.h"
#include "shell/controls/ContentUnavailableView.h"
#include "shell/DisplayText.h"
#include "shell/LocalizedText.h"
#include "shell/PageLayout.h"
#include "shell/controls/StyledLabel.h"

#include <QHBoxLayout>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <memory>

MaintenancePage::MaintenancePage(AppModel& model, QWidget* parent) : QWidget(parent), model_(model)
{
    setObjectName(QStringLiteral("maintenance-page"));
    auto* stack = column(this, 14);
    stack->addWidget(buildHeader());
    stack->addWidget(buildContent(), 1);
    stack->addWidget(buildRules());

    connect(&model_, &AppModel::installedAppsChanged, this, [this] {
        refreshCount();
        applySearch();
    });
    connect(searchField_, &QLineEdit::textChanged, this, &MaintenancePage::applySearch);
    for (auto signal : {&AppModel::maintenanceBusyChanged, &AppModel::runningApplicationIDsChanged,
                        &AppModel::runningApplicationPathsChanged})
        connect(&model_, signal, this, &MaintenancePage::refreshStates);

    refreshCount();
    applySearch();
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

    auto* panel = new RoundedPanel(14, true);
    panel->setObjectName(QStringLiteral("app-list"));
    auto* panelColumn = new QVBoxLayout(panel);
    panelColumn->setContentsMargins(1, 4, 1, 4);
    list_ = new ApplicationList();
    connect(list_, &ApplicationList::inspectRequested, this, &MaintenancePage::inspect);
    connect(list_, &ApplicationList::uninstallRequested, this, &MaintenancePage::uninstall);
    panelColumn->addWidget(list_);
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

// ---------------------------------------------------------------------------------------------
// Redrawing

// A search replaces the rows of the one list; thousands of applications cost no widgets.
void MaintenancePage::applySearch()
{
    shown_ = visibleApps(model_.installedApps(), searchField_->text());
    list_->setApps(shown_);
    refreshStates();
}

void MaintenancePage::refreshStates()
{
    const bool busy = model_.maintenanceBusy();
    refreshButton_->setEnabled(!busy);
    busyIndicator_->setVisible(model_.maintenanceScanning() || model_.processing());

    Content state = content();
    content_->setCurrentIndex(static_cast<int>(state));

    list_->setStates(busy, [this](const InstalledApp& app) { return model_.appAppearsRunning(app); });
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

std::any MaintenancePage::handOver()
{
    Carried carried;
    carried.search = searchField_->text();
    carried.rulesOpen = rules_->expanded();
    carried.listPosition = listPosition(list_);
    carried.listPlace = list_->place();
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
    list_->setPlace(carried->listPlace);
    restoreListPosition(list_, carried->listPosition);
    if (carried->inspection) awaitInspection(*carried->inspection);
    if (carried->cacheSheet) showCacheSheet(&*carried->cacheSheet);
    if (carried->uninstalling) openUninstallSheet(*carried->uninstalling, &*carried->uninstallSheet);
}
