#include "engine/FileEngine.h"

#include "engine/Dates.h"
#include "platform/Errors.h"
#include "platform/ResolvedPath.h"

#include <cerrno>
#include <cstdlib>
#include <memory>

namespace FileEngine {

std::optional<FileEntry> entry(const std::string& path, const struct stat& info)
{
    // Linux has no cloud placeholders, so only the type decides.
    if ((info.st_mode & S_IFMT) != S_IFREG) return std::nullopt;
    return FileEntry(path, static_cast<int64_t>(info.st_size), dateFromTimespec(info.st_mtim),
                     static_cast<int32_t>(info.st_dev), static_cast<uint64_t>(info.st_ino),
                     static_cast<int64_t>(info.st_blocks) * 512, dateFromTimespec(info.st_ctim));
}

std::string canonicalURL(const std::string& path)
{
    return resolvedPath(path);
}

std::string canonicalOrSame(const std::string& path)
{
    try {
        return canonicalURL(path);
    } catch (const std::exception&) {
        return path;
    }
}

std::optional<FileEntry> snapshot(const std::string& path)
{
    std::string resolved = canonicalURL(path);
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0) throwErrno();
    return entry(resolved, info);
}

void validate(const FileEntry& record, const std::string& root)
{
    std::string resolvedPath = canonicalURL(record.path);
    std::string resolvedRoot = canonicalURL(root);
    if (resolvedPath != record.path) throw validationError();
    std::string prefix = resolvedRoot == "/" ? "/" : resolvedRoot + "/";
    if (resolvedPath.compare(0, prefix.size(), prefix) != 0 || resolvedPath.size() <= prefix.size())
        throw validationError();
    // The path is already known to be its own resolved form, so one lstat gives what a
    // fresh snapshot would, without resolving it a second time.
    struct stat info {};
    if (lstat(record.path.c_str(), &info) != 0) throwErrno();
    auto now = entry(record.path, info);
    if (!now) throw validationError();
    if (now->device != record.device || now->inode != record.inode || now->size != record.size ||
        now->modified != record.modified || now->changed != record.changed)
        throw validationError();
}

} // namespace FileEngine
