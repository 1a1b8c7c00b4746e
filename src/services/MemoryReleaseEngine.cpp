#include "services/MemoryReleaseEngine.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <unistd.h>
#include <unordered_set>

bool MemoryReleaseEngine::isCandidate(const ApplicationMemory& application, int32_t self)
{
    const std::string& path = application.bundlePath;
    return application.id != self && application.footprint > 0 && path.starts_with("/") &&
           !path.starts_with("/System/") && !path.starts_with("/usr/");
}

std::vector<ApplicationMemory> MemoryReleaseEngine::candidates(const std::vector<ApplicationMemory>& applications,
                                                               int32_t self)
{
    std::vector<ApplicationMemory> out;
    for (const ApplicationMemory& application : applications)
        if (isCandidate(application, self)) out.push_back(application);
    std::stable_sort(out.begin(), out.end(),
                     [](const ApplicationMemory& a, const ApplicationMemory& b) { return a.footprint > b.footprint; });
    return out;
}

MemoryReleaseOutcome MemoryReleaseEngine::run(const std::vector<ApplicationMemory>& candidates,
                                              const Request& request, const Running& running,
                                              const Sample& sample, double timeout, std::stop_token stop)
{
    auto takeSample = [&]() { return sample ? sample() : MemorySnapshot::read(); };

    MemoryReleaseOutcome outcome;
    outcome.before = takeSample();

    const int32_t self = static_cast<int32_t>(getpid());
    std::unordered_set<int32_t> seen;
    std::vector<const ApplicationMemory*> requested;
    for (const ApplicationMemory& candidate : candidates) {
        if (!isCandidate(candidate, self)) continue;
        if (!seen.insert(candidate.id).second) continue;
        if (request(candidate)) requested.push_back(&candidate);
        else outcome.rejected.push_back(candidate);
    }

    using Clock = std::chrono::steady_clock;
    // Negative or NaN waits not at all; absurd values are capped so the deadline cannot overflow.
    double seconds = timeout > 0 ? std::min(timeout, 1e7) : 0.0;
    const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                             std::chrono::duration<double>(seconds));
    std::mutex mutex;
    std::condition_variable_any wake;
    for (;;) {
        bool anyRunning = std::any_of(requested.begin(), requested.end(),
                                      [&](const ApplicationMemory* c) { return running(*c); });
        if (!anyRunning) break;
        if (Clock::now() >= deadline || stop.stop_requested()) break;
        std::unique_lock lock(mutex);
        // Wakes early only when a stop is requested.
        wake.wait_for(lock, stop, std::chrono::milliseconds(200), [] { return false; });
        if (stop.stop_requested()) break;
    }

    for (const ApplicationMemory* candidate : requested) {
        if (running(*candidate)) outcome.waiting.push_back(*candidate);
        else outcome.exited.push_back(*candidate);
    }
    outcome.after = takeSample();
    return outcome;
}
