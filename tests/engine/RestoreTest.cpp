#include "engine/Dates.h"
#include "ChildProcess.h"
#include "TestSupport.h"
#include "engine/FileActionEngine.h"
#include "engine/FileEngine.h"
#include "engine/Uuid.h"
#include "platform/Errors.h"
#include "platform/Locations.h"
#include "platform/Trash.h"
#include "services/InstalledAppInventory.h"
#include "services/RelatedFiles.h"

#include <algorithm>
#include <cstdio>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <unordered_set>

namespace {

const char kNotRestorable[] = "此记录无法自动恢复，请在 Finder 废纸篓检查。";
const char kSourceMissing[] = "废纸篓来源不存在或已被替换为符号链接。";
const char kSourceOutside[] = "恢复来源不是当前卷的废纸篓。";
const char kFileChanged[] = "废纸篓中的文件已变化或不再存在，请在 Finder 中检查。";
const char kAppChanged[] = "废纸篓应用已变化，请在 Finder 中检查。";
const char kFolderChanged[] = "关联目录已变化，请在 Finder 中检查。";
const char kOccupied[] = "原位置已有文件，恢复不会覆盖它。请在 Finder 中选择其他位置。";
const char kParentMoved[] = "原目录已移动、删除或变化，请在 Finder 中手动恢复。";

bool exists(const std::string& path)
{
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

// The refusal text of a restore ("TessynRestore" refusals bare), "domain:text" for other
// refusals, "errno:<n>" for system errors, "restored" when it went through.
std::string restoreOutcome(const Operation& record)
{
    try {
        FileActionEngine::restore(record);
        return "restored";
    } catch (const TessynError& e) {
        if (e.domain() == "TessynRestore" && e.code() == 1) return e.message();
        return e.domain() + ":" + e.message();
    } catch (const std::system_error& e) {
        return "errno:" + std::to_string(e.code().value());
    }
}

struct Store {
    TempHome home;
    std::unique_ptr<OperationJournal> journal;

    Store()
    {
        makeDirs(Locations::applicationSupport());
        journal = std::make_unique<OperationJournal>(Locations::applicationSupport() + "/pending-actions.json");
    }

    // Moves one file to the Trash through the engine and returns its record.
    Operation trashFile(const std::string& path, const std::string& contents)
    {
        writeFile(path, contents);
        std::string root = path.substr(0, path.rfind('/'));
        auto records = FileActionEngine::execute({*FileEngine::snapshot(path)}, root, {}, {path}, {}, {},
                                                 journal.get());
        if (records.size() != 1 || !records[0].success) throw std::runtime_error("move failed: " + path);
        return records[0];
    }

    std::optional<OperationJournal::Entry> entryOf(const std::string& id)
    {
        for (auto& e : journal->entries())
            if (e.operation.id == id) return e;
        return std::nullopt;
    }
};

// The journal's text for these entries, as the journal itself writes it.
std::string journalText(const std::vector<OperationJournal::Entry>& entries)
{
    std::string out = "[";
    for (const auto& e : entries) {
        if (out.size() > 1) out += ',';
        out += dumpStoreJson(nlohmann::json{{"operation", e.operation}, {"phase", e.phase}});
    }
    return out + "]";
}

std::string infoFileOf(const std::string& trashed)
{
    return Locations::homeTrash() + "/info/" + trashed.substr(trashed.rfind('/') + 1) + ".trashinfo";
}

std::string infoPlist(const std::string& bundleID)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
           "<key>CFBundleIdentifier</key><string>" +
           bundleID + "</string><key>CFBundleExecutable</key><string>Demo</string></dict></plist>\n";
}

} // namespace

TEST(FileActionEngineRestore, PutsTheSameFileBackAndJournalsIt)
{
    Store store;
    std::string original = store.home.path("docs/report.txt");
    Operation record = store.trashFile(original, "report");
    ino_t inode = inodeOf(*record.trashPath);
    ASSERT_TRUE(exists(infoFileOf(*record.trashPath)));

    double before = dateNow();
    EXPECT_EQ(FileActionEngine::restoreTask(record, *store.journal), std::nullopt);
    EXPECT_EQ(inodeOf(original), inode) << "the very same file is back";
    EXPECT_EQ(readFile(original), "report");
    EXPECT_FALSE(exists(*record.trashPath));
    EXPECT_FALSE(exists(infoFileOf(*record.trashPath)));
    auto entry = store.entryOf(record.id);
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->phase, "finished");
    ASSERT_TRUE(entry->operation.restoredAt);
    EXPECT_GE(*entry->operation.restoredAt, before);
    Operation stamped = entry->operation;
    stamped.restoredAt.reset();
    EXPECT_EQ(stamped, record) << "only restoredAt changes";

    // Records that cannot be restored automatically.
    EXPECT_EQ(restoreOutcome(entry->operation), kNotRestorable) << "already restored";
    Operation failed = record;
    failed.success = false;
    EXPECT_EQ(restoreOutcome(failed), kNotRestorable);
    Operation noTrashPath = record;
    noTrashPath.trashPath.reset();
    EXPECT_EQ(restoreOutcome(noTrashPath), kNotRestorable) << "made with a replacement move";
    Operation noIdentity = record;
    noIdentity.resourceID.reset();
    EXPECT_EQ(restoreOutcome(noIdentity), kNotRestorable);

    // A stale copy of the record, as another running copy holds it: refused, and the receipt
    // of the restore that happened stays as it was.
    std::string receipt = readFile(store.journal->path());
    EXPECT_EQ(FileActionEngine::restoreTask(record, *store.journal), std::optional<std::string>(kSourceMissing));
    EXPECT_EQ(readFile(store.journal->path()), receipt);

    // An unreadable journal stops the task before the Trash is touched.
    Operation again = store.trashFile(original, "again");
    writeFile(store.journal->path(), "");
    EXPECT_EQ(FileActionEngine::restoreTask(again, *store.journal),
              std::optional<std::string>("数据格式不正确，无法读取。"));
    EXPECT_TRUE(exists(*again.trashPath));
    EXPECT_FALSE(exists(original));
}

TEST(FileActionEngineRestore, PlainFilesAreRefusedWhenAnythingChanged)
{
    Store store;
    std::string docs = store.home.path("docs");
    std::string original = docs + "/a.txt";
    Operation record = store.trashFile(original, "first");
    const std::string trashed = *record.trashPath;

    // Something at the old place, even a dangling link: refused, nothing overwritten.
    writeFile(original, "newer");
    EXPECT_EQ(restoreOutcome(record), kOccupied);
    EXPECT_EQ(readFile(original), "newer");
    ASSERT_EQ(unlink(original.c_str()), 0);
    ASSERT_EQ(symlink("/nonexistent/target", original.c_str()), 0);
    EXPECT_EQ(restoreOutcome(record), kOccupied);
    ASSERT_EQ(unlink(original.c_str()), 0);

    // The old folder moved away, or replaced by a link to where it went.
    ASSERT_EQ(rename(docs.c_str(), (docs + "-moved").c_str()), 0);
    EXPECT_EQ(restoreOutcome(record), kParentMoved);
    ASSERT_EQ(symlink((docs + "-moved").c_str(), docs.c_str()), 0);
    EXPECT_EQ(restoreOutcome(record), kParentMoved);
    EXPECT_FALSE(exists(docs + "-moved/a.txt"));
    ASSERT_EQ(unlink(docs.c_str()), 0);
    ASSERT_EQ(rename((docs + "-moved").c_str(), docs.c_str()), 0);

    // The trashed file edited in the Trash, or its identity replaced.
    std::string saved = store.home.path("saved");
    ASSERT_EQ(rename(trashed.c_str(), saved.c_str()), 0);
    writeFile(trashed, "first");
    EXPECT_EQ(restoreOutcome(record), kFileChanged) << "another file of the same size";
    ASSERT_EQ(unlink(trashed.c_str()), 0);
    ASSERT_EQ(symlink(saved.c_str(), trashed.c_str()), 0);
    EXPECT_EQ(restoreOutcome(record), kSourceMissing) << "a link in the Trash";
    ASSERT_EQ(unlink(trashed.c_str()), 0);
    EXPECT_EQ(restoreOutcome(record), kSourceMissing) << "deleted from the Trash";
    ASSERT_EQ(rename(saved.c_str(), trashed.c_str()), 0);
    ino_t inode = inodeOf(trashed);
    writeFile(trashed, "first, longer");
    ASSERT_EQ(inodeOf(trashed), inode);
    EXPECT_EQ(restoreOutcome(record), kFileChanged) << "edited in place";
    EXPECT_FALSE(exists(original));

    // Only identity and size are compared when the record has no modification date.
    Operation second = store.trashFile(docs + "/b.txt", "bbbb");
    setAge(*second.trashPath, 3600);
    EXPECT_EQ(restoreOutcome(second), kFileChanged) << "the modification date differs";
    second.modified.reset();
    EXPECT_EQ(restoreOutcome(second), "restored");
    EXPECT_EQ(readFile(docs + "/b.txt"), "bbbb");

    // Items outside the Trash, directly or through a linked folder on the trash path.
    std::string stray = writeFile(store.home.path("elsewhere/c.txt"), "stray");
    Operation outside = second;
    outside.path = docs + "/c.txt";
    outside.trashPath = stray;
    outside.resourceID = FileEngine::snapshot(stray)->resourceID();
    outside.size = 5;
    outside.modified.reset();
    EXPECT_EQ(restoreOutcome(outside), kSourceOutside);
    ASSERT_EQ(symlink(store.home.path("elsewhere").c_str(), (Trash::homeFilesDirectory() + "/via").c_str()), 0);
    outside.trashPath = Trash::homeFilesDirectory() + "/via/c.txt";
    EXPECT_EQ(restoreOutcome(outside), kSourceOutside);
    EXPECT_TRUE(exists(stray));
    EXPECT_FALSE(exists(docs + "/c.txt"));

    // An unknown kind is not guessed at.
    Operation unknown = record;
    unknown.kind = "folder";
    EXPECT_EQ(restoreOutcome(unknown), kFileChanged);
}

TEST(FileActionEngineRestore, ApplicationBundles)
{
    Store store;
    std::string apps = Locations::userApplications();
    std::string bundle = apps + "/Demo.app";
    writeFile(bundle + "/Contents/Info.plist", infoPlist("com.example.demo"));
    writeFile(bundle + "/Contents/MacOS/Demo", "#!/bin/sh\n");
    InstalledApp app = MaintenanceEngine::app(bundle, {apps});
    ino_t inode = inodeOf(bundle);

    Operation prepared;
    prepared.id = newUUID();
    prepared.date = dateNow();
    prepared.path = app.path;
    prepared.detail = "准备移走应用包";
    prepared.resourceID = app.identity;
    prepared.modified = app.modified;
    prepared.kind = "application";
    prepared.bundleID = app.bundleID;
    Operation record = OperationJournal::move(prepared, store.journal.get(),
                                              [&]() -> std::optional<std::string> { return Trash::trashItem(bundle); });
    ASSERT_TRUE(record.success) << record.detail;
    const std::string trashed = *record.trashPath;

    Operation noBundleID = record;
    noBundleID.bundleID.reset();
    EXPECT_EQ(restoreOutcome(noBundleID), kAppChanged);
    Operation otherBundleID = record;
    otherBundleID.bundleID = "com.example.other";
    EXPECT_EQ(restoreOutcome(otherBundleID), kAppChanged);
    Operation noModified = record;
    noModified.modified.reset();
    EXPECT_EQ(restoreOutcome(noModified), kAppChanged);

    // Occupied place; then the application folder replaced by a link.
    makeDirs(bundle);
    EXPECT_EQ(restoreOutcome(record), kOccupied);
    ASSERT_EQ(rmdir(bundle.c_str()), 0);
    ASSERT_EQ(rename(apps.c_str(), (apps + "-real").c_str()), 0);
    ASSERT_EQ(symlink((apps + "-real").c_str(), apps.c_str()), 0);
    EXPECT_EQ(restoreOutcome(record), kParentMoved);
    ASSERT_EQ(unlink(apps.c_str()), 0);
    ASSERT_EQ(rename((apps + "-real").c_str(), apps.c_str()), 0);

    // Restored as the same bundle.
    EXPECT_EQ(FileActionEngine::restoreTask(record, *store.journal), std::nullopt);
    EXPECT_EQ(inodeOf(bundle), inode);
    EXPECT_EQ(MaintenanceEngine::app(bundle, {apps}), app);

    // A bundle changed in the Trash, or no longer a bundle: refused.
    prepared.id = newUUID();
    record = OperationJournal::move(prepared, store.journal.get(),
                                    [&]() -> std::optional<std::string> { return Trash::trashItem(bundle); });
    ASSERT_TRUE(record.success);
    writeFile(*record.trashPath + "/added.txt", "x");
    EXPECT_EQ(restoreOutcome(record), kAppChanged) << "the bundle folder's date changed";
    writeFile(*record.trashPath + "/Contents/Info.plist", "not a property list");
    EXPECT_EQ(restoreOutcome(record), "TessynMaintenance:不处理系统应用、Tessyn自身或无法识别的应用包。")
        << "the bundle gate's refusal passes on";
    std::string aside = store.home.path("aside.app");
    ASSERT_EQ(rename(record.trashPath->c_str(), aside.c_str()), 0);
    ASSERT_EQ(symlink(aside.c_str(), record.trashPath->c_str()), 0);
    EXPECT_EQ(restoreOutcome(record), kSourceMissing);
    EXPECT_FALSE(exists(bundle));
}

TEST(FileActionEngineRestore, RelatedItemsMovedThroughTheJournal)
{
    Store store;
    std::string home = store.home.root();
    InstalledApp app{Locations::userApplications() + "/Demo.app", "Demo", "com.example.demo", "1:1", 0};
    std::string caches = home + "/Library/Caches/com.example.demo";
    std::string prefs = home + "/Library/Preferences/com.example.demo.plist";
    writeFile(caches + "/a/b.bin", "cache");
    writeFile(caches + "/c.txt", "more");
    writeFile(prefs, "<plist/>");
    RelatedItem folder = RelatedItem::snapshot(caches, "缓存目录 · 可能需要重新下载");
    RelatedItem file = RelatedItem::snapshot(prefs, "偏好设置 · 删除会重置设置");
    auto notRunning = [] { return false; };

    // Refused before the move: failure records without the item's identity.
    RelatedItem stranger = folder;
    stranger.path = home + "/Library/Caches/other";
    Operation refused = RelatedFiles::move(stranger, app, home, notRunning, store.journal.get());
    EXPECT_FALSE(refused.success);
    EXPECT_EQ(refused.detail, "关联范围变化或应用正在运行，请重新检查。");
    EXPECT_EQ(refused.path, stranger.path);
    EXPECT_FALSE(refused.kind || refused.resourceID || refused.modified || refused.bundleID);
    EXPECT_EQ(RelatedFiles::move(folder, app, home, [] { return true; }, store.journal.get()).detail,
              "关联范围变化或应用正在运行，请重新检查。");
    writeFile(caches + "/new.txt", "n");
    refused = RelatedFiles::move(folder, app, home, notRunning, store.journal.get());
    EXPECT_EQ(refused.detail, "关联文件已变化，请重新扫描并确认。");
    EXPECT_EQ(refused.size, 0);
    ASSERT_EQ(unlink((caches + "/new.txt").c_str()), 0);
    folder = RelatedItem::snapshot(caches, folder.label);

    // The application starts just before the move: the journalled record says so.
    int calls = 0;
    Operation started = RelatedFiles::move(file, app, home, [&] { return ++calls > 1; }, store.journal.get());
    EXPECT_FALSE(started.success);
    EXPECT_EQ(started.detail, "应用刚刚启动，停止处理。");
    EXPECT_EQ(started.resourceID, file.identity);
    EXPECT_EQ(store.entryOf(started.id)->phase, "finished");
    EXPECT_TRUE(exists(prefs));

    // Moved: a folder record carries its kind and signature, a file record none.
    Operation folderRecord = RelatedFiles::move(folder, app, home, notRunning, store.journal.get());
    ASSERT_TRUE(folderRecord.success) << folderRecord.detail;
    EXPECT_EQ(folderRecord.kind, "related-directory");
    EXPECT_EQ(folderRecord.treeSignature, folder.signature);
    EXPECT_EQ(folderRecord.bundleID, "com.example.demo");
    EXPECT_EQ(folderRecord.resourceID, folder.identity);
    EXPECT_EQ(store.entryOf(folderRecord.id)->operation, folderRecord);
    Operation fileRecord = RelatedFiles::move(file, app, home, notRunning, store.journal.get());
    ASSERT_TRUE(fileRecord.success) << fileRecord.detail;
    EXPECT_FALSE(fileRecord.kind || fileRecord.treeSignature);
    EXPECT_EQ(fileRecord.size, static_cast<int64_t>(std::string("<plist/>").size()));
    EXPECT_FALSE(exists(caches) || exists(prefs));

    // Folder refusals: contents changed in the Trash, missing signature, not a folder,
    // occupied place, old folder gone.
    const std::string trashed = *folderRecord.trashPath;
    Operation noSignature = folderRecord;
    noSignature.treeSignature.reset();
    EXPECT_EQ(restoreOutcome(noSignature), kFolderChanged);
    Operation fileAsFolder = fileRecord;
    fileAsFolder.kind = "related-directory";
    fileAsFolder.treeSignature = folder.signature;
    EXPECT_EQ(restoreOutcome(fileAsFolder), kFolderChanged);
    makeDirs(caches);
    EXPECT_EQ(restoreOutcome(folderRecord), kOccupied);
    ASSERT_EQ(rmdir(caches.c_str()), 0);
    std::string library = home + "/Library/Caches";
    ASSERT_EQ(rename(library.c_str(), (library + "-old").c_str()), 0);
    EXPECT_EQ(restoreOutcome(folderRecord), kParentMoved);
    ASSERT_EQ(rename((library + "-old").c_str(), library.c_str()), 0);

    // Both come back as the same items.
    ino_t folderInode = inodeOf(trashed);
    EXPECT_EQ(FileActionEngine::restoreTask(folderRecord, *store.journal), std::nullopt);
    EXPECT_EQ(FileActionEngine::restoreTask(fileRecord, *store.journal), std::nullopt);
    EXPECT_EQ(inodeOf(caches), folderInode);
    EXPECT_EQ(RelatedItem::treeSignature(caches), *folder.signature);
    EXPECT_EQ(readFile(prefs), "<plist/>");

    // Contents changed below the trashed folder.
    folder = RelatedItem::snapshot(caches, folder.label);
    folderRecord = RelatedFiles::move(folder, app, home, notRunning, store.journal.get());
    ASSERT_TRUE(folderRecord.success) << folderRecord.detail;
    writeFile(*folderRecord.trashPath + "/a/extra", "e");
    EXPECT_EQ(restoreOutcome(folderRecord), kFolderChanged);
    EXPECT_FALSE(exists(caches));

    // A journal that cannot record "moving": a failure record, nothing moved.
    writeFile(store.journal->path(), "[");
    file = RelatedItem::snapshot(prefs, file.label);
    Operation gated = RelatedFiles::move(file, app, home, notRunning, store.journal.get());
    EXPECT_FALSE(gated.success);
    EXPECT_EQ(gated.detail, "数据格式不正确，无法读取。");
    EXPECT_FALSE(gated.resourceID || gated.kind || gated.bundleID);
    EXPECT_TRUE(exists(prefs));

    // A home whose name is not UTF-8: refused with a record the history can store.
    std::remove(store.journal->path().c_str());
    std::string oddHome = home + "/odd\xff";
    writeFile(oddHome + "/Library/Caches/com.example.demo/x", "x");
    RelatedItem odd = RelatedItem::snapshot(oddHome + "/Library/Caches/com.example.demo", folder.label);
    for (OperationJournal* journal : {store.journal.get(), static_cast<OperationJournal*>(nullptr)}) {
        Operation refusedOdd = RelatedFiles::move(odd, app, oddHome, notRunning, journal);
        EXPECT_FALSE(refusedOdd.success);
        EXPECT_EQ(refusedOdd.detail, "路径不是有效的 UTF-8 文本，无法写入操作记录，请重命名后再试。");
        EXPECT_NO_THROW(checkStorable(refusedOdd));
        EXPECT_TRUE(exists(odd.path));
    }
}

// A refused restore puts back what the journal held; a "finished" receipt of its record (the
// history may not hold it yet) is never replaced by "restoring", not even for a moment.
TEST(FileActionEngineRestore, ARefusedRestoreLeavesTheJournalAsItFoundIt)
{
    Store store;
    std::string original = store.home.path("docs/kept.txt");
    Operation record = store.trashFile(original, "kept");
    Operation other = record;
    other.id = newUUID();
    other.path = store.home.path("docs/other.txt");
    Operation restored = record;
    restored.restoredAt = dateNow();
    Operation failed = record;
    failed.success = false;
    failed.trashPath.reset();
    using E = OperationJournal::Entry;
    struct Case {
        const char* name;
        std::vector<E> found;
        bool receiptKept;
    };
    const std::vector<Case> cases{
        {"an empty journal", {}, false},
        {"another record's entry", {{other, "moving"}}, false},
        {"the move's receipt", {{record, "finished"}, {other, "moving"}}, true},
        {"a restore's receipt", {{other, "moving"}, {restored, "finished"}}, true},
        {"a failed move's receipt", {{failed, "finished"}}, true},
        {"an earlier interrupted restore", {{other, "moving"}, {record, "restoring"}, {other, "finished"}}, false},
        {"duplicates of the id", {{record, "moving"}, {other, "moving"}, {record, "restoring"}}, false},
    };
    writeFile(original, "taken");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string before = journalText(c.found);
        writeFile(store.journal->path(), before);
        EXPECT_EQ(FileActionEngine::restoreTask(record, *store.journal), std::optional<std::string>(kOccupied));
        EXPECT_EQ(readFile(store.journal->path()), before);

        // Killed right after the restore's first write: a receipt is still there, in its
        // place, with "restoring" after it; anything else became "restoring". The next start
        // reports either as interrupted.
        store.journal->beginRestore(record);
        if (c.receiptKept) {
            std::vector<E> kept = c.found;
            kept.push_back({record, "restoring"});
            EXPECT_EQ(readFile(store.journal->path()), journalText(kept));
        } else {
            ASSERT_TRUE(store.entryOf(record.id));
            EXPECT_EQ(store.entryOf(record.id)->phase, "restoring");
        }
    }
    EXPECT_EQ(readFile(original), "taken");
    EXPECT_TRUE(exists(*record.trashPath));

    // Another copy's receipt written while this restore ran stays.
    writeFile(store.journal->path(), "[]");
    auto mark = store.journal->beginRestore(record);
    OperationJournal(store.journal->path()).record(restored, "finished");
    store.journal->abandonRestore(mark);
    ASSERT_TRUE(store.entryOf(record.id));
    EXPECT_EQ(store.entryOf(record.id)->operation, restored);

    // Put back over the move's receipt, the restore's own receipt replaces it.
    ASSERT_EQ(unlink(original.c_str()), 0);
    writeFile(store.journal->path(), journalText({{record, "finished"}}));
    EXPECT_EQ(FileActionEngine::restoreTask(record, *store.journal), std::nullopt);
    EXPECT_EQ(readFile(original), "kept");
    auto entries = store.journal->entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].phase, "finished");
    EXPECT_TRUE(entries[0].operation.restoredAt);
}

// Two running copies restore the same record while a third moves files through the same
// journal. Whoever puts the item back leaves a receipt saying so (not the kept move's receipt);
// whoever is refused leaves what it found.
TEST(FileActionEngineRestore, TwoCopiesRestoringWhileAThirdMovesFiles)
{
    for (int round = 0; round < 16; ++round) {
        const bool receiptFirst = round % 2 == 0;
        SCOPED_TRACE((receiptFirst ? "move's receipt kept, round " : "empty journal, round ") + std::to_string(round));
        Store store;
        std::string original = store.home.path("docs/a.txt");
        Operation record = store.trashFile(original, "a");
        if (!receiptFirst) store.journal->acknowledge({record});
        std::vector<FileEntry> others;
        std::unordered_set<std::string> selection;
        for (int i = 0; i < 8; ++i) {
            std::string path = writeFile(store.home.path("other/f" + std::to_string(i)), std::to_string(i));
            others.push_back(*FileEngine::snapshot(path));
            selection.insert(path);
        }

        std::vector<int> codes = forkTogether(3, [&](int copy) {
            OperationJournal own(store.journal->path());
            if (copy == 2) {
                FileActionEngine::execute(others, store.home.path("other"), {}, selection, {}, {}, &own);
                return 0;
            }
            return FileActionEngine::restoreTask(record, own) ? 1 : 0;
        });
        ASSERT_EQ(std::count(codes.begin(), codes.end(), -1), 0);
        int reportedBack = (codes[0] == 0) + (codes[1] == 0);

        const bool back = exists(original);
        ASSERT_NE(back, exists(*record.trashPath)) << "the item is in exactly one place";
        EXPECT_EQ(reportedBack, back ? 1 : 0);
        auto entry = store.entryOf(record.id);
        if (back) {
            ASSERT_TRUE(entry);
            EXPECT_EQ(entry->phase, "finished");
            EXPECT_TRUE(entry->operation.restoredAt) << "the journal says the item is back";
        } else if (receiptFirst) {
            EXPECT_EQ(entry, std::optional(OperationJournal::Entry{record, "finished"}));
        } else {
            EXPECT_FALSE(entry);
        }
    }
}
