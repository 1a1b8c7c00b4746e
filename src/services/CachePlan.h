#pragma once
#include "engine/FileEntry.h"
#include "engine/ScanReport.h"

#include <string>
#include <vector>

// The cache files of one application that are old enough to be offered for the Trash.
struct CachePlan {
    std::string root;              // the exact cache folder of the application's rule
    ScanReport report;             // the scan of that folder, every file
    double cutoff = 0;             // seconds since 2001; files modified strictly before it are offered
    std::vector<FileEntry> files;  // the report's files older than cutoff, in report order
};
