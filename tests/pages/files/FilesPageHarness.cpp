#include "FilesPageHarness.h"

#include "../../../bench/SyntheticReport.h"
#include "pages/PageCatalog.h"
#include "shell/window/CachedPageHost.h"
#include "shell/window/MainView.h"
#include "shell/window/MainWindow.h"
#include "pages/files/NativeFileTable.h"
#include "shell/window/PageContent.h"
#include "shell/window/PageDestinations.h"

#include <QAbstractButton>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>
#include <cstdio>

FilesPageHarness::FilesPageHarness(QSize size, Host host)
    : home(shell.home), chosen(shell.chosenFolder), model(&shell.model())
{
    if (host == Host::mainWindow) {
        installPageFactory(tessynPages());
        mainWindow = shell.openWindow();
        mainWindow->resize(size);
        mainWindow->view()->setPage(Pages::files);
        EXPECT_TRUE(waitReady(mainWindow->view(), Pages::files));
        page = qobject_cast<FilesPage*>(mainWindow->view()->pageHost()->page(Pages::files));
        EXPECT_NE(page, nullptr);
        return;
    }
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
    if (mainWindow) installPageFactory({});
    window.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

QWidget* FilesPageHarness::shownWindow() const
{
    return mainWindow ? static_cast<QWidget*>(mainWindow) : window.get();
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

std::shared_ptr<ScanReport> syntheticReport(size_t count) { return syntheticScanReport(count); }

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
