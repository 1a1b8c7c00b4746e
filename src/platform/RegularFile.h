#pragma once
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>

// Reading files that anyone may have put in place: a pipe, socket or device at the path is
// never opened in a way that could wait or act on it, and nothing larger than asked is read.
namespace RegularFile {

inline constexpr size_t kUnbounded = std::numeric_limits<size_t>::max() - 1;

// The file object a path named when it was measured: device (as the records keep it) and inode.
struct Identity {
    int32_t device = 0;
    uint64_t inode = 0;
    bool operator==(const Identity&) const = default;
};

// The whole content of the regular file at `path`, or none when nothing exists there. The
// file is opened non-blocking and checked before reading; a link at the path itself is not
// followed unless `followLink`. Throws std::system_error(EISDIR) for a folder, TessynError ("TessynStore", 1, "不是普通文件。") for
// anything but a regular file, std::system_error(EFBIG) past `limit` bytes, and
// std::system_error with errno for other failures.
std::optional<std::string> read(const std::string& path, size_t limit = kUnbounded, bool followLink = false);

// The content of the file at `path` only while it is still `expected`: opened as above without
// following a link, the descriptor itself must be a regular file with that identity and hold
// at most `limit` bytes, also if it grew after it was measured. None when it is not; throws
// std::system_error with errno when it cannot be opened (a link: ELOOP) or read.
std::optional<std::string> readSame(const std::string& path, const Identity& expected, size_t limit);

// The content of a descriptor the caller opened (non-blocking, as above) and may hold a lock
// on: none when it is not a regular file or holds more than `limit` bytes. Throws
// std::system_error with errno when it cannot be read.
std::optional<std::string> readOpened(int fd, size_t limit);

} // namespace RegularFile
