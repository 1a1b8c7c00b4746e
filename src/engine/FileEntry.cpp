#include "engine/FileEntry.h"

#include "engine/SearchKey.h"


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
    std::string ext(n.substr(dot + 1));
    for (char& c : ext)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return ext;
}

std::string FileEntry::resourceID() const { return identityString(device, inode); }

std::string_view FileEntry::category() const { return categoryForExtension(extensionLowercase()); }

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

std::string_view categoryForExtension(std::string_view ext)
{
    struct Group {
        std::string_view name;
        std::initializer_list<std::string_view> extensions;
    };
    static const Group groups[] = {
        {"图片", {"jpg", "jpeg", "png", "heic", "gif", "webp", "tiff", "svg"}},
        {"视频", {"mp4", "mov", "mkv", "avi", "m4v"}},
        {"音频", {"mp3", "wav", "m4a", "flac", "aac"}},
        {"安装包与压缩包", {"dmg", "pkg", "zip", "tar", "gz", "7z", "rar"}},
        {"文档", {"pdf", "txt", "md", "doc", "docx", "xls", "xlsx", "ppt", "pptx", "pages", "csv"}},
    };
    for (const auto& g : groups)
        for (auto e : g.extensions)
            if (e == ext) return g.name;
    return "其他";
}
