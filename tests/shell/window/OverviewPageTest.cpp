#include "../MainWindowTestSupport.h"

#include "engine/ByteFormat.h"
#include "services/MemoryAdvice.h"
#include "shell/app/AppSettings.h"
#include "shell/window/CachedPageHost.h"
#include "shell/LocalizedText.h"
#include "shell/window/MainView.h"
#include "shell/window/MainWindow.h"
#include "shell/window/OverviewPage.h"
#include "shell/style/Palette.h"
#include "shell/controls/StyledLabel.h"

#include <QLabel>
#include <QPushButton>

namespace {

class OverviewPageTest : public ShellTest {};

QStringList shownTexts(QWidget* root)
{
    QStringList texts;
    for (QLabel* label : root->findChildren<QLabel*>())
        if (label->isVisibleTo(root) && !label->text().isEmpty()) texts << label->text();
    return texts;
}

QPushButton* buttonTitled(QWidget* root, const QString& text)
{
    for (QPushButton* button : root->findChildren<QPushButton*>())
        if (button->text() == text) return button;
    return nullptr;
}

OverviewPage* overviewOf(MainWindow* window)
{
    return qobject_cast<OverviewPage*>(window->view()->pageHost()->page("概览"));
}

std::shared_ptr<const ScanReport> reportOf(int64_t inspected, int64_t skipped, bool cancelled)
{
    auto report = std::make_shared<ScanReport>();
    report->inspected = inspected;
    report->skipped = skipped;
    report->cancelled = cancelled;
    return report;
}

} // namespace

TEST_F(OverviewPageTest, EmptyStateShowsWaitingAdviceAndUnavailableValues)
{
    ShellHarness shell;  // memory reads nothing
    MainWindow* window = shell.openWindow();
    OverviewPage* overview = overviewOf(window);
    ASSERT_NE(overview, nullptr);
    ASSERT_TRUE(shell.model().memorySamples().empty());
    ASSERT_FALSE(shell.model().memory());

    MemoryAdvice waiting = MemoryAdvice::evaluate({}, 0);
    QStringList texts = shownTexts(overview);
    EXPECT_TRUE(texts.contains(L(QString::fromStdString(waiting.title), AppLanguage::english))) << texts.join(" | ").toStdString();
    EXPECT_TRUE(texts.contains("Physical memory: unavailable"));
    EXPECT_TRUE(texts.contains("Not scanned yet. Choose a folder to begin; no file is selected by default."));
    EXPECT_EQ(overview->shortcutButton("大文件")->isVisibleTo(overview), false) << "no shortcuts without a report";

    setSetting(AppSettings::languageKey, "zh-Hans");
    texts = shownTexts(overview);
    EXPECT_TRUE(texts.contains("物理内存：暂不可获取"));
    EXPECT_TRUE(texts.contains(QString::fromStdString(waiting.title)));
    EXPECT_TRUE(texts.contains("文件扫描和处理在本机完成；首版不会自动清理或关闭应用。"));
    if (!shell.model().availableSpace()) {
        EXPECT_TRUE(texts.contains("暂不可获取"));
    }

    // "整理文件" switches to the file page and leaves the filter alone.
    shell.model().setFilter("最近修改");
    QPushButton* organise = buttonTitled(overview, "整理文件");
    ASSERT_NE(organise, nullptr);
    organise->click();
    EXPECT_EQ(window->view()->page(), "文件");
    EXPECT_EQ(shell.model().filter(), "最近修改");
    setSetting(AppSettings::languageKey, "en");
}

TEST_F(OverviewPageTest, ShowsMemoryFreeSpaceAndTheLastScan)
{
    ShellHarness shell;
    MemorySnapshot snapshot;
    snapshot.total = 16'000'000'000;
    shell.memory = snapshot;
    MainWindow* window = shell.openWindow();
    OverviewPage* overview = overviewOf(window);
    ASSERT_NE(overview, nullptr);
    QStringList texts = shownTexts(overview);
    EXPECT_TRUE(texts.contains("Physical memory: " + QString::fromStdString(formatFileSize(16'000'000'000))))
        << texts.join(" | ").toStdString();

    std::string folder = shell.folder("Downloads");
    writeFile(folder + "/one.bin", "1");
    writeFile(folder + "/two.bin", "22");
    shell.chosenFolder = folder;
    shell.model().choose();
    ASSERT_TRUE(QTest::qWaitFor([&] { return shell.model().availableSpace().has_value(); }, 5000));
    texts = shownTexts(overview);
    EXPECT_TRUE(texts.contains(QString::fromStdString(formatFileSize(*shell.model().availableSpace()))));
    EXPECT_TRUE(texts.contains(QString::fromStdString(folder))) << "the chosen folder is shown unchanged";

    shell.model().scan();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !shell.model().scanning() && shell.model().report(); }, 10000));
    texts = shownTexts(overview);
    EXPECT_TRUE(texts.contains("Files checked: 2, items skipped: 0")) << texts.join(" | ").toStdString();
    EXPECT_TRUE(texts.contains("Scan complete; only the chosen folder is covered"));
    EXPECT_FALSE(texts.contains("Not scanned yet. Choose a folder to begin; no file is selected by default."));
    EXPECT_TRUE(overview->shortcutButton("大文件")->isVisibleTo(overview));

    shell.model().setReport(reportOf(1234, 5, true));
    setSetting(AppSettings::languageKey, "zh-Hans");
    texts = shownTexts(overview);
    EXPECT_TRUE(texts.contains("已检查 1234 个文件，跳过 5 项")) << texts.join(" | ").toStdString();
    EXPECT_TRUE(texts.contains("扫描已取消，结果不完整"));
    EXPECT_EQ(overview->shortcutButton("重复文件")->text(), "查看重复文件");
    setSetting(AppSettings::languageKey, "en");
    EXPECT_EQ(overview->shortcutButton("重复文件")->text(), "Duplicate Files");
}

TEST_F(OverviewPageTest, ShortcutsSetTheFilterAndOpenTheFilePage)
{
    ShellHarness shell;
    MainWindow* window = shell.openWindow();
    MainView* view = window->view();
    OverviewPage* overview = overviewOf(window);
    ASSERT_NE(overview, nullptr);
    std::string folder = shell.folder("Stuff");
    writeFile(folder + "/a.txt", "a");
    shell.chosenFolder = folder;
    shell.model().choose();
    shell.model().scan();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !shell.model().scanning() && shell.model().report(); }, 10000));

    const std::pair<const char*, const char*> shortcuts[] = {
        {"大文件", "Large Files"}, {"旧下载候选", "Old Downloads"}, {"重复文件", "Duplicate Files"}};
    for (const auto& [filter, title] : shortcuts) {
        view->setPage("概览");
        ASSERT_TRUE(waitReady(view, "概览"));
        shell.model().setFilter("全部文件");
        ASSERT_TRUE(QTest::qWaitFor([&] { return !shell.model().filtering() && shell.model().queryResults().files.size() == 1; }));
        QPushButton* button = overview->shortcutButton(filter);
        ASSERT_NE(button, nullptr) << filter;
        EXPECT_EQ(button->text(), title);
        button->click();
        EXPECT_EQ(shell.model().filter(), filter) << "no duplicate search is needed for the filter to be set";
        EXPECT_EQ(view->page(), "文件");
        // The one small, new, unique file falls under none of the three categories.
        EXPECT_TRUE(QTest::qWaitFor([&] { return !shell.model().filtering() && shell.model().queryResults().files.empty(); }))
            << "the results follow the new filter";
        ASSERT_TRUE(waitReady(view, "文件"));
    }

    view->setPage("概览");
    ASSERT_TRUE(waitReady(view, "概览"));
    QPushButton* memory = buttonTitled(overview, "View Memory");
    ASSERT_NE(memory, nullptr);
    memory->click();
    EXPECT_EQ(view->page(), "内存");
}

TEST_F(OverviewPageTest, MutedTextFollowsTheAppearance)
{
    ShellHarness shell;
    MainWindow* window = shell.openWindow();
    OverviewPage* overview = overviewOf(window);
    ASSERT_NE(overview, nullptr);
    QList<StyledLabel*> muted;
    for (StyledLabel* label : window->findChildren<StyledLabel*>())
        if (label->tone() == StyledLabel::Tone::muted) muted << label;
    ASSERT_FALSE(muted.isEmpty());
    for (const char* appearance : {"dark", "light", "dark"}) {
        setSetting(AppSettings::appearanceKey, appearance);
        QCoreApplication::processEvents();  // the palette reaches child widgets on the next turn
        for (StyledLabel* label : muted)
            EXPECT_EQ(label->palette().color(QPalette::WindowText), Palette::muted()) << appearance;
        EXPECT_EQ(Palette::isDark(), std::string(appearance) == "dark");
    }
    setSetting(AppSettings::appearanceKey, "system");
}

TEST_F(OverviewPageTest, AnOddFolderNameShowsOnOneLine)
{
    ShellHarness shell;
    OverviewPage* overview = overviewOf(shell.openWindow());
    ASSERT_NE(overview, nullptr);
    for (size_t i = 0; i < oddPieces().size(); ++i) {
        SCOPED_TRACE(oddPieces()[i].what);
        shell.chosenFolder = shell.folder("odd_" + oddPieces()[i].bytes + std::to_string(i));
        shell.model().choose();
        ASSERT_TRUE(QTest::qWaitFor([&] { return shell.model().root() == shell.chosenFolder; }, 5000));
        expectOneLine(shownTexts(overview), QStringLiteral("odd_"), 1);
    }
}
