#include "../shell/MainWindowTestSupport.h"
#include "BundleFixture.h"
#include "ChildProcess.h"

#include "pages/MemoryApplicationList.h"
#include "pages/MemoryPage.h"
#include "pages/MemoryReleaseResultView.h"
#include "pages/MemoryTrendChart.h"
#include "pages/NativeMemoryCheckbox.h"
#include "pages/PageCatalog.h"
#include "shell/ActionConfirmation.h"
#include "shell/AppSettings.h"
#include "shell/MainView.h"
#include "shell/MainWindow.h"
#include "shell/NativeActionButton.h"
#include "shell/PageDestinations.h"
#include "shell/Palette.h"

#include <QDir>
#include <QLegend>
#include <QLineSeries>

#include <sys/wait.h>

// The memory page inside the program's own window over this machine's memory and processes,
// with application bundles (and, on an X display, windows) started for it. With
// TESSYN_GALLERY_DIR set, the page, the release review and the quit confirmation are written
// there in both languages and appearances for a person to look at.
class MemoryPageLiveTest : public ShellTest {};

TEST_F(MemoryPageLiveTest, LiveDataInBothLanguagesAndAppearances)
{
    QString outDir = QString::fromLocal8Bit(qgetenv("TESSYN_GALLERY_DIR"));
    if (!outDir.isEmpty()) QDir().mkpath(outDir);

    TempHome home;
    std::string markers = home.path("markers");
    makeDirs(markers);
    makeDirs(home.path("Documents"));
    std::vector<std::unique_ptr<ChildProcess>> children;
    std::vector<std::string> names{"Notes", "文稿编辑器", "Very Long Application Name For A Narrow Row Pro Edition"};
    for (const std::string& name : names) {
        std::string bundle = makeAppBundle(home.path("Apps"), name, "test.tessyn." + std::to_string(children.size()),
                                           fixturePath("demo_app"));
        children.push_back(std::make_unique<ChildProcess>(bundle + "/Contents/MacOS/Run", std::vector<std::string>{"quits", markers}));
    }
    bool display = std::getenv("DISPLAY") != nullptr;
    if (display)
        for (const char* windowClass : {"TextEditor", "ImageViewer"})
            children.push_back(std::make_unique<ChildProcess>(fixturePath("x11_window"), std::vector<std::string>{markers, windowClass}));
    for (const auto& child : children)
        ASSERT_TRUE(waitForFile(markers + "/ready-" + std::to_string(child->pid()), 10));
    pid_t notes = children[0]->pid();

    // The system's own memory readings and running applications.
    AppModel::Collaborators services;
    services.documentsFolder = [&] { return std::optional<std::string>(home.path("Documents")); };
    installPageFactory(tessynPages());
    auto tessyn = std::make_unique<TessynApp>(std::make_unique<AppModel>(
        home.dataHome() + "/Tessyn/operations.json", std::vector<std::string>{home.path("Applications")}, home.root(),
        std::move(services)));
    tessyn->setExit([] {});
    AppModel& model = tessyn->model();
    MainWindow* window = tessyn->openMainWindow();
    ASSERT_TRUE(activate(window));
    window->view()->setPage(Pages::memory);
    ASSERT_TRUE(waitReady(window->view(), Pages::memory));

    auto listed = [&](pid_t pid) {
        const auto& all = model.applications();
        return std::any_of(all.begin(), all.end(), [&](const ApplicationMemory& a) { return a.id == pid; });
    };
    // A few samples taken by the window's own timer, and every started application listed.
    ASSERT_TRUE(QTest::qWaitFor([&] {
        return model.memorySamples().size() >= 4 &&
               std::all_of(children.begin(), children.end(), [&](const auto& c) { return listed(c->pid()); });
    }, 30000));
    auto memoryPage = [&] { return window->view()->findChild<MemoryPage*>(); };

    // One release through the review, so the result shows below.
    {
        MemoryPage* page = memoryPage();
        ASSERT_TRUE(page);
        ASSERT_TRUE(page->releaseButton()->isEnabled());
        page->releaseButton()->click();
        MemoryReleaseReview* review = page->releaseReview();
        ASSERT_TRUE(review);
        const auto& offered = review->candidates();
        auto chosen = std::find_if(offered.begin(), offered.end(), [&](const auto& a) { return a.id == notes; });
        ASSERT_NE(chosen, offered.end()) << "the started bundle is a candidate";
        review->checkbox(*chosen)->click();
        review->confirmButton()->click();
        ASSERT_TRUE(QTest::qWaitFor([&] { return page->releaseResult() != nullptr; }, 15000));
        EXPECT_EQ(page->releaseResult()->lines().value(1), QStringLiteral("Quit: Notes"));
        int status = children[0]->wait(5);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }

    for (const char* appearance : {"light", "dark"}) {
        for (const char* language : {"zh-Hans", "en"}) {
            setSetting(AppSettings::appearanceKey, QString::fromLatin1(appearance));
            setSetting(AppSettings::languageKey, QString::fromLatin1(language));
            ASSERT_TRUE(waitReady(window->view(), Pages::memory));
            MemoryPage* page = memoryPage();
            ASSERT_TRUE(page);
            std::string where = std::string(appearance) + "/" + language;
            bool english = std::string(language) == "en";

            EXPECT_TRUE(page->trendCard()->isVisible()) << where;
            EXPECT_EQ(size_t(page->trendChart()->compressedSeries()->count()), model.memorySamples().size()) << where;
            EXPECT_EQ(page->trendChart()->chart()->legend()->labelColor(), Palette::ink()) << where;
            EXPECT_EQ(page->monitorButton()->text(), english ? QStringLiteral("Open System Monitor")
                                                             : QStringLiteral("打开系统监视器"))
                << where;
            ASSERT_TRUE(page->releaseResult()) << where << ": the result stays until the next release";

            if (outDir.isEmpty()) continue;
            QString base = outDir + QStringLiteral("/memory-") + QString::fromLatin1(appearance) + QLatin1Char('-') +
                           QString::fromLatin1(language);
            QTest::qWait(100);  // let the progress and chart animations settle for the picture
            window->grab().save(base + QStringLiteral("-window.png"));
            page->widget()->grab().save(base + QStringLiteral("-page.png"));

            page->releaseButton()->click();
            if (MemoryReleaseReview* review = page->releaseReview()) {
                if (!review->candidates().empty()) review->checkbox(review->candidates().front())->click();
                QTest::qWait(50);
                review->grab().save(base + QStringLiteral("-review.png"));
                review->reject();
            }
            const auto& rows = page->applicationList()->applications();
            auto row = std::find_if(rows.begin(), rows.end(), [&](const auto& a) { return a.name == names[1]; });
            if (row == rows.end()) continue;
            page->confirmQuit(*row);
            if (QDialog* dialog = page->quitConfirmation()) {
                QTest::qWait(50);
                dialog->grab().save(base + QStringLiteral("-quit.png"));
                ActionConfirmation::cancelButton(dialog)->click();
            }
        }
    }
    tessyn.reset();
    installPageFactory({});
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}
