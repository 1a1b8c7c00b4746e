#include "BenchCommand.h"

#include "model/AppModel.h"
#include "pages/apps/CacheReviewView.h"
#include "pages/apps/MaintenancePage.h"
#include "shell/app/AppSettings.h"
#include "shell/window/CachedPageHost.h"
#include "shell/window/PageDestinations.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <ctime>
#include <unistd.h>

namespace {

void writeText(const std::string& path, const std::string& text)
{
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

// A bundle with a cache rule and `count` cache files, all a month old, under `home`.
void makeCachedApplication(const std::string& home, int count)
{
    const std::string bundle = home + "/Applications/VLC.app/Contents";
    writeText(bundle + "/Info.plist",
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
              "<key>CFBundleIdentifier</key><string>org.videolan.vlc</string>\n"
              "<key>CFBundleExecutable</key><string>Run</string>\n"
              "<key>CFBundleDisplayName</key><string>VLC</string>\n</dict>\n</plist>\n");
    writeText(bundle + "/MacOS/Run", "#!/bin/sh\n");
    const std::string cache = home + "/Library/Caches/org.videolan.vlc";
    std::filesystem::create_directories(cache);
    const timespec old[2] = {{time(nullptr) - 30 * 86400, 0}, {time(nullptr) - 30 * 86400, 0}};
    for (int i = 0; i < count; ++i) {
        // Names of varied length, some too long for a row.
        std::string name = "media-" + std::to_string(i) + std::string(static_cast<size_t>(i % 7) * 12, 'x') + ".bin";
        std::string path = cache + "/" + name;
        writeText(path, std::string(static_cast<size_t>(100 + i % 500), 'c'));
        utimensat(AT_FDCWD, path.c_str(), old, 0);
    }
}

// Runs what the action left for the event loop (layouts, deferred shows and deletions), then
// paints every shown window, as the next turns of the loop would before the user sees it.
void settleAndPaint()
{
    for (int turn = 0; turn < 4; ++turn) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    for (QWidget* window : QApplication::topLevelWidgets())
        if (window->isVisible()) window->repaint();
}

double threadCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

// Wall time and the main thread's processor time of the action: on a loaded machine the wall
// time also counts the waits for a processor.
struct Cost {
    double ms = 0, cpuMs = 0;
    void keepLonger(const Cost& other)
    {
        ms = std::max(ms, other.ms);
        cpuMs = std::max(cpuMs, other.cpuMs);
    }
};

template <class Act>
Cost timed(Act act)
{
    QElapsedTimer clock;
    clock.start();
    const double cpu = threadCpuMs();
    act();
    settleAndPaint();
    return {double(clock.nsecsElapsed()) / 1e6, threadCpuMs() - cpu};
}

int runCacheSheet(const std::vector<std::string>& args)
{
    std::vector<std::string> counts = positional(args);
    const int count = counts.empty() ? 3000 : std::max(1, std::atoi(counts[0].c_str()));
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QTemporaryDir scratch;
    const std::string home = std::filesystem::canonical(scratch.path().toStdString()).string();
    setenv("HOME", home.c_str(), 1);
    setenv("XDG_DATA_HOME", (home + "/data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home + "/config").c_str(), 1);
    makeCachedApplication(home, count);
    static int argc = 1;
    static char name[] = "tessyn-bench";
    static char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    AppSettings::shared().setValue(AppSettings::languageKey, QStringLiteral("en"));

    AppModel::Collaborators services;
    services.chooseFolder = [] { return std::optional<std::string>(); };
    services.readMemory = [] { return std::optional<MemorySnapshot>(); };
    services.readAvailableSpace = [](const std::string&) { return std::optional<int64_t>(); };
    AppModel model(std::nullopt, std::vector<std::string>{home + "/Applications"}, home, services);

    // The page in a host that rebuilds it on a language change, as the main window does.
    CachedPageHost host;
    host.setContent([&model](const QString&) { return new MaintenancePage(model); });
    host.resize(1000, 720);
    host.show();
    QString language = QStringLiteral("en");
    host.apply(Pages::maintenance, language, false);
    auto page = [&] { return qobject_cast<MaintenancePage*>(host.page(Pages::maintenance)); };
    auto waitUntil = [](auto condition) {
        while (!condition()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    };
    waitUntil([&] { return !model.installedApps().empty() && !model.maintenanceBusy(); });
    page()->inspect(model.installedApps().front());
    waitUntil([&] { return page()->cacheSheet() && !model.maintenanceBusy(); });
    settleAndPaint();
    if (!model.cachePlan() || static_cast<int>(model.cachePlan()->files.size()) != count) {
        std::fprintf(stderr, "the plan lists %zu files, not %d\n", model.cachePlan() ? model.cachePlan()->files.size() : 0, count);
        return 1;
    }

    Cost loadMoreMax;
    int presses = 0;
    while (page()->cacheSheet()->listedRows() < count) {
        QPushButton* more = page()->cacheSheet()->loadMoreButton();
        Cost cost = timed([more] { more->click(); });
        loadMoreMax.keepLonger(cost);
        ++presses;
        if (hasFlag(args, "--verbose"))
            std::printf("press %d: %d rows, %.1f ms\n", presses, page()->cacheSheet()->listedRows(), cost.ms);
    }

    Cost switchMax;
    for (const char* next : {"zh-Hans", "en"}) {
        language = QString::fromLatin1(next);
        Cost cost = timed([&] {
            AppSettings::shared().setValue(AppSettings::languageKey, language);
            host.apply(Pages::maintenance, language, false);
        });
        switchMax.keepLonger(cost);
        if (!page()->cacheSheet() || page()->cacheSheet()->listedRows() != count) {
            std::fprintf(stderr, "the rebuilt sheet does not list all %d files\n", count);
            return 1;
        }
        if (hasFlag(args, "--verbose")) std::printf("switch to %s: %.1f ms\n", next, cost.ms);
    }

    std::printf("rows: %d\nload-more-presses: %d\nload-more-max-ms: %.1f\nswitch-ms: %.1f\n", count, presses,
                loadMoreMax.ms, switchMax.ms);
    std::printf("load-more-max-cpu-ms: %.1f\nswitch-cpu-ms: %.1f\n", loadMoreMax.cpuMs, switchMax.cpuMs);
    return 0;
}

BenchCommand command("cache-sheet", "cache-sheet [N] [--verbose]", runCacheSheet);

} // namespace
