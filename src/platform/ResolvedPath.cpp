#include "platform/ResolvedPath.h"

#include "platform/Errors.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <linux/openat2.h>
#include <memory>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// True when the kernel finds the path without meeting a link; false when it met one or
// cannot tell (an old kernel, a missing component), which realpath then settles.
bool resolvesWithoutLinks(const std::string& path)
{
#ifdef SYS_openat2
    open_how how{};
    how.flags = O_PATH | O_CLOEXEC;
    how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    long fd = syscall(SYS_openat2, AT_FDCWD, path.c_str(), &how, sizeof how);
    if (fd < 0) return false;
    close(static_cast<int>(fd));
    return true;
#else
    (void)path;
    return false;
#endif
}

} // namespace

bool isPlainAbsolutePath(const std::string& path)
{
    // The kernel sees the text up to a NUL: returned whole, it would name another file than
    // the one the system calls on it reach.
    if (path.empty() || path[0] != '/' || path.find('\0') != std::string::npos) return false;
    if (path == "/") return true;
    if (path.back() == '/') return false;
    size_t start = 1;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        std::string_view part(path.data() + start, end - start);
        if (part.empty() || part == "." || part == "..") return false;
        start = end + 1;
    }
    return true;
}

std::string resolvedPath(const std::string& path)
{
    if (isPlainAbsolutePath(path) && resolvesWithoutLinks(path)) return path;
    std::unique_ptr<char, decltype(&std::free)> resolved(realpath(path.c_str(), nullptr), &std::free);
    if (!resolved) throwErrno();
    return resolved.get();
}
