#include "../MainWindowTestSupport.h"
#include "../ShellTestSupport.h"

#include "shell/controls/CheckableRowList.h"
#include "shell/style/Typography.h"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QApplication>
#include <QKeyEvent>
#include <QSignalSpy>
#include <QTest>
#include <functional>
#include <map>
#include <set>
#include "QtWaits.h"

namespace {

// A shown list of `rows` rows whose ticks live in `ticked`, as an owner keeps them.
struct RowsFixture {
    std::set<int> ticked;
    std::map<int, int> made;  // texts made per row
    CheckableRowList list{{{Typography::body()}, {Typography::caption(), true}},
                          [this](int row) {
                              ++made[row];
                              return QStringList{QStringLiteral("name %1").arg(row) + (row == 1 ? QString(400, 'x') : QString()),
                                                 QStringLiteral("/cache/%1").arg(row)};
                          },
                          [this](int row) { return ticked.count(row) > 0; }};

    explicit RowsFixture(int rows)
    {
        QObject::connect(&list, &CheckableRowList::toggled, &list, [this](int row, bool on) {
            if (on) ticked.insert(row);
            else ticked.erase(row);
            list.refreshTicks();
        });
        list.resize(400, 300);
        list.setRowCount(rows);
        list.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&list));
    }
};

class CheckableRowListTest : public ShellTest {};

} // namespace

TEST_F(CheckableRowListTest, ClickAndSpaceTurnATickOnlyWhileRowsAreEnabled)
{
    struct Case {
        const char* name;
        bool enabled;
        std::function<void(CheckableRowList&)> act;
        std::set<int> ticked;
    };
    auto space = [](CheckableRowList& list) { QTest::keyClick(&list, Qt::Key_Space); };
    const std::vector<Case> cases = {
        {"click", true, [](CheckableRowList& list) { clickRow(&list, 2); }, {2}},
        {"click twice", true, [](CheckableRowList& list) { clickRow(&list, 2); clickRow(&list, 2); }, {}},
        {"double click, as a checkbox takes it", true, [](CheckableRowList& list) {
             // What the window system sends for a quick pair of clicks.
             const QPoint at = list.visualRect(list.model()->index(2, 0)).center();
             QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, at);
             QTest::mousePress(list.viewport(), Qt::LeftButton, {}, at);
             QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, at);
             QTest::mouseRelease(list.viewport(), Qt::LeftButton, {}, at);
         }, {}},
        {"space on the first row when tabbed to", true, space, {0}},
        {"space on the clicked row", true, [&](CheckableRowList& list) { clickRow(&list, 3); space(list); }, {}},
        {"arrow then space", true, [&](CheckableRowList& list) { space(list); QTest::keyClick(&list, Qt::Key_Down); space(list); }, {0, 1}},
        {"held space turns the tick once", true, [&](CheckableRowList& list) {
             space(list);
             QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "), true);
             for (int i = 0; i < 3; ++i) QApplication::sendEvent(&list, &repeat);
         }, {0}},
        {"select-all and a drag turn nothing", true, [](CheckableRowList& list) {
             QTest::keyClick(&list, Qt::Key_A, Qt::ControlModifier);
             QTest::mousePress(list.viewport(), Qt::LeftButton, {}, list.visualRect(list.model()->index(0, 0)).center());
             QTest::mouseMove(list.viewport(), list.visualRect(list.model()->index(2, 0)).center());
             QTest::mouseRelease(list.viewport(), Qt::LeftButton, {}, list.visualRect(list.model()->index(2, 0)).center());
         }, {}},
        {"click while disabled", false, [](CheckableRowList& list) { clickRow(&list, 2); }, {}},
        {"space while disabled", false, space, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RowsFixture f(5);
        f.list.setRowsEnabled(c.enabled);
        ASSERT_TRUE(focusByKeyboard(&f.list));
        c.act(f.list);
        EXPECT_EQ(f.ticked, c.ticked);
        for (int row = 0; row < 5; ++row) EXPECT_EQ(f.list.isTicked(row), c.ticked.count(row) > 0);
    }
}

TEST_F(CheckableRowListTest, MoreRowsAreAppendedWithoutRemakingTheListedOnes)
{
    RowsFixture f(200);
    QCoreApplication::processEvents();
    ASSERT_EQ(f.made[0], 1) << "the first row was drawn";
    QSignalSpy resets(f.list.model(), &QAbstractItemModel::modelReset);
    QSignalSpy inserted(f.list.model(), &QAbstractItemModel::rowsInserted);
    f.list.setRowCount(400);
    f.list.setRowCount(300);
    f.list.viewport()->repaint();
    EXPECT_EQ(resets.count(), 0);
    ASSERT_EQ(inserted.count(), 1);
    EXPECT_EQ(inserted[0][1].toInt(), 200);
    EXPECT_EQ(inserted[0][2].toInt(), 399);
    EXPECT_EQ(f.list.rowCount(), 300);
    EXPECT_EQ(f.made[0], 1) << "listed rows keep their texts";
    EXPECT_EQ(f.made.count(250), 0u) << "rows not drawn make no texts";

    f.list.resetRows(300);
    f.list.viewport()->repaint();
    EXPECT_EQ(resets.count(), 1);
    EXPECT_EQ(f.made[0], 2) << "reset rows stand for other items";
}

TEST_F(CheckableRowListTest, RowsHaveOneHeightAndReadOutTheirLinesAndTick)
{
    RowsFixture f(3);
    f.ticked = {1};
    const QAbstractItemModel* model = f.list.model();
    for (int row = 0; row < 3; ++row) {
        const QModelIndex index = model->index(row, 0);
        EXPECT_EQ(f.list.visualRect(index).height(), f.list.rowHeight()) << "a long line does not grow its row";
        EXPECT_EQ(index.data(Qt::AccessibleTextRole).toString(), f.list.texts(row).join(QStringLiteral(", ")));
        EXPECT_EQ(index.data(Qt::CheckStateRole).toInt(), row == 1 ? Qt::Checked : Qt::Unchecked);
        EXPECT_TRUE(index.flags() & Qt::ItemIsUserCheckable);
    }
    // An assistive tool's toggle of a row turns its tick, only while the rows are enabled.
    QAccessibleInterface* rows = QAccessible::queryAccessibleInterface(&f.list);
    for (bool enabled : {false, true}) {
        f.list.setRowsEnabled(enabled);
        QAccessibleInterface* row = rows->child(2);
        ASSERT_TRUE(row && row->actionInterface());
        row->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
        EXPECT_EQ(f.ticked, (enabled ? std::set<int>{1, 2} : std::set<int>{1})) << enabled;
        EXPECT_EQ(row->state().checked, enabled);
    }
    EXPECT_TRUE(f.list.selectionModel()->selectedIndexes().isEmpty());
}

TEST_F(CheckableRowListTest, AListWithoutRowsIsNoTabStopAndNewRowsKeepTheCurrentRow)
{
    RowsFixture f(0);
    EXPECT_EQ(f.list.focusPolicy(), Qt::NoFocus) << "no row to show the focus on";
    f.list.setRowCount(4);
    ASSERT_TRUE(focusByKeyboard(&f.list));
    for (int i = 0; i < 3; ++i) QTest::keyClick(&f.list, Qt::Key_Down);
    f.list.setRowsEnabled(false);  // as while the rows' files are being moved
    for (const auto& [rows, current] : std::vector<std::pair<int, int>>{{5, 3}, {2, 1}}) {
        f.list.resetRows(rows);
        EXPECT_EQ(f.list.currentIndex().row(), current) << rows << " rows";
    }
    f.list.setRowsEnabled(true);
    QTest::keyClick(&f.list, Qt::Key_Space);
    EXPECT_EQ(f.ticked, std::set<int>{1}) << "Space goes on where the keyboard was";
    f.list.resetRows(0);
    EXPECT_EQ(f.list.focusPolicy(), Qt::NoFocus);
}
