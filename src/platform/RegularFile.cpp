#include "platform/RegularFile.h"

#include "platform/Errors.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace RegularFile {

std::optional<std::string> read(const std::string& path, size_t limit, bool followLink)
{
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW));
    if (fd < 0) {
        if (errno == ENOENT) return std::nullopt;
        // O_NOFOLLOW on a link: not a regular file either.
        if (errno == ELOOP && !followLink) throw TessynError("TessynStore", 1, "不是普通文件。");
        throwErrno();
    }
    struct Closer {
        int fd;
        ~Closer() { close(fd); }
    } closer{fd};
    struct stat info {};
    if (fstat(fd, &info) != 0) throwErrno();
    if (S_ISDIR(info.st_mode)) throwPosix(EISDIR);
    if (!S_ISREG(info.st_mode)) throw TessynError("TessynStore", 1, "不是普通文件。");
    if (static_cast<uint64_t>(info.st_size) > limit) throwPosix(EFBIG);
    std::string contents;
    contents.reserve(static_cast<size_t>(info.st_size));
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            throwErrno();
        }
        if (n == 0) break;
        // A file that grows while it is read stops at the limit too.
        if (static_cast<size_t>(n) > limit - contents.size()) throwPosix(EFBIG);
        contents.append(buffer, static_cast<size_t>(n));
    }
    return contents;
}

} // namespace RegularFile
