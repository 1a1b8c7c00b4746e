#pragma once
#include <cstdint>
#include <optional>
#include <string_view>

// The memory-pressure level the system itself reports. Converts to its enumerator, so it can
// be compared with `SystemPressure::critical` and used in a switch.
struct SystemPressure {
    enum Level : uint8_t { normal, warning, critical, unknown };

    constexpr SystemPressure(Level level = unknown) : level(level) {}
    constexpr operator Level() const { return level; }

    // "normal", "warning", "critical" or "unknown".
    std::string_view rawValue() const;
    // Exactly one of the four raw values; anything else (other case, empty) gives no value.
    static std::optional<SystemPressure> fromRawValue(std::string_view raw);
    // Event levels 1, 2 and 4 are normal, warning and critical; any other or none is unknown.
    static SystemPressure decode(std::optional<uint32_t> level);

    Level level;
};
