#pragma once
#include <cstdint>
#include <string>

// A running application: its own process, its name and its bundle (empty when it has none).
struct ApplicationIdentity {
    int32_t pid = 0;
    std::string name;
    std::string bundlePath;

    bool operator==(const ApplicationIdentity&) const = default;
};

// The summed memory of the processes charged to one application; identified by `id`.
struct ApplicationMemory {
    int32_t id = 0;             // the application's own process
    std::string name;
    int64_t resident = 0;       // bytes
    int64_t footprint = 0;      // bytes
    int processCount = 0;       // processes whose usage was read
    int unavailableCount = 0;   // charged processes whose usage could not be read
    std::string bundlePath;

    bool operator==(const ApplicationMemory&) const = default;
};
