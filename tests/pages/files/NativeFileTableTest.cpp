#include "../../shell/ShellTestSupport.h"

#include "engine/ByteFormat.h"
#include "shell/app/AppSettings.h"
#include "pages/files/NativeFileTable.h"
#include "shell/style/Palette.h"

#include <QContextMenuEvent>
#include <QHeaderView>
#include <QMenu>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

namespace {

FileEntry file(const std::string& path, int64_t size, double modified = 700000000)
{
    return FileEntry(path, size, modified, 1, std::hash<std::string>{}(path), size, modified);
}

class NativeFileTableTest : public ShellTest {
protected:
    std::unique_ptr<NativeFileTable> table;
    std::vector<std::string> previewed, revealed;

    void SetUp() override
    {
        ShellTest::SetUp();
        table = std::make_unique<NativeFileTable>();
        table->resize(800, 500);
        table->setPreviewHandler([this](const std::string& p) { previewed.push_back(p); });
        table->setRevealHandler([this](const std::string& p) { revealed.push_back(p); });
        table->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(table.get()));
    }

    static std::vector<FileEntry> sixFiles()
    {
        return {file("/d/a.mov", 5'000'000'000), file("/d/b.zip", 2'500'000), file("/d/c.txt", 1200),
                file("/d/sub/d.png", 900), file("/e/e.pdf", 12), file("f-without-folder", 0)};
    }

    QPoint rowPoint(int row, int column = NativeFileTable::sizeColumn) const
    {
        return table->visualRect(table->model()->index(row, column)).center();
    }

    void click(int row, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QTest::mouseClick(table->viewport(), Qt::LeftButton, modifiers, rowPoint(row));
    }

    std::vector<int> selectedRows() const
    {
        std::vector<int> rows;
        for (const QModelIndex& i : table->selectionModel()->selectedRows()) rows.push_back(i.row());
        std::sort(rows.begin(), rows.end());
        return rows;
    }

    QString cell(int row, int column, int role = Qt::DisplayRole) const
    {
        return table->model()->data(table->model()->index(row, column), role).toString();
    }
};

} // namespace

TEST_F(NativeFileTableTest, ColumnsRowsAndFallbackTexts)
{
    FilePresentationMap presentation{{"/d/a.mov", {"5 GB", "2023/3/4", "/d"}}};
    table->apply(std::make_shared<std::vector<FileEntry>>(sixFiles()), presentation, {}, false, AppLanguage::english);

    ASSERT_EQ(table->model()->rowCount(), 6);
    ASSERT_EQ(table->model()->columnCount(), 4);
    QHeaderView* header = table->horizontalHeader();
    EXPECT_EQ(header->sectionSize(NativeFileTable::sizeColumn), 90);
    EXPECT_EQ(header->sectionSize(NativeFileTable::dateColumn), 100);
    EXPECT_EQ(header->sectionSize(NativeFileTable::actionsColumn), 76);
    EXPECT_GE(header->sectionSize(NativeFileTable::fileColumn), 140) << "the name column takes the rest";
    EXPECT_EQ(header->sectionResizeMode(NativeFileTable::fileColumn), QHeaderView::Stretch);
    EXPECT_EQ(table->rowHeight(0), 44);
    EXPECT_TRUE(table->alternatingRowColors());
    EXPECT_EQ(table->selectionMode(), QAbstractItemView::ExtendedSelection);

    // A row with display strings uses them; the size still passes through L.
    EXPECT_EQ(cell(0, NativeFileTable::fileColumn), QStringLiteral("a.mov"));
    EXPECT_EQ(cell(0, NativeFileTable::fileColumn, NativeFileTable::parentRole), QStringLiteral("/d"));
    EXPECT_EQ(cell(0, NativeFileTable::sizeColumn), QStringLiteral("5 GB"));
    EXPECT_EQ(cell(0, NativeFileTable::dateColumn), QStringLiteral("2023/3/4"));
    EXPECT_EQ(cell(0, NativeFileTable::sizeColumn, Qt::ToolTipRole), QStringLiteral("/d/a.mov"));

    // Rows beyond the presentation are formatted on the spot.
    EXPECT_EQ(cell(1, NativeFileTable::sizeColumn), QString::fromStdString(formatFileSize(2'500'000)));
    EXPECT_EQ(cell(3, NativeFileTable::fileColumn, NativeFileTable::parentRole), QStringLiteral("/d/sub"));
    EXPECT_FALSE(cell(3, NativeFileTable::dateColumn).isEmpty());
    EXPECT_EQ(cell(5, NativeFileTable::fileColumn), QStringLiteral("f-without-folder"));
    EXPECT_EQ(cell(5, NativeFileTable::fileColumn, NativeFileTable::parentRole), QString())
        << "a path without '/' has an empty second line";
    EXPECT_EQ(cell(2, NativeFileTable::actionsColumn, Qt::AccessibleTextRole),
              QStringLiteral("Preview c.txt; Show in File Manager c.txt"));
}

TEST_F(NativeFileTableTest, SelectionMergeKeepsHiddenPaths)
{
    table->apply(std::make_shared<std::vector<FileEntry>>(sixFiles()), {}, {"/hidden/x", "/d/b.zip"}, false,
                 AppLanguage::english);
    EXPECT_EQ(selectedRows(), std::vector<int>{1}) << "the handed-in selection shows as selected rows";

    QSignalSpy spy(table.get(), &NativeFileTable::pathSelectionChanged);
    click(2);
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(table->pathSelection(), (PathSelection{"/hidden/x", "/d/c.txt"}))
        << "a plain click replaces the shown selection and keeps the hidden path";

    click(4, Qt::ControlModifier);
    EXPECT_EQ(table->pathSelection(), (PathSelection{"/hidden/x", "/d/c.txt", "/e/e.pdf"}));

    click(2, Qt::ControlModifier);
    click(4, Qt::ControlModifier);
    EXPECT_TRUE(selectedRows().empty());
    EXPECT_EQ(table->pathSelection(), (PathSelection{"/hidden/x"})) << "deselecting every row keeps the hidden path";
    auto last = spy.takeLast().at(0).value<PathSelection>();
    EXPECT_EQ(last, (PathSelection{"/hidden/x"}));

    // A filter that hides rows: selecting among the remaining rows keeps what was chosen before.
    table->setPathSelection({"/hidden/x", "/d/a.mov", "/e/e.pdf"});
    std::vector<FileEntry> filtered{file("/d/b.zip", 2'500'000), file("/d/c.txt", 1200)};
    table->setFiles(filtered);
    EXPECT_TRUE(selectedRows().empty());
    click(1);
    EXPECT_EQ(table->pathSelection(), (PathSelection{"/hidden/x", "/d/a.mov", "/e/e.pdf", "/d/c.txt"}));
}

TEST_F(NativeFileTableTest, ExternalSelectionIsNotEchoed)
{
    table->apply(std::make_shared<std::vector<FileEntry>>(sixFiles()), {}, {}, false, AppLanguage::english);
    QSignalSpy spy(table.get(), &NativeFileTable::pathSelectionChanged);

    table->setPathSelection({"/d/a.mov", "/d/c.txt", "/d/sub/d.png", "/not/listed"});
    EXPECT_EQ(selectedRows(), (std::vector<int>{0, 2, 3}));
    EXPECT_EQ(spy.count(), 0) << "a selection handed in is never written back";

    table->setPathSelection({"/e/e.pdf"});
    EXPECT_EQ(selectedRows(), std::vector<int>{4});
    table->setPathSelection({});
    EXPECT_TRUE(selectedRows().empty());
    EXPECT_EQ(spy.count(), 0);

    // Two rows with one path (a scan never gives them, a caller might) are selected together.
    auto twice = sixFiles();
    twice.push_back(file("/d/c.txt", 1200));
    table->setFiles(twice);
    table->setPathSelection({"/d/c.txt"});
    EXPECT_EQ(selectedRows(), (std::vector<int>{2, 6}));
    table->setPathSelection({});
    table->setFiles(sixFiles());
    EXPECT_EQ(spy.count(), 0);

    // The owner writes back what the table announced: nothing moves, nothing is announced again.
    click(1);
    ASSERT_EQ(spy.count(), 1);
    table->setPathSelection(table->pathSelection());
    EXPECT_EQ(selectedRows(), std::vector<int>{1});
    EXPECT_EQ(spy.count(), 1);
}

TEST_F(NativeFileTableTest, ProcessingBlocksSelectionAndRowButtons)
{
    auto files = std::make_shared<std::vector<FileEntry>>(sixFiles());
    table->apply(files, {}, {"/d/a.mov"}, false, AppLanguage::english);
    int reloads = table->reloadCount();

    // Row buttons work and leave the selection alone.
    QSignalSpy spy(table.get(), &NativeFileTable::pathSelectionChanged);
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, table->rowButtonRect(2, NativeFileTable::previewButton).center());
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, table->rowButtonRect(3, NativeFileTable::revealButton).center());
    EXPECT_EQ(previewed, std::vector<std::string>{"/d/c.txt"});
    EXPECT_EQ(revealed, std::vector<std::string>{"/d/sub/d.png"});
    EXPECT_EQ(spy.count(), 0);
    EXPECT_EQ(selectedRows(), std::vector<int>{0});

    table->setProcessing(true);
    EXPECT_EQ(table->reloadCount(), reloads + 1) << "a change of the processing state reloads the rows";
    EXPECT_EQ(selectedRows(), std::vector<int>{0}) << "the selection is still shown";
    click(3);
    click(4, Qt::ControlModifier);
    QTest::keyClick(table.get(), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(table.get(), Qt::Key_Down, Qt::ShiftModifier);
    EXPECT_EQ(selectedRows(), std::vector<int>{0}) << "rows cannot be selected while processing";
    EXPECT_EQ(spy.count(), 0);
    EXPECT_EQ(table->pathSelection(), (PathSelection{"/d/a.mov"}));
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, table->rowButtonRect(1, NativeFileTable::previewButton).center());
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, table->rowButtonRect(1, NativeFileTable::revealButton).center());
    EXPECT_EQ(previewed.size(), 1u) << "row buttons are off while processing";
    EXPECT_EQ(revealed.size(), 1u);

    table->setProcessing(false);
    EXPECT_EQ(table->reloadCount(), reloads + 2);
    click(4);
    EXPECT_EQ(table->pathSelection(), (PathSelection{"/e/e.pdf"}));
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, table->rowButtonRect(1, NativeFileTable::previewButton).center());
    EXPECT_EQ(previewed.back(), "/d/b.zip");
}

TEST_F(NativeFileTableTest, ReloadsOnlyWhenRowsChange)
{
    auto files = std::make_shared<std::vector<FileEntry>>(sixFiles());
    FilePresentationMap presentation{{"/d/a.mov", {"5 GB", "2023/3/4", "/d"}}};
    table->apply(files, presentation, {}, false, AppLanguage::english);
    int reloads = table->reloadCount();

    table->apply(std::make_shared<std::vector<FileEntry>>(sixFiles()), presentation, {"/d/b.zip"}, false,
                 AppLanguage::english);
    EXPECT_EQ(table->reloadCount(), reloads) << "equal rows, equal texts and a new selection do not reload";
    EXPECT_EQ(selectedRows(), std::vector<int>{1});

    presentation["/d/a.mov"].size = "4.9 GB";
    table->setPresentation(presentation);
    EXPECT_EQ(table->reloadCount(), reloads + 1);
    EXPECT_EQ(selectedRows(), std::vector<int>{1}) << "the selection is re-applied after a reload";

    auto changed = sixFiles();
    changed[2].size += 1;
    table->setFiles(changed);
    EXPECT_EQ(table->reloadCount(), reloads + 2) << "a changed field of one row reloads";
}

TEST_F(NativeFileTableTest, LanguageSwitchRetitlesColumns)
{
    table->apply(std::make_shared<std::vector<FileEntry>>(sixFiles()), {}, {}, false, AppLanguage::english);
    auto titles = [this] {
        QStringList out;
        for (int c = 0; c < 4; ++c) out << table->model()->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
        return out;
    };
    EXPECT_EQ(titles(), (QStringList{"Files", "Size", "Modified", "Actions"}));
    EXPECT_EQ(table->accessibleName(), QStringLiteral("Files"));
    int reloads = table->reloadCount();

    QSignalSpy headerSpy(table->model(), &QAbstractItemModel::headerDataChanged);
    setSetting(AppSettings::languageKey, QStringLiteral("zh-Hans"));
    EXPECT_EQ(titles(), (QStringList{"文件", "大小", "修改时间", "操作"}));
    EXPECT_EQ(table->horizontalHeader()->model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("文件"));
    EXPECT_GE(headerSpy.count(), 1);
    EXPECT_EQ(table->reloadCount(), reloads + 1) << "a language change reloads the rows";
    EXPECT_EQ(table->accessibleName(), QStringLiteral("文件"));
    EXPECT_EQ(cell(0, NativeFileTable::actionsColumn, Qt::AccessibleTextRole),
              QStringLiteral("预览 a.mov; 在文件管理器中显示 a.mov"))
        << "Chinese names this platform's file manager";

    setSetting(AppSettings::languageKey, QStringLiteral("en"));
    EXPECT_EQ(titles(), (QStringList{"Files", "Size", "Modified", "Actions"}));
    EXPECT_EQ(table->reloadCount(), reloads + 2);
}

TEST_F(NativeFileTableTest, CjkNamesKeepTheirDescenders)
{
    // The name drawn in the cell must reach as far up and down as the same text drawn without
    // bounds, at the sizes the interface uses.
    const QString name = QStringLiteral("季度报告.pdf");
    auto files = std::make_shared<std::vector<FileEntry>>(std::vector<FileEntry>{file("/d/季度报告.pdf", 10)});

    // Rows holding any pixel far from the background.
    auto inkRows = [](const QImage& image) {
        QColor background = image.pixelColor(image.width() - 1, 0);
        int top = -1, bottom = -1;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                if (std::abs(image.pixelColor(x, y).lightness() - background.lightness()) > 60) {
                    if (top < 0) top = y;
                    bottom = y;
                    break;
                }
            }
        return bottom - top + 1;
    };

    for (int pixels : {12, 13, 14, 15}) {
        QFont font = table->font();
        font.setPixelSize(pixels);
        table->setFont(font);
        table->apply(files, {{"/d/季度报告.pdf", FilePresentation{"10 bytes", "1/1/23", ""}}}, {}, false,
                     AppLanguage::english);
        QRect cellRect = table->visualRect(table->model()->index(0, NativeFileTable::fileColumn));
        QImage cellImage = table->viewport()->grab(cellRect).toImage();

        QImage free(cellRect.width(), 120, QImage::Format_ARGB32);
        free.fill(cellImage.pixelColor(cellImage.width() - 1, 0));
        {
            QPainter painter(&free);
            painter.setFont(font);
            painter.setPen(Palette::ink());
            painter.drawText(QPointF(10, 60), name);
        }
        EXPECT_GE(inkRows(cellImage), inkRows(free)) << "the name line is cut off at " << pixels << " px";
    }
}

TEST_F(NativeFileTableTest, KeyboardMovesPicksAndActsOnTheCurrentRow)
{
    table->apply(std::make_shared<std::vector<FileEntry>>(sixFiles()), {}, {"/e/e.pdf"}, false, AppLanguage::english);
    QSignalSpy spy(table.get(), &NativeFileTable::pathSelectionChanged);
    table->activateWindow();
    QApplication::setActiveWindow(table.get());
    table->clearFocus();
    table->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(QTest::qWaitFor([&] { return table->hasFocus(); }));
    EXPECT_FALSE(table->tabKeyNavigation()) << "the table is one stop in the focus chain";
    EXPECT_EQ(table->currentIndex().row(), 0) << "reached from the keyboard, the table starts on its first row";

    struct Step {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        int current;
        std::vector<int> selected;
    };
    const Step steps[] = {
        {Qt::Key_Down, Qt::NoModifier, 1, {4}},      // moving leaves the selection alone
        {Qt::Key_Space, Qt::NoModifier, 1, {1, 4}},  // Space picks the row ...
        {Qt::Key_Down, Qt::NoModifier, 2, {1, 4}},
        {Qt::Key_End, Qt::NoModifier, 5, {1, 4}},
        {Qt::Key_Space, Qt::NoModifier, 5, {1, 4, 5}},
        {Qt::Key_Up, Qt::NoModifier, 4, {1, 4, 5}},
        {Qt::Key_Space, Qt::NoModifier, 4, {1, 5}},  // ... and leaves it out again
        {Qt::Key_Home, Qt::NoModifier, 0, {1, 5}},
    };
    for (const Step& step : steps) {
        QTest::keyClick(table.get(), step.key, step.modifiers);
        EXPECT_EQ(table->currentIndex().row(), step.current) << QKeySequence(step.key).toString().toStdString();
        EXPECT_EQ(selectedRows(), step.selected) << QKeySequence(step.key).toString().toStdString();
    }
    EXPECT_EQ(table->pathSelection(), (PathSelection{"/d/b.zip", "f-without-folder"}));
    EXPECT_EQ(spy.count(), 3) << "each pick is announced once";

    // Return previews the current row, Ctrl+Return shows it in the file manager.
    QTest::keyClick(table.get(), Qt::Key_Down);
    QTest::keyClick(table.get(), Qt::Key_Return);
    QTest::keyClick(table.get(), Qt::Key_Return, Qt::ControlModifier);
    EXPECT_EQ(previewed, std::vector<std::string>{"/d/b.zip"});
    EXPECT_EQ(revealed, std::vector<std::string>{"/d/b.zip"});

    // Nothing of it while a file action runs.
    table->setProcessing(true);
    QTest::keyClick(table.get(), Qt::Key_Space);
    QTest::keyClick(table.get(), Qt::Key_Return);
    QTest::keyClick(table.get(), Qt::Key_Return, Qt::ControlModifier);
    EXPECT_EQ(table->pathSelection(), (PathSelection{"/d/b.zip", "f-without-folder"}));
    EXPECT_EQ(previewed.size(), 1u);
    EXPECT_EQ(revealed.size(), 1u);
}

TEST_F(NativeFileTableTest, ContextMenuOffersTheRowButtonsForTheRowItWasOpenedOn)
{
    table->apply(std::make_shared<std::vector<FileEntry>>(sixFiles()), {}, {}, false, AppLanguage::english);
    table->selectionModel()->setCurrentIndex(table->model()->index(0, 0), QItemSelectionModel::NoUpdate);
    for (auto [button, title] : {std::pair{NativeFileTable::previewButton, QString("Preview")},
                                 std::pair{NativeFileTable::revealButton, QString("Show in File Manager")}}) {
        QStringList offered;
        QTimer::singleShot(0, [&, title = title] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (!menu) return;
            for (QAction* action : menu->actions()) {
                offered << action->text();
                if (action->text() == title) action->trigger();
            }
            menu->close();
        });
        QPoint at = rowPoint(3);
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, table->viewport()->mapToGlobal(at));
        QApplication::sendEvent(table->viewport(), &event);
        EXPECT_EQ(offered, (QStringList{"Preview", "Show in File Manager"}));
    }
    EXPECT_EQ(previewed, std::vector<std::string>{"/d/sub/d.png"}) << "the row under the pointer, not the current one";
    EXPECT_EQ(revealed, std::vector<std::string>{"/d/sub/d.png"});
    EXPECT_EQ(selectedRows(), std::vector<int>{}) << "the menu leaves the selection alone";
}

// A move that ends while the menu is open gives the table new rows: the menu's actions still
// act on the file it was opened on, never on whatever row took its place.
TEST_F(NativeFileTableTest, ContextMenuActsOnItsFileAfterTheRowsChange)
{
    std::vector<FileEntry> files = sixFiles();
    table->apply(std::make_shared<std::vector<FileEntry>>(files), {}, {}, true, AppLanguage::english);
    const std::string opened = files[3].path;
    files.erase(files.begin());  // moved to the Trash
    bool enabled = false;
    QTimer::singleShot(0, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu) return;
        table->apply(std::make_shared<std::vector<FileEntry>>(files), {}, {}, false, AppLanguage::english);
        for (QAction* action : menu->actions())
            if (action->text() == "Preview") {
                enabled = action->isEnabled();
                action->trigger();
            }
        menu->close();
    });
    QPoint at = rowPoint(3);
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, table->viewport()->mapToGlobal(at));
    QApplication::sendEvent(table->viewport(), &event);
    EXPECT_TRUE(enabled) << "the move has ended";
    EXPECT_EQ(previewed, std::vector<std::string>{opened});
}

// Rows replaced between the press on a row button and its release (a move ending meanwhile):
// the release acts on nothing rather than on the file that took the pressed row's place.
TEST_F(NativeFileTableTest, ARowButtonPressedBeforeTheRowsChangeDoesNotActOnAnotherFile)
{
    std::vector<FileEntry> files = sixFiles();
    table->apply(std::make_shared<std::vector<FileEntry>>(files), {}, {}, false, AppLanguage::english);
    QPoint at = table->rowButtonRect(3, NativeFileTable::previewButton).center();
    QTest::mousePress(table->viewport(), Qt::LeftButton, {}, at);
    files.erase(files.begin());  // moved to the Trash
    table->apply(std::make_shared<std::vector<FileEntry>>(files), {}, {}, false, AppLanguage::english);
    QTest::mouseRelease(table->viewport(), Qt::LeftButton, {}, at);
    EXPECT_EQ(previewed, std::vector<std::string>{});

    // The same rows again (a new selection, say) leave the press as it was.
    QTest::mousePress(table->viewport(), Qt::LeftButton, {}, at);
    table->apply(std::make_shared<std::vector<FileEntry>>(files), {}, {files[0].path}, false, AppLanguage::english);
    QTest::mouseRelease(table->viewport(), Qt::LeftButton, {}, at);
    EXPECT_EQ(previewed, std::vector<std::string>{files[3].path});
}

// Only the left button presses a row button, a quick second click included: a double click
// with another button leaves nothing held down for a later left release to act on.
TEST_F(NativeFileTableTest, OnlyALeftDoubleClickPressesARowButton)
{
    table->apply(std::make_shared<std::vector<FileEntry>>(sixFiles()), {}, {}, false, AppLanguage::english);
    QPoint at = table->rowButtonRect(2, NativeFileTable::previewButton).center();
    for (auto [button, acts] : {std::pair{Qt::LeftButton, true}, std::pair{Qt::RightButton, false},
                                std::pair{Qt::MiddleButton, false}}) {
        SCOPED_TRACE(button);
        previewed.clear();
        QTest::mouseDClick(table->viewport(), button, {}, at);
        QTest::mouseRelease(table->viewport(), Qt::LeftButton, {}, at);
        if (button != Qt::LeftButton) QTest::mouseRelease(table->viewport(), button, {}, at);
        EXPECT_EQ(previewed, acts ? std::vector<std::string>{"/d/c.txt"} : std::vector<std::string>{});
    }
}
