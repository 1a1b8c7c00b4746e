#include "engine/LocalStoreLock.h"

#include "platform/Errors.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace LocalStoreLock {

int acquire(const std::string& storePath)
{
    const std::string lockPath = storePath + ".lock";
    // A device or pipe put in the lock file's place is never acted on.
    int fd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd < 0) throwErrno();
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        throw TessynError("TessynStore", 1, "不是普通文件。");
    }
    int rc;
    do {
        rc = flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        int err = errno;
        close(fd);
        throwPosix(err);
    }
    return fd;
}

void release(int fd) noexcept
{
    flock(fd, LOCK_UN);
    close(fd);
}

} // namespace LocalStoreLock
