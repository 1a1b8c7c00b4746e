#include "../MainWindowTestSupport.h"

#include "audit/RuntimeAudit.h"
#include "shell/controls/ActionConfirmation.h"
#include "shell/window/AppMenus.h"
#include "shell/app/AppSettings.h"
#include "shell/app/AppVersion.h"
#include "shell/window/CachedPageHost.h"
#include "shell/LocalizedText.h"
#include "shell/window/MainView.h"
#include "shell/window/MainWindow.h"
#include "shell/window/NavigationBus.h"
#include "shell/window/NavigationItem.h"
#include "shell/window/PendingPage.h"
#include "shell/window/SettingsWindow.h"
#include "shell/app/TessynDelegate.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QTimer>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSettings>
#include <QFile>
#include <QImage>
#include <QSignalSpy>
#include <QToolButton>
#include <QVBoxLayout>

#include <csignal>
#include "QtWaits.h"

namespace {

const QStringList kPages{"概览", "内存", "文件", "应用与缓存", "操作记录", "设置"};

class MainWindowTest : public ShellTest {
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        setSetting(AppSettings::layoutKey, QStringLiteral("sidebar"));
    }
};

QKeySequence pageKey(int digit) { return QKeySequence(Qt::CTRL | (Qt::Key_0 + digit)); }

// A page made to scroll: a tall column in a scroll area.
QWidget* tallPage(const QString& id)
{
    auto* area = new QScrollArea();
    area->setObjectName(QStringLiteral("tall-") + id);
    auto* body = new QWidget();
    body->setMinimumHeight(4000);
    area->setWidget(body);
    area->setWidgetResizable(true);
    return area;
}

QStringList visibleLabels(QWidget* root)
{
    QStringList texts;
    for (QLabel* label : root->findChildren<QLabel*>())
        if (label->isVisibleTo(root)) texts << label->text();
    return texts;
}

} // namespace

TEST_F(MainWindowTest, PageShortcutsSwitchPagesHeaderAndAuditValues)
{
    ShellHarness shell;
    MainWindow* window = shell.openWindow();
    MainView* view = viewOf(window);
    EXPECT_EQ(view->page(), "概览");
    EXPECT_EQ(RuntimeAudit::visiblePage, "概览");
    EXPECT_EQ(RuntimeAudit::contentPage, std::optional<QString>("概览"));

    for (int digit = 1; digit <= 6; ++digit) {
        const QString page = kPages[digit - 1];
        // Step backwards through the list too, so every shortcut changes the page.
        int other = digit == 1 ? 2 : 1;
        if (view->page() == page) press(window, pageKey(other));
        press(window, pageKey(digit));
        EXPECT_EQ(view->page(), page) << "Ctrl+" << digit;
        EXPECT_EQ(RuntimeAudit::visiblePage, page);
        ASSERT_TRUE(waitReady(view, page)) << page.toStdString();
        EXPECT_EQ(RuntimeAudit::contentPage, std::optional<QString>(page));
        QLabel* header = window->findChild<QLabel*>(QStringLiteral("page-") + page);
        ASSERT_NE(header, nullptr) << "header page-" << page.toStdString();
        EXPECT_EQ(header, view->headerTitle());
        EXPECT_EQ(header->text(), L(page, AppLanguage::english));
        EXPECT_FALSE(view->loadingPlaceholder()->isVisible()) << page.toStdString();
        for (NavigationItem* item : view->navigationItems())
            EXPECT_EQ(item->isSelected(), item->page() == page) << item->page().toStdString();
        QWidget* shown = view->pageHost()->page(page);
        ASSERT_NE(shown, nullptr);
        EXPECT_TRUE(shown->isVisible());
    }
    // Pages not built yet say so, in their own words.
    auto* pending = qobject_cast<PendingPage*>(view->pageHost()->page("内存"));
    ASSERT_NE(pending, nullptr);
    EXPECT_TRUE(visibleLabels(pending).contains("This page is not built yet."));
    EXPECT_EQ(view->pageHost()->pageIds().size(), 6);
}

TEST_F(MainWindowTest, PageCommandReachesOnlyTheAddressedWindow)
{
    ShellHarness shell;
    MainWindow* first = shell.openWindow();
    MainWindow* second = shell.openWindow();
    ASSERT_TRUE(activate(second));
    press(second, pageKey(2));
    EXPECT_EQ(viewOf(second)->page(), "内存");
    EXPECT_EQ(viewOf(first)->page(), "概览") << "the other window keeps its page";

    ASSERT_TRUE(activate(first));
    press(first, pageKey(5));
    EXPECT_EQ(viewOf(first)->page(), "操作记录");
    EXPECT_EQ(viewOf(second)->page(), "内存");

    // The menu item itself addresses the active window.
    shell.app->menus().action("文件")->trigger();
    EXPECT_EQ(viewOf(first)->page(), "文件");
    EXPECT_EQ(viewOf(second)->page(), "内存");

    // Notifications without a window, for a widget that is not a window, or without a probe
    // report change nothing.
    NavigationBus::shared().post(nullptr, "设置");
    NavigationBus::shared().post(viewOf(first), "设置");
    EXPECT_EQ(viewOf(first)->page(), "文件");
    EXPECT_EQ(viewOf(second)->page(), "内存");
    MainWindow* third = shell.app->openMainWindow();
    NavigationBus::shared().post(third, "设置");
    EXPECT_EQ(viewOf(third)->page(), "概览") << "before its probe reported, a window ignores page commands";
    ASSERT_TRUE(QTest::qWaitFor([&] { return viewOf(third)->navigationWindow() == third; }));
    NavigationBus::shared().post(third, "设置");
    EXPECT_EQ(viewOf(third)->page(), "设置");

    // An identifier outside the six is shown as its own title over the overview.
    NavigationBus::shared().post(third, "别处");
    ASSERT_TRUE(waitReady(viewOf(third), "别处"));
    EXPECT_EQ(viewOf(third)->headerTitle()->objectName(), "page-别处");
    EXPECT_EQ(viewOf(third)->headerTitle()->text(), "别处");
    EXPECT_NE(viewOf(third)->pageHost()->page("别处"), viewOf(third)->pageHost()->page("概览"));
    EXPECT_NE(viewOf(third)->pageHost()->page("别处")->findChild<QPushButton*>(), nullptr);
    EXPECT_TRUE(visibleLabels(viewOf(third)).contains(L("你的 Mac，井然有序。", AppLanguage::english)));
    for (NavigationItem* item : viewOf(third)->navigationItems()) EXPECT_FALSE(item->isSelected());
}

TEST_F(MainWindowTest, QuickSwitchMountsOnlyTheLastPageAndRefreshesTheInventoryOnce)
{
    ShellHarness shell;
    MainWindow* window = shell.openWindow();
    MainView* view = viewOf(window);
    QSignalSpy inventory(&shell.model(), &AppModel::maintenanceScanningChanged);

    press(window, pageKey(3));
    EXPECT_TRUE(view->loadingPlaceholder()->isVisible()) << "a page never built waits behind the placeholder";
    EXPECT_EQ(RuntimeAudit::contentPage, std::nullopt);
    QLabel* loading = nullptr;
    for (QLabel* label : view->loadingPlaceholder()->findChildren<QLabel*>()) loading = label;
    ASSERT_NE(loading, nullptr);
    EXPECT_EQ(loading->text(), "Loading Files…");
    EXPECT_EQ(view->loadingPlaceholder()->objectName(), "page-loading");
    QCoreApplication::processEvents();
    EXPECT_EQ(view->pageHost()->page("文件"), nullptr) << "not built before the pause";
    press(window, pageKey(4));
    ASSERT_TRUE(waitReady(view, "应用与缓存"));
    EXPECT_EQ(view->pageHost()->page("文件"), nullptr) << "the files page was left within 16 ms and never built";
    EXPECT_FALSE(view->loadedPages().contains("文件"));
    EXPECT_EQ(RuntimeAudit::contentPage, std::optional<QString>("应用与缓存"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !shell.model().maintenanceScanning(); }));
    EXPECT_EQ(inventory.count(), 2) << "one inventory refresh: busy, then done";
    ASSERT_TRUE(shell.model().installedApps().empty());

    press(window, pageKey(1));
    press(window, pageKey(4));
    EXPECT_EQ(view->readyPage(), "应用与缓存") << "a loaded page is ready at once";
    QTest::qWait(50); // room for a refresh, to show none comes
    EXPECT_EQ(inventory.count(), 2) << "no second refresh for a page already loaded";
}

TEST_F(MainWindowTest, ReturningToAPageKeepsItsWidgetAndScrollPosition)
{
    ShellHarness shell;
    MainWindow* window = shell.openWindow();
    MainView* view = viewOf(window);
    int built = 0;
    view->pageHost()->setContent([&](const QString& id) {
        ++built;
        return tallPage(id);
    });

    press(window, pageKey(3));
    ASSERT_TRUE(waitReady(view, "文件"));
    auto* files = qobject_cast<QScrollArea*>(view->pageHost()->page("文件"));
    ASSERT_NE(files, nullptr);
    files->verticalScrollBar()->setValue(700);
    ASSERT_EQ(files->verticalScrollBar()->value(), 700);

    press(window, pageKey(2));
    ASSERT_TRUE(waitReady(view, "内存"));
    EXPECT_FALSE(files->isVisible());
    press(window, pageKey(3));
    EXPECT_EQ(view->readyPage(), "文件");
    EXPECT_FALSE(view->loadingPlaceholder()->isVisible()) << "no placeholder for a page shown before";
    EXPECT_EQ(view->pageHost()->page("文件"), files);
    EXPECT_TRUE(files->isVisible());
    EXPECT_EQ(files->verticalScrollBar()->value(), 700);
    EXPECT_EQ(built, 2);
    QTest::qWait(20); // room for a rebuild, to show none comes
    EXPECT_EQ(view->readyPage(), "文件");
    EXPECT_EQ(built, 2);
}

TEST_F(MainWindowTest, LayoutSwitchKeepsPagesAndState)
{
    ShellHarness shell;
    MainWindow* window = shell.openWindow();
    MainView* view = viewOf(window);
    EXPECT_EQ(view->sidebar()->width(), MainView::sidebarWidth);
    press(window, pageKey(3));
    ASSERT_TRUE(waitReady(view, "文件"));
    QWidget* files = view->pageHost()->page("文件");
    QWidget* overview = view->pageHost()->page("概览");
    QWidget* host = view->pageHost();
    EXPECT_TRUE(view->sidebar()->isVisible());
    EXPECT_FALSE(view->topNavigation()->isVisible());

    press(window, QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_2));
    EXPECT_EQ(AppSettings::shared().layoutRaw(), "top");
    EXPECT_FALSE(view->sidebar()->isVisible());
    EXPECT_TRUE(view->topNavigation()->isVisible());
    EXPECT_EQ(view->page(), "文件");
    EXPECT_EQ(view->readyPage(), "文件");
    EXPECT_EQ(view->pageHost(), host);
    EXPECT_EQ(view->pageHost()->page("文件"), files);
    EXPECT_EQ(view->pageHost()->page("概览"), overview);
    EXPECT_TRUE(files->isVisible());
    EXPECT_FALSE(view->loadingPlaceholder()->isVisible());

    // The toolbar menu writes the same setting.
    QMenu* menu = view->layoutMenuButton()->menu();
    ASSERT_EQ(menu->actions().size(), 2);
    EXPECT_EQ(menu->actions()[0]->text(), "Sidebar");
    menu->actions()[0]->trigger();
    EXPECT_EQ(AppSettings::shared().layoutRaw(), "sidebar");
    EXPECT_TRUE(view->sidebar()->isVisible());
    EXPECT_EQ(view->pageHost()->page("文件"), files);

    press(window, QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_2));
    press(window, QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_1));
    EXPECT_EQ(AppSettings::shared().layoutRaw(), "sidebar");

    // Anything but exactly "top" shows the sidebar.
    setSetting(AppSettings::layoutKey, "Top");
    EXPECT_EQ(view->effectiveLayout(), LayoutStyle::sidebar);
    EXPECT_TRUE(view->sidebar()->isVisible());
    setSetting(AppSettings::layoutKey, "top");
    EXPECT_FALSE(view->sidebar()->isVisible());

    // Both layouts fit the smallest window in both languages.
    for (const char* language : {"en", "zh-Hans"}) {
        setSetting(AppSettings::languageKey, language);
        for (const char* layout : {"sidebar", "top"}) {
            setSetting(AppSettings::layoutKey, layout);
            window->resize(MainWindow::minimumWidth, MainWindow::minimumHeight);
            QCoreApplication::processEvents();
            EXPECT_EQ(window->size(), QSize(MainWindow::minimumWidth, MainWindow::minimumHeight)) << language << " " << layout;
            EXPECT_LE(view->topNavigation()->minimumSizeHint().width(), MainWindow::minimumWidth) << language << " " << layout;
        }
        // The top bar ends with the whole version; every entry keeps its place inside the bar.
        QWidget* bar = view->topNavigation();
        if (const QString shots = qEnvironmentVariable("TESSYN_SHOTS_DIR"); !shots.isEmpty())
            bar->grab().save(shots + "/top-bar-860-" + language + ".png");
        QLabel* version = view->topVersionLabel();
        EXPECT_EQ(version->text(), "v" + AppVersion::version());
        EXPECT_GE(version->width(), version->sizeHint().width()) << language;
        EXPECT_LE(version->mapTo(bar, QPoint(version->width(), 0)).x(), bar->width()) << language;
        QImage drawn = version->grab().toImage();
        bool inked = false;
        for (int y = 0; y < drawn.height() && !inked; ++y)
            for (int x = 0; x < drawn.width() && !inked; ++x) inked = drawn.pixel(x, y) != drawn.pixel(0, 0);
        EXPECT_TRUE(inked) << language << ": the version is drawn";
        for (NavigationItem* item : view->navigationItems()) {
            if (item->parentWidget() != bar) continue;
            QRect place(item->mapTo(bar, QPoint(0, 0)), item->size());
            EXPECT_TRUE(bar->rect().contains(place)) << language << " " << item->page().toStdString();
            EXPECT_LT(place.right(), version->mapTo(bar, QPoint(0, 0)).x()) << language;
        }
    }
    setSetting(AppSettings::languageKey, "en");

    // An override wins over the setting.
    MainView pinned(shell.model(), "概览", LayoutStyle::sidebar);
    EXPECT_EQ(pinned.effectiveLayout(), LayoutStyle::sidebar);
}

TEST_F(MainWindowTest, OrganiseMenuFollowsFolderAndBusyState)
{
    ShellHarness shell;
    MainWindow* window = shell.openWindow();
    AppModel& model = shell.model();
    QAction* choose = shell.app->menus().action("选择文件夹…");
    QAction* scan = shell.app->menus().action("扫描所选目录");
    ASSERT_NE(choose, nullptr);
    ASSERT_NE(scan, nullptr);
    EXPECT_EQ(scan->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_R));
    EXPECT_EQ(choose->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_O));
    EXPECT_TRUE(choose->isEnabled());
    EXPECT_FALSE(scan->isEnabled()) << "no folder chosen yet";
    press(window, QKeySequence(Qt::CTRL | Qt::Key_R));
    EXPECT_FALSE(model.scanning()) << "Ctrl+R does nothing without a folder";

    std::string folder = shell.folder("Downloads");
    writeFile(folder + "/a.txt", "alpha");
    writeFile(folder + "/b.txt", "beta");
    shell.chosenFolder = folder;
    press(window, QKeySequence(Qt::CTRL | Qt::Key_O));
    ASSERT_EQ(model.root(), std::optional<std::string>(folder));
    EXPECT_TRUE(scan->isEnabled());

    press(window, QKeySequence(Qt::CTRL | Qt::Key_R));
    ASSERT_TRUE(model.scanning());
    EXPECT_FALSE(scan->isEnabled()) << "disabled while scanning";
    EXPECT_FALSE(choose->isEnabled());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !model.scanning(); }, 10000));
    ASSERT_TRUE(model.report());
    EXPECT_EQ(model.report()->inspected, 2);
    EXPECT_TRUE(scan->isEnabled());
    EXPECT_TRUE(choose->isEnabled());

    // Busy with a file action (a restore): disabled again.
    Operation record;
    record.id = "8F0E6C4B-2D31-4C0A-9B8E-3A7D5E1F2C44";
    record.path = folder + "/gone.txt";
    record.success = true;
    record.trashPath = shell.home.dataHome() + "/Trash/files/gone.txt";
    model.restore(record);
    ASSERT_TRUE(model.processing());
    EXPECT_FALSE(scan->isEnabled());
    EXPECT_FALSE(choose->isEnabled());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !model.processing(); }, 10000));
    EXPECT_TRUE(scan->isEnabled());

    // Titles follow the language.
    setSetting(AppSettings::languageKey, "zh-Hans");
    EXPECT_EQ(scan->text(), "扫描所选目录");
    EXPECT_EQ(shell.app->menus().menu("整理")->title(), "整理");
    setSetting(AppSettings::languageKey, "en");
    EXPECT_EQ(scan->text(), "Scan Chosen Folder");
    EXPECT_EQ(shell.app->menus().menu("页面")->title(), "Pages");
}

TEST_F(MainWindowTest, QuitIsRefusedWhileProcessingEveryWay)
{
    ShellHarness shell;
    MainWindow* window = shell.openWindow();
    MainView* view = viewOf(window);
    AppModel& model = shell.model();
    shell.app->handleTerminationSignals();
    const std::string refusal = "文件处理尚未完成，请等待结果保存后再退出。";

    Operation record;
    record.id = "0B7C1D2E-3F40-4152-8364-758697A8B9C0";
    record.path = shell.home.path("Documents/gone.txt");
    record.success = true;
    record.trashPath = shell.home.dataHome() + "/Trash/files/gone.txt";
    model.restore(record);
    ASSERT_TRUE(model.processing());

    // The quit command.
    EXPECT_FALSE(shell.app->quit());
    EXPECT_EQ(model.message(), std::optional<std::string>(refusal));
    EXPECT_TRUE(view->banner()->isVisibleTo(window));
    EXPECT_EQ(view->bannerText()->text(), L(QString::fromStdString(refusal), AppLanguage::english));
    EXPECT_NE(view->bannerText()->text(), QString::fromStdString(refusal)) << "the banner translates the message";

    // Closing the last window.
    model.setMessage(std::nullopt);
    EXPECT_FALSE(view->banner()->isVisibleTo(window));
    EXPECT_FALSE(window->close());
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(model.message(), std::optional<std::string>(refusal));

    // SIGTERM, delivered through the event loop.
    model.setMessage(std::nullopt);
    ::raise(SIGTERM);
    ASSERT_TRUE(QTest::qWaitFor([&] { return model.message().has_value(); }, 5000));
    EXPECT_EQ(model.message(), std::optional<std::string>(refusal));
    EXPECT_EQ(shell.exits, 0);
    EXPECT_TRUE(window->isVisible());

    // The banner's close button clears the message.
    view->bannerCloseButton()->click();
    EXPECT_EQ(model.message(), std::nullopt);
    EXPECT_FALSE(view->banner()->isVisibleTo(window));

    // Once the restore has ended, a signal quits.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !model.processing(); }, 10000));
    QPointer<MainWindow> closing(window);
    ::raise(SIGINT);
    ASSERT_TRUE(QTest::qWaitFor([&] { return shell.exits == 1; }, 5000));
    EXPECT_TRUE(!closing || !closing->isVisible()) << "quitting closes the windows";
}

TEST_F(MainWindowTest, QuitRefusedFromTheSettingsWindowShowsItsReasonInFront)
{
    ShellHarness shell;
    MainWindow* window = shell.openWindow();
    AppModel& model = shell.model();
    SettingsWindow* settings = shell.app->showSettings();
    Operation record;
    record.id = "1C8D2E3F-4051-4263-9475-8697A8B9C0D1";
    record.path = shell.home.path("Documents/gone.txt");
    record.success = true;
    record.trashPath = shell.home.dataHome() + "/Trash/files/gone.txt";
    model.restore(record);
    ASSERT_TRUE(model.processing());

    ASSERT_TRUE(activate(settings));
    press(settings, QKeySequence(Qt::CTRL | Qt::Key_Q));
    EXPECT_EQ(shell.exits, 0);
    EXPECT_EQ(model.message(), std::optional<std::string>("文件处理尚未完成，请等待结果保存后再退出。"));
    // The settings window shows no messages: the main window with the reason comes to the front.
    EXPECT_TRUE(QTest::qWaitForWindowActive(window));
    EXPECT_TRUE(viewOf(window)->banner()->isVisibleTo(window));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !model.processing(); }, 10000));
}

TEST_F(MainWindowTest, QuitCancelsFolderJobsAndClosingTheLastWindowQuits)
{
    ShellHarness shell;
    MainWindow* first = shell.openWindow();
    MainWindow* second = shell.openWindow();
    AppModel& model = shell.model();

    // With another window open, closing one is only a close.
    EXPECT_TRUE(second->close());
    EXPECT_EQ(shell.exits, 0);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(shell.app->mainWindows().size(), 1);

    std::string folder = shell.folder("Big");
    for (int i = 0; i < 3000; ++i) writeFile(folder + "/d" + std::to_string(i % 30) + "/f" + std::to_string(i), "x");
    shell.chosenFolder = folder;
    model.choose();
    model.scan();
    ASSERT_TRUE(model.scanning());
    EXPECT_TRUE(first->close()) << "the last window closes when nothing is being processed";
    ASSERT_TRUE(QTest::qWaitFor([&] { return shell.exits == 1; }, 5000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !model.scanning(); }, 5000));
    ASSERT_TRUE(model.report());
    EXPECT_TRUE(model.report()->cancelled) << "quitting cancelled the running scan";
    EXPECT_LT(model.report()->inspected, 3000);
}

TEST_F(MainWindowTest, QuitBeforeAnyWindowWasShownIsImmediate)
{
    ShellHarness shell;
    EXPECT_EQ(shell.app->delegate().model, nullptr);
    EXPECT_TRUE(shell.app->delegate().applicationShouldTerminate());
    MainWindow* window = shell.openWindow();
    EXPECT_EQ(shell.app->delegate().model, &shell.model()) << "the delegate takes the model when the view appears";
    (void)window;
}

TEST_F(MainWindowTest, ReopenCheckUsesTheFirstEnabledCtrlNItem)
{
    ensureShellApp();
    QMenu plain;
    QMenu file;
    int plainN = 0, disabledN = 0, enabledN = 0, shiftedN = 0;
    QAction* bare = plain.addAction("bare n");
    bare->setShortcut(QKeySequence(Qt::Key_N));
    QObject::connect(bare, &QAction::triggered, [&] { ++plainN; });
    QAction* off = file.addAction("disabled");
    off->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    off->setEnabled(false);
    QObject::connect(off, &QAction::triggered, [&] { ++disabledN; });
    QAction* on = file.addAction("enabled");
    on->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_N));
    QObject::connect(on, &QAction::triggered, [&] { ++enabledN; });
    QAction* later = file.addAction("later");
    later->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    QObject::connect(later, &QAction::triggered, [&] { ++shiftedN; });

    TessynDelegate::reopenCheck({&plain, &file});
    EXPECT_EQ(plainN, 0) << "an item without Ctrl is never used";
    EXPECT_EQ(disabledN, 0);
    EXPECT_EQ(enabledN, 1) << "the first enabled Ctrl+N item, further modifiers allowed";
    EXPECT_EQ(shiftedN, 0) << "the search stops at the first performed item";

    QWidget visible;
    visible.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&visible));
    TessynDelegate::reopenCheck({&plain, &file});
    EXPECT_EQ(enabledN, 1) << "nothing happens while a window is visible";
}

TEST_F(MainWindowTest, LaunchShowsOneWindowAndTheReopenCheckOpensOneWhenNoneIsVisible)
{
    ShellHarness shell;
    shell.app->launch();
    ASSERT_EQ(shell.app->mainWindows().size(), 1);
    MainWindow* window = shell.app->mainWindows().front();
    EXPECT_EQ(window->size(), QSize(MainWindow::defaultWidth, MainWindow::defaultHeight));
    EXPECT_EQ(window->minimumSize(), QSize(MainWindow::minimumWidth, MainWindow::minimumHeight));
    EXPECT_EQ(window->windowTitle(), "Tessyn · Memory & Files");
    QTest::qWait(TessynDelegate::reopenDelayMs + 100); // past the reopen check, to show it opens nothing
    EXPECT_EQ(shell.app->mainWindows().size(), 1) << "a visible window: nothing reopens";

    window->hide();
    TessynDelegate::reopenCheck(shell.app->menus().menus());
    EXPECT_EQ(shell.app->mainWindows().size(), 2) << "Ctrl+N of the Tessyn menu opens a new main window";
    EXPECT_TRUE(shell.app->mainWindows().back()->isVisible());
}

TEST_F(MainWindowTest, WindowTitleAndTextsFollowTheLanguage)
{
    EXPECT_EQ(MainWindow::titleFor("zh-Hans"), "Tessyn · 内存与文件管理");
    for (const char* raw : {"en", "", "zh", "zh-hans", "fr"})
        EXPECT_EQ(MainWindow::titleFor(raw), "Tessyn · Memory & Files") << raw;

    ShellHarness shell;
    MainWindow* window = shell.openWindow();
    MainView* view = viewOf(window);
    press(window, pageKey(2));
    ASSERT_TRUE(waitReady(view, "内存"));
    press(window, pageKey(5));
    ASSERT_TRUE(waitReady(view, "操作记录"));
    QPointer<QWidget> hidden = view->pageHost()->page("内存");
    QPointer<QWidget> shown = view->pageHost()->page("操作记录");
    ASSERT_TRUE(hidden && shown);
    int generation = view->pageHost()->generation();

    setSetting(AppSettings::languageKey, "zh-Hans");
    EXPECT_EQ(window->windowTitle(), "Tessyn · 内存与文件管理");
    EXPECT_EQ(view->headerTitle()->text(), "操作记录");
    // Pages draw their texts once: the shown page is built again at once, hidden ones when
    // they are next shown.
    QWidget* rebuilt = view->pageHost()->page("操作记录");
    ASSERT_NE(rebuilt, nullptr);
    EXPECT_NE(rebuilt, shown.data());
    EXPECT_TRUE(rebuilt->isVisible());
    EXPECT_TRUE(visibleLabels(rebuilt).contains("这一页尚未完成。"));
    EXPECT_EQ(view->pageHost()->page("内存"), nullptr);
    QTRY_VERIFY(!hidden && !shown);
    EXPECT_EQ(view->readyPage(), "操作记录") << "the shown page stays ready";
    EXPECT_EQ(view->pageHost()->generation(), generation) << "no new placement for a language change";
    press(window, pageKey(2));
    ASSERT_TRUE(waitReady(view, "内存"));
    EXPECT_TRUE(visibleLabels(view->pageHost()->page("内存")).contains("内存"));
    press(window, pageKey(5));
    ASSERT_TRUE(waitReady(view, "操作记录"));
    bool hint = false;
    for (NavigationItem* item : view->navigationItems())
        if (item->page() == "文件") hint = item->toolTip() == "文件 · Ctrl+3";
    EXPECT_TRUE(hint);

    setSetting(AppSettings::languageKey, "en");
    EXPECT_EQ(view->headerTitle()->text(), "History");
    for (NavigationItem* item : view->navigationItems()) {
        if (item->page() == "文件") {
            EXPECT_EQ(item->toolTip(), "Files · Ctrl+3");
        }
    }
}

TEST_F(MainWindowTest, MemoryIsSampledOnFirstShowAndByTheTimerOnlyWhileActive)
{
    ShellHarness shell;
    MemorySnapshot snapshot;
    snapshot.total = 8'000'000'000;
    shell.memory = snapshot;
    int start = shell.memoryReads;
    MainWindow* window = shell.app->openMainWindow();
    ASSERT_TRUE(activate(window));
    EXPECT_EQ(shell.memoryReads, start + 1) << "one sample when the view is first shown";
    EXPECT_EQ(shell.model().memorySamples().size(), 1u);

    viewOf(window)->memoryTick();
    EXPECT_EQ(shell.memoryReads, start + 2);

    QWidget other;
    ASSERT_TRUE(activate(&other));
    ASSERT_FALSE(window->isActiveWindow());
    viewOf(window)->memoryTick();
    EXPECT_EQ(shell.memoryReads, start + 2) << "no timer sample while the window is inactive";
    window->hide();
    window->show();
    EXPECT_EQ(shell.memoryReads, start + 2) << "showing again takes no first sample";
}

TEST_F(MainWindowTest, SettingsWindowShowsTheSettingsPage)
{
    ShellHarness shell;
    shell.openWindow();
    SettingsWindow* settings = shell.app->showSettings();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(settings));
    EXPECT_EQ(settings->width(), SettingsWindow::fixedWidth);
    EXPECT_EQ(settings->layout()->contentsMargins(), QMargins(28, 28, 28, 28));
    EXPECT_EQ(shell.app->showSettings(), settings) << "one settings window";
    EXPECT_EQ(settings->windowTitle(), "Settings");
}

TEST_F(MainWindowTest, SettingsWindowTakesTheCommandsForTheLastMainWindow)
{
    ShellHarness shell;
    MainWindow* window = shell.openWindow();
    AppModel& model = shell.model();
    SettingsWindow* settings = shell.app->showSettings();
    std::string folder = shell.folder("Downloads");
    writeFile(folder + "/a.txt", "alpha");
    shell.chosenFolder = folder;

    // A page command switches the main window's page and brings it to the front.
    ASSERT_TRUE(activate(settings));
    press(settings, pageKey(3));
    EXPECT_EQ(viewOf(window)->page(), "文件");
    EXPECT_TRUE(QTest::qWaitForWindowActive(window));

    ASSERT_TRUE(activate(settings));
    press(settings, QKeySequence(Qt::CTRL | Qt::Key_N));
    EXPECT_EQ(shell.app->mainWindows().size(), 2);

    ASSERT_TRUE(activate(settings));
    press(settings, QKeySequence(Qt::CTRL | Qt::Key_O));
    EXPECT_EQ(model.root(), std::optional<std::string>(folder));
    press(settings, QKeySequence(Qt::CTRL | Qt::Key_R));
    EXPECT_TRUE(QTest::qWaitFor([&] { return model.report() && !model.scanning(); }, 5000));
    EXPECT_EQ(model.report() ? model.report()->inspected : 0, 1);

    ASSERT_TRUE(activate(settings));
    press(settings, QKeySequence(Qt::CTRL | Qt::Key_Q));
    EXPECT_EQ(shell.exits, 1);
    EXPECT_FALSE(window->isVisible()) << "quitting closes the windows";
}

TEST_F(MainWindowTest, KeyboardReachesTheNavigationAndOpensPages)
{
    // Presses a key where the keyboard focus is.
    auto key = [](QWidget* window, Qt::Key code) {
        QWidget* focus = QApplication::focusWidget();
        QTest::keyClick(focus ? focus : window, code);
    };
    const std::pair<const char*, Qt::Key> layouts[] = {{"sidebar", Qt::Key_Down}, {"top", Qt::Key_Right}};
    for (const auto& [layout, forward] : layouts) {
        SCOPED_TRACE(layout);
        setSetting(AppSettings::layoutKey, layout);
        ShellHarness shell;
        MainWindow* window = shell.openWindow();
        MainView* view = viewOf(window);
        QWidget* bar = std::string(layout) == "top" ? view->topNavigation() : view->sidebar();

        // From the toolbar, Tab goes round the window to the entries.
        view->layoutMenuButton()->setFocus(Qt::TabFocusReason);
        NavigationItem* entry = nullptr;
        for (int presses = 0; presses < 30 && !entry; ++presses) {
            key(window, Qt::Key_Tab);
            entry = qobject_cast<NavigationItem*>(QApplication::focusWidget());
        }
        ASSERT_NE(entry, nullptr) << "Tab reaches a navigation entry";
        EXPECT_EQ(entry->parentWidget(), bar);
        EXPECT_EQ(entry->page(), "概览");

        // Space on the shown page keeps it shown and marked.
        key(window, Qt::Key_Space);
        EXPECT_EQ(view->page(), "概览");
        EXPECT_TRUE(entry->isSelected());

        // The arrows move between the entries without opening pages; the first has none before it.
        QImage focused = entry->grab().toImage();
        key(window, forward == Qt::Key_Down ? Qt::Key_Up : Qt::Key_Left);
        EXPECT_EQ(QApplication::focusWidget(), entry);
        key(window, forward);
        key(window, forward);
        auto* third = qobject_cast<NavigationItem*>(QApplication::focusWidget());
        ASSERT_NE(third, nullptr);
        EXPECT_EQ(third->page(), "文件");
        EXPECT_EQ(view->page(), "概览");
        EXPECT_NE(entry->grab().toImage(), focused) << "the focus ring goes with the focus";

        key(window, Qt::Key_Return);
        EXPECT_EQ(view->page(), "文件");
        ASSERT_TRUE(waitReady(view, "文件"));
        EXPECT_TRUE(third->isSelected());
        EXPECT_FALSE(entry->isSelected());
        EXPECT_EQ(QApplication::focusWidget(), third) << "opening a page leaves the focus on its entry";

        key(window, forward);
        key(window, Qt::Key_Space);
        EXPECT_EQ(view->page(), "应用与缓存");
    }
}

TEST_F(MainWindowTest, LayoutSwitchHandsTheFocusToTheSamePagesEntry)
{
    ShellHarness shell;
    MainWindow* window = shell.openWindow();
    MainView* view = viewOf(window);
    auto entry = [&](QWidget* bar, const QString& page) -> NavigationItem* {
        for (NavigationItem* item : view->navigationItems())
            if (item->parentWidget() == bar && item->page() == page) return item;
        return nullptr;
    };
    entry(view->sidebar(), "文件")->setFocus(Qt::TabFocusReason);
    press(window, QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_2));
    EXPECT_EQ(QApplication::focusWidget(), entry(view->topNavigation(), "文件"));
    press(window, QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_1));
    EXPECT_EQ(QApplication::focusWidget(), entry(view->sidebar(), "文件"));

    // A focus outside the navigation stays where it is.
    view->layoutMenuButton()->setFocus(Qt::TabFocusReason);
    press(window, QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_2));
    EXPECT_EQ(QApplication::focusWidget(), view->layoutMenuButton());
    EXPECT_EQ(view->page(), "概览") << "moving the focus opens no page";
}

TEST_F(MainWindowTest, AboutItemShowsNameVersionAndBuild)
{
    ShellHarness shell;
    MainWindow* window = shell.openWindow();
    AppMenus& menus = shell.app->menus();
    QAction* about = menus.action("关于 Tessyn");
    ASSERT_NE(about, nullptr);
    QList<QAction*> items = menus.menu("Tessyn")->actions();
    EXPECT_EQ(items.indexOf(about) + 1, items.indexOf(menus.action("检查更新…"))) << "the update check follows it";
    EXPECT_EQ(about->text(), "About Tessyn");

    QString title, text;
    QWidget* parent = nullptr;
    // Reads and closes the box from inside its own event loop.
    std::function<void()> answer = [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return QTimer::singleShot(10, answer);
        title = box->windowTitle();
        text = box->text();
        parent = box->parentWidget();
        box->buttons().front()->click();
    };
    QTimer::singleShot(0, answer);
    about->trigger();
    EXPECT_EQ(title, "About Tessyn");
    EXPECT_EQ(text, QStringLiteral("Tessyn\nVersion %1 (build %2)").arg(AppVersion::version(), AppVersion::build()));
    EXPECT_EQ(parent, window);
}

TEST_F(MainWindowTest, CommandsLeaveAWindowAloneWhileItsConfirmationIsOpen)
{
    // With one main window or two, keys pressed in a confirmation are the confirmation's, and no
    // window behind a confirmation changes its page.
    for (int windows : {1, 2}) {
        SCOPED_TRACE(windows);
        ShellHarness shell;
        MainWindow* asking = shell.openWindow();
        if (windows == 2) shell.openWindow();
        SettingsWindow* settings = shell.app->showSettings();
        ASSERT_TRUE(activate(asking));
        QPointer<QDialog> confirmation;
        int answers = 0;
        ActionConfirmation::present("将选中的缓存移入废纸篓？", "", "移入废纸篓", [&](bool) { ++answers; }, asking,
                                    [&](QDialog* dialog) { confirmation = dialog; });
        ASSERT_TRUE(confirmation);
        ASSERT_TRUE(activate(confirmation));

        for (const QKeySequence& keys : {pageKey(3), QKeySequence(Qt::CTRL | Qt::Key_N), QKeySequence(Qt::CTRL | Qt::Key_Q)})
            press(confirmation, keys);
        EXPECT_EQ(viewOf(asking)->page(), "概览");
        EXPECT_EQ(shell.app->mainWindows().size(), windows);
        EXPECT_EQ(shell.exits, 0);
        ASSERT_TRUE(confirmation && confirmation->isVisible());
        EXPECT_EQ(answers, 0);

        // From the settings window the page waits behind the confirmation too.
        ASSERT_TRUE(activate(settings));
        press(settings, pageKey(3));
        EXPECT_EQ(viewOf(asking)->page(), "概览");

        // Answered, the window takes page commands again.
        ActionConfirmation::cancelButton(confirmation)->click();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !confirmation || !confirmation->isVisible(); }));
        EXPECT_EQ(answers, 1);
        ASSERT_TRUE(activate(settings));
        press(settings, pageKey(3));
        EXPECT_EQ(viewOf(asking)->page(), "文件");
    }
}

TEST_F(MainWindowTest, PageCommandsFromTheSettingsWindowFindAMainWindowAfterTheLastOneClosed)
{
    ShellHarness shell;
    MainWindow* first = shell.openWindow();
    MainWindow* second = shell.openWindow();
    SettingsWindow* settings = shell.app->showSettings();
    // The main window used last closes; the other one is still open.
    ASSERT_TRUE(activate(second));
    second->close();
    ASSERT_TRUE(activate(settings));
    press(settings, pageKey(3));
    EXPECT_EQ(viewOf(first)->page(), "文件");
    EXPECT_TRUE(QTest::qWaitForWindowActive(first));
}

TEST_F(MainWindowTest, SettingsAreStoredInTessynConf)
{
    setSetting(AppSettings::layoutKey, "top");
    QSettings native(QSettings::NativeFormat, QSettings::UserScope, "Tessyn", "Tessyn");
    EXPECT_TRUE(native.fileName().endsWith("/Tessyn/Tessyn.conf")) << native.fileName().toStdString();
    QFile file(native.fileName());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll().contains("tessyn.layout=top"));
}
