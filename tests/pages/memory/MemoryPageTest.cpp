#include "../../shell/MainWindowTestSupport.h"
#include "../../shell/ShellTestSupport.h"
#include "BundleFixture.h"
#include "ChildProcess.h"
#include "FakeApplications.h"
#include "TestSupport.h"

#include "engine/Dates.h"
#include "model/AppModel.h"
#include "pages/memory/MemoryApplicationList.h"
#include "pages/memory/MemoryPage.h"
#include "pages/memory/MemoryReleaseResultView.h"
#include "pages/memory/MemoryReleaseReview.h"
#include "pages/memory/MemoryTrendChart.h"
#include "pages/memory/NativeMemoryCheckbox.h"
#include "platform/LinuxRunningApplications.h"
#include "services/ProcessMemoryReader.h"
#include "shell/controls/ActionConfirmation.h"
#include "shell/app/AppSettings.h"
#include "shell/controls/ContentUnavailableView.h"
#include "shell/DesktopServices.h"
#include "shell/controls/NativeActionButton.h"
#include "shell/controls/SectionCard.h"
#include "shell/style/Palette.h"
#include "shell/window/CarriedPage.h"

#include <QLabel>
#include <QLegend>
#include <QLineSeries>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QValueAxis>
#include <QVBoxLayout>

#include <atomic>
#include <sys/wait.h>
#include <unistd.h>
#include "QtWaits.h"

namespace {

// The system's own running applications, counting the quit requests that reach them.
class CountingApplications : public LinuxRunningApplications {
public:
    bool requestQuit(const RunningApplication& app) override
    {
        ++requests;
        return LinuxRunningApplications::requestQuit(app);
    }
    std::atomic<int> requests{0};
};

ApplicationMemory row(int32_t id, const std::string& name, int64_t footprint, const std::string& bundle = {})
{
    return {id, name, footprint, footprint, 1, 0, bundle.empty() ? "/Apps/" + name + ".app" : bundle};
}

MemorySnapshot snapshot(double date, uint64_t compressed, std::optional<uint64_t> swap)
{
    return {16ull << 30, 6ull << 30, 2ull << 30, compressed, 3ull << 30, date, swap, 0, SystemPressure::normal};
}

// A memory page on a shown window over a model whose samples and application readings the
// test supplies.
class MemoryPageTest : public ShellTest {
protected:
    TempHome home;
    std::shared_ptr<FakeApplications> apps = [] {
        auto fake = std::make_shared<FakeApplications>();
        fake->quitTerminates(true);
        return fake;
    }();
    std::mutex readingMutex;
    std::vector<ApplicationMemory> reading;  // what the next application reading returns
    std::vector<MemorySnapshot> queued;      // what the next samples read, front first
    bool steadySamples = true;               // with nothing queued: a fresh normal sample, else none
    std::unique_ptr<AppModel> model;
    std::unique_ptr<QWidget> window;
    MemoryPage* page = nullptr;

    void TearDown() override
    {
        window.reset();
        model.reset();
        DesktopServices::setLauncher({});
    }

    AppModel::Collaborators scripted()
    {
        AppModel::Collaborators services;
        services.runningApplications = apps;
        services.readMemory = [this]() -> std::optional<MemorySnapshot> {
            if (queued.empty()) return steadySamples ? std::optional(snapshot(dateNow(), 1ull << 30, 0)) : std::nullopt;
            MemorySnapshot next = queued.front();
            queued.erase(queued.begin());
            return next;
        };
        services.readApplicationMemory = [this](const std::vector<ApplicationIdentity>&) {
            std::lock_guard lock(readingMutex);
            return reading;
        };
        services.documentsFolder = [this] { return std::optional<std::string>(home.path("Documents")); };
        return services;
    }

    void open(AppModel::Collaborators services)
    {
        model = std::make_unique<AppModel>(std::nullopt, std::vector<std::string>{home.path("Applications")}, std::nullopt,
                                           std::move(services));
        window = std::make_unique<QWidget>();
        auto* layout = new QVBoxLayout(window.get());
        page = new MemoryPage(*model);
        layout->addWidget(page);
        window->resize(900, 1400);
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }

    // Publishes a new application reading (each one running) through samples, as the timer would.
    void publish(std::vector<ApplicationMemory> applications)
    {
        std::vector<RunningApplication> listed;
        for (const ApplicationMemory& a : applications) listed.push_back({a.id, a.name, std::nullopt, a.bundlePath, true, std::nullopt, nullptr});
        apps->set(std::move(listed));
        {
            std::lock_guard lock(readingMutex);
            reading = applications;
        }
        // A reading still under way takes no new request: sample until the new one is published.
        ASSERT_TRUE(QTest::qWaitFor([&] {
            if (model->applications() == applications) return true;
            model->sampleMemory();
            return false;
        }, 10000));
    }

    int rowOf(int32_t pid) const
    {
        const auto& shown = page->applicationList()->applications();
        for (size_t i = 0; i < shown.size(); ++i)
            if (shown[i].id == pid) return int(i);
        return -1;
    }

    // Presses the row's "请求退出" and answers the confirmation.
    void askToQuit(int32_t pid, bool confirm)
    {
        int index = rowOf(pid);
        ASSERT_GE(index, 0) << "row of " << pid;
        // Other running applications may list first and push the row out of the short list.
        MemoryApplicationList* list = page->applicationList();
        list->scrollTo(list->model()->index(index, 0));
        QRect button = list->quitButtonRect(index);
        ASSERT_TRUE(list->viewport()->rect().contains(button)) << "row " << index << " in sight";
        QTest::mouseClick(page->applicationList()->viewport(), Qt::LeftButton, {}, button.center());
        ASSERT_TRUE(QTest::qWaitFor([&] { return page->quitConfirmation() != nullptr; }, 5000));
        QPointer<QDialog> dialog = page->quitConfirmation();
        ASSERT_TRUE(page->quitTarget().has_value());
        QPushButton* answer = confirm ? ActionConfirmation::actionButton(dialog) : ActionConfirmation::cancelButton(dialog);
        answer->click();
        ASSERT_TRUE(QTest::qWaitFor([&] { return dialog.isNull() || !dialog->isVisible(); }, 5000));
        EXPECT_FALSE(page->quitTarget().has_value());
    }
};

} // namespace

TEST_F(MemoryPageTest, ResultViewLinesForEachOutcome)
{
    auto before = snapshot(1, 0, 0);
    before.free = 1'500'000'000;
    auto after = before;
    after.free = 2'250'000'000;
    ApplicationMemory a = row(1, "Alpha", 10), b = row(2, "Beta", 10), c = row(3, "Gamma", 10), d = row(4, "Delta", 10);
    struct Case {
        const char* what;
        const char* language;
        MemoryReleaseOutcome outcome;
        QStringList lines;
    } cases[] = {
        {"all quit", "zh-Hans", {{a, b}, {}, {}, before, after},
         {"内存释放结果", "已退出：Alpha、Beta", "空闲页面（前 → 后）：1.5 GB → 2.25 GB",
          "这是系统采样变化，包含其他应用活动，不等于本次操作释放量。"}},
        {"nothing quit, one waiting, one refused, no sample after", "zh-Hans", {{}, {c}, {d}, before, std::nullopt},
         {"内存释放结果", "已退出：", "仍在运行，请检查保存提示：Gamma", "未接受请求或身份已变化：Delta",
          "无法读取前后内存变化；未推算释放量。"}},
        {"no sample before", "zh-Hans", {{a}, {}, {}, std::nullopt, after},
         {"内存释放结果", "已退出：Alpha", "无法读取前后内存变化；未推算释放量。"}},
        {"English", "en", {{a, b}, {c}, {}, before, after},
         {"Memory release result", "Quit: Alpha、Beta", "Still running, check their save prompts: Gamma",
          "Free pages (before → after): 1.5 GB → 2.25 GB",
          "This is the change between system samples; it includes other applications' activity and is not the amount this action freed."}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        setSetting(AppSettings::languageKey, QString::fromLatin1(c.language));
        MemoryReleaseResultView view(c.outcome);
        EXPECT_EQ(view.lines(), c.lines);
    }
}

TEST_F(MemoryPageTest, CountersAndTrendFollowTheSamples)
{
    steadySamples = false;
    struct Case {
        const char* what;
        int samples;
        int withoutSwap;  // the first ones have no swap reading
        bool trend;
    } cases[] = {
        {"no sample", 0, 0, false},
        {"one sample", 1, 0, false},
        {"two samples", 2, 0, true},
        {"two samples without swap", 2, 2, true},
        {"a full window", 120, 0, true},
        {"a full window, some without swap", 120, 45, true},
    };
    double date = dateNow() - 400;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        model = nullptr;
        window = nullptr;
        open(scripted());
        for (int i = 0; i < c.samples; ++i) {
            // Swap-less samples come last, so the newest lacks swap whenever any does.
            bool swapless = i >= c.samples - c.withoutSwap;
            queued.push_back(snapshot(date + 3 * i, uint64_t(i + 1) << 28, swapless ? std::nullopt : std::optional<uint64_t>(1ull << 30)));
            model->sampleMemory();
        }
        ASSERT_EQ(int(model->memorySamples().size()), c.samples);
        EXPECT_EQ(page->trendCard()->isVisible(), c.trend);
        MemoryTrendChart* chart = page->trendChart();
        EXPECT_EQ(chart->compressedSeries()->count(), c.samples);
        EXPECT_EQ(chart->swapSeries()->count(), c.samples - c.withoutSwap);
        if (c.samples > 0) {
            EXPECT_DOUBLE_EQ(chart->compressedSeries()->at(c.samples - 1).y(), c.samples / 4.0) << "GiB";
            EXPECT_GE(chart->valueAxis()->max(), c.samples / 4.0) << "the range covers the data";
        }
        // No reading at all: the placeholder instead of the counters.
        EXPECT_EQ(page->countersCard()->isVisible(), c.samples > 0);
        EXPECT_EQ(page->memoryUnavailable()->isVisible(), c.samples == 0);
        QStringList shown;
        for (QLabel* label : page->countersCard()->findChildren<QLabel*>())
            if (label->isVisibleTo(page)) shown << label->text();
        EXPECT_EQ(shown.contains(QStringLiteral("Swap (disk)")), c.samples > 0 && c.withoutSwap == 0);
    }
    MemoryTrendChart* chart = page->trendChart();
    EXPECT_EQ(chart->height(), 130);
    EXPECT_EQ(chart->valueAxis()->titleText(), QStringLiteral("GiB"));
    EXPECT_EQ(chart->compressedSeries()->name(), QStringLiteral("Compressed"));
    EXPECT_EQ(chart->swapSeries()->name(), QStringLiteral("Swap (disk)"));
}

TEST_F(MemoryPageTest, AdviceSymbolAndApplicationRows)
{
    setSetting(AppSettings::languageKey, QStringLiteral("zh-Hans"));
    steadySamples = false;
    open(scripted());
    struct Advice {
        std::optional<SystemPressure> pressure;  // none: no sample at all
        const char* title;
        const char* symbol;
    } advice[] = {
        {std::nullopt, "等待采样", "questionmark.circle"},
        {SystemPressure::normal, "系统内存压力正常", "checkmark.circle"},
        {SystemPressure::warning, "系统出现内存压力", "exclamationmark.circle"},
        {SystemPressure::critical, "系统内存压力较高", "exclamationmark.circle"},
        {SystemPressure::unknown, "暂无法判断系统内存压力", "questionmark.circle"},
    };
    for (const Advice& a : advice) {
        SCOPED_TRACE(a.title);
        if (a.pressure) {
            MemorySnapshot sample = snapshot(dateNow(), 0, 0);
            sample.pressure = *a.pressure;
            queued.push_back(sample);
            model->sampleMemory();
        }
        EXPECT_EQ(page->adviceCard()->titleLabel()->text(), QString::fromUtf8(a.title));
        EXPECT_EQ(page->adviceCard()->property("tessynSymbol").toString(), QString::fromUtf8(a.symbol));
    }
    steadySamples = true;

    ApplicationMemory self = row(getpid(), "Tessyn", 900);
    ApplicationMemory helperless = row(500, "Editor", 300);
    helperless.processCount = 3;
    helperless.unavailableCount = 2;
    ApplicationMemory unreadable = row(501, "Viewer", 0);
    publish({self, helperless, unreadable});

    MemoryApplicationList* list = page->applicationList();
    EXPECT_LE(list->height(), MemoryApplicationList::kMaximumHeight);
    EXPECT_TRUE(list->quitButtonRect(rowOf(getpid())).isEmpty()) << "no quit button on the program's own row";
    EXPECT_FALSE(list->quitButtonRect(rowOf(500)).isEmpty());
    QAbstractItemModel* rows = list->model();
    EXPECT_EQ(rows->data(rows->index(rowOf(500), 0), Qt::AccessibleDescriptionRole).toString(),
              QStringLiteral("3 个进程 · 2 个不可读取 · 300 bytes"));
    EXPECT_EQ(rows->data(rows->index(rowOf(501), 0), Qt::AccessibleDescriptionRole).toString(),
              QStringLiteral("1 个进程 · 不可获取"));

    // Many applications: the list stays 160 high and scrolls.
    std::vector<ApplicationMemory> many;
    for (int i = 0; i < 40; ++i) many.push_back(row(600 + i, "App " + std::to_string(i), 1000 - i));
    publish(many);
    EXPECT_EQ(list->height(), MemoryApplicationList::kMaximumHeight);
    EXPECT_TRUE(list->verticalScrollBar()->maximum() > 0);

    // The system monitor is started through the desktop services.
    QStringList started;
    DesktopServices::setLauncher({{}, {}, [&](const QString& program) { return started << program, true; },
                                  [](const QString& name) { return name == "xfce4-taskmanager" ? "/usr/bin/" + name : QString(); }});
    EXPECT_EQ(page->monitorButton()->text(), QStringLiteral("打开系统监视器"));
    page->monitorButton()->click();
    EXPECT_EQ(started, QStringList{"/usr/bin/xfce4-taskmanager"});
}

TEST_F(MemoryPageTest, ReleaseButtonFollowsCandidatesAndBusyState)
{
    open(scripted());
    ApplicationMemory self = row(getpid(), "Tessyn", 900);
    ApplicationMemory system = row(500, "Finder", 800, "/System/Library/Finder.app");
    ApplicationMemory usr = row(501, "Tool", 700, "/usr/lib/tool");
    ApplicationMemory empty = row(502, "Idle", 0);
    publish({self, system, usr, empty});
    EXPECT_FALSE(page->releaseButton()->isEnabled()) << "no candidate";

    ApplicationMemory small = row(503, "Small", 100), big = row(504, "Big", 500), tie = row(505, "Tie", 100);
    ApplicationMemory wide = row(506, std::string(40, 'W') + " Suite Professional Edition 2031", 50);
    publish({self, small, big, tie, usr, wide});
    ASSERT_TRUE(page->releaseButton()->isEnabled());
    page->releaseButton()->click();
    MemoryReleaseReview* review = page->releaseReview();
    ASSERT_TRUE(review);
    EXPECT_EQ(review->width(), 560);
    EXPECT_EQ(review->candidates(), (std::vector<ApplicationMemory>{big, small, tie, wide})) << "largest first, ties in order";
    // A name too long for the row gives way; the footprint beside it keeps its width.
    ASSERT_TRUE(QTest::qWaitForWindowExposed(review));
    NativeMemoryCheckbox* narrowed = review->checkbox(wide);
    QLabel* footprint = nullptr;
    for (QLabel* label : narrowed->parentWidget()->findChildren<QLabel*>())
        if (label->text() == QStringLiteral("50 bytes")) footprint = label;
    ASSERT_TRUE(footprint);
    EXPECT_LT(narrowed->width(), narrowed->sizeHint().width());
    EXPECT_GE(footprint->width(), footprint->sizeHint().width());
    EXPECT_TRUE(narrowed->text().endsWith(QStringLiteral("…")));
    EXPECT_FALSE(review->confirmButton()->isEnabled()) << "nothing ticked";
    review->checkbox(tie)->click();
    review->checkbox(big)->click();
    EXPECT_EQ(review->chosen(), (std::vector<ApplicationMemory>{big, tie})) << "in the sheet's order";
    review->checkbox(big)->click();
    review->checkbox(tie)->click();
    EXPECT_FALSE(review->confirmButton()->isEnabled()) << "ticked and unticked";

    // A release under way disables the button, shows progress and drops the earlier result.
    review->checkbox(small)->click();
    QPointer<MemoryReleaseReview> closing = review;
    review->confirmButton()->click();
    EXPECT_TRUE(closing.isNull() || !closing->isVisible()) << "the sheet closes before the release";
    EXPECT_TRUE(model->memoryReleasing());
    EXPECT_FALSE(page->releaseButton()->isEnabled());
    EXPECT_TRUE(page->releaseProgress()->isVisible());
    EXPECT_EQ(page->releaseResult(), nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return page->releaseResult() != nullptr; }, 10000));
    EXPECT_FALSE(page->releaseProgress()->isVisible());
    EXPECT_EQ(apps->quitRequests(), std::vector<int32_t>{503});
    EXPECT_EQ(page->releaseResult()->lines().value(1), QStringLiteral("Quit: Small"));

    // A page dropped mid-release (as on a language change) leaves the release to the model.
    page->releaseButton()->click();
    page->releaseReview()->checkbox(big)->click();
    page->releaseReview()->confirmButton()->click();
    delete page;
    page = nullptr;
    ASSERT_TRUE(QTest::qWaitFor([&] { return !model->memoryReleasing(); }, 10000));
    EXPECT_EQ(apps->quitRequests(), (std::vector<int32_t>{503, 504}));

    // One dropped with its sheets open closes them without asking anything.
    open(scripted());
    publish({tie});
    page->releaseButton()->click();
    QPointer<MemoryReleaseReview> sheet = page->releaseReview();
    sheet->checkbox(tie)->click();
    page->confirmQuit(tie);
    QPointer<QDialog> asking = page->quitConfirmation();
    ASSERT_TRUE(sheet && sheet->isVisible() && asking && asking->isVisible());
    delete page;
    page = nullptr;
    EXPECT_TRUE((sheet.isNull() || !sheet->isVisible()) && (asking.isNull() || !asking->isVisible()));
    EXPECT_EQ(apps->quitRequests(), (std::vector<int32_t>{503, 504}));
}

// The quit alert's action has the default role: Escape cancels, Return asks the application.
// The review opens with the focus on a control that shows it; Tab passes its list by for the
// rows' boxes.
TEST_F(MemoryPageTest, TheReleaseReviewStopsOnlyWhereTheFocusShows)
{
    open(scripted());
    ApplicationMemory small = row(503, "Small", 100), big = row(504, "Big", 500);
    publish({small, big});
    page->releaseButton()->click();
    MemoryReleaseReview* review = page->releaseReview();
    ASSERT_TRUE(review && QTest::qWaitForWindowExposed(review));
    QWidget* focus = QApplication::focusWidget();
    ASSERT_TRUE(focus && review->isAncestorOf(focus));
    EXPECT_EQ(qobject_cast<QAbstractScrollArea*>(focus), nullptr) << "opens on " << focus->metaObject()->className();
    std::vector<QWidget*> stops = tabRound(focus, 20);
    EXPECT_EQ(std::count_if(stops.begin(), stops.end(), [](QWidget* stop) { return qobject_cast<QAbstractScrollArea*>(stop); }), 0);
    EXPECT_NE(std::find(stops.begin(), stops.end(), review->checkbox(big)), stops.end());
}

// Tab reaches the applications after the release button; the arrows pick a row and Space asks
// to quit its application, as the row's button would.
TEST_F(MemoryPageTest, TabReachesTheApplicationsAndSpaceAsksToQuitTheCurrentOne)
{
    open(scripted());
    ApplicationMemory alpha = row(620, "Alpha", 300), beta = row(621, "Beta", 200);
    publish({alpha, beta});
    MemoryApplicationList* list = page->applicationList();
    ASSERT_TRUE(focusByKeyboard(page->releaseButton()));
    for (int presses = 0; presses < 5 && QApplication::focusWidget() != list; ++presses)
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), list) << "Tab reaches the list";
    QTest::keyClick(list, Qt::Key_Down);
    QTest::keyClick(list, Qt::Key_Space);
    ASSERT_TRUE(QTest::qWaitFor([&] { return page->quitConfirmation() != nullptr; }, 5000));
    EXPECT_EQ(page->quitTarget(), std::optional(beta));
}

// An appearance change reaches the chart's texts, as it does the page's labels.
TEST_F(MemoryPageTest, ChartTextsFollowTheAppearance)
{
    open(scripted());
    MemoryTrendChart* chart = page->trendChart();
    for (const char* appearance : {"dark", "light"}) {
        SCOPED_TRACE(appearance);
        setSetting(AppSettings::appearanceKey, QString::fromLatin1(appearance));
        QTRY_COMPARE(chart->valueAxis()->labelsColor(), Palette::muted());
        EXPECT_EQ(chart->chart()->legend()->labelColor(), Palette::ink());
    }
}

TEST_F(MemoryPageTest, QuitAlertAnswersReturnAndEscape)
{
    open(scripted());
    ApplicationMemory alpha = row(610, "Alpha", 300);
    publish({alpha});
    struct Case {
        Qt::Key key;
        std::vector<int32_t> requests;
    };
    for (const Case& c : std::vector<Case>{{Qt::Key_Escape, {}}, {Qt::Key_Return, {610}}}) {
        SCOPED_TRACE(c.key == Qt::Key_Return ? "Return" : "Escape");
        page->confirmQuit(alpha);
        QPointer<QDialog> dialog = page->quitConfirmation();
        ASSERT_TRUE(dialog && dialog->isVisible());
        QTest::keyClick(dialog, c.key);
        ASSERT_TRUE(QTest::qWaitFor([&] { return dialog.isNull() || !dialog->isVisible(); }, 5000)) << "still asking";
        EXPECT_EQ(apps->quitRequests(), c.requests);
        EXPECT_FALSE(page->quitTarget().has_value());
    }
}

// A tick belongs to the application the user chose, not to whatever holds its process id later.
TEST_F(MemoryPageTest, TicksStayWithTheirApplicationWhenAnIdIsReused)
{
    open(scripted());
    ApplicationMemory alpha = row(700, "Alpha", 300), gamma = row(702, "Gamma", 100);
    publish({alpha, gamma});
    page->releaseButton()->click();
    QPointer<MemoryReleaseReview> review = page->releaseReview();
    ASSERT_TRUE(review);
    review->checkbox(alpha)->click();

    // Alpha quits by itself and its id goes to another application before the next refresh.
    ApplicationMemory beta = row(700, "Beta", 300);
    publish({beta, gamma});
    ASSERT_EQ(review->candidates(), (std::vector<ApplicationMemory>{beta, gamma}));
    ASSERT_TRUE(review->checkbox(beta));
    EXPECT_FALSE(review->checkbox(beta)->isChecked()) << "the tick does not pass to Beta";
    EXPECT_FALSE(review->confirmButton()->isEnabled()) << "nothing the user chose is offered";

    review->checkbox(gamma)->click();
    ASSERT_TRUE(review->confirmButton()->isEnabled());
    review->confirmButton()->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return page->releaseResult() != nullptr; }, 10000));
    EXPECT_EQ(apps->quitRequests(), std::vector<int32_t>{702}) << "Beta is asked nothing";

    // Alpha coming back under its own id is still ticked in a review that stayed open.
    page->releaseButton()->click();
    review = page->releaseReview();
    ASSERT_TRUE(review);
    review->checkbox(beta)->click();
    publish({alpha});
    EXPECT_TRUE(review->chosen().empty()) << "Beta's tick does not pass back to Alpha";
    review->reject();
}

// The real thing: a bundled application started here is asked to quit from its row.
TEST_F(MemoryPageTest, RowQuitReachesOnlyTheSameRunningApplication)
{
    std::string markers = home.path("markers");
    makeDirs(markers);
    std::string bundle = makeAppBundle(home.path("Apps"), "Quitter", "test.tessyn.quitter", fixturePath("demo_app"));
    ChildProcess child(bundle + "/Contents/MacOS/Run", {"quits", markers});
    ASSERT_TRUE(waitForFile(markers + "/ready-" + std::to_string(child.pid()), 10));
    std::string term = markers + "/term-" + std::to_string(child.pid());

    auto system = std::make_shared<CountingApplications>();
    std::atomic<bool> renamed{true};
    AppModel::Collaborators services;
    services.runningApplications = system;
    services.documentsFolder = [this] { return std::optional<std::string>(home.path("Documents")); };
    // The first readings carry a name the application no longer has.
    services.readApplicationMemory = [&renamed](const std::vector<ApplicationIdentity>& identities) {
        std::vector<ApplicationMemory> out = ProcessMemoryReader::read(identities);
        if (renamed)
            for (ApplicationMemory& application : out)
                if (application.name == "Quitter") application.name = "Quitter (old)";
        return out;
    };
    open(services);
    model->sampleMemory();
    ASSERT_TRUE(QTest::qWaitFor([&] { return rowOf(child.pid()) >= 0; }, 10000));
    EXPECT_EQ(page->applicationList()->applications()[size_t(rowOf(child.pid()))].name, "Quitter (old)");

    askToQuit(child.pid(), false);
    EXPECT_FALSE(model->message().has_value()) << "cancelled: nothing asked";
    askToQuit(child.pid(), true);
    EXPECT_EQ(model->message(), "应用已变化或无法确认身份，请刷新后重试。");
    EXPECT_EQ(system->requests.load(), 0) << "a refused identity signals nothing";
    EXPECT_NE(access(term.c_str(), F_OK), 0);
    EXPECT_EQ(kill(child.pid(), 0), 0) << "still running";

    renamed = false;
    model->setMessage(std::nullopt);
    model->sampleMemory();
    ASSERT_TRUE(QTest::qWaitFor([&] {
        int index = rowOf(child.pid());
        return index >= 0 && page->applicationList()->applications()[size_t(index)].name == "Quitter";
    }, 10000));
    askToQuit(child.pid(), true);
    EXPECT_EQ(model->message(), "已请求正常退出。应用可能正在等待保存确认，请检查它的窗口。");
    EXPECT_EQ(system->requests.load(), 1);
    int status = child.wait(10);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "it quit normally";
    EXPECT_TRUE(waitForFile(term, 1)) << "by the normal termination request";
}

// A running application's name may carry any bytes: its row, its tick in the release review,
// the quit confirmation and the release result each show it on one line.
TEST_F(MemoryPageTest, OddApplicationNamesShowOnOneLine)
{
    const QString marker = QStringLiteral("odd_");
    open(scripted());
    std::vector<ApplicationMemory> odd;
    for (size_t i = 0; i < oddPieces().size(); ++i)
        odd.push_back(row(700 + int32_t(i), "odd_" + oddPieces()[i].bytes + std::to_string(i), 1000 - int64_t(i)));
    publish(odd);

    QAbstractItemModel* rows = page->applicationList()->model();
    MemoryReleaseReview review(*model, odd, [](std::vector<ApplicationMemory>) {});
    for (size_t i = 0; i < odd.size(); ++i) {
        SCOPED_TRACE(oddPieces()[i].what);
        QModelIndex index = rows->index(rowOf(odd[i].id), 0);
        QStringList shown;
        for (int role : {int(Qt::DisplayRole), int(Qt::ToolTipRole), int(Qt::AccessibleTextRole)})
            shown << rows->data(index, role).toString();
        NativeMemoryCheckbox* tick = review.checkbox(odd[i]);
        ASSERT_TRUE(tick);
        shown << tick->title() << tick->toolTip() << tick->accessibleName();
        expectOneLine(shown, marker, 6);

        page->confirmQuit(odd[i]);
        QPointer<QDialog> dialog;
        QTRY_VERIFY((dialog = page->quitConfirmation()));
        expectOneLine(shownTexts(dialog), marker, 1);
        ActionConfirmation::cancelButton(dialog)->click();
        QTRY_VERIFY(dialog.isNull() || !dialog->isVisible());
    }
    EXPECT_TRUE(apps->quitRequests().empty());

    MemoryReleaseResultView result({odd, odd, {}, std::nullopt, std::nullopt});
    expectOneLine(result.lines(), marker, 2);
}

// The current row keeps its application across refreshes; when that application has gone, Space
// asks about no other one.
TEST_F(MemoryPageTest, SpaceAfterARefreshAsksOnlyAboutTheApplicationOfTheCurrentRow)
{
    open(scripted());
    ApplicationMemory alpha = row(620, "Alpha", 300), beta = row(621, "Beta", 200), gamma = row(622, "Gamma", 100);
    MemoryApplicationList* list = page->applicationList();
    std::vector<std::string> asked;
    QObject::connect(list, &MemoryApplicationList::quitRequested, list, [&](const ApplicationMemory& a) { asked.push_back(a.name); });
    struct Case {
        const char* what;
        std::vector<ApplicationMemory> refreshed;
        std::vector<std::string> asked;
    } cases[] = {{"gone", {alpha, gamma}, {}}, {"emptied", {}, {}}, {"reordered", {beta, gamma, alpha}, {"Beta"}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        publish({alpha, beta, gamma});
        ASSERT_TRUE(focusByKeyboard(list));
        list->setCurrentIndex(list->model()->index(1, 0));
        publish(c.refreshed);
        if (!c.refreshed.empty()) publish({alpha, gamma, beta});  // Beta back, on another row
        asked.clear();
        QTest::keyClick(list, Qt::Key_Space);
        EXPECT_EQ(asked, c.asked);
        if (c.asked.empty() && !c.refreshed.empty()) {  // no current row: the ring goes round the list
            QImage ringed = list->viewport()->grab().toImage();
            list->clearFocus();
            EXPECT_NE(ringed, list->viewport()->grab().toImage());
        }
    }
}

// The page built for another language keeps the current row on its application, and Space
// brings that row into sight, in the page scrolled away from the list too.
TEST_F(MemoryPageTest, TheCurrentApplicationComesThroughALanguageSwitchAndIntoSight)
{
    open(scripted());
    publish({row(620, "Alpha", 300), row(621, "Beta", 200)});
    window->resize(900, 400);
    ASSERT_TRUE(focusByKeyboard(page->applicationList()));
    QTest::keyClick(page->applicationList(), Qt::Key_Down);
    PageCarry carried = PageCarry::from(page);
    page->hide();
    auto* rebuilt = new MemoryPage(*model);
    window->layout()->addWidget(rebuilt);
    carried.into(rebuilt);
    MemoryApplicationList* list = rebuilt->applicationList();
    rebuilt->verticalScrollBar()->setValue(0);
    QTest::keyClick(list, Qt::Key_Space);
    ASSERT_TRUE(rebuilt->quitTarget().has_value());
    EXPECT_EQ(rebuilt->quitTarget()->name, "Beta");
    QRect row = list->visualRect(list->currentIndex()).translated(list->viewport()->mapTo(rebuilt->viewport(), QPoint()));
    EXPECT_TRUE(rebuilt->viewport()->rect().contains(row)) << "row at " << row.y();
}
