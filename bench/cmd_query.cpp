#include "BenchCommand.h"

#include "engine/DuplicateEngine.h"
#include "engine/FileEngine.h"
#include "engine/FileQuery.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

// Processor time of the whole process, all threads: the query's cost even on a busy machine.
double cpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

int runQuery(const std::vector<std::string>& args)
{
    const std::vector<std::string> valued = {"--filter", "--search", "--threshold", "--sort", "--repeat"};
    auto dirs = positional(args, valued);
    if (dirs.size() != 1 || optionValue(args, "--filter").empty()) {
        std::fprintf(stderr, "usage: tessyn-bench query DIR --filter F [--search S] [--threshold MB] [--sort K] [--repeat N]\n");
        return 2;
    }
    const std::string filter = optionValue(args, "--filter");
    const std::string search = optionValue(args, "--search");
    const std::string thresholdText = optionValue(args, "--threshold");
    const double threshold = thresholdText.empty() ? 500.0 : std::strtod(thresholdText.c_str(), nullptr);
    const std::string sort = optionValue(args, "--sort", "大小");
    const int repeat = std::max(1, std::atoi(optionValue(args, "--repeat", "1").c_str()));

    ScanReport scan = FileEngine::scan(dirs[0]);
    std::unordered_set<std::string> duplicatePaths;
    if (filter == "重复文件") {
        DuplicateReport duplicates = DuplicateEngine::find(scan.files, FileEngine::canonicalURL(dirs[0]));
        for (const auto& group : duplicates.groups)
            for (const auto& file : group.files) duplicatePaths.insert(file.path);
    }

    // The query as the model runs it: the matching records, then the rows shown first.
    std::vector<double> queryTimes, cpuTimes, positionTimes, presentationTimes;
    size_t matches = 0;
    for (int run = 0; run < repeat; ++run) {
        double start = monotonicSeconds();
        double cpuStart = cpuSeconds();
        std::vector<FileEntry> result = FileQuery::apply(scan.files, filter, search, threshold, duplicatePaths, sort);
        double queried = monotonicSeconds();
        cpuTimes.push_back(cpuSeconds() - cpuStart);
        auto rows = FileQuery::presentation(std::span<const FileEntry>(result).first(std::min<size_t>(200, result.size())));
        double presented = monotonicSeconds();
        auto kept = FileQuery::positions(scan.files, filter, search, threshold, duplicatePaths, sort);
        double positioned = monotonicSeconds();
        if (kept.size() != result.size()) {
            std::fprintf(stderr, "positions and records disagree\n");
            return 1;
        }
        matches = result.size();
        queryTimes.push_back(queried - start);
        presentationTimes.push_back(presented - queried);
        positionTimes.push_back(positioned - presented);
    }
    std::printf("records=%zu matches=%zu query=%.3f cpu=%.3f positions=%.3f presentation=%.3f\n", scan.files.size(),
                matches, median(queryTimes), median(cpuTimes), median(positionTimes), median(presentationTimes));
    return 0;
}

BenchCommand command("query", "query DIR --filter F [--search S] [--threshold MB] [--sort K] [--repeat N]", runQuery);

} // namespace
