#include "../ShellTestSupport.h"

#include "shell/window/FocusSpot.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>
#include <functional>
#include <memory>

namespace {

// One tree as a page builds it: a uniquely named field, a named row of unnamed buttons, an
// unnamed group of checkboxes and two parts that share a name. `grown` puts one more button
// first, as a page whose content changed would.
std::unique_ptr<QWidget> tree(bool grown = false)
{
    auto root = std::make_unique<QWidget>();
    auto* column = new QVBoxLayout(root.get());
    if (grown) column->addWidget(new QPushButton("new"));
    auto* search = new QLineEdit();
    search->setObjectName("search");
    column->addWidget(search);
    auto* row = new QWidget();
    row->setObjectName("row");
    new QPushButton("a", row);
    new QPushButton("b", row);
    column->addWidget(row);
    auto* group = new QWidget();
    new QCheckBox("x", group);
    new QCheckBox("y", group);
    column->addWidget(group);
    for (int i = 0; i < 2; ++i) {
        auto* part = new QWidget();
        part->setObjectName("part");
        new QPushButton("p", part);
        column->addWidget(part);
    }
    root->show();
    return root;
}

// The widgets of a tree that take the focus, in tree order.
QList<QWidget*> controls(QWidget* root)
{
    QList<QWidget*> list;
    for (QWidget* w : root->findChildren<QWidget*>())
        if (w->focusPolicy() != Qt::NoFocus) list.append(w);
    return list;
}

class FocusSpotTest : public ShellTest {};

} // namespace

TEST_F(FocusSpotTest, RebuiltTreeGetsTheFocusBackAtTheSameControl)
{
    auto old = tree();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(old.get()));
    const QList<QWidget*> before = controls(old.get());
    ASSERT_EQ(before.size(), 7);
    for (qsizetype i = 0; i < before.size(); ++i) {
        SCOPED_TRACE(i);
        before[i]->setFocus();
        FocusSpot spot = FocusSpot::in(old.get());
        ASSERT_FALSE(spot.isEmpty());
        auto rebuilt = tree();
        ASSERT_TRUE(spot.restore(rebuilt.get()));
        EXPECT_EQ(rebuilt->focusWidget(), controls(rebuilt.get())[i]);
    }

    // A named control is found by its name even when what comes before it changed.
    old->findChild<QWidget*>("row")->findChildren<QPushButton*>()[1]->setFocus();
    FocusSpot inRow = FocusSpot::in(old.get());
    auto changed = tree(true);
    ASSERT_TRUE(inRow.restore(changed.get()));
    EXPECT_EQ(changed->focusWidget(), changed->findChild<QWidget*>("row")->findChildren<QPushButton*>()[1]);
    // A control found by its place, which now holds another kind of control: no focus.
    before[3]->setFocus();
    EXPECT_FALSE(FocusSpot::in(old.get()).restore(changed.get()));

    // The focus outside the tree, or no tree: nothing to give back.
    EXPECT_TRUE(FocusSpot::in(old->findChild<QWidget*>("row")).isEmpty());
    EXPECT_TRUE(FocusSpot::in(nullptr).isEmpty());
    EXPECT_FALSE(FocusSpot().restore(changed.get()));
}
