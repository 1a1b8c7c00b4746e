#include "audit/RuntimeAudit.h"

#include "audit/AuditReports.h"
#include "audit/MainThreadTask.h"
#include "model/AppModel.h"
#include "shell/app/AppSettings.h"
#include "shell/window/LayoutStyle.h"
#include "shell/LocalizedText.h"
#include "shell/window/PageDestinations.h"

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QFileDialog>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QPromise>
#include <QWindow>
#include <chrono>
#include <exception>

namespace RuntimeAudit {

QString visiblePage;
std::optional<QString> contentPage;

namespace {

bool started = false;

const QString layoutMenu = QStringLiteral("布局");
const QString pageMenu = QStringLiteral("页面");
const QString organiseMenu = QStringLiteral("整理");
const QString chooseItem = QStringLiteral("选择文件夹…");
const QString panelCheck = QStringLiteral("directory-panel cancellation");

QString menuTitle(LayoutStyle layout)
{
    return layout == LayoutStyle::sidebar ? QStringLiteral("侧栏工作台") : QStringLiteral("顶部导航");
}

// Seconds of a monotonic clock.
double uptime()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

[[noreturn]] void failWith(AuditError::Kind kind, const QString& text = {}) { throw AuditError{kind, text}; }

// The first visible window, in the application's window order, that has a content view: the
// central widget of a main window, the widget itself for any other window.
QWidget* findMainWindow()
{
    const QWidgetList widgets = QApplication::topLevelWidgets();
    for (QWindow* handle : QGuiApplication::topLevelWindows()) {
        for (QWidget* widget : widgets) {
            if (widget->windowHandle() != handle || !widget->isVisible()) continue;
            Qt::WindowType type = widget->windowType();
            if (type == Qt::Popup || type == Qt::ToolTip || type == Qt::Desktop) continue;
            auto* main = qobject_cast<QMainWindow*>(widget);
            if (main && !main->centralWidget()) continue;
            return widget;
        }
    }
    return nullptr;
}

QWidget* contentViewOf(QWidget* window)
{
    if (auto* main = qobject_cast<QMainWindow*>(window)) return main->centralWidget();
    return window;
}

QMenuBar* menuBarOf(QWidget* window)
{
    auto* main = qobject_cast<QMainWindow*>(window);
    return main ? main->menuBar() : nullptr;
}

// The submenu of the first top-level item titled L(title), and in it the first item titled
// L(item); null when any of them is missing.
QMenu* topMenu(QMenuBar* bar, const QString& title)
{
    if (!bar) return nullptr;
    const QString wanted = L(title);
    for (QAction* top : bar->actions())
        if (shownTitle(top->text()) == wanted) return top->menu();
    return nullptr;
}

QAction* menuItem(QMenu* menu, const QString& title)
{
    if (!menu) return nullptr;
    const QString wanted = L(title);
    for (QAction* item : menu->actions())
        if (shownTitle(item->text()) == wanted) return item;
    return nullptr;
}

void bringToFront(QWidget* window)
{
    if (window->isActiveWindow()) return;
    window->show();
    window->raise();
    window->activateWindow();
    QApplication::setActiveWindow(window);
}

// What the menus hold before they open: their owners refresh items when asked.
void updateMenus(QMenuBar* bar)
{
    if (!bar) return;
    for (QAction* top : bar->actions())
        if (QMenu* submenu = top->menu()) emit submenu->aboutToShow();
}

// Lays out the pending layouts and paints what is dirty now, as the window would before its
// next frame.
void settle(QWidget* contentView)
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    QCoreApplication::sendPostedEvents(contentView->window(), QEvent::UpdateRequest);
}

bool isFolderPanel(QWidget* widget)
{
    auto* dialog = qobject_cast<QFileDialog*>(widget);
    return dialog && dialog->fileMode() == QFileDialog::Directory && dialog->acceptMode() == QFileDialog::AcceptOpen;
}

// The run's owner: a child of the model, so a run never outlives it; it ends the frame and
// the completion when it goes.
class AuditRun : public QObject {
public:
    AuditRun(AppModel& model, Request request, Timing timing)
        : QObject(&model), model_(model), request_(std::move(request)), timing_(timing), task_(body())
    {
        promise_.start();
    }
    ~AuditRun() override
    {
        // The program may end mid-run (the model goes with it): the stored layout is the
        // user's, so it goes back all the same.
        restoreLayout();
        if (!finished_) promise_.future().cancel();
        promise_.finish();
    }
    QFuture<void> future() { return promise_.future(); }
    void start() { task_.start(); }

private:
    AppModel& model_;
    Request request_;
    Timing timing_;
    QPromise<void> promise_;
    bool finished_ = false;
    MainThreadTask task_;

    QPointer<QWidget> window_;
    QPointer<QWidget> content_;
    std::optional<std::optional<QVariant>> savedLayout_;
    std::vector<Result> results_;

    MainThreadTask::Sleep sleep(int milliseconds) { return {this, milliseconds}; }
    QString folder() const { return request_.outputFolder; }
    QMenuBar* menuBar() const { return window_ ? menuBarOf(window_) : nullptr; }
    QWidget* content() const
    {
        if (!content_) failWith(AuditError::Kind::missingWindow);
        return content_;
    }

    MainThreadTask body();
    void switchLayout(LayoutStyle layout);
    // One turn of the event loop: the work queued so far runs first.
    MainThreadTask::Sleep noWait() { return {this, 0}; }
    void checkFolderPanel();
    void restoreLayout();
    void end();
};

MainThreadTask AuditRun::body()
{
    std::optional<QString> failure;
    try {
        AuditReports::createFolder(folder());
        co_await sleep(timing_.afterFolder);

        window_ = findMainWindow();
        if (!window_) failWith(AuditError::Kind::missingWindow);
        content_ = contentViewOf(window_);
        bringToFront(window_);
        co_await sleep(timing_.afterFront);

        updateMenus(menuBar());
        AuditReports::writePlain(folder(), QStringLiteral("menus.txt"), menusText(menuBar()));
        if (!window_) failWith(AuditError::Kind::missingWindow);
        AuditReports::writePlain(folder(), QStringLiteral("tree.txt"), treeText(elements(window_.data(), 0)));

        if (!request_.coldApps) {
            QFuture<void> listed = model_.refreshInstalledApps();
            co_await MainThreadTask::Completion{this, &listed};
        }

        savedLayout_ = AppSettings::shared().storedValue(AppSettings::layoutKey);

        for (LayoutStyle layout : allLayoutStyles) {
            switchLayout(layout);
            co_await sleep(timing_.afterLayout);
            for (int64_t round = 0; round < 3; ++round) {
                for (const PageDestination& destination : Pages::destinations()) {
                    const QString& page = destination.title;
                    QAction* item = menuItem(topMenu(menuBar(), pageMenu), page);
                    if (!item || !item->isEnabled()) failWith(AuditError::Kind::missingControl, page);
                    if (!window_) failWith(AuditError::Kind::missingWindow);
                    bringToFront(window_);

                    double start = uptime();
                    item->trigger();
                    for (int checks = 0;; ++checks) {
                        co_await noWait();
                        settle(content());
                        if (visiblePage == page) break;
                        co_await sleep(timing_.pollInterval);
                        if (checks + 1 >= timing_.visibleChecks) failWith(AuditError::Kind::timeout, page);
                    }
                    double visible = uptime();
                    co_await sleep(timing_.pollInterval);
                    double mounted = 0;
                    for (int checks = 0;; ++checks) {
                        settle(content());
                        if (contentPage == page) {
                            mounted = uptime();
                            break;
                        }
                        if (checks + 1 >= timing_.contentChecks)
                            failWith(AuditError::Kind::timeout, QStringLiteral("content-") + page);
                        co_await sleep(timing_.pollInterval);
                    }
                    results_.push_back({rawValue(layout), page, round, (visible - start) * 1000, (mounted - start) * 1000});

                    if (round == 0) {
                        QByteArray png = AuditReports::picture(content());
                        if (png.isEmpty()) failWith(AuditError::Kind::missingWindow);
                        AuditReports::writePlain(folder(), rawValue(layout) + QLatin1Char('-') + page + QStringLiteral(".png"),
                                                 png);
                    }
                    co_await sleep(timing_.afterPage);
                }
            }
        }

        AuditReports::writeAtomic(folder(), QStringLiteral("navigation.json"), navigationJson(results_));
        checkFolderPanel();
        AuditReports::writePlain(folder(), QStringLiteral("status.txt"), QByteArrayLiteral("complete\n"));
    } catch (const AuditError& error) {
        failure = error.description();
    } catch (const AuditReports::ReportError& error) {
        failure = error.description;
    } catch (const std::exception& error) {
        // The encoder's failures.
        failure = QString::fromUtf8(error.what());
    }

    restoreLayout();
    if (failure) {
        try {
            AuditReports::writePlain(folder(), QStringLiteral("error.txt"), failure->toUtf8());
        } catch (const AuditReports::ReportError&) {
            // Nothing else is left to tell it with.
        }
    }
    end();
}

void AuditRun::switchLayout(LayoutStyle layout)
{
    QAction* item = menuItem(topMenu(menuBar(), layoutMenu), menuTitle(layout));
    if (!item) failWith(AuditError::Kind::missingControl, L(menuTitle(layout)));
    item->trigger();
}

void AuditRun::checkFolderPanel()
{
    QMenu* organise = topMenu(menuBar(), organiseMenu);
    QAction* item = menuItem(organise, chooseItem);
    // No such item is no failure: there is simply no panel to check.
    if (!item) return;

    // The chooser runs modally inside the item's action; this timer, running in that modal
    // loop, cancels it once it is up.
    bool cancelled = false;
    QTimer timer;
    timer.setInterval(timing_.panelInterval);
    QObject::connect(&timer, &QTimer::timeout, this, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!isFolderPanel(modal)) return;
        cancelled = true;
        timer.stop();
        static_cast<QDialog*>(modal)->reject();
    });
    timer.start();
    item->trigger();
    timer.stop();
    if (!cancelled || model_.root()) failWith(AuditError::Kind::missingControl, panelCheck);
    AuditReports::writePlain(folder(), QStringLiteral("directory-panel.txt"),
                             QByteArrayLiteral("native directory panel opened and cancelled; scan disabled without root\n"));
}

void AuditRun::restoreLayout()
{
    if (!savedLayout_) return;
    AppSettings::shared().restoreValue(AppSettings::layoutKey, *savedLayout_);
    savedLayout_.reset();
}

void AuditRun::end()
{
    finished_ = true;
    promise_.finish();
    deleteLater();
}

} // namespace

QString AuditError::description() const
{
    switch (kind) {
    case Kind::missingControl: return QStringLiteral("missingControl(\"%1\")").arg(text);
    case Kind::timeout: return QStringLiteral("timeout(\"%1\")").arg(text);
    case Kind::missingWindow: return QStringLiteral("missingWindow");
    }
    return {};
}

std::optional<Request> requestFrom(const QStringList& arguments)
{
    qsizetype option = arguments.indexOf(QStringLiteral("--ui-audit-output"));
    if (option < 0 || option + 1 >= arguments.size()) return std::nullopt;
    return Request{arguments[option + 1], arguments.contains(QStringLiteral("--ui-audit-cold-apps"))};
}

QFuture<void> run(AppModel& model, const Request& request, const Timing& timing)
{
    auto* audit = new AuditRun(model, request, timing);
    QFuture<void> future = audit->future();
    // Started from the event loop, so the caller (a view being shown) finishes first.
    QTimer::singleShot(0, audit, [audit] { audit->start(); });
    return future;
}

void startIfRequested(AppModel& model)
{
    const QStringList arguments = QCoreApplication::arguments();
    if (started || arguments.isEmpty()) return;
    std::optional<Request> request = requestFrom(arguments);
    if (!request) return;
    started = true;
    run(model, *request);
}

ShellHooks::Audit shellHooks()
{
    ShellHooks::Audit hooks;
    hooks.start = [](AppModel& model) { startIfRequested(model); };
    hooks.pageShown = [](const QString& visible, const std::optional<QString>& content) {
        visiblePage = visible;
        contentPage = content;
    };
    return hooks;
}

} // namespace RuntimeAudit
