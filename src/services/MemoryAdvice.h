#pragma once
#include "services/MemorySnapshot.h"

#include <string>
#include <vector>

// Short advice drawn from the recent memory samples.
struct MemoryAdvice {
    std::string title;
    std::string explanation;
    std::string action;
    int severity = -1;  // -1 no judgement possible, 0 all is well, 1 notice, 2 serious

    // Judges the system's own pressure level and the swap-out growth of the last 30 seconds;
    // never free memory. `samples` oldest first; `now` in seconds since 2001.
    static MemoryAdvice evaluate(const std::vector<MemorySnapshot>& samples, double now);

    bool operator==(const MemoryAdvice&) const = default;
};
