#include "services/CachePlan.h"

#include "BundleFixture.h"
#include "TestSupport.h"
#include "engine/Dates.h"
#include "engine/FileEngine.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const std::string kNoRule = "此应用没有已启用的缓存清理规则。";
const std::string kRuleChanged = "缓存规则或目录已变化，请重新扫描。";
const double kDay = 86400;

InstalledApp appWithID(const std::string& id)
{
    return {.path = "/Applications/X.app", .name = "X", .bundleID = id, .identity = ""};
}

// "ok", the maintenance refusal, or "errno:<n>".
std::string planOutcome(const InstalledApp& app, const std::string& home)
{
    try {
        MaintenanceEngine::cachePlan(app, home, dateNow());
        return "ok";
    } catch (const TessynError& e) {
        EXPECT_EQ(e.domain(), "TessynMaintenance");
        return e.message();
    } catch (const std::system_error& e) {
        return "errno:" + std::to_string(e.code().value());
    }
}

// Sets the modification time to a whole second and returns it as a date.
double setModified(const std::string& path, time_t unixSeconds)
{
    timespec times[2] = {{unixSeconds, 0}, {unixSeconds, 0}};
    if (utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) ADD_FAILURE() << "utimensat " << path;
    return static_cast<double>(unixSeconds) - kReferenceDateOffset;
}

} // namespace

TEST(CachePlan, RulesFoldersAndRefusals)
{
    TempHome temp;
    std::string home = FileEngine::canonicalURL(temp.root());
    EXPECT_EQ(MaintenanceEngine::cacheRules().size(), 5u);
    for (const char* id : {"org.videolan.vlc", "com.spotify.client", "com.tinyspeck.slackmacgap", "us.zoom.xos"})
        EXPECT_EQ(MaintenanceEngine::cacheFolder(id, home + "/"), home + "/Library/Caches/" + id);
    EXPECT_EQ(MaintenanceEngine::cacheFolder("com.hnc.Discord", home),
              home + "/Library/Application Support/discord/Cache");
    EXPECT_FALSE(MaintenanceEngine::cacheFolder("org.videolan.VLC", home)) << "identifiers match exactly";

    EXPECT_EQ(planOutcome(appWithID("com.example.none"), home), kNoRule);
    EXPECT_EQ(planOutcome(appWithID("org.videolan.vlc"), home), "errno:" + std::to_string(ENOENT))
        << "a missing cache folder fails in its resolution";

    // The cache folder itself is a link.
    makeDirs(home + "/elsewhere/vlc");
    makeDirs(home + "/Library/Caches");
    ASSERT_EQ(symlink((home + "/elsewhere/vlc").c_str(), (home + "/Library/Caches/org.videolan.vlc").c_str()), 0);
    EXPECT_EQ(planOutcome(appWithID("org.videolan.vlc"), home), "缓存目录路径已变化或经过符号链接。");

    // The folder holding it is reached through a link.
    makeDirs(home + "/elsewhere/support/discord/Cache");
    makeDirs(home + "/Library/Application Support");
    ASSERT_EQ(symlink((home + "/elsewhere/support/discord").c_str(),
                      (home + "/Library/Application Support/discord").c_str()), 0);
    EXPECT_EQ(planOutcome(appWithID("com.hnc.Discord"), home), "用户缓存目录经过符号链接，停止扫描。");
}

TEST(CachePlan, OffersOnlyFilesStrictlyBeforeTheCutoff)
{
    TempHome temp;
    std::string home = FileEngine::canonicalURL(temp.root());
    std::string root = home + "/Library/Caches/us.zoom.xos";
    time_t now = time(nullptr);
    time_t cutoffUnix = now - 7 * 86400;
    std::string atCutoff = writeFile(root + "/at-cutoff", "aaaa");
    std::string justOlder = writeFile(root + "/sub/just-older", "bbbbbbbb");
    std::string fresh = writeFile(root + "/fresh", "c");
    std::string old = writeFile(root + "/old", "dd");
    setModified(atCutoff, cutoffUnix);
    setModified(justOlder, cutoffUnix - 1);
    setModified(old, cutoffUnix - 30 * 86400);
    double nowDate = static_cast<double>(now) - kReferenceDateOffset;

    CachePlan plan = MaintenanceEngine::cachePlan(appWithID("us.zoom.xos"), home, nowDate);
    EXPECT_EQ(plan.root, root);
    EXPECT_EQ(plan.cutoff, nowDate - 7 * kDay);
    EXPECT_EQ(plan.report.files.size(), 4u) << "the report keeps every file";
    ASSERT_FALSE(plan.report.warnings.empty());
    EXPECT_EQ(plan.report.warnings.back(),
              "仅处理修改超过 7 天的普通文件；跳过应用包、云文件、符号链接与受保护目录。缓存可被应用重建，首次使用可能变慢。");
    std::vector<std::string> offered;
    for (const FileEntry& file : plan.files) offered.push_back(file.path);
    // Report order is largest first.
    EXPECT_EQ(offered, (std::vector<std::string>{justOlder, old})) << "a file at the cut-off is not offered";
}

TEST(CachePlan, FileStepRechecksRuleFolderAgeAndRunning)
{
    TempHome temp;
    std::string home = FileEngine::canonicalURL(temp.root());
    std::string root = home + "/Library/Caches/org.videolan.vlc";
    std::vector<std::string> paths;
    for (int i = 0; i < 6; ++i) {
        paths.push_back(writeFile(root + "/f" + std::to_string(i), std::string(10 + i, 'x')));
        setAge(paths.back(), 10 * kDay);
    }
    InstalledApp app = appWithID("org.videolan.vlc");
    CachePlan plan = MaintenanceEngine::cachePlan(app, home, dateNow());
    ASSERT_EQ(plan.files.size(), 6u);
    auto fileAt = [&](const std::string& path) {
        for (const FileEntry& file : plan.files)
            if (file.path == path) return file;
        ADD_FAILURE() << path << " not in the plan";
        return FileEntry();
    };
    makeDirs(home + "/store");
    OperationJournal journal(home + "/store/pending-actions.json");
    auto notRunning = [] { return false; };

    Operation moved = MaintenanceEngine::cleanCacheFile(fileAt(paths[0]), app, plan, home, notRunning, &journal);
    EXPECT_TRUE(moved.success) << moved.detail;
    EXPECT_EQ(moved.path, paths[0]);
    ASSERT_TRUE(moved.trashPath);
    EXPECT_EQ(readFile(*moved.trashPath), std::string(10, 'x'));
    ASSERT_EQ(journal.entries().size(), 1u);
    EXPECT_EQ(journal.entries()[0].phase, "finished");

    int runningCalls = 0;
    Operation running = MaintenanceEngine::cleanCacheFile(fileAt(paths[1]), app, plan, home,
                                                          [&] { return ++runningCalls > 0; }, &journal);
    EXPECT_FALSE(running.success);
    EXPECT_EQ(running.detail, "应用正在运行，停止缓存处理。");
    EXPECT_FALSE(running.resourceID) << "a refused file carries no identity";

    CachePlan otherRoot = plan;
    otherRoot.root = home + "/Library/Caches/other";
    EXPECT_EQ(MaintenanceEngine::cleanCacheFile(fileAt(paths[1]), app, otherRoot, home, notRunning, &journal).detail,
              kRuleChanged);
    EXPECT_EQ(MaintenanceEngine::cleanCacheFile(fileAt(paths[1]), appWithID("com.example.none"), plan, home,
                                                notRunning, &journal).detail,
              kRuleChanged);
    CachePlan earlier = plan;
    earlier.cutoff = fileAt(paths[1]).modified;
    EXPECT_EQ(MaintenanceEngine::cleanCacheFile(fileAt(paths[1]), app, earlier, home, notRunning, &journal).detail,
              kRuleChanged)
        << "the age test is strict";

    // The file changed after the plan: the move's own re-check refuses it.
    writeFile(paths[2], "changed contents");
    setAge(paths[2], 10 * kDay);
    Operation changed = MaintenanceEngine::cleanCacheFile(fileAt(paths[2]), app, plan, home, notRunning, &journal);
    EXPECT_FALSE(changed.success);
    EXPECT_EQ(changed.detail, "文件已变化、已移动或超出扫描范围，请重新扫描。");

    std::stop_source stop;
    stop.request_stop();
    EXPECT_EQ(MaintenanceEngine::cleanCacheFile(fileAt(paths[3]), app, plan, home, notRunning, &journal,
                                                stop.get_token()).detail,
              "处理已取消。");

    // The folder replaced by a link to an identical copy.
    ASSERT_EQ(rename(root.c_str(), (home + "/moved-cache").c_str()), 0);
    EXPECT_EQ(MaintenanceEngine::cleanCacheFile(fileAt(paths[4]), app, plan, home, notRunning, &journal).detail,
              "No such file or directory");
    ASSERT_EQ(symlink((home + "/moved-cache").c_str(), root.c_str()), 0);
    EXPECT_EQ(MaintenanceEngine::cleanCacheFile(fileAt(paths[4]), app, plan, home, notRunning, &journal).detail,
              kRuleChanged);
    for (int i = 1; i < 6; ++i)
        EXPECT_EQ(access((home + "/moved-cache/f" + std::to_string(i)).c_str(), F_OK), 0) << "f" << i << " stays";
}
