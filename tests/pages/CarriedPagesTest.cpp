// A language change builds every page again; what the user has open must come through it.
#include "apps/MaintenanceFixture.h"

#include "BundleFixture.h"
#include "../shell/MainWindowTestSupport.h"
#include "pages/apps/CacheReviewView.h"
#include "shell/controls/CheckableRowList.h"
#include "pages/files/DuplicateGroupView.h"
#include "pages/files/DuplicatesSection.h"
#include "pages/files/FilesPage.h"
#include "pages/history/HistoryPage.h"
#include "pages/history/HistoryRecordList.h"
#include "pages/memory/MemoryPage.h"
#include "pages/PageCatalog.h"
#include "pages/settings/SettingsPage.h"
#include "services/RelatedFiles.h"
#include "shell/app/AppSettings.h"
#include "shell/controls/ActionConfirmation.h"
#include "shell/controls/DisclosureGroup.h"
#include "shell/controls/NativeActionButton.h"
#include "pages/files/NativeFileTable.h"
#include "pages/apps/NativeRelatedCheckbox.h"
#include "shell/controls/StyledLabel.h"
#include "shell/window/CachedPageHost.h"
#include "shell/window/MainView.h"
#include "shell/window/MainWindow.h"
#include "shell/window/PageDestinations.h"
#include "shell/window/SettingsWindow.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QToolButton>
#include <unistd.h>
#include "QtWaits.h"

namespace {

class CarriedPagesTest : public ShellTest {
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        installPageFactory(tessynPages());
    }
    void TearDown() override
    {
        installPageFactory({});
        ShellTest::TearDown();
    }
};

void switchLanguage()
{
    setSetting(AppSettings::languageKey, AppSettings::shared().languageRaw() == QStringLiteral("en") ? "zh-Hans" : "en");
}

template <class Page = QWidget>
Page* pageIn(MainWindow* window, const QString& id)
{
    return qobject_cast<Page*>(viewOf(window)->pageHost()->page(id));
}

template <class Page = QWidget>
Page* show(MainWindow* window, const QString& id)
{
    viewOf(window)->setPage(id);
    return waitReady(viewOf(window), id) ? pageIn<Page>(window, id) : nullptr;
}

QDialog* shownQuestion(QWidget* window)
{
    for (QDialog* dialog : window->findChildren<QDialog*>(QStringLiteral("action-confirmation")))
        if (dialog->isVisible()) return dialog;
    return nullptr;
}
QString questionIn(QWidget* window)
{
    QDialog* question = shownQuestion(window);
    return question ? question->findChild<QLabel*>(QStringLiteral("confirmation-title"))->text() : QString();
}

// Scrolls the list halfway and returns where it went, which must not be the top.
int scrollHalfway(QAbstractScrollArea* list)
{
    for (int turn = 0; turn < 3; ++turn) QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    list->verticalScrollBar()->setValue(list->verticalScrollBar()->maximum() / 2);
    EXPECT_GT(list->verticalScrollBar()->value(), 0) << "the list does not scroll";
    return list->verticalScrollBar()->value();
}
int position(QAbstractScrollArea* list) { return list->verticalScrollBar()->value(); }
QAbstractScrollArea* appList(QWidget* page) { return page->findChild<QWidget*>(QStringLiteral("app-list"))->findChild<QAbstractScrollArea*>(); }

bool scanned(ShellHarness& shell, const std::string& folder)
{
    shell.chosenFolder = folder;
    shell.model().choose();
    shell.model().scan();
    return QTest::qWaitFor([&] { return !shell.model().scanning() && !shell.model().filtering() && shell.model().report(); }, 30000);
}

const InstalledApp& installed(const AppModel& model, const std::string& name)
{
    for (const InstalledApp& app : model.installedApps())
        if (app.name == name) return app;
    throw std::runtime_error("not installed: " + name);
}

// Bundles VLC (`cacheFiles` old cache files) and Editor (with its three related items), listed
// on the applications page of a shown main window.
struct AppsInWindow {
    ShellHarness shell;
    std::vector<std::string> related;
    MainWindow* window = nullptr;

    explicit AppsInWindow(int cacheFiles = 30)
    {
        makeAppBundle(shell.home.path("Applications"), "VLC", "org.videolan.vlc");
        makeAppBundle(shell.home.path("Applications"), "Editor", "org.example.editor");
        for (int i = 0; i < cacheFiles; ++i)
            setAge(writeFile(shell.home.root() + "/Library/Caches/org.videolan.vlc/c" + std::to_string(1000 + i), "c"), 864000);
        InstalledApp editor;
        editor.bundleID = "org.example.editor";
        for (const auto& [path, label] : RelatedFiles::paths(editor, shell.home.root())) related.push_back(path);
        writeFile(related[0], "<plist/>");
        writeFile(related[1] + "/blob", "cache");
        writeFile(related[2] + "/db", "support");
        window = shell.openWindow();
        show(window, Pages::maintenance);
        EXPECT_TRUE(QTest::qWaitFor([&] { return model().installedApps().size() == 2 && !model().maintenanceBusy(); }));
    }
    AppModel& model() { return shell.model(); }
    MaintenancePage* page() const { return pageIn<MaintenancePage>(window, Pages::maintenance); }
};

} // namespace

// The cleaning goes on through a switch each way: each time the sheet is there again in the
// new language, with its progress and its stop; the second one's stop stops the cleaning,
// which ends before the next file, and the sheet shows the end.
TEST_F(CarriedPagesTest, ACacheCleanKeepsItsSheetProgressAndStopAcrossLanguageSwitches)
{
    AppsInWindow w;
    w.page()->inspect(installed(w.model(), "VLC"));
    QTRY_VERIFY(w.page()->cacheSheet());
    w.page()->cacheSheet()->selectShownButton()->click();
    CheckableRowList* rows = w.page()->cacheSheet()->rows();
    rows->setCurrentIndex(rows->model()->index(5, 0));
    std::vector<std::string> seen;  // per switch: the sheet as drawn right after it
    // The first file's record comes while the worker waits for its history save.
    QObject::connect(&w.model(), &AppModel::actionProgressChanged, w.window, [&] {
        if (!w.model().processing() || w.model().actionProgress().completed != 1 || !seen.empty()) return;
        for (int i = 0; i < 2; ++i) {
            QPointer<CacheReviewView> before = w.page()->cacheSheet();
            switchLanguage();
            CacheReviewView* sheet = w.page()->cacheSheet();
            if (!sheet) return seen.push_back("no sheet");
            seen.push_back(QStringList{sheet->findChild<StyledLabel*>(QStringLiteral("cache-title"))->text(),
                                       sheet->progressText()->isVisible() ? sheet->progressText()->text() : QString(),
                                       sheet->stopButton()->isVisible() ? sheet->stopButton()->text() : QString(),
                                       QString::number(sheet->isVisible() && sheet != before && !sheet->closeButton()->isEnabled() &&
                                                       !sheet->rows()->rowsEnabled() && sheet->rows()->isTicked(29) &&
                                                       sheet->rows()->currentIndex().row() == 5)}
                               .join(QStringLiteral(" | ")).toStdString());
        }
        w.page()->cacheSheet()->stopButton()->click();
    });
    w.page()->cacheSheet()->cleanButton()->click();
    ASSERT_TRUE(confirmOn(w.page()->cacheSheet()));
    QTRY_VERIFY(!w.model().processing() && w.model().message());

    EXPECT_EQ(seen, (std::vector<std::string>{"VLC · 缓存候选 | 1/30 | 停止后续处理 | 1",
                                              "VLC · Cache Candidates | 1/30 | Stop the Rest | 1"}));
    EXPECT_EQ(w.model().message(), "已停止后续处理，已完成项可在记录中恢复。") << "the rebuilt sheet's stop stopped";
    EXPECT_EQ(w.model().cachePlan()->files.size(), 29u);
    CacheReviewView* sheet = w.page()->cacheSheet();
    ASSERT_TRUE(sheet && sheet->isVisible());
    EXPECT_EQ(sheet->findChild<StyledLabel*>(QStringLiteral("cache-message"))->text(),
              "The remaining items were not processed. Completed items can be restored from the history.");
    EXPECT_FALSE(sheet->stopButton()->isVisible());
    EXPECT_TRUE(sheet->closeButton()->isEnabled());
}

// Nothing clears the search: a switch while the page shows, one in another window, two while
// another page shows. Each window keeps its own, and the settings window its question.
TEST_F(CarriedPagesTest, TheAppsSearchSurvivesLanguageSwitchesInEveryWindow)
{
    AppsInWindow w;
    MainWindow* second = w.shell.openWindow();
    show<MaintenancePage>(second, Pages::maintenance)->searchField()->setText(QStringLiteral("edit"));
    w.page()->searchField()->setText(QStringLiteral("vl"));
    SettingsWindow* settings = w.shell.app->showSettings();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(settings));
    qobject_cast<SettingsPage*>(settings->content())->clearButton()->click();
    QTRY_VERIFY(shownQuestion(settings));

    switchLanguage();
    EXPECT_EQ(questionIn(settings), QStringLiteral("清除所有本地操作记录？文件本身不受影响。"));
    EXPECT_EQ(pageIn<MaintenancePage>(second, Pages::maintenance)->searchField()->text(), QStringLiteral("edit"));
    ASSERT_TRUE(show(w.window, Pages::settings));
    switchLanguage();
    switchLanguage();
    auto* page = show<MaintenancePage>(w.window, Pages::maintenance);
    EXPECT_EQ(page->searchField()->text(), QStringLiteral("vl"));
    ASSERT_EQ(page->shownApps().size(), 1u);
    EXPECT_EQ(page->shownApps()[0].name, "VLC");
    setSetting(AppSettings::languageKey, "en");
}

// What a sheet awaits reaches the sheet built in its place: an inspection that is to open it,
// its question, which still acts, and an uninstall's end, which the rebuilt sheet reconciles,
// keeping the item the model refused ticked for a retry.
TEST_F(CarriedPagesTest, WhatASheetAwaitsReachesTheSheetBuiltInItsPlace)
{
    AppsInWindow w;
    w.page()->inspect(installed(w.model(), "VLC"));
    ASSERT_TRUE(w.model().maintenanceScanning());
    switchLanguage();
    QTRY_VERIFY(w.page()->cacheSheet() && w.page()->cacheSheet()->isVisible());
    clickRow(w.page()->cacheSheet()->rows(), 0);
    w.page()->cacheSheet()->cleanButton()->click();
    QTRY_VERIFY(shownQuestion(w.page()->cacheSheet()));
    switchLanguage();
    EXPECT_EQ(questionIn(w.page()->cacheSheet()), QStringLiteral("Move the selected cache files to the Trash?"));
    ActionConfirmation::actionButton(shownQuestion(w.page()->cacheSheet()))->click();
    QTRY_VERIFY(!w.model().processing() && w.model().cachePlan()->files.size() == 29u);
    w.page()->cacheSheet()->closeButton()->click();

    w.page()->uninstall(installed(w.model(), "Editor"));
    QTRY_VERIFY(!w.page()->uninstallSheet()->loading());
    for (const std::string& path : w.related) w.page()->uninstallSheet()->setSelected(path, true);
    writeFile(w.related[1] + "/late-blob", "more");  // changed after the review: the model refuses it
    bool switched = false;
    QObject::connect(&w.model(), &AppModel::historyChanged, w.window, [&] {
        if (!std::exchange(switched, true)) switchLanguage();
    });
    w.page()->uninstallSheet()->primaryButton()->click();
    ASSERT_TRUE(confirmOn(w.page()->uninstallSheet()));
    QTRY_VERIFY_WITH_TIMEOUT(!w.model().processing() && w.page()->uninstallSheet()->packageRemoved(), 15000);
    UninstallReviewView* sheet = w.page()->uninstallSheet();
    EXPECT_TRUE(sheet->isVisible());
    ASSERT_EQ(sheet->items().size(), 1u);
    EXPECT_EQ(sheet->selection(), std::set<std::string>{w.related[1]});
    EXPECT_EQ(sheet->primaryButton()->text(), QStringLiteral("重试所选关联项…"));
    setSetting(AppSettings::languageKey, "en");
}

namespace {

// What a user leaves on one page, and what the page built in its place must show of it.
struct PageCase {
    const char* name;
    QString page;
    std::function<void(ShellHarness&)> prepare;  // files, bundles, settings before the window opens
    // Leaves state on the shown page; returns the check of the page built in its place.
    std::function<std::function<void(QWidget*)>(ShellHarness&, QWidget*)> leave;
};

std::vector<PageCase> pageCases()
{
    auto files = [](int count, const std::string& folder, const std::string& content) {
        return [=](ShellHarness& shell) {
            for (int i = 0; i < count; ++i) writeFile(shell.folder(folder) + "/d" + std::to_string(i) + "/f" + std::to_string(i), content);
        };
    };
    return {
        {"files: rows, notes, table position, move sheet", Pages::files,
         [](ShellHarness& shell) {
             for (int i = 0; i < 250; ++i) writeFile(shell.folder("Downloads") + "/f" + std::to_string(1000 + i), "x");
             EXPECT_EQ(symlink("f1000", (shell.folder("Downloads") + "/link").c_str()), 0);  // a skipped item: notes
         },
         [](ShellHarness& shell, QWidget* shown) -> std::function<void(QWidget*)> {
             auto* page = qobject_cast<FilesPage*>(shown);
             EXPECT_TRUE(scanned(shell, shell.folder("Downloads")));
             page->loadMoreButton()->click();
             page->scanNotes()->toggle()->click();
             int table = scrollHalfway(page->table());
             page->selectPageButton()->click();
             page->reviewButton()->click();
             return [table](QWidget* rebuilt) {
                 auto* page = qobject_cast<FilesPage*>(rebuilt);
                 EXPECT_EQ(page->table()->files().size(), 200u);
                 EXPECT_TRUE(page->scanNotes()->expanded());
                 EXPECT_EQ(position(page->table()), table);
                 ASSERT_TRUE(page->sheet() && page->sheet()->isVisible());
                 EXPECT_EQ(page->sheet()->windowTitle(), QStringLiteral("确认移入废纸篓"));
             };
         }},
        {"files: a duplicate group's kept copy and ticks", Pages::files, files(3, "Copies", "same"),
         [](ShellHarness& shell, QWidget* shown) -> std::function<void(QWidget*)> {
             auto* page = qobject_cast<FilesPage*>(shown);
             AppModel& model = shell.model();
             EXPECT_TRUE(scanned(shell, shell.folder("Copies")));
             page->chip("重复文件")->click();
             model.detectDuplicates();
             EXPECT_TRUE(QTest::qWaitFor([&] { return !model.detectingDuplicates() && !page->duplicates()->groupViews().empty(); }, 30000));
             DuplicateGroupView* group = page->duplicates()->groupViews().at(0);
             // The last copy stays and only the first is ticked: not what the suggestion gives.
             const std::string kept = group->group().files.back().path;
             group->setKeep(kept);
             group->rowCheckbox(0)->click();
             return [kept, ticked = model.selection(), &model](QWidget* rebuilt) {
                 auto* page = qobject_cast<FilesPage*>(rebuilt);
                 ASSERT_EQ(page->duplicates()->groupViews().size(), 1u);
                 EXPECT_EQ(page->duplicates()->groupViews()[0]->keep(), kept);
                 EXPECT_EQ(model.selection(), ticked) << "the ticks are the user's, not the suggestion's";
             };
         }},
        {"history: position, current record, restore question", Pages::history, files(40, "Old", "r"),
         [](ShellHarness& shell, QWidget* shown) -> std::function<void(QWidget*)> {
             AppModel& model = shell.model();
             EXPECT_TRUE(scanned(shell, shell.folder("Old")));
             AppModel::PathSet all;
             for (const FileEntry& file : model.report()->files) all.insert(file.path);
             model.setSelection(all);
             model.trashSelected();
             EXPECT_TRUE(QTest::qWaitFor([&] { return !model.processing() && model.history().size() == 40; }, 30000));
             HistoryRecordList* list = qobject_cast<HistoryPage*>(shown)->recordList();
             int scrolled = scrollHalfway(list);
             const int row = list->indexAt(list->viewport()->rect().center()).row();
             QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->restoreButtonRect(row).center());
             EXPECT_TRUE(shownQuestion(shown->window()));
             return [scrolled, row, asked = model.history()[static_cast<size_t>(row)].id, &model](QWidget* rebuilt) {
                 HistoryRecordList* list = qobject_cast<HistoryPage*>(rebuilt)->recordList();
                 EXPECT_EQ(position(list), scrolled);
                 EXPECT_EQ(list->currentIndex().row(), row) << "Space presses the same record's button";
                 EXPECT_EQ(questionIn(rebuilt->window()), QStringLiteral("恢复到原位置？"));
                 ActionConfirmation::actionButton(shownQuestion(rebuilt->window()))->click();
                 ASSERT_TRUE(QTest::qWaitFor([&] { return !model.processing(); }, 10000));
                 for (const Operation& record : model.history())
                     EXPECT_EQ(record.restoredAt.has_value(), record.id == asked) << "the question still asks about its record";
             };
         }},
        {"memory: page position, release review", Pages::memory,
         [](ShellHarness& shell) { shell.memory = MemorySnapshot{16ull << 30, 8ull << 30, 2ull << 30, 1ull << 30, 4ull << 30, 1, 0}; },
         [](ShellHarness&, QWidget* shown) -> std::function<void(QWidget*)> {
             auto* page = qobject_cast<MemoryPage*>(shown);
             int scrolled = scrollHalfway(page);
             page->openReleaseReview();
             return [scrolled](QWidget* rebuilt) {
                 auto* page = qobject_cast<MemoryPage*>(rebuilt);
                 EXPECT_EQ(position(page), scrolled);
                 ASSERT_TRUE(page->releaseReview() && page->releaseReview()->isVisible());
                 EXPECT_EQ(page->releaseReview()->windowTitle(), QStringLiteral("释放内存"));
             };
         }},
        {"apps: search, rules, list position, uninstall sheet ticks", Pages::maintenance,
         [](ShellHarness& shell) {
             for (int i = 10; i < 50; ++i)
                 makeAppBundle(shell.home.path("Applications"), "App" + std::to_string(i), "org.example.app" + std::to_string(i));
             InstalledApp app;
             app.bundleID = "org.example.app17";
             for (const auto& [path, label] : RelatedFiles::paths(app, shell.home.root())) writeFile(path, "related");
         },
         [](ShellHarness& shell, QWidget* shown) -> std::function<void(QWidget*)> {
             auto* page = qobject_cast<MaintenancePage*>(shown);
             EXPECT_TRUE(QTest::qWaitFor([&] { return shell.model().installedApps().size() == 40 && !shell.model().maintenanceBusy(); }));
             page->searchField()->setText(QStringLiteral("app1"));
             page->rules()->toggle()->click();
             int scrolled = scrollHalfway(appList(page));
             const ApplicationList::Place place{installed(shell.model(), "App17").path, ApplicationList::uninstallButton};
             page->list()->setPlace(place);
             page->uninstall(installed(shell.model(), "App17"));
             EXPECT_TRUE(QTest::qWaitFor([&] { return page->uninstallSheet()->items().size() == 3; }));
             for (size_t i : {0u, 2u}) page->uninstallSheet()->setSelected(page->uninstallSheet()->items()[i].path, true);
             return [scrolled, place, ticked = page->uninstallSheet()->selection()](QWidget* rebuilt) {
                 auto* page = qobject_cast<MaintenancePage*>(rebuilt);
                 EXPECT_EQ(page->searchField()->text(), QStringLiteral("app1"));
                 EXPECT_EQ(page->shownApps().size(), 10u);
                 EXPECT_TRUE(page->rules()->expanded());
                 EXPECT_EQ(position(appList(page)), scrolled);
                 EXPECT_EQ(page->list()->place().current, place.current);
                 EXPECT_EQ(page->list()->place().button, place.button);
                 UninstallReviewView* sheet = page->uninstallSheet();
                 ASSERT_TRUE(sheet && sheet->isVisible());
                 EXPECT_EQ(sheet->app().name, "App17");
                 EXPECT_EQ(sheet->items().size(), 3u);
                 EXPECT_EQ(sheet->selection(), ticked);
                 for (const RelatedItem& item : sheet->items()) EXPECT_EQ(sheet->checkbox(item.path)->selected(), ticked.count(item.path) > 0);
             };
         }},
        {"apps: the cache sheet's rows, position, current row and ticks", Pages::maintenance,
         [](ShellHarness& shell) {
             makeAppBundle(shell.home.path("Applications"), "VLC", "org.videolan.vlc");
             for (int i = 0; i < 450; ++i)
                 setAge(writeFile(shell.home.root() + "/Library/Caches/org.videolan.vlc/c" + std::to_string(1000 + i), "c"), 864000);
         },
         [](ShellHarness& shell, QWidget* shown) -> std::function<void(QWidget*)> {
             auto* page = qobject_cast<MaintenancePage*>(shown);
             EXPECT_TRUE(QTest::qWaitFor([&] { return shell.model().installedApps().size() == 1 && !shell.model().maintenanceBusy(); }));
             page->inspect(installed(shell.model(), "VLC"));
             EXPECT_TRUE(QTest::qWaitFor([&] { return page->cacheSheet() && page->cacheSheet()->isVisible(); }));
             CacheReviewView* sheet = page->cacheSheet();
             sheet->loadMoreButton()->click();
             clickRow(sheet->rows(), 300);
             int scrolled = scrollHalfway(sheet->rows());
             return [scrolled](QWidget* rebuilt) {
                 CacheReviewView* sheet = qobject_cast<MaintenancePage*>(rebuilt)->cacheSheet();
                 ASSERT_TRUE(sheet && sheet->isVisible());
                 EXPECT_EQ(sheet->listedRows(), 400);
                 EXPECT_EQ(sheet->rows()->currentIndex().row(), 300);
                 EXPECT_TRUE(sheet->rows()->isTicked(300));
                 EXPECT_EQ(position(sheet->rows()), scrolled);
             };
         }},
        {"settings: page position, clearing question", Pages::settings, [](ShellHarness&) {},
         [](ShellHarness&, QWidget* shown) -> std::function<void(QWidget*)> {
             int scrolled = scrollHalfway(qobject_cast<SettingsPage*>(shown));
             qobject_cast<SettingsPage*>(shown)->clearButton()->click();
             return [scrolled](QWidget* rebuilt) {
                 EXPECT_EQ(position(qobject_cast<SettingsPage*>(rebuilt)), scrolled);
                 EXPECT_EQ(questionIn(rebuilt->window()), QStringLiteral("清除所有本地操作记录？文件本身不受影响。"));
             };
         }},
    };
}

} // namespace

// Every page with state of its own passes it to the pages built for the other languages, whether
// the switches come while it shows or while another page shows; no question is left twice. (The
// overview holds none: it fits the smallest window and draws everything from the model.)
TEST_F(CarriedPagesTest, EveryPageCarriesItsStateThroughALanguageSwitch)
{
    for (const PageCase& c : pageCases()) {
        for (bool shownAtSwitch : {true, false}) {
            SCOPED_TRACE(std::string(c.name) + (shownAtSwitch ? ", shown" : ", hidden"));
            setSetting(AppSettings::languageKey, "en");
            ShellHarness shell;
            c.prepare(shell);
            MainWindow* window = shell.openWindow();
            window->resize(860, 600);
            QWidget* page = show(window, c.page);
            ASSERT_NE(page, nullptr);
            const int parts = ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count();
            auto expect = c.leave(shell, page);
            if (::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count() != parts) continue;
            if (!shownAtSwitch) {
                ASSERT_TRUE(show(window, Pages::overview));
            }
            for (int i = 0; i < 3; ++i) switchLanguage();  // fast, ending on the other language
            QWidget* rebuilt = show(window, c.page);
            ASSERT_TRUE(rebuilt);
            expect(rebuilt);
            int questions = 0;
            for (QDialog* dialog : window->findChildren<QDialog*>(QStringLiteral("action-confirmation"))) questions += dialog->isVisible();
            EXPECT_LE(questions, 1) << "the old question went";
        }
    }
    setSetting(AppSettings::languageKey, "en");
}

// The Files page's state waits for the page while another page shows; what the model replaces
// meanwhile (from the menu or another window) takes its part of the state along, as on a shown
// page: a new scan the notes and rows, a new duplicate search the problems, another query the
// rows. A moved copy replaces no report.
TEST_F(CarriedPagesTest, AFilesPageStateWaitingForItsPageLeavesWhatWasReplacedMeanwhile)
{
    auto idle = [](AppModel& m) { return QTest::qWaitFor([&] { return !m.scanning() && !m.detectingDuplicates() && !m.processing(); }, 30000); };
    struct Case {
        const char* name;
        std::function<bool(AppModel&)> meanwhile;
        bool notesOpen, moreRows, problemsOpen;
    };
    const std::vector<Case> cases = {
        {"a copy moved", [&](AppModel& m) { m.setSelection({m.duplicateReport()->groups[0].files[0].path}); m.trashSelected(); return idle(m); }, true, true, true},
        {"the folder scanned again", [&](AppModel& m) { m.scan(); return idle(m) && (m.detectDuplicates(), idle(m)); }, false, false, false},
        {"duplicates searched again", [&](AppModel& m) { m.detectDuplicates(); return idle(m); }, true, true, false},
        {"another filter", [](AppModel& m) { m.setFilter("大文件"); return true; }, true, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ShellHarness shell;
        AppModel& model = shell.model();
        const std::string folder = shell.folder("Copies");
        for (int i = 0; i < 120; ++i) writeFile(folder + "/g" + std::to_string(i % 40) + "/c" + std::to_string(i), std::string(200 + i % 40, 'c'));
        ASSERT_EQ(symlink("g0", (folder + "/link").c_str()), 0);  // a skipped item: notes
        auto withProblems = [&model] {
            auto report = std::make_shared<DuplicateReport>(*model.duplicateReport());
            report->warnings = {"a.bin：Permission denied"};
            model.setDuplicateReport(report);
        };
        MainWindow* window = shell.openWindow();
        auto* page = qobject_cast<FilesPage*>(show(window, Pages::files));
        ASSERT_TRUE(page && scanned(shell, folder));
        page->loadMoreButton()->click();
        page->scanNotes()->setExpanded(true);
        model.detectDuplicates();
        ASSERT_TRUE(idle(model));
        withProblems();
        page->duplicates()->warnings()->setExpanded(true);
        ASSERT_TRUE(show(window, Pages::overview));
        for (int i = 0; i < 3; ++i) switchLanguage();
        ASSERT_TRUE(c.meanwhile(model));
        withProblems();
        auto* rebuilt = qobject_cast<FilesPage*>(show(window, Pages::files));
        ASSERT_TRUE(rebuilt);
        EXPECT_EQ(rebuilt->scanNotes()->expanded(), c.notesOpen);
        EXPECT_EQ(rebuilt->limit(), (c.moreRows ? 2 : 1) * FilesPage::kPageRows);
        EXPECT_EQ(rebuilt->duplicates()->warnings()->expanded(), c.problemsOpen);
        setSetting(AppSettings::languageKey, "en");
    }
}
