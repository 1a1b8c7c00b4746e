#pragma once
#include "services/SystemPressure.h"

#include <cstdint>
#include <optional>
#include <string>

// One reading of the whole system's memory. Byte figures; `date` in seconds since 2001.
struct MemorySnapshot {
    uint64_t total = 0;       // MemTotal
    uint64_t active = 0;      // Active
    uint64_t wired = 0;       // memory the kernel cannot reclaim or page out
    uint64_t compressed = 0;  // held by zswap and zram
    uint64_t free = 0;        // MemFree
    double date = 0;
    std::optional<uint64_t> swapUsed;  // none when the swap lines are missing
    uint64_t swapouts = 0;    // bytes written to swap since boot, only grows
    SystemPressure pressure = SystemPressure::unknown;

    // Reads /proc and /sys under `root` (a folder holding proc/ and sys/; tests pass a
    // fixture tree). None when the memory counters cannot be read.
    static std::optional<MemorySnapshot> read(const std::string& root = "/");

    bool operator==(const MemorySnapshot&) const = default;
};
