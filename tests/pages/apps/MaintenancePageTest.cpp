#include "MaintenanceFixture.h"

#include "BundleFixture.h"
#include "ChildProcess.h"
#include "../../shell/MainWindowTestSupport.h"
#include "pages/apps/CacheReviewView.h"
#include "shell/controls/DisclosureGroup.h"
#include "pages/PageCatalog.h"
#include "pages/apps/UninstallReviewView.h"
#include "shell/app/AppSettings.h"
#include "shell/ApplicationIcons.h"
#include "shell/window/CachedPageHost.h"
#include "shell/window/MainView.h"
#include "shell/window/MainWindow.h"
#include "shell/controls/NativeActionButton.h"
#include "shell/controls/RoundedPanel.h"
#include "shell/style/Palette.h"
#include "shell/controls/StyledLabel.h"

#include <QAbstractScrollArea>
#include <QAbstractItemView>
#include <QAccessible>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QToolButton>
#include <filesystem>
#include <signal.h>
#include "QtWaits.h"

namespace {

using Content = MaintenancePage::Content;

InstalledApp app(const std::string& name, const std::string& bundleID)
{
    return InstalledApp{"/Applications/" + name + ".app", name, bundleID, "1:1", 0};
}

std::vector<std::string> names(const std::vector<InstalledApp>& apps)
{
    std::vector<std::string> out;
    for (const InstalledApp& a : apps) out.push_back(a.name);
    return out;
}

QPushButton* inspectButton(QWidget* row) { return row->findChild<QPushButton*>(QStringLiteral("inspect-cache")); }
QPushButton* uninstallButton(QWidget* row) { return row->findChild<QPushButton*>(QStringLiteral("uninstall")); }
QWidget* runningMark(QWidget* row) { return row->findChild<QWidget*>(QStringLiteral("running")); }

class MaintenancePageTest : public ShellTest {};

MaintenancePage* pageOf(MainWindow* window)
{
    return qobject_cast<MaintenancePage*>(viewOf(window)->pageHost()->page("应用与缓存"));
}

} // namespace

TEST_F(MaintenancePageTest, SearchMatchesNameOrIdentifierIgnoringCaseAndKeepsSpaces)
{
    const std::vector<InstalledApp> apps = {app("Editor", "org.example.editor"), app("My Tool", "com.acme.tool"),
                                            app("vlc", "org.videolan.vlc"), app("Zed", "com.space id.zed")};
    struct Case {
        QString search;
        std::vector<std::string> expected;
    };
    const std::vector<Case> cases = {
        {"", {"Editor", "My Tool", "vlc", "Zed"}},
        {"VLC", {"vlc"}},                       // capitals find small letters
        {"eDiT", {"Editor"}},
        {"videolan", {"vlc"}},                  // identifier only
        {" ", {"My Tool", "Zed"}},              // a space in the name, or in the identifier
        {" tool", {"My Tool"}},
        {"tool ", {}},                          // not trimmed
        {" editor", {}},
        {"Applications", {}},                   // the path is not searched
    };
    for (const Case& c : cases)
        EXPECT_EQ(names(MaintenancePage::visibleApps(apps, c.search)), c.expected) << '"' << c.search.toStdString() << '"';
}

// The listing on first mount, the four content states, the count line, the rows and the rules.
TEST_F(MaintenancePageTest, ListsFixtureBundlesWithStatesCountAndRows)
{
    MaintenanceFixture f;
    f.bundle("VLC", "org.videolan.vlc");
    f.bundle("Editor", "org.example.editor");
    f.bundle("Notes", "org.example.notes");
    f.start();
    EXPECT_FALSE(f.page->startupListing().isFinished()) << "an empty inventory starts a listing";
    EXPECT_EQ(f.page->content(), Content::reading);
    EXPECT_FALSE(f.page->refreshButton()->isEnabled());
    EXPECT_TRUE(f.page->busyIndicator()->isVisible());
    QTRY_VERIFY(f.page->startupListing().isFinished());
    ASSERT_TRUE(f.settle());

    EXPECT_EQ(f.page->content(), Content::list);
    EXPECT_TRUE(f.page->refreshButton()->isEnabled());
    EXPECT_FALSE(f.page->busyIndicator()->isVisible());
    EXPECT_EQ(names(f.page->shownApps()), (std::vector<std::string>{"Editor", "Notes", "VLC"}));
    EXPECT_EQ(f.page->countLine()->text(), "Applications: 3 · with caches to check: 1");
    for (const char* name : {"Editor", "Notes", "VLC"}) {
        QWidget* row = f.page->row(f.installed(name).path);
        ASSERT_NE(row, nullptr) << name;
        EXPECT_EQ(inspectButton(row) != nullptr, std::string(name) == "VLC") << "only a ruled identifier: " << name;
        ASSERT_NE(uninstallButton(row), nullptr);
        EXPECT_TRUE(uninstallButton(row)->isEnabled());
        EXPECT_FALSE(runningMark(row)->isVisible());
        auto* icon = row->findChild<ApplicationIconView*>();
        ASSERT_NE(icon, nullptr);
        EXPECT_EQ(icon->size(), QSize(38, 38));
    }
    EXPECT_FALSE(f.page->rules()->expanded()) << "the rules start collapsed";
    EXPECT_TRUE(f.page->rules()->content()->isHidden());
    f.page->rules()->toggle()->click();
    EXPECT_TRUE(f.page->rules()->content()->isVisible());
    EXPECT_TRUE(qobject_cast<QLabel*>(f.page->rules()->content())->text().startsWith("Only third-party application bundles"));
    saveShot(f.page, "list-en");

    // The search field is named for assistive technology, not only by its placeholder.
    QAccessibleInterface* search = QAccessible::queryAccessibleInterface(f.page->searchField());
    ASSERT_NE(search, nullptr);
    EXPECT_EQ(search->text(QAccessible::Name), "Search applications");
    f.page->searchField()->setText("ZZZ");
    EXPECT_EQ(f.page->content(), Content::noMatch);
    EXPECT_EQ(f.page->countLine()->text(), "Applications: 3 · with caches to check: 1") << "counts ignore the search";
    f.page->searchField()->setText("note");
    EXPECT_EQ(names(f.page->shownApps()), std::vector<std::string>{"Notes"});

    // A later refresh keeps the list and shows only the small indicator.
    f.page->refreshButton()->click();
    EXPECT_EQ(f.page->content(), Content::list);
    EXPECT_TRUE(f.page->busyIndicator()->isVisible());
    EXPECT_FALSE(uninstallButton(f.page->row(f.installed("Notes").path))->isEnabled()) << "busy disables the rows";
    ASSERT_TRUE(f.settle());
    EXPECT_TRUE(uninstallButton(f.page->row(f.installed("Notes").path))->isEnabled());
}

TEST_F(MaintenancePageTest, AMachineWithoutBundlesShowsTheEmptyState)
{
    MaintenanceFixture f;
    f.start();
    QTRY_VERIFY(f.page->startupListing().isFinished());
    ASSERT_TRUE(f.settle());
    EXPECT_EQ(f.page->content(), Content::noApplications);
    EXPECT_EQ(f.page->countLine()->text(), "Applications: 0 · with caches to check: 0");

    // A very long name and identifier are shortened; the row's buttons stay inside the window.
    const std::string longName(200, 'N');
    f.bundle(longName, "org.example." + std::string(200, 'i'));
    f.page->refreshButton()->click();
    ASSERT_TRUE(f.settle());
    QWidget* row = f.page->row(f.installed(longName).path);
    ASSERT_NE(row, nullptr);
    QCoreApplication::processEvents();
    QRect button = uninstallButton(row)->geometry();
    button.moveTopLeft(uninstallButton(row)->mapTo(f.window.get(), QPoint(0, 0)));
    EXPECT_TRUE(f.window->rect().contains(button)) << "button at " << button.x() << "," << button.y();
}

// A bundle whose program runs is marked in the snapshot taken by the listing; both its row
// buttons are disabled. An application started after the snapshot is not marked yet.
TEST_F(MaintenancePageTest, RunningFixtureBundleIsMarkedAndItsButtonsDisabled)
{
    MaintenanceFixture f;
    std::string running = f.bundle("Zoom", "us.zoom.xos", fixturePath("demo_app"));
    f.bundle("Editor", "org.example.editor");
    ChildProcess process(running + "/Contents/MacOS/Run", {"quits", f.homeFolder});
    ASSERT_TRUE(waitForFile(f.homeFolder + "/ready-" + std::to_string(process.pid()), 10));
    f.start(true);
    QTRY_VERIFY(f.page->startupListing().isFinished());
    ASSERT_TRUE(f.settle());

    QWidget* zoom = f.page->row(f.installed("Zoom").path);
    QWidget* editor = f.page->row(f.installed("Editor").path);
    ASSERT_TRUE(zoom && editor);
    EXPECT_TRUE(runningMark(zoom)->isVisible());
    EXPECT_EQ(qobject_cast<QLabel*>(runningMark(zoom))->text(), "Running");
    EXPECT_FALSE(inspectButton(zoom)->isEnabled());
    EXPECT_FALSE(uninstallButton(zoom)->isEnabled());
    EXPECT_FALSE(runningMark(editor)->isVisible());
    EXPECT_TRUE(uninstallButton(editor)->isEnabled());

    kill(process.pid(), SIGTERM);
    process.wait(5);
    EXPECT_TRUE(runningMark(zoom)->isVisible()) << "the mark follows the last snapshot";
    f.page->refreshButton()->click();
    ASSERT_TRUE(f.settle());
    zoom = f.page->row(f.installed("Zoom").path);
    EXPECT_FALSE(runningMark(zoom)->isVisible());
    EXPECT_TRUE(inspectButton(zoom)->isEnabled());
}

// A refused inspection (busy, or the application found running) publishes no plan; the page
// must not open the sheet on the plan an earlier inspection left for another application.
TEST_F(MaintenancePageTest, RefusedInspectionNeverOpensAnotherApplicationsPlan)
{
    MaintenanceFixture f;
    f.bundle("VLC", "org.videolan.vlc");
    std::string spotify = f.bundle("Spotify", "com.spotify.client", fixturePath("demo_app"));
    f.oldCacheFiles("org.videolan.vlc", 3);
    f.start(true);
    ASSERT_TRUE(f.settle());
    const InstalledApp vlc = f.installed("VLC");
    const InstalledApp player = f.installed("Spotify");

    inspectButton(f.page->row(vlc.path))->click();
    QTRY_VERIFY(f.page->cacheSheet() && f.page->cacheSheet()->isVisible());
    f.page->cacheSheet()->closeButton()->click();
    QTRY_VERIFY(!f.page->cacheSheet());
    ASSERT_TRUE(f.model->cachePlan()) << "the earlier plan stays in the model";

    // Started after the listing's snapshot: the row is enabled, the model's own check refuses.
    ChildProcess process(spotify + "/Contents/MacOS/Run", {"quits", f.homeFolder});
    ASSERT_TRUE(waitForFile(f.homeFolder + "/ready-" + std::to_string(process.pid()), 10));
    QPushButton* inspect = inspectButton(f.page->row(player.path));
    ASSERT_TRUE(inspect->isEnabled());
    inspect->click();
    EXPECT_EQ(f.model->message(), "请先保存工作并退出此应用，再扫描缓存。");
    // Busy: a listing runs while the inspection is asked for.
    f.model->refreshInstalledApps();
    f.page->inspect(vlc);
    ASSERT_TRUE(f.settle());
    QCoreApplication::processEvents();
    ASSERT_TRUE(f.model->cachePlan() && f.model->cacheApp()->path == vlc.path)
        << "the unmended page, which only asks whether a plan is held, would open here";
    EXPECT_FALSE(f.page->cacheSheet());

    // An inspection that fails while building leaves the sheet closed; one that builds opens it.
    std::filesystem::remove_all(f.homeFolder + "/Library/Caches/org.videolan.vlc");
    f.page->inspect(vlc);
    ASSERT_TRUE(f.settle());
    QCoreApplication::processEvents();
    EXPECT_FALSE(f.page->cacheSheet());
    f.oldCacheFiles("org.videolan.vlc", 1);
    f.page->inspect(vlc);
    QTRY_VERIFY(f.page->cacheSheet());
}

// The page asks for the listing as it mounts; the main view asks too: the model runs one.
TEST_F(MaintenancePageTest, MountingInTheMainWindowListsOnce)
{
    installPageFactory(tessynPages());
    for (const char* language : {"en", "zh-Hans"}) {
        setSetting(AppSettings::languageKey, language);
        ShellHarness shell;
        makeAppBundle(shell.home.path("Applications"), "Slack", "com.tinyspeck.slackmacgap");
        makeAppBundle(shell.home.path("Applications"), "Sketch Pad", "org.example.sketchpad");
        MainWindow* window = shell.openWindow();
        MainView* view = viewOf(window);
        QSignalSpy inventory(&shell.model(), &AppModel::maintenanceScanningChanged);
        press(window, QKeySequence(Qt::CTRL | Qt::Key_4));
        ASSERT_TRUE(waitReady(view, "应用与缓存"));
        auto* page = qobject_cast<MaintenancePage*>(view->pageHost()->page("应用与缓存"));
        ASSERT_NE(page, nullptr);
        QTRY_VERIFY(page->startupListing().isFinished());
        ASSERT_TRUE(QTest::qWaitFor([&] { return !shell.model().maintenanceScanning(); }));
        EXPECT_EQ(inventory.count(), 2) << "one listing: busy, then done";
        EXPECT_EQ(page->content(), Content::list);
        EXPECT_EQ(page->shownApps().size(), shell.model().installedApps().size());
        page->rules()->setExpanded(true);
        saveShot(window, "main-window-" + AppSettings::shared().languageRaw().toStdString());
    }
    installPageFactory({});
}

TEST_F(MaintenancePageTest, TypingInTheSearchKeepsTheRowsItHas)
{
    MaintenanceFixture f;
    for (int i = 0; i < 200; ++i) f.bundle("App" + std::to_string(i), "com.example.app" + std::to_string(i));
    f.start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return f.model->installedApps().size() == 200; }, 60000));
    ASSERT_TRUE(f.settle());
    QCoreApplication::processEvents();

    // Keystrokes only show and hide rows: rebuilding every row per keystroke froze the page
    // for seconds with a thousand applications. The same row widgets stay throughout.
    QPointer<QWidget> first = f.page->row(f.installed("App0").path);
    QPointer<QWidget> last = f.page->row(f.installed("App199").path);
    ASSERT_TRUE(first && last);
    for (char key : std::string("App")) QTest::keyClick(f.page->searchField(), key);
    EXPECT_EQ(f.page->shownApps().size(), 200u);
    for (int i = 0; i < 3; ++i) QTest::keyClick(f.page->searchField(), Qt::Key_Backspace);
    f.page->searchField()->setText("app199");
    EXPECT_EQ(names(f.page->shownApps()), std::vector<std::string>{"App199"});
    EXPECT_EQ(f.page->row(f.installed("App1").path), nullptr) << "a row that does not match is not listed";
    QWidget* shown = f.page->row(f.installed("App199").path);
    EXPECT_EQ(shown, last.data()) << "the row was rebuilt";
    ASSERT_NE(shown, nullptr);
    EXPECT_TRUE(shown->isVisible());
    EXPECT_TRUE(uninstallButton(shown)->isEnabled());
    f.page->searchField()->clear();
    EXPECT_EQ(f.page->row(f.installed("App0").path), first.data()) << "the row was rebuilt";
}

// A bundle without artwork shows the generic application symbol in the accent colour, in
// either appearance: a drawn shape, not a tile of one colour.
TEST_F(MaintenancePageTest, BundleWithoutIconShowsTheAccentSymbol)
{
    for (const char* language : {"en", "zh-Hans"}) {
        for (const char* appearance : {"light", "dark"}) {
            SCOPED_TRACE(std::string(language) + " " + appearance);
            setSetting(AppSettings::languageKey, language);
            setSetting(AppSettings::appearanceKey, appearance);
            MaintenanceFixture f;
            f.bundle("Plain", "org.example.plain");
            f.start();
            ASSERT_TRUE(f.settle());
            ASSERT_TRUE(waitFor([&] { return f.page->row(f.installed("Plain").path) != nullptr; }));
            auto* icon = f.page->row(f.installed("Plain").path)->findChild<ApplicationIconView*>();
            ASSERT_TRUE(icon);
            ASSERT_TRUE(waitFor([&] { return icon->hasLoadedIcon(); }, 5000));
            saveShot(f.page, std::string("iconless-row-") + language + "-" + appearance);

            QImage drawn(icon->size(), QImage::Format_ARGB32_Premultiplied);
            drawn.fill(Qt::transparent);
            icon->render(&drawn, QPoint(), QRegion(), QWidget::DrawChildren);
            drawn = drawn.convertToFormat(QImage::Format_ARGB32);
            const QColor accent = Palette::accent();
            int opaque = 0, offAccent = 0, clear = 0;
            QRect shape;
            for (int y = 0; y < drawn.height(); ++y)
                for (int x = 0; x < drawn.width(); ++x)
                    if (qAlpha(drawn.pixel(x, y)) > 200) shape |= QRect(x, y, 1, 1);
            for (int y = shape.top(); y <= shape.bottom(); ++y) {
                for (int x = shape.left(); x <= shape.right(); ++x) {
                    const QColor c = QColor::fromRgba(drawn.pixel(x, y));
                    if (c.alpha() < 40) {
                        ++clear;
                    } else if (c.alpha() > 200) {
                        ++opaque;
                        const int distance = std::abs(c.red() - accent.red()) + std::abs(c.green() - accent.green()) +
                                             std::abs(c.blue() - accent.blue());
                        if (distance > 30) ++offAccent;
                    }
                }
            }
            ASSERT_FALSE(shape.isEmpty()) << "something is drawn";
            const int area = shape.width() * shape.height();
            EXPECT_GT(clear, area / 3) << "a shape with open space, not a filled tile";
            EXPECT_GT(opaque, area / 10);
            EXPECT_EQ(offAccent, 0) << "drawn in the accent colour " << accent.name().toStdString();
        }
    }
}

// Tab goes from the search field through the rows in the list's order to the rules, and stops
// on nothing that shows no focus: also after a refresh or a language switch made the rows again.
TEST_F(MaintenancePageTest, TabGoesFromTheSearchThroughTheRowsToTheRules)
{
    installPageFactory(tessynPages());
    ShellHarness shell;
    makeAppBundle(shell.home.path("Applications"), "Editor", "org.example.editor");
    makeAppBundle(shell.home.path("Applications"), "VLC", "org.videolan.vlc");
    MainWindow* window = shell.openWindow();
    press(window, QKeySequence(Qt::CTRL | Qt::Key_4));
    ASSERT_TRUE(QTest::qWaitFor([&] { return shell.model().installedApps().size() == 2 && !shell.model().maintenanceBusy(); }));
    for (int step = 0; step < 3; ++step) {
        SCOPED_TRACE(step);
        QPointer<MaintenancePage> before = pageOf(window);
        if (step == 1) before->refreshButton()->click();
        if (step == 2) setSetting(AppSettings::languageKey, QStringLiteral("zh-Hans"));
        ASSERT_TRUE(QTest::qWaitFor([&] { return pageOf(window) && (step < 2 || pageOf(window) != before) && !shell.model().maintenanceBusy(); }));
        MaintenancePage* page = pageOf(window);
        QWidget* editor = page->row(shell.model().installedApps()[0].path);
        QWidget* vlc = page->row(shell.model().installedApps()[1].path);
        ASSERT_TRUE(editor && vlc);
        std::vector<QWidget*> stops = tabRound(page->searchField(), 30);
        EXPECT_EQ(std::count_if(stops.begin(), stops.end(), [](QWidget* stop) { return qobject_cast<QAbstractScrollArea*>(stop); }), 0);
        stops.resize(std::min<size_t>(stops.size(), 4));
        EXPECT_EQ(stops, (std::vector<QWidget*>{uninstallButton(editor), inspectButton(vlc), uninstallButton(vlc), page->rules()->toggle()}));
    }
    installPageFactory({});
}

// A review sheet opened from the keyboard starts with the focus on a control that shows it, and
// Tab goes round its controls only: its message area shows no focus of its own, nor does a list
// of row widgets (a painted list shows it on its current row).
TEST_F(MaintenancePageTest, AReviewSheetFromTheKeyboardStopsOnlyWhereTheFocusShows)
{
    MaintenanceFixture f;
    f.bundle("VLC", "org.videolan.vlc");
    f.oldCacheFiles("org.videolan.vlc", 5);
    f.bundle("Editor", "org.example.editor");
    f.relatedItems("org.example.editor");
    f.start();
    QTRY_VERIFY(f.page->startupListing().isFinished());
    ASSERT_TRUE(f.settle());
    struct Case {
        const char* app;
        QPushButton* (*button)(QWidget* row);
        std::function<ReviewSheet*()> sheet;
        std::function<QWidget*()> list;
    };
    const std::vector<Case> cases = {
        {"VLC", inspectButton, [&] { return f.page->cacheSheet(); }, [&] { return f.page->cacheSheet()->list(); }},
        {"Editor", uninstallButton, [&] { return f.page->uninstallSheet(); }, [&] { return f.page->uninstallSheet()->list(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.app);
        QPushButton* button = c.button(f.page->row(f.installed(c.app).path));
        ASSERT_TRUE(focusByKeyboard(button));
        QTest::keyClick(button, Qt::Key_Space);
        ASSERT_TRUE(QTest::qWaitFor([&] { return c.sheet() && c.sheet()->isVisible() && f.settle(); }));
        QWidget* list = c.list();
        ASSERT_TRUE(QTest::qWaitFor([&] {
            auto* row = list->findChild<QAbstractButton*>();
            auto* rows = list->findChild<QAbstractItemView*>();
            return (row && row->isVisible()) || (rows && rows->isVisible() && rows->model()->rowCount() > 0);
        })) << "rows listed";
        auto showsNoFocus = [](QWidget* stop) { return qobject_cast<QAbstractScrollArea*>(stop) && !qobject_cast<QAbstractItemView*>(stop); };
        QWidget* focus = QApplication::focusWidget();
        ASSERT_TRUE(focus && c.sheet()->isAncestorOf(focus));
        EXPECT_FALSE(showsNoFocus(focus)) << "opens on " << focus->metaObject()->className();
        std::vector<QWidget*> stops = tabRound(focus, 40);
        stops.push_back(focus);  // the round ends where it began
        EXPECT_EQ(std::count_if(stops.begin(), stops.end(), showsNoFocus), 0);
        EXPECT_TRUE(std::any_of(stops.begin(), stops.end(), [&](QWidget* stop) { return list->isAncestorOf(stop); })) << "the rows are reached";
        c.sheet()->reject();
    }
}
