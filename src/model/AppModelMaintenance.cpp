// The applications-and-caches operations of the model: cache inspection and clean-up,
// uninstalling an application with its related items, and retrying those items.
#include "model/AppModel.h"
#include "model/AppModelState.h"
#include "model/PostToModel.h"

#include "engine/Dates.h"
#include "platform/Errors.h"
#include "services/CachePlan.h"
#include "services/InstalledAppInventory.h"
#include "services/RelatedFiles.h"
#include "services/Uninstall.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <sys/stat.h>

namespace {

// The engine steps' running check: asks about this one application, from the worker, so it
// answers for the moment of each check.
std::function<bool()> runningCheck(std::shared_ptr<RunningApplications> applications, const InstalledApp& app)
{
    return [applications = std::move(applications), path = app.path, bundleID = app.bundleID] {
        return applications->isRunning(path, bundleID);
    };
}

} // namespace

// A worker's wait for the model's word whether to go on, after handing over a record the
// model saves the history for (each related item; a cache clean's checkpoints). A stopped
// job (the model going away) wakes it too.
class AppModel::Baton {
public:
    // Main thread.
    void answer(bool goOn)
    {
        {
            std::lock_guard lock(mutex_);
            answer_ = goOn;
        }
        ready_.notify_one();
    }
    // Worker: false when the model said stop or the job was stopped.
    bool await(std::stop_token stop)
    {
        std::unique_lock lock(mutex_);
        if (!ready_.wait(lock, stop, [&] { return answer_.has_value(); })) return false;
        bool goOn = *answer_;
        answer_.reset();
        return goOn;
    }

private:
    std::mutex mutex_;
    std::condition_variable_any ready_;
    std::optional<bool> answer_;
};

// One cache clean-up in progress. The plan is shared read-only with its worker.
struct AppModel::CacheRun {
    InstalledApp app;
    std::shared_ptr<const CachePlan> plan;
    std::vector<FileEntry> work;
    size_t next = 0;
    int64_t succeeded = 0;
    PathSet moved;
    size_t unsaved = 0; // records published since the last history save
    Baton baton;
    Completion done;
};

// One uninstall, or one retry of related items, in progress.
struct AppModel::RelatedRun {
    InstalledApp app;
    std::vector<RelatedItem> items;
    size_t next = 0;
    bool retry = false;
    Operation appRecord;                      // the bundle's record (uninstall only)
    std::optional<std::string> saveFailure;   // of the last history save
    Baton baton;
    Completion done;
};

void AppModel::setCacheState(std::optional<InstalledApp> app, std::optional<CachePlan> plan)
{
    cacheApp_ = std::move(app);
    emit cacheAppChanged();
    cachePlan_ = std::move(plan);
    emit cachePlanChanged();
}

// ---------------------------------------------------------------------------------------------
// Cache plans

QFuture<void> AppModel::inspectCache(const InstalledApp& app)
{
    if (maintenanceBusy()) return Completion::now();
    if (appIsRunning(app)) {
        setMessage("请先保存工作并退出此应用，再扫描缓存。");
        return Completion::now();
    }
    setCacheState(app, std::nullopt);
    setCacheSelection({});
    setMaintenanceScanning(true);
    Completion done;
    maintenanceJobs_.start(std::stop_source(), [this, app, home = maintenanceHome_, done](std::stop_token stop) {
        std::optional<CachePlan> plan;
        std::string failure;
        try {
            plan = MaintenanceEngine::cachePlan(app, home, dateNow(), stop);
        } catch (const std::exception& error) {
            failure = errorDescription(error);
        }
        post(this, [this, plan = std::move(plan), failure, done]() mutable {
            if (plan) {
                cachePlan_ = std::move(plan);
                emit cachePlanChanged();
            } else {
                setMessage("无法扫描缓存：" + failure);
            }
            setMaintenanceScanning(false);
            done.finish();
        });
    });
    return done.future();
}

QFuture<void> AppModel::cleanCache()
{
    if (maintenanceBusy() || !cacheApp_ || !cachePlan_) return Completion::now();
    if (appIsRunning(*cacheApp_)) {
        setMessage("应用已启动，取消缓存处理。请退出应用后重新扫描。");
        return Completion::now();
    }
    auto run = std::make_shared<CacheRun>();
    run->app = *cacheApp_;
    run->plan = std::make_shared<const CachePlan>(*cachePlan_);
    for (const FileEntry& file : cachePlan_->files)
        if (cacheSelection_.count(file.path)) run->work.push_back(file);
    if (run->work.empty()) return Completion::now();

    setProcessing(true);
    setMaintenanceStop(false);
    setMessage(std::nullopt);
    setActionProgress({0, static_cast<int64_t>(run->work.size()), ""});
    runCacheClean(run);
    return run->done.future();
}

// One worker moves the files as one run, the way a Files page run does. Between files it
// asks whether this one application runs, then reads the model's stop; the file being moved
// is always finished first. A record reaches the model only once its outcome is in the
// journal (a copy killed after publishing still finds the move there): most settle with the
// next file's journal write, so the worker goes on without waiting. At checkpoints it waits
// while the model saves the history, so a failed save stops the run right after that file.
void AppModel::runCacheClean(const std::shared_ptr<CacheRun>& run)
{
    maintenanceJobs_.start(std::stop_source(), [this, run, home = maintenanceHome_, journal = journal_,
                                                historyAtStart = historyStore_.history().size(),
                                                isRunning = runningCheck(services_.runningApplications,
                                                                         run->app)](std::stop_token stop) {
        MaintenanceEngine::CacheClean clean(run->app, *run->plan, home, journal.get());
        size_t published = 0;
        auto publish = [&](bool checkpoint) {
            size_t settled = clean.settled();
            if (settled == published && !checkpoint) return;
            std::vector<Operation> records(clean.records().begin() + static_cast<ptrdiff_t>(published),
                                           clean.records().begin() + static_cast<ptrdiff_t>(settled));
            published = settled;
            post(this, [this, run, records = std::move(records), checkpoint] {
                applyCacheRecords(run, records, checkpoint);
            });
        };
        // The first file is a checkpoint: it shows at once whether the history can be saved.
        CheckpointPace pace{historyAtStart};
        auto ending = CacheEnding::done;
        for (size_t i = 0; i < run->work.size() && !stop.stop_requested(); ++i) {
            if (isRunning()) {
                ending = CacheEnding::appStarted;
                break;
            }
            if (maintenanceStop_) {
                ending = CacheEnding::stopped;
                break;
            }
            clean.clean(run->work[i], {}, stop);
            bool checkpoint = pace.due(static_cast<int64_t>(i) + 1) || i == 0;
            if (checkpoint) clean.settle();
            publish(checkpoint);
            if (checkpoint && !run->baton.await(stop)) break;
        }
        clean.settle();
        publish(false);
        post(this, [this, run, ending] { finishCacheClean(run, ending); });
    });
}

// Each move is journalled, so the history is saved at checkpoints, not after every file (a
// save rewrites the whole history); the worker waits for the answer to a checkpoint only.
void AppModel::applyCacheRecords(const std::shared_ptr<CacheRun>& run, const std::vector<Operation>& records,
                                 bool checkpoint)
{
    if (!records.empty()) {
        bool unchosen = false;
        for (const Operation& record : records) {
            ++run->next;
            if (!record.success) continue;
            ++run->succeeded;
            run->moved.insert(record.path);
            unchosen |= cacheSelection_.erase(record.path) > 0;
        }
        const FileEntry& last = run->work[run->next - 1];
        setActionProgress({static_cast<int64_t>(run->next), static_cast<int64_t>(run->work.size()),
                           std::string(last.name())});
        if (unchosen) emit cacheSelectionChanged();
        putInFront(historyStore_.history(), records);
        run->unsaved += records.size();
        emit historyChanged();
    }
    if (checkpoint) run->baton.answer(saveCacheRun(run));
}

bool AppModel::saveCacheRun(const std::shared_ptr<CacheRun>& run)
{
    run->unsaved = 0;
    if (auto failure = saveHistory(false)) {
        setMessage(saveFailureText("记录保存失败，停止后续处理：", *failure));
        return false;
    }
    return true;
}

void AppModel::finishCacheClean(const std::shared_ptr<CacheRun>& run, CacheEnding ending)
{
    if (ending == CacheEnding::appStarted) setMessage("应用启动，停止后续处理。");
    if (ending == CacheEnding::stopped) setMessage("已停止后续处理，已完成项可在记录中恢复。");
    if (run->unsaved > 0) saveCacheRun(run);
    if (cachePlan_) {
        CachePlan updated;
        updated.root = cachePlan_->root;
        updated.cutoff = cachePlan_->cutoff;
        updated.report = cachePlan_->report;
        std::erase_if(updated.report.files, [&](const FileEntry& file) { return run->moved.count(file.path) > 0; });
        updated.report.rebuildStatistics();
        updated.files = MaintenanceEngine::filesBefore(updated.report.files, updated.cutoff);
        cachePlan_ = std::move(updated);
        emit cachePlanChanged();
    }
    setProcessing(false);
    if (!message_) {
        auto failed = static_cast<int64_t>(run->next) - run->succeeded;
        setMessage("缓存处理完成：成功 " + std::to_string(run->succeeded) + " 项，失败 " + std::to_string(failed) +
                   " 项。可在操作记录恢复；废纸篓仍占空间。");
    }
    run->done.finish();
}

// ---------------------------------------------------------------------------------------------
// Uninstall and related items

QFuture<void> AppModel::removeApp(const InstalledApp& app, const std::vector<RelatedItem>& related)
{
    if (maintenanceBusy()) return Completion::now();
    setProcessing(true);
    // Cleared here, not when the related items start: a stop pressed while the applications
    // are listed or the bundle moves must still keep the related items where they are.
    setMaintenanceStop(false);
    if (appIsRunning(app)) {
        setProcessing(false);
        setMessage("应用仍在运行，请退出后重试。");
        return Completion::now();
    }
    auto run = std::make_shared<RelatedRun>();
    run->app = app;
    run->items = related;
    if (related.empty()) {
        uninstallBundle(run);
        return run->done.future();
    }

    // The bundle must be the only one with its ID, or the related items may be another's.
    whenBundleOwners(run, 1, "同 bundle ID 应用归属不明确，请重新检查；没有移走任何项目。", &AppModel::uninstallBundle);
    return run->done.future();
}

void AppModel::whenBundleOwners(const std::shared_ptr<RelatedRun>& run, long owners, const char* refusal,
                                void (AppModel::*next)(const std::shared_ptr<RelatedRun>&))
{
    maintenanceJobs_.start(std::stop_source(), [this, run, owners, refusal, next, roots = maintenanceAppRoots_,
                                                bundleID = run->app.bundleID](std::stop_token) {
        std::vector<InstalledApp> apps = MaintenanceEngine::discover(roots);
        bool settled = std::count_if(apps.begin(), apps.end(), [&](const InstalledApp& other) {
                           return other.bundleID == bundleID;
                       }) == owners;
        post(this, [this, run, settled, refusal, next] {
            if (!settled) {
                setProcessing(false);
                setMessage(refusal);
                return run->done.finish();
            }
            (this->*next)(run);
        });
    });
}

void AppModel::uninstallBundle(const std::shared_ptr<RelatedRun>& run)
{
    maintenanceJobs_.start(std::stop_source(), [this, run, app = run->app, roots = maintenanceAppRoots_,
                                                journal = journal_,
                                                isRunning = runningCheck(services_.runningApplications, run->app)](std::stop_token stop) {
        Operation record = MaintenanceEngine::uninstall(app, roots, isRunning, {}, journal.get(), stop);
        post(this, [this, run, record = std::move(record)] {
            run->appRecord = record;
            historyStore_.history().insert(historyStore_.history().begin(), record);
            emit historyChanged();
            run->saveFailure = saveHistory(false);
            if (record.success && !run->saveFailure) return moveRelated(run);
            finishRemoveApp(run);
        });
    });
}

// One worker moves the items; each record comes back to the main thread, which saves the
// history and reads the stop request before the next item.
void AppModel::moveRelated(const std::shared_ptr<RelatedRun>& run)
{
    if (run->items.empty() || maintenanceStop_) return endRelated(run);
    maintenanceJobs_.start(std::stop_source(), [this, run, app = run->app, home = maintenanceHome_, journal = journal_,
                                                isRunning = runningCheck(services_.runningApplications, run->app)](std::stop_token stop) {
        for (const RelatedItem& item : run->items) {
            Operation record = RelatedFiles::move(item, app, home, isRunning, journal.get(), {}, stop);
            post(this, [this, run, record = std::move(record)] { applyRelatedRecord(run, record); });
            if (!run->baton.await(stop)) break;
        }
        post(this, [this, run] { endRelated(run); });
    });
}

void AppModel::applyRelatedRecord(const std::shared_ptr<RelatedRun>& run, const Operation& record)
{
    ++run->next;
    historyStore_.history().insert(historyStore_.history().begin(), record);
    emit historyChanged();
    run->saveFailure = saveHistory(false);
    // Read between items only: the item just moved was finished first.
    run->baton.answer(!run->saveFailure && run->next < run->items.size() && !maintenanceStop_);
}

void AppModel::endRelated(const std::shared_ptr<RelatedRun>& run)
{
    if (!run->retry) return finishRemoveApp(run);
    setProcessing(false);
    setMessage(run->saveFailure ? saveFailureText("保存失败，已停止：", *run->saveFailure)
                                : "关联项处理结束。失败项保留，重新检查后可再次确认；成功项可在记录中恢复。");
    run->done.finish();
}

void AppModel::finishRemoveApp(const std::shared_ptr<RelatedRun>& run)
{
    const InstalledApp& app = run->app;
    if (run->appRecord.success) {
        auto removed = std::erase_if(installedApps_, [&](const InstalledApp& other) { return other.path == app.path; });
        if (removed) emit installedAppsChanged();
        if (cacheApp_ && cacheApp_->path == app.path) {
            setCacheState(std::nullopt, std::nullopt);
            setCacheSelection({});
        }
    }
    setProcessing(false);
    std::string text = run->appRecord.detail + (run->items.empty() ? "；关联文件已保留。"
                                                                   : "；关联项处理结果请查看操作记录，失败项可重新检查后重试。");
    if (run->saveFailure) text.append("\n").append(saveFailureText("记录保存失败：", *run->saveFailure));
    setMessage(std::move(text));
    run->done.finish();
}

QFuture<void> AppModel::retryRelated(const InstalledApp& app, const std::vector<RelatedItem>& items)
{
    struct stat info {};
    const std::vector<Operation>& history = historyStore_.history();
    bool uninstalled = std::any_of(history.begin(), history.end(), [&](const Operation& record) {
        return record.kind == "application" && record.path == app.path && record.success && !record.restoredAt;
    });
    if (maintenanceBusy() || stat(app.path.c_str(), &info) == 0 || !uninstalled) {
        setMessage("应用卸载状态已变化，请刷新列表后重新检查。");
        return Completion::now();
    }
    setProcessing(true);
    setMaintenanceStop(false);
    auto run = std::make_shared<RelatedRun>();
    run->app = app;
    run->items = items;
    run->retry = true;
    // An application installed again with the same ID may own the items now.
    whenBundleOwners(run, 0, "存在相同 bundle ID 的应用，停止关联项重试。", &AppModel::moveRelated);
    return run->done.future();
}
