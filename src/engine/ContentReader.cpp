#include "engine/ContentReader.h"

#include "engine/CancellationError.h"
#include "platform/Errors.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <limits>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {
char* chunkBuffer()
{
    thread_local std::unique_ptr<char[]> buffer(new char[ContentReader::kReadSize]);
    return buffer.get();
}
} // namespace

ContentReader::ContentReader(const FileEntry& record, int64_t offset) : offset_(offset)
{
    fd_ = ::open(record.path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
        // A link in the last place is something other than the scanned file.
        if (errno == ELOOP) throw validationError();
        throwErrno();
    }
    struct stat info {};
    if (::fstat(fd_, &info) != 0) {
        int err = errno;
        ::close(fd_);
        throwPosix(err);
    }
    if (!S_ISREG(info.st_mode) || static_cast<int32_t>(info.st_dev) != record.device ||
        static_cast<uint64_t>(info.st_ino) != record.inode) {
        ::close(fd_);
        throw validationError();
    }
    if (record.size > kChunk) posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
}

ContentReader::~ContentReader()
{
    if (fd_ >= 0) ::close(fd_);
}

int ContentReader::release()
{
    int fd = fd_;
    fd_ = -1;
    return fd;
}

bool ContentReader::feed(Sha256& hash, int64_t limit, const std::stop_token& stop)
{
    char* buffer = chunkBuffer();
    while (offset_ < limit) {
        const int64_t chunkEnd = std::min(limit, offset_ + kChunk);
        bool first = true;
        while (offset_ < chunkEnd) {
            int64_t want = std::min(kReadSize, chunkEnd - offset_);
            ssize_t got = ::pread(fd_, buffer, static_cast<size_t>(want), offset_);
            if (got < 0) {
                if (errno == EINTR) continue;
                throwErrno();
            }
            if (got == 0) return false;
            if (first && stop.stop_requested()) throw CancellationError();
            first = false;
            hash.update(buffer, static_cast<size_t>(got));
            offset_ += got;
        }
    }
    return true;
}
