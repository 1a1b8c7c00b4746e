#include "services/MemorySnapshot.h"
#include "engine/Dates.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <unistd.h>

namespace {
const char* kMemInfo =
    "MemTotal:       16000000 kB\n"
    "MemFree:         2000000 kB\n"
    "MemAvailable:    9000000 kB\n"
    "Active:          5000000 kB\n"
    "Inactive:        3000000 kB\n"
    "Active(anon):    1234567 kB\n"
    "Unevictable:        1000 kB\n"
    "SwapTotal:       8000000 kB\n"
    "SwapFree:        7500000 kB\n"
    "Zswap:               300 kB\n"
    "SUnreclaim:          200 kB\n"
    "KernelStack:          30 kB\n"
    "PageTables:            4 kB\n"
    "HugePages_Total:       0\n";

const char* kVmStat = "nr_free_pages 500000\npswpin 12\npswpout 1000\npswpout_extra 5\n";
const char* kCalm = "some avg10=0.00 avg60=0.00 avg300=0.00 total=0\nfull avg10=0.00 avg60=0.00 avg300=0.00 total=0\n";

struct Fixture {
    TempHome home;
    Fixture()
    {
        writeFile(home.path("proc/meminfo"), kMemInfo);
        writeFile(home.path("proc/vmstat"), kVmStat);
        writeFile(home.path("proc/pressure/memory"), kCalm);
        makeDirs(home.path("sys/block/loop0"));
        writeFile(home.path("sys/block/zram0/mm_stat"), "  4096000  1024000  1100000        0  1100000        3        0        0        0\n");
        writeFile(home.path("sys/block/zram1/mm_stat"), "0 0 2000 0 0 0 0 0 0\n");
        writeFile(home.path("sys/block/vda/mm_stat"), "9 9 999999 9\n");  // not a zram device
    }
    std::string root() const { return home.root(); }
};

std::string psi(const std::string& some, const std::string& full)
{
    return "some avg10=" + some + " avg60=0.00 avg300=0.00 total=1\nfull avg10=" + full +
           " avg60=0.00 avg300=0.00 total=1\n";
}
} // namespace

TEST(MemorySnapshot, ReadsFiguresInBytes)
{
    Fixture f;
    const uint64_t page = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
    double before = dateNow();
    auto s = MemorySnapshot::read(f.root());
    ASSERT_TRUE(s.has_value());
    EXPECT_EQ(s->total, 16000000ull * 1024);
    EXPECT_EQ(s->free, 2000000ull * 1024);
    EXPECT_EQ(s->active, 5000000ull * 1024) << "Active, not Active(anon)";
    EXPECT_EQ(s->wired, (1000ull + 200 + 30 + 4) * 1024) << "unevictable, unreclaimable slab, stacks, page tables";
    EXPECT_EQ(s->compressed, 300ull * 1024 + 1100000 + 2000) << "zswap plus the memory used by each zram device";
    ASSERT_TRUE(s->swapUsed.has_value());
    EXPECT_EQ(*s->swapUsed, 500000ull * 1024);
    EXPECT_EQ(s->swapouts, 1000 * page) << "pswpout pages, not pswpout_extra";
    EXPECT_EQ(s->pressure, SystemPressure::normal);
    EXPECT_GE(s->date, before);
    EXPECT_LE(s->date, dateNow());

    // A root given with a trailing slash reads the same.
    auto again = MemorySnapshot::read(f.root() + "/");
    ASSERT_TRUE(again.has_value());
    EXPECT_EQ(again->total, s->total);
}

TEST(MemorySnapshot, MissingPartsDegradeOrFail)
{
    {
        Fixture f;
        std::string text = kMemInfo;
        text.erase(text.find("SwapTotal"), text.find("Zswap") - text.find("SwapTotal"));
        writeFile(f.home.path("proc/meminfo"), text);
        auto s = MemorySnapshot::read(f.root());
        ASSERT_TRUE(s.has_value());
        EXPECT_FALSE(s->swapUsed.has_value()) << "no swap lines, no swap figure";
    }
    {
        Fixture f;
        std::string text = kMemInfo;
        text.erase(text.find("SwapFree"), text.find("Zswap") - text.find("SwapFree"));
        writeFile(f.home.path("proc/meminfo"), text);
        auto s = MemorySnapshot::read(f.root());
        ASSERT_TRUE(s.has_value());
        EXPECT_FALSE(s->swapUsed.has_value()) << "half the swap lines give no figure either";
    }
    {
        Fixture f;
        writeFile(f.home.path("proc/meminfo"), "MemTotal: 100 kB\nMemFree: 50 kB\nActive: 10 kB\n");
        std::filesystem::remove_all(f.home.path("sys"));
        auto s = MemorySnapshot::read(f.root());
        ASSERT_TRUE(s.has_value());
        EXPECT_EQ(s->wired, 0u);
        EXPECT_EQ(s->compressed, 0u) << "no zswap line, no zram devices";
    }
    {
        Fixture f;
        std::filesystem::remove(f.home.path("proc/pressure/memory"));
        auto s = MemorySnapshot::read(f.root());
        ASSERT_TRUE(s.has_value());
        EXPECT_EQ(s->pressure, SystemPressure::unknown) << "no PSI file";
    }
    {
        Fixture f;
        writeFile(f.home.path("proc/pressure/memory"), "garbage\n");
        EXPECT_EQ(MemorySnapshot::read(f.root())->pressure, SystemPressure::unknown) << "unreadable PSI";
    }
    for (const char* key : {"MemTotal", "MemFree", "Active:"}) {
        Fixture f;
        std::string text = kMemInfo;
        size_t at = text.find(key);
        text.erase(at, text.find('\n', at) + 1 - at);
        writeFile(f.home.path("proc/meminfo"), text);
        EXPECT_FALSE(MemorySnapshot::read(f.root()).has_value()) << "without " << key;
    }
    {
        Fixture f;
        std::filesystem::remove(f.home.path("proc/meminfo"));
        EXPECT_FALSE(MemorySnapshot::read(f.root()).has_value());
    }
    {
        Fixture f;
        writeFile(f.home.path("proc/vmstat"), "pswpin 3\npswpout_other 9\n");
        EXPECT_FALSE(MemorySnapshot::read(f.root()).has_value()) << "no swap-out counter";
        std::filesystem::remove(f.home.path("proc/vmstat"));
        EXPECT_FALSE(MemorySnapshot::read(f.root()).has_value()) << "no vmstat";
    }
}

TEST(MemorySnapshot, PressureFollowsStallThresholds)
{
    struct Case {
        std::string some, full;
        SystemPressure expected;
    } cases[] = {
        {"0.00", "0.00", SystemPressure::normal},
        {"9.99", "9.99", SystemPressure::normal},
        {"10.00", "0.00", SystemPressure::warning},
        {"10", "2.50", SystemPressure::warning},
        {"55.10", "9.99", SystemPressure::warning},
        {"10.00", "10.00", SystemPressure::critical},
        {"100.00", "73.20", SystemPressure::critical},
    };
    Fixture f;
    for (const auto& c : cases) {
        writeFile(f.home.path("proc/pressure/memory"), psi(c.some, c.full));
        auto s = MemorySnapshot::read(f.root());
        ASSERT_TRUE(s.has_value());
        EXPECT_EQ(s->pressure, c.expected) << "some " << c.some << " full " << c.full;
    }
    writeFile(f.home.path("proc/pressure/memory"), "some avg10=12.00 avg60=0.00 avg300=0.00 total=1\n");
    EXPECT_EQ(MemorySnapshot::read(f.root())->pressure, SystemPressure::warning) << "a kernel without the full line";
}

TEST(MemorySnapshot, LiveReadingMatchesTheKernel)
{
    auto s = MemorySnapshot::read();
    ASSERT_TRUE(s.has_value());
    uint64_t physical = static_cast<uint64_t>(sysconf(_SC_PHYS_PAGES)) * static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
    EXPECT_EQ(s->total, physical);
    EXPECT_LE(s->free, s->total);
    EXPECT_LE(s->active, s->total);
    EXPECT_GT(s->wired, 0u);
    // A kernel built or booted without PSI (or a sandbox hiding it) has no pressure file.
    std::string psiText = readFile("/proc/pressure/memory");
    if (psiText.rfind("some ", 0) == 0)
        EXPECT_NE(s->pressure, SystemPressure::unknown) << "this kernel has PSI";
    else
        EXPECT_EQ(s->pressure, SystemPressure::unknown) << "no PSI: the pressure is not guessed";
}

TEST(SystemPressure, DecodeAndRawValues)
{
    EXPECT_EQ(SystemPressure::decode(1u), SystemPressure::normal);
    EXPECT_EQ(SystemPressure::decode(2u), SystemPressure::warning);
    EXPECT_EQ(SystemPressure::decode(4u), SystemPressure::critical);
    for (uint32_t level : {0u, 3u, 8u, 0xffffffffu}) EXPECT_EQ(SystemPressure::decode(level), SystemPressure::unknown) << level;
    EXPECT_EQ(SystemPressure::decode(std::nullopt), SystemPressure::unknown);

    for (auto p : {SystemPressure::normal, SystemPressure::warning, SystemPressure::critical, SystemPressure::unknown}) {
        auto back = SystemPressure::fromRawValue(SystemPressure(p).rawValue());
        ASSERT_TRUE(back.has_value());
        EXPECT_EQ(*back, p);
    }
    EXPECT_EQ(SystemPressure(SystemPressure::critical).rawValue(), "critical");
    for (const char* bad : {"Normal", "", "WARNING", "critical ", "none"})
        EXPECT_FALSE(SystemPressure::fromRawValue(bad).has_value()) << '"' << bad << '"';
}
