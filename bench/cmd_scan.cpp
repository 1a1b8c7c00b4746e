#include "BenchCommand.h"

#include "engine/FileEngine.h"

#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>

namespace {

int runScan(const std::vector<std::string>& args)
{
    auto dirs = positional(args);
    if (dirs.size() != 1) {
        std::fprintf(stderr, "usage: tessyn-bench scan DIR [--json]\n");
        return 2;
    }
    double start = monotonicSeconds();
    ScanReport report = FileEngine::scan(dirs[0]);
    double elapsed = monotonicSeconds() - start;
    if (hasFlag(args, "--json")) {
        nlohmann::json files = nlohmann::json::array();
        for (const auto& f : report.files)
            files.push_back({{"path", f.path}, {"size", f.size}, {"resourceID", f.resourceID()}, {"modified", f.modified}});
        nlohmann::json categories = nlohmann::json::array();
        for (const auto& c : report.savedCategories)
            categories.push_back({{"name", c.name}, {"count", c.count}, {"size", c.size}});
        nlohmann::json out = {{"files", files},          {"inspected", report.inspected},
                              {"skipped", report.skipped}, {"warnings", report.warnings},
                              {"cancelled", report.cancelled}, {"elapsed", report.elapsed},
                              {"fileSizeTotal", report.fileSizeTotal}, {"categories", categories}};
        // Names need not be UTF-8; show ill-formed bytes as U+FFFD rather than fail.
        std::cout << out.dump(1, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
        return 0;
    }
    std::printf("files=%zu inspected=%lld skipped=%lld warnings=%zu bytes=%lld elapsed=%.3f\n", report.files.size(),
                static_cast<long long>(report.inspected), static_cast<long long>(report.skipped),
                report.warnings.size(), static_cast<long long>(report.fileSizeTotal), elapsed);
    return 0;
}

BenchCommand command("scan", "scan DIR [--json]", runScan);

} // namespace
