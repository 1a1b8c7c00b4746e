#include "platform/RegularFile.h"

#include "platform/Errors.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Everything left to read, or none past `limit` bytes: the size measured first, then the
// bytes themselves, so a file that grows while it is read stops at the limit too.
std::optional<std::string> contentsOf(int fd, const struct stat& info, size_t limit)
{
    if (static_cast<uint64_t>(info.st_size) > limit) return std::nullopt;
    std::string contents;
    contents.reserve(static_cast<size_t>(info.st_size));
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            throwErrno();
        }
        if (n == 0) return contents;
        if (static_cast<size_t>(n) > limit - contents.size()) return std::nullopt;
        contents.append(buffer, static_cast<size_t>(n));
    }
}

// A descriptor opened without waiting on a pipe or device, closed when it goes; -1 with errno
// set when the open failed.
struct Descriptor {
    int fd;
    Descriptor(const std::string& path, bool followLink)
        : fd(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW)))
    {
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor()
    {
        if (fd >= 0) close(fd);
    }

    struct stat status() const
    {
        struct stat info {};
        if (fstat(fd, &info) != 0) throwErrno();
        return info;
    }

    std::optional<std::string> contents(const struct stat& info, size_t limit) const
    {
        return contentsOf(fd, info, limit);
    }
};

} // namespace

namespace RegularFile {

std::optional<std::string> read(const std::string& path, size_t limit, bool followLink)
{
    Descriptor file(path, followLink);
    if (file.fd < 0) {
        if (errno == ENOENT) return std::nullopt;
        // O_NOFOLLOW on a link: not a regular file either.
        if (errno == ELOOP && !followLink) throw TessynError("TessynStore", 1, "不是普通文件。");
        throwErrno();
    }
    struct stat info = file.status();
    if (S_ISDIR(info.st_mode)) throwPosix(EISDIR);
    if (!S_ISREG(info.st_mode)) throw TessynError("TessynStore", 1, "不是普通文件。");
    std::optional<std::string> contents = file.contents(info, limit);
    if (!contents) throwPosix(EFBIG);
    return contents;
}

std::optional<std::string> readSame(const std::string& path, const Identity& expected, size_t limit)
{
    Descriptor file(path, false);
    if (file.fd < 0) throwErrno();
    struct stat info = file.status();
    Identity opened{static_cast<int32_t>(info.st_dev), static_cast<uint64_t>(info.st_ino)};
    if (!S_ISREG(info.st_mode) || opened != expected) return std::nullopt;
    return file.contents(info, limit);
}

std::optional<std::string> readOpened(int fd, size_t limit)
{
    struct stat info {};
    if (fstat(fd, &info) != 0) throwErrno();
    if (!S_ISREG(info.st_mode)) return std::nullopt;
    return contentsOf(fd, info, limit);
}

} // namespace RegularFile
