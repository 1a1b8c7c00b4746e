#include "services/SystemPressure.h"

namespace {
constexpr std::string_view kRawValues[] = {"normal", "warning", "critical", "unknown"};
}

std::string_view SystemPressure::rawValue() const
{
    return level <= unknown ? kRawValues[level] : kRawValues[unknown];
}

std::optional<SystemPressure> SystemPressure::fromRawValue(std::string_view raw)
{
    for (int i = normal; i <= unknown; ++i)
        if (raw == kRawValues[i]) return SystemPressure(static_cast<Level>(i));
    return std::nullopt;
}

SystemPressure SystemPressure::decode(std::optional<uint32_t> level)
{
    if (!level) return unknown;
    switch (*level) {
    case 1: return normal;
    case 2: return warning;
    case 4: return critical;
    default: return unknown;
    }
}
