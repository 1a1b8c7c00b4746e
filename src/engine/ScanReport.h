#pragma once
#include "engine/FileEntry.h"

#include <cstdint>
#include <string>
#include <vector>

struct ScanProgress {
    int64_t inspected = 0;
    int64_t skipped = 0;
    int64_t bytes = 0;
    std::string current;
    bool operator==(const ScanProgress&) const = default;
};

struct SpaceCategory {
    std::string name;
    int64_t count = 0;
    int64_t size = 0;
    bool operator==(const SpaceCategory&) const = default;
};

// Per-category file counts and sizes, summed in any order and merged across threads.
class CategoryTotals {
public:
    void add(size_t categoryIndex, int64_t size)
    {
        counts_[categoryIndex] += 1;
        sizes_[categoryIndex] += size;
    }
    void merge(const CategoryTotals& other);
    int64_t total() const;
    // Categories holding at least one file, by size, largest first; ties in category order.
    std::vector<SpaceCategory> sorted() const;

private:
    int64_t counts_[kCategoryCount] = {};
    int64_t sizes_[kCategoryCount] = {};
};

struct ScanReport {
    std::vector<FileEntry> files; // largest first
    int64_t inspected = 0;
    int64_t skipped = 0;
    std::vector<std::string> warnings; // at most kMaxWarnings, see addWarning
    bool cancelled = false;
    double elapsed = 0;
    int64_t fileSizeTotal = 0;
    std::vector<SpaceCategory> savedCategories; // by size, largest first

    // Recomputes the category totals and the total size from `files`.
    void rebuildStatistics();
    void applyStatistics(const CategoryTotals& totals);
};

// "<last path component>：<description>"
std::string warningLine(std::string_view name, std::string_view description);

// A scan or duplicate report keeps the first kMaxWarnings warnings and drops the rest.
inline constexpr size_t kMaxWarnings = 20;
// Appends `line` while fewer than kMaxWarnings lines exist; false when it was dropped.
bool addWarning(std::vector<std::string>& warnings, std::string line);
