#include "platform/FileWrites.h"

#include "platform/Errors.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

void writeAll(int fd, std::string_view contents)
{
    const char* p = contents.data();
    size_t left = contents.size();
    while (left > 0) {
        ssize_t n = write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            throwErrno();
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
}

void syncFolder(const std::string& folder)
{
    int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}
