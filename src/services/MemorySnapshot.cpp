#include "services/MemorySnapshot.h"

#include "csystem/csystem.h"
#include "platform/TextLines.h"

#include "engine/Dates.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string_view>
#include <unistd.h>

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Parses decimal digits at the front of `s` (after blanks); advances `s` past them.
std::optional<uint64_t> takeNumber(std::string_view& s)
{
    size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    if (i == s.size() || !isDigit(s[i])) return std::nullopt;
    uint64_t v = 0;
    for (; i < s.size() && isDigit(s[i]); ++i) {
        uint64_t digit = static_cast<uint64_t>(s[i] - '0');
        if (v > (UINT64_MAX - digit) / 10) v = UINT64_MAX;
        else v = v * 10 + digit;
    }
    s.remove_prefix(i);
    return v;
}

uint64_t saturatingMul(uint64_t a, uint64_t b)
{
    uint64_t r;
    return __builtin_mul_overflow(a, b, &r) ? UINT64_MAX : r;
}

uint64_t saturatingAdd(uint64_t a, uint64_t b)
{
    uint64_t r;
    return __builtin_add_overflow(a, b, &r) ? UINT64_MAX : r;
}

enum MemInfoKey { MemTotal, MemFree, Active, Unevictable, SUnreclaim, KernelStack, PageTables,
                  SwapTotal, SwapFree, Zswap, KeyCount };
constexpr std::string_view kMemInfoKeys[KeyCount] = {
    "MemTotal", "MemFree", "Active", "Unevictable", "SUnreclaim", "KernelStack", "PageTables",
    "SwapTotal", "SwapFree", "Zswap"};

// Lines "Key:   123 kB": values in bytes (kB scaled by 1024).
void parseMemInfo(std::string_view text, std::optional<uint64_t> (&values)[KeyCount])
{
    forEachLine(text, [&](std::string_view line) {
        size_t colon = line.find(':');
        if (colon == std::string_view::npos) return;
        std::string_view key = line.substr(0, colon);
        for (int k = 0; k < KeyCount; ++k) {
            if (key != kMemInfoKeys[k]) continue;
            std::string_view rest = line.substr(colon + 1);
            auto number = takeNumber(rest);
            if (!number) return;
            while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
            values[k] = rest.starts_with("kB") ? saturatingMul(*number, 1024) : *number;
            return;
        }
    });
}

std::optional<uint64_t> vmstatValue(std::string_view text, std::string_view key)
{
    std::optional<uint64_t> found;
    forEachLine(text, [&](std::string_view line) {
        if (found || !line.starts_with(key) || line.size() <= key.size() || line[key.size()] != ' ') return;
        std::string_view rest = line.substr(key.size());
        found = takeNumber(rest);
    });
    return found;
}

// "avg10=12.34" as hundredths.
std::optional<uint64_t> avg10Hundredths(std::string_view line)
{
    size_t at = line.find("avg10=");
    if (at == std::string_view::npos) return std::nullopt;
    std::string_view rest = line.substr(at + 6);
    auto whole = takeNumber(rest);
    if (!whole) return std::nullopt;
    uint64_t fraction = 0;
    if (!rest.empty() && rest.front() == '.') {
        rest.remove_prefix(1);
        for (int i = 0; i < 2; ++i) {
            fraction *= 10;
            if (!rest.empty() && isDigit(rest.front())) {
                fraction += static_cast<uint64_t>(rest.front() - '0');
                rest.remove_prefix(1);
            }
        }
    }
    return saturatingAdd(saturatingMul(*whole, 100), fraction);
}

// Pressure stall information as the event levels 1 (normal), 2 (warning), 4 (critical).
// A tenth of the last ten seconds with every task stalled on memory is critical; with some
// task stalled, a warning. No readable "some" line: no level.
std::optional<uint32_t> psiLevel(std::string_view text)
{
    std::optional<uint64_t> some, full;
    forEachLine(text, [&](std::string_view line) {
        if (line.starts_with("some ")) some = avg10Hundredths(line);
        else if (line.starts_with("full ")) full = avg10Hundredths(line);
    });
    if (!some) return std::nullopt;
    constexpr uint64_t threshold = 10 * 100;
    if (full && *full >= threshold) return 4;
    if (*some >= threshold) return 2;
    return 1;
}

// Memory used by one zram device: the third figure of its mm_stat, in bytes.
std::optional<uint64_t> zramUsed(std::string_view text)
{
    std::optional<uint64_t> value;
    for (int field = 0; field < 3; ++field) {
        value = takeNumber(text);
        if (!value) return std::nullopt;
    }
    return value;
}

uint64_t zramTotal(const std::string& root)
{
    std::string dir = root + "sys/block";
    int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return 0;
    uint64_t total = 0;
    alignas(8) char entries[4096];
    char stat[512 + 1];
    for (;;) {
        ssize_t n = getdents64(fd, entries, sizeof entries);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        for (ssize_t off = 0; off < n;) {
            auto* d = reinterpret_cast<struct dirent64*>(entries + off);
            off += d->d_reclen;
            if (std::strncmp(d->d_name, "zram", 4) != 0) continue;
            int64_t len = ts_read_small_file((dir + "/" + d->d_name + "/mm_stat").c_str(), stat, sizeof stat);
            if (len <= 0) continue;
            if (auto used = zramUsed(std::string_view(stat, static_cast<size_t>(len))))
                total = saturatingAdd(total, *used);
        }
    }
    close(fd);
    return total;
}

} // namespace

std::optional<MemorySnapshot> MemorySnapshot::read(const std::string& rootFolder)
{
    std::string root = rootFolder;
    if (root.empty() || root.back() != '/') root += '/';

    char buf[16384 + 1];
    int64_t len = ts_read_small_file((root + "proc/meminfo").c_str(), buf, sizeof buf);
    if (len < 0) return std::nullopt;
    std::optional<uint64_t> mem[KeyCount];
    parseMemInfo(std::string_view(buf, static_cast<size_t>(len)), mem);
    if (!mem[MemTotal] || !mem[MemFree] || !mem[Active]) return std::nullopt;

    // The swap-out counter is part of the statistics: without it the growth over time of a
    // later reading would be meaningless, so a reading without it is no reading.
    len = ts_read_small_file((root + "proc/vmstat").c_str(), buf, sizeof buf);
    if (len < 0) return std::nullopt;
    auto pswpout = vmstatValue(std::string_view(buf, static_cast<size_t>(len)), "pswpout");
    if (!pswpout) return std::nullopt;

    static const uint64_t pageSize = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));

    MemorySnapshot s;
    s.total = *mem[MemTotal];
    s.active = *mem[Active];
    s.free = *mem[MemFree];
    for (int k : {Unevictable, SUnreclaim, KernelStack, PageTables})
        s.wired = saturatingAdd(s.wired, mem[k].value_or(0));
    s.compressed = saturatingAdd(mem[Zswap].value_or(0), zramTotal(root));
    if (mem[SwapTotal] && mem[SwapFree])
        s.swapUsed = *mem[SwapTotal] > *mem[SwapFree] ? *mem[SwapTotal] - *mem[SwapFree] : 0;
    s.swapouts = saturatingMul(*pswpout, pageSize);
    s.date = dateNow();

    std::optional<uint32_t> level;
    len = ts_read_small_file((root + "proc/pressure/memory").c_str(), buf, sizeof buf);
    if (len >= 0) level = psiLevel(std::string_view(buf, static_cast<size_t>(len)));
    s.pressure = SystemPressure::decode(level);
    return s;
}
