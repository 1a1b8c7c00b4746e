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

struct ScanReport {
    std::vector<FileEntry> files; // largest first
    int64_t inspected = 0;
    int64_t skipped = 0;
    std::vector<std::string> warnings; // at most kMaxWarnings
    bool cancelled = false;
    double elapsed = 0;
    int64_t fileSizeTotal = 0;
    std::vector<SpaceCategory> savedCategories; // by size, largest first

    static constexpr size_t kMaxWarnings = 20;

    // Recomputes the category totals and the total size from `files`.
    void rebuildStatistics();
    // Appends "<name>：<description>" while fewer than kMaxWarnings lines exist.
    void addWarning(std::string_view name, std::string_view description);
};

// "<last path component>：<description>"
std::string warningLine(std::string_view name, std::string_view description);
