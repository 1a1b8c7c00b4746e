#include "BenchCommand.h"

#include "services/MemoryAdvice.h"
#include "services/MemorySnapshot.h"
#include "services/ProcessMemoryReader.h"
#include "platform/LinuxRunningApplications.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {
void printSnapshot(const MemorySnapshot& s)
{
    std::printf("total       %llu\nactive      %llu\nwired       %llu\ncompressed  %llu\nfree        %llu\n",
                (unsigned long long)s.total, (unsigned long long)s.active, (unsigned long long)s.wired,
                (unsigned long long)s.compressed, (unsigned long long)s.free);
    if (s.swapUsed) std::printf("swapUsed    %llu\n", (unsigned long long)*s.swapUsed);
    else std::printf("swapUsed    (none)\n");
    std::printf("swapouts    %llu\npressure    %s\n", (unsigned long long)s.swapouts,
                std::string(s.pressure.rawValue()).c_str());
}

// Reads the memory snapshot repeatedly and prints its figures and the time per reading;
// with --applications also the per-application reading of the running applications.
BenchCommand memory("memory", "memory [--count N] [--root DIR] [--applications]",
                    [](const std::vector<std::string>& args) {
    int count = std::max(1, std::stoi(optionValue(args, "--count", "1000")));
    std::string root = optionValue(args, "--root", "/");
    auto first = MemorySnapshot::read(root);
    if (!first) {
        std::fprintf(stderr, "no memory reading under %s\n", root.c_str());
        return 1;
    }
    printSnapshot(*first);
    std::vector<double> times;
    for (int i = 0; i < count; ++i) {
        double t0 = monotonicSeconds();
        auto s = MemorySnapshot::read(root);
        times.push_back(monotonicSeconds() - t0);
        if (!s) return 1;
    }
    std::sort(times.begin(), times.end());
    double sum = 0;
    for (double t : times) sum += t;
    std::printf("snapshot    mean %.1f us, median %.1f us, p99 %.1f us, max %.1f us (%d readings)\n",
                sum / count * 1e6, times[times.size() / 2] * 1e6, times[times.size() * 99 / 100] * 1e6,
                times.back() * 1e6, count);
    auto advice = MemoryAdvice::evaluate({*first}, first->date);
    std::printf("advice      %s (%d)\n", advice.title.c_str(), advice.severity);

    if (hasFlag(args, "--applications")) {
        LinuxRunningApplications running;
        double t0 = monotonicSeconds();
        std::vector<ApplicationIdentity> identities;
        for (const auto& app : running.list())
            if (app.regular) identities.push_back({app.pid, app.name.value_or("未知应用"), app.bundlePath.value_or("")});
        double t1 = monotonicSeconds();
        auto rows = ProcessMemoryReader::read(identities);
        double t2 = monotonicSeconds();
        for (const auto& row : rows)
            std::printf("%7d %-30s resident %lld footprint %lld processes %d unavailable %d\n", row.id,
                        row.name.c_str(), (long long)row.resident, (long long)row.footprint, row.processCount,
                        row.unavailableCount);
        std::printf("applications list %.2f ms, per-application reading %.2f ms\n", (t1 - t0) * 1e3,
                    (t2 - t1) * 1e3);
    }
    return 0;
});
} // namespace
