#include "../../shell/ShellTestSupport.h"

#include "pages/files/NativeFileTable.h"

#include <QElapsedTimer>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <iostream>

// A million rows: filling, scrolling end to end, and selection in both directions must work
// without building anything per row. The figures are printed, not asserted.
TEST(FileTableScale, MillionRows)
{
    ensureShellApp();
    const size_t count = 1'000'000;
    auto files = std::make_shared<std::vector<FileEntry>>();
    files->reserve(count);
    for (size_t i = 0; i < count; ++i) {
        std::string path = "/data/set" + std::to_string(i / 1000) + "/file-" + std::to_string(i) + ".bin";
        files->emplace_back(std::move(path), static_cast<int64_t>(count - i), 700000000.0 - double(i), 1, i + 1,
                            4096, 0.0);
    }

    NativeFileTable table;
    table.resize(900, 700);
    table.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&table));

    QElapsedTimer timer;
    timer.start();
    table.apply(files, {}, {}, false, AppLanguage::english);
    QCoreApplication::processEvents();  // the deferred layout sets the scroll range
    table.viewport()->repaint();
    qint64 fillMs = timer.elapsed();
    ASSERT_EQ(table.model()->rowCount(), int(count));

    timer.restart();
    QScrollBar* bar = table.verticalScrollBar();
    const int steps = 200;
    for (int s = 1; s <= steps; ++s) {
        bar->setValue(int(qint64(bar->maximum()) * s / steps));
        table.viewport()->repaint();
    }
    qint64 scrollMs = timer.elapsed();
    ASSERT_GT(bar->maximum(), 40'000'000);
    EXPECT_EQ(table.rowAt(table.viewport()->height() - 1), int(count - 1)) << "scrolled to the last row";

    // 1,000 paths spread over the list, handed in by the owner.
    PathSelection spread;
    for (size_t i = 0; i < count; i += 1000) spread.insert((*files)[i].path);
    QSignalSpy spy(&table, &NativeFileTable::pathSelectionChanged);
    timer.restart();
    table.setPathSelection(spread);
    qint64 externalMs = timer.elapsed();
    EXPECT_EQ(table.selectionModel()->selection().size(), 1000);
    EXPECT_EQ(spy.count(), 0);

    // A click on the last row merges with 1,000 paths that the click does not touch.
    timer.restart();
    QTest::mouseClick(table.viewport(), Qt::LeftButton, Qt::ControlModifier,
                      table.visualRect(table.model()->index(int(count - 2), 1)).center());
    qint64 clickMs = timer.elapsed();
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(table.pathSelection().size(), 1001u);

    timer.restart();
    table.selectAll();
    qint64 allMs = timer.elapsed();
    EXPECT_EQ(table.pathSelection().size(), count);

    std::cout << "[figures] 1,000,000 rows: fill+paint " << fillMs << " ms, " << steps << " scroll steps with paint "
              << scrollMs << " ms (" << double(scrollMs) / steps << " ms/step), select 1,000 spread paths "
              << externalMs << " ms, merge a click " << clickMs << " ms, select all " << allMs << " ms" << std::endl;
}
