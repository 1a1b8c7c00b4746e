#include "ModelTestSupport.h"

#include "BundleFixture.h"
#include "ChildProcess.h"
#include "HeldLock.h"
#include "engine/FileEngine.h"
#include "services/InstalledAppInventory.h"
#include "services/RelatedFiles.h"

#include "engine/HistoryStore.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const double kDay = 86400;
const std::string kCacheNote = "已停止后续处理，已完成项可在记录中恢复。";
const std::string kRelatedSuffix = "；关联项处理结果请查看操作记录，失败项可重新检查后重试。";
const std::string kRetryDone = "关联项处理结束。失败项保留，重新检查后可再次确认；成功项可在记录中恢复。";
const std::string kRetryChanged = "应用卸载状态已变化，请刷新列表后重新检查。";

// A model over a temporary home with an Applications folder and fake running applications.
struct Maintenance : ModelHome {
    std::string homeFolder = FileEngine::canonicalURL(home.root());
    std::string appFolder = homeFolder + "/Applications";
    std::unique_ptr<AppModel> app;

    explicit Maintenance(bool start = true)
    {
        makeDirs(appFolder);
        if (start) app = model();
    }
    // A hold left by a failed assertion would keep the worker, and so the model's end, waiting.
    ~Maintenance() { apps->release(); }
    AppModel& m() { return *app; }

    InstalledApp install(const std::string& name, const std::string& id)
    {
        return MaintenanceEngine::app(makeAppBundle(appFolder, name, id), {appFolder});
    }
    void refresh()
    {
        m().refreshInstalledApps();
        ASSERT_TRUE(waitFor([&] { return !m().maintenanceScanning(); }));
    }
    void setRunning(const InstalledApp& installed, bool byPathOnly = false)
    {
        apps->set({runningApp(4242, installed.name, installed.path,
                                     byPathOnly ? std::nullopt : std::optional<std::string>(installed.bundleID))});
    }

    // Waits for the running operation; false on timeout.
    bool settle() { return waitFor([&] { return !m().processing() && !m().maintenanceScanning(); }); }

    std::string cacheFolder(const std::string& id) { return homeFolder + "/Library/Caches/" + id; }
    // Old cache files c0..c<n-1>, larger first so the plan keeps this order.
    std::vector<std::string> oldCacheFiles(const std::string& id, int count)
    {
        std::vector<std::string> paths;
        for (int i = 0; i < count; ++i) {
            paths.push_back(writeFile(cacheFolder(id) + "/c" + std::to_string(i), std::string(100 - i, 'x')));
            setAge(paths.back(), 10 * kDay);
        }
        return paths;
    }
    // The running question the worker asks before file `index` of the next clean: one comes
    // first on the main thread, then one per file.
    size_t questionBefore(size_t index) { return apps->asked().size() + 2 + index; }
    // Holds that question and starts the clean; true once the worker waits there.
    bool cleanUntil(size_t question)
    {
        apps->holdAt(question);
        m().cleanCache();
        return waitFor([&] { return apps->asked().size() == question; });
    }
    void inspectAndSelectAll(const InstalledApp& installed)
    {
        m().inspectCache(installed);
        ASSERT_TRUE(settle());
        ASSERT_TRUE(m().cachePlan()) << m().message().value_or("");
        AppModel::PathSet all;
        for (const FileEntry& file : m().cachePlan()->files) all.insert(file.path);
        m().setCacheSelection(all);
    }
};

bool exists(const std::string& path)
{
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

std::string identityOf(const std::string& path)
{
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) return "missing";
    return std::to_string(static_cast<int32_t>(st.st_dev)) + ":" + std::to_string(st.st_ino);
}

std::vector<std::string> planPaths(const AppModel& model)
{
    std::vector<std::string> out;
    if (model.cachePlan())
        for (const FileEntry& file : model.cachePlan()->files) out.push_back(file.path);
    return out;
}

// Runs `action` once when the history has grown by `count` records since now.
void onHistoryGrowth(AppModel& model, size_t count, std::function<void()> action)
{
    size_t start = model.history().size();
    auto fired = std::make_shared<bool>(false);
    QObject::connect(&model, &AppModel::historyChanged, &model, [&model, start, count, action, fired] {
        if (!*fired && model.history().size() >= start + count) {
            *fired = true;
            action();
        }
    });
}

// The three related locations of an identifier, made with some content.
std::vector<RelatedItem> makeRelated(const Maintenance& env, const InstalledApp& installed)
{
    auto locations = RelatedFiles::paths(installed, env.homeFolder);
    writeFile(locations[0].first, "<plist/>");
    writeFile(locations[1].first + "/blob", "cache");
    writeFile(locations[2].first + "/db/data.sqlite", "support");
    return RelatedFiles::discover(installed, env.homeFolder, {installed});
}

} // namespace

TEST(AppModelCaches, InspectionRefusalsAndPlan)
{
    Maintenance env;
    InstalledApp none = env.install("Plain", "com.example.plain");
    env.m().inspectCache(none);
    EXPECT_TRUE(env.m().maintenanceScanning()) << "the plan is built in the background";
    ASSERT_TRUE(env.settle());
    EXPECT_EQ(env.m().message(), "无法扫描缓存：此应用没有已启用的缓存清理规则。");
    EXPECT_FALSE(env.m().cachePlan());
    EXPECT_EQ(env.m().cacheApp(), none);

    // The cache folder is a link, then reached through a linked parent.
    InstalledApp vlc = env.install("VLC", "org.videolan.vlc");
    makeDirs(env.homeFolder + "/elsewhere/vlc");
    makeDirs(env.homeFolder + "/Library/Caches");
    ASSERT_EQ(symlink((env.homeFolder + "/elsewhere/vlc").c_str(), env.cacheFolder("org.videolan.vlc").c_str()), 0);
    env.m().inspectCache(vlc);
    ASSERT_TRUE(env.settle());
    EXPECT_EQ(env.m().message(), "无法扫描缓存：缓存目录路径已变化或经过符号链接。");
    InstalledApp discord = env.install("Discord", "com.hnc.Discord");
    makeDirs(env.homeFolder + "/elsewhere/discord/Cache");
    makeDirs(env.homeFolder + "/Library/Application Support");
    ASSERT_EQ(symlink((env.homeFolder + "/elsewhere/discord").c_str(),
                      (env.homeFolder + "/Library/Application Support/discord").c_str()), 0);
    env.m().inspectCache(discord);
    ASSERT_TRUE(env.settle());
    EXPECT_EQ(env.m().message(), "无法扫描缓存：用户缓存目录经过符号链接，停止扫描。");
    EXPECT_FALSE(env.m().cachePlan());

    // Running: nothing is scanned and the earlier state stays.
    InstalledApp zoom = env.install("Zoom", "us.zoom.xos");
    std::vector<std::string> files = env.oldCacheFiles("us.zoom.xos", 2);
    writeFile(env.cacheFolder("us.zoom.xos") + "/fresh", "new");
    env.setRunning(zoom, true);
    env.m().inspectCache(zoom);
    EXPECT_FALSE(env.m().maintenanceScanning());
    EXPECT_EQ(env.m().message(), "请先保存工作并退出此应用，再扫描缓存。");
    EXPECT_EQ(env.m().cacheApp(), discord);

    env.apps->set({});
    env.m().setCacheSelection({"/stale"});
    env.m().inspectCache(zoom);
    EXPECT_TRUE(env.m().cacheSelection().empty()) << "each inspection starts with an empty choice";
    ASSERT_TRUE(env.settle());
    ASSERT_TRUE(env.m().cachePlan());
    EXPECT_EQ(env.m().cachePlan()->report.files.size(), 3u);
    EXPECT_EQ(planPaths(env.m()), files) << "only the old files are offered";

    // An empty choice does nothing at all, not even a message.
    env.m().setMessage(std::nullopt);
    size_t records = env.m().history().size();
    QSignalSpy processing(&env.m(), &AppModel::processingChanged);
    env.m().cleanCache();
    EXPECT_EQ(processing.count(), 0);
    EXPECT_FALSE(env.m().message());
    EXPECT_EQ(env.m().history().size(), records);

    // A choice while the application runs is refused before anything moves.
    env.m().setCacheSelection({files[0]});
    env.setRunning(zoom);
    env.m().cleanCache();
    EXPECT_FALSE(env.m().processing());
    EXPECT_EQ(env.m().message(), "应用已启动，取消缓存处理。请退出应用后重新扫描。");
    EXPECT_TRUE(exists(files[0]));
}

TEST(AppModelCaches, CleaningMovesChosenFilesAndKeepsRefusedOnesSelected)
{
    Maintenance env;
    InstalledApp vlc = env.install("VLC", "org.videolan.vlc");
    std::vector<std::string> files = env.oldCacheFiles("org.videolan.vlc", 3);
    env.inspectAndSelectAll(vlc);
    // The second file changes after the review: the move's own check refuses it.
    writeFile(files[1], std::string(99, 'y'));
    setAge(files[1], 10 * kDay);

    env.m().cleanCache();
    EXPECT_TRUE(env.m().processing());
    ASSERT_TRUE(env.settle());
    EXPECT_EQ(env.m().message(), "缓存处理完成：成功 2 项，失败 1 项。可在操作记录恢复；废纸篓仍占空间。");
    EXPECT_FALSE(exists(files[0]));
    EXPECT_TRUE(exists(files[1]));
    EXPECT_FALSE(exists(files[2]));
    EXPECT_EQ(env.m().cacheSelection(), AppModel::PathSet{files[1]}) << "the refused file stays chosen";
    EXPECT_EQ(planPaths(env.m()), std::vector<std::string>{files[1]}) << "moved files leave the plan";
    EXPECT_EQ(env.m().cachePlan()->report.fileSizeTotal, 99) << "statistics are rebuilt";
    ASSERT_GE(env.m().history().size(), 3u);
    EXPECT_EQ(historyPaths(env.m().history()), (std::vector<std::string>{files[2], files[1], files[0]}));
    EXPECT_EQ(env.m().history()[1].detail, "文件已变化、已移动或超出扫描范围，请重新扫描。");
    EXPECT_EQ(env.m().actionProgress(), (ActionProgress{3, 3, "c2"}));

    // The records saved at the first file and at the end: the stored history holds all three.
    auto reread = env.model();
    EXPECT_EQ(historyPaths(reread->history()), historyPaths(env.m().history()));
}

// A stop is read before each file: the note says files were left, and a stop read after the
// last file ends with the summary.
TEST(AppModelCaches, AStopEndsTheRunBeforeTheNextFile)
{
    const std::string onlyOne = "缓存处理完成：成功 1 项，失败 0 项。可在操作记录恢复；废纸篓仍占空间。";
    struct Case {
        size_t files, stopBefore;
        std::string message;
    } cases[] = {{3, 0, kCacheNote}, {5, 2, kCacheNote}, {1, 1, onlyOne}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stopBefore);
        Maintenance env;
        InstalledApp spotify = env.install("Spotify", "com.spotify.client");
        std::vector<std::string> files = env.oldCacheFiles("com.spotify.client", static_cast<int>(c.files));
        env.inspectAndSelectAll(spotify);
        env.m().setMaintenanceStop(true);
        if (c.stopBefore < c.files) {
            ASSERT_TRUE(env.cleanUntil(env.questionBefore(c.stopBefore)));
            EXPECT_FALSE(env.m().maintenanceStop()) << "a stop left from before is cleared at the start";
            env.m().setMaintenanceStop(true);
            env.apps->release();
        } else {
            onHistoryGrowth(env.m(), c.files, [&] { env.m().setMaintenanceStop(true); });
            env.m().cleanCache();
        }
        ASSERT_TRUE(env.settle());
        EXPECT_EQ(env.m().message(), c.message);
        EXPECT_EQ(env.m().actionProgress().completed, static_cast<int64_t>(c.stopBefore));
        EXPECT_EQ(env.m().history().size(), c.stopBefore);
        for (size_t i = 0; i < c.files; ++i) EXPECT_EQ(exists(files[i]), i >= c.stopBefore) << files[i];
        EXPECT_EQ(planPaths(env.m()), std::vector<std::string>(files.begin() + static_cast<ptrdiff_t>(c.stopBefore), files.end()));
        EXPECT_EQ(env.m().cacheSelection().size(), c.files - c.stopBefore);
    }
}

// The application starting between two files ends the run. Each check asks about this
// application alone; nothing lists every application.
TEST(AppModelCaches, AnApplicationStartEndsTheRunBetweenFiles)
{
    Maintenance env;
    InstalledApp spotify = env.install("Spotify", "com.spotify.client");
    std::vector<std::string> files = env.oldCacheFiles("com.spotify.client", 3);
    env.inspectAndSelectAll(spotify);
    int listings = env.apps->listCalls();
    onHistoryGrowth(env.m(), 1, [&] { env.setRunning(spotify); });
    env.m().cleanCache();
    ASSERT_TRUE(env.settle());
    EXPECT_EQ(env.m().message(), "应用启动，停止后续处理。");
    EXPECT_FALSE(exists(files[0]));
    EXPECT_TRUE(exists(files[1]));
    EXPECT_TRUE(exists(files[2]));
    EXPECT_EQ(env.m().history().size(), 1u) << "the next file is not touched";
    EXPECT_EQ(env.apps->listCalls(), listings);
    EXPECT_GE(env.apps->asked().size(), 2u);
    for (const auto& asked : env.apps->asked()) EXPECT_EQ(asked, std::make_pair(spotify.path, spotify.bundleID));
}

// A failed history save stops the run right after its checkpoint, the first or a later one.
// The records stay in memory and the moves in the journal, so a new model has each.
TEST(AppModelCaches, HistorySaveFailureStopsTheRunAtItsCheckpoint)
{
    const auto interval = static_cast<size_t>(HistoryStore::checkpointInterval(0));
    for (size_t stopsAfter : {size_t(1), interval}) {
        SCOPED_TRACE(stopsAfter);
        Maintenance env;
        InstalledApp slack = env.install("Slack", "com.tinyspeck.slackmacgap");
        std::vector<std::string> files = env.oldCacheFiles("com.tinyspeck.slackmacgap", 70);
        env.inspectAndSelectAll(slack);
        std::optional<HeldLock> held;
        if (stopsAfter == 1) {
            held.emplace(env.historyPath());
            env.m().cleanCache();
        } else {
            ASSERT_TRUE(env.cleanUntil(env.questionBefore(1))); // the first file's save is done
            held.emplace(env.historyPath());
            env.apps->release();
        }
        ASSERT_TRUE(env.settle());
        held.reset();
        ASSERT_TRUE(env.m().message());
        EXPECT_EQ(env.m().message()->rfind("记录保存失败，停止后续处理：", 0), 0u) << *env.m().message();
        EXPECT_EQ(env.m().history().size(), stopsAfter);
        for (size_t i = 0; i < files.size(); ++i) EXPECT_EQ(exists(files[i]), i >= stopsAfter) << i;
        EXPECT_EQ(planPaths(env.m()).size(), files.size() - stopsAfter);
        env.app.reset();
        auto reread = env.model();
        std::set<std::string> recorded;
        for (const Operation& record : reread->history())
            if (record.success) recorded.insert(record.path);
        EXPECT_EQ(recorded, std::set<std::string>(files.begin(), files.begin() + static_cast<ptrdiff_t>(stopsAfter)));
    }
}

TEST(AppModelUninstall, BundleOnlyAmbiguityAndRunningChecks)
{
    Maintenance env;
    InstalledApp player = env.install("Player", "org.example.player");
    InstalledApp other = env.install("Other", "org.example.other");
    env.refresh();
    ASSERT_EQ(env.m().installedApps().size(), 2u);

    // Running by bundle path alone.
    env.setRunning(player, true);
    env.m().removeApp(player, {});
    EXPECT_FALSE(env.m().processing());
    EXPECT_EQ(env.m().message(), "应用仍在运行，请退出后重试。");
    EXPECT_TRUE(env.m().history().empty());

    // The same identifier installed twice: nothing moves when related items were chosen.
    env.apps->set({});
    std::vector<RelatedItem> related = makeRelated(env, player);
    ASSERT_EQ(related.size(), 3u);
    makeAppBundle(env.appFolder, "Player Copy", "org.example.player");
    env.m().removeApp(player, related);
    ASSERT_TRUE(env.settle());
    EXPECT_EQ(env.m().message(), "同 bundle ID 应用归属不明确，请重新检查；没有移走任何项目。");
    EXPECT_TRUE(env.m().history().empty());
    EXPECT_TRUE(exists(player.path));
    for (const RelatedItem& item : related) EXPECT_TRUE(exists(item.path));
    std::filesystem::remove_all(env.appFolder + "/Player Copy.app");

    // Replaced by an update after the review.
    InstalledApp reviewed = player;
    ASSERT_EQ(rename(player.path.c_str(), (env.homeFolder + "/old-player.app").c_str()), 0);
    player = env.install("Player", "org.example.player");
    ASSERT_NE(player.identity, reviewed.identity);
    env.m().removeApp(reviewed, {});
    ASSERT_TRUE(env.settle());
    EXPECT_EQ(env.m().message(), "应用包已变化，请重新扫描并确认。；关联文件已保留。");
    EXPECT_TRUE(exists(player.path));
    EXPECT_EQ(env.m().installedApps().size(), 2u) << "a refused bundle stays listed";

    // No related items: the bundle goes, its related files stay; the cache review of another
    // application is left alone.
    InstalledApp zoom = env.install("Zoom", "us.zoom.xos");
    env.oldCacheFiles("us.zoom.xos", 1);
    env.inspectAndSelectAll(zoom);
    env.m().removeApp(player, {});
    EXPECT_TRUE(env.m().processing());
    ASSERT_TRUE(env.settle());
    EXPECT_EQ(env.m().message(), "已移入废纸篓；关联文件已保留。");
    EXPECT_FALSE(exists(player.path));
    for (const RelatedItem& item : related) EXPECT_TRUE(exists(item.path));
    ASSERT_EQ(env.m().installedApps().size(), 1u);
    EXPECT_EQ(env.m().installedApps()[0].path, other.path);
    EXPECT_EQ(env.m().history()[0].kind, "application");
    EXPECT_TRUE(env.m().history()[0].success);
    EXPECT_EQ(env.m().cacheApp(), zoom);
    EXPECT_TRUE(env.m().cachePlan());
    EXPECT_EQ(env.m().cacheSelection().size(), 1u);

    // Uninstalling the application under review clears the review.
    env.m().removeApp(zoom, {});
    ASSERT_TRUE(env.settle());
    EXPECT_EQ(env.m().message(), "已移入废纸篓；关联文件已保留。");
    EXPECT_FALSE(env.m().cacheApp());
    EXPECT_FALSE(env.m().cachePlan());
    EXPECT_TRUE(env.m().cacheSelection().empty());
}

// The application starts after the model's own check: the engine catches it at its first check
// or, later still, just before the move.
TEST(AppModelUninstall, ApplicationStartedDuringTheUninstall)
{
    // Running applications that answer yes from the given question on.
    struct StartsAt : FakeApplications {
        size_t from = 0;
        bool isRunning(const std::string& path, const std::string& id) override
        {
            FakeApplications::isRunning(path, id);
            return asked().size() >= from;
        }
    };
    for (size_t from : {2, 3}) {
        Maintenance env(false);
        auto apps = std::make_shared<StartsAt>();
        InstalledApp player = env.install("Player", "org.example.player");
        apps->from = from;
        AppModel::Collaborators services = env.services();
        services.runningApplications = apps;
        env.app = env.model(services);
        env.m().removeApp(player, {});
        ASSERT_TRUE(env.settle());
        EXPECT_EQ(env.m().message(), std::string(from == 2 ? "应用仍在运行，请保存工作并退出后刷新。" : "应用刚刚启动，停止卸载。") +
                                         "；关联文件已保留。");
        ASSERT_EQ(env.m().history().size(), 1u);
        EXPECT_FALSE(env.m().history()[0].success);
        EXPECT_FALSE(env.m().history()[0].kind) << "refused before the move";
        EXPECT_TRUE(exists(player.path));
    }
}

TEST(AppModelUninstall, RelatedItemsChangesStopAndSaveFailure)
{
    Maintenance env;
    InstalledApp player = env.install("Player", "org.example.player");
    std::vector<RelatedItem> related = makeRelated(env, player);
    ASSERT_EQ(related.size(), 3u);
    // The cache folder gains a file after the review: only that item is refused.
    writeFile(related[1].path + "/new-blob", "more");
    env.m().removeApp(player, related);
    ASSERT_TRUE(env.settle());
    EXPECT_EQ(env.m().message(), "已移入废纸篓" + kRelatedSuffix);
    ASSERT_EQ(env.m().history().size(), 4u);
    const auto& history = env.m().history();
    EXPECT_EQ(history[3].kind, "application");
    EXPECT_EQ(history[2].path, related[0].path);
    EXPECT_TRUE(history[2].success);
    EXPECT_EQ(history[1].path, related[1].path);
    EXPECT_FALSE(history[1].success);
    EXPECT_EQ(history[1].detail, "关联文件已变化，请重新扫描并确认。");
    EXPECT_EQ(history[0].path, related[2].path);
    EXPECT_TRUE(history[0].success) << "the next item is still moved";
    EXPECT_EQ(history[0].kind, "related-directory");
    EXPECT_TRUE(exists(related[1].path));
    EXPECT_FALSE(exists(related[0].path));
    EXPECT_FALSE(exists(related[2].path));

    // Stop after the first related item.
    InstalledApp editor = env.install("Editor", "org.example.editor");
    std::vector<RelatedItem> editorItems = makeRelated(env, editor);
    onHistoryGrowth(env.m(), 2, [&] { env.m().setMaintenanceStop(true); });
    env.m().removeApp(editor, editorItems);
    ASSERT_TRUE(env.settle());
    EXPECT_EQ(env.m().message(), "已移入废纸篓" + kRelatedSuffix) << "the normal closing message";
    EXPECT_FALSE(exists(editor.path));
    EXPECT_FALSE(exists(editorItems[0].path));
    EXPECT_TRUE(exists(editorItems[1].path));
    EXPECT_TRUE(exists(editorItems[2].path));
    EXPECT_EQ(env.m().history().size(), 6u);

    // A failed history save after the bundle moved: the bundle leaves the list, nothing else moves.
    InstalledApp viewer = env.install("Viewer", "org.example.viewer");
    std::vector<RelatedItem> viewerItems = makeRelated(env, viewer);
    env.refresh();
    ASSERT_EQ(env.m().installedApps().size(), 1u);
    {
        HeldLock held(env.historyPath());
        env.m().removeApp(viewer, viewerItems);
        ASSERT_TRUE(env.settle());
    }
    ASSERT_TRUE(env.m().message());
    const std::string& text = *env.m().message();
    std::string head = "已移入废纸篓" + kRelatedSuffix + "\n记录保存失败：";
    EXPECT_EQ(text.rfind(head, 0), 0u) << text;
    EXPECT_GT(text.size(), head.size()) << "the save's error text follows";
    EXPECT_FALSE(exists(viewer.path));
    for (const RelatedItem& item : viewerItems) EXPECT_TRUE(exists(item.path));
    EXPECT_TRUE(env.m().installedApps().empty());
    EXPECT_EQ(env.m().history().size(), 7u);
}

// A stop pressed while the bundle is being listed or moved keeps every related item in place;
// a stop left over from before the operation does not.
TEST(AppModelUninstall, StopDuringTheBundleMoveIsHonoured)
{
    Maintenance env;
    InstalledApp player = env.install("Player", "org.example.player");
    std::vector<RelatedItem> related = makeRelated(env, player);
    env.m().removeApp(player, related);
    env.m().setMaintenanceStop(true);  // the page's stop, while the listing runs
    ASSERT_TRUE(env.settle());
    EXPECT_EQ(env.m().message(), "已移入废纸篓" + kRelatedSuffix);
    EXPECT_FALSE(exists(player.path));
    for (const RelatedItem& item : related) EXPECT_TRUE(exists(item.path)) << item.path;
    EXPECT_EQ(env.m().history().size(), 1u);

    InstalledApp editor = env.install("Editor", "org.example.editor");
    std::vector<RelatedItem> editorItems = makeRelated(env, editor);
    env.m().setMaintenanceStop(true);
    env.m().removeApp(editor, editorItems);
    ASSERT_TRUE(env.settle());
    for (const RelatedItem& item : editorItems) EXPECT_FALSE(exists(item.path)) << item.path;
    EXPECT_EQ(env.m().history().size(), 5u);
}

TEST(AppModelUninstall, RetryRelatedChecksAndLoop)
{
    Maintenance env;
    InstalledApp player = env.install("Player", "org.example.player");
    std::vector<RelatedItem> related = makeRelated(env, player);

    env.m().retryRelated(player, related);
    EXPECT_EQ(env.m().message(), kRetryChanged) << "the bundle is still installed";
    env.m().removeApp(player, {});
    ASSERT_TRUE(env.settle());
    ASSERT_EQ(env.m().history().size(), 1u);
    Operation appRecord = env.m().history()[0];

    // While the applications are listed: refused with the message, nothing started.
    env.m().refreshInstalledApps();
    QFuture<void> refused = env.m().retryRelated(player, related);
    EXPECT_TRUE(refused.isFinished());
    EXPECT_EQ(env.m().message(), kRetryChanged) << "refused while busy";
    EXPECT_FALSE(env.m().processing());
    ASSERT_TRUE(env.settle());

    // No items: the closing message and no record.
    env.m().retryRelated(player, {});
    EXPECT_TRUE(env.m().processing());
    ASSERT_TRUE(env.settle());
    EXPECT_EQ(env.m().message(), kRetryDone);
    EXPECT_EQ(env.m().history().size(), 1u);

    // A bundle with the identifier is installed again.
    std::string again = makeAppBundle(env.appFolder, "Player 2", "org.example.player");
    env.m().retryRelated(player, related);
    ASSERT_TRUE(env.settle());
    EXPECT_EQ(env.m().message(), "存在相同 bundle ID 的应用，停止关联项重试。");
    EXPECT_EQ(env.m().history().size(), 1u);
    std::filesystem::remove_all(again);

    // Stop after the first item, then the rest in a second retry.
    onHistoryGrowth(env.m(), 1, [&] { env.m().setMaintenanceStop(true); });
    env.m().retryRelated(player, related);
    ASSERT_TRUE(env.settle());
    EXPECT_EQ(env.m().message(), kRetryDone);
    EXPECT_FALSE(exists(related[0].path));
    EXPECT_TRUE(exists(related[1].path));
    std::vector<RelatedItem> rest(related.begin() + 1, related.end());
    env.m().setMaintenanceStop(true);
    env.m().retryRelated(player, rest);
    ASSERT_TRUE(env.settle());
    EXPECT_FALSE(exists(related[1].path)) << "a retry clears the stop left from before";
    EXPECT_FALSE(exists(related[2].path));
    EXPECT_EQ(env.m().history().size(), 4u);

    // A failed save stops the retry with its own message.
    writeFile(related[0].path, "<plist/>");
    std::vector<RelatedItem> fresh = RelatedFiles::discover(player, env.homeFolder, {player});
    ASSERT_EQ(fresh.size(), 1u);
    {
        HeldLock held(env.historyPath());
        env.m().retryRelated(player, fresh);
        ASSERT_TRUE(env.settle());
    }
    ASSERT_TRUE(env.m().message());
    EXPECT_EQ(env.m().message()->rfind("保存失败，已停止：", 0), 0u) << *env.m().message();

    // The bundle back at its place.
    env.m().restore(appRecord);
    ASSERT_TRUE(env.settle());
    ASSERT_TRUE(exists(player.path)) << env.m().message().value_or("");
    size_t records = env.m().history().size();
    env.m().retryRelated(player, related);
    EXPECT_FALSE(env.m().processing());
    EXPECT_EQ(env.m().message(), kRetryChanged);
    EXPECT_EQ(env.m().history().size(), records);
    // Moved away again by hand: the only application record is restored, so still refused.
    ASSERT_EQ(rename(player.path.c_str(), (env.homeFolder + "/aside.app").c_str()), 0);
    env.m().retryRelated(player, related);
    EXPECT_EQ(env.m().message(), kRetryChanged);
}

TEST(AppModelUninstall, RoundTripRestoresEveryItemWithItsIdentity)
{
    Maintenance env;
    InstalledApp player = env.install("Player", "org.example.player");
    std::vector<RelatedItem> related = makeRelated(env, player);
    ASSERT_EQ(related.size(), 3u);
    env.refresh();
    env.m().removeApp(player, related);
    ASSERT_TRUE(env.settle());
    EXPECT_EQ(env.m().message(), "已移入废纸篓" + kRelatedSuffix);
    ASSERT_EQ(env.m().history().size(), 4u);
    for (const Operation& record : env.m().history()) ASSERT_TRUE(record.success) << record.path << record.detail;
    EXPECT_FALSE(exists(player.path));

    std::map<std::string, std::string> identities{{player.path, player.identity}};
    for (const RelatedItem& item : related) identities[item.path] = item.identity;
    std::vector<Operation> records = env.m().history();
    for (const Operation& record : records) {
        env.m().restore(record);
        ASSERT_TRUE(env.settle());
        EXPECT_EQ(env.m().message(), "已恢复到原位置。请重新扫描以更新文件列表。") << record.path;
        EXPECT_EQ(identityOf(record.path), identities[record.path]) << record.path;
    }
    for (const Operation& record : env.m().history()) EXPECT_TRUE(record.restoredAt) << record.path;
    EXPECT_EQ(MaintenanceEngine::app(player.path, {env.appFolder}), player) << "the same bundle, unchanged";
    EXPECT_EQ(readFile(related[2].path + "/db/data.sqlite"), "support");
    std::vector<RelatedItem> back = RelatedFiles::discover(player, env.homeFolder, {player});
    ASSERT_EQ(back.size(), related.size());
    for (size_t i = 0; i < back.size(); ++i) {
        EXPECT_EQ(back[i].identity, related[i].identity) << back[i].path;
        EXPECT_EQ(back[i].modified, related[i].modified) << back[i].path;
        EXPECT_EQ(back[i].size, related[i].size) << back[i].path;
        EXPECT_EQ(back[i].signature, related[i].signature) << "the tree below is untouched: " << back[i].path;
    }
}

TEST(AppModelUninstall, RunningApplicationFromItsBundle)
{
    Maintenance env(false);
    AppModel::Collaborators services = env.services();
    services.runningApplications = nullptr;  // the system's own list
    env.app = env.model(services);
    std::string bundle = makeAppBundle(env.appFolder, "Demo", "org.example.demo", fixturePath("demo_app"));
    InstalledApp demo = MaintenanceEngine::app(bundle, {env.appFolder});
    ChildProcess process(bundle + "/Contents/MacOS/Run", {"quits", env.homeFolder});
    ASSERT_TRUE(waitForFile(env.homeFolder + "/ready-" + std::to_string(process.pid()), 10));

    EXPECT_TRUE(env.m().appIsRunning(demo));
    env.m().removeApp(demo, {});
    EXPECT_EQ(env.m().message(), "应用仍在运行，请退出后重试。");
    EXPECT_TRUE(exists(bundle));
    env.refresh();
    EXPECT_TRUE(env.m().appAppearsRunning(demo)) << "the refresh takes a running snapshot";

    kill(process.pid(), SIGTERM);
    process.wait(5);
    EXPECT_TRUE(env.m().appAppearsRunning(demo)) << "answers from the last snapshot";
    EXPECT_FALSE(env.m().appIsRunning(demo));
    env.m().removeApp(demo, {});
    ASSERT_TRUE(env.settle());
    EXPECT_EQ(env.m().message(), "已移入废纸篓；关联文件已保留。");
    EXPECT_FALSE(exists(bundle));
}

TEST(AppModelCompletions, EveryOperationFinishesAfterPublishingAlsoWhenRefused)
{
    Maintenance env(false);
    std::string docs = env.homeFolder + "/Docs";
    makeFiles(docs, 3);
    env.app = env.model(env.services(docs));
    AppModel& m = env.m();
    InstalledApp zoom = env.install("Zoom", "us.zoom.xos");
    std::vector<std::string> cache = env.oldCacheFiles("us.zoom.xos", 2);
    InstalledApp player = env.install("Player", "org.example.player");
    std::vector<RelatedItem> related = makeRelated(env, player);

    // What the model shows when a completion finishes, taken in its continuation.
    struct Seen {
        bool finished = false;
        bool busy = true;
        std::optional<std::string> message;
        size_t history = 0;
    };
    auto await = [&](QFuture<void> future) {
        auto seen = std::make_shared<Seen>();
        future.then(&m, [&m, seen] {
            seen->finished = true;
            seen->busy = m.maintenanceBusy() || m.restoring();
            seen->message = m.message();
            seen->history = m.history().size();
        });
        EXPECT_TRUE(waitFor([&] { return seen->finished; }));
        return *seen;
    };

    // Refusals finish at once, with nothing running.
    const Operation restored = [] {
        Operation op = movedRecord("/nowhere", 1);
        op.restoredAt = 2.0;
        return op;
    }();
    struct Refusal {
        const char* what;
        std::function<QFuture<void>()> call;
    } refusals[] = {
        {"trash without a folder", [&] { return m.trashSelected(); }},
        {"restore of a restored record", [&] { return m.restore(restored); }},
        {"release of nothing", [&] { return m.releaseMemory({}); }},
        {"clean without a plan", [&] { return m.cleanCache(); }},
        {"retry while installed", [&] { return m.retryRelated(player, related); }},
    };
    for (const auto& refusal : refusals) {
        QFuture<void> future = refusal.call();
        EXPECT_TRUE(future.isFinished()) << refusal.what;
        EXPECT_FALSE(m.maintenanceBusy()) << refusal.what;
    }
    env.setRunning(zoom);
    m.setMessage(std::nullopt);
    Seen running = await(m.inspectCache(zoom));
    EXPECT_EQ(running.message, "请先保存工作并退出此应用，再扫描缓存。") << "a refusal's message is there first";
    env.apps->set({});

    // Operations that run finish once their flags are down and their outcome is published.
    Seen listed = await(m.refreshInstalledApps());
    EXPECT_FALSE(listed.busy);
    EXPECT_EQ(m.installedApps().size(), 2u);

    Seen inspected = await(m.inspectCache(zoom));
    EXPECT_FALSE(inspected.busy);
    ASSERT_TRUE(m.cachePlan());
    m.setCacheSelection({cache[0]});
    Seen cleaned = await(m.cleanCache());
    EXPECT_FALSE(cleaned.busy);
    EXPECT_EQ(cleaned.history, 1u);
    ASSERT_TRUE(cleaned.message);
    EXPECT_EQ(cleaned.message->rfind("缓存处理完成：成功 1 项", 0), 0u) << *cleaned.message;

    Seen removed = await(m.removeApp(player, related));
    EXPECT_FALSE(removed.busy);
    EXPECT_EQ(removed.history, 5u) << "the bundle and its three related items";
    EXPECT_TRUE(removed.message);
    Seen retried = await(m.retryRelated(player, {}));
    EXPECT_EQ(retried.message, kRetryDone);

    Seen restoredSeen = await(m.restore(m.history().front()));
    EXPECT_FALSE(restoredSeen.busy);
    EXPECT_TRUE(m.history().front().restoredAt);
    EXPECT_EQ(restoredSeen.message, "已恢复到原位置。请重新扫描以更新文件列表。");

    chooseAndScan(m);
    AppModel::PathSet all;
    for (const FileEntry& file : m.report()->files) all.insert(file.path);
    m.setSelection(all);
    Seen trashed = await(m.trashSelected());
    EXPECT_FALSE(trashed.busy);
    EXPECT_EQ(trashed.history, 8u);
    ASSERT_TRUE(trashed.message);
    EXPECT_EQ(trashed.message->rfind("已处理 3 项，失败 0 项。", 0), 0u) << *trashed.message;

    env.apps->set({runningApp(4242, "Zoom", zoom.path, zoom.bundleID)});
    env.apps->quitTerminates(true);
    ApplicationMemory row{4242, "Zoom", 100, 100, 1, 0, zoom.path};
    bool releasing = true;
    auto future = m.releaseMemory({row});
    future.then(&m, [&] { releasing = m.memoryReleasing() || !m.memoryReleaseOutcome(); });
    ASSERT_TRUE(waitFor([&] { return future.isFinished(); }));
    ASSERT_TRUE(waitFor([&] { return !releasing; }));
    EXPECT_EQ(m.memoryReleaseOutcome()->exited.size(), 1u);
}

TEST(AppModelCompletions, WaitersThatGoFirstOrOutliveTheModelHearNothing)
{
    Maintenance env;
    auto heard = std::make_shared<int>(0);
    auto count = [heard] { ++*heard; };

    // A page dropped while the operation runs: nothing runs for it, nothing stops.
    auto page = std::make_unique<QObject>();
    QFuture<void> listed = env.m().refreshInstalledApps();
    whenFinished(page.get(), listed, count);
    page.reset();
    ASSERT_TRUE(waitFor([&] { return listed.isFinished(); }));

    // A living page hears the end once, after the model published it, also for a refusal.
    QObject living;
    bool scanningSeen = true;
    whenFinished(&living, env.m().refreshInstalledApps(), [&, count] {
        scanningSeen = env.m().maintenanceScanning();
        count();
    });
    whenFinished(&living, env.m().cleanCache(), count);
    ASSERT_TRUE(waitFor([&] { return *heard == 2; }));
    EXPECT_FALSE(scanningSeen);

    // The model goes first: its operation ends cancelled and the page is not called into it.
    QFuture<void> orphaned = env.m().refreshInstalledApps();
    whenFinished(&living, orphaned, count);
    env.app.reset();
    EXPECT_TRUE(orphaned.isFinished());
    EXPECT_TRUE(orphaned.isCanceled());
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(*heard, 2);
}

// A long clean saves the history at checkpoints, not after every file: each save rewrites
// the whole history. The journal holds each finished move until a save settles it, and the
// run ends with everything saved.
TEST(AppModelCaches, LongCleansSaveTheHistoryAtCheckpoints)
{
    Maintenance env(false);
    makeDirs(env.storeFolder());
    std::vector<Operation> earlier;
    for (int i = 0; i < 5000; ++i) earlier.push_back(movedRecord("/old/f" + std::to_string(i), 700000000.0 - i));
    writeFile(env.historyPath(), encodeHistory(earlier));
    env.app = env.model();
    InstalledApp app = env.install("Zoom", "us.zoom.xos");
    constexpr int kFiles = 150;
    for (int i = 0; i < kFiles; ++i) {
        std::string path = writeFile(env.cacheFolder("us.zoom.xos") + "/c" + std::to_string(i), std::string(1000 - i, 'x'));
        setAge(path, 10 * kDay);
    }
    env.inspectAndSelectAll(app);
    ASSERT_EQ(env.m().cachePlan()->files.size(), static_cast<size_t>(kFiles));

    HistorySaves historySaves(env.storeFolder());
    env.m().cleanCache();
    ASSERT_TRUE(env.settle());
    int saves = historySaves.count();

    EXPECT_EQ(env.m().message(), "缓存处理完成：成功 150 项，失败 0 项。可在操作记录恢复；废纸篓仍占空间。");
    // The first file, every ~sqrt(5000) files after it, and the end.
    EXPECT_GE(saves, 2);
    EXPECT_LE(saves, 6) << "one history rewrite per file";
    EXPECT_EQ(env.m().history().size(), earlier.size() + kFiles);
    EXPECT_TRUE(env.journal()->entries().empty()) << "the last save settled every move";
    auto reread = env.model();
    EXPECT_EQ(historyPaths(reread->history()), historyPaths(env.m().history()));
}

// A record reaches the model only once its outcome is in the journal: a copy killed after
// it was published still finds the move there. A refused file, which has no entry, keeps its
// place in the order.
TEST(AppModelCaches, APublishedRecordIsAlreadyFinishedInTheJournal)
{
    Maintenance env;
    InstalledApp vlc = env.install("VLC", "org.videolan.vlc");
    std::vector<std::string> files = env.oldCacheFiles("org.videolan.vlc", 6);
    env.inspectAndSelectAll(vlc);
    writeFile(files[3], "changed");
    setAge(files[3], 10 * kDay);
    size_t seen = 0;
    std::vector<std::string> unfinished;
    QObject::connect(&env.m(), &AppModel::historyChanged, &env.m(), [&] {
        std::set<std::string> finished;
        std::vector<OperationJournal::Entry> entries;
        OperationJournal::whenFree([&] { entries = env.journal()->entries(); }); // the worker writes meanwhile
        for (const OperationJournal::Entry& entry : entries)
            if (entry.phase == OperationJournal::kFinished) finished.insert(entry.operation.id);
        const std::vector<Operation>& history = env.m().history();
        for (size_t i = 0; i + seen < history.size(); ++i)
            if (history[i].success && !finished.count(history[i].id)) unfinished.push_back(history[i].path);
        seen = history.size();
    });
    // Held before the third file, the second is moved but its outcome not yet written.
    ASSERT_TRUE(env.cleanUntil(env.questionBefore(2)));
    QCoreApplication::sendPostedEvents(); // all the worker posted before it asked
    EXPECT_FALSE(exists(files[1]));
    EXPECT_EQ(historyPaths(env.m().history()), std::vector<std::string>{files[0]});
    env.apps->release();
    ASSERT_TRUE(env.settle());
    EXPECT_EQ(unfinished, std::vector<std::string>{});
    std::vector<std::string> newestFirst(files.rbegin(), files.rend());
    EXPECT_EQ(historyPaths(env.m().history()), newestFirst);
    EXPECT_FALSE(env.m().history()[2].success);
    EXPECT_TRUE(exists(files[3]));
}

// The model going away mid-clean wakes its worker; every file is in its place or in the Trash
// with a record.
TEST(AppModelCaches, AModelGoneMidCleanLosesNothing)
{
    Maintenance env;
    InstalledApp zoom = env.install("Zoom", "us.zoom.xos");
    std::vector<std::string> files = env.oldCacheFiles("us.zoom.xos", 40);
    env.inspectAndSelectAll(zoom);
    env.m().cleanCache();
    ASSERT_TRUE(waitFor([&] { return env.m().history().size() >= 2; }));
    env.app.reset();
    std::set<std::string> recorded;
    auto reread = env.model(); // merges what the journal holds
    for (const Operation& record : reread->history())
        if (record.success) recorded.insert(record.path);
    for (const std::string& file : files) EXPECT_NE(exists(file), recorded.count(file) > 0) << file;
}
