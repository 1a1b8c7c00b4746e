#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Whole-file reads and replacements of the small store files.
namespace AtomicFile {

// The file's whole content, or none when nothing exists at the path. Anything but a regular
// file (a pipe would block the reader forever) is refused as RegularFile::read refuses it;
// other failures throw std::system_error with errno.
std::optional<std::string> read(const std::string& path);

// Replaces the file at path with contents: a temporary file in the same folder is written,
// flushed to disk, renamed over the path, and the folder is flushed, so a crash or power
// loss leaves either the old file or the complete new one. On a failure before the rename
// the temporary file is removed and the old file is untouched. Throws std::system_error.
// `earlier`: what becomes of the replaced version. Kept, it is the spare the next write
// reuses; forgotten, no earlier version stays in the folder: no spare, no temporary a
// killed writer left.
enum class Earlier { spare, forgotten };
void replace(const std::string& path, std::string_view contents, Earlier earlier = Earlier::spare);

// What tells one version of a store file from another: device, inode, size, modification
// and change times, links. A writer replaces the file with another inode or rewrites a
// kept one, which changes its times. None when no regular file is at the path.
using Version = std::array<int64_t, 6>;
std::optional<Version> version(const std::string& path);

} // namespace AtomicFile
