#include "../../shell/MainWindowTestSupport.h"

#include "engine/HistoryStore.h"
#include "engine/OperationJournal.h"
#include "engine/Uuid.h"
#include "pages/history/HistoryPage.h"
#include "pages/history/HistoryRecordList.h"
#include "pages/PageCatalog.h"
#include "shell/controls/ActionConfirmation.h"
#include "shell/app/AppSettings.h"
#include "shell/DesktopServices.h"
#include "shell/LocalizedText.h"
#include "shell/controls/NativeActionButton.h"
#include "shell/window/PageDestinations.h"
#include "shell/style/Palette.h"

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSignalSpy>
#include <QVBoxLayout>
#include <filesystem>
#include <functional>
#include <sys/stat.h>
#include "QtWaits.h"

namespace {

Operation record(const std::string& path, bool success, std::optional<std::string> trashPath = std::nullopt,
                 std::optional<double> restoredAt = std::nullopt, const std::string& detail = "已移入废纸篓")
{
    Operation op;
    op.id = newUUID();
    op.date = 800000000;
    op.path = path;
    op.success = success;
    op.detail = detail;
    op.trashPath = std::move(trashPath);
    op.restoredAt = restoredAt;
    return op;
}

// A model on a temporary home (stores seeded before it starts), its history page in a
// shown window, and the confirmations answered as a user would.
class HistoryPageTest : public ShellTest {
protected:
    TempHome home;
    std::optional<std::string> chosen;
    std::unique_ptr<AppModel> model;
    std::unique_ptr<QWidget> window;
    HistoryPage* page = nullptr;

    std::string storeFolder() const { return home.dataHome() + "/Tessyn"; }
    std::string journalPath() const { return storeFolder() + "/pending-actions.json"; }
    void seedHistory(const std::vector<Operation>& records) const
    {
        writeFile(storeFolder() + "/operations.json", encodeHistory(records));
    }

    void SetUp() override
    {
        ShellTest::SetUp();
        ActionConfirmation::setSourceWindow(nullptr);
    }

    void TearDown() override
    {
        window.reset();
        model.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void open()
    {
        AppModel::Collaborators services;
        services.chooseFolder = [this] { return chosen; };
        services.runningApplications = std::make_shared<NoApplications>();
        services.readMemory = [] { return std::optional<MemorySnapshot>(); };
        services.readApplicationMemory = [](const std::vector<ApplicationIdentity>&) {
            return std::vector<ApplicationMemory>{};
        };
        services.readAvailableSpace = [](const std::string&) { return std::optional<int64_t>(); };
        services.documentsFolder = [this] { return std::optional<std::string>(home.root()); };
        model = std::make_unique<AppModel>(storeFolder() + "/operations.json",
                                           std::vector<std::string>{home.path("Applications")}, home.root(),
                                           std::move(services));
        window = std::make_unique<QWidget>();
        auto* layout = new QVBoxLayout(window.get());
        page = new HistoryPage(*model);
        layout->addWidget(page);
        window->resize(900, 620);
        ASSERT_TRUE(activate(window.get()));
    }

    HistoryRecordList* list() const { return page->recordList(); }

    // Moves one file to the Trash through the model, as the files page would.
    void trash(const std::string& path)
    {
        chosen = std::filesystem::path(path).parent_path().string();
        model->choose();
        model->scan();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !model->scanning(); }, 10000));
        model->setSelection({path});
        QFuture<void> done = model->trashSelected();
        QTRY_VERIFY(done.isFinished());
        ASSERT_FALSE(std::filesystem::exists(path));
    }

    void clickRestore(int row)
    {
        QRect button = list()->restoreButtonRect(row);
        ASSERT_FALSE(button.isNull()) << "row " << row << " has no restore button";
        QTest::mouseClick(list()->viewport(), Qt::LeftButton, {}, button.center());
    }

    QDialog* confirmation() const
    {
        QDialog* found = nullptr;
        bool shown = QTest::qWaitFor([&] {
            found = window->findChild<QDialog*>(QStringLiteral("action-confirmation"));
            return found && found->isVisible();
        }, 3000);
        return shown ? found : nullptr;
    }

    // Answers the open confirmation; false when there was none.
    bool answer(bool confirm)
    {
        QPointer<QDialog> dialog = confirmation();
        if (!dialog) return false;
        QPushButton* button = confirm ? ActionConfirmation::actionButton(dialog) : ActionConfirmation::cancelButton(dialog);
        QTest::mouseClick(button, Qt::LeftButton);
        return QTest::qWaitFor([&] { return !dialog; }, 3000);
    }

    QLabel* label(const char* name) const { return page->findChild<QLabel*>(QString::fromLatin1(name)); }
    NativeActionButton* button(const char* name) const
    {
        return page->findChild<NativeActionButton*>(QString::fromLatin1(name));
    }
};

} // namespace

TEST_F(HistoryPageTest, RestoreRoundTripAndItsCancellation)
{
    std::string path = writeFile(home.path("tree/report.pdf"), "quarterly numbers");
    ino_t inode = inodeOf(path);
    open();
    trash(path);
    ASSERT_EQ(model->history().size(), 1u);
    std::string inTrash = *model->history()[0].trashPath;
    EXPECT_EQ(list()->subtitle(0), QStringLiteral("Moved to the Trash"));
    EXPECT_EQ(label("history-count")->text(), QStringLiteral("Records: 1"));

    // Cancelled: nothing changes, on disk or in the model.
    model->setMessage(std::nullopt);
    std::vector<Operation> before = model->history();
    clickRestore(0);
    QDialog* dialog = confirmation();
    ASSERT_TRUE(dialog);
    EXPECT_EQ(dialog->findChild<QLabel*>(QStringLiteral("confirmation-title"))->text(),
              QStringLiteral("Restore to the original location?"));
    EXPECT_TRUE(dialog->findChild<QLabel*>(QStringLiteral("confirmation-detail"))->text().startsWith(
        QString::fromStdString(path + "\nA file already at the original location is never overwritten")));
    ASSERT_TRUE(answer(false));
    // From the keyboard: Space on the row asks too, Escape cancels.
    list()->setFocus();
    list()->setCurrentIndex(list()->model()->index(0, 0));
    QTest::keyClick(list(), Qt::Key_Space);
    QPointer<QDialog> asked = confirmation();
    ASSERT_TRUE(asked);
    QTest::keyClick(asked, Qt::Key_Escape);
    QTRY_VERIFY(!asked);
    QCoreApplication::processEvents();
    EXPECT_FALSE(model->processing());
    EXPECT_EQ(model->history(), before);
    EXPECT_FALSE(model->message().has_value());
    EXPECT_TRUE(std::filesystem::exists(inTrash));
    EXPECT_FALSE(std::filesystem::exists(path));

    // Confirmed: the same file comes back and the row says so.
    QSignalSpy finished(page, &HistoryPage::restoreFinished);
    clickRestore(0);
    ASSERT_TRUE(answer(true));
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 10000);
    EXPECT_EQ(model->message(), "已恢复到原位置。请重新扫描以更新文件列表。");
    EXPECT_EQ(inodeOf(path), inode) << "the very file is back, not a copy";
    EXPECT_EQ(readFile(path), "quarterly numbers");
    EXPECT_FALSE(std::filesystem::exists(inTrash));
    EXPECT_EQ(list()->subtitle(0), QStringLiteral("Restored to the original location"));
    EXPECT_TRUE(list()->restoreButtonRect(0).isNull()) << "a restored record offers no restore";
}

TEST_F(HistoryPageTest, RestoreRefusedWhenThePlaceIsTakenChangesNothing)
{
    std::string path = writeFile(home.path("tree/notes.txt"), "the original");
    open();
    trash(path);
    std::string inTrash = *model->history()[0].trashPath;
    ino_t trashedInode = inodeOf(inTrash);
    writeFile(path, "a newcomer");
    std::vector<Operation> before = model->history();

    QSignalSpy finished(page, &HistoryPage::restoreFinished);
    clickRestore(0);
    ASSERT_TRUE(answer(true));
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 10000);
    EXPECT_EQ(model->message()->rfind("恢复失败：", 0), 0u) << *model->message();
    EXPECT_EQ(model->history(), before);
    EXPECT_EQ(readFile(path), "a newcomer") << "the file in the way is left alone";
    EXPECT_EQ(inodeOf(inTrash), trashedInode) << "the item stays in the Trash";
    EXPECT_EQ(list()->subtitle(0), QStringLiteral("Moved to the Trash"));
    EXPECT_FALSE(list()->restoreButtonRect(0).isNull()) << "the row still offers the restore";
}

// No restore starts while a file job runs; a question left open while the record was restored
// elsewhere (a second window) does no harm; a window closed mid-restore leaves it to finish.
TEST_F(HistoryPageTest, RestoreUnderJobsStaleQuestionsAndClosedWindows)
{
    std::string path = writeFile(home.path("tree/photo.jpg"), "pixels");
    open();
    trash(path);

    model->scan();
    ASSERT_TRUE(model->scanning());
    EXPECT_TRUE(list()->restoreBlocked());
    clickRestore(0);
    QCoreApplication::processEvents();
    EXPECT_FALSE(window->findChild<QDialog*>(QStringLiteral("action-confirmation"))) << "no question while scanning";
    ASSERT_TRUE(QTest::qWaitFor([&] { return !model->scanning(); }, 10000));
    EXPECT_FALSE(list()->restoreBlocked());

    // The question is asked here, the same record restored through a second page meanwhile.
    clickRestore(0);
    ASSERT_TRUE(confirmation());
    QWidget other;
    auto* otherLayout = new QVBoxLayout(&other);
    auto* second = new HistoryPage(*model);
    otherLayout->addWidget(second);
    other.resize(700, 500);
    QFuture<void> elsewhere = model->restore(second->recordList()->records()[0]);
    QTRY_VERIFY(elsewhere.isFinished());
    ASSERT_TRUE(std::filesystem::exists(path));
    model->setMessage(std::nullopt);
    EXPECT_TRUE(list()->restoreButtonRect(0).isNull()) << "both pages follow the model";

    QSignalSpy finished(page, &HistoryPage::restoreFinished);
    ASSERT_TRUE(answer(true));
    QTRY_COMPARE(finished.count(), 1);
    EXPECT_FALSE(model->message().has_value()) << "not reported as a failed restore: " << model->message().value_or("");
    EXPECT_EQ(readFile(path), "pixels");

    // The window closes while a confirmed restore runs: the restore still ends properly.
    std::string late = writeFile(home.path("tree/late.txt"), "late");
    trash(late);
    clickRestore(0);
    QPointer<QDialog> dialog = confirmation();
    ASSERT_TRUE(dialog);
    QTest::mouseClick(ActionConfirmation::actionButton(dialog), Qt::LeftButton);
    ASSERT_TRUE(model->restoring());
    window.reset();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !model->processing(); }, 10000));
    EXPECT_EQ(readFile(late), "late");
    EXPECT_TRUE(model->history()[0].restoredAt.has_value());
}

TEST_F(HistoryPageTest, InterruptedActionNotesAndTheirClearing)
{
    // Many runs ended mid-move: the notes scroll rather than push the rest off the page.
    makeDirs(storeFolder());
    OperationJournal journal(journalPath());
    for (int i = 0; i < 30; ++i)
        journal.record(record("/data/moving-" + std::to_string(i) + ".txt", false, std::nullopt, std::nullopt, "准备移入废纸篓"),
                       OperationJournal::kMoving);
    open();

    auto notes = page->findChildren<QLabel*>(QStringLiteral("history-note"));
    ASSERT_EQ(notes.size(), 30);
    EXPECT_TRUE(notes[0]->text().startsWith(QStringLiteral("Operation interrupted: /data/moving-"))) << notes[0]->text().toStdString();
    EXPECT_TRUE(notes[0]->isVisible());
    NativeActionButton* clear = button("history-clear-notes");
    ASSERT_TRUE(clear && clear->isVisible());
    auto* notesArea = page->findChild<QWidget*>(QStringLiteral("history-notes"));
    EXPECT_LE(notesArea->height(), 160);
    EXPECT_LE(clear->mapTo(page, QPoint(0, clear->height())).y(), page->height() / 2) << "the button stays in view";
    EXPECT_TRUE(page->findChild<QWidget*>(QStringLiteral("history-empty"))->isVisible()) << "no records: the empty card";

    // Any job running: the notes cannot be cleared.
    chosen = home.path("tree");
    makeDirs(*chosen);
    model->choose();
    model->scan();
    EXPECT_FALSE(clear->isEnabled());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !model->scanning(); }, 10000));
    EXPECT_TRUE(clear->isEnabled());

    // Cancelled: the notes and the journal stay.
    QTest::mouseClick(clear, Qt::LeftButton);
    QDialog* dialog = confirmation();
    ASSERT_TRUE(dialog);
    EXPECT_EQ(dialog->findChild<QLabel*>(QStringLiteral("confirmation-title"))->text(),
              QStringLiteral("Have you checked the interrupted items at their original locations and in the Trash?"));
    ASSERT_TRUE(answer(false));
    QCoreApplication::processEvents();
    EXPECT_EQ(model->recoveryNotes().size(), 30u);
    EXPECT_EQ(OperationJournal(journalPath()).entries().size(), 30u);
    EXPECT_TRUE(clear->isVisible());

    QTest::mouseClick(clear, Qt::LeftButton);
    ASSERT_TRUE(answer(true));
    EXPECT_TRUE(model->recoveryNotes().empty());
    EXPECT_TRUE(OperationJournal(journalPath()).entries().empty());
    EXPECT_EQ(model->message(), "已清除已核对的中断提示，文件未改变。");
    EXPECT_TRUE(page->findChildren<QLabel*>(QStringLiteral("history-note")).isEmpty());
    EXPECT_FALSE(clear->isVisible());
}

// What each kind of record shows, in both languages, and the page the program registers.
TEST_F(HistoryPageTest, RowsHeaderAndEmptyState)
{
    struct Row {
        Operation op;
        QString title;
        QString english;
        QString chinese;
        bool restorable;
    };
    std::vector<Row> rows = {
        {record("/home/u/moved.txt", true, "/t/files/moved.txt"), "moved.txt", "Moved to the Trash", "已移入废纸篓", true},
        {record("/home/u/failed.txt", false, std::nullopt, std::nullopt, "文件已变化、已移动或超出扫描范围，请重新扫描。"),
         "failed.txt", "The file has changed, moved or left the scanned folder. Scan again.", "文件已变化、已移动或超出扫描范围，请重新扫描。",
         false},
        {record("/home/u/back.txt", true, "/t/files/back.txt", 800000100), "back.txt", "Restored to the original location",
         "已恢复到原位置", false},
        {record("/home/u/nowhere.txt", true), "nowhere.txt", "Moved to the Trash", "已移入废纸篓", false},
        // A line break in a name cannot pass for another line of the row.
        {record("/home/u/two\n已恢复到原位置/", true, "/t/files/two"), QString::fromUtf8("two\uFFFD已恢复到原位置"),
         "Moved to the Trash", "已移入废纸篓", true},
    };
    std::vector<Operation> seeded;
    for (const Row& r : rows) seeded.push_back(r.op);
    seedHistory(seeded);

    for (const char* language : {"en", "zh-Hans"}) {
        SCOPED_TRACE(language);
        bool chinese = std::string(language) == "zh-Hans";
        setSetting(AppSettings::languageKey, QString::fromLatin1(language));
        window.reset();
        model.reset();
        open();
        installPageFactory(tessynPages());
        std::unique_ptr<QWidget> registered(makePageContent(Pages::history, *model, {}));
        installPageFactory({});
        EXPECT_TRUE(qobject_cast<HistoryPage*>(registered.get())) << "the program's factory builds this page";

        EXPECT_EQ(label("history-count")->text(), chinese ? QStringLiteral("5 条处理记录") : QStringLiteral("Records: 5"));
        EXPECT_FALSE(page->findChild<QWidget*>(QStringLiteral("history-empty"))->isVisible());
        ASSERT_EQ(list()->model()->rowCount(), int(rows.size()));
        for (int i = 0; i < int(rows.size()); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(list()->model()->index(i, 0).data().toString(), rows[size_t(i)].title);
            EXPECT_FALSE(list()->model()->index(i, 0).data(Qt::EditRole).toString().contains(QLatin1Char('\n')));
            EXPECT_EQ(list()->subtitle(i), chinese ? rows[size_t(i)].chinese : rows[size_t(i)].english);
            EXPECT_EQ(!list()->restoreButtonRect(i).isNull(), rows[size_t(i)].restorable);
            EXPECT_FALSE(list()->dateText(i).isEmpty());
        }
    }

    // A double click opens the path in a read-only field, to select and copy it.
    QRect first = list()->visualRect(list()->model()->index(0, 0));
    QPoint onPath(first.left() + 60, first.center().y());
    QTest::mouseClick(list()->viewport(), Qt::LeftButton, {}, onPath);
    QTest::mouseDClick(list()->viewport(), Qt::LeftButton, {}, onPath);
    auto* field = list()->findChild<QLineEdit*>(QStringLiteral("history-path-field"));
    ASSERT_TRUE(field && field->isVisible());
    EXPECT_TRUE(field->isReadOnly());
    EXPECT_EQ(field->text(), QStringLiteral("/home/u/moved.txt"));
    EXPECT_EQ(field->selectedText(), field->text());

    // Emptied: the card alone, whose button opens the Trash folder.
    QList<QUrl> opened;
    DesktopServices::Launcher launcher;
    launcher.openUrl = [&opened](const QUrl& url) {
        opened.append(url);
        return true;
    };
    DesktopServices::setLauncher(launcher);
    model->clearHistory();
    EXPECT_TRUE(page->findChild<QWidget*>(QStringLiteral("history-empty"))->isVisible());
    EXPECT_FALSE(page->findChild<QWidget*>(QStringLiteral("history-header"))->isVisible());
    EXPECT_FALSE(list()->isVisible());
    QTest::mouseClick(button("history-empty-open-trash"), Qt::LeftButton);
    DesktopServices::setLauncher({});
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened[0].toLocalFile().toStdString(), home.dataHome() + "/Trash/files");
}

// Ten thousand records: one list, built and scrolled through quickly, and a restored record
// updates its row without moving the list.
TEST_F(HistoryPageTest, TenThousandRecords)
{
    std::vector<Operation> seeded;
    for (int i = 0; i < 10000; ++i)
        seeded.push_back(record("/home/u/folder " + std::to_string(i % 37) + "/file-" + std::to_string(i) + ".dat",
                                i % 5 != 0, "/t/files/file-" + std::to_string(i) + ".dat"));
    seedHistory(seeded);

    open();
    QCoreApplication::processEvents();
    page->grab();
    ASSERT_EQ(list()->model()->rowCount(), 10000) << "every record, not a page of them";
    EXPECT_EQ(label("history-count")->text(), QStringLiteral("Records: 10000"));

    // One list drawn a screen at a time: only the rows in view are painted.
    QScrollBar* bar = list()->verticalScrollBar();
    EXPECT_GT(bar->maximum(), 0);
    bar->setValue(bar->maximum());
    list()->viewport()->repaint();

    // A stamped record redraws in place; the reader keeps their place in the list.
    bar->setValue(bar->maximum() / 2);
    int kept = bar->value();
    QSignalSpy resets(list()->model(), &QAbstractItemModel::modelReset);
    std::vector<Operation> stamped = list()->records();
    stamped[5000].restoredAt = 800000500;
    list()->setRecords(stamped);
    EXPECT_EQ(resets.count(), 0);
    EXPECT_EQ(bar->value(), kept);
    EXPECT_EQ(list()->subtitle(5000), QStringLiteral("Restored to the original location"));
}

// The list reached by Tab rings its current row; Space first brings that row back into view
// when the list was scrolled away from it, then asks about its restore.
TEST_F(HistoryPageTest, TheFocusedRowIsRingedAndInViewWhenSpaceActs)
{
    std::vector<Operation> seeded;
    for (int i = 0; i < 40; ++i) seeded.push_back(record("/home/u/f" + std::to_string(i), true, "/t/files/f" + std::to_string(i)));
    seedHistory(seeded);
    open();
    ASSERT_TRUE(focusByKeyboard(list()));
    QModelIndex current = list()->currentIndex();
    // The left end of the row holds nothing but the ring, in the accent's hue.
    auto accentAtRowEnd = [&] {
        QRect row = list()->visualRect(current);
        QImage end = list()->viewport()->grab(QRect(row.left(), row.top(), 8, row.height())).toImage();
        for (int i = 0; i < end.width() * end.height(); ++i)
            if (QColor c = end.pixelColor(i % end.width(), i / end.width());
                c.hsvSaturation() > 60 && std::abs(c.hsvHue() - Palette::accent().hsvHue()) < 20)
                return true;
        return false;
    };
    EXPECT_TRUE(accentAtRowEnd()) << "the focused row is ringed";
    list()->clearFocus();
    EXPECT_FALSE(accentAtRowEnd()) << "without the focus, no ring";

    ASSERT_TRUE(focusByKeyboard(list()));
    list()->verticalScrollBar()->setValue(list()->verticalScrollBar()->maximum());
    ASSERT_FALSE(list()->viewport()->rect().intersects(list()->visualRect(current)));
    std::vector<std::string> asked;
    QObject::connect(list(), &HistoryRecordList::restoreRequested, list(), [&](const Operation& op) { asked.push_back(op.id); });
    QTest::keyClick(list(), Qt::Key_Space);
    EXPECT_TRUE(list()->viewport()->rect().contains(list()->visualRect(current))) << "in view";
    EXPECT_EQ(asked, std::vector<std::string>{list()->records()[size_t(current.row())].id});
    EXPECT_TRUE(answer(false));
}

// Every way a restore can be refused reads in the language shown, with this platform's words.
TEST_F(HistoryPageTest, ARefusedRestoreIsReportedInTheLanguageShown)
{
    struct Case {
        const char* name;
        std::function<void(const std::string& path, const std::string& inTrash)> spoil;
    };
    const std::vector<Case> cases = {
        {"place taken", [](const std::string& path, const std::string&) { writeFile(path, "a newcomer"); }},
        {"gone from the Trash", [](const std::string&, const std::string& inTrash) { std::filesystem::remove(inTrash); }},
        {"changed in the Trash", [](const std::string&, const std::string& inTrash) { writeFile(inTrash, "other text"); }},
        {"folder gone", [](const std::string& path, const std::string&) {
             std::filesystem::remove_all(std::filesystem::path(path).parent_path());
         }},
    };
    open();
    int round = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = writeFile(home.path("tree" + std::to_string(++round) + "/notes.txt"), "the original");
        ASSERT_NO_FATAL_FAILURE(trash(path));
        c.spoil(path, *model->history()[0].trashPath);
        QSignalSpy finished(page, &HistoryPage::restoreFinished);
        clickRestore(0);
        ASSERT_TRUE(answer(true));
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 10000);
        ASSERT_EQ(model->message()->rfind("恢复失败：", 0), 0u) << *model->message();

        // What the window's banner shows.
        QString english = L(QString::fromStdString(*model->message()));
        EXPECT_TRUE(english.startsWith("Restore failed: ")) << english.toStdString();
        EXPECT_FALSE(english.contains(QRegularExpression("[\\x{4e00}-\\x{9fff}]"))) << english.toStdString();
        setSetting(AppSettings::languageKey, "zh-Hans");
        QString chinese = L(QString::fromStdString(*model->message()));
        EXPECT_FALSE(chinese.contains("Finder")) << chinese.toStdString();
        setSetting(AppSettings::languageKey, "en");
    }
}
