#include "engine/ScanReport.h"

#include <algorithm>

std::string warningLine(std::string_view name, std::string_view description)
{
    std::string line(name);
    line += "：";
    line += description;
    return line;
}

bool addWarning(std::vector<std::string>& warnings, std::string line)
{
    if (warnings.size() >= kMaxWarnings) return false;
    warnings.push_back(std::move(line));
    return true;
}

void CategoryTotals::merge(const CategoryTotals& other)
{
    for (size_t i = 0; i < kCategoryCount; ++i) {
        counts_[i] += other.counts_[i];
        sizes_[i] += other.sizes_[i];
    }
}

int64_t CategoryTotals::total() const
{
    int64_t sum = 0;
    for (int64_t size : sizes_) sum += size;
    return sum;
}

std::vector<SpaceCategory> CategoryTotals::sorted() const
{
    std::vector<SpaceCategory> out;
    for (size_t i = 0; i < kCategoryCount; ++i)
        if (counts_[i] > 0) out.push_back(SpaceCategory{std::string(categoryName(i)), counts_[i], sizes_[i]});
    std::stable_sort(out.begin(), out.end(), [](const SpaceCategory& a, const SpaceCategory& b) { return a.size > b.size; });
    return out;
}

void ScanReport::rebuildStatistics()
{
    CategoryTotals totals;
    for (const auto& file : files) totals.add(categoryIndexOfName(file.name()), file.size);
    applyStatistics(totals);
}

void ScanReport::applyStatistics(const CategoryTotals& totals)
{
    savedCategories = totals.sorted();
    fileSizeTotal = totals.total();
}
