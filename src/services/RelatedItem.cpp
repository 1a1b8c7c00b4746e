#include "services/RelatedItem.h"

#include "engine/Dates.h"
#include "engine/Errors.h"
#include "engine/FileEngine.h"
#include "engine/FileEntry.h"
#include "services/MaintenanceEngine.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
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
    line += identityString(static_cast<int32_t>(st.st_dev), static_cast<uint64_t>(st.st_ino));
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

// Closes every folder still open when the walk ends, however it ends.
struct OpenFolders {
    struct Frame {
        DIR* dir;
        std::string relative;
    };
    std::vector<Frame> frames;
    ~OpenFolders()
    {
        for (auto& f : frames) closedir(f.dir);
    }
};

} // namespace

std::string RelatedItem::treeSignature(const std::string& folder, std::stop_token stop)
{
    int rootFd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    DIR* root = rootFd >= 0 ? fdopendir(rootFd) : nullptr;
    if (!root) {
        if (rootFd >= 0) close(rootFd);
        throw MaintenanceEngine::error("无法遍历关联目录。");
    }

    OpenFolders open;
    open.frames.push_back({root, ""});
    std::vector<std::string> lines;
    int failure = 0;
    while (!open.frames.empty()) {
        DIR* dir = open.frames.back().dir;
        errno = 0;
        dirent* e = readdir(dir);
        if (!e) {
            if (errno != 0) {
                failure = errno;
                break;
            }
            closedir(dir);
            open.frames.pop_back();
            continue;
        }
        const char* name = e->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;

        if (stop.stop_requested()) throwPosix(ECANCELED);
        if (lines.size() >= kSignatureEntryLimit)
            throw MaintenanceEngine::error("关联目录超过 10 万项，请使用 Finder 手动处理。");
        struct stat st {};
        if (fstatat(dirfd(dir), name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            throw MaintenanceEngine::error("关联目录包含不可读取或云占位项目，停止处理。");
        std::string relative = open.frames.back().relative + "/" + name;
        lines.push_back(signatureLine(relative, st));

        if (S_ISDIR(st.st_mode)) {
            // O_NOFOLLOW: a folder swapped for a link meanwhile is not entered.
            int fd = openat(dirfd(dir), name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            DIR* child = fd >= 0 ? fdopendir(fd) : nullptr;
            if (!child) {
                failure = errno;
                if (fd >= 0) close(fd);
                break;
            }
            open.frames.push_back({child, std::move(relative)});
        }
    }
    if (failure != 0) throwPosix(failure);

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
    item.identity = identityString(static_cast<int32_t>(st.st_dev), static_cast<uint64_t>(st.st_ino));
    item.modified = dateFromTimespec(st.st_mtim);
    item.changed = dateFromTimespec(st.st_ctim);
    item.directory = S_ISDIR(st.st_mode);
    item.size = item.directory ? 0 : static_cast<int64_t>(st.st_size);
    if (item.directory) item.signature = treeSignature(path, stop);
    return item;
}
