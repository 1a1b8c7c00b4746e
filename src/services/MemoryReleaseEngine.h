#pragma once
#include "services/ApplicationMemory.h"
#include "services/MemorySnapshot.h"

#include <functional>
#include <optional>
#include <stop_token>
#include <vector>

// What a memory release did. Each list keeps the order of the candidates.
struct MemoryReleaseOutcome {
    std::vector<ApplicationMemory> exited;    // asked to quit and gone when the wait ended
    std::vector<ApplicationMemory> waiting;   // asked to quit and still running
    std::vector<ApplicationMemory> rejected;  // the request was not made or not accepted
    std::optional<MemorySnapshot> before;
    std::optional<MemorySnapshot> after;

    bool operator==(const MemoryReleaseOutcome&) const = default;
};

namespace MemoryReleaseEngine {

using Request = std::function<bool(const ApplicationMemory&)>;
using Running = std::function<bool(const ApplicationMemory&)>;
using Sample = std::function<std::optional<MemorySnapshot>()>;

// Whether an application may be offered for a release: not the process `self`, a footprint of
// at least one byte, and an absolute bundle path outside /System/ and /usr/ (plain prefixes).
bool isCandidate(const ApplicationMemory& application, int32_t self);
// The applications that pass isCandidate, largest footprint first; equal footprints keep the
// order they had in `applications`.
std::vector<ApplicationMemory> candidates(const std::vector<ApplicationMemory>& applications, int32_t self);

// Asks each eligible candidate to quit through `request` (never forcefully), then polls
// `running` every 0.2 s until all requested ones are gone, `timeout` seconds have passed on
// the monotonic clock, or `stop` is requested. Skipped silently: this process, footprints of 0
// or less, bundle paths that are relative or under /System/ or /usr/, and repeated ids.
// An empty `sample` means MemorySnapshot::read(). Blocks the calling thread.
MemoryReleaseOutcome run(const std::vector<ApplicationMemory>& candidates, const Request& request,
                         const Running& running, const Sample& sample, double timeout,
                         std::stop_token stop = {});

} // namespace MemoryReleaseEngine
