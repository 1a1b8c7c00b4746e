#include "services/RelatedFiles.h"

#include "engine/Dates.h"
#include "engine/Uuid.h"
#include "platform/Errors.h"
#include "platform/Trash.h"
#include "services/MaintenanceEngine.h"

#include <algorithm>
#include <cerrno>

namespace RelatedFiles {

std::vector<std::pair<std::string, std::string>> paths(const InstalledApp& app, const std::string& home)
{
    const std::string& id = app.bundleID;
    // An empty identifier would name the Caches and Application Support folders themselves.
    if (id.empty() || id.find('/') != std::string::npos || id.find('\0') != std::string::npos || id == "." ||
        id == "..")
        return {};
    std::string base = home;
    while (!base.empty() && base.back() == '/') base.pop_back();
    return {
        {base + "/Library/Preferences/" + id + ".plist", "偏好设置 · 删除会重置设置"},
        {base + "/Library/Caches/" + id, "缓存目录 · 可能需要重新下载"},
        {base + "/Library/Application Support/" + id, "支持数据 · 可能包含个人文稿、数据库与登录状态"},
    };
}

std::vector<RelatedItem> discover(const InstalledApp& app, const std::string& home,
                                  const std::vector<InstalledApp>& installed, std::stop_token stop)
{
    auto sameID = std::count_if(installed.begin(), installed.end(),
                                [&](const InstalledApp& other) { return other.bundleID == app.bundleID; });
    if (sameID != 1) return {};
    std::vector<RelatedItem> items;
    for (const auto& [path, label] : paths(app, home)) {
        try {
            items.push_back(RelatedItem::snapshot(path, label, stop));
        } catch (const std::exception&) {
            // Missing, linked, special or unsignable locations are not offered.
        }
    }
    return items;
}

Operation move(const RelatedItem& item, const InstalledApp& app, const std::string& home,
               const std::function<bool()>& isRunning, OperationJournal* journal, const TrashFunction& trash,
               std::stop_token stop)
{
    try {
        Trash::requireRecordablePath(item.path);
        auto locations = paths(app, home);
        bool related = std::any_of(locations.begin(), locations.end(),
                                   [&](const auto& location) { return location.first == item.path; });
        if (!related || (isRunning && isRunning()))
            throw MaintenanceEngine::error("关联范围变化或应用正在运行，请重新检查。");

        RelatedItem current = RelatedItem::snapshot(item.path, item.label, stop);
        if (current.identity != item.identity || current.modified != item.modified ||
            current.changed != item.changed || current.directory != item.directory || current.size != item.size ||
            current.signature != item.signature)
            throw MaintenanceEngine::error("关联文件已变化，请重新扫描并确认。");

        Operation prepared;
        prepared.id = newUUID();
        prepared.date = dateNow();
        prepared.path = item.path;
        prepared.size = item.size;
        prepared.success = false;
        prepared.detail = "准备移走关联项";
        prepared.resourceID = item.identity;
        prepared.modified = item.modified;
        if (item.directory) prepared.kind = "related-directory";
        prepared.bundleID = app.bundleID;
        prepared.treeSignature = item.signature;
        return MaintenanceEngine::moveToTrashJournalled(prepared, journal, trash, [&] {
            if (isRunning && isRunning()) throw MaintenanceEngine::error("应用刚刚启动，停止处理。");
        });
    } catch (const std::exception& error) {
        return failedOperation(item.path, item.size, errorDescription(error));
    } catch (...) {
        return failedOperation(item.path, item.size, errorDescription(posixError(EIO)));
    }
}

} // namespace RelatedFiles
