#include "FilesPageHarness.h"

#include "shell/controls/DisclosureGroup.h"
#include "pages/files/DuplicateGroupView.h"
#include "pages/files/DuplicatesSection.h"
#include "shell/controls/MiddleElidedLabel.h"
#include "shell/controls/ContentUnavailableView.h"
#include "shell/controls/NativeActionButton.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QComboBox>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QToolButton>
#include <QWheelEvent>
#include <cstdio>
#include <filesystem>

namespace {

class DuplicateGroupViewTest : public ShellTest {};

// A group of `copies` files of one size; copy 0 has the shortest path, so it is the suggestion.
DuplicateGroup groupOf(const std::string& tag, int copies)
{
    DuplicateGroup group;
    group.id = std::string(64, tag[0]);
    for (int i = 0; i < copies; ++i) {
        char path[128];
        std::snprintf(path, sizeof path, "/data/%s/%s%03d/copy.bin", tag.c_str(), i == 0 ? "" : "dir", i);
        group.files.emplace_back(path, 4096, 700000000.0, 1, 1000 + i, 4096, std::nullopt);
    }
    std::sort(group.files.begin(), group.files.end(),
              [](const FileEntry& a, const FileEntry& b) { return a.path < b.path; });
    return group;
}

// Publishes the groups as a scan and a finished duplicate search, and shows them.
void showGroups(FilesPageHarness& h, const std::vector<DuplicateGroup>& groups, bool cancelled = false,
                std::vector<std::string> warnings = {})
{
    auto report = std::make_shared<ScanReport>();
    auto duplicates = std::make_shared<DuplicateReport>();
    for (const DuplicateGroup& group : groups)
        report->files.insert(report->files.end(), group.files.begin(), group.files.end());
    report->inspected = static_cast<int64_t>(report->files.size());
    report->rebuildStatistics();
    duplicates->groups = groups;
    duplicates->cancelled = cancelled;
    duplicates->warnings = std::move(warnings);
    h.model->setReport(report);
    h.model->setDuplicateReport(duplicates);
    click(h.page->chip("重复文件"));
    ASSERT_TRUE(h.settled());
}

AppModel::PathSet pathsOf(const DuplicateGroup& group, size_t from, size_t to, const std::string& except = {})
{
    AppModel::PathSet out;
    for (size_t i = from; i < to && i < group.files.size(); ++i)
        if (group.files[i].path != except) out.insert(group.files[i].path);
    return out;
}

// `groups` groups of `copies` copies under `folder`, and a link the scan skips (a scan note).
void writeDuplicateFolder(const std::string& folder, int groups, int copies = 3)
{
    makeDirs(folder);
    for (int g = 0; g < groups; ++g)
        for (int copy = 0; copy < copies; ++copy)
            writeFile(folder + "/g" + std::to_string(g) + "/copy" + std::to_string(copy) + ".bin",
                      std::string(static_cast<size_t>(200 + g), char('a' + g % 26)));
    std::filesystem::create_symlink("g0", folder + "/link");
}

// Scans `folder` (again, when it is the chosen one), shows the duplicates and runs a search.
void scanAndDetect(FilesPageHarness& h, const std::string& folder, bool detect = true)
{
    if (h.model->root() == folder) {
        click(h.page->scanButton());
        ASSERT_TRUE(QTest::qWaitFor([&] { return !h.model->scanning(); }, 30000));
    } else {
        ASSERT_NO_FATAL_FAILURE(h.chooseAndScan(folder));
    }
    click(h.page->chip("重复文件"));
    if (!detect) return;
    click(h.page->duplicates()->detectButton());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !h.model->detectingDuplicates(); }, 30000));
    ASSERT_TRUE(h.settled());
}

} // namespace

TEST_F(DuplicateGroupViewTest, LongGroupsShowTwentyCopiesAtATimeAndAtMostAHundredKeepOptions)
{
    FilesPageHarness h;
    DuplicateGroup three = groupOf("c", 3), twentyFive = groupOf("b", 25), hundredTwenty = groupOf("a", 120);
    ASSERT_NO_FATAL_FAILURE(showGroups(h, {three, twentyFive, hundredTwenty}));
    DuplicatesSection* section = h.page->duplicates();
    ASSERT_EQ(section->groupViews().size(), 3u);

    struct Case {
        const DuplicateGroup& group;
        std::vector<QString> steps;  // load-more titles, press by press
        int rows;
    };
    const Case cases[] = {
        {three, {}, 3},
        {twentyFive, {"Load more copies (20/25 shown)"}, 25},
        {hundredTwenty,
         {"Load more copies (20/120 shown)", "Load more copies (40/120 shown)", "Load more copies (60/120 shown)",
          "Load more copies (80/120 shown)", "Load more copies (100/120 shown)"},
         120},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.group.files.size());
        DuplicateGroupView* view = section->groupView(c.group.id);
        ASSERT_NE(view, nullptr);
        EXPECT_EQ(view->heading()->text(), "Copies of identical content: " + QString::number(c.group.files.size()) + " · 4 KB each");
        for (const QString& title : c.steps) {
            EXPECT_EQ(view->loadMoreButton()->text(), title);
            click(view->loadMoreButton());
        }
        EXPECT_FALSE(view->loadMoreButton()->isVisible());
        EXPECT_EQ(view->shownRows(), c.rows);
        EXPECT_EQ(view->picker()->count(), std::min(c.rows, 100));
    }

    // A copy beyond the hundred options, kept: it joins the picker as the choice.
    DuplicateGroupView* view = section->groupView(hundredTwenty.id);
    click(view->rowKeepButton(110));
    EXPECT_EQ(view->keep(), hundredTwenty.files[110].path);
    EXPECT_EQ(view->picker()->count(), 101);
    EXPECT_EQ(view->picker()->currentText().toStdString(), hundredTwenty.files[110].path);
    EXPECT_FALSE(view->rowKeepButton(110)->isVisible());
    EXPECT_TRUE(h.model->selection().empty()) << "choosing a copy selects nothing in an untouched group";
}

TEST_F(DuplicateGroupViewTest, KeepingAndSelectingShownCopiesGiveTheGroupsSelection)
{
    FilesPageHarness h;
    DuplicateGroup three = groupOf("c", 3), twentyFive = groupOf("b", 25);
    // Copies of the long group already selected before its view first appears.
    h.model->setSelection(pathsOf(twentyFive, 0, 25));
    ASSERT_NO_FATAL_FAILURE(showGroups(h, {three, twentyFive}));
    DuplicatesSection* section = h.page->duplicates();
    DuplicateGroupView* small = section->groupView(three.id);
    DuplicateGroupView* large = section->groupView(twentyFive.id);
    EXPECT_EQ(h.model->selection(), pathsOf(twentyFive, 0, 20, twentyFive.suggestedKeep().path))
        << "a group shown with copies selected gets the shown copies but the kept one";
    const std::string suggested = three.suggestedKeep().path;

    // The suggestion is kept and marked.
    EXPECT_EQ(small->keep(), suggested);
    int keptRow = 0;
    while (three.files[static_cast<size_t>(keptRow)].path != suggested) ++keptRow;
    EXPECT_EQ(small->rowName(keptRow)->fullText(), "copy.bin · kept");
    EXPECT_FALSE(small->rowKeepButton(keptRow)->isVisible());

    // Select the shown copies: everything but the kept one, even if it was selected.
    h.model->setSelection({suggested});
    click(small->selectShownButton());
    EXPECT_EQ(h.model->selection(), pathsOf(three, 0, 3, suggested));
    EXPECT_EQ(small->rowName(keptRow)->fullText(), "copy.bin · kept");

    // Another copy kept while the group is being selected: the selection follows.
    int other = keptRow == 0 ? 1 : 0;
    click(small->rowKeepButton(other));
    EXPECT_EQ(h.model->selection(), pathsOf(three, 0, 3, three.files[static_cast<size_t>(other)].path));

    // Kept copy selected by its checkbox: the mark goes, the keep button stays away.
    click(small->rowCheckbox(other));
    EXPECT_EQ(small->rowName(other)->fullText(), "copy.bin");
    EXPECT_FALSE(small->rowKeepButton(other)->isVisible());

    // Nothing of the group selected: a new choice only moves the marks.
    h.model->setSelection({});
    click(small->rowKeepButton(keptRow));
    EXPECT_TRUE(h.model->selection().empty());
    EXPECT_EQ(small->rowName(keptRow)->fullText(), "copy.bin · kept");

    // 25 copies, 20 shown, all selected: the five beyond and the kept one are deselected.
    h.model->setSelection(pathsOf(twentyFive, 0, 25));
    click(large->selectShownButton());
    EXPECT_EQ(h.model->selection(), pathsOf(twentyFive, 0, 20, large->keep()));
}

// A copy whose name is not UTF-8, chosen in the picker, is the very copy kept and left out.
TEST_F(DuplicateGroupViewTest, ACopyWithANameThatIsNotUtf8CanBeKeptFromThePicker)
{
    FilesPageHarness h;
    DuplicateGroup group = groupOf("u", 3);
    group.files[2].path = "/data/u/dir002/copy\xff\xfe.bin";
    const std::string odd = group.files[2].path;
    ASSERT_NO_FATAL_FAILURE(showGroups(h, {group}));
    DuplicateGroupView* view = h.page->duplicates()->groupView(group.id);
    ASSERT_NE(view, nullptr);
    ASSERT_EQ(view->picker()->count(), 3);
    emit view->picker()->activated(2);
    EXPECT_EQ(view->keep(), odd);
    EXPECT_EQ(view->picker()->currentIndex(), 2);
    click(view->selectShownButton());
    EXPECT_EQ(h.model->selection(), pathsOf(group, 0, 3, odd));
}

TEST_F(DuplicateGroupViewTest, SelectingEveryCopyWarnsUntilOneIsDeselected)
{
    FilesPageHarness h;
    DuplicateGroup three = groupOf("c", 3);
    ASSERT_NO_FATAL_FAILURE(showGroups(h, {three}));
    DuplicateGroupView* view = h.page->duplicates()->groupView(three.id);
    for (int row = 0; row < 3; ++row) {
        EXPECT_FALSE(view->wholeGroupWarning()->isVisible()) << row;
        click(view->rowCheckbox(row));
    }
    EXPECT_EQ(h.model->selection(), pathsOf(three, 0, 3));
    EXPECT_TRUE(view->wholeGroupWarning()->isVisible());
    click(view->rowCheckbox(1));
    EXPECT_FALSE(view->wholeGroupWarning()->isVisible());
    EXPECT_EQ(h.model->selection(), pathsOf(three, 0, 3, three.files[1].path));
}

TEST_F(DuplicateGroupViewTest, TheSectionShowsCountsStopNoteWarningsAndBuildsLongListsInBatches)
{
    FilesPageHarness h;
    ASSERT_NO_FATAL_FAILURE(showGroups(h, {}, true, {"a.bin：Permission denied", "b.bin：Input/output error"}));
    DuplicatesSection* section = h.page->duplicates();
    EXPECT_FALSE(section->startForm()->isVisible());
    EXPECT_EQ(section->countLabel()->text().left(39), "Groups of identical content: 0 · keep a");
    EXPECT_TRUE(section->cancelledLabel()->isVisible());
    EXPECT_TRUE(section->nothingFound()->isVisible());
    EXPECT_FALSE(section->groupList()->isVisible());
    EXPECT_TRUE(section->warnings()->isVisible());
    EXPECT_EQ(section->warnings()->label(), "Failed or skipped: 2 (at most 20 shown)");

    std::vector<DuplicateGroup> many;
    for (int i = 0; i < 120; ++i) {
        const std::string number = std::to_string(i);
        DuplicateGroup group = groupOf("g" + number, 2);
        group.id = number + std::string(60, 'f');
        many.push_back(group);
    }
    ASSERT_NO_FATAL_FAILURE(showGroups(h, many));
    EXPECT_FALSE(section->cancelledLabel()->isVisible());
    EXPECT_FALSE(section->nothingFound()->isVisible());
    EXPECT_FALSE(section->warnings()->isVisible());
    EXPECT_EQ(section->groupViews().size(), DuplicatesSection::kGroupsPerBatch);
    section->showMoreGroups();
    EXPECT_EQ(section->groupViews().size(), 2 * DuplicatesSection::kGroupsPerBatch);

    // A search that no group meets: an empty list, and no nothing-found view.
    h.model->setSearch("no such name");
    ASSERT_TRUE(h.settled());
    EXPECT_TRUE(section->groupViews().empty());
    EXPECT_FALSE(section->nothingFound()->isVisible());
    EXPECT_EQ(section->countLabel()->text().left(33), "Groups of identical content: 120 ");
}

namespace {

QScrollArea* groupList(FilesPageHarness& h) { return qobject_cast<QScrollArea*>(h.page->duplicates()->groupList()); }

// After the layouts have settled.
QPoint placeOf(const QWidget* widget)
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    return widget->mapTo(widget->window(), QPoint(0, 0));
}

// One notch of the wheel, down, over the middle of `over`.
void wheel(QWidget* over)
{
    QPointF at = QRectF(over->rect()).center();
    QWheelEvent event(at, over->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(over, &event);
}

} // namespace

// A pass of the wheel over the list scrolls it; the kept copy changes only by a choice made
// in the picker itself.
TEST_F(DuplicateGroupViewTest, TheWheelOverAPickerScrollsTheListAndKeepsTheChoice)
{
    FilesPageHarness h(QSize(900, 600));
    ASSERT_TRUE(activate(h.window.get()));
    std::vector<DuplicateGroup> groups;
    for (char tag = 'a'; tag <= 'l'; ++tag) groups.push_back(groupOf(std::string(1, tag), 3));
    ASSERT_NO_FATAL_FAILURE(showGroups(h, groups));
    DuplicateGroupView* view = h.page->duplicates()->groupView(groups[1].id);
    ASSERT_NE(view, nullptr);
    // A changed choice would re-apply the group's selection.
    click(view->rowCheckbox(2));
    const AppModel::PathSet selected = h.model->selection();
    const std::string kept = view->keep();
    QComboBox* picker = view->picker();
    const int index = picker->currentIndex();
    ASSERT_FALSE(picker->hasFocus());
    ASSERT_NE(groupList(h), nullptr);
    QScrollBar* bar = groupList(h)->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 0) << "the list must be long enough to scroll";
    const int top = bar->value();

    wheel(picker);
    EXPECT_EQ(view->keep(), kept);
    EXPECT_EQ(picker->currentIndex(), index);
    EXPECT_EQ(h.model->selection(), selected);
    EXPECT_GT(bar->value(), top) << "the wheel scrolls the list instead";

    // Focused, by a click or the keyboard, the picker takes the keys.
    picker->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(QTest::qWaitFor([&] { return picker->hasFocus(); }));
    const int scrolled = bar->value();
    QTest::keyClick(picker, Qt::Key_Down);
    EXPECT_EQ(view->keep(), groups[1].files[1].path);
    EXPECT_EQ(h.model->selection(), pathsOf(groups[1], 0, 3, groups[1].files[1].path));
    // A pick leaves the focus in the picker and the pointer over it: the next pass of the
    // wheel is the user scrolling on, not another choice.
    const AppModel::PathSet picked = h.model->selection();
    wheel(picker);
    EXPECT_EQ(view->keep(), groups[1].files[1].path);
    EXPECT_EQ(h.model->selection(), picked);
    EXPECT_GT(bar->value(), scrolled) << "the wheel scrolls the list";
}

TEST_F(DuplicateGroupViewTest, AGroupWhoseKeptCopyWasMovedKeepsItsSuggestedCopy)
{
    FilesPageHarness h;
    std::string folder = h.home.path("Copies");
    std::vector<std::string> copies;
    for (const char* path : {"/a.bin", "/sub/bb.bin", "/sub/deeper/ccc.bin", "/sub/deeper/dddd.bin"})
        copies.push_back(writeFile(folder + path, std::string(300, 'd')));
    ASSERT_NO_FATAL_FAILURE(h.chooseAndScan(folder));
    click(h.page->chip("重复文件"));
    click(h.page->duplicates()->detectButton());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !h.model->detectingDuplicates(); }, 30000));
    ASSERT_TRUE(h.settled());
    ASSERT_EQ(h.page->duplicates()->groupViews().size(), 1u);
    DuplicateGroupView* view = h.page->duplicates()->groupViews().front();
    ASSERT_EQ(view->keep(), copies[0]);

    // The kept copy ticked by hand and moved, with a copy of the group still selected.
    h.model->setSelection(AppModel::PathSet{copies[0], copies[3]});
    QFuture<void> moved = h.model->trashSelected();
    ASSERT_TRUE(QTest::qWaitFor([&] { return moved.isFinished(); }, 30000));
    ASSERT_TRUE(h.settled());
    ASSERT_EQ(view->group().files.size(), 2u);
    EXPECT_EQ(view->keep(), copies[1]) << "the suggestion of what is left";
    EXPECT_EQ(view->picker()->currentText().toStdString(), copies[1]);
    EXPECT_FALSE(view->rowKeepButton(0)->isVisible());
    EXPECT_TRUE(h.model->selection().empty()) << "the moved copy left the selection, and the suggestion is not selected";

    click(view->selectShownButton());
    EXPECT_EQ(h.model->selection(), AppModel::PathSet{copies[2]});
    EXPECT_FALSE(view->wholeGroupWarning()->isVisible());
}

// What is under the pointer stays there when a copy is kept or more copies are listed, also
// when the pressed button stood at the bottom edge of the list.
TEST_F(DuplicateGroupViewTest, KeepingACopyOrListingMoreLeavesTheListWhereItWas)
{
    FilesPageHarness h(QSize(900, 600));
    ASSERT_TRUE(activate(h.window.get()));
    std::vector<DuplicateGroup> groups;
    for (char tag = 'a'; tag <= 'h'; ++tag)
        groups.push_back(groupOf(std::string(1, tag), tag == 'c' ? 25 : tag == 'd' ? 45 : 3));
    ASSERT_NO_FATAL_FAILURE(showGroups(h, groups));
    QScrollArea* list = groupList(h);
    ASSERT_NE(list, nullptr);
    QScrollBar* bar = list->verticalScrollBar();
    // Scrolls the list so that `button` is the last thing in view, and presses it there.
    auto pressAtBottom = [&](QPushButton* button, QWidget* steady) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        int bottom = button->mapTo(list->widget(), QPoint(0, button->height())).y();
        bar->setValue(bottom - list->viewport()->height() + 2);
        ASSERT_TRUE(button->isVisible());
        const QPoint before = placeOf(steady);
        const int value = bar->value();
        QTest::mouseClick(button, Qt::LeftButton);
        EXPECT_EQ(placeOf(steady), before);
        EXPECT_EQ(bar->value(), value);
    };

    // "保留此份" on the last copy of a group with a selected copy.
    DuplicateGroupView* view = h.page->duplicates()->groupView(groups[5].id);
    h.model->setSelection({groups[5].files[1].path});
    ASSERT_NO_FATAL_FAILURE(pressAtBottom(view->rowKeepButton(2), view->rowCheckbox(2)));
    EXPECT_EQ(view->keep(), groups[5].files[2].path);
    EXPECT_EQ(h.model->selection(), pathsOf(groups[5], 0, 3, groups[5].files[2].path));

    // "加载更多副本": the rows listed so far stay put and the new ones follow below them; the
    // button either goes (25 copies) or moves on past them (45).
    for (size_t g : {2u, 3u}) {
        SCOPED_TRACE(g);
        DuplicateGroupView* longer = h.page->duplicates()->groupView(groups[g].id);
        const int shown = longer->shownRows();
        ASSERT_NO_FATAL_FAILURE(pressAtBottom(longer->loadMoreButton(), longer->rowCheckbox(shown - 1)));
        EXPECT_GT(longer->shownRows(), shown);
    }
}

// A warning line names a file or folder and then the reason: only the reason is an interface
// text. A name is shown as it is, even one that reads like a text of ours, and a reason of
// ours reads in English under English.
TEST_F(DuplicateGroupViewTest, WarningsTranslateTheReasonAndNeverTheName)
{
    FilesPageHarness h;
    const std::vector<std::string> warnings = {"photo.jpg：文件已变化、已移动或超出扫描范围，请重新扫描。",
                                               "恢复失败：Permission denied", "a：b.bin：Input/output error"};
    const QStringList shown = {"photo.jpg: The file has changed, moved or left the scanned folder. Scan again.",
                               "恢复失败: Permission denied", "a：b.bin: Input/output error"};
    ASSERT_NO_FATAL_FAILURE(showGroups(h, {}, true, warnings));
    auto* duplicateNotes = qobject_cast<QLabel*>(h.page->duplicates()->warnings()->content());
    ASSERT_NE(duplicateNotes, nullptr);
    EXPECT_EQ(duplicateNotes->text().toStdString(), shown.join(QLatin1Char('\n')).toStdString());

    auto report = std::make_shared<ScanReport>(*h.model->report());
    report->skipped = 3;
    report->warnings = warnings;
    h.model->setReport(report);
    ASSERT_TRUE(h.settled());
    QStringList lines;
    for (QLabel* line : h.page->scanNotes()->content()->findChildren<QLabel*>()) lines << line->text();
    ASSERT_EQ(lines.size(), 4);
    EXPECT_EQ(lines.mid(1).join(QLatin1Char('\n')).toStdString(), shown.join(QLatin1Char('\n')).toStdString())
        << "after the fixed first line";
}

// A new report (a new scan, another folder) opens at its first group with the scan notes and
// the search's problems folded; a report that only lost a moved copy stays as it was.
TEST_F(DuplicateGroupViewTest, ANewReportOpensAtTheTopWithItsNotesFoldedAndAMoveKeepsThePlace)
{
    FilesPageHarness h(QSize(900, 600));
    const std::string one = h.home.path("One"), two = h.home.path("Two");
    writeDuplicateFolder(one, 12);
    writeDuplicateFolder(two, 12);  // the same contents: the same group identities
    ASSERT_NO_FATAL_FAILURE(scanAndDetect(h, one));
    QScrollBar* bar = groupList(h)->verticalScrollBar();
    for (const std::string& next : {std::string(), one, two}) {  // none: a copy moved
        SCOPED_TRACE(next);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        bar->setValue(bar->maximum() / 2);
        const int scrolled = bar->value();
        ASSERT_GT(scrolled, 0);
        h.page->scanNotes()->setExpanded(true);
        if (next.empty()) {
            h.model->setSelection({h.model->duplicateReport()->groups.back().files[1].path});
            QFuture<void> moved = h.model->trashSelected();
            ASSERT_TRUE(QTest::qWaitFor([&] { return moved.isFinished(); }, 30000) && h.settled());
        } else {
            ASSERT_NO_FATAL_FAILURE(scanAndDetect(h, next));
        }
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        EXPECT_EQ(bar->value(), next.empty() ? scrolled : 0);
        EXPECT_EQ(h.page->scanNotes()->expanded(), next.empty());
    }
    ASSERT_NO_FATAL_FAILURE(showGroups(h, {}, false, {"a.bin：Permission denied"}));
    h.page->duplicates()->warnings()->setExpanded(true);
    h.model->setDuplicateReport(nullptr);
    ASSERT_NO_FATAL_FAILURE(showGroups(h, {}, false, {"b.bin：Permission denied"}));
    EXPECT_FALSE(h.page->duplicates()->warnings()->expanded());
}

// "Detect Duplicates" pressed from the keyboard goes away; the focus stays in the page: on Stop
// while the search runs, then on the first group, or the next control when nothing was found.
// Focus the user moves meanwhile stays where they put it.
TEST_F(DuplicateGroupViewTest, TheFocusStaysInThePageThroughADuplicateSearch)
{
    for (int c = 0; c < 3; ++c) {
        const int groups = c == 1 ? 0 : 3;
        const bool userMoves = c == 2;
        SCOPED_TRACE(c);
        FilesPageHarness h(QSize(1000, 700), FilesPageHarness::Host::mainWindow);
        writeDuplicateFolder(h.home.path("Copies"), groups);
        ASSERT_NO_FATAL_FAILURE(scanAndDetect(h, h.home.path("Copies"), false));
        ASSERT_TRUE(focusByKeyboard(h.page->duplicates()->detectButton()));
        QTest::keyClick(h.page->duplicates()->detectButton(), Qt::Key_Space);
        EXPECT_EQ(QApplication::focusWidget(), h.page->stopButton());
        if (userMoves) h.page->searchField()->setFocus(Qt::MouseFocusReason);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !h.model->detectingDuplicates(); }, 30000) && h.settled());
        QWidget* expected = userMoves ? h.page->searchField()
                            : groups ? h.page->duplicates()->groupViews().front()->picker()
                                     : static_cast<QWidget*>(h.page->scanNotes()->toggle());
        EXPECT_EQ(QApplication::focusWidget(), expected);
    }
}

// Tab goes through the groups in their order, copies listed later included, then to the scan
// notes and the selection bar; no scroll area stops it without showing a focus.
TEST_F(DuplicateGroupViewTest, TabGoesThroughTheGroupsInTheirOrderAndOnToTheSelectionBar)
{
    FilesPageHarness h(QSize(1000, 700), FilesPageHarness::Host::mainWindow);
    writeDuplicateFolder(h.home.path("Copies"), 3, 25);
    ASSERT_NO_FATAL_FAILURE(scanAndDetect(h, h.home.path("Copies")));
    const std::vector<DuplicateGroupView*> views = h.page->duplicates()->groupViews();
    ASSERT_EQ(views.size(), 3u);
    h.model->setSelection({views[2]->group().files[3].path});
    click(views[0]->loadMoreButton());
    std::vector<std::string> places{"group 0"};  // where the stops lie, each once in a row
    int firstGroup = 1;
    for (QWidget* stop : tabRound(views[0]->picker())) {
        std::string place = stop == h.page->scanNotes()->toggle() ? "notes"
                            : stop == h.page->clearSelectionButton() ? "deselect"
                            : stop == static_cast<QWidget*>(h.page->reviewButton()) ? "review"
                            : qobject_cast<QScrollArea*>(stop) ? "scroll area" : "other";
        for (size_t i = 0; i < views.size(); ++i)
            if (views[i]->isAncestorOf(stop)) place = "group " + std::to_string(i);
        firstGroup += place == "group 0";
        if (place != places.back()) places.push_back(place);
    }
    EXPECT_EQ(firstGroup, 2 + 25 * 3 + 24) << "picker, Select Shown Copies, each row's box, eye and folder, 24 keep buttons";
    EXPECT_EQ(places, (std::vector<std::string>{"group 0", "group 1", "group 2", "notes", "deselect", "review", "other"}));
}
