#include "BenchCommand.h"
#include "ModelBench.h"

#include "engine/Dates.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <fcntl.h>
#include <sys/stat.h>

// `clean-cache N`: in a throw-away home, an application bundle whose cache holds N files old
// enough to be offered; the model inspects the cache and cleans all of it, as the cache sheet
// does (everything chosen, one clean). Prints the time per file of the clean alone.
namespace {

const char kBundleID[] = "org.videolan.vlc"; // a rule whose folder is Library/Caches/<id>

void writeText(const std::filesystem::path& path, const std::string& text)
{
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

std::string makeBundle(const std::string& folder)
{
    std::string bundle = folder + "/Bench Player.app";
    writeText(bundle + "/Contents/Info.plist",
              std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
                          "<key>CFBundleIdentifier</key><string>") + kBundleID + "</string>\n"
              "<key>CFBundleExecutable</key><string>Run</string>\n</dict>\n</plist>\n");
    writeText(bundle + "/Contents/MacOS/Run", "#!/bin/sh\n");
    return bundle;
}

// N files of 1 to 100 bytes, modified ten days ago.
void makeCacheFiles(const std::string& folder, long count)
{
    struct timespec old[2] = {};
    old[0].tv_sec = old[1].tv_sec = time(nullptr) - 10 * 86400;
    for (long i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/c%06ld.bin", i);
        writeText(folder + name, std::string(static_cast<size_t>(1 + i % 100), 'x'));
        utimensat(AT_FDCWD, (folder + name).c_str(), old, 0);
    }
}

int runCleanCache(const std::vector<std::string>& args)
{
    auto rest = positional(args);
    long count = rest.size() == 1 ? std::strtol(rest[0].c_str(), nullptr, 10) : 0;
    if (count < 1) {
        std::fprintf(stderr, "usage: tessyn-bench clean-cache N\n");
        return 2;
    }
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/tessyn-clean-cache.XXXXXX";
    if (!mkdtemp(pattern.data())) {
        perror("mkdtemp");
        return 1;
    }
    // The whole home, stores and Trash included, lives in the folder and goes with it.
    const std::string base = std::filesystem::canonical(pattern);
    struct Cleanup {
        std::string folder;
        ~Cleanup() { std::filesystem::remove_all(folder); }
    } cleanup{base};
    const std::string home = base + "/home";
    setenv("HOME", home.c_str(), 1);
    setenv("XDG_DATA_HOME", (base + "/data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (base + "/config").c_str(), 1);
    std::filesystem::create_directories(base + "/data");
    std::string bundle = makeBundle(home + "/Applications");
    makeCacheFiles(home + "/Library/Caches/" + kBundleID, count);

    auto app = ModelBench::application();
    AppModel model(std::nullopt, std::vector<std::string>{home + "/Applications"}, home);
    model.refreshInstalledApps();
    ModelBench::waitUntil([&] { return !model.maintenanceScanning(); });
    if (model.installedApps().size() != 1) {
        std::fprintf(stderr, "the bundle was not found\n");
        return 1;
    }
    model.inspectCache(model.installedApps()[0]);
    ModelBench::waitUntil([&] { return !model.maintenanceScanning(); });
    if (!model.cachePlan()) {
        ModelBench::printLines("message: ", model.message().value_or("(none)"));
        return 1;
    }
    AppModel::PathSet all;
    for (const FileEntry& file : model.cachePlan()->files) all.insert(file.path);
    model.setCacheSelection(all);

    size_t before = model.history().size();
    double start = monotonicSeconds();
    model.cleanCache();
    ModelBench::waitUntil([&] { return !model.processing(); });
    double elapsed = monotonicSeconds() - start;

    size_t moved = 0;
    for (size_t i = 0; i + before < model.history().size(); ++i) moved += model.history()[i].success ? 1 : 0;
    ModelBench::printLines("message: ", model.message().value_or("(none)"));
    std::printf("offered: %zu\nmoved: %zu\nms-per-file: %.3f\n", all.size(), moved,
                all.empty() ? 0.0 : elapsed * 1000.0 / static_cast<double>(all.size()));
    return moved == static_cast<size_t>(count) ? 0 : 1;
}

BenchCommand command("clean-cache", "clean-cache N", runCleanCache);

} // namespace
