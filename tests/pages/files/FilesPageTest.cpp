#include "FilesPageHarness.h"

#include "shell/controls/DisclosureGroup.h"
#include "shell/controls/MiddleElidedLabel.h"
#include "pages/PageCatalog.h"
#include "pages/files/DuplicatesSection.h"
#include "pages/history/HistoryRecordList.h"
#include "pages/files/MoveConfirmationSheet.h"
#include "pages/files/SpaceSummaryView.h"
#include "shell/app/AppSettings.h"
#include "shell/window/CachedPageHost.h"
#include "shell/LocalizedText.h"
#include "shell/window/MainView.h"
#include "shell/window/MainWindow.h"
#include "shell/controls/NativeActionButton.h"
#include "shell/window/PageDestinations.h"
#include "pages/files/NativeFileTable.h"

#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QToolButton>
#include <algorithm>
#include <functional>
#include <filesystem>
#include <set>

namespace {

class FilesPageTest : public ShellTest {};

AppModel::PathSet setOf(const std::vector<std::string>& paths) { return {paths.begin(), paths.end()}; }

void triggerMenuItem(QPushButton* button, const QString& text)
{
    for (QAction* action : button->menu()->actions())
        if (action->text() == text) return action->trigger();
    ADD_FAILURE() << "no menu item " << text.toStdString();
}

void clickRow(NativeFileTable* table, int row)
{
    QRect cell = table->visualRect(table->model()->index(row, NativeFileTable::fileColumn));
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, cell.center());
}

void typeInto(QLineEdit* field, const QString& text)
{
    field->setFocus();
    field->selectAll();
    QTest::keyClicks(field, text);
}

} // namespace

TEST_F(FilesPageTest, RowsComeAHundredAtATimeAndSelectingThemKeepsOtherSelections)
{
    FilesPageHarness h;
    std::string folder = h.home.path("Downloads");
    std::vector<std::string> paths = writeFiles(folder, 250);
    ASSERT_NO_FATAL_FAILURE(h.chooseAndScan(folder));
    NativeFileTable* table = h.page->table();
    QPushButton* more = h.page->loadMoreButton();

    for (auto [rows, title] : std::vector<std::pair<size_t, QString>>{{100, "Load More (100 shown)"},
                                                                      {200, "Load More (200 shown)"}}) {
        EXPECT_EQ(table->files().size(), rows);
        EXPECT_TRUE(more->isVisible());
        EXPECT_EQ(more->text(), title);
        click(more);
    }
    EXPECT_EQ(table->files().size(), 250u);
    EXPECT_FALSE(more->isVisible()) << "all rows shown";
    EXPECT_EQ(h.page->matchLabel()->text(), "250 matching · 250 inspected");

    // A query that gives the same rows again leaves the table as it was.
    int reloads = table->reloadCount();
    h.model->refreshResults(false);
    ASSERT_TRUE(h.settled());
    EXPECT_EQ(table->reloadCount(), reloads);

    // Back to 100 rows; one selected file lies beyond them.
    h.page->searchField()->setFocus();
    QTest::keyClicks(h.page->searchField(), "/f");
    ASSERT_TRUE(h.settled());
    ASSERT_EQ(h.page->limit(), 100);
    h.model->setSelection({paths[0]});  // the smallest file: the last row
    click(h.page->selectPageButton());
    std::vector<std::string> shown = shownPaths(table);
    AppModel::PathSet expected = setOf(shown);
    expected.insert(paths[0]);
    EXPECT_EQ(h.model->selection(), expected) << "the shown rows join the hidden selection";
    EXPECT_EQ(h.page->selectedLabel()->text().left(13), "101 selected ");
    EXPECT_EQ(table->pathSelection(), PathSelection(shown.begin(), shown.end())) << "the table follows the model's selection";

    // A click in the table replaces the shown rows' part of the selection only.
    clickRow(table, 3);
    EXPECT_EQ(h.model->selection(), (AppModel::PathSet{paths[0], shown[3]}));
    // Hidden by a filter, still selected.
    click(h.page->chip("大文件"));
    ASSERT_TRUE(h.settled());
    EXPECT_TRUE(h.page->noMatch()->isVisible());
    EXPECT_EQ(h.model->selection(), (AppModel::PathSet{paths[0], shown[3]}));
}

TEST_F(FilesPageTest, FilterAndSearchChangesShowTheFirstHundredAgainSortAndThresholdDoNot)
{
    FilesPageHarness h;
    std::string folder = h.home.path("Downloads");
    writeFiles(folder, 250);
    ASSERT_NO_FATAL_FAILURE(h.chooseAndScan(folder));
    h.model->setThreshold(0);  // every file is a large file
    ASSERT_TRUE(h.settled());

    struct Case {
        const char* change;
        std::function<void()> apply;
        bool resets;
        bool newReport = false;  // opens at the top of the table
    };
    FilesPage* page = h.page;
    const std::vector<Case> cases = {
        {"sort menu", [&] { triggerMenuItem(page->sortButton(), "Name"); }, false},
        {"chip", [&] { click(page->chip("大文件")); }, true},
        {"threshold field", [&] { typeInto(page->thresholdField(), "0.0001"); }, false},
        {"kind menu", [&] { triggerMenuItem(page->kindsButton(), "Documents"); }, true},
        {"chip back", [&] { click(page->chip("全部文件")); }, true},
        {"typing", [&] { typeInto(page->searchField(), "/f00"); }, true},
        {"clear search", [&] { click(page->clearSearchButton()); }, true},
        {"sort menu again", [&] { triggerMenuItem(page->sortButton(), "Size"); }, false},
        {"scan from the menu",
         [&] {
             h.model->scan();
             ASSERT_TRUE(QTest::qWaitFor([&] { return !h.model->scanning(); }, 30000));
         },
         false, true},
        {"scan button",
         [&] {
             click(page->scanButton());
             ASSERT_TRUE(QTest::qWaitFor([&] { return !h.model->scanning(); }, 30000));
         },
         true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.change);
        ASSERT_TRUE(h.settled());
        if (page->limit() == 100 && page->loadMoreButton()->isVisible()) click(page->loadMoreButton());
        ASSERT_EQ(page->limit(), 200);
        page->table()->scrollToBottom();
        c.apply();
        ASSERT_TRUE(h.settled());
        EXPECT_EQ(page->limit(), c.resets ? 100 : 200);
        if (c.newReport) {
            EXPECT_EQ(page->table()->verticalScrollBar()->value(), 0);
        }
        EXPECT_EQ(page->table()->files().size(),
                  std::min<size_t>(h.model->queryResults().files.size(), static_cast<size_t>(page->limit())));
    }
    EXPECT_EQ(h.model->threshold(), 0.0001);
    EXPECT_TRUE(h.model->search().empty());
    EXPECT_FALSE(page->clearSearchButton()->isVisible());
}

TEST_F(FilesPageTest, ControlsFollowTheBusyRules)
{
    FilesPageHarness h;
    std::string folder = h.home.path("Downloads");
    std::vector<std::string> paths = writeFiles(folder, 40);
    FilesPage* page = h.page;
    EXPECT_TRUE(page->chooseButton()->isEnabled());
    ASSERT_NO_FATAL_FAILURE(h.chooseAndScan(folder));

    struct Expect {
        bool changeFolder, scan, stop, filters, review, clear, actionProgress, stopAction;
    };
    auto check = [&](const char* state, Expect e) {
        SCOPED_TRACE(state);
        EXPECT_EQ(page->changeFolderButton()->isEnabled(), e.changeFolder);
        EXPECT_EQ(page->scanButton()->isEnabled(), e.scan);
        EXPECT_EQ(page->stopButton()->isVisible(), e.stop);
        if (page->filterBar()->isVisible()) {
            EXPECT_EQ(page->chip("全部文件")->isEnabled(), e.filters);
            EXPECT_EQ(page->searchField()->isEnabled(), e.filters);
            EXPECT_EQ(page->sortButton()->isEnabled(), e.filters);
        }
        if (page->selectionBar()->isVisible()) {
            EXPECT_EQ(page->reviewButton()->isEnabled(), e.review);
            EXPECT_EQ(page->clearSelectionButton()->isEnabled(), e.clear);
            EXPECT_EQ(page->actionProgress()->isVisible(), e.actionProgress);
            EXPECT_EQ(page->stopActionButton()->isVisible(), e.stopAction);
        }
    };

    h.model->setSelection({paths[0]});
    check("idle with a report", {true, true, false, true, true, true, false, false});
    EXPECT_EQ(page->scanButton()->text(), "Scan Again");

    // A scan: read before its result can arrive.
    click(page->scanButton());
    check("scanning", {false, false, true, true, false, false, false, false});
    EXPECT_EQ(page->scanButton()->text(), "Start Scan");
    EXPECT_TRUE(page->scanCard()->isVisible());
    EXPECT_FALSE(page->filterBar()->isVisible());
    EXPECT_FALSE(page->selectionBar()->isVisible()) << "the report is gone while scanning";
    ASSERT_TRUE(QTest::qWaitFor([&] { return !h.model->scanning(); }, 30000));
    ASSERT_TRUE(h.settled());
    EXPECT_EQ(page->limit(), 100);

    // A duplicate search, with a file selected meanwhile.
    click(page->chip("重复文件"));
    EXPECT_FALSE(page->selectPageButton()->isVisible());
    click(page->duplicates()->detectButton());
    h.model->setSelection({paths[1]});
    check("duplicate search", {false, false, true, true, false, true, false, false});
    EXPECT_TRUE(page->duplicateCard()->isVisible());
    EXPECT_TRUE(page->filterBar()->isVisible());
    EXPECT_EQ(page->scanButton()->text(), "Scan Again");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !h.model->detectingDuplicates(); }, 30000));
    EXPECT_TRUE(page->duplicates()->reportForm()->isVisible());

    // A move.
    click(page->chip("全部文件"));
    ASSERT_TRUE(h.settled());
    h.model->setSelection(setOf({paths[2], paths[3]}));
    click(page->reviewButton());
    ASSERT_NE(page->sheet(), nullptr);
    click(page->sheet()->moveButton());
    check("moving", {false, false, false, false, false, false, true, true});
    EXPECT_EQ(page->actionCounter()->text(), "0/2");
    EXPECT_FALSE(page->selectPageButton()->isEnabled());
    EXPECT_TRUE(page->table()->processing());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !h.model->processing(); }, 30000));
    check("after the move", {true, true, false, true, false, false, false, false});

    // A restore started elsewhere: the spinner only.
    ASSERT_FALSE(h.model->history().empty());
    QFuture<void> restored = h.model->restore(h.model->history().front());
    check("restoring", {false, false, false, false, false, false, true, false});
    EXPECT_FALSE(page->actionCounter()->isVisible());
    ASSERT_TRUE(QTest::qWaitFor([&] { return restored.isFinished(); }, 30000));
}

TEST_F(FilesPageTest, ConfirmedFilesMoveToTheTrashAndChangedOnesStaySelected)
{
    FilesPageHarness h;
    std::string folder = h.home.path("Downloads");
    std::vector<std::string> paths = writeFiles(folder, 4);
    // A name that is not UTF-8: listed with replacement characters, refused by the move.
    paths.push_back(writeFile(folder + "/bad-\xff-name.txt", "odd"));
    std::set<std::string> refused = {paths[1], paths[4]};
    ASSERT_NO_FATAL_FAILURE(h.chooseAndScan(folder));
    click(h.page->selectPageButton());
    ASSERT_EQ(h.model->selection(), setOf(paths));
    writeFile(paths[1], "changed after the scan");

    // Hidden by the filter, listed by the sheet all the same; cancelling keeps everything.
    click(h.page->chip("大文件"));
    ASSERT_TRUE(h.settled());
    click(h.page->reviewButton());
    MoveConfirmationSheet* sheet = h.page->sheet();
    ASSERT_NE(sheet, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(sheet));
    QStringList names;
    for (int row = 0; row < sheet->list()->model()->rowCount(); ++row)
        names << sheet->list()->model()->index(row, 0).data().toString();
    EXPECT_EQ(names.size(), 5);
    EXPECT_TRUE(names.contains(QString::fromUtf8("bad-\xef\xbf\xbd-name.txt"))) << names.join(" | ").toStdString();
    EXPECT_EQ(sheet->summary().left(11), "Files: 5 · ");
    click(sheet->cancelButton());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !h.page->sheet(); }));
    EXPECT_EQ(h.model->selection(), setOf(paths));
    EXPECT_TRUE(h.model->history().empty());

    click(h.page->reviewButton());
    sheet = h.page->sheet();
    ASSERT_NE(sheet, nullptr);
    click(sheet->moveButton());
    EXPECT_FALSE(sheet->isVisible()) << "the sheet closes before the move";
    ASSERT_TRUE(QTest::qWaitFor([&] { return !h.model->processing(); }, 30000));

    EXPECT_EQ(h.model->selection(), AppModel::PathSet(refused.begin(), refused.end())) << "refused files stay selected";
    ASSERT_EQ(h.model->history().size(), 5u);
    EXPECT_EQ(std::count_if(h.model->history().begin(), h.model->history().end(),
                            [](const Operation& op) { return !op.success; }),
              2);
    for (const std::string& path : paths) {
        bool moved = !refused.count(path);
        EXPECT_EQ(std::filesystem::exists(path), !moved) << path;
        if (path == paths[4]) continue;  // its record names it in valid UTF-8
        auto record = std::find_if(h.model->history().begin(), h.model->history().end(),
                                   [&](const Operation& op) { return op.path == path; });
        ASSERT_NE(record, h.model->history().end()) << path;
        EXPECT_EQ(record->success, moved) << path;
        if (moved) {
            ASSERT_TRUE(record->trashPath.has_value());
            EXPECT_EQ(record->trashPath->rfind(h.trashFiles() + "/", 0), 0u) << *record->trashPath;
            EXPECT_TRUE(std::filesystem::exists(*record->trashPath));
        }
    }
    EXPECT_NE(h.model->message().value_or("").find("已处理 3 项，失败 2 项"), std::string::npos);
    EXPECT_EQ(h.page->selectedLabel()->text().left(11), "2 selected ");
}

TEST_F(FilesPageTest, StoppingAMoveThenClosingTheWindowLeavesTheRestSelectedAndInPlace)
{
    FilesPageHarness h;
    std::string folder = h.home.path("Downloads");
    std::vector<std::string> paths = writeFiles(folder, 200);
    ASSERT_NO_FATAL_FAILURE(h.chooseAndScan(folder));
    h.model->setSelection(setOf(paths));
    click(h.page->reviewButton());
    ASSERT_NE(h.page->sheet(), nullptr);
    click(h.page->sheet()->moveButton());
    click(h.page->stopActionButton());
    h.window.reset();  // the window closes while the move winds down; the model carries on
    ASSERT_TRUE(QTest::qWaitFor([&] { return !h.model->processing(); }, 30000));

    size_t recorded = h.model->history().size();
    EXPECT_LT(recorded, paths.size()) << "stopped before the next file";
    size_t left = 0;
    for (const std::string& path : paths) left += std::filesystem::exists(path) ? 1 : 0;
    EXPECT_EQ(left, paths.size() - recorded);
    EXPECT_EQ(h.model->selection().size(), left);
    for (const std::string& path : h.model->selection()) EXPECT_TRUE(std::filesystem::exists(path)) << path;
    EXPECT_NE(h.model->message().value_or("").find("已停止后续处理，" + std::to_string(left) + " 项未处理。"),
              std::string::npos)
        << h.model->message().value_or("");
}

TEST_F(FilesPageTest, AreasFollowTheModel)
{
    FilesPageHarness h;
    FilesPage* page = h.page;
    EXPECT_TRUE(page->emptyState()->isVisible());
    EXPECT_FALSE(page->header()->isVisible());
    EXPECT_FALSE(page->filterBar()->isVisible());
    EXPECT_FALSE(page->selectionBar()->isVisible());
    EXPECT_TRUE(page->chooseButton()->isVisible());

    std::string folder = h.home.path("Downloads");
    makeDirs(folder);
    h.chosen = folder;
    click(page->chooseButton());
    EXPECT_TRUE(page->header()->isVisible());
    EXPECT_FALSE(page->chooseButton()->isVisible());
    EXPECT_EQ(page->scanButton()->text(), "Start Scan");

    // Two categories of 800 and 200 MB, some items skipped, a stopped scan.
    auto report = std::make_shared<ScanReport>();
    report->files.emplace_back(folder + "/film.mov", 800'000'000, 700000000.0, 1, 1, 0, std::nullopt);
    report->files.emplace_back(folder + "/photo.jpg", 200'000'000, 700000000.0, 1, 2, 0, std::nullopt);
    report->inspected = 2;
    report->skipped = 3;
    report->cancelled = true;
    report->elapsed = 12.345;
    report->rebuildStatistics();
    h.model->setReport(report);
    ASSERT_TRUE(h.settled());
    EXPECT_TRUE(page->resultsArea()->isVisible());
    EXPECT_TRUE(page->selectionBar()->isVisible());
    EXPECT_EQ(page->spaceSummary()->group()->label(), "Space by category · items: 2 · file size 1 GB · 12.3 s");
    auto bars = page->spaceSummary()->bars();
    ASSERT_EQ(bars.size(), 2u);
    EXPECT_EQ(bars[0], std::make_pair(QString("视频"), 1.0));
    EXPECT_EQ(bars[1], std::make_pair(QString("图片"), 0.25));
    EXPECT_TRUE(page->scanNotes()->isVisible());
    EXPECT_EQ(page->scanNotes()->label(), "Items skipped: 3 / scan notes");
    EXPECT_TRUE(page->partialBadge()->isVisible());
    EXPECT_FALSE(page->reviewButton()->isEnabled());
    EXPECT_FALSE(page->clearSelectionButton()->isEnabled());

    struct Case {
        const char* filter;
        bool table, noMatch, duplicates, oldCaption;
        QString kindText;
    };
    const Case cases[] = {
        {"全部文件", true, false, false, false, ""},
        {"大文件", false, true, false, false, ""},  // nothing of 900 MB or more
        {"旧下载候选", false, true, false, true, ""},
        {"重复文件", false, false, true, false, ""},
        {"图片", true, false, false, false, "Current category: Images"},
    };
    h.model->setThreshold(900);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.filter);
        h.model->setFilter(c.filter);
        ASSERT_TRUE(h.settled());
        EXPECT_EQ(page->table()->isVisible(), c.table);
        EXPECT_EQ(page->noMatch()->isVisible(), c.noMatch);
        EXPECT_EQ(page->duplicates()->isVisible(), c.duplicates);
        EXPECT_EQ(page->selectPageButton()->isVisible(), c.table);
        EXPECT_EQ(page->oldDownloadsCaption()->isVisible(), c.oldCaption);
        EXPECT_EQ(page->kindLabel()->isVisible() ? page->kindLabel()->text() : QString(), c.kindText);
        EXPECT_EQ(page->thresholdField()->isVisible(), std::string(c.filter) == "大文件");
    }
    EXPECT_TRUE(page->duplicates()->startForm()->isVisibleTo(page->duplicates()));
    EXPECT_EQ(page->chip("旧下载候选")->text(), "Old installers");
}

TEST_F(FilesPageTest, TheWindowShowsThisPageAndALanguageChangeKeepsItsSheet)
{
    installPageFactory(tessynPages());
    {
        ShellHarness shell;
        std::string folder = shell.folder("Downloads");
        writeFiles(folder, 3);
        MainWindow* window = shell.openWindow();
        viewOf(window)->setPage(Pages::files);
        ASSERT_TRUE(waitReady(viewOf(window), Pages::files));
        auto* page = qobject_cast<FilesPage*>(viewOf(window)->pageHost()->page(Pages::files));
        ASSERT_NE(page, nullptr);
        shell.chosenFolder = folder;
        click(page->chooseButton());
        click(page->scanButton());
        ASSERT_TRUE(QTest::qWaitFor([&] { return !shell.model().scanning() && !shell.model().filtering(); }, 30000));
        click(page->selectPageButton());
        click(page->reviewButton());
        QPointer<MoveConfirmationSheet> sheet = page->sheet();
        ASSERT_TRUE(sheet);

        setSetting(AppSettings::languageKey, "zh-Hans");
        EXPECT_TRUE(QTest::qWaitFor([&] { return !sheet || !sheet->isVisible(); }));
        auto* rebuilt = qobject_cast<FilesPage*>(viewOf(window)->pageHost()->page(Pages::files));
        ASSERT_NE(rebuilt, nullptr);
        EXPECT_NE(rebuilt, page);
        EXPECT_EQ(rebuilt->reviewButton()->text(), "检查所选项");
        ASSERT_TRUE(rebuilt->sheet()) << "the sheet is there again, in the new language";
        EXPECT_TRUE(rebuilt->sheet()->isVisible());
        EXPECT_EQ(rebuilt->sheet()->moveButton()->text(), "移入废纸篓");
        EXPECT_EQ(shell.model().selection().size(), 3u) << "the selection is the model's and stays";
        EXPECT_TRUE(shell.model().history().empty()) << "the old sheet went without moving anything";
        rebuilt->sheet()->cancelButton()->click();
        setSetting(AppSettings::languageKey, "en");
    }
    installPageFactory({});
}

TEST_F(FilesPageTest, TheSheetOffersTheMoveOnlyWhileTheModelWouldStartIt)
{
    FilesPageHarness h;
    std::string folder = h.home.path("Downloads");
    std::vector<std::string> paths = writeFiles(folder, 3);
    ASSERT_NO_FATAL_FAILURE(h.chooseAndScan(folder));

    // What another window or the menu may start while the sheet stays open here.
    struct Case {
        const char* name;
        std::function<QFuture<void>()> start;
    };
    const std::vector<Case> cases = {
        {"a move", [&] { return h.model->trashSelected(); }},
        {"a scan", [&] {
             h.model->scan();
             return QtFuture::makeReadyFuture();
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> left;
        for (const std::string& path : paths)
            if (std::filesystem::exists(path)) left.push_back(path);
        h.model->setSelection(setOf({left.front()}));
        click(h.page->reviewButton());
        QPointer<MoveConfirmationSheet> sheet = h.page->sheet();
        ASSERT_NE(sheet, nullptr);
        EXPECT_TRUE(sheet->moveButton()->isEnabled());
        QFuture<void> other = c.start();
        EXPECT_FALSE(sheet->moveButton()->isEnabled()) << "the model refuses while it runs";
        ASSERT_TRUE(QTest::qWaitFor([&] { return other.isFinished() && !h.model->processing() && !h.model->scanning(); },
                                    30000));
        ASSERT_TRUE(h.settled());
        EXPECT_EQ(sheet->list()->model()->rowCount(), 0);
        EXPECT_FALSE(sheet->moveButton()->isEnabled()) << "nothing left to move";
        QTest::mouseClick(sheet->moveButton(), Qt::LeftButton);
        EXPECT_TRUE(sheet->isVisible()) << "the sheet does not close as if a move had begun";
        click(sheet->cancelButton());
        ASSERT_TRUE(QTest::qWaitFor([&] { return !sheet; }));
    }
}

TEST_F(FilesPageTest, AnAppearanceSwitchDrawsThePageAsOneBuiltInThatAppearance)
{
    setSetting(AppSettings::appearanceKey, "light");
    FilesPageHarness switched;
    std::string folder = switched.home.path("Downloads");
    writeFiles(folder, 3);
    ASSERT_NO_FATAL_FAILURE(switched.chooseAndScan(folder));
    setSetting(AppSettings::appearanceKey, "dark");
    FilesPageHarness built;
    ASSERT_NO_FATAL_FAILURE(built.chooseAndScan(folder));
    // The same folder name in both, so the header compares pixel for pixel.
    for (FilesPageHarness* h : {&switched, &built}) h->page->header()->findChild<MiddleElidedLabel*>()->setFullText("Downloads");

    struct Area {
        const char* name;
        std::function<QWidget*(FilesPage*)> of;
    };
    const std::vector<Area> areas = {
        {"header", [](FilesPage* p) { return p->header(); }},
        {"search row", [](FilesPage* p) { return p->searchField()->parentWidget(); }},
    };
    for (const Area& area : areas) {
        QImage before = area.of(switched.page)->grab().toImage();
        QImage fresh = area.of(built.page)->grab().toImage();
        EXPECT_TRUE(before == fresh) << area.name;
    }
}

TEST_F(FilesPageTest, TheTableAndTheSheetShowEveryNameOnOneLineAndInItsOwnOrder)
{
    FilesPageHarness h;
    std::string folder = h.home.path("Downloads");
    // Each would break the row or make the name read as another.
    const std::vector<std::string> odd = {"new\nline.txt", "tab\there.txt", "sep\u2028line.txt", "para\u2029line.txt",
                                          "invoice\u202Efdp.exe", "iso\u2067late.txt", "nel\u0085line.txt"};
    for (const std::string& name : odd) writeFile(folder + "/" + name, name);
    ASSERT_NO_FATAL_FAILURE(h.chooseAndScan(folder));
    const QRegularExpression breaking(QStringLiteral("[\\x{0}-\\x{1f}\\x{7f}-\\x{9f}\\x{2028}\\x{2029}\\x{202a}-\\x{202e}\\x{2066}-\\x{2069}]"));
    QAbstractItemModel* table = h.page->table()->model();
    ASSERT_EQ(table->rowCount(), static_cast<int>(odd.size()));
    for (int row = 0; row < table->rowCount(); ++row) {
        QModelIndex file = table->index(row, NativeFileTable::fileColumn);
        for (int role : {int(Qt::DisplayRole), int(Qt::ToolTipRole)}) {
            QString shown = file.data(role).toString();
            EXPECT_FALSE(shown.contains(breaking)) << shown.toStdString();
            EXPECT_TRUE(shown.contains(QChar::ReplacementCharacter)) << shown.toStdString();
        }
    }
    click(h.page->selectPageButton());
    click(h.page->reviewButton());
    MoveConfirmationSheet* sheet = h.page->sheet();
    ASSERT_NE(sheet, nullptr);
    QAbstractItemModel* rows = sheet->list()->model();
    ASSERT_EQ(rows->rowCount(), static_cast<int>(odd.size()));
    for (int row = 0; row < rows->rowCount(); ++row) {
        for (int role : {int(Qt::DisplayRole), int(Qt::ToolTipRole), int(Qt::UserRole + 1)}) {
            QString shown = rows->index(row, 0).data(role).toString();
            EXPECT_FALSE(shown.contains(breaking)) << shown.toStdString();
            EXPECT_TRUE(shown.contains(QChar::ReplacementCharacter)) << shown.toStdString();
        }
    }
    EXPECT_EQ(HistoryRecordList::oneLine(folder + "/invoice\u202Efdp.exe"),
              QString::fromStdString(folder) + QStringLiteral("/invoice\uFFFDfdp.exe"));
    click(sheet->cancelButton());
}

TEST_F(FilesPageTest, AFolderNamedLikeACatalogTextKeepsItsName)
{
    FilesPageHarness h;
    // The Documents and Pictures folders of a Chinese desktop, with the program in English.
    for (const char* name : {"文档", "图片"}) {
        SCOPED_TRACE(name);
        std::string folder = h.home.path(name);
        writeFiles(folder, 1);
        ASSERT_NO_FATAL_FAILURE(h.chooseAndScan(folder));
        auto* title = h.page->header()->findChild<MiddleElidedLabel*>();
        EXPECT_EQ(title->fullText(), QString::fromUtf8(name));
        EXPECT_EQ(title->toolTip(), QString::fromUtf8(name));
    }
}

TEST_F(FilesPageTest, EverySortLabelFitsItsButton)
{
    FilesPageHarness h;
    std::string folder = h.home.path("Downloads");
    writeFiles(folder, 3);
    ASSERT_NO_FATAL_FAILURE(h.chooseAndScan(folder));
    for (const char* sort : {"大小", "最近修改", "名称"}) {
        SCOPED_TRACE(sort);
        h.model->setSort(sort);
        QPushButton* button = h.page->sortButton();
        ASSERT_EQ(button->text(), plainTitle(L(QString::fromUtf8(sort))));
        EXPECT_GE(button->width(), button->sizeHint().width()) << button->text().toStdString();
        EXPECT_GE(button->width(), 120);
    }
}

TEST_F(FilesPageTest, AnOddFolderNameShowsOnOneLineInTheHeader)
{
    FilesPageHarness h;
    const QString marker = QStringLiteral("odd_");
    for (size_t i = 0; i < oddPieces().size(); ++i) {
        SCOPED_TRACE(oddPieces()[i].what);
        std::string folder = h.home.path("odd_" + oddPieces()[i].bytes + std::to_string(i));
        writeFiles(folder, 1);
        ASSERT_NO_FATAL_FAILURE(h.chooseAndScan(folder));
        QStringList shown = shownTexts(h.page->header());
        for (MiddleElidedLabel* label : h.page->header()->findChildren<MiddleElidedLabel*>()) shown << label->fullText();
        // The folder's name and path, each in full and as its tooltip.
        expectOneLine(shown, marker, 4);
    }
}

TEST_F(FilesPageTest, TheKeyboardGoesThroughTheTableInOneStepAndSpacePicksARow)
{
    FilesPageHarness h;
    h.model->setRoot(h.home.path("Downloads"));
    auto report = syntheticReport(5000);
    h.model->setReport(report);
    ASSERT_TRUE(h.settled());
    NativeFileTable* table = h.page->table();
    ASSERT_EQ(table->files().size(), 100u);
    ASSERT_TRUE(activate(h.window.get()));

    // Tab presses from the focused widget until `target` has the focus; -1 past a handful.
    auto tabsTo = [](QWidget* target) {
        for (int presses = 1; presses <= 12; ++presses) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            if (QApplication::focusWidget() == target) return presses;
        }
        return -1;
    };
    h.page->searchField()->setFocus(Qt::TabFocusReason);
    int intoTable = tabsTo(table);
    EXPECT_GT(intoTable, 0) << "the table is reached from the search field";
    EXPECT_LE(intoTable, 5);

    QTest::keyClick(table, Qt::Key_Space);
    EXPECT_EQ(h.model->selection(), AppModel::PathSet{report->files[0].path}) << "Space picks the first row";
    QTest::keyClick(table, Qt::Key_Down);
    QTest::keyClick(table, Qt::Key_Space);
    QTest::keyClick(table, Qt::Key_Up);
    QTest::keyClick(table, Qt::Key_Space);
    EXPECT_EQ(h.model->selection(), AppModel::PathSet{report->files[1].path}) << "and leaves it out again";

    int toReview = tabsTo(h.page->reviewButton());
    EXPECT_GT(toReview, 0) << "Review Selected is reached from the table";
    EXPECT_LE(toReview, 4) << "past Load More and Deselect All, not through every cell";
}

// "Load More" pressed from the keyboard keeps the focus while pages remain; the last page takes
// the button away and the focus goes to the first row it brought, not out of the page.
TEST_F(FilesPageTest, LoadMoreFromTheKeyboardKeepsTheFocusInTheList)
{
    FilesPageHarness h(QSize(1000, 700), FilesPageHarness::Host::mainWindow);
    h.model->setRoot(h.home.path("Downloads"));
    h.model->setReport(syntheticReport(250));
    ASSERT_TRUE(h.settled());
    ASSERT_TRUE(focusByKeyboard(h.page->loadMoreButton()));
    QTest::keyClick(h.page->loadMoreButton(), Qt::Key_Space);
    EXPECT_EQ(QApplication::focusWidget(), h.page->loadMoreButton());
    QTest::keyClick(h.page->loadMoreButton(), Qt::Key_Space);
    EXPECT_EQ(QApplication::focusWidget(), static_cast<QWidget*>(h.page->table()));
    EXPECT_EQ(h.page->table()->currentIndex().row(), 200);
    EXPECT_TRUE(h.model->selection().empty()) << "moving the focus selects nothing";
}
