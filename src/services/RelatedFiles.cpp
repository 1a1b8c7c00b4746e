#include "services/RelatedFiles.h"

#include <algorithm>

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

} // namespace RelatedFiles
