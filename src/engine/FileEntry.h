#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

struct stat;

// One scanned regular file, taken from lstat. Kept small: millions of these live at once,
// so name and extension are views into the path and the folded search key is stored only
// when it differs from the path.
struct FileEntry {
    std::string path;
    int64_t size = 0;
    double modified = 0;
    int32_t device = 0;
    uint64_t inode = 0;
    int64_t allocated = 0;
    std::optional<double> changed;

    FileEntry() = default;
    FileEntry(const FileEntry& other);
    FileEntry& operator=(const FileEntry& other);
    FileEntry(FileEntry&&) noexcept = default;
    FileEntry& operator=(FileEntry&&) noexcept = default;
    // Builds the record and its search key from the given values.
    FileEntry(std::string path, int64_t size, double modified, int32_t device, uint64_t inode,
              int64_t allocated, std::optional<double> changed);

    std::string_view name() const;
    // Lower-cased text after the last "." of the name; empty without one.
    std::string extensionLowercase() const;
    std::string_view searchKey() const { return foldedKey_ ? std::string_view(*foldedKey_) : std::string_view(path); }
    // "<device>:<inode>": names one file object on one volume.
    std::string resourceID() const;
    // The category name used by filters and space statistics.
    std::string_view category() const;
    // The text before the last "/", or none without one.
    std::optional<std::string_view> parentPath() const;

    bool operator==(const FileEntry& other) const;

private:
    // Null when folding leaves the path unchanged, as it does for most paths.
    std::unique_ptr<std::string> foldedKey_;
};

std::string identityString(int32_t device, uint64_t inode);
// The same for what lstat or stat found at a path.
std::string identityString(const struct stat& st);
// Category of a lower-cased extension.
std::string_view categoryForExtension(std::string_view extensionLowercase);

// The six categories in a fixed order, "其他" last.
inline constexpr size_t kCategoryCount = 6;
size_t categoryIndexOfName(std::string_view fileName);
std::string_view categoryName(size_t index);
