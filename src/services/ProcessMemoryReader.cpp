#include "services/ProcessMemoryReader.h"

#include "csystem/csystem.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace {
constexpr int32_t kMaxProcesses = 16384;
constexpr int32_t kPathBuffer = 4096;
constexpr int kMaxParentSteps = 32;

struct ProcessInfo {
    int32_t parent = -1;
    std::optional<int32_t> pathOwner;
};

uint64_t clampedAdd(int64_t sum, uint64_t add)
{
    uint64_t limit = static_cast<uint64_t>(INT64_MAX - sum);
    return add > limit ? limit : add;
}
} // namespace

std::vector<ApplicationMemory> ProcessMemoryReader::read(const std::vector<ApplicationIdentity>& identities)
{
    std::vector<int32_t> buffer(kMaxProcesses, 0);
    int32_t listed = ts_list_pids(buffer.data(), kMaxProcesses);
    if (listed < 1) return {};
    std::vector<int32_t> processes;
    processes.reserve(static_cast<size_t>(std::min(listed, kMaxProcesses)));
    for (int32_t i = 0; i < std::min(listed, kMaxProcesses); ++i)
        if (buffer[i] > 0) processes.push_back(buffer[i]);

    std::unordered_set<int32_t> applications;
    for (const auto& identity : identities) applications.insert(identity.pid);

    // Longest bundle path first, so a process inside nested bundles goes to the inner one.
    std::vector<const ApplicationIdentity*> pathOrder;
    for (const auto& identity : identities) pathOrder.push_back(&identity);
    std::stable_sort(pathOrder.begin(), pathOrder.end(), [](const auto* a, const auto* b) {
        return a->bundlePath.size() > b->bundlePath.size();
    });

    std::unordered_map<int32_t, ProcessInfo> info;
    info.reserve(processes.size());
    char path[kPathBuffer];
    for (int32_t pid : processes) {
        ProcessInfo& p = info[pid];
        p.parent = ts_parent_pid(pid);
        std::memset(path, 0, sizeof path);
        if (ts_process_path(pid, path, kPathBuffer) < 1) continue;
        std::string_view executable(path, strnlen(path, sizeof path));
        for (const auto* identity : pathOrder) {
            const std::string& bundle = identity->bundlePath;
            if (bundle.empty()) continue;
            if (executable.size() > bundle.size() && executable.starts_with(bundle) &&
                executable[bundle.size()] == '/') {
                p.pathOwner = identity->pid;
                break;
            }
        }
    }

    std::vector<ApplicationMemory> results;
    std::unordered_map<int32_t, size_t> indexOf;
    for (const auto& identity : identities) {
        ApplicationMemory fresh{identity.pid, identity.name, 0, 0, 0, 0, identity.bundlePath};
        auto [it, inserted] = indexOf.try_emplace(identity.pid, results.size());
        if (inserted) results.push_back(std::move(fresh));
        else results[it->second] = std::move(fresh);
    }

    for (int32_t pid : processes) {
        std::optional<int32_t> owner;
        if (applications.count(pid)) {
            owner = pid;
        } else {
            int32_t visited[kMaxParentSteps];
            int visitedCount = 0;
            auto known = info.find(pid);
            int32_t current = known != info.end() ? known->second.parent : -1;
            for (int step = 0; step < kMaxParentSteps; ++step) {
                if (current < 2) break;
                if (std::find(visited, visited + visitedCount, current) != visited + visitedCount) break;
                visited[visitedCount++] = current;
                if (applications.count(current)) {
                    owner = current;
                    break;
                }
                auto parent = info.find(current);
                if (parent == info.end()) break;
                current = parent->second.parent;
            }
            if (!owner && known != info.end()) owner = known->second.pathOwner;
        }
        if (!owner) continue;

        ApplicationMemory& result = results[indexOf.at(*owner)];
        uint64_t resident = 0, footprint = 0;
        if (ts_process_usage(pid, &resident, &footprint) != 0) {
            result.unavailableCount += 1;
            continue;
        }
        result.resident += static_cast<int64_t>(clampedAdd(result.resident, resident));
        result.footprint += static_cast<int64_t>(clampedAdd(result.footprint, footprint));
        result.processCount += 1;
    }

    std::stable_sort(results.begin(), results.end(),
                     [](const ApplicationMemory& a, const ApplicationMemory& b) { return a.footprint > b.footprint; });
    return results;
}
