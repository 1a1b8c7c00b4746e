#include "platform/ProcessHandle.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

#ifndef SYS_pidfd_open
#define SYS_pidfd_open 434
#endif
#ifndef SYS_pidfd_send_signal
#define SYS_pidfd_send_signal 424
#endif

std::shared_ptr<ProcessHandle> ProcessHandle::open(int32_t pid)
{
    if (pid <= 0) return nullptr;
    int fd = static_cast<int>(syscall(SYS_pidfd_open, static_cast<pid_t>(pid), 0u));
    if (fd < 0) return nullptr;
    // pidfd_open sets close-on-exec itself; this only guards older kernels.
    fcntl(fd, F_SETFD, FD_CLOEXEC);
    return std::shared_ptr<ProcessHandle>(new ProcessHandle(fd, pid));
}

ProcessHandle::~ProcessHandle() { close(fd_); }

bool ProcessHandle::hasExited() const
{
    pollfd p{fd_, POLLIN, 0};
    int n;
    do {
        n = poll(&p, 1, 0);
    } while (n < 0 && errno == EINTR);
    return n > 0 && (p.revents & (POLLIN | POLLHUP | POLLERR)) != 0;
}

bool ProcessHandle::terminate() const
{
    return syscall(SYS_pidfd_send_signal, fd_, SIGTERM, nullptr, 0u) == 0;
}
