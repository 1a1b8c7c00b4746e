#include "FilesPageHarness.h"

#include "shell/controls/DisclosureGroup.h"
#include "pages/files/DuplicateGroupView.h"
#include "pages/files/MoveConfirmationSheet.h"
#include "pages/files/SpaceSummaryView.h"
#include "shell/app/AppSettings.h"
#include "shell/window/MainView.h"
#include "shell/window/MainWindow.h"
#include "shell/controls/NativeActionButton.h"
#include "pages/files/NativeFileTable.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QToolButton>

// The files page in its main states, in both languages and both appearances: every visible
// one-line label and button gets the width its text needs. With TESSYN_SHOT_DIR set, the
// pictures are written there for a person to look at.
namespace {

class FilesPageLayoutTest : public ShellTest {};

QStringList clipped(QWidget* root)
{
    QStringList out;
    for (QAbstractButton* button : root->findChildren<QAbstractButton*>())
        if (button->isVisible() && !button->text().isEmpty() && button->width() < button->sizeHint().width())
            out << QStringLiteral("button '%1' %2 < %3").arg(button->text()).arg(button->width()).arg(button->sizeHint().width());
    for (QLabel* label : root->findChildren<QLabel*>()) {
        if (!label->isVisible() || label->wordWrap() || label->text().isEmpty() || !label->toolTip().isEmpty()) continue;
        int needed = label->fontMetrics().horizontalAdvance(label->text());
        if (label->contentsRect().width() < needed)
            out << QStringLiteral("label '%1' %2 < %3").arg(label->text()).arg(label->contentsRect().width()).arg(needed);
    }
    return out;
}

// Where `widget` is cut off on its way up to `top`: empty when every ancestor shows all of it.
std::string cutOff(QWidget* widget, QWidget* top)
{
    for (QWidget* up = widget->parentWidget(); up; up = up->parentWidget()) {
        QRect inside = QRect(widget->mapTo(up, QPoint(0, 0)), widget->size());
        if (!up->rect().contains(inside))
            return QStringLiteral("%1 at y %2-%3 outside %4 (height %5)")
                .arg(widget->metaObject()->className()).arg(inside.top()).arg(inside.bottom())
                .arg(up->objectName().isEmpty() ? QString::fromUtf8(up->metaObject()->className()) : up->objectName())
                .arg(up->height()).toStdString();
        if (up == top) break;
    }
    return {};
}

// Lets every nested layout take its turn; each one that changes asks its parent on a later turn.
void settleLayout()
{
    for (int turn = 0; turn < 8; ++turn) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        QCoreApplication::processEvents();
    }
}

void save(QWidget* widget, const QString& name)
{
    QString dir = qEnvironmentVariable("TESSYN_SHOT_DIR");
    if (dir.isEmpty()) return;
    QDir().mkpath(dir);
    widget->grab().save(dir + QLatin1Char('/') + name + QStringLiteral(".png"));
}

// Nothing in `widget` is clipped; saved as `name` for a person to look at.
void expectFits(QWidget* widget, const QString& name)
{
    QStringList faults = clipped(widget);
    EXPECT_TRUE(faults.isEmpty()) << name.toStdString() << ": " << faults.join("; ").toStdString();
    save(widget, name);
}

// The files page over 50 synthetic results with these scan notes, the notes box open.
void openNotes(FilesPageHarness& h, size_t skipped, const std::vector<std::string>& warnings)
{
    auto report = syntheticReport(50);
    report->skipped = skipped;
    report->warnings = warnings;
    h.model->setReport(report);
    ASSERT_TRUE(h.settled());
    h.page->scanNotes()->setExpanded(true);
    settleLayout();
}

} // namespace

TEST_F(FilesPageLayoutTest, EveryStateFitsInBothLanguagesAndAppearances)
{
    for (const char* language : {"en", "zh-Hans"}) {
        for (const char* appearance : {"light", "dark"}) {
            setSetting(AppSettings::languageKey, language);
            setSetting(AppSettings::appearanceKey, appearance);
            QString suffix = QStringLiteral("-%1-%2").arg(language, appearance);
            SCOPED_TRACE(suffix.toStdString());
            FilesPageHarness h(QSize(900, 680));
            auto check = [&](const char* state) {
                QCoreApplication::processEvents();
                expectFits(h.window.get(), QString::fromUtf8(state) + suffix);
            };
            check("empty");

            // Shortened in the middle of the header.
            std::string folder = h.home.path("Downloads of the whole family from the old laptop and the new phone 2019-2024");
            writeFiles(folder, 30);
            h.chosen = folder;
            click(h.page->chooseButton());
            click(h.page->scanButton());
            check("scanning");
            ASSERT_TRUE(QTest::qWaitFor([&] { return !h.model->scanning(); }, 30000));

            auto report = syntheticReport(5000);
            report->skipped = 4;
            report->warnings = {"locked.db：Permission denied", "cache：Permission denied"};
            h.model->setReport(report);
            h.model->setFilter("文档");
            ASSERT_TRUE(h.settled());
            h.model->setSelection({report->files[3].path, report->files[9].path, report->files[4000].path});
            check("results-kind");
            h.page->spaceSummary()->group()->setExpanded(true);
            h.page->scanNotes()->setExpanded(true);
            check("summary-open");
            h.page->spaceSummary()->group()->setExpanded(false);
            h.page->scanNotes()->setExpanded(false);

            h.model->setFilter("大文件");
            ASSERT_TRUE(h.settled());
            check("results-large");

            click(h.page->reviewButton());
            MoveConfirmationSheet* sheet = h.page->sheet();
            ASSERT_NE(sheet, nullptr);
            ASSERT_TRUE(QTest::qWaitForWindowExposed(sheet));
            expectFits(sheet, QStringLiteral("sheet") + suffix);
            sheet->reject();

            // A stopped duplicate search with two groups, one of them wholly selected.
            auto duplicates = std::make_shared<DuplicateReport>();
            for (int copies : {3, 25}) {
                DuplicateGroup group;
                group.id = std::string(64, copies == 3 ? 'a' : 'b');
                for (int i = 0; i < copies; ++i)
                    group.files.push_back(report->files[static_cast<size_t>(copies * 40 + i)]);
                duplicates->groups.push_back(group);
            }
            duplicates->cancelled = true;
            duplicates->warnings = {"locked.bin：Permission denied"};
            h.model->setDuplicateReport(duplicates);
            h.model->setFilter("重复文件");
            ASSERT_TRUE(h.settled());
            AppModel::PathSet whole;
            for (const FileEntry& file : duplicates->groups[0].files) whole.insert(file.path);
            h.model->setSelection(whole);
            check("duplicates");
        }
    }
}

TEST_F(FilesPageLayoutTest, SelectionBarStaysInTheWindowAndTheTableGivesWayFirst)
{
    // Results with scan notes long enough to fill their box, shown at the window's default and
    // least sizes (the least also under the top bar), with and without a message over the page.
    auto report = syntheticReport(5000);
    report->skipped = 4;
    for (int i = 0; i < 20; ++i) report->warnings.push_back("locked-" + std::to_string(i) + ".db：Permission denied");
    struct Case {
        const char* layout;
        QSize size;
    };
    for (const char* language : {"en", "zh-Hans"}) {
        setSetting(AppSettings::languageKey, language);
        for (Case c : {Case{"sidebar", {1080, 720}}, Case{"sidebar", {860, 600}}, Case{"top", {860, 600}}}) {
            setSetting(AppSettings::layoutKey, c.layout);
            const QSize size = c.size;
            FilesPageHarness h(size, FilesPageHarness::Host::mainWindow);
            ASSERT_NE(h.page, nullptr);
            ASSERT_EQ(h.mainWindow->size(), size);
            h.model->setRoot(h.home.path("Downloads"));
            h.model->setReport(report);
            ASSERT_TRUE(h.settled());
            NativeFileTable* table = h.page->table();
            QWidget* notes = h.page->scanNotes()->content();
            for (bool message : {false, true}) {
                if (message) h.model->setMessage(std::string("文件处理尚未完成，请等待结果保存后再退出。"));
                for (bool open : {false, true}) {
                    QString name = QStringLiteral("window-%1-%2x%3%4%5-%6").arg(c.layout).arg(size.width()).arg(size.height())
                                       .arg(message ? "-message" : "").arg(open ? "-notes" : "").arg(language);
                    SCOPED_TRACE(name.toStdString());
                    // Opened as a user opens it: the notes then come into view.
                    if (h.page->scanNotes()->expanded() != open) h.page->scanNotes()->toggle()->click();
                    settleLayout();
                    if (open) {
                        QWidget* viewport = h.page->areas()->viewport();
                        EXPECT_TRUE(viewport->rect().contains(notes->mapTo(viewport, QPoint(0, 0)))) << "notes out of view";
                    }
                    for (QWidget* shown : {static_cast<QWidget*>(h.page->selectionCaption()),
                                           static_cast<QWidget*>(h.page->reviewButton())}) {
                        ASSERT_TRUE(shown->isVisible());
                        EXPECT_EQ(cutOff(shown, h.mainWindow), "");
                    }
                    EXPECT_EQ(h.mainWindow->view()->banner()->isVisible(), message);
                    EXPECT_GE(table->height(), 80);
                    if (!open) {
                        EXPECT_GE(table->viewport()->height(), 3 * table->rowHeight(0)) << "three rows, the page unscrolled";
                    }
                    if (size == QSize(1080, 720)) {
                        EXPECT_EQ(cutOff(table, h.mainWindow), "");
                        if (!message) {
                            EXPECT_EQ(h.page->areas()->verticalScrollBar()->maximum(), 0) << "the page fits the window";
                        }
                    }
                    if (open && notes->height() < notes->sizeHint().height()) {
                        EXPECT_EQ(table->height(), 80) << "the notes gave way before the table";
                    }
                    save(h.mainWindow, name);
                }
            }
        }
    }
    setSetting(AppSettings::layoutKey, "sidebar");
}

// At the window's least size, under a message, a duplicate group shows a copy below its heading
// and picker without the page scrolling, in either layout.
TEST_F(FilesPageLayoutTest, ADuplicateGroupShowsACopyInTheSmallestWindow)
{
    auto report = syntheticReport(50);
    auto duplicates = std::make_shared<DuplicateReport>();
    duplicates->groups.push_back({std::string(64, 'a'), {report->files[0], report->files[1], report->files[2]}});
    for (const char* layout : {"sidebar", "top"}) {
        setSetting(AppSettings::layoutKey, layout);
        FilesPageHarness h(QSize(MainWindow::minimumWidth, MainWindow::minimumHeight), FilesPageHarness::Host::mainWindow);
        h.model->setRoot(h.home.path("Downloads"));
        h.model->setReport(report);
        h.model->setDuplicateReport(duplicates);
        h.model->setFilter("重复文件");
        h.model->setMessage(std::string("文件处理尚未完成，请等待结果保存后再退出。"));
        ASSERT_TRUE(h.settled());
        settleLayout();
        DuplicateGroupView* group = h.page->duplicates()->groupView(duplicates->groups[0].id);
        ASSERT_NE(group, nullptr);
        QWidget* list = static_cast<QScrollArea*>(h.page->duplicates()->groupList())->viewport();
        QWidget* copy = group->rowCheckbox(0)->parentWidget();
        EXPECT_TRUE(list->rect().contains(QRect(copy->mapTo(list, QPoint(0, 0)), copy->size()))) << layout;
        EXPECT_EQ(h.page->areas()->verticalScrollBar()->maximum(), 0) << layout;
    }
    setSetting(AppSettings::layoutKey, "sidebar");
}

TEST_F(FilesPageLayoutTest, ScanNotesBoxIsAsTallAsItsLinesUpToItsCap)
{
    FilesPageHarness h(QSize(1000, 760));
    struct Case {
        size_t warnings;
        bool capped;
    };
    for (Case c : {Case{0, false}, Case{1, false}, Case{20, true}}) {
        SCOPED_TRACE(std::to_string(c.warnings) + " warnings");
        std::vector<std::string> warnings;
        for (size_t i = 0; i < c.warnings; ++i) {
            const std::string number = std::to_string(i);
            warnings.push_back("w" + number + "：Permission denied");
        }
        ASSERT_NO_FATAL_FAILURE(openNotes(h, 3, warnings));
        QWidget* box = h.page->scanNotes()->content();
        QList<QLabel*> lines = box->findChildren<QLabel*>();
        ASSERT_EQ(lines.size(), static_cast<qsizetype>(c.warnings + 1));
        QRect first(lines.front()->mapTo(box, QPoint(0, 0)), lines.front()->size());
        EXPECT_EQ(first.top(), 0) << "no gap above the first line";
        if (c.capped) {
            EXPECT_EQ(box->height(), 90);
        } else {
            QRect last(lines.back()->mapTo(box, QPoint(0, 0)), lines.back()->size());
            EXPECT_EQ(box->height(), last.bottom() + 1) << "the box ends with its last line";
            EXPECT_EQ(lines.back()->height(), lines.back()->heightForWidth(lines.back()->width()));
        }
    }
}

// A name that has nowhere to wrap (one long word) is wider than the box: the box then scrolls
// sideways, so the end of the line and its reason can be read, and its last line is not hidden
// under the scroll bar.
TEST_F(FilesPageLayoutTest, ScanNoteLinesTooWideToWrapCanBeScrolledTo)
{
    FilesPageHarness h(QSize(860, 600));
    ASSERT_NO_FATAL_FAILURE(openNotes(h, 1, {"aab-" + std::string(240, 'q') + "：Permission denied"}));
    auto* box = qobject_cast<QScrollArea*>(h.page->scanNotes()->content());
    ASSERT_NE(box, nullptr);
    QList<QLabel*> lines = box->widget()->findChildren<QLabel*>();
    ASSERT_EQ(lines.size(), 2);
    QLabel* wide = lines.back();
    int overflow = wide->mapTo(box->viewport(), QPoint(wide->width(), 0)).x() - box->viewport()->width();
    ASSERT_GT(overflow, 0) << "the line is wider than the box";
    EXPECT_TRUE(box->horizontalScrollBar()->isVisible());
    EXPECT_GE(box->horizontalScrollBar()->maximum(), overflow);
    EXPECT_GE(box->viewport()->height(), box->widget()->height()) << "every line above the scroll bar";
}
