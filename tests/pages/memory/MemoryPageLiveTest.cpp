#include "../../shell/MainWindowTestSupport.h"
#include "BundleFixture.h"
#include "ChildProcess.h"

#include "pages/memory/MemoryPage.h"
#include "pages/memory/MemoryReleaseResultView.h"
#include "pages/memory/MemoryTrendChart.h"
#include "pages/memory/NativeMemoryCheckbox.h"
#include "pages/PageCatalog.h"
#include "shell/controls/ActionConfirmation.h"
#include "shell/app/AppSettings.h"
#include "shell/window/MainView.h"
#include "shell/window/MainWindow.h"
#include "shell/controls/NativeActionButton.h"
#include "shell/window/PageDestinations.h"
#include "shell/style/Palette.h"

#include <QDir>
#include <QLegend>
#include <QLineSeries>
#include <sys/wait.h>

// The memory page in the program's own window over this machine's memory and processes, with
// application bundles started for it. With TESSYN_GALLERY_DIR set, the page, the release
// review and the quit confirmation are written there in both languages and appearances.
class MemoryPageLiveTest : public ShellTest {};

namespace {
// Asks `widget` to paint and waits until it has: a picture taken next shows what it shows now.
bool paintedOnce(QWidget* widget)
{
    struct PaintSeen : QObject {
        bool seen = false;
        bool eventFilter(QObject*, QEvent* event) override
        {
            seen = seen || event->type() == QEvent::Paint;
            return false;
        }
    } filter;
    widget->installEventFilter(&filter);
    widget->update();
    bool painted = QTest::qWaitFor([&] { return filter.seen; }, 5000);
    widget->removeEventFilter(&filter);
    return painted;
}
} // namespace

TEST_F(MemoryPageLiveTest, LiveDataInBothLanguagesAndAppearances)
{
    QString outDir = QString::fromLocal8Bit(qgetenv("TESSYN_GALLERY_DIR"));
    TempHome home;
    auto folder = [&](const char* name) { return makeDirs(home.path(name)), home.path(name); };
    std::string markers = folder("markers");
    std::vector<std::string> names{"Notes", "文稿编辑器", "Very Long Application Name For A Narrow Row Pro Edition"};
    std::vector<std::unique_ptr<ChildProcess>> children;
    for (const std::string& name : names) {
        std::string bundle = makeAppBundle(home.path("Apps"), name, "test.tessyn.live" + std::to_string(children.size()),
                                           fixturePath("demo_app"));
        children.push_back(std::make_unique<ChildProcess>(bundle + "/Contents/MacOS/Run", std::vector<std::string>{"quits", markers}));
        ASSERT_TRUE(waitForFile(markers + "/ready-" + std::to_string(children.back()->pid()), 10));
    }

    installPageFactory(tessynPages());
    AppModel::Collaborators system;  // the machine's own readings and applications
    system.documentsFolder = [&] { return std::optional<std::string>(folder("Documents")); };
    auto tessyn = std::make_unique<TessynApp>(std::make_unique<AppModel>(
        home.dataHome() + "/Tessyn/operations.json", std::vector<std::string>{home.path("Applications")}, home.root(),
        std::move(system)));
    AppModel& model = tessyn->model();
    MainWindow* window = tessyn->openMainWindow();
    ASSERT_TRUE(activate(window));
    window->view()->setPage(Pages::memory);
    ASSERT_TRUE(waitReady(window->view(), Pages::memory));
    auto listed = [&](pid_t pid) {
        const auto& all = model.applications();
        return std::any_of(all.begin(), all.end(), [&](const ApplicationMemory& a) { return a.id == pid; });
    };
    // A few samples from the window's own timer, with every started application listed.
    ASSERT_TRUE(QTest::qWaitFor([&] {
        return model.memorySamples().size() >= 4 &&
               std::all_of(children.begin(), children.end(), [&](const auto& c) { return listed(c->pid()); });
    }, 30000));
    auto page = [&] { return window->view()->findChild<MemoryPage*>(); };

    // One release of a started bundle through the review; its result stays on the page.
    page()->releaseButton()->click();
    MemoryReleaseReview* review = page()->releaseReview();
    ASSERT_TRUE(review);
    const auto& offered = review->candidates();
    auto notes = std::find_if(offered.begin(), offered.end(), [&](const auto& a) { return a.id == children[0]->pid(); });
    ASSERT_NE(notes, offered.end());
    review->checkbox(*notes)->click();
    review->confirmButton()->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return page()->releaseResult() != nullptr; }, 15000));
    EXPECT_EQ(page()->releaseResult()->lines().value(1), QStringLiteral("Quit: Notes"));
    int status = children[0]->wait(5);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    for (QString appearance : {"light", "dark"}) {
        for (QString language : {"zh-Hans", "en"}) {
            setSetting(AppSettings::appearanceKey, appearance);
            setSetting(AppSettings::languageKey, language);
            ASSERT_TRUE(waitReady(window->view(), Pages::memory));
            MemoryPage* shown = page();
            std::string where = (appearance + "/" + language).toStdString();
            EXPECT_EQ(size_t(shown->trendChart()->compressedSeries()->count()), model.memorySamples().size()) << where;
            EXPECT_TRUE(shown->trendCard()->isVisible()) << where;
            EXPECT_EQ(shown->trendChart()->chart()->legend()->labelColor(), Palette::ink()) << where;
            EXPECT_EQ(shown->monitorButton()->text(),
                      language == "en" ? QStringLiteral("Open System Monitor") : QStringLiteral("打开系统监视器"));
            EXPECT_TRUE(shown->releaseResult()) << where;
            if (outDir.isEmpty()) continue;

            QDir().mkpath(outDir);
            QString base = outDir + "/memory-" + appearance + "-" + language;
            ASSERT_TRUE(paintedOnce(shown->trendChart()->viewport()));  // for the picture only
            window->grab().save(base + "-window.png");
            shown->widget()->grab().save(base + "-page.png");
            shown->releaseButton()->click();
            MemoryReleaseReview* sheet = shown->releaseReview();
            sheet->checkbox(sheet->candidates().front())->click();
            sheet->grab().save(base + "-review.png");
            sheet->reject();
            const auto& rows = model.applications();
            shown->confirmQuit(*std::find_if(rows.begin(), rows.end(), [&](const auto& a) { return a.name == names[1]; }));
            shown->quitConfirmation()->grab().save(base + "-quit.png");
            ActionConfirmation::cancelButton(shown->quitConfirmation())->click();
        }
    }
    tessyn.reset();
    installPageFactory({});
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}
