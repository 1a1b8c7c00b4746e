#include "BenchCommand.h"
#include "ModelBench.h"

#include <algorithm>
#include <fstream>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

void stage(const char* name, double& mark, const std::string& extra = {})
{
    double now = monotonicSeconds();
    std::printf("stage %s %.3fs%s%s\n", name, now - mark, extra.empty() ? "" : " ", extra.c_str());
    std::fflush(stdout);
    mark = now;
}

// Chooses DIR, scans it, selects files and moves them to the Trash through the model.
int runWorkflow(const std::vector<std::string>& args)
{
    auto dirs = positional(args, {"--select", "--limit"});
    std::string select = optionValue(args, "--select", "all");
    long long limit = std::stoll(optionValue(args, "--limit", "-1"));
    if (dirs.size() != 1 || (select != "all" && select != "large" && select != "duplicates")) {
        std::fprintf(stderr, "usage: tessyn-bench workflow DIR --select all|large|duplicates [--limit N]\n");
        return 2;
    }
    auto app = ModelBench::application();
    AppModel::Collaborators services;
    services.chooseFolder = [folder = dirs[0]] { return std::optional<std::string>(folder); };
    double begin = monotonicSeconds();
    double mark = begin;
    AppModel model(std::nullopt, std::nullopt, std::nullopt, services);
    stage("start", mark, "history=" + std::to_string(model.history().size()));

    model.choose();
    if (!model.root()) {
        ModelBench::printLines("message: ", model.message().value_or("(none)"));
        return 1;
    }
    model.scan();
    ModelBench::waitUntil([&] { return !model.scanning(); });
    if (!model.report()) return 1;
    stage("scan", mark, "files=" + std::to_string(model.report()->files.size()));

    AppModel::PathSet chosen;
    if (select == "all") {
        for (const FileEntry& file : model.report()->files) chosen.insert(file.path);
    } else if (select == "large") {
        model.setFilter("大文件");
        ModelBench::waitUntil([&] { return !model.filtering(); });
        for (const FileEntry& file : model.queryResults().files) chosen.insert(file.path);
    } else {
        model.detectDuplicates();
        ModelBench::waitUntil([&] { return !model.detectingDuplicates(); });
        if (!model.duplicateReport()) return 1;
        stage("duplicates", mark, "groups=" + std::to_string(model.duplicateReport()->groups.size()));
        for (const DuplicateGroup& group : model.duplicateReport()->groups)
            model.selectCopies(group, group.suggestedKeep().path);
        chosen = model.selection();
    }
    if (limit >= 0) {
        // The first N in report order, so a limit always names the same files.
        AppModel::PathSet limited;
        for (const FileEntry& file : model.report()->files)
            if (static_cast<long long>(limited.size()) < limit && chosen.count(file.path)) limited.insert(file.path);
        chosen = std::move(limited);
    }
    model.setSelection(chosen);
    stage("select", mark, "selected=" + std::to_string(model.selectedFiles().size()));

    size_t before = model.history().size();
    long long written = writtenBytes();
    model.trashSelected();
    ModelBench::waitUntil([&] { return !model.processing(); });
    written = writtenBytes() - written;
    stage("trash", mark);

    ModelBench::printLines("message: ", model.message().value_or("(none)"));
    size_t records = model.history().size() - before;
    // The selection loses exactly the paths that reached the Trash.
    size_t moved = chosen.size() - model.selection().size();
    std::printf("records: %zu moved: %zu still-selected: %zu history: %zu\n", records, moved,
                model.selection().size(), model.history().size());
    std::printf("trash-stage-written-bytes: %lld per-file: %.0f\n", written,
                records ? double(written) / double(records) : 0.0);
    std::printf("history-file-bytes: %lld journal-file-bytes: %lld\n", fileSize(model.historyPath()),
                fileSize(model.journal().path()));
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("peak-rss-kib: %ld total: %.3fs\n", usage.ru_maxrss, monotonicSeconds() - begin);
    return 0;
}

BenchCommand command("workflow", "workflow DIR --select all|large|duplicates [--limit N]", runWorkflow);

} // namespace
