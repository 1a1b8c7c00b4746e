#include "platform/FolderNames.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Reads `dir` to its end, or to `limit` names, and closes it.
FolderNames readNames(DIR* dir, size_t limit)
{
    FolderNames listing;
    if (!dir) {
        listing.error = errno;
        return listing;
    }
    while (listing.names.size() < limit) {
        errno = 0;
        const dirent* entry = readdir(dir);
        if (!entry) {
            listing.error = errno;
            break;
        }
        const char* name = entry->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
        listing.names.emplace_back(name);
    }
    closedir(dir);
    return listing;
}

} // namespace

FolderNames listFolder(const std::string& path, size_t limit) { return readNames(opendir(path.c_str()), limit); }

FolderNames listFolder(int folderFd, size_t limit)
{
    // The stream owns what it reads from, so it gets a copy of the descriptor; the copy shares
    // the read position, hence the rewind.
    int copy = fcntl(folderFd, F_DUPFD_CLOEXEC, 0);
    if (copy < 0) return {{}, errno};
    DIR* dir = fdopendir(copy);
    if (!dir) {
        int error = errno;
        close(copy);
        return {{}, error};
    }
    rewinddir(dir);
    return readNames(dir, limit);
}
