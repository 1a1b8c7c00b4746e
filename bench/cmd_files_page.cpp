#include "BenchCommand.h"
#include "SyntheticReport.h"

#include "model/AppModel.h"
#include "pages/files/FilesPage.h"
#include "pages/files/MoveConfirmationSheet.h"
#include "shell/controls/NativeActionButton.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

// How long the main thread went without turning its event loop while `act` ran and the model
// finished what it started: a 1 ms timer notes every turn, and the longest gap is the stall.
class StallProbe {
public:
    StallProbe()
    {
        ticker_.setTimerType(Qt::PreciseTimer);
        ticker_.setInterval(1);
        QObject::connect(&ticker_, &QTimer::timeout, [this] { tick(); });
    }
    template <class Act, class Done>
    double measure(Act act, Done done)
    {
        worst_ = 0;
        worstBusy_ = 0;
        clock_.start();
        last_ = 0;
        lastCpu_ = threadCpuMs();
        ticker_.start();
        QTimer::singleShot(0, act);
        QElapsedTimer limit;
        limit.start();
        // Give the action a turn to start before waiting for it to end.
        QCoreApplication::processEvents();
        while (!done() && limit.elapsed() < 60000) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        QCoreApplication::processEvents();
        tick();
        ticker_.stop();
        return worst_;
    }

    // Of the longest gap: how much of it the main thread spent computing (the rest it waited
    // for a processor, which says more about the machine's load than about the page).
    double busy() const { return worstBusy_; }

private:
    QTimer ticker_;
    QElapsedTimer clock_;
    double last_ = 0;
    double lastCpu_ = 0;
    double worst_ = 0;
    double worstBusy_ = 0;
    static double threadCpuMs()
    {
        timespec now{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
    }
    void tick()
    {
        double now = double(clock_.nsecsElapsed()) / 1e6;
        double cpu = threadCpuMs();
        if (now - last_ > worst_) {
            worst_ = now - last_;
            worstBusy_ = cpu - lastCpu_;
        }
        last_ = now;
        lastCpu_ = cpu;
    }
};

void trigger(QPushButton* button, const QString& text)
{
    for (QAction* action : button->menu()->actions())
        if (action->text() == text) action->trigger();
}

int runFilesPage(const std::vector<std::string>& args)
{
    size_t count = std::strtoull(optionValue(args, "--files", "1000000").c_str(), nullptr, 10);
    size_t selected = std::strtoull(optionValue(args, "--selected", "100000").c_str(), nullptr, 10);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QTemporaryDir home;
    setenv("HOME", home.path().toLocal8Bit().constData(), 1);
    setenv("XDG_DATA_HOME", (home.path() + "/data").toLocal8Bit().constData(), 1);
    setenv("XDG_CONFIG_HOME", (home.path() + "/config").toLocal8Bit().constData(), 1);
    static int argc = 1;
    static char name[] = "tessyn-bench";
    static char* argv[] = {name, nullptr};
    QApplication app(argc, argv);

    AppModel::Collaborators services;
    services.chooseFolder = [] { return std::optional<std::string>("/tmp"); };
    services.readMemory = [] { return std::optional<MemorySnapshot>(); };
    auto model = std::make_unique<AppModel>(home.path().toStdString() + "/data/Tessyn/operations.json",
                                            std::vector<std::string>{}, home.path().toStdString(), services);
    auto* page = new FilesPage(*model);
    page->resize(1000, 760);
    page->show();
    model->choose();
    double start = QDateTime::currentMSecsSinceEpoch();
    auto report = syntheticScanReport(count);
    std::printf("files=%zu report built in %.0f ms\n", count, QDateTime::currentMSecsSinceEpoch() - start);
    StallProbe probe;
    auto idle = [&] { return !model->filtering(); };
    std::printf("publish report: %.1f ms\n", probe.measure([&] { model->setReport(report); }, idle));

    for (const char* filter : {"大文件", "图片", "全部文件", "旧下载候选", "全部文件"}) {
        std::string value = filter;
        double stall = probe.measure(
            [&, value] {
                if (QPushButton* chip = page->chip(value)) chip->click();
                else model->setFilter(value);
            },
            idle);
        std::printf("filter %s: longest stall %.1f ms (main thread busy %.1f ms), %zu rows\n", filter, stall,
                    probe.busy(), model->queryResults().files.size());
    }
    for (const char* sort : {"Name", "Recently modified", "Size"}) {
        double stall = probe.measure([&] { trigger(page->sortButton(), QString::fromUtf8(sort)); }, idle);
        std::printf("sort %s: longest stall %.1f ms (main thread busy %.1f ms)\n", sort, stall, probe.busy());
    }
    QLineEdit* search = page->searchField();
    double typing = probe.measure(
        [&] {
            // Five keys 40 ms apart, as a quick typist sends them.
            for (int i = 0; i < 5; ++i)
                QTimer::singleShot(40 * i, [search, i] {
                    QString key = QString::number(i + 1);
                    QKeyEvent press(QEvent::KeyPress, Qt::Key_1 + i, Qt::NoModifier, key);
                    QCoreApplication::sendEvent(search, &press);
                });
        },
        [&] { return model->search() == "12345" && !model->filtering(); });
    std::printf("typing 5 keys: longest stall %.1f ms (main thread busy %.1f ms), %zu rows\n", typing, probe.busy(),
                model->queryResults().files.size());
    double clearing = probe.measure([&] { model->setSearch(""); }, idle);
    std::printf("clear search: longest stall %.1f ms\n", clearing);

    AppModel::PathSet paths;
    for (size_t i = 0; i < selected && i < report->files.size(); ++i) paths.insert(report->files[i * 7 % report->files.size()].path);
    double selecting = probe.measure([&] { model->setSelection(paths); }, idle);
    std::printf("select %zu: longest stall %.1f ms (main thread busy %.1f ms)\n", paths.size(), selecting, probe.busy());
    QElapsedTimer opening;
    opening.start();
    page->reviewButton()->click();
    MoveConfirmationSheet* sheet = page->sheet();
    while (!sheet || !sheet->isVisible()) QCoreApplication::processEvents();
    sheet->repaint();
    std::printf("confirmation with %zu files: open and painted in %.1f ms\n", model->selectedFiles().size(),
                double(opening.nsecsElapsed()) / 1e6);
    sheet->reject();
    delete page;
    return 0;
}

BenchCommand command("files-page", "files-page [--files N] [--selected N]", runFilesPage);

} // namespace
