#include "HeldLock.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

HeldLock::HeldLock(const std::string& storePath, std::chrono::milliseconds holdFor)
{
    const std::string lockPath = storePath + ".lock";
    int ready[2], release[2];
    if (pipe2(ready, O_CLOEXEC) != 0 || pipe2(release, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        close(ready[0]);
        close(release[1]);
        int fd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0 || flock(fd, LOCK_EX) != 0) _exit(1);
        char c = 1;
        if (write(ready[1], &c, 1) != 1) _exit(2);
        // Released when the parent closes its end, or when the time is up.
        pollfd closed{release[0], POLLIN, 0};
        while (poll(&closed, 1, static_cast<int>(holdFor.count())) < 0 && errno == EINTR) {}
        _exit(0);
    }
    close(ready[1]);
    close(release[0]);
    release_ = release[1];
    char c = 0;
    ssize_t n;
    while ((n = read(ready[0], &c, 1)) < 0 && errno == EINTR) {}
    close(ready[0]);
    if (n != 1) throw std::runtime_error("the lock holder could not take the lock");
}

HeldLock::~HeldLock()
{
    close(release_);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {}
}
