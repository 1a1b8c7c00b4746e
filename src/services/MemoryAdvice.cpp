#include "services/MemoryAdvice.h"

#include "engine/ByteFormat.h"

#include <cstdint>

namespace {
constexpr double kFreshSeconds = 15;
constexpr double kWindowSeconds = 30;
constexpr uint64_t kSwapNoticeBytes = 64ull * 1024 * 1024;

std::string amountText(uint64_t bytes)
{
    return formatFileSize(bytes > static_cast<uint64_t>(INT64_MAX) ? INT64_MAX : static_cast<int64_t>(bytes));
}
} // namespace

MemoryAdvice MemoryAdvice::evaluate(const std::vector<MemorySnapshot>& samples, double now)
{
    if (samples.empty())
        return {"等待采样", "尚未获取系统数据。", "稍后重试或打开活动监视器。", -1};

    const MemorySnapshot& latest = samples.back();
    if (now - latest.date > kFreshSeconds)
        return {"采样已暂停或过期", "最近一次数据已超过 15 秒，无法代表当前状态。",
                "保持窗口在前台等待新采样，或打开活动监视器。", -1};

    const MemorySnapshot* first = &latest;
    for (const MemorySnapshot& s : samples) {
        if (latest.date - s.date <= kWindowSeconds) {
            first = &s;
            break;
        }
    }
    uint64_t growth = latest.swapouts > first->swapouts ? latest.swapouts - first->swapouts : 0;

    switch (latest.pressure) {
    case SystemPressure::normal:
        if (growth >= kSwapNoticeBytes)
            return {"压力正常，交换活动增加",
                    "最近 30 秒写出交换页约 " + amountText(growth) + "；这是活动量，不是新增加的磁盘占用。",
                    "如同时感到卡顿，观察高占用应用和活动监视器；无需为了提高空闲内存而清空缓存。", 1};
        return {"系统内存压力正常", "当前系统未报告内存压力。已有交换空间不代表正在卡顿。",
                "可以继续使用。若仍卡顿，在活动监视器检查 CPU 和磁盘活动。", 0};
    case SystemPressure::warning:
        return {"系统出现内存压力", "系统报告警告状态。缓存与压缩本身不是异常，建议结合当前响应速度判断。",
                "检查下方高占用应用，保存工作后关闭不需要的窗口或应用。", 1};
    case SystemPressure::critical: {
        std::string explanation = "系统报告关键压力状态。";
        if (growth > 0) explanation += "最近 30 秒写出交换页约 " + amountText(growth) + "。";
        return {"系统内存压力较高", explanation, "先保存工作，再退出暂时不用的高占用应用。不要强制结束系统进程。", 2};
    }
    case SystemPressure::unknown:
        break;
    }
    return {"暂无法判断系统内存压力", "当前系统未提供兼容的压力读数，不根据空闲内存比例猜测状态。",
            "打开活动监视器查看内存压力；下方原始指标仍可作为参考。", -1};
}
