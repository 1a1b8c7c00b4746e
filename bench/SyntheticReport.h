#pragma once
// A scan report of made-up entries (nothing on disk), for timing and drawing the interface
// with many files: six kinds in turn, a thousand folders, sizes falling with the index.
#include "engine/ScanReport.h"

#include <cstdio>
#include <memory>

inline std::shared_ptr<ScanReport> syntheticScanReport(size_t count)
{
    auto report = std::make_shared<ScanReport>();
    report->files.reserve(count);
    const char* extensions[] = {"jpg", "mov", "mp3", "pdf", "zip", "dat"};
    for (size_t i = 0; i < count; ++i) {
        char path[160];
        std::snprintf(path, sizeof path, "/home/lin/Archive/folder-%03zu/sub/file-%07zu.%s", i % 997, i, extensions[i % 6]);
        auto size = static_cast<int64_t>((count - i) * 1000);
        report->files.emplace_back(path, size, 700000000.0 - double(i), 1, i + 1, size, std::nullopt);
    }
    report->inspected = static_cast<int64_t>(count);
    report->elapsed = 1.25;
    report->rebuildStatistics();
    return report;
}
