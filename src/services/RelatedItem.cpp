#include "services/RelatedItem.h"

#include "engine/Dates.h"
#include "engine/FileEngine.h"
#include "engine/FileEntry.h"
#include "platform/Errors.h"
#include "platform/FdCloser.h"
#include "platform/FolderNames.h"
#include "services/MaintenanceEngine.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <numeric>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utf8proc.h>
#include <vector>

namespace {

std::string timeField(const timespec& ts)
{
    return std::to_string(static_cast<int64_t>(ts.tv_sec)) + ":" + std::to_string(static_cast<int64_t>(ts.tv_nsec));
}

std::string signatureLine(const std::string& relative, const struct stat& st)
{
    std::string line = relative;
    line += '|';
    line += identityString(st);
    line += '|';
    line += std::to_string(static_cast<uint16_t>(st.st_mode));
    line += '|';
    line += std::to_string(static_cast<int64_t>(st.st_size));
    line += '|';
    line += timeField(st.st_mtim);
    line += '|';
    line += timeField(st.st_ctim);
    return line;
}

// Lines compare by their canonically composed form, so equivalent spellings of a name sort
// alike; ties and text that is not UTF-8 fall back to the bytes.
std::string sortKey(const std::string& line)
{
    bool ascii = std::all_of(line.begin(), line.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (ascii) return line;
    utf8proc_uint8_t* composed = nullptr;
    utf8proc_ssize_t n = utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(line.data()),
                                      static_cast<utf8proc_ssize_t>(line.size()), &composed,
                                      static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPOSE));
    if (n < 0) return line;
    std::string key(reinterpret_cast<char*>(composed), static_cast<size_t>(n));
    std::free(composed);
    return key;
}

// A folder still to be read: its path below the signed folder and the identity its line
// recorded, which the folder opened later must still have.
struct PendingFolder {
    std::string relative;
    dev_t device;
    ino_t inode;
};

// Longest piece of a relative path opened at once; any path below the signed folder opens,
// however deep, piece by piece.
constexpr size_t kPathPiece = 2048;

// Opens the folder at `relative` ("/a/b") below `rootFd`, the last component not through a
// link; -1 with errno set on failure.
int openBelow(int rootFd, const std::string& relative)
{
    int fd = -1;
    size_t pos = 1;
    while (pos < relative.size()) {
        size_t end = relative.size();
        if (end - pos > kPathPiece) {
            end = relative.rfind('/', pos + kPathPiece);
            if (end == std::string::npos || end <= pos) {
                if (fd >= 0) close(fd);
                errno = ENAMETOOLONG;
                return -1;
            }
        }
        std::string piece = relative.substr(pos, end - pos);
        int next = openat(fd >= 0 ? fd : rootFd, piece.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        int saved = errno;
        if (fd >= 0) close(fd);
        if (next < 0) {
            errno = saved;
            return -1;
        }
        fd = next;
        pos = end + 1;
    }
    return fd;
}

// A bind mount of the same file system keeps the device number; the kernel marks its root.
bool isMountRoot(int folderFd, const std::string& name)
{
    struct statx info {};
    if (statx(folderFd, name.c_str(), AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT, STATX_TYPE, &info) != 0)
        throw MaintenanceEngine::error("关联目录包含不可读取或云占位项目，停止处理。");
    return (info.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) && (info.stx_attributes & STATX_ATTR_MOUNT_ROOT);
}

} // namespace

std::string RelatedItem::treeSignature(const std::string& folder, std::stop_token stop,
                                       const std::optional<std::string>& identity)
{
    int rootFd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (rootFd < 0) throw MaintenanceEngine::error("无法遍历关联目录。");
    FdCloser rootGuard{rootFd};
    struct stat rootSt {};
    if (fstat(rootFd, &rootSt) != 0) throw MaintenanceEngine::error("无法遍历关联目录。");
    // The folder opened must be the one examined before, not one put in its place since.
    if (identity && identityString(rootSt) != *identity)
        throw MaintenanceEngine::error("无法遍历关联目录。");

    // Each folder's names are read and its descriptor closed before any subfolder is opened,
    // so the descriptors in use stay the same however deep the tree goes.
    std::vector<PendingFolder> pending{{"", rootSt.st_dev, rootSt.st_ino}};
    std::vector<std::string> lines;
    while (!pending.empty()) {
        PendingFolder current = std::move(pending.back());
        pending.pop_back();
        int fd = current.relative.empty() ? fcntl(rootFd, F_DUPFD_CLOEXEC, 0) : openBelow(rootFd, current.relative);
        if (fd < 0) throwPosix(errno);
        FdCloser folder{fd};
        struct stat folderSt {};
        if (fstat(fd, &folderSt) != 0 || folderSt.st_dev != current.device || folderSt.st_ino != current.inode)
            throw MaintenanceEngine::error("关联目录包含不可读取或云占位项目，停止处理。");

        // Enough names to pass the limit: the rest cannot change the outcome.
        FolderNames listing = listFolder(fd, kSignatureEntryLimit - lines.size() + 1);
        if (listing.error != 0) throwPosix(listing.error);

        for (const auto& name : listing.names) {
            if (stop.stop_requested()) throwPosix(ECANCELED);
            if (lines.size() >= kSignatureEntryLimit)
                throw MaintenanceEngine::error("关联目录超过 10 万项，请使用 Finder 手动处理。");
            struct stat st {};
            if (fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
                throw MaintenanceEngine::error("关联目录包含不可读取或云占位项目，停止处理。");
            std::string relative = current.relative + "/" + name;
            lines.push_back(signatureLine(relative, st));
            // A link's line is written but the link is not entered.
            if (S_ISDIR(st.st_mode)) {
                // Another file system mounted inside is neither signed nor ever moved along.
                if (st.st_dev != rootSt.st_dev || isMountRoot(fd, name))
                    throw MaintenanceEngine::error("关联目录中有其他文件系统的挂载点，停止处理。");
                pending.push_back({std::move(relative), st.st_dev, st.st_ino});
            }
        }
    }

    std::vector<std::string> keys;
    keys.reserve(lines.size());
    for (const auto& line : lines) keys.push_back(sortKey(line));
    std::vector<size_t> order(lines.size());
    std::iota(order.begin(), order.end(), size_t{0});
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        if (keys[a] != keys[b]) return keys[a] < keys[b];
        return lines[a] < lines[b];
    });

    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1) throwPosix(ENOMEM);
    for (size_t i = 0; i < order.size(); ++i) {
        if (i > 0) EVP_DigestUpdate(ctx.get(), "\n", 1);
        const std::string& line = lines[order[i]];
        EVP_DigestUpdate(ctx.get(), line.data(), line.size());
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(ctx.get(), digest, &length) != 1) throwPosix(EIO);
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", digest[i]);
        hex += pair;
    }
    return hex;
}

RelatedItem RelatedItem::snapshot(const std::string& path, const std::string& label, std::stop_token stop)
{
    std::string canonical = FileEngine::canonicalURL(path);
    if (canonical != path) throw MaintenanceEngine::error("关联路径包含符号链接，停止处理。");
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0 || !(S_ISREG(st.st_mode) || S_ISDIR(st.st_mode)))
        throw MaintenanceEngine::error("不处理云占位、链接或特殊文件。");

    RelatedItem item;
    item.path = path;
    item.label = label;
    item.identity = identityString(st);
    item.modified = dateFromTimespec(st.st_mtim);
    item.changed = dateFromTimespec(st.st_ctim);
    item.directory = S_ISDIR(st.st_mode);
    item.size = item.directory ? 0 : static_cast<int64_t>(st.st_size);
    if (item.directory) item.signature = treeSignature(path, stop, item.identity);
    return item;
}
