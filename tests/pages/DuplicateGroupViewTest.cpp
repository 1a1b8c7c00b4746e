#include "FilesPageHarness.h"

#include "pages/DisclosureGroup.h"
#include "pages/DuplicateGroupView.h"
#include "pages/DuplicatesSection.h"
#include "pages/MiddleElidedLabel.h"
#include "shell/ContentUnavailableView.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <cstdio>

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
        DuplicateGroup group = groupOf("g" + std::to_string(i), 2);
        group.id = std::to_string(i) + std::string(60, 'f');
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
