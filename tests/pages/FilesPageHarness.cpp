#include "FilesPageHarness.h"

#include "shell/NativeFileTable.h"

#include <QAbstractButton>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>
#include <cstdio>

FilesPageHarness::FilesPageHarness(QSize size)
{
    ensureShellApp();
    makeDirs(home.path("Documents"));
    AppModel::Collaborators services;
    services.chooseFolder = [this] { return chosen; };
    services.preview = [](const std::string&) { return std::optional<std::string>(); };
    services.runningApplications = std::make_shared<NoApplications>();
    services.readMemory = [] { return std::optional<MemorySnapshot>(); };
    services.readApplicationMemory = [](const std::vector<ApplicationIdentity>&) { return std::vector<ApplicationMemory>{}; };
    services.readAvailableSpace = [](const std::string&) { return std::optional<int64_t>(1'000'000'000); };
    services.documentsFolder = [folder = home.path("Documents")] { return std::optional<std::string>(folder); };
    model = std::make_unique<AppModel>(home.dataHome() + "/Tessyn/operations.json",
                                       std::vector<std::string>{home.path("Applications")}, home.root(), std::move(services));
    window = std::make_unique<QWidget>();
    auto* layout = new QVBoxLayout(window.get());
    page = new FilesPage(*model);
    layout->addWidget(page);
    window->resize(size);
    window->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
}

FilesPageHarness::~FilesPageHarness()
{
    window.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    model.reset();
}

void FilesPageHarness::chooseAndScan(const std::string& folder)
{
    chosen = folder;
    QAbstractButton* choose = page->header()->isVisible() ? page->changeFolderButton() : page->chooseButton();
    click(choose);
    ASSERT_TRUE(model->root().has_value()) << model->message().value_or("");
    click(page->scanButton());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !model->scanning(); }, 30000));
    ASSERT_TRUE(settled());
}

bool FilesPageHarness::settled(int milliseconds)
{
    return QTest::qWaitFor([&] { return !model->filtering(); }, milliseconds);
}

std::vector<std::string> writeFiles(const std::string& folder, int count, const std::string& prefix)
{
    std::vector<std::string> paths;
    for (int i = 0; i < count; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "%s%05d.txt", prefix.c_str(), i);
        paths.push_back(writeFile(folder + "/" + name, std::string(static_cast<size_t>(100 + i), 'x')));
    }
    return paths;
}

std::shared_ptr<ScanReport> syntheticReport(size_t count)
{
    auto report = std::make_shared<ScanReport>();
    report->files.reserve(count);
    const char* extensions[] = {"jpg", "mov", "mp3", "pdf", "zip", "dat"};
    for (size_t i = 0; i < count; ++i) {
        char path[160];
        std::snprintf(path, sizeof path, "/home/lin/Archive/folder-%03zu/sub/file-%07zu.%s", i % 997, i, extensions[i % 6]);
        int64_t size = static_cast<int64_t>((count - i) * 1000);
        report->files.emplace_back(path, size, 700000000.0 - double(i), 1, i + 1, size, std::nullopt);
    }
    report->inspected = static_cast<int64_t>(count);
    report->elapsed = 1.25;
    report->rebuildStatistics();
    return report;
}

void click(QAbstractButton* button)
{
    ASSERT_NE(button, nullptr);
    ASSERT_TRUE(button->isVisible()) << button->text().toStdString();
    ASSERT_TRUE(button->isEnabled()) << button->text().toStdString();
    // Laid out and scrolled into view first, as the user would see it, innermost list first.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    for (QWidget* up = button->parentWidget(); up; up = up->parentWidget())
        if (auto* scroller = qobject_cast<QScrollArea*>(up)) scroller->ensureWidgetVisible(button);
    QTest::mouseClick(button, Qt::LeftButton);
}

std::vector<std::string> shownPaths(const NativeFileTable* table)
{
    std::vector<std::string> out;
    for (const FileEntry& file : table->files()) out.push_back(file.path);
    return out;
}
