#pragma once
#include "engine/FileEntry.h"

#include <cstdint>
#include <string>
#include <vector>

// Files with identical content.
struct DuplicateGroup {
    std::string id;               // SHA-256 of the content, 64 lower-case hex digits
    std::vector<FileEntry> files; // at least two, ascending by path

    // The copy proposed for keeping: the shortest path in bytes, then the smallest path,
    // then the earliest in the group. Requires at least one file.
    const FileEntry& suggestedKeep() const;

    bool operator==(const DuplicateGroup&) const = default;
};

struct DuplicateReport {
    std::vector<DuplicateGroup> groups; // by the size of each group's first file, largest first
    std::vector<std::string> warnings;  // at most kMaxWarnings (ScanReport.h), in path order of the files
    bool cancelled = false;
};

struct DuplicateProgress {
    int64_t completed = 0; // files hashed or given up so far
    int64_t total = 0;     // files to hash
    std::string current;   // name of the file just handled; empty in the first and last report
    bool operator==(const DuplicateProgress&) const = default;
};
