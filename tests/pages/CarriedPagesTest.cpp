// A language change builds every page again; what the user has open must come through it.
#include "apps/MaintenanceFixture.h"

#include "BundleFixture.h"
#include "../shell/MainWindowTestSupport.h"
#include "pages/apps/CacheReviewView.h"
#include "pages/apps/MaintenancePage.h"
#include "pages/apps/UninstallReviewView.h"
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
#include "shell/controls/NativeFileTable.h"
#include "shell/controls/NativeRelatedCheckbox.h"
#include "shell/controls/StyledLabel.h"
#include "shell/window/CachedPageHost.h"
#include "shell/window/MainView.h"
#include "shell/window/MainWindow.h"
#include "shell/window/PageDestinations.h"
#include "shell/window/SettingsWindow.h"

#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QToolButton>
#include <functional>
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

// The other language, chosen as the settings do.
void switchLanguage()
{
    setSetting(AppSettings::languageKey, AppSettings::shared().languageRaw() == QStringLiteral("en") ? "zh-Hans" : "en");
}

template <class Page>
Page* pageIn(MainView* view, const QString& id)
{
    return qobject_cast<Page*>(view->pageHost()->page(id));
}

// Shows the page and waits until it is ready.
template <class Page>
Page* show(MainView* view, const QString& id)
{
    view->setPage(id);
    return waitReady(view, id) ? pageIn<Page>(view, id) : nullptr;
}

// Cache files old enough for a plan, under the home's cache folder of the identifier.
void oldCacheFiles(const ShellHarness& shell, const std::string& bundleID, int count)
{
    for (int i = 0; i < count; ++i) {
        const std::string path = writeFile(shell.home.root() + "/Library/Caches/" + bundleID + "/c" + std::to_string(1000 + i), "cache");
        setAge(path, 10 * 86400.0);
    }
}

// Scrolls the list halfway down and returns the position it took, which must not be the top.
int scrollHalfway(QAbstractScrollArea* list)
{
    for (int turn = 0; turn < 3; ++turn) QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    QScrollBar* bar = list->verticalScrollBar();
    bar->setValue(bar->maximum() / 2);
    EXPECT_GT(bar->value(), 0) << list->objectName().toStdString() << " does not scroll";
    return bar->value();
}

int position(QAbstractScrollArea* list) { return list->verticalScrollBar()->value(); }

// The confirmation shown in the window, with its title.
QDialog* shownQuestion(QWidget* window)
{
    for (QDialog* dialog : window->findChildren<QDialog*>(QStringLiteral("action-confirmation")))
        if (dialog->isVisible()) return dialog;
    return nullptr;
}
QString titleOf(QDialog* question) { return question->findChild<QLabel*>(QStringLiteral("confirmation-title"))->text(); }

// Chooses the folder and scans it.
bool scanned(ShellHarness& shell, const std::string& folder)
{
    shell.chosenFolder = folder;
    shell.model().choose();
    shell.model().scan();
    return QTest::qWaitFor([&] { return !shell.model().scanning() && !shell.model().filtering() && shell.model().report(); },
                           30000);
}

const InstalledApp* installed(const AppModel& model, const std::string& name)
{
    for (const InstalledApp& app : model.installedApps())
        if (app.name == name) return &app;
    return nullptr;
}

} // namespace

// The cleaning goes on through two language switches, one each way: each time the sheet is
// there again, drawn in the new language, with its progress and its stop, which still stops.
TEST_F(CarriedPagesTest, ACacheCleanKeepsItsSheetProgressAndStopAcrossLanguageSwitches)
{
    ShellHarness shell;
    makeAppBundle(shell.home.path("Applications"), "VLC", "org.videolan.vlc");
    oldCacheFiles(shell, "org.videolan.vlc", 30);
    MainWindow* window = shell.openWindow();
    MainView* view = viewOf(window);
    AppModel& model = shell.model();
    auto* page = show<MaintenancePage>(view, Pages::maintenance);
    ASSERT_NE(page, nullptr);
    QTRY_VERIFY(installed(model, "VLC") && !model.maintenanceBusy());
    page->inspect(*installed(model, "VLC"));
    QTRY_VERIFY(page->cacheSheet());
    page->cacheSheet()->selectShownButton()->click();
    ASSERT_EQ(model.cacheSelection().size(), 30u);

    struct Seen {
        QString language, title, progress;
        bool newSheet = false, shown = false, stopShown = false, closeEnabled = true, rowsEnabled = true;
    };
    std::vector<Seen> seen;
    QPointer<CacheReviewView> before = page->cacheSheet();
    QObject::connect(&model, &AppModel::actionProgressChanged, window, [&] {
        const int64_t done = model.actionProgress().completed;
        if (!model.processing() || done < 1 || done > 2 || static_cast<int64_t>(seen.size()) >= done) return;
        switchLanguage();
        CacheReviewView* sheet = pageIn<MaintenancePage>(view, Pages::maintenance)->cacheSheet();
        Seen now;
        now.language = AppSettings::shared().languageRaw();
        if (sheet) {
            now.newSheet = sheet != before.data();
            now.shown = sheet->isVisible();
            now.title = sheet->findChild<StyledLabel*>(QStringLiteral("cache-title"))->text();
            now.progress = sheet->progressText()->isVisible() ? sheet->progressText()->text() : QString();
            now.stopShown = sheet->stopButton()->isVisible();
            now.closeEnabled = sheet->closeButton()->isEnabled();
            now.rowsEnabled = sheet->check(0)->isEnabled();
            before = sheet;
            if (done == 2) sheet->stopButton()->click();
        }
        seen.push_back(now);
    });
    page->cacheSheet()->cleanButton()->click();
    ASSERT_TRUE(confirmOn(page->cacheSheet()));
    QTRY_VERIFY(!model.processing() && model.message());

    ASSERT_EQ(seen.size(), 2u);
    const QString titles[] = {QStringLiteral("VLC · 缓存候选"), QStringLiteral("VLC · Cache Candidates")};
    for (size_t i = 0; i < seen.size(); ++i) {
        SCOPED_TRACE(seen[i].language.toStdString());
        EXPECT_TRUE(seen[i].newSheet) << "drawn again in the new language";
        EXPECT_TRUE(seen[i].shown);
        EXPECT_EQ(seen[i].title, titles[i]);
        EXPECT_EQ(seen[i].progress, QString::number(i + 1) + QStringLiteral("/30"));
        EXPECT_TRUE(seen[i].stopShown);
        EXPECT_FALSE(seen[i].closeEnabled);
        EXPECT_FALSE(seen[i].rowsEnabled);
    }
    EXPECT_EQ(model.message(), "已停止后续处理，已完成项可在记录中恢复。") << "the stop of the rebuilt sheet stopped";
    EXPECT_EQ(model.cachePlan()->files.size(), 28u);
    CacheReviewView* sheet = pageIn<MaintenancePage>(view, Pages::maintenance)->cacheSheet();
    ASSERT_TRUE(sheet && sheet->isVisible()) << "the sheet stays after the cleaning";
    EXPECT_EQ(sheet->listedRows(), 28);
    EXPECT_FALSE(sheet->stopButton()->isVisible());
    EXPECT_TRUE(sheet->closeButton()->isEnabled());
}

// Nothing clears the search: not a language change while the page shows, nor changes while
// another page shows, nor two of them before the page is shown again.
TEST_F(CarriedPagesTest, TheAppsSearchSurvivesLanguageSwitches)
{
    ShellHarness shell;
    makeAppBundle(shell.home.path("Applications"), "Slack", "com.tinyspeck.slackmacgap");
    makeAppBundle(shell.home.path("Applications"), "Sketch Pad", "org.example.sketchpad");
    MainWindow* window = shell.openWindow();
    MainView* view = viewOf(window);
    auto* page = show<MaintenancePage>(view, Pages::maintenance);
    ASSERT_NE(page, nullptr);
    QTRY_VERIFY(shell.model().installedApps().size() == 2 && !shell.model().maintenanceBusy());
    page->searchField()->setText(QStringLiteral("sla"));

    for (int switches : {1, 2}) {
        SCOPED_TRACE(switches);
        for (bool shown : {true, false}) {
            if (!shown) ASSERT_TRUE(show<QWidget>(view, Pages::settings));
            for (int i = 0; i < switches; ++i) switchLanguage();
            page = show<MaintenancePage>(view, Pages::maintenance);
            ASSERT_NE(page, nullptr);
            EXPECT_EQ(page->searchField()->text(), QStringLiteral("sla")) << (shown ? "shown" : "hidden");
            ASSERT_EQ(page->shownApps().size(), 1u);
            EXPECT_EQ(page->shownApps()[0].name, "Slack");
        }
    }
    setSetting(AppSettings::languageKey, "en");
}

namespace {

// What a user leaves on one page, and what the page built in its place must show of it.
struct PageCase {
    const char* name;
    QString page;
    // Before the window opens: the files, bundles and records the page needs.
    std::function<void(ShellHarness&)> prepare;
    // Leaves state on the shown page; returns the check of the page built in its place.
    std::function<std::function<void(QWidget* rebuilt)>(ShellHarness&, QWidget* page)> leave;
};

std::vector<PageCase> pageCases()
{
    std::vector<PageCase> cases;
    cases.push_back({"files: rows, notes, table position and the move sheet", Pages::files,
                     [](ShellHarness& shell) {
                         std::string folder = shell.folder("Downloads");
                         for (int i = 0; i < 250; ++i) writeFile(folder + "/f" + std::to_string(1000 + i) + ".txt", "x");
                         EXPECT_EQ(symlink("f1000.txt", (folder + "/link").c_str()), 0);
                     },
                     [](ShellHarness& shell, QWidget* shown) -> std::function<void(QWidget*)> {
                         auto* page = qobject_cast<FilesPage*>(shown);
                         EXPECT_TRUE(scanned(shell, shell.folder("Downloads")));
                         page->loadMoreButton()->click();
                         page->scanNotes()->toggle()->click();
                         int table = scrollHalfway(page->table());
                         page->selectPageButton()->click();
                         page->reviewButton()->click();
                         EXPECT_TRUE(page->sheet());
                         const size_t selected = shell.model().selection().size();
                         return [table, selected, &shell](QWidget* rebuilt) {
                             auto* page = qobject_cast<FilesPage*>(rebuilt);
                             EXPECT_EQ(page->limit(), 200);
                             EXPECT_EQ(page->table()->files().size(), 200u);
                             EXPECT_TRUE(page->scanNotes()->expanded());
                             EXPECT_EQ(position(page->table()), table);
                             ASSERT_TRUE(page->sheet());
                             EXPECT_TRUE(page->sheet()->isVisible());
                             EXPECT_EQ(page->sheet()->windowTitle(), QStringLiteral("确认移入废纸篓"));
                             EXPECT_EQ(shell.model().selection().size(), selected);
                         };
                     }});
    cases.push_back({"files: a duplicate group's kept copy and its own ticks", Pages::files,
                     [](ShellHarness& shell) {
                         std::string folder = shell.folder("Copies");
                         for (const char* name : {"a", "bb/b", "ccc/c"}) writeFile(folder + "/" + name + ".bin", "same content");
                     },
                     [](ShellHarness& shell, QWidget* shown) -> std::function<void(QWidget*)> {
                         auto* page = qobject_cast<FilesPage*>(shown);
                         AppModel& model = shell.model();
                         EXPECT_TRUE(scanned(shell, shell.folder("Copies")));
                         page->chip("重复文件")->click();
                         model.detectDuplicates();
                         EXPECT_TRUE(QTest::qWaitFor([&] {
                             return !model.detectingDuplicates() && !model.filtering() && !page->duplicates()->groupViews().empty();
                         }, 30000));
                         DuplicateGroupView* group = page->duplicates()->groupViews().at(0);
                         // The last copy stays; only the first is ticked: not what the suggestion would give.
                         const std::string kept = group->group().files.back().path;
                         group->setKeep(kept);
                         group->rowCheckbox(0)->click();
                         const AppModel::PathSet ticked = model.selection();
                         EXPECT_EQ(ticked.size(), 1u);
                         return [kept, ticked, &model](QWidget* rebuilt) {
                             auto* page = qobject_cast<FilesPage*>(rebuilt);
                             ASSERT_EQ(page->duplicates()->groupViews().size(), 1u);
                             EXPECT_EQ(page->duplicates()->groupViews()[0]->keep(), kept);
                             EXPECT_EQ(model.selection(), ticked) << "the ticks are the user's, not the suggestion's";
                         };
                     }});
    cases.push_back({"history: list position, current record and a restore question", Pages::history,
                     [](ShellHarness& shell) {
                         std::string folder = shell.folder("Old");
                         for (int i = 0; i < 40; ++i) writeFile(folder + "/r" + std::to_string(100 + i) + ".txt", "r");
                     },
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
                         const std::string asked = model.history()[static_cast<size_t>(row)].id;
                         EXPECT_EQ(list->currentIndex().row(), row);
                         EXPECT_TRUE(shownQuestion(shown->window()));
                         return [scrolled, row, asked, &model](QWidget* rebuilt) {
                             auto* page = qobject_cast<HistoryPage*>(rebuilt);
                             EXPECT_EQ(position(page->recordList()), scrolled);
                             EXPECT_EQ(page->recordList()->currentIndex().row(), row) << "Space presses the same record's button";
                             QDialog* question = shownQuestion(rebuilt->window());
                             ASSERT_TRUE(question);
                             EXPECT_EQ(titleOf(question), QStringLiteral("恢复到原位置？"));
                             ActionConfirmation::actionButton(question)->click();
                             ASSERT_TRUE(QTest::qWaitFor([&] { return !model.processing(); }, 10000));
                             for (const Operation& record : model.history())
                                 EXPECT_EQ(record.restoredAt.has_value(), record.id == asked) << "the question still asks about its record";
                         };
                     }});
    cases.push_back({"memory: page position and the release review", Pages::memory,
                     [](ShellHarness& shell) { shell.memory = MemorySnapshot{16ull << 30, 8ull << 30, 2ull << 30, 1ull << 30, 4ull << 30, 1, 0}; },
                     [](ShellHarness&, QWidget* shown) -> std::function<void(QWidget*)> {
                         auto* page = qobject_cast<MemoryPage*>(shown);
                         int scrolled = scrollHalfway(page);
                         page->openReleaseReview();
                         return [scrolled](QWidget* rebuilt) {
                             auto* page = qobject_cast<MemoryPage*>(rebuilt);
                             EXPECT_EQ(position(page), scrolled);
                             ASSERT_TRUE(page->releaseReview());
                             EXPECT_TRUE(page->releaseReview()->isVisible());
                             EXPECT_EQ(page->releaseReview()->windowTitle(), QStringLiteral("释放内存"));
                         };
                     }});
    cases.push_back({"apps: search, rules, list position and the uninstall sheet's ticks", Pages::maintenance,
                     [](ShellHarness& shell) {
                         for (int i = 0; i < 40; ++i)
                             makeAppBundle(shell.home.path("Applications"), "App" + std::to_string(10 + i),
                                           "org.example.app" + std::to_string(10 + i));
                         InstalledApp app;
                         app.bundleID = "org.example.app17";
                         auto related = RelatedFiles::paths(app, shell.home.root());
                         writeFile(related[0].first, "<plist/>");
                         writeFile(related[1].first + "/blob", "cache");
                         writeFile(related[2].first + "/db", "support");
                     },
                     [](ShellHarness& shell, QWidget* shown) -> std::function<void(QWidget*)> {
                         auto* page = qobject_cast<MaintenancePage*>(shown);
                         AppModel& model = shell.model();
                         EXPECT_TRUE(QTest::qWaitFor([&] { return model.installedApps().size() == 40 && !model.maintenanceBusy(); }));
                         page->searchField()->setText(QStringLiteral("app1"));  // App10 to App19
                         page->rules()->toggle()->click();
                         int scrolled = scrollHalfway(page->findChild<QWidget*>(QStringLiteral("app-list"))->findChild<QScrollArea*>());
                         page->uninstall(*installed(model, "App17"));
                         UninstallReviewView* sheet = page->uninstallSheet();
                         EXPECT_TRUE(QTest::qWaitFor([&] { return !sheet->loading(); }));
                         EXPECT_EQ(sheet->items().size(), 3u);
                         for (size_t i : {0u, 2u}) sheet->setSelected(sheet->items()[i].path, true);
                         const std::set<std::string> ticked = sheet->selection();
                         return [scrolled, ticked](QWidget* rebuilt) {
                             auto* page = qobject_cast<MaintenancePage*>(rebuilt);
                             EXPECT_EQ(page->searchField()->text(), QStringLiteral("app1"));
                             EXPECT_EQ(page->shownApps().size(), 10u);
                             EXPECT_TRUE(page->rules()->expanded());
                             EXPECT_EQ(position(page->findChild<QWidget*>(QStringLiteral("app-list"))->findChild<QScrollArea*>()), scrolled);
                             UninstallReviewView* sheet = page->uninstallSheet();
                             ASSERT_TRUE(sheet);
                             EXPECT_TRUE(sheet->isVisible());
                             EXPECT_EQ(sheet->app().name, "App17");
                             EXPECT_FALSE(sheet->loading());
                             EXPECT_EQ(sheet->items().size(), 3u);
                             EXPECT_EQ(sheet->selection(), ticked);
                             for (const RelatedItem& item : sheet->items())
                                 EXPECT_EQ(sheet->checkbox(item.path)->selected(), ticked.count(item.path) > 0);
                         };
                     }});
    cases.push_back({"settings: page position and the clearing question", Pages::settings, [](ShellHarness&) {},
                     [](ShellHarness&, QWidget* shown) -> std::function<void(QWidget*)> {
                         auto* page = qobject_cast<SettingsPage*>(shown);
                         int scrolled = scrollHalfway(page);
                         page->clearButton()->click();
                         EXPECT_TRUE(shownQuestion(shown->window()));
                         return [scrolled](QWidget* rebuilt) {
                             auto* page = qobject_cast<SettingsPage*>(rebuilt);
                             EXPECT_EQ(position(page), scrolled);
                             EXPECT_TRUE(page->confirmingClear());
                             QDialog* question = shownQuestion(rebuilt->window());
                             ASSERT_TRUE(question);
                             EXPECT_EQ(titleOf(question), QStringLiteral("清除所有本地操作记录？文件本身不受影响。"));
                         };
                     }});
    return cases;
}

} // namespace

// Every page passes what the user left on it to the page built for the other language, whether
// the switch comes while it shows or while another page shows; no question is left twice.
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
            MainView* view = viewOf(window);
            QWidget* page = show<QWidget>(view, c.page);
            ASSERT_NE(page, nullptr);
            const int failures = ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count();
            auto expect = c.leave(shell, page);
            if (::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count() != failures) continue;
            if (!shownAtSwitch) ASSERT_TRUE(show<QWidget>(view, Pages::overview));
            switchLanguage();
            QWidget* rebuilt = show<QWidget>(view, c.page);
            ASSERT_NE(rebuilt, nullptr);
            ASSERT_NE(rebuilt, page);
            expect(rebuilt);
            int questions = 0;
            for (QDialog* dialog : window->findChildren<QDialog*>())
                questions += dialog->isVisible() && dialog->objectName() == QStringLiteral("action-confirmation");
            EXPECT_LE(questions, 1) << "the old question went";
        }
    }
    setSetting(AppSettings::languageKey, "en");
}

namespace {

// A program with the applications page shown over VLC (30 old cache files) and Editor (its
// three related items), listed and idle.
struct AppsInWindow {
    ShellHarness shell;
    std::vector<std::string> related;
    MainWindow* window = nullptr;
    MainView* view = nullptr;

    AppsInWindow()
    {
        makeAppBundle(shell.home.path("Applications"), "VLC", "org.videolan.vlc");
        makeAppBundle(shell.home.path("Applications"), "Editor", "org.example.editor");
        oldCacheFiles(shell, "org.videolan.vlc", 30);
        InstalledApp editor;
        editor.bundleID = "org.example.editor";
        for (const auto& [path, label] : RelatedFiles::paths(editor, shell.home.root())) related.push_back(path);
        writeFile(related[0], "<plist/>");
        writeFile(related[1] + "/blob", "cache");
        writeFile(related[2] + "/db", "support");
        window = shell.openWindow();
        view = viewOf(window);
        show<MaintenancePage>(view, Pages::maintenance);
        EXPECT_TRUE(QTest::qWaitFor([&] { return model().installedApps().size() == 2 && !model().maintenanceBusy(); }));
    }
    AppModel& model() { return shell.model(); }
    MaintenancePage* page() const { return pageIn<MaintenancePage>(view, Pages::maintenance); }
    CacheReviewView* cacheSheet()
    {
        page()->inspect(*installed(model(), "VLC"));
        return QTest::qWaitFor([&] { return page()->cacheSheet() != nullptr; }) ? page()->cacheSheet() : nullptr;
    }
};

} // namespace

// Switched back and forth fast while the cleaning's confirmation is open: one sheet, one
// question, in the language chosen last, and the answer still starts the cleaning.
TEST_F(CarriedPagesTest, FastSwitchesLeaveOneSheetAndOneQuestionThatStillActs)
{
    AppsInWindow w;
    CacheReviewView* sheet = w.cacheSheet();
    ASSERT_TRUE(sheet);
    sheet->check(0)->click();
    sheet->check(1)->click();
    sheet->cleanButton()->click();
    QTRY_VERIFY(shownQuestion(sheet));
    for (int i = 0; i < 5; ++i) switchLanguage();
    QCoreApplication::processEvents();
    int sheets = 0, questions = 0;
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (!top->isVisible()) continue;
        sheets += top->objectName() == QStringLiteral("cache-review");
        questions += top->objectName() == QStringLiteral("action-confirmation");
    }
    EXPECT_EQ(sheets, 1);
    EXPECT_EQ(questions, 1);
    sheet = w.page()->cacheSheet();
    ASSERT_TRUE(sheet && shownQuestion(sheet));
    EXPECT_EQ(titleOf(shownQuestion(sheet)), QStringLiteral("将选中的缓存移入废纸篓？"));
    ActionConfirmation::actionButton(shownQuestion(sheet))->click();
    QTRY_VERIFY(!w.model().processing() && w.model().message());
    EXPECT_EQ(w.model().cachePlan()->files.size(), 28u);
    setSetting(AppSettings::languageKey, "en");
}

// The cleaning ends right after a switch: the rebuilt sheet shows how it ended. An inspection
// under way at a switch still opens its sheet.
TEST_F(CarriedPagesTest, AJobEndingAroundASwitchReachesTheRebuiltSheet)
{
    AppsInWindow w;
    CacheReviewView* sheet = w.cacheSheet();
    ASSERT_TRUE(sheet);
    sheet->selectShownButton()->click();
    bool switched = false;
    QObject::connect(&w.model(), &AppModel::actionProgressChanged, w.window, [&] {
        const ActionProgress& progress = w.model().actionProgress();
        if (switched || !w.model().processing() || progress.completed != progress.total) return;
        switched = true;
        switchLanguage();
    });
    sheet->cleanButton()->click();
    ASSERT_TRUE(confirmOn(sheet));
    QTRY_VERIFY(!w.model().processing());
    ASSERT_TRUE(switched);
    sheet = w.page()->cacheSheet();
    ASSERT_TRUE(sheet && sheet->isVisible());
    EXPECT_EQ(sheet->findChild<StyledLabel*>(QStringLiteral("cache-message"))->text(),
              QStringLiteral("缓存处理完成：成功 30 项，失败 0 项。可在操作记录恢复；废纸篓仍占空间。"));
    EXPECT_FALSE(sheet->stopButton()->isVisible());
    EXPECT_TRUE(sheet->closeButton()->isEnabled());
    sheet->closeButton()->click();
    QTRY_VERIFY(!w.page()->cacheSheet());

    // The next inspection is still running when the language changes back.
    oldCacheFiles(w.shell, "org.videolan.vlc", 3);
    w.page()->inspect(*installed(w.model(), "VLC"));
    ASSERT_TRUE(w.model().maintenanceScanning());
    switchLanguage();
    QTRY_VERIFY(w.page()->cacheSheet() && w.page()->cacheSheet()->isVisible());
    EXPECT_EQ(w.page()->cacheSheet()->listedRows(), 3);
}

// An uninstall runs while the language changes: the rebuilt sheet reconciles the run, stays
// for the item the model refused, and offers to retry it.
TEST_F(CarriedPagesTest, AnUninstallUnderWayIsReconciledByTheRebuiltSheet)
{
    AppsInWindow w;
    w.page()->uninstall(*installed(w.model(), "Editor"));
    UninstallReviewView* sheet = w.page()->uninstallSheet();
    QTRY_VERIFY(!sheet->loading());
    for (const std::string& path : w.related) sheet->setSelected(path, true);
    // The cache folder changes after the review: the model refuses to move it.
    writeFile(w.related[1] + "/late-blob", "more");
    bool switched = false;
    QObject::connect(&w.model(), &AppModel::historyChanged, w.window, [&] {
        if (switched || !w.model().processing()) return;
        switched = true;
        switchLanguage();
    });
    sheet->primaryButton()->click();
    ASSERT_TRUE(confirmOn(sheet));
    QTRY_VERIFY_WITH_TIMEOUT(!w.model().processing(), 15000);
    ASSERT_TRUE(switched);
    sheet = w.page()->uninstallSheet();
    ASSERT_TRUE(sheet);
    QTRY_VERIFY(sheet->packageRemoved());
    EXPECT_TRUE(sheet->isVisible());
    ASSERT_EQ(sheet->items().size(), 1u);
    EXPECT_EQ(sheet->items()[0].path, w.related[1]);
    EXPECT_EQ(sheet->selection(), std::set<std::string>{w.related[1]});
    EXPECT_EQ(sheet->primaryButton()->text(), QStringLiteral("重试所选关联项…"));
    setSetting(AppSettings::languageKey, "en");
}

// Two main windows and the settings window: each keeps its own search, sheet and question,
// whichever window the language is chosen in.
TEST_F(CarriedPagesTest, EveryWindowKeepsItsOwnThroughASwitch)
{
    AppsInWindow w;
    MainWindow* second = w.shell.app->openMainWindow();
    ASSERT_TRUE(activate(second));
    auto* other = show<MaintenancePage>(viewOf(second), Pages::maintenance);
    ASSERT_TRUE(other);
    other->searchField()->setText(QStringLiteral("edit"));
    w.page()->searchField()->setText(QStringLiteral("vl"));
    ASSERT_TRUE(w.cacheSheet());
    SettingsWindow* settings = w.shell.app->showSettings();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(settings));
    qobject_cast<SettingsPage*>(settings->content())->clearButton()->click();
    QTRY_VERIFY(shownQuestion(settings));

    switchLanguage();
    EXPECT_EQ(w.page()->searchField()->text(), QStringLiteral("vl"));
    ASSERT_TRUE(w.page()->cacheSheet());
    EXPECT_TRUE(w.page()->cacheSheet()->isVisible());
    other = pageIn<MaintenancePage>(viewOf(second), Pages::maintenance);
    EXPECT_EQ(other->searchField()->text(), QStringLiteral("edit"));
    EXPECT_FALSE(other->cacheSheet()) << "the sheet stays in its own window";
    QDialog* question = shownQuestion(settings);
    ASSERT_TRUE(question);
    EXPECT_EQ(titleOf(question), QStringLiteral("清除所有本地操作记录？文件本身不受影响。"));
    setSetting(AppSettings::languageKey, "en");
}
