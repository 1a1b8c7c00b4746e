#include "services/CachePlan.h"
#include "platform/PathText.h"

#include "engine/Dates.h"
#include "engine/FileActionEngine.h"
#include "engine/FileEngine.h"
#include "engine/Uuid.h"
#include "platform/Errors.h"
#include "platform/TextValidity.h"
#include "services/MaintenanceEngine.h"

#include <cerrno>

namespace {

const char kNoRule[] = "此应用没有已启用的缓存清理规则。";
const char kParentLinked[] = "用户缓存目录经过符号链接，停止扫描。";
const char kRootLinked[] = "缓存目录路径已变化或经过符号链接。";
const char kAgeNote[] = "仅处理修改超过 7 天的普通文件；跳过应用包、云文件、符号链接与受保护目录。缓存可被应用重建，首次使用可能变慢。";
const char kRuleChanged[] = "缓存规则或目录已变化，请重新扫描。";
const char kRunning[] = "应用正在运行，停止缓存处理。";
const char kCancelled[] = "处理已取消。";


} // namespace

namespace MaintenanceEngine {

const std::unordered_set<std::string>& cacheRules()
{
    static const std::unordered_set<std::string> rules = {
        "org.videolan.vlc", "com.spotify.client", "com.tinyspeck.slackmacgap", "us.zoom.xos", "com.hnc.Discord",
    };
    return rules;
}

std::optional<std::string> cacheFolder(const std::string& bundleID, const std::string& home)
{
    if (!cacheRules().count(bundleID)) return std::nullopt;
    std::string base = home;
    while (!base.empty() && base.back() == '/') base.pop_back();
    if (bundleID == "com.hnc.Discord") return base + "/Library/Application Support/discord/Cache";
    return base + "/Library/Caches/" + bundleID;
}

std::vector<FileEntry> filesBefore(const std::vector<FileEntry>& files, double cutoff)
{
    std::vector<FileEntry> old;
    for (const FileEntry& file : files)
        if (file.modified < cutoff) old.push_back(file);
    return old;
}

CachePlan cachePlan(const InstalledApp& app, const std::string& home, double now, std::stop_token stop)
{
    std::optional<std::string> root = cacheFolder(app.bundleID, home);
    if (!root) throw error(kNoRule);
    std::string parent = parentOf(*root);
    if (FileEngine::canonicalURL(parent) != parent) throw error(kParentLinked);
    if (FileEngine::canonicalURL(*root) != *root) throw error(kRootLinked);

    CachePlan plan;
    plan.root = *root;
    plan.report = FileEngine::scan(*root, {}, stop);
    // The note is part of what the plan says, so it is added even to a full warning list.
    plan.report.warnings.push_back(kAgeNote);
    plan.cutoff = now - kCacheAge;
    plan.files = filesBefore(plan.report.files, plan.cutoff);
    return plan;
}

CacheClean::CacheClean(const InstalledApp& app, const CachePlan& plan, std::string home, OperationJournal* journal)
    : app_(app), plan_(plan), home_(std::move(home)), run_(journal)
{
}

void CacheClean::clean(const FileEntry& file, const std::function<bool()>& isRunning, std::stop_token stop)
{
    run_.move(file, plan_.root, [&] {
        std::optional<std::string> folder = cacheFolder(app_.bundleID, home_);
        if (!folder || *folder != plan_.root) throw error(kRuleChanged);
        // Canonicalising's own error is the refusal's text.
        if (FileEngine::canonicalURL(*folder) != *folder || !(file.modified < plan_.cutoff)) throw error(kRuleChanged);
        if (isRunning && isRunning()) throw error(kRunning);
        if (stop.stop_requested()) throw error(kCancelled);
    }, stop);
}

Operation cleanCacheFile(const FileEntry& file, const InstalledApp& app, const CachePlan& plan,
                         const std::string& home, const std::function<bool()>& isRunning,
                         OperationJournal* journal, std::stop_token stop)
{
    CacheClean one(app, plan, home, journal);
    one.clean(file, isRunning, stop);
    one.settle();
    return one.records().front();
}

} // namespace MaintenanceEngine
