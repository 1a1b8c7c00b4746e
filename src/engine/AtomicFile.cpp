#include "engine/AtomicFile.h"

#include "engine/Errors.h"
#include "platform/RegularFile.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace AtomicFile {

namespace {


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

// Once the rename has happened the new contents are in place; a failed flush of the folder
// only weakens durability and must not be reported as a failed write.
void syncFolder(const std::string& folder)
{
    int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}

// Temporary files of a writer killed before its rename. Callers hold the store's lock, so
// no live writer of this store can own one.
void removeLeftovers(const std::string& folder, const std::string& prefix)
{
    DIR* dir = opendir(folder.c_str());
    if (!dir) return;
    while (dirent* e = readdir(dir)) {
        std::string_view entry(e->d_name);
        if (entry.size() == prefix.size() + 6 && entry.substr(0, prefix.size()) == prefix)
            unlinkat(dirfd(dir), e->d_name, 0);
    }
    closedir(dir);
}

} // namespace

std::optional<std::string> read(const std::string& path)
{
    return RegularFile::read(path, RegularFile::kUnbounded, true);
}

void replace(const std::string& path, std::string_view contents)
{
    const std::string folder = folderOf(path);
    auto slash = path.rfind('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string temp = (folder == "/" ? "" : folder) + "/." + name + ".tmp-XXXXXX";

    removeLeftovers(folder, "." + name + ".tmp-");
    int fd = mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) throwErrno();
    try {
        writeAll(fd, contents);
        if (fsync(fd) != 0) throwErrno();
        int rc = close(fd);
        fd = -1;
        if (rc != 0) throwErrno();
        if (rename(temp.c_str(), path.c_str()) != 0) throwErrno();
    } catch (...) {
        if (fd >= 0) close(fd);
        unlink(temp.c_str());
        throw;
    }
    syncFolder(folder);
}

std::string folderOf(const std::string& path)
{
    auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

} // namespace AtomicFile
