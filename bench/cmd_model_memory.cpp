#include "BenchCommand.h"
#include "ModelBench.h"
#include "SyntheticReport.h"

#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace {

// "VmRSS" or "VmHWM" of this process in bytes.
long long statusBytes(const std::string& key)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(key + ":", 0) == 0) return std::atoll(line.c_str() + key.size() + 1) * 1024;
    return 0;
}

// Memory of the model holding a report of N made-up files under the default filter, then
// the "全部文件" query: resident bytes per file for the report alone and with the model's
// query results and selection summaries, and the query's time.
int runModelMemory(const std::vector<std::string>& args)
{
    size_t count = std::strtoull(optionValue(args, "--files", "1000000").c_str(), nullptr, 10);
    bool selectAll = hasFlag(args, "--select-all");
    auto app = ModelBench::application();
    QTemporaryDir home;
    setenv("HOME", home.path().toLocal8Bit().constData(), 1);
    setenv("XDG_DATA_HOME", (home.path() + "/data").toLocal8Bit().constData(), 1);
    AppModel::Collaborators services;
    services.chooseFolder = [] { return std::optional<std::string>("/tmp"); };
    services.readMemory = [] { return std::optional<MemorySnapshot>(); };
    AppModel model(home.path().toStdString() + "/data/Tessyn/operations.json", std::vector<std::string>{},
                   home.path().toStdString(), services);
    model.choose();
    ModelBench::waitUntil([&] { return !model.filtering(); });
    long long empty = statusBytes("VmRSS");

    auto report = syntheticScanReport(count);
    long long withReport = statusBytes("VmRSS");
    model.setReport(report);
    report.reset(); // the model holds the only reference, as after a scan
    ModelBench::waitUntil([&] { return !model.filtering(); });
    long long defaultFilter = statusBytes("VmRSS");

    double start = monotonicSeconds();
    model.setFilter("全部文件");
    ModelBench::waitUntil([&] { return !model.filtering(); });
    double allFiles = monotonicSeconds() - start;
    long long afterAll = statusBytes("VmRSS");
    if (selectAll) {
        AppModel::PathSet paths;
        for (const FileEntry& file : model.report()->files) paths.insert(file.path);
        model.setSelection(std::move(paths));
    }
    long long peak = statusBytes("VmHWM");
    auto perFile = [&](long long bytes) { return count ? double(bytes) / double(count) : 0.0; };
    std::printf("files=%zu rows=%zu selected=%zu\n", count, model.queryResults().files.size(),
                model.selectedFiles().size());
    std::printf("report alone: %.0f bytes per file\n", perFile(withReport - empty));
    std::printf("model, default filter: %.0f bytes per file (rss %lld MiB)\n", perFile(defaultFilter - empty),
                defaultFilter >> 20);
    std::printf("model, all files: %.0f bytes per file; query %.1f ms\n", perFile(afterAll - empty), allFiles * 1000);
    std::printf("peak: %.0f bytes per file above the empty model (%lld MiB)\n", perFile(peak - empty), peak >> 20);
    return 0;
}

BenchCommand command("model-memory", "model-memory [--files N] [--select-all]", runModelMemory);

} // namespace
