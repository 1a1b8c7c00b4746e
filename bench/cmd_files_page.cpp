#include "BenchCommand.h"
#include "PageBench.h"
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

namespace {

void trigger(QPushButton* button, const QString& text)
{
    for (QAction* action : button->menu()->actions())
        if (action->text() == text) action->trigger();
}

int runFilesPage(const std::vector<std::string>& args)
{
    size_t count = std::strtoull(optionValue(args, "--files", "1000000").c_str(), nullptr, 10);
    size_t selected = std::strtoull(optionValue(args, "--selected", "100000").c_str(), nullptr, 10);
    QTemporaryDir home;
    auto app = PageBench::offscreenApplication(home.path());

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
    PageBench::StallProbe probe;
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
