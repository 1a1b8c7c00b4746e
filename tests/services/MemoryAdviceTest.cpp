#include "services/MemoryAdvice.h"

#include <gtest/gtest.h>

namespace {
MemorySnapshot sample(double date, uint64_t swapouts, SystemPressure pressure = SystemPressure::normal)
{
    MemorySnapshot s;
    s.total = 16ull << 30;
    s.free = 1ull << 30;
    s.date = date;
    s.swapouts = swapouts;
    s.pressure = pressure;
    return s;
}
constexpr double T = 800000000.0;  // an arbitrary date
} // namespace

TEST(MemoryAdvice, NoSamplesAndStaleSamples)
{
    auto none = MemoryAdvice::evaluate({}, T);
    EXPECT_EQ(none.title, "等待采样");
    EXPECT_EQ(none.explanation, "尚未获取系统数据。");
    EXPECT_EQ(none.action, "稍后重试或打开活动监视器。");
    EXPECT_EQ(none.severity, -1);

    // Exactly 15 seconds old is still judged; 15.5 is stale whatever the pressure says.
    auto fresh = MemoryAdvice::evaluate({sample(T, 0, SystemPressure::critical)}, T + 15);
    EXPECT_EQ(fresh.severity, 2);
    for (auto p : {SystemPressure::normal, SystemPressure::critical, SystemPressure::unknown}) {
        auto stale = MemoryAdvice::evaluate({sample(T, 0, p)}, T + 15.5);
        EXPECT_EQ(stale.title, "采样已暂停或过期");
        EXPECT_EQ(stale.explanation, "最近一次数据已超过 15 秒，无法代表当前状态。");
        EXPECT_EQ(stale.action, "保持窗口在前台等待新采样，或打开活动监视器。");
        EXPECT_EQ(stale.severity, -1);
    }
    // Only the latest sample's age counts.
    EXPECT_EQ(MemoryAdvice::evaluate({sample(T - 100, 0), sample(T, 0)}, T + 1).severity, 0);
}

TEST(MemoryAdvice, SwapGrowthOverThirtySeconds)
{
    const uint64_t MiB64 = 67108864;
    // A single fresh sample: no growth, normal pressure alone.
    auto single = MemoryAdvice::evaluate({sample(T, 5'000'000'000)}, T);
    EXPECT_EQ(single.title, "系统内存压力正常");
    EXPECT_EQ(single.explanation, "当前系统未报告内存压力。已有交换空间不代表正在卡顿。");
    EXPECT_EQ(single.action, "可以继续使用。若仍卡顿，在活动监视器检查 CPU 和磁盘活动。");
    EXPECT_EQ(single.severity, 0);

    EXPECT_EQ(MemoryAdvice::evaluate({sample(T - 10, 0), sample(T, MiB64 - 1)}, T).severity, 0);
    auto busy = MemoryAdvice::evaluate({sample(T - 10, 0), sample(T, MiB64)}, T);
    EXPECT_EQ(busy.title, "压力正常，交换活动增加");
    EXPECT_EQ(busy.explanation, "最近 30 秒写出交换页约 67.1 MB；这是活动量，不是新增加的磁盘占用。");
    EXPECT_EQ(busy.action, "如同时感到卡顿，观察高占用应用和活动监视器；无需为了提高空闲内存而清空缓存。");
    EXPECT_EQ(busy.severity, 1);

    // Samples 40, 28 and 0 seconds before the latest: the window starts at the 28-second one.
    std::vector<MemorySnapshot> samples{sample(T - 40, 0), sample(T - 28, 1'000'000'000), sample(T, 1'000'000'000 + MiB64 - 1)};
    EXPECT_EQ(MemoryAdvice::evaluate(samples, T).severity, 0) << "the 40-second sample is outside the window";
    samples[1].swapouts = 1'000'000'000 - 1;
    EXPECT_EQ(MemoryAdvice::evaluate(samples, T).severity, 1);
    // Exactly 30 seconds before still belongs to the window.
    EXPECT_EQ(MemoryAdvice::evaluate({sample(T - 30, 0), sample(T, MiB64)}, T).severity, 1);
    EXPECT_EQ(MemoryAdvice::evaluate({sample(T - 30.5, 0), sample(T, MiB64)}, T).severity, 0);

    // A counter that went backwards is no growth, not a huge number.
    EXPECT_EQ(MemoryAdvice::evaluate({sample(T - 5, 900'000'000'000), sample(T, 1)}, T).severity, 0);
    auto critical = MemoryAdvice::evaluate({sample(T - 5, 900'000'000'000), sample(T, 1, SystemPressure::critical)}, T);
    EXPECT_EQ(critical.explanation, "系统报告关键压力状态。");
}

TEST(MemoryAdvice, VerdictFollowsReportedPressure)
{
    auto warning = MemoryAdvice::evaluate({sample(T - 5, 0), sample(T, 1ull << 40, SystemPressure::warning)}, T);
    EXPECT_EQ(warning.title, "系统出现内存压力");
    EXPECT_EQ(warning.explanation, "系统报告警告状态。缓存与压缩本身不是异常，建议结合当前响应速度判断。");
    EXPECT_EQ(warning.action, "检查下方高占用应用，保存工作后关闭不需要的窗口或应用。");
    EXPECT_EQ(warning.severity, 1) << "growth does not change a warning";

    auto calm = MemoryAdvice::evaluate({sample(T, 0, SystemPressure::critical)}, T);
    EXPECT_EQ(calm.title, "系统内存压力较高");
    EXPECT_EQ(calm.explanation, "系统报告关键压力状态。");
    EXPECT_EQ(calm.action, "先保存工作，再退出暂时不用的高占用应用。不要强制结束系统进程。");
    EXPECT_EQ(calm.severity, 2);
    auto growing = MemoryAdvice::evaluate({sample(T - 3, 0), sample(T, 1500, SystemPressure::critical)}, T);
    EXPECT_EQ(growing.explanation, "系统报告关键压力状态。最近 30 秒写出交换页约 2 KB。");
    EXPECT_EQ(growing.severity, 2);

    // Low free memory or full swap never turn into a verdict without a pressure reading.
    auto s = sample(T, 0, SystemPressure::unknown);
    s.free = 0;
    s.swapUsed = 8ull << 30;
    auto unknown = MemoryAdvice::evaluate({s}, T);
    EXPECT_EQ(unknown.title, "暂无法判断系统内存压力");
    EXPECT_EQ(unknown.explanation, "当前系统未提供兼容的压力读数，不根据空闲内存比例猜测状态。");
    EXPECT_EQ(unknown.action, "打开活动监视器查看内存压力；下方原始指标仍可作为参考。");
    EXPECT_EQ(unknown.severity, -1);
}
