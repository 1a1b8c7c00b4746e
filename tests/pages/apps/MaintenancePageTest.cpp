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
#include <QScrollBar>
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

constexpr auto inspectButton = ApplicationList::inspectButton;
constexpr auto uninstallButton = ApplicationList::uninstallButton;

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
    ApplicationList* list = f.page->list();
    for (const char* name : {"Editor", "Notes", "VLC"}) {
        int row = list->rowOf(f.installed(name).path);
        ASSERT_GE(row, 0) << name;
        EXPECT_EQ(list->hasButton(row, inspectButton), std::string(name) == "VLC") << "only a ruled identifier: " << name;
        EXPECT_TRUE(list->buttonEnabled(row, uninstallButton));
        EXPECT_FALSE(list->showsRunning(row));
        EXPECT_EQ(list->iconRect(row).size(), QSize(38, 38));
    }
    // A double click opens the path line as a read-only field, to select and copy the path.
    const QRect editor = list->visualRect(list->model()->index(list->rowOf(f.installed("Editor").path), 0));
    const QPoint onPath = editor.topLeft() + QPoint(120, editor.height() / 2);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, onPath);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, onPath);
    auto* field = list->findChild<QLineEdit*>(QStringLiteral("app-path-field"));
    ASSERT_NE(field, nullptr);
    EXPECT_TRUE(field->isReadOnly());
    EXPECT_EQ(field->selectedText().toStdString(), f.installed("Editor").path);
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
    EXPECT_FALSE(list->buttonEnabled(0, uninstallButton)) << "busy disables the rows";
    ASSERT_TRUE(f.settle());
    EXPECT_TRUE(list->buttonEnabled(0, uninstallButton));
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
    ApplicationList* list = f.page->list();
    ASSERT_TRUE(QTest::qWaitFor([&] { return list->buttonRect(0, uninstallButton).isValid(); }));
    QRect button = list->buttonRect(0, uninstallButton);
    button.moveTopLeft(list->viewport()->mapTo(f.window.get(), button.topLeft()));
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

    ApplicationList* list = f.page->list();
    const int zoom = list->rowOf(f.installed("Zoom").path);
    const int editor = list->rowOf(f.installed("Editor").path);
    ASSERT_TRUE(zoom >= 0 && editor >= 0);
    EXPECT_TRUE(list->showsRunning(zoom));
    EXPECT_TRUE(list->model()->index(zoom, 0).data(Qt::AccessibleDescriptionRole).toString().contains("Running"));
    EXPECT_FALSE(list->buttonEnabled(zoom, inspectButton));
    EXPECT_FALSE(list->buttonEnabled(zoom, uninstallButton));
    EXPECT_FALSE(list->showsRunning(editor));
    EXPECT_TRUE(list->buttonEnabled(editor, uninstallButton));

    kill(process.pid(), SIGTERM);
    process.wait(5);
    EXPECT_TRUE(list->showsRunning(zoom)) << "the mark follows the last snapshot";
    f.page->refreshButton()->click();
    ASSERT_TRUE(f.settle());
    EXPECT_FALSE(list->showsRunning(zoom));
    EXPECT_TRUE(list->buttonEnabled(zoom, inspectButton));
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

    ASSERT_TRUE(clickRowButton(f.page->list(), vlc.path, inspectButton));
    QTRY_VERIFY(f.page->cacheSheet() && f.page->cacheSheet()->isVisible());
    f.page->cacheSheet()->closeButton()->click();
    QTRY_VERIFY(!f.page->cacheSheet());
    ASSERT_TRUE(f.model->cachePlan()) << "the earlier plan stays in the model";

    // Started after the listing's snapshot: the row is enabled, the model's own check refuses.
    ChildProcess process(spotify + "/Contents/MacOS/Run", {"quits", f.homeFolder});
    ASSERT_TRUE(waitForFile(f.homeFolder + "/ready-" + std::to_string(process.pid()), 10));
    ASSERT_TRUE(f.page->list()->buttonEnabled(f.page->list()->rowOf(player.path), inspectButton));
    ASSERT_TRUE(clickRowButton(f.page->list(), player.path, inspectButton));
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

// A refresh and a search replace the rows in the list's model, not widgets: the current
// application, its chosen button and the row at the top of the view stay while still listed.
TEST_F(MaintenancePageTest, RefreshAndSearchKeepTheCurrentRowAndTheRowsInView)
{
    MaintenanceFixture f;
    for (int i = 10; i < 70; ++i) f.bundle("App" + std::to_string(i), "com.example.app" + std::to_string(i));
    f.start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return f.model->installedApps().size() == 60; }, 30000));
    ASSERT_TRUE(f.settle());
    ApplicationList* list = f.page->list();
    const std::string current = f.installed("App40").path;
    list->setPlace({current, uninstallButton});
    list->verticalScrollBar()->setValue(list->verticalScrollBar()->maximum() / 2 + 7);
    auto top = [&] {
        QModelIndex index = list->indexAt(QPoint(0, 0));
        return std::make_pair(list->apps()[size_t(index.row())].path, list->visualRect(index).top());
    };
    const auto inView = top();
    QSignalSpy resets(list->model(), &QAbstractItemModel::modelReset);
    struct Step {
        const char* what;
        std::function<void()> act;
        int resets;
        bool keepsTop;
    };
    const std::vector<Step> steps = {
        {"refresh of the same bundles", [&] { f.page->refreshButton()->click(); }, 0, true},
        {"refresh with a bundle added above", [&] {
             f.bundle("App0", "com.example.app0");
             f.page->refreshButton()->click();
         }, 1, true},
        {"a search that still lists it", [&] { f.page->searchField()->setText("p4"); }, 2, false},
        {"the search cleared", [&] { f.page->searchField()->clear(); }, 3, false},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        step.act();
        ASSERT_TRUE(f.settle());
        EXPECT_EQ(resets.count(), step.resets);
        EXPECT_EQ(list->place().current, current);
        EXPECT_EQ(list->place().button, uninstallButton);
        if (step.keepsTop) {
            EXPECT_EQ(top(), inView);
        }
    }
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
            ApplicationList* list = f.page->list();
            ASSERT_TRUE(waitFor([&] { return list->rowOf(f.installed("Plain").path) == 0 && list->iconLoaded(0); }, 5000));
            saveShot(f.page, std::string("iconless-row-") + language + "-" + appearance);

            const QRect icon = list->iconRect(0);
            QImage drawn(icon.size(), QImage::Format_ARGB32_Premultiplied);
            drawn.fill(Qt::transparent);
            list->viewport()->render(&drawn, QPoint(), QRegion(icon), QWidget::DrawChildren);
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

// Tab goes from the search field to the list, one stop however many rows, and on to the rules:
// also after a refresh or a language switch.
TEST_F(MaintenancePageTest, TabGoesFromTheSearchThroughTheListToTheRules)
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
        std::vector<QWidget*> stops = tabRound(page->searchField(), 30);
        stops.resize(std::min<size_t>(stops.size(), 2));
        EXPECT_EQ(stops, (std::vector<QWidget*>{page->list(), page->rules()->toggle()}));
    }
    installPageFactory({});
}

// From the keyboard the arrows choose the row and, left and right, its button; Space, Return and
// Enter press the chosen one. A row without a cache rule offers only its uninstall button, and
// while the model is busy nothing is pressed.
TEST_F(MaintenancePageTest, KeysChooseAndPressTheButtonsOfTheCurrentRow)
{
    MaintenanceFixture f;
    f.bundle("Editor", "org.example.editor");
    f.bundle("VLC", "org.videolan.vlc");
    f.start();
    ASSERT_TRUE(f.settle());
    ApplicationList* list = f.page->list();
    QObject::disconnect(list, nullptr, f.page, nullptr);  // the presses are recorded, no sheet opens
    std::vector<std::pair<std::string, ApplicationList::RowButton>> pressed;
    QObject::connect(list, &ApplicationList::inspectRequested, [&](const InstalledApp& app) { pressed.push_back({app.name, inspectButton}); });
    QObject::connect(list, &ApplicationList::uninstallRequested, [&](const InstalledApp& app) { pressed.push_back({app.name, uninstallButton}); });
    ASSERT_TRUE(focusByKeyboard(list));
    struct Case {
        std::vector<Qt::Key> keys;
        std::optional<std::pair<std::string, ApplicationList::RowButton>> expected;
    };
    const std::vector<Case> cases = {
        {{Qt::Key_Left, Qt::Key_Space}, {{"Editor", uninstallButton}}},  // Tab reached the first row
        {{Qt::Key_Down, Qt::Key_Left, Qt::Key_Return}, {{"VLC", inspectButton}}},
        {{Qt::Key_Right, Qt::Key_Enter}, {{"VLC", uninstallButton}}},
        {{Qt::Key_Left, Qt::Key_Up, Qt::Key_Space}, {{"Editor", uninstallButton}}},
        {{Qt::Key_Down, Qt::Key_F5, Qt::Key_Space}, std::nullopt},  // F5: a listing runs meanwhile
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(i);
        pressed.clear();
        for (Qt::Key key : cases[i].keys)
            if (key == Qt::Key_F5) f.model->refreshInstalledApps();
            else QTest::keyClick(list, key);
        EXPECT_EQ(pressed.size(), cases[i].expected ? 1u : 0u);
        if (cases[i].expected && !pressed.empty()) {
            EXPECT_EQ(pressed[0], *cases[i].expected);
        }
    }
    ASSERT_TRUE(f.settle());
}

// While the list has the keyboard focus its current row is framed in the accent colour.
TEST_F(MaintenancePageTest, TheCurrentRowIsFramedWhileTheListHasTheFocus)
{
    MaintenanceFixture f;
    f.bundle("VLC", "org.videolan.vlc");
    f.start();
    ASSERT_TRUE(f.settle());
    ApplicationList* list = f.page->list();
    auto framed = [&] {
        QImage row = list->viewport()->grab(list->visualRect(list->model()->index(0, 0))).toImage();
        const QColor accent = Palette::accent();
        int near = 0;
        for (int y = 0; y < row.height(); ++y)
            for (int x = 1; x < 6; ++x) {
                const QColor c = row.pixelColor(x, y);
                near += std::abs(c.red() - accent.red()) + std::abs(c.green() - accent.green()) + std::abs(c.blue() - accent.blue()) < 60;
            }
        return near > row.height() / 2;
    };
    ASSERT_TRUE(focusByKeyboard(list));
    EXPECT_TRUE(framed());
    f.page->searchField()->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !list->hasFocus(); }));
    EXPECT_FALSE(framed());
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
        ApplicationList::RowButton button;
        std::function<ReviewSheet*()> sheet;
        std::function<QWidget*()> list;
    };
    const std::vector<Case> cases = {
        {"VLC", inspectButton, [&] { return f.page->cacheSheet(); }, [&] { return f.page->cacheSheet()->list(); }},
        {"Editor", uninstallButton, [&] { return f.page->uninstallSheet(); }, [&] { return f.page->uninstallSheet()->list(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.app);
        ASSERT_TRUE(focusByKeyboard(f.page->list()));
        f.page->list()->setPlace({f.installed(c.app).path, c.button});
        QTest::keyClick(f.page->list(), Qt::Key_Space);
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
