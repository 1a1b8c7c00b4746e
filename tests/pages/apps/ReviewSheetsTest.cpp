#include "MaintenanceFixture.h"

#include "pages/apps/CacheReviewView.h"
#include "shell/controls/CheckableRowList.h"
#include "shell/controls/RoundedPanel.h"
#include "pages/apps/UninstallReviewView.h"
#include "shell/controls/ActionConfirmation.h"
#include "shell/app/AppSettings.h"
#include "shell/LocalizedText.h"
#include "shell/controls/NativeActionButton.h"
#include "pages/apps/NativeRelatedCheckbox.h"
#include "shell/controls/StyledLabel.h"

#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QLayout>
#include <QThreadPool>
#include <filesystem>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <sys/stat.h>
#include "QtWaits.h"

namespace {

bool exists(const std::string& path)
{
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

class ReviewSheetsTest : public ShellTest {};

const Operation* newestRecord(const AppModel& model, const std::string& path)
{
    for (const Operation& record : model.history())
        if (record.path == path) return &record;
    return nullptr;
}

// Looks at a sheet in its states: every button outside the list must be as wide as its title
// needs and wholly inside the sheet, and the list must keep the height of the first look.
struct SheetLooks {
    QWidget* sheet;
    QWidget* list;
    std::vector<std::pair<std::string, int>> heights{};
    std::vector<std::string> cut{};

    void note(const std::string& state)
    {
        for (int i = 0; i < 3; ++i) QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        sheet->layout()->activate();
        heights.emplace_back(state, list->height());
        for (QPushButton* button : sheet->findChildren<QPushButton*>()) {
            if (!button->isVisibleTo(sheet) || list->isAncestorOf(button)) continue;
            const QRect frame(button->mapTo(sheet, QPoint()), button->size());
            if (button->width() < button->sizeHint().width() || !sheet->rect().contains(frame))
                cut.push_back(state + ": \"" + button->text().toStdString() + "\" " + std::to_string(button->width()) +
                              " of " + std::to_string(button->sizeHint().width()));
        }
    }
    void expectSteady() const
    {
        ASSERT_FALSE(heights.empty());
        EXPECT_TRUE(cut.empty()) << ::testing::PrintToString(cut);
        for (const auto& [state, height] : heights) {
            EXPECT_EQ(height, heights.front().second) << state << " against " << heights.front().first;
            EXPECT_GT(height, 0) << state;
        }
    }
};

} // namespace

TEST_F(ReviewSheetsTest, CacheListHeightRule)
{
    struct Case {
        int limit, files, height;
    };
    for (const Case& c : std::vector<Case>{{200, 0, 78}, {200, 1, 78}, {200, 3, 234}, {200, 450, 15600}, {600, 450, 35100}})
        EXPECT_EQ(CacheReviewView::listHeightLimit(c.limit, c.files), c.height) << c.limit << " " << c.files;
}

// 450 old cache files: 200 rows, then 400, then 450; select shown, clear, clean under a stop.
TEST_F(ReviewSheetsTest, CacheSheetPagesSelectsAndCleans)
{
    for (const char* language : {"en", "zh-Hans"}) {
        setSetting(AppSettings::languageKey, language);
        // The Chinese pass is drawn dark, for the pictures.
        setSetting(AppSettings::appearanceKey, std::string(language) == "en" ? "light" : "dark");
        MaintenanceFixture f;
        f.bundle("VLC", "org.videolan.vlc");
        f.oldCacheFiles("org.videolan.vlc", 450);
        f.start();
        ASSERT_TRUE(f.settle());
        f.page->inspect(f.installed("VLC"));
        QTRY_VERIFY(f.page->cacheSheet());
        CacheReviewView* sheet = f.page->cacheSheet();
        EXPECT_EQ(sheet->size(), QSize(740, 540));
        EXPECT_EQ(sheet->listedRows(), 200);
        EXPECT_EQ(sheet->list()->maximumHeight(), 78 * 200);
        ASSERT_TRUE(sheet->loadMoreButton()->isVisible());
        EXPECT_EQ(sheet->loadMoreButton()->text(), L(QStringLiteral("加载更多（当前 200 项）")));
        EXPECT_FALSE(sheet->cleanButton()->isEnabled()) << "nothing is chosen for the user";

        QSignalSpy resets(sheet->rows()->model(), &QAbstractItemModel::modelReset);
        sheet->selectShownButton()->click();
        EXPECT_EQ(f.model->cacheSelection().size(), 200u);
        EXPECT_TRUE(sheet->rows()->isTicked(199));
        EXPECT_EQ(sheet->summary()->text(), L(QStringLiteral("450 项超过 7 天 · 已选 200 项；修改日期不能证明文件未被使用。清理可能导致重新下载或首次使用变慢。")));
        sheet->loadMoreButton()->click();
        EXPECT_EQ(sheet->listedRows(), 400);
        EXPECT_FALSE(sheet->rows()->isTicked(200)) << "rows beyond the earlier pages are not chosen";
        EXPECT_EQ(sheet->loadMoreButton()->text(), L(QStringLiteral("加载更多（当前 400 项）")));
        sheet->loadMoreButton()->click();
        EXPECT_EQ(sheet->listedRows(), 450);
        EXPECT_FALSE(sheet->loadMoreButton()->isVisible());
        EXPECT_EQ(resets.count(), 0) << "more rows leave the listed ones as they are";
        EXPECT_EQ(sheet->list()->maximumHeight(), 78 * 450);
        sheet->clearButton()->click();
        EXPECT_TRUE(f.model->cacheSelection().empty());
        EXPECT_FALSE(sheet->cleanButton()->isEnabled());

        // Three files chosen by hand; the stop is pressed after the first.
        for (int row : {0, 1, 2}) clickRow(sheet->rows(), row);
        EXPECT_EQ(f.model->cacheSelection().size(), 3u);
        saveShot(sheet, std::string("cache-sheet-") + language);
        struct Seen {
            bool closeEnabled = true, rowEnabled = true, stopShown = false, stillOpen = false;
        } seen;
        QMetaObject::Connection watch = QObject::connect(f.model.get(), &AppModel::processingChanged, sheet, [&] {
            if (!f.model->processing()) return;
            seen.closeEnabled = sheet->closeButton()->isEnabled();
            seen.rowEnabled = sheet->rows()->rowsEnabled();
            seen.stopShown = !sheet->stopButton()->isHidden();
            sheet->reject();  // Escape
            seen.stillOpen = sheet->isVisible();
        });
        // Pressed as the first file has moved; read before the second.
        QMetaObject::Connection stop = QObject::connect(f.model.get(), &AppModel::actionProgressChanged, sheet, [&] {
            if (f.model->processing() && f.model->actionProgress().completed == 1) sheet->stopButton()->click();
        });
        sheet->cleanButton()->click();
        ASSERT_TRUE(confirmOn(sheet));
        QTRY_VERIFY(!f.model->processing() && f.model->message());
        QObject::disconnect(watch);
        QObject::disconnect(stop);
        EXPECT_FALSE(seen.closeEnabled);
        EXPECT_FALSE(seen.rowEnabled);
        EXPECT_TRUE(seen.stopShown);
        EXPECT_TRUE(seen.stillOpen) << "no dismissal while processing";
        EXPECT_EQ(f.model->message(), "已停止后续处理，已完成项可在记录中恢复。");
        EXPECT_EQ(f.model->cachePlan()->files.size(), 449u) << "the file in hand finished, the rest stayed";
        EXPECT_EQ(sheet->listedRows(), 449);
        EXPECT_EQ(f.model->cacheSelection().size(), 2u);
        EXPECT_EQ(sheet->progressText()->text(), "1/3");
        EXPECT_TRUE(sheet->cleanButton()->isEnabled());

        // Rescan empties the choice and shows only the title until the plan is back.
        sheet->rescanButton()->click();
        EXPECT_TRUE(f.model->cacheSelection().empty());
        EXPECT_FALSE(sheet->planArea()->isVisible());
        EXPECT_FALSE(sheet->closeButton()->isVisible()) << "the title stands alone";
        ASSERT_TRUE(f.settle());
        EXPECT_TRUE(sheet->planArea()->isVisible());
        EXPECT_EQ(sheet->listedRows(), 449) << "the row limit survives a rescan";
        sheet->reject();
        QTRY_VERIFY(!f.page->cacheSheet());
    }
}

// Every state of the cache sheet, in both languages, keeps its buttons whole and its list at one
// height: reviewing, with a choice, cleaning, after the clean with its message, everything listed.
TEST_F(ReviewSheetsTest, CacheSheetStatesFitWithASteadyList)
{
    for (const std::string pass : {"en light", "en dark", "zh-Hans light", "zh-Hans dark"}) {
        SCOPED_TRACE(pass);
        const std::string language = pass.substr(0, pass.find(' ')), appearance = pass.substr(pass.find(' ') + 1);
        setSetting(AppSettings::languageKey, QString::fromStdString(language));
        setSetting(AppSettings::appearanceKey, QString::fromStdString(appearance));
        MaintenanceFixture f;
        f.bundle("VLC", "org.videolan.vlc");
        f.oldCacheFiles("org.videolan.vlc", 210);
        f.start();
        ASSERT_TRUE(f.settle());
        f.page->inspect(f.installed("VLC"));
        ASSERT_TRUE(waitFor([&] { return f.page->cacheSheet() != nullptr; }));
        CacheReviewView* sheet = f.page->cacheSheet();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(sheet));
        SheetLooks looks{sheet, sheet->list()};
        looks.note("reviewing");
        for (int row : {0, 1, 2}) clickRow(sheet->rows(), row);
        looks.note("chosen");
        bool seenCleaning = false;
        QMetaObject::Connection cleaning = QObject::connect(f.model.get(), &AppModel::actionProgressChanged, sheet, [&] {
            if (!f.model->processing() || seenCleaning) return;
            seenCleaning = true;
            looks.note("cleaning");
            saveShot(sheet, "cache-cleaning-" + language + "-" + appearance);
        });
        sheet->cleanButton()->click();
        ASSERT_TRUE(confirmOn(sheet));
        ASSERT_TRUE(waitFor([&] { return !f.model->processing() && f.model->message(); }));
        QObject::disconnect(cleaning);
        ASSERT_TRUE(seenCleaning);
        looks.note("cleaned, with its message");
        sheet->loadMoreButton()->click();
        ASSERT_FALSE(sheet->loadMoreButton()->isVisible());
        looks.note("everything listed");
        looks.expectSteady();
        sheet->closeButton()->click();
    }
}

// Every state of the uninstall sheet, in both languages: loading, reviewing, running, the retry
// mode with its longer texts and the model's message.
TEST_F(ReviewSheetsTest, UninstallSheetStatesFitWithASteadyList)
{
    for (const char* language : {"en", "zh-Hans"}) {
        SCOPED_TRACE(language);
        setSetting(AppSettings::languageKey, language);
        setSetting(AppSettings::appearanceKey, "light");
        MaintenanceFixture f;
        f.bundle("Editor", "org.example.editor");
        std::vector<std::string> related = f.relatedItems("org.example.editor");
        f.start();
        ASSERT_TRUE(f.settle());
        f.page->uninstall(f.installed("Editor"));
        UninstallReviewView* sheet = f.page->uninstallSheet();
        ASSERT_TRUE(sheet && sheet->loading());
        QSignalSpy discovered(sheet, &UninstallReviewView::itemsDiscovered);
        SheetLooks looks{sheet, sheet->list()};
        looks.note("loading");
        ASSERT_TRUE(waitFor([&] { return discovered.count() == 1; }, 10000));
        looks.note("reviewing");
        for (const std::string& path : related) sheet->checkbox(path)->click();
        // The cache folder changes after the review: its move is refused and the sheet stays.
        writeFile(related[1] + "/late-blob", "more");
        bool seenRunning = false;
        QMetaObject::Connection running = QObject::connect(f.model.get(), &AppModel::historyChanged, sheet, [&] {
            if (!f.model->processing() || seenRunning) return;
            seenRunning = true;
            looks.note("running");
        });
        QSignalSpy reconciled(sheet, &UninstallReviewView::reconciled);
        sheet->primaryButton()->click();
        ASSERT_TRUE(confirmOn(sheet));
        ASSERT_TRUE(reconciled.wait(15000));
        QObject::disconnect(running);
        ASSERT_TRUE(seenRunning);
        ASSERT_TRUE(sheet->packageRemoved());
        ASSERT_TRUE(f.model->message());
        looks.note("retry, with the message");
        saveShot(sheet, std::string("uninstall-retry-fit-") + language);
        looks.expectSteady();
        sheet->closeButton()->click();
    }
}

// Three bundles with related items; one related folder changes after the review so its move is
// refused: the sheet stays in retry mode, then the retry after a re-check moves it and the sheet
// closes. Every moved item lies in the Trash with its record and can be put back.
TEST_F(ReviewSheetsTest, UninstallRetryModeThenRetryAndRestore)
{
    for (const char* language : {"en", "zh-Hans"}) {
        setSetting(AppSettings::languageKey, language);
        // The Chinese pass is drawn dark, for the pictures.
        setSetting(AppSettings::appearanceKey, std::string(language) == "en" ? "light" : "dark");
        MaintenanceFixture f;
        f.bundle("VLC", "org.videolan.vlc");
        f.bundle("Notes", "org.example.notes");
        f.bundle("Editor", "org.example.editor");
        f.relatedItems("org.example.notes");
        std::vector<std::string> related = f.relatedItems("org.example.editor");
        f.start();
        ASSERT_TRUE(f.settle());
        const InstalledApp editor = f.installed("Editor");
        saveShot(f.page, std::string("list-") + language);

        ASSERT_TRUE(clickRowButton(f.page->list(), editor.path, ApplicationList::uninstallButton));
        ASSERT_TRUE(f.page->uninstallSheet());
        UninstallReviewView* sheet = f.page->uninstallSheet();
        EXPECT_TRUE(sheet->loading());
        EXPECT_FALSE(sheet->primaryButton()->isEnabled());
        QSignalSpy discovered(sheet, &UninstallReviewView::itemsDiscovered);
        QTRY_COMPARE_WITH_TIMEOUT(discovered.count(), 1, 10000);
        ASSERT_EQ(sheet->items().size(), 3u);
        EXPECT_TRUE(sheet->selection().empty()) << "nothing is ticked for the user";
        for (const std::string& path : related) sheet->checkbox(path)->click();
        EXPECT_EQ(sheet->selection().size(), 3u);

        // The cache folder changes after the review: the model refuses to move it.
        writeFile(related[1] + "/late-blob", "more");
        QSignalSpy reconciled(sheet, &UninstallReviewView::reconciled);
        sheet->primaryButton()->click();
        ASSERT_TRUE(confirmOn(sheet));
        QTRY_COMPARE_WITH_TIMEOUT(reconciled.count(), 1, 15000);
        EXPECT_TRUE(sheet->isVisible());
        EXPECT_TRUE(sheet->packageRemoved());
        ASSERT_EQ(sheet->items().size(), 1u);
        EXPECT_EQ(sheet->items()[0].path, related[1]);
        EXPECT_EQ(sheet->selection(), std::set<std::string>{related[1]}) << "the failed item stays ticked";
        EXPECT_EQ(sheet->primaryButton()->title(), "重试所选关联项…");
        EXPECT_EQ(sheet->note(related[1])->text().toStdString(),
                  L(QStringLiteral("关联文件已变化，请重新扫描并确认。")).toStdString());
        EXPECT_FALSE(sheet->note(related[1])->isHidden());
        EXPECT_TRUE(sheet->explanation()->text().startsWith(
            L(QStringLiteral("应用包已移入废纸篓；以下关联项尚待处理。关联项仅按 bundle ID 精确路径匹配，不能证明独占归属；"
                             "默认保留。支持数据可能包含文稿、数据库与登录状态，请先备份。"))));
        EXPECT_EQ(f.page->list()->rowOf(editor.path), -1) << "the moved application leaves the list";
        saveShot(sheet, std::string("uninstall-retry-") + language);

        // Fixed: a re-check signs the folder again (without the application in the list); retry.
        sheet->recheckButton()->click();
        QTRY_COMPARE_WITH_TIMEOUT(discovered.count(), 2, 10000);
        ASSERT_EQ(sheet->items().size(), 1u);
        EXPECT_TRUE(sheet->selection().empty()) << "a re-check clears the ticks";
        QPointer<UninstallReviewView> watched(sheet);
        sheet->checkbox(related[1])->click();
        sheet->primaryButton()->click();
        ASSERT_TRUE(confirmOn(sheet));
        QTRY_VERIFY_WITH_TIMEOUT(!watched || !watched->isVisible(), 15000);
        EXPECT_EQ(f.model->message(), "关联项处理结束。失败项保留，重新检查后可再次确认；成功项可在记录中恢复。");

        // Everything moved is in the Trash with a record, and comes back.
        std::vector<std::string> moved = related;
        moved.insert(moved.begin(), editor.path);
        for (const std::string& path : moved) {
            const Operation* record = newestRecord(*f.model, path);
            ASSERT_TRUE(record) << path;
            ASSERT_TRUE(record->success) << path << " " << record->detail;
            ASSERT_TRUE(record->trashPath && exists(*record->trashPath)) << path;
            EXPECT_FALSE(exists(path));
            Operation copy = *record;
            QFuture<void> restored = f.model->restore(copy);
            QTRY_VERIFY(restored.isFinished());
            EXPECT_TRUE(exists(path)) << path << " " << f.model->message().value_or("");
            EXPECT_TRUE(newestRecord(*f.model, path)->restoredAt);
        }
    }
}

// A refused uninstall of an application reinstalled where an earlier uninstall took it from:
// the older records must not make the sheet believe the bundle, or a related item made
// again since, is in the Trash.
TEST_F(ReviewSheetsTest, RefusedUninstallOfAReinstalledApplicationIsNotASuccess)
{
    MaintenanceFixture f;
    f.bundle("Editor", "org.example.editor");
    const std::string preferences = f.relatedItems("org.example.editor")[0];
    std::filesystem::remove_all(f.homeFolder + "/Library/Caches");
    std::filesystem::remove_all(f.homeFolder + "/Library/Application Support");
    f.start();
    ASSERT_TRUE(f.settle());
    const InstalledApp first = f.installed("Editor");
    f.page->uninstall(first);
    UninstallReviewView* sheet = f.page->uninstallSheet();
    QSignalSpy discovered(sheet, &UninstallReviewView::itemsDiscovered);
    QTRY_COMPARE_WITH_TIMEOUT(discovered.count(), 1, 10000);
    ASSERT_EQ(sheet->items().size(), 1u);
    sheet->setSelected(preferences, true);
    QPointer<UninstallReviewView> watched(sheet);
    sheet->primaryButton()->click();
    ASSERT_TRUE(confirmOn(sheet));
    QTRY_VERIFY_WITH_TIMEOUT(!watched || !watched->isVisible(), 15000);  // moved: closes by itself

    ASSERT_FALSE(exists(preferences));

    // Reinstalled at the same path with its preferences made again, then running when the
    // uninstall is confirmed.
    f.bundle("Editor", "org.example.editor");
    writeFile(preferences, "<plist/>");
    f.page->refreshButton()->click();
    ASSERT_TRUE(f.settle());
    const InstalledApp again = f.installed("Editor");
    ASSERT_EQ(again.path, first.path);
    f.page->uninstall(again);
    sheet = f.page->uninstallSheet();
    QSignalSpy discoveredAgain(sheet, &UninstallReviewView::itemsDiscovered);
    QTRY_COMPARE_WITH_TIMEOUT(discoveredAgain.count(), 1, 10000);
    ASSERT_EQ(sheet->items().size(), 1u);
    sheet->checkbox(preferences)->click();
    RunningApplication started;
    started.pid = 4242;
    started.name = again.name;
    started.bundlePath = again.path;
    started.bundleIdentifier = again.bundleID;
    started.regular = true;
    f.fakeApps->set({started});
    QSignalSpy reconciled(sheet, &UninstallReviewView::reconciled);
    sheet->primaryButton()->click();
    ASSERT_TRUE(confirmOn(sheet));
    QTRY_COMPARE_WITH_TIMEOUT(reconciled.count(), 1, 10000);
    EXPECT_EQ(f.model->message(), "应用仍在运行，请退出后重试。");
    const Operation* old = newestRecord(*f.model, again.path);
    ASSERT_TRUE(old && old->success && old->kind == "application" && !old->restoredAt)
        << "the earlier record the unmended sheet would take as this run's success";
    EXPECT_FALSE(sheet->packageRemoved());
    EXPECT_TRUE(sheet->isVisible()) << "a refused uninstall keeps the sheet open";
    EXPECT_EQ(sheet->primaryButton()->title(), "卸载并检查…");
    EXPECT_TRUE(exists(again.path));
    const Operation* oldPreferences = newestRecord(*f.model, preferences);
    ASSERT_TRUE(oldPreferences && oldPreferences->success && !oldPreferences->restoredAt);
    ASSERT_EQ(sheet->items().size(), 1u) << "the preferences file, made again and never moved, stays listed";
    EXPECT_EQ(sheet->selection(), std::set<std::string>{preferences});
}

// Closed while its discovery still runs: the late result must not reach the sheet.
TEST_F(ReviewSheetsTest, ClosingTheUninstallSheetBeforeDiscoveryEnds)
{
    MaintenanceFixture f;
    f.bundle("Editor", "org.example.editor");
    f.relatedItems("org.example.editor");
    f.start();
    ASSERT_TRUE(f.settle());
    for (int round = 0; round < 3; ++round) {
        f.page->uninstall(f.installed("Editor"));
        ASSERT_TRUE(f.page->uninstallSheet() && f.page->uninstallSheet()->loading());
        f.page->uninstallSheet()->closeButton()->click();
        QTRY_VERIFY(!f.page->uninstallSheet());
    }
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();
    f.page->uninstall(f.installed("Editor"));
    QSignalSpy discovered(f.page->uninstallSheet(), &UninstallReviewView::itemsDiscovered);
    QTRY_COMPARE(discovered.count(), 1);
    EXPECT_EQ(f.page->uninstallSheet()->items().size(), 3u);
}

// A listing started meanwhile (from another window) makes the model refuse; the sheets do not
// offer what would be refused after the user confirmed it.
TEST_F(ReviewSheetsTest, SheetsOfferTheirRunOnlyWhileTheModelWouldStartIt)
{
    MaintenanceFixture f;
    f.bundle("VLC", "org.videolan.vlc");
    f.oldCacheFiles("org.videolan.vlc", 3);
    f.start();
    ASSERT_TRUE(f.settle());

    f.page->inspect(f.installed("VLC"));
    QTRY_VERIFY(f.page->cacheSheet());
    CacheReviewView* cache = f.page->cacheSheet();
    cache->selectShownButton()->click();
    ASSERT_TRUE(cache->cleanButton()->isEnabled());
    QFuture<void> listing = f.model->refreshInstalledApps();
    ASSERT_TRUE(f.model->maintenanceBusy());
    EXPECT_FALSE(cache->cleanButton()->isEnabled());
    QTRY_VERIFY(listing.isFinished());
    EXPECT_TRUE(cache->cleanButton()->isEnabled());
    cache->closeButton()->click();
    QTRY_VERIFY(!f.page->cacheSheet());

    f.page->uninstall(f.installed("VLC"));
    UninstallReviewView* uninstall = f.page->uninstallSheet();
    ASSERT_TRUE(uninstall);
    QTRY_VERIFY(uninstall->primaryButton()->isEnabled());
    listing = f.model->refreshInstalledApps();
    ASSERT_TRUE(f.model->maintenanceBusy());
    EXPECT_FALSE(uninstall->primaryButton()->isEnabled());
    QTRY_VERIFY(listing.isFinished());
    EXPECT_TRUE(uninstall->primaryButton()->isEnabled());
    EXPECT_TRUE(exists(f.installed("VLC").path)) << "nothing ran";
}

// A bundle, its related items and cache files may carry any bytes in their names: the list row,
// the uninstall sheet, its confirmation and the cache sheet show each on one line, so what the
// user confirms cannot read as another name.
TEST_F(ReviewSheetsTest, OddNamesShowOnOneLineInEveryMaintenanceText)
{
    const QString marker = QStringLiteral("odd_");
    MaintenanceFixture f;
    const std::vector<OddPiece>& pieces = oddPieces();
    std::vector<std::string> names;
    for (size_t i = 0; i < pieces.size(); ++i) {
        const std::string& piece = pieces[i].bytes;
        names.push_back("odd_" + piece + "App" + std::to_string(i));
        // An identifier must be UTF-8; where the piece is, the related paths carry it too.
        const bool utf8 = QString::fromUtf8(piece).toUtf8().toStdString() == piece;
        const std::string id = utf8 ? "org.example.odd_" + std::to_string(i) + piece : "org.example.plain" + std::to_string(i);
        f.bundle(names.back(), id);
        f.relatedItems(id);
        setAge(writeFile(f.homeFolder + "/Library/Caches/org.videolan.vlc/odd_" + piece + std::to_string(i), "cache"),
               10 * 86400.0);
    }
    f.bundle("VLC", "org.videolan.vlc");
    f.start();
    ASSERT_TRUE(f.settle());

    for (size_t i = 0; i < pieces.size(); ++i) {
        SCOPED_TRACE(pieces[i].what);
        const InstalledApp app = f.installed(names[i]);
        const QModelIndex row = f.page->list()->model()->index(f.page->list()->rowOf(app.path), 0);
        ASSERT_TRUE(row.isValid());
        // Name and path as drawn (each also its tooltip) and as read out.
        QStringList texts;
        for (int role : {Qt::DisplayRole, Qt::EditRole, Qt::AccessibleTextRole, Qt::AccessibleDescriptionRole})
            texts << row.data(role).toString();
        expectOneLine(texts, marker, 4);

        f.page->uninstall(app);
        UninstallReviewView* sheet = f.page->uninstallSheet();
        ASSERT_TRUE(sheet);
        QSignalSpy discovered(sheet, &UninstallReviewView::itemsDiscovered);
        QTRY_COMPARE_WITH_TIMEOUT(discovered.count(), 1, 10000);
        ASSERT_EQ(sheet->items().size(), 3u);
        if (i == 0) saveShot(sheet, "odd-uninstall");
        // The title, the bundle path and, where the identifier carries the piece, the three
        // related paths.
        const bool relatedOdd = app.bundleID.find("odd_") != std::string::npos;
        expectOneLine(shownTexts(sheet), marker, relatedOdd ? 5 : 2);

        sheet->primaryButton()->click();
        QDialog* alert = nullptr;
        QTRY_VERIFY((alert = sheet->findChild<QDialog*>(QStringLiteral("action-confirmation"))));
        // The detail is the bundle path on its own line, then the count of related items.
        int details = 0;
        for (const QString& text : shownTexts(alert)) {
            if (!text.contains(marker)) continue;
            ++details;
            const QStringList lines = text.split(QLatin1Char('\n'));
            EXPECT_EQ(lines.size(), 2) << text.toStdString();
            expectOneLine(lines, marker, 1);
        }
        EXPECT_GE(details, 1);
        ActionConfirmation::cancelButton(alert)->click();
        sheet->closeButton()->click();
        QTRY_VERIFY(!f.page->uninstallSheet());
        EXPECT_TRUE(exists(app.path)) << "nothing moved";
    }
    saveShot(f.page, "odd-list");

    f.page->inspect(f.installed("VLC"));
    QTRY_VERIFY(f.page->cacheSheet());
    CacheReviewView* cache = f.page->cacheSheet();
    ASSERT_EQ(cache->listedRows(), static_cast<int>(pieces.size()));
    saveShot(cache, "odd-cache");
    // Each file's name, path and the row's accessible name.
    QStringList rowTexts = shownTexts(cache);
    for (int i = 0; i < cache->listedRows(); ++i)
        rowTexts << cache->rows()->texts(i)
                 << cache->rows()->model()->index(i, 0).data(Qt::AccessibleTextRole).toString();
    expectOneLine(rowTexts, marker, 3 * static_cast<int>(pieces.size()));
    // A tick stays shown for every name, also one whose bytes are not UTF-8.
    for (int i = 0; i < cache->listedRows(); ++i) {
        clickRow(cache->rows(), i);
        EXPECT_EQ(f.model->cacheSelection().size(), static_cast<size_t>(i + 1));
        for (int j = 0; j <= i; ++j) EXPECT_TRUE(cache->rows()->isTicked(j)) << "row " << j << " after " << i;
    }
    cache->closeButton()->click();
    QTRY_VERIFY(!f.page->cacheSheet());
}

// An application whose name is one word wider than the sheet: both titles stay inside the sheet,
// shortened in the middle, and keep the whole name as their tooltip; a name with spaces wraps.
TEST_F(ReviewSheetsTest, ALongNameStaysInsideTheSheetTitles)
{
    const std::string longName = "Long" + std::string(120, 'x') + "End";
    const std::string spaced = "A Name With Many Short Words That Wraps Onto A Second Line Of The Sheet Title Here";
    const int line = ReviewSheet::kWidth - 2 * ReviewSheet::kMargin;
    for (const char* language : {"en", "zh-Hans"}) {
        setSetting(AppSettings::languageKey, language);
        for (const std::string& name : {longName, spaced}) {
            SCOPED_TRACE(std::string(language) + " " + name);
            const bool shortened = name == longName;
            MaintenanceFixture f;
            f.bundle(name, "org.videolan.vlc");
            f.oldCacheFiles("org.videolan.vlc", 2);
            f.start();
            ASSERT_TRUE(f.settle());
            f.page->uninstall(f.installed(name));
            UninstallReviewView* uninstall = f.page->uninstallSheet();
            ASSERT_TRUE(uninstall);
            auto check = [&](QWidget* sheet, const char* titleName) {
                auto* title = sheet->findChild<QLabel*>(titleName);
                ASSERT_TRUE(title);
                EXPECT_LE(title->minimumSizeHint().width(), line) << title->text().toStdString();
                EXPECT_EQ(title->toolTip(), QString::fromStdString(name));
                EXPECT_EQ(title->text().contains(QString::fromStdString(name)), !shortened) << title->text().toStdString();
                EXPECT_EQ(title->text().contains(QChar(0x2026)), shortened) << title->text().toStdString();
            };
            check(uninstall, "uninstall-title");
            uninstall->closeButton()->click();
            QTRY_VERIFY(!f.page->uninstallSheet());
            f.page->inspect(f.installed(name));
            ASSERT_TRUE(waitFor([&] { return f.page->cacheSheet() && f.model->cachePlan(); }));
            check(f.page->cacheSheet(), "cache-title");
            f.page->cacheSheet()->closeButton()->click();
            QTRY_VERIFY(!f.page->cacheSheet());
        }
    }
}
