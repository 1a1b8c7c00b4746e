#pragma once
#include "engine/DuplicateReport.h"
#include "engine/FileEntry.h"

#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <unordered_set>
#include <vector>

namespace DuplicateEngine {

using ProgressHandler = std::function<void(const DuplicateProgress&)>;

// Groups the records by identical content. Only files whose size another file shares are
// read, each file identity at most once (hard links count once), empty files never.
// Progress is reported on the calling thread: first (0, total, ""), then at most every
// 0.2 s, last (completed, total, ""). Never throws; per-file problems become warnings, and a
// stop request ends the search with the groups found among the files hashed so far.
DuplicateReport find(const std::vector<FileEntry>& files, const std::string& root,
                     const ProgressHandler& progress = {}, std::stop_token stop = {});

// The SHA-256 of the record's content as 64 lower-case hex digits, taken between two
// validations of the record against the root. Throws the validation error, POSIX errors
// and CancellationError.
std::string digest(const FileEntry& record, const std::string& root, std::stop_token stop = {});

// Why the selected copies of the group may not be moved, or none when they may: at least
// one file must stay, and the kept file and every selected copy must still hold the
// group's content. Never throws.
std::optional<std::string> deletionError(const DuplicateGroup& group,
                                         const std::unordered_set<std::string>& selection,
                                         const std::string& root, std::stop_token stop = {});

} // namespace DuplicateEngine
