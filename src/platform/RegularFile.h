#pragma once
#include <cstddef>
#include <limits>
#include <optional>
#include <string>

// Reading files that anyone may have put in place: a pipe, socket or device at the path is
// never opened in a way that could wait or act on it, and nothing larger than asked is read.
namespace RegularFile {

inline constexpr size_t kUnbounded = std::numeric_limits<size_t>::max() - 1;

// The whole content of the regular file at `path`, or none when nothing exists there. The
// file is opened non-blocking and checked before reading; a link at the path itself is not
// followed unless `followLink`. Throws std::system_error(EISDIR) for a folder, TessynError ("TessynStore", 1, "不是普通文件。") for
// anything but a regular file, std::system_error(EFBIG) past `limit` bytes, and
// std::system_error with errno for other failures.
std::optional<std::string> read(const std::string& path, size_t limit = kUnbounded, bool followLink = false);

} // namespace RegularFile
