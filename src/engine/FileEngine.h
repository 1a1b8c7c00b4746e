#pragma once
#include "engine/FileEntry.h"
#include "engine/ScanReport.h"

#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <sys/stat.h>

namespace FileEngine {

// The record of a regular file; none for directories, links, devices, pipes and sockets.
std::optional<FileEntry> entry(const std::string& path, const struct stat& info);

// realpath of the path: every link, "." and ".." resolved. Throws the POSIX error.
std::string canonicalURL(const std::string& path);

// canonicalURL, or the path as given when it cannot be resolved.
std::string canonicalOrSame(const std::string& path);

// The record of the path now: its resolved path with the type and dates of the named item
// itself (a link yields none). Throws the POSIX error.
std::optional<FileEntry> snapshot(const std::string& path);

// Refuses (validationError) unless the record's file is still the same file, at the same
// resolved place, strictly below the resolved root. System errors pass through.
void validate(const FileEntry& record, const std::string& root);

using ScanProgressHandler = std::function<void(const ScanProgress&)>;

// Walks the folder without following links or entering packages and skipped folders.
// Never throws; a stop request ends the walk early with what was found.
ScanReport scan(const std::string& root, const ScanProgressHandler& progress = {}, std::stop_token stop = {});

// Whether a directory with this name is presented as a single file (a package).
bool isPackageName(std::string_view name);

} // namespace FileEngine
