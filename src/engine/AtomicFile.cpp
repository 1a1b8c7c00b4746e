#include "engine/AtomicFile.h"

#include "platform/Errors.h"
#include "platform/FdCloser.h"
#include "platform/FolderNames.h"
#include "platform/FileWrites.h"
#include "platform/PathText.h"
#include "platform/RegularFile.h"

#include <cerrno>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <unordered_set>

namespace AtomicFile {

namespace {

// Temporary files of a writer killed before its rename. Callers hold the store's lock, so
// no live writer of this store can own one.
void removeLeftovers(const std::string& folder, const std::string& prefix)
{
    int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    FdCloser closer{fd};
    for (const std::string& entry : listFolder(fd).names)
        if (entry.size() == prefix.size() + 6 && entry.compare(0, prefix.size(), prefix) == 0)
            unlinkat(fd, entry.c_str(), 0);
}

// Leftovers come from writers killed in earlier runs; one look per store and process finds
// them all, since this process's own writers remove their temporaries on every failure.
bool firstWriteOf(const std::string& path)
{
    static std::mutex lock;
    static std::unordered_set<std::string> seen;
    std::lock_guard guard(lock);
    return seen.insert(path).second;
}

} // namespace

std::optional<std::string> read(const std::string& path)
{
    return RegularFile::read(path, RegularFile::kUnbounded, true);
}

namespace {

// The replaced file of the last write, kept under this name for the next one: reusing its
// inode spares the file system an allocation and a release per write, which file systems
// without a journal pay for with a scan of recently released inodes.
std::string spareOf(const std::string& folder, const std::string& name)
{
    return (folder == "/" ? "" : folder) + "/." + name + ".spare";
}

// A reader that opened the store before it was replaced (another running copy reads without
// the lock) may still be reading the spare; rewriting it would hand that reader a mix of two
// versions. A write lease is granted only while no other descriptor has the file open.
bool openedOnlyHere(int fd)
{
    // A lease broken in the short time it is held signals its holder: not with SIGIO,
    // which would end the process, but with a signal ignored by default.
    if (fcntl(fd, F_SETSIG, SIGURG) != 0 || fcntl(fd, F_SETLEASE, F_WRLCK) != 0) return false;
    fcntl(fd, F_SETLEASE, F_UNLCK);
    return true;
}

// Moves the spare to a fresh temporary name and opens it; -1 when there is no spare or it
// is not solely ours (a second link, say to the store itself after a crash). The caller
// writes over the old text from the start and cuts what is left: blocks rewritten in place
// cost less than blocks freed and allocated again.
int takeSpare(const std::string& spare, std::string& temp)
{
    static std::atomic<unsigned> counter{0};
    char suffix[8];
    snprintf(suffix, sizeof suffix, "s%05x", (static_cast<unsigned>(getpid()) * 131u + counter++) & 0xfffffu);
    temp.replace(temp.size() - 6, 6, suffix);
    auto solelyOurs = [](const struct stat& st) {
        return S_ISREG(st.st_mode) && st.st_nlink == 1 && st.st_uid == geteuid();
    };
    struct stat before {};
    if (lstat(spare.c_str(), &before) != 0) return -1;
    if (!solelyOurs(before)) {
        if (!S_ISDIR(before.st_mode)) unlink(spare.c_str()); // only the name goes
        return -1;
    }
    if (renameat2(AT_FDCWD, spare.c_str(), AT_FDCWD, temp.c_str(), RENAME_NOREPLACE) != 0) return -1;
    int fd = open(temp.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    struct stat info {};
    if (fd >= 0 && fstat(fd, &info) == 0 && solelyOurs(info) && info.st_ino == before.st_ino &&
        info.st_dev == before.st_dev && openedOnlyHere(fd))
        return fd;
    if (fd >= 0) close(fd);
    unlink(temp.c_str()); // only this name: any other link or open reader keeps its file
    return -1;
}

} // namespace

void replace(const std::string& path, std::string_view contents, Earlier earlier)
{
    const std::string folder = parentOf(path);
    const std::string name = lastComponent(path);
    std::string temp = (folder == "/" ? "" : folder) + "/." + name + ".tmp-XXXXXX";
    const std::string spare = spareOf(folder, name);
    const bool forget = earlier == Earlier::forgotten;

    if (firstWriteOf(path) || forget) removeLeftovers(folder, "." + name + ".tmp-");
    // The spare holds an earlier version: it goes at once rather than wait for reuse.
    if (forget) unlink(spare.c_str());
    int fd = forget ? -1 : takeSpare(spare, temp);
    const bool reused = fd >= 0;
    if (fd < 0) {
        temp.replace(temp.size() - 6, 6, "XXXXXX");
        fd = mkostemp(temp.data(), O_CLOEXEC);
    }
    if (fd < 0) throwErrno();
    try {
        writeAll(fd, contents);
        if (reused && ftruncate(fd, static_cast<off_t>(contents.size())) != 0) throwErrno();
        // Only the contents and the size change: fdatasync flushes both.
        if (fdatasync(fd) != 0) throwErrno();
        int rc = close(fd);
        fd = -1;
        if (rc != 0) throwErrno();
        // The file being replaced stays as the next spare (best effort).
        bool kept = !forget && link(path.c_str(), spare.c_str()) == 0;
        if (rename(temp.c_str(), path.c_str()) != 0) {
            int saved = errno;
            if (kept) unlink(spare.c_str());
            errno = saved;
            throwErrno();
        }
    } catch (...) {
        if (fd >= 0) close(fd);
        unlink(temp.c_str());
        throw;
    }
    syncFolder(folder);
}

std::optional<Version> version(const std::string& path)
{
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
    return Version{static_cast<int64_t>(info.st_dev), static_cast<int64_t>(info.st_ino), info.st_size,
                   info.st_mtim.tv_sec * 1000000000LL + info.st_mtim.tv_nsec,
                   info.st_ctim.tv_sec * 1000000000LL + info.st_ctim.tv_nsec, static_cast<int64_t>(info.st_nlink)};
}

} // namespace AtomicFile
