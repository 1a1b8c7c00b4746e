#include "services/Uninstall.h"

#include "BundleFixture.h"
#include "TestSupport.h"
#include "engine/Dates.h"
#include "engine/FileEngine.h"
#include "platform/Errors.h"
#include "platform/Trash.h"
#include "services/Localization.h"
#include "services/InstalledAppInventory.h"
#include "services/RelatedFiles.h"

#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Fixture {
    TempHome temp;
    std::string home = FileEngine::canonicalURL(temp.root());
    std::string apps = home + "/Applications";
    std::vector<std::string> roots{apps};
    std::unique_ptr<OperationJournal> journal;

    Fixture()
    {
        makeDirs(home + "/store");
        journal = std::make_unique<OperationJournal>(home + "/store/pending-actions.json");
    }
    InstalledApp install(const std::string& name, const std::string& id)
    {
        return MaintenanceEngine::app(makeAppBundle(apps, name, id), roots);
    }
    Operation uninstall(const InstalledApp& app, const std::function<bool()>& running = {},
                        const RelatedFiles::TrashFunction& trash = {}, std::stop_token stop = {})
    {
        return MaintenanceEngine::uninstall(app, roots, running, trash, journal.get(), stop);
    }
};

bool exists(const std::string& path)
{
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

void expectFailureRecord(const Operation& record, const InstalledApp& app, const std::string& detail)
{
    EXPECT_FALSE(record.success);
    EXPECT_EQ(record.path, app.path);
    EXPECT_EQ(record.size, 0);
    EXPECT_EQ(record.detail, detail);
    EXPECT_FALSE(record.kind || record.resourceID || record.modified || record.bundleID || record.trashPath)
        << "a refusal carries nothing of the bundle: " << detail;
    EXPECT_TRUE(exists(app.path)) << "the bundle stays after: " << detail;
}

} // namespace

TEST(Uninstall, MovesTheReviewedBundleThroughTheJournal)
{
    Fixture f;
    InstalledApp app = f.install("Player", "org.example.player");
    double before = dateNow();
    Operation record = f.uninstall(app, [] { return false; });
    EXPECT_TRUE(record.success) << record.detail;
    EXPECT_EQ(record.detail, "已移入废纸篓");
    EXPECT_EQ(record.path, app.path);
    EXPECT_EQ(record.size, 0);
    EXPECT_GE(record.date, before);
    EXPECT_EQ(record.kind, "application");
    EXPECT_EQ(record.resourceID, app.identity);
    EXPECT_EQ(record.modified, app.modified);
    EXPECT_EQ(record.bundleID, app.bundleID);
    EXPECT_FALSE(record.treeSignature || record.restoredAt);
    ASSERT_TRUE(record.trashPath);
    EXPECT_FALSE(exists(app.path));
    EXPECT_EQ(MaintenanceEngine::app(*record.trashPath, {f.temp.dataHome() + "/Trash/files"}).identity, app.identity);
    auto entries = f.journal->entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].phase, "finished");
    EXPECT_EQ(entries[0].operation, record);

    // A replacement move is used instead of the Trash; its failure keeps the prepared record.
    InstalledApp other = f.install("Other", "org.example.other");
    Operation failed = f.uninstall(other, {}, [](const std::string&) -> std::optional<std::string> {
        throw std::system_error(EXDEV, std::generic_category());
    });
    EXPECT_FALSE(failed.success);
    EXPECT_EQ(failed.detail, errorDescription(std::system_error(EXDEV, std::generic_category())));
    EXPECT_EQ(failed.kind, "application");
    EXPECT_EQ(failed.resourceID, other.identity);
    EXPECT_TRUE(exists(other.path));
}

TEST(Uninstall, RefusalsLeaveTheBundleInPlace)
{
    Fixture f;
    InstalledApp app = f.install("Editor", "org.example.editor");

    expectFailureRecord(f.uninstall(app, [] { return true; }), app, "应用仍在运行，请保存工作并退出后刷新。");
    int calls = 0;
    expectFailureRecord(f.uninstall(app, [&] { return ++calls > 1; }), app, "应用刚刚启动，停止卸载。");
    EXPECT_EQ(calls, 2);

    std::stop_source stop;
    stop.request_stop();
    expectFailureRecord(f.uninstall(app, {}, {}, stop.get_token()), app, "操作已取消。");

    // Touched by an update: same folder, new modification time.
    setAge(app.path, 5);
    expectFailureRecord(f.uninstall(app), app, "应用包已变化，请重新扫描并确认。");
    // Replaced by an update: a new folder under the same name.
    InstalledApp reviewed = MaintenanceEngine::app(app.path, f.roots);
    ASSERT_EQ(rename(app.path.c_str(), (f.home + "/old-editor.app").c_str()), 0);
    makeAppBundle(f.apps, "Editor", "org.example.editor");
    expectFailureRecord(f.uninstall(reviewed), reviewed, "应用包已变化，请重新扫描并确认。");
    // Another identifier in the same place.
    std::filesystem::remove_all(app.path);
    makeAppBundle(f.apps, "Editor", "org.example.impostor");
    InstalledApp impostor = MaintenanceEngine::app(app.path, f.roots);
    impostor.bundleID = "org.example.editor";
    expectFailureRecord(f.uninstall(impostor), impostor, "应用包已变化，请重新扫描并确认。");
    // Gone: the gate's own failure is the detail.
    std::filesystem::remove_all(app.path);
    Operation gone = f.uninstall(reviewed);
    EXPECT_FALSE(gone.success);
    EXPECT_EQ(gone.detail, "No such file or directory");
    // Outside the roots.
    InstalledApp outside = reviewed;
    outside.path = f.home + "/old-editor.app";
    expectFailureRecord(f.uninstall(outside), outside, "应用路径不是指定应用目录中的独立应用，或路径已变化。");
    EXPECT_TRUE(f.journal->entries().empty()) << "nothing refused reaches the journal";

    // A journal that cannot be written: the move does not start.
    InstalledApp kept = f.install("Kept", "org.example.kept");
    writeFile(f.journal->path(), "not json");
    Operation unjournalled = f.uninstall(kept);
    EXPECT_FALSE(unjournalled.success);
    EXPECT_FALSE(unjournalled.detail.empty());
    EXPECT_FALSE(unjournalled.kind) << "the journal's failure gives the bare failure record";
    EXPECT_TRUE(exists(kept.path));
}

// Every message of the cache clean-up and the uninstall, as the model composes them, reads
// entirely in English through the shipped catalog.
TEST(MaintenanceMessages, ReadInEnglish)
{
    LocalizationCatalog catalog = LocalizationCatalog::fromFile(std::string(TESSYN_SOURCE_DIR) +
                                                                "/resources/Localization/en.json");
    ASSERT_FALSE(catalog.empty());
    const std::string keep = "；关联文件已保留。";
    const std::string see = "；关联项处理结果请查看操作记录，失败项可重新检查后重试。";
    std::vector<std::string> messages = {
        "无法扫描缓存：此应用没有已启用的缓存清理规则。",
        "无法扫描缓存：用户缓存目录经过符号链接，停止扫描。",
        "无法扫描缓存：缓存目录路径已变化或经过符号链接。",
        "无法扫描缓存：No such file or directory",
        "仅处理修改超过 7 天的普通文件；跳过应用包、云文件、符号链接与受保护目录。缓存可被应用重建，首次使用可能变慢。",
        "请先保存工作并退出此应用，再扫描缓存。",
        "应用已启动，取消缓存处理。请退出应用后重新扫描。",
        "已停止后续处理，已完成项可在记录中恢复。",
        "应用启动，停止后续处理。",
        "记录保存失败，停止后续处理：Resource temporarily unavailable",
        "缓存处理完成：成功 12 项，失败 0 项。可在操作记录恢复；废纸篓仍占空间。",
        "缓存规则或目录已变化，请重新扫描。",
        "应用正在运行，停止缓存处理。",
        "处理已取消。",
        "准备移走应用包",
        "应用仍在运行，请退出后重试。",
        "同 bundle ID 应用归属不明确，请重新检查；没有移走任何项目。",
        "已移入废纸篓" + keep,
        "已移入废纸篓" + see + "\n记录保存失败：Resource temporarily unavailable",
        "应用仍在运行，请保存工作并退出后刷新。" + keep,
        "应用包已变化，请重新扫描并确认。" + see,
        "应用刚刚启动，停止卸载。" + keep,
        "操作已取消。" + see,
        "应用路径不是指定应用目录中的独立应用，或路径已变化。" + keep,
        "应用包不是普通目录。" + see,
        "不处理系统应用、Tessyn自身或无法识别的应用包。" + keep,
        "应用卸载状态已变化，请刷新列表后重新检查。",
        "存在相同 bundle ID 的应用，停止关联项重试。",
        "保存失败，已停止：Resource temporarily unavailable",
        "关联项处理结束。失败项保留，重新检查后可再次确认；成功项可在记录中恢复。",
        "操作记录已保存，但操作日志未能更新：Resource temporarily unavailable",
        "已移入废纸篓" + see + "\n操作记录已保存，但操作日志未能更新：Resource temporarily unavailable",
        "文件夹中有其他文件系统的挂载点，未移入废纸篓。" + keep,
        "关联目录中有其他文件系统的挂载点，停止处理。",
        "移动时原位置的项目被替换，换入的项目已在废纸篓中且无法放回，请在 Finder 废纸篓中检查。" + see,
        "废纸篓文件夹不是真实的文件夹（可能是符号链接），未移入废纸篓。" + keep,
        "操作记录无法读取；下次保存前会保留原文件副本。不是普通文件。",
    };
    for (const std::string& message : messages) {
        std::string english = catalog.translate(message);
        EXPECT_FALSE(containsCJKIdeograph(english)) << message << "\n -> " << english;
    }
    EXPECT_EQ(catalog.translate("缓存处理完成：成功 3 项，失败 1 项。可在操作记录恢复；废纸篓仍占空间。"),
              "Cache clean-up finished: 3 succeeded, 1 failed. Items can be restored from the history; the Trash "
              "still takes up space.");
}

// A bundle, a related folder or a related file swapped with another item in the last moment
// before its move is put back and refused; the item that came in its place never stays in
// the Trash.
TEST(Uninstall, ItemsSwappedJustBeforeTheMoveAreRefused)
{
    Fixture f;
    InstalledApp app = f.install("Viewer", "org.example.viewer");
    std::string caches = f.home + "/Library/Caches/org.example.viewer";
    writeFile(caches + "/cache.db", "cached");
    std::string prefs = writeFile(f.home + "/Library/Preferences/org.example.viewer.plist", "<plist/>");
    RelatedItem folder = RelatedItem::snapshot(caches, "cache");
    RelatedItem file = RelatedItem::snapshot(prefs, "prefs");

    auto relatedRecord = [&](const RelatedItem& item) {
        Operation prepared;
        prepared.id = "8C1A0F54-2B63-4F55-9E0E-3C1F2D6B7A10";
        prepared.path = item.path;
        prepared.size = item.size;
        prepared.resourceID = item.identity;
        prepared.modified = item.modified;
        if (item.directory) prepared.kind = "related-directory";
        prepared.bundleID = app.bundleID;
        prepared.treeSignature = item.signature;
        return prepared;
    };
    Operation bundle;
    bundle.id = "5D0E7B1C-8E0A-4C35-A1B2-9F3E4D5C6B7A";
    bundle.path = app.path;
    bundle.resourceID = app.identity;
    bundle.modified = app.modified;
    bundle.kind = "application";
    bundle.bundleID = app.bundleID;

    struct Case {
        Operation prepared;
        bool directory;
        std::string refusal;
    } cases[] = {
        {bundle, true, "应用包已变化，请重新扫描并确认。"},
        {relatedRecord(folder), true, "关联文件已变化，请重新扫描并确认。"},
        {relatedRecord(file), false, "关联文件已变化，请重新扫描并确认。"},
    };
    for (const Case& c : cases) {
        std::string stranger = f.home + "/stranger";
        if (c.directory) writeFile(stranger + "/inside", "mine");
        else writeFile(stranger, "mine");
        struct stat strangerBefore {};
        ASSERT_EQ(lstat(stranger.c_str(), &strangerBefore), 0);
        auto swap = [&] {
            ASSERT_EQ(renameat2(AT_FDCWD, c.prepared.path.c_str(), AT_FDCWD, stranger.c_str(), RENAME_EXCHANGE), 0);
        };
        Operation record = MaintenanceEngine::moveToTrashJournalled(c.prepared, f.journal.get(), {}, swap);
        EXPECT_FALSE(record.success) << c.prepared.path;
        EXPECT_EQ(record.detail, c.refusal);
        EXPECT_FALSE(record.trashPath);
        struct stat now {};
        ASSERT_EQ(lstat(c.prepared.path.c_str(), &now), 0) << "the stranger is back in place";
        EXPECT_EQ(now.st_ino, strangerBefore.st_ino);
        std::error_code ignored;
        EXPECT_TRUE(std::filesystem::is_empty(f.temp.dataHome() + "/Trash/files", ignored)) << c.prepared.path;
        EXPECT_TRUE(std::filesystem::is_empty(f.temp.dataHome() + "/Trash/info", ignored)) << c.prepared.path;
        // Swap back for the next case.
        ASSERT_EQ(renameat2(AT_FDCWD, c.prepared.path.c_str(), AT_FDCWD, stranger.c_str(), RENAME_EXCHANGE), 0);
        std::filesystem::remove_all(stranger);
    }
}

// A folder holding a mount point (another file system, or a bind mount of this one) is never
// signed nor moved: emptying the Trash would delete the mounted data.
TEST(Uninstall, FoldersHoldingMountPointsAreRefused)
{
    Fixture f;
    InstalledApp app = f.install("Mounted", "org.example.mounted");
    std::string caches = f.home + "/Library/Caches/org.example.mounted";
    makeDirs(caches + "/volume");
    makeDirs(caches + "/bound");
    makeDirs(f.home + "/elsewhere");
    makeDirs(app.path + "/Contents/Resources/volume");
    makeDirs(f.home + "/plain/volume");
    const std::string relatedText = "关联目录中有其他文件系统的挂载点，停止处理。";
    const std::string moveText = "文件夹中有其他文件系统的挂载点，未移入废纸篓。";

    auto result = inPrivateMounts([&]() -> std::string {
        std::string failures;
        auto check = [&](bool ok, const std::string& what) {
            if (!ok) failures += what + "\n";
        };
        auto refusal = [](const std::function<void()>& body) -> std::string {
            try {
                body();
            } catch (const std::exception& error) {
                return error.what();
            }
            return "no refusal";
        };
        // Another file system, then a bind mount of this one (same device number).
        if (mount("tmpfs", (caches + "/volume").c_str(), "tmpfs", 0, "mode=0755") != 0) return "mount tmpfs failed";
        writeFile(caches + "/volume/data", "theirs");
        std::string text = refusal([&] { RelatedItem::snapshot(caches, "cache"); });
        check(text == relatedText, "tmpfs inside a related folder: " + text);
        umount((caches + "/volume").c_str());
        if (mount((f.home + "/elsewhere").c_str(), (caches + "/bound").c_str(), nullptr, MS_BIND, nullptr) != 0)
            return failures + "bind mount failed";
        text = refusal([&] { RelatedItem::snapshot(caches, "cache"); });
        check(text == relatedText, "bind mount inside a related folder: " + text);

        // A bundle and a plain folder are checked by the move itself.
        if (mount("tmpfs", (app.path + "/Contents/Resources/volume").c_str(), "tmpfs", 0, "mode=0755") != 0)
            return failures + "mount tmpfs in the bundle failed";
        Operation record = f.uninstall(app);
        check(!record.success && record.detail == moveText, "bundle with a mount: " + record.detail);
        check(exists(app.path + "/Contents/Info.plist"), "the bundle stays");
        if (mount("tmpfs", (f.home + "/plain/volume").c_str(), "tmpfs", 0, "mode=0755") != 0)
            return failures + "mount tmpfs in the folder failed";
        text = refusal([&] { Trash::trashItem(f.home + "/plain"); });
        check(text == moveText, "plain folder with a mount: " + text);
        check(exists(f.home + "/plain/volume"), "the folder stays");
        std::error_code ignored;
        check(std::filesystem::is_empty(f.temp.dataHome() + "/Trash/files", ignored) ||
                  !std::filesystem::exists(f.temp.dataHome() + "/Trash/files"),
              "nothing reached the Trash");
        return failures;
    });
    ASSERT_TRUE(result) << "mount namespaces are not available";
    EXPECT_EQ(*result, "");
}
