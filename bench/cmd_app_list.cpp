#include "BenchCommand.h"
#include "PageBench.h"

#include "model/AppModel.h"
#include "pages/apps/MaintenancePage.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QVBoxLayout>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

// A bundle the inventory lists: an Info.plist naming it and an executable file.
void writeBundle(const std::string& folder, const std::string& name)
{
    std::string contents = folder + "/" + name + ".app/Contents";
    std::filesystem::create_directories(contents + "/MacOS");
    std::ofstream(contents + "/Info.plist")
        << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
        << "<key>CFBundleIdentifier</key><string>org.bench." << name << "</string>"
        << "<key>CFBundleExecutable</key><string>Run</string>"
        << "<key>CFBundleDisplayName</key><string>" << name << "</string></dict></plist>\n";
    std::ofstream(contents + "/MacOS/Run") << "#!/bin/sh\n";
}

// The applications page over N bundles in a shown window: how long the window goes unanswered
// while the first listing fills it, while a refresh lists them again, and while a search and
// its clearing filter them.
int runAppList(const std::vector<std::string>& args)
{
    std::vector<std::string> counts = positional(args);
    int count = counts.empty() ? 2000 : std::atoi(counts[0].c_str());
    QTemporaryDir home;
    auto app = PageBench::offscreenApplication(home.path());
    std::string root = home.path().toStdString();
    for (int i = 0; i < count; ++i) writeBundle(root + "/Applications", "App" + std::to_string(100000 + i));

    AppModel model(root + "/data/Tessyn/operations.json", std::vector<std::string>{root + "/Applications"}, root);
    QWidget window;
    auto* column = new QVBoxLayout(&window);
    window.resize(1000, 760);
    window.show();
    MaintenancePage* page = nullptr;
    PageBench::StallProbe probe;
    auto idle = [&] { return page && page->startupListing().isFinished() && !model.maintenanceBusy(); };

    double first = probe.measure([&] { column->addWidget(page = new MaintenancePage(model)); }, idle);
    std::printf("apps: %zu\n", model.installedApps().size());
    std::printf("first-listing-stall-ms: %.1f\n", first);
    double refresh = probe.measure([&] { page->refreshButton()->click(); }, idle);
    std::printf("refresh-stall-ms: %.1f\n", refresh);
    double search = probe.measure([&] { page->searchField()->setText(QStringLiteral("App1000")); }, idle);
    double clear = probe.measure([&] { page->searchField()->clear(); }, idle);
    std::printf("search-stall-ms: %.1f\nclear-search-stall-ms: %.1f\n", search, clear);
    return 0;
}

BenchCommand command("app-list", "app-list [N]", runAppList);

} // namespace
