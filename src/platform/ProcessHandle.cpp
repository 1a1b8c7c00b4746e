#include "platform/ProcessHandle.h"

#include "csystem/csystem.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
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
    if (pid <= 0) {
        errno = ESRCH;
        return nullptr;
    }
    int fd = static_cast<int>(syscall(SYS_pidfd_open, static_cast<pid_t>(pid), 0u));
    if (fd < 0) return nullptr;
    // pidfd_open sets close-on-exec itself; this only guards older kernels.
    fcntl(fd, F_SETFD, FD_CLOEXEC);
    return std::shared_ptr<ProcessHandle>(new ProcessHandle(fd, pid));
}

std::optional<std::string> ProcessHandle::readProcFile(const std::string& path)
{
    char buf[4096 + 1];
    int64_t used = ts_read_small_file(path.c_str(), buf, sizeof buf);
    if (used < 0) return std::nullopt;
    return std::string(buf, static_cast<size_t>(used));
}

std::optional<uint64_t> ProcessHandle::readStartTime(int32_t pid)
{
    if (pid <= 0) return std::nullopt;
    auto text = readProcFile("/proc/" + std::to_string(pid) + "/stat");
    if (!text) return std::nullopt;
    const char* buf = text->c_str();
    // The command name may hold spaces and parentheses: fields resume after the last ')'.
    // The start time is field 22, the 20th after the name.
    const char* p = std::strrchr(buf, ')');
    if (!p) return std::nullopt;
    ++p;
    for (int field = 3; field < 22; ++field) {
        while (*p == ' ') ++p;
        while (*p && *p != ' ') ++p;
        if (!*p) return std::nullopt;
    }
    while (*p == ' ') ++p;
    if (*p < '0' || *p > '9') return std::nullopt;
    uint64_t value = 0;
    while (*p >= '0' && *p <= '9') {
        if (value > (UINT64_MAX - 9) / 10) return std::nullopt;
        value = value * 10 + static_cast<uint64_t>(*p++ - '0');
    }
    if (*p != ' ' && *p != '\n') return std::nullopt;
    return value;
}

std::optional<uint64_t> ProcessHandle::startTime() const
{
    auto value = readStartTime(pid_);
    // Read through the pid: it is this process's only while this process has not ended.
    if (hasExited()) return std::nullopt;
    return value;
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
