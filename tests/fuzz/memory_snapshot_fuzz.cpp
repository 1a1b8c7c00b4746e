// The kernel's memory files: /proc/meminfo, /proc/vmstat, /proc/pressure/memory and the zram
// devices' mm_stat. The input holds their texts in that order, split by lines "----"; a missing
// part is a missing file. They are read through MemorySnapshot::read from a scratch tree.
#include "services/MemorySnapshot.h"

#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <unistd.h>

namespace {

struct ScratchTree {
    std::filesystem::path root;
    ScratchTree()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "memory_snapshot_fuzz.XXXXXX").string();
        if (!mkdtemp(pattern.data())) std::abort();
        root = pattern;
        for (const char* folder : {"proc/pressure", "sys/block/zram0", "sys/block/zram1"})
            std::filesystem::create_directories(root / folder);
    }
    ~ScratchTree() { std::filesystem::remove_all(root); }
};

// A fresh file each time: ext4 writes back a truncated file on close, which is slow.
void place(const std::filesystem::path& file, std::optional<std::string_view> text)
{
    unlink(file.c_str());
    if (!text) return;
    int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0 || write(fd, text->data(), text->size()) != static_cast<ssize_t>(text->size())) std::abort();
    close(fd);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static ScratchTree tree;
    std::optional<std::string_view> rest = std::string_view(reinterpret_cast<const char*>(data), size);
    for (const char* file : {"proc/meminfo", "proc/vmstat", "proc/pressure/memory", "sys/block/zram0/mm_stat",
                             "sys/block/zram1/mm_stat"}) {
        std::optional<std::string_view> part = rest;
        if (rest) {
            size_t split = rest->find("\n----\n");
            part = rest->substr(0, split);
            rest = split == std::string_view::npos ? std::nullopt : std::optional(rest->substr(split + 6));
        }
        place(tree.root / file, part);
    }
    MemorySnapshot::read(tree.root.string());
    return 0;
}
