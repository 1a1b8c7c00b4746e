#include "engine/FileEntry.h"

#include "engine/AsciiCase.h"
#include "engine/SearchKey.h"

#include <cstring>
#include <sys/stat.h>
#include <vector>


FileEntry::FileEntry(std::string path_, int64_t size_, double modified_, int32_t device_, uint64_t inode_,
                     int64_t allocated_, std::optional<double> changed_)
    : path(std::move(path_)), size(size_), modified(modified_), device(device_), inode(inode_),
      allocated(allocated_), changed(changed_)
{
    std::string key = ::searchKey(path);
    if (key != path) foldedKey_ = std::make_unique<std::string>(std::move(key));
}

FileEntry::FileEntry(const FileEntry& o)
    : path(o.path), size(o.size), modified(o.modified), device(o.device), inode(o.inode), allocated(o.allocated),
      changed(o.changed), foldedKey_(o.foldedKey_ ? std::make_unique<std::string>(*o.foldedKey_) : nullptr)
{
}

FileEntry& FileEntry::operator=(const FileEntry& o)
{
    if (this != &o) *this = FileEntry(o);
    return *this;
}

std::string_view FileEntry::name() const
{
    auto slash = path.rfind('/');
    if (slash == std::string::npos) return path;
    return std::string_view(path).substr(slash + 1);
}

std::string FileEntry::extensionLowercase() const
{
    std::string_view n = name();
    auto dot = n.rfind('.');
    if (dot == std::string_view::npos) return {};
    return asciiLower(n.substr(dot + 1));
}

std::string FileEntry::resourceID() const { return identityString(device, inode); }

std::string_view FileEntry::category() const { return categoryName(categoryIndexOfName(name())); }

std::optional<std::string_view> FileEntry::parentPath() const
{
    auto slash = path.rfind('/');
    if (slash == std::string::npos) return std::nullopt;
    return std::string_view(path).substr(0, slash);
}

bool FileEntry::operator==(const FileEntry& o) const
{
    return path == o.path && size == o.size && modified == o.modified && device == o.device &&
           inode == o.inode && allocated == o.allocated && changed == o.changed && searchKey() == o.searchKey();
}

std::string identityString(int32_t device, uint64_t inode)
{
    std::string out = std::to_string(device);
    out += ':';
    out += std::to_string(inode);
    return out;
}

std::string identityString(const struct stat& st)
{
    return identityString(static_cast<int32_t>(st.st_dev), static_cast<uint64_t>(st.st_ino));
}

namespace {

struct CategoryGroup {
    std::string_view name;
    std::initializer_list<std::string_view> extensions;
};

const CategoryGroup kCategoryGroups[] = {
    {"图片", {"jpg", "jpeg", "png", "heic", "gif", "webp", "tiff", "svg"}},
    {"视频", {"mp4", "mov", "mkv", "avi", "m4v"}},
    {"音频", {"mp3", "wav", "m4a", "flac", "aac"}},
    {"安装包与压缩包", {"dmg", "pkg", "zip", "tar", "gz", "7z", "rar"}},
    {"文档", {"pdf", "txt", "md", "doc", "docx", "xls", "xlsx", "ppt", "pptx", "pages", "csv"}},
};

// Extensions of at most eight bytes packed into one integer, so the lookup for every file
// of a statistics pass is a few integer comparisons.
uint64_t packExtension(std::string_view ext)
{
    uint64_t key = 0;
    std::memcpy(&key, ext.data(), ext.size());
    return key;
}

} // namespace

namespace {

struct CategoryKey {
    uint64_t key;
    uint8_t size;
    uint8_t index;
};

const std::vector<CategoryKey>& categoryKeys()
{
    static const std::vector<CategoryKey> keys = [] {
        std::vector<CategoryKey> out;
        for (size_t g = 0; g < std::size(kCategoryGroups); ++g)
            for (auto e : kCategoryGroups[g].extensions)
                out.push_back({packExtension(e), static_cast<uint8_t>(e.size()), static_cast<uint8_t>(g)});
        return out;
    }();
    return keys;
}

size_t categoryIndexOfExtension(std::string_view ext)
{
    constexpr size_t other = kCategoryCount - 1;
    if (ext.empty() || ext.size() > 8) return other;
    uint64_t key = packExtension(ext);
    for (const auto& e : categoryKeys())
        if (e.key == key && e.size == ext.size()) return e.index;
    return other;
}

} // namespace

std::string_view categoryName(size_t index)
{
    return index < std::size(kCategoryGroups) ? kCategoryGroups[index].name : std::string_view("其他");
}

std::string_view categoryForExtension(std::string_view ext) { return categoryName(categoryIndexOfExtension(ext)); }

size_t categoryIndexOfName(std::string_view fileName)
{
    auto dot = fileName.rfind('.');
    if (dot == std::string_view::npos) return kCategoryCount - 1;
    std::string_view ext = fileName.substr(dot + 1);
    // Every listed extension fits in eight bytes.
    if (ext.size() > 8) return kCategoryCount - 1;
    char lower[8];
    asciiLowerInto(ext, lower);
    return categoryIndexOfExtension(std::string_view(lower, ext.size()));
}
