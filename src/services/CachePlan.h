#pragma once
#include "platform/Errors.h"
#include "engine/FileActionEngine.h"
#include "engine/FileEntry.h"
#include "engine/Operation.h"
#include "engine/OperationJournal.h"
#include "engine/ScanReport.h"
#include "services/InstalledApp.h"

#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <unordered_set>
#include <vector>

// The cache files of one application that are old enough to be offered for the Trash.
struct CachePlan {
    std::string root;              // the exact cache folder of the application's rule
    ScanReport report;             // the scan of that folder, every file
    double cutoff = 0;             // seconds since 2001; files modified strictly before it are offered
    std::vector<FileEntry> files;  // the report's files older than cutoff, in report order
};

namespace MaintenanceEngine {

// How old a cache file must be to be offered: 7 days.
inline constexpr double kCacheAge = 604800;

// The bundle identifiers whose cache folder is known.
const std::unordered_set<std::string>& cacheRules();

// The cache folder of a ruled identifier under `home`: "Library/Caches/<identifier>", except
// Discord's "Library/Application Support/discord/Cache". None for an identifier without a rule.
std::optional<std::string> cacheFolder(const std::string& bundleID, const std::string& home);

// The files of `files` modified strictly before `cutoff`, in their order.
std::vector<FileEntry> filesBefore(const std::vector<FileEntry>& files, double cutoff);

// Scans the application's cache folder under the (canonical) home folder and offers the files
// older than 7 days before `now`. Refuses an application without a rule and a folder that is,
// or lies below, a symbolic link; a missing folder fails with its system error. Slow: run it
// off the main thread.
CachePlan cachePlan(const InstalledApp& app, const std::string& home, double now, std::stop_token stop = {});

// The files of one clean-up moved as one run (FileActionEngine::MoveRun: one journal
// sequence, one Trash mover). Before each move the rule and its folder must still be the
// plan's and the file still older than the cut-off; the move itself re-checks the file
// against its scan record. The application and the plan must outlive it.
class CacheClean {
public:
    CacheClean(const InstalledApp& app, const CachePlan& plan, std::string home, OperationJournal* journal);
    // Moves one file of the plan, refused when `isRunning` (if given) answers true after the
    // rule's check. Its record is appended to records(). Never throws.
    void clean(const FileEntry& file, const std::function<bool()>& isRunning = {}, std::stop_token stop = {});
    // Writes the outcome of the last move to the journal (see MoveRun).
    void settle() { run_.settle(); }
    // How many records, from the first, are final: their outcome is in the journal.
    size_t settled() const { return run_.settled(); }
    std::vector<Operation>& records() { return run_.records(); }

private:
    const InstalledApp& app_;
    const CachePlan& plan_;
    std::string home_;
    FileActionEngine::MoveRun run_;
};

// Moves one file of the plan to the Trash through the journal after checking that the rule
// and its folder are still the plan's, that the file is still older than the cut-off and that
// the application is not running; the move itself re-checks the file against its scan record.
// Never throws: every refusal is a failed record.
Operation cleanCacheFile(const FileEntry& file, const InstalledApp& app, const CachePlan& plan,
                         const std::string& home, const std::function<bool()>& isRunning,
                         OperationJournal* journal, std::stop_token stop = {});

} // namespace MaintenanceEngine
