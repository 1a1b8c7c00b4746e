#include "BenchCommand.h"

#include "engine/DuplicateEngine.h"
#include "engine/FileEngine.h"

#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>

namespace {

int runDuplicates(const std::vector<std::string>& args)
{
    auto dirs = positional(args);
    if (dirs.size() != 1) {
        std::fprintf(stderr, "usage: tessyn-bench duplicates DIR [--json]\n");
        return 2;
    }
    double start = monotonicSeconds();
    ScanReport scan = FileEngine::scan(dirs[0]);
    std::string root = FileEngine::canonicalURL(dirs[0]);
    DuplicateReport report = DuplicateEngine::find(scan.files, root);
    double elapsed = monotonicSeconds() - start;

    if (hasFlag(args, "--json")) {
        nlohmann::json groups = nlohmann::json::array();
        for (const auto& group : report.groups) {
            nlohmann::json paths = nlohmann::json::array();
            for (const auto& file : group.files) paths.push_back(file.path);
            groups.push_back({{"id", group.id}, {"paths", paths}});
        }
        nlohmann::json out = {{"groups", groups}, {"warnings", report.warnings}, {"cancelled", report.cancelled}};
        std::cout << out.dump(1, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
        return 0;
    }
    size_t files = 0;
    long long wasted = 0;
    for (const auto& group : report.groups) {
        files += group.files.size();
        wasted += static_cast<long long>(group.files.size() - 1) * group.files.front().size;
    }
    std::printf("groups=%zu files=%zu wasted_bytes=%lld warnings=%zu elapsed=%.3f\n", report.groups.size(), files,
                wasted, report.warnings.size(), elapsed);
    return 0;
}

BenchCommand command("duplicates", "duplicates DIR [--json]", runDuplicates);

} // namespace
