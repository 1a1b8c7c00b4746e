#include "engine/LocalStoreLock.h"

#include "engine/Errors.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace LocalStoreLock {

int acquire(const std::string& storePath)
{
    const std::string lockPath = storePath + ".lock";
    int fd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) throwErrno();
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
