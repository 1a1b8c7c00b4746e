#include "engine/ScanReport.h"

#include <algorithm>
#include <unordered_map>

std::string warningLine(std::string_view name, std::string_view description)
{
    std::string line(name);
    line += "：";
    line += description;
    return line;
}

void ScanReport::addWarning(std::string_view name, std::string_view description)
{
    if (warnings.size() < kMaxWarnings) warnings.push_back(warningLine(name, description));
}

void ScanReport::rebuildStatistics()
{
    std::unordered_map<std::string_view, size_t> index;
    std::vector<SpaceCategory> categories;
    int64_t total = 0;
    for (const auto& file : files) {
        auto name = file.category();
        auto [it, inserted] = index.try_emplace(name, categories.size());
        if (inserted) categories.push_back(SpaceCategory{std::string(name), 0, 0});
        auto& category = categories[it->second];
        category.count += 1;
        category.size += file.size;
        total += file.size;
    }
    // Ties keep first-met order, which is at least reproducible.
    std::stable_sort(categories.begin(), categories.end(),
                     [](const SpaceCategory& a, const SpaceCategory& b) { return a.size > b.size; });
    savedCategories = std::move(categories);
    fileSizeTotal = total;
}
