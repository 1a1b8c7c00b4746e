// The memory page's work in the model: sampling memory and the running applications, asking
// an application to quit, and releasing memory.
#include "model/AppModel.h"
#include "model/PostToModel.h"

#include "engine/Dates.h"

#include <algorithm>
#include <unistd.h>

namespace {

// The running application a memory row names, looked up again; none when it is gone or no
// longer the same application.
std::optional<RunningApplication> confirmedApplication(RunningApplications& apps, const ApplicationMemory& row)
{
    std::optional<RunningApplication> app = apps.lookup(row.id);
    if (!app || !app->regular || app->bundlePath != row.bundlePath || app->name != row.name) return std::nullopt;
    return app;
}

} // namespace

void AppModel::sampleMemory()
{
    refreshAvailableSpace(false);
    setMemory(services_.readMemory());
    if (memory_) {
        memorySamples_.push_back(*memory_);
        if (memorySamples_.size() > kKeptSamples)
            memorySamples_.erase(memorySamples_.begin(),
                                 memorySamples_.begin() + static_cast<std::ptrdiff_t>(memorySamples_.size() - kKeptSamples));
        emit memorySamplesChanged();
    }
    if (samplingApplications_) return;
    samplingApplications_ = true;

    std::vector<RunningApplication> running = services_.runningApplications->list();
    updateRunningApplicationSnapshot(running);
    std::vector<ApplicationIdentity> identities;
    for (const RunningApplication& app : running)
        if (app.regular) identities.push_back({app.pid, app.name.value_or("未知应用"), app.bundlePath.value_or("")});

    auto read = services_.readApplicationMemory;
    memoryJobs_.start(std::stop_source(), [this, identities = std::move(identities), read](std::stop_token) {
        std::vector<ApplicationMemory> result = read(identities);
        post(this, [this, result = std::move(result)]() mutable {
            applications_ = std::move(result);
            emit applicationsChanged();
            applicationsDate_ = dateNow();
            emit applicationsDateChanged();
            samplingApplications_ = false;
        });
    });
}

void AppModel::updateRunningApplicationSnapshot(const std::vector<RunningApplication>& applications)
{
    PathSet ids;
    PathSet paths;
    for (const RunningApplication& app : applications) {
        if (app.bundleIdentifier) ids.insert(*app.bundleIdentifier);
        if (app.bundlePath) paths.insert(*app.bundlePath);
    }
    if (ids != runningApplicationIDs_) {
        runningApplicationIDs_ = std::move(ids);
        emit runningApplicationIDsChanged();
    }
    if (paths != runningApplicationPaths_) {
        runningApplicationPaths_ = std::move(paths);
        emit runningApplicationPathsChanged();
    }
}

bool AppModel::appAppearsRunning(const InstalledApp& app) const
{
    return runningApplicationIDs_.count(app.bundleID) > 0 || runningApplicationPaths_.count(app.path) > 0;
}

void AppModel::requestQuit(const ApplicationMemory& row)
{
    const char* changed = "应用已变化或无法确认身份，请刷新后重试。";
    if (row.id == static_cast<int32_t>(getpid()) || row.bundlePath.empty()) return setMessage(changed);
    std::optional<RunningApplication> app = confirmedApplication(*services_.runningApplications, row);
    if (!app) return setMessage(changed);
    if (services_.runningApplications->requestQuit(*app))
        setMessage("已请求正常退出。应用可能正在等待保存确认，请检查它的窗口。");
    else
        setMessage("应用未接受退出请求，请在应用中保存并退出。");
}

void AppModel::quickLook(const std::string& path)
{
    if (auto failure = services_.preview(path)) setMessage(*failure);
}

QFuture<void> AppModel::releaseMemory(const std::vector<ApplicationMemory>& candidates)
{
    if (memoryReleasing_ || maintenanceBusy() || candidates.empty()) return Completion::now();
    setMemoryReleasing(true);
    memoryReleaseOutcome_.reset();
    emit memoryReleaseOutcomeChanged();

    std::shared_ptr<RunningApplications> apps = services_.runningApplications;
    auto sample = services_.readMemory;
    Completion done;
    releaseJobs_.start(std::stop_source(), [this, candidates, apps, sample, done](std::stop_token stop) {
        // Only the processes asked here are polled, pinned when they were looked up.
        std::map<int32_t, RunningApplication> asked;
        auto request = [&](const ApplicationMemory& candidate) {
            std::optional<RunningApplication> app = confirmedApplication(*apps, candidate);
            if (!app) return false;
            asked[candidate.id] = *app;
            return apps->requestQuit(*app);
        };
        auto running = [&](const ApplicationMemory& candidate) {
            auto found = asked.find(candidate.id);
            return found != asked.end() && !apps->hasTerminated(found->second);
        };
        MemoryReleaseOutcome outcome = MemoryReleaseEngine::run(candidates, request, running, sample, kReleaseTimeout, stop);
        post(this, [this, outcome = std::move(outcome), done]() mutable {
            memoryReleaseOutcome_ = std::move(outcome);
            emit memoryReleaseOutcomeChanged();
            sampleMemory();
            setMemoryReleasing(false);
            done.finish();
        });
    });
    return done.future();
}
