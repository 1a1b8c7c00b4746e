#include "engine/FileActionEngine.h"

#include "ChildProcess.h"
#include "HeldLock.h"
#include "TestSupport.h"
#include "engine/DuplicateEngine.h"
#include "engine/FileEngine.h"
#include "engine/HistoryStore.h"
#include "engine/Uuid.h"
#include "platform/Errors.h"
#include "platform/Locations.h"
#include "platform/Trash.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <poll.h>
#include <thread>
#include <unistd.h>

namespace {

const char kValidation[] = "文件已变化、已移动或超出扫描范围，请重新扫描。";
const char kKeepOne[] = "同一重复组至少保留一份文件。";
const char kMoved[] = "已移入废纸篓";

bool exists(const std::string& path)
{
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

FileEntry recordOf(const std::string& path)
{
    auto entry = FileEngine::snapshot(path);
    if (!entry) throw std::runtime_error("not a regular file: " + path);
    return *entry;
}

// A scan root with files, the model's journal in Tessyn's store folder, and the progress
// reports of the last run.
struct Workspace {
    TempHome home;
    std::string root = home.path("scan");
    std::unique_ptr<OperationJournal> journal;
    std::vector<ActionProgress> reports;

    Workspace()
    {
        makeDirs(root);
        makeDirs(Locations::applicationSupport());
        journal = std::make_unique<OperationJournal>(Locations::applicationSupport() + "/pending-actions.json");
    }

    FileEntry file(const std::string& name, const std::string& contents)
    {
        return recordOf(writeFile(root + "/" + name, contents));
    }

    std::vector<Operation> run(const std::vector<FileEntry>& files, const std::unordered_set<std::string>& selection,
                               const std::vector<DuplicateGroup>& groups = {},
                               const FileActionEngine::TrashFunction& trash = {}, std::stop_token stop = {})
    {
        reports.clear();
        return FileActionEngine::execute(
            files, root, groups, selection, [this](const ActionProgress& p) { reports.push_back(p); }, trash,
            journal.get(), stop);
    }

    std::string phaseOf(const std::string& id)
    {
        for (const auto& entry : journal->entries())
            if (entry.operation.id == id) return entry.phase;
        return "absent";
    }
};

std::unordered_set<std::string> pathsOf(const std::vector<FileEntry>& files)
{
    std::unordered_set<std::string> paths;
    for (const auto& f : files) paths.insert(f.path);
    return paths;
}

} // namespace

TEST(FileActionEngine, MovesTheSelectedFilesInListOrderUnderTheJournal)
{
    Workspace ws;
    FileEntry a = ws.file("a.txt", "alpha"), b = ws.file("b.txt", "beta"), c = ws.file("sub/c.txt", "gamma");
    ino_t inodeC = inodeOf(c.path);

    auto empty = ws.run({a, b, c}, {});
    EXPECT_TRUE(empty.empty());
    ASSERT_EQ(ws.reports.size(), 1u) << "an empty selection reports once";
    EXPECT_EQ(ws.reports[0], (ActionProgress{0, 0, "正在复核重复内容"}));
    EXPECT_FALSE(exists(ws.journal->path())) << "nothing to journal";

    // Selected paths not among the files are not targets; the list order decides.
    auto records = ws.run({c, b, a}, {a.path, c.path, ws.root + "/unknown.txt"});
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].path, c.path);
    EXPECT_EQ(records[1].path, a.path);
    for (const auto& r : records) {
        EXPECT_TRUE(r.success) << r.detail;
        EXPECT_EQ(r.detail, kMoved);
        ASSERT_TRUE(r.trashPath.has_value());
        EXPECT_EQ(r.trashPath->rfind(Trash::homeFilesDirectory() + "/", 0), 0u) << *r.trashPath;
        EXPECT_TRUE(exists(*r.trashPath));
        EXPECT_FALSE(exists(r.path));
        EXPECT_TRUE(canonicalUUID(r.id).has_value());
        EXPECT_FALSE(r.kind || r.bundleID || r.treeSignature || r.restoredAt);
    }
    EXPECT_EQ(records[0].resourceID, c.resourceID());
    EXPECT_EQ(records[0].modified, c.modified);
    EXPECT_EQ(records[0].size, c.size);
    EXPECT_EQ(inodeOf(*records[0].trashPath), inodeC) << "moved by rename, not copied";
    EXPECT_TRUE(exists(b.path)) << "unselected files stay";

    // Both moves ended in "finished" entries that carry the returned records.
    auto entries = ws.journal->entries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0], (OperationJournal::Entry{records[0], "finished"}));
    EXPECT_EQ(entries[1], (OperationJournal::Entry{records[1], "finished"}));

    ASSERT_GE(ws.reports.size(), 2u);
    EXPECT_EQ(ws.reports.front(), (ActionProgress{0, 2, "正在复核重复内容"}));
    EXPECT_EQ(ws.reports[1], (ActionProgress{1, 2, "c.txt"})) << "the first file always reports";
    EXPECT_EQ(ws.reports.back(), (ActionProgress{2, 2, "a.txt"})) << "so does the last";

    // The history accepts the records and then settles the journal.
    HistoryStore history(Locations::applicationSupport() + "/operations.json",
                         std::shared_ptr<OperationJournal>(ws.journal.get(), [](OperationJournal*) {}));
    history.history() = records;
    EXPECT_EQ(history.saveHistory(false), std::nullopt);
    EXPECT_TRUE(ws.journal->entries().empty());
}

TEST(FileActionEngine, ProgressIsThrottledOverManyFiles)
{
    Workspace ws;
    std::vector<FileEntry> files;
    for (int i = 0; i < 300; ++i) files.push_back(ws.file("many/f" + std::to_string(i), "x"));
    std::vector<std::chrono::steady_clock::time_point> times;
    auto start = std::chrono::steady_clock::now();
    auto records = FileActionEngine::execute(
        files, ws.root, {}, pathsOf(files),
        [&](const ActionProgress& p) {
            ws.reports.push_back(p);
            times.push_back(std::chrono::steady_clock::now());
        },
        [](const std::string& path) {
            usleep(2000); // a slow move: the run takes at least 0.6 s
            Trash::trashItem(path);
        });
    double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ASSERT_EQ(records.size(), 300u);
    for (const auto& r : records) EXPECT_TRUE(r.success) << r.detail;
    EXPECT_FALSE(records[0].trashPath) << "a replacement move gives no trash path";
    EXPECT_GE(ws.reports.size(), 4u);
    EXPECT_LE(ws.reports.size(), static_cast<size_t>(elapsed / 0.1) + 3) << "one report per 0.1 s, not one per file";
    EXPECT_EQ(ws.reports.back(), (ActionProgress{300, 300, "f299"}));
    for (size_t i = 1; i < ws.reports.size(); ++i) {
        EXPECT_GT(ws.reports[i].completed, ws.reports[i - 1].completed);
        if (i >= 2 && i + 1 < ws.reports.size()) {
            EXPECT_GE(times[i] - times[i - 1], std::chrono::milliseconds(100)) << "report " << i;
        }
    }
}

TEST(FileActionEngine, DuplicateCopiesMoveOnlyWhileAnUnchangedCopyStays)
{
    Workspace ws;
    std::vector<FileEntry> files = {
        ws.file("g1/a", "same content one"), ws.file("g1/b", "same content one"), ws.file("g1/c", "same content one"),
        ws.file("g2/a", "second content"),   ws.file("g2/b", "second content"),   ws.file("plain", "plain file"),
    };
    DuplicateReport found = DuplicateEngine::find(files, ws.root);
    ASSERT_EQ(found.groups.size(), 2u);

    // g1: two of three copies selected, the first unselected one stays. g2: the whole group.
    std::unordered_set<std::string> selection = {files[1].path, files[2].path, files[3].path, files[4].path,
                                                 files[5].path};
    auto records = ws.run(files, selection, found.groups);
    ASSERT_EQ(records.size(), 5u);
    EXPECT_TRUE(records[0].success && records[1].success) << records[0].detail << " / " << records[1].detail;
    EXPECT_FALSE(records[2].success);
    EXPECT_EQ(records[2].detail, kKeepOne);
    EXPECT_EQ(records[3].detail, kKeepOne);
    EXPECT_FALSE(records[2].resourceID) << "refused before the move: no identity taken";
    EXPECT_TRUE(records[4].success) << "files outside every group still move";
    EXPECT_TRUE(exists(files[0].path) && exists(files[3].path) && exists(files[4].path));
    EXPECT_EQ(ws.phaseOf(records[2].id), "absent") << "a refusal never reaches the journal";
}

TEST(FileActionEngine, ChangedKeepersAndCopiesBlockTheirGroup)
{
    Workspace ws;
    std::vector<FileEntry> files = {ws.file("k/a", "duplicate"), ws.file("k/b", "duplicate"),
                                    ws.file("k/c", "duplicate")};
    DuplicateReport found = DuplicateEngine::find(files, ws.root);
    ASSERT_EQ(found.groups.size(), 1u);
    std::unordered_set<std::string> selection = {files[1].path, files[2].path};

    // The keeper changed before the run: every selected copy is refused with the re-check's text.
    writeFile(files[0].path, "duplicatE");
    auto records = ws.run(files, selection, found.groups);
    ASSERT_EQ(records.size(), 2u);
    for (const auto& r : records) {
        EXPECT_FALSE(r.success);
        EXPECT_EQ(r.detail, std::string("重复文件复核失败：") + kValidation);
    }
    EXPECT_TRUE(exists(files[1].path) && exists(files[2].path));

    // A copy whose content no longer matches the group (its record is fresh, so only the
    // content tells): the re-check's own text.
    files[0] = recordOf(files[0].path);
    writeFile(files[2].path, "different");
    files[2] = recordOf(files[2].path);
    found.groups[0].files = files;
    records = ws.run(files, selection, found.groups);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].detail, "保留文件的内容已变化，请重新检测。");
    writeFile(files[0].path, "duplicate");
    files[0] = recordOf(files[0].path);
    found.groups[0].files = files;
    records = ws.run(files, selection, found.groups);
    EXPECT_EQ(records[0].detail, "所选文件内容已变化，请重新检测。");
    EXPECT_EQ(records[1].detail, "所选文件内容已变化，请重新检测。");
    EXPECT_TRUE(exists(files[1].path) && exists(files[2].path));

    // The keeper changes after the re-check, while an earlier file moves: the copy is
    // refused by the keeper's validation.
    writeFile(files[2].path, "duplicate");
    files[2] = recordOf(files[2].path);
    found.groups[0].files = files;
    FileEntry first = ws.file("0-first", "first");
    std::vector<FileEntry> list = {first, files[0], files[1]};
    records = ws.run(list, {first.path, files[1].path}, found.groups, [&](const std::string& path) {
        if (path == first.path) writeFile(files[0].path, "duplicatE");
        Trash::trashItem(path);
    });
    ASSERT_EQ(records.size(), 2u);
    EXPECT_TRUE(records[0].success);
    EXPECT_FALSE(records[1].success);
    EXPECT_EQ(records[1].detail, kValidation);
    EXPECT_TRUE(exists(files[1].path));
}

TEST(FileActionEngine, RefusalsAndFailuresBecomeRecords)
{
    Workspace ws;
    FileEntry changed = ws.file("changed.txt", "before");
    FileEntry locked = ws.file("locked.txt", "locked");
    FileEntry fine = ws.file("fine.txt", "fine");
    writeFile(changed.path, "after!");

    auto records = ws.run({changed, locked, fine}, {changed.path, locked.path, fine.path}, {},
                          [&](const std::string& path) {
                              if (path == locked.path) throwPosix(EACCES);
                              Trash::trashItem(path);
                          });
    ASSERT_EQ(records.size(), 3u);
    EXPECT_FALSE(records[0].success);
    EXPECT_EQ(records[0].detail, kValidation);
    EXPECT_FALSE(records[0].resourceID || records[0].modified || records[0].trashPath);
    EXPECT_TRUE(exists(changed.path));

    // A failed move keeps the prepared record's id and identity; the journal holds "finished".
    EXPECT_FALSE(records[1].success);
    EXPECT_EQ(records[1].detail, posixError(EACCES).code().message());
    EXPECT_EQ(records[1].resourceID, locked.resourceID());
    EXPECT_EQ(records[1].modified, locked.modified);
    EXPECT_EQ(ws.phaseOf(records[1].id), "finished");
    EXPECT_TRUE(exists(locked.path));
    EXPECT_TRUE(records[2].success) << "one failure does not end the run";

    // The "finished" receipt fails after the move: still a success, and the journal keeps
    // the "moving" entry until a history save settles it.
    FileEntry receipt = ws.file("receipt.txt", "r");
    std::string journalText;
    records = ws.run({receipt}, {receipt.path}, {}, [&](const std::string& path) {
        Trash::trashItem(path);
        journalText = readFile(ws.journal->path());
        writeFile(ws.journal->path(), "{broken");
    });
    ASSERT_EQ(records.size(), 1u);
    EXPECT_TRUE(records[0].success);
    EXPECT_EQ(records[0].detail, std::string(kMoved) + "；回执保存失败，请保留废纸篓并检查操作记录：数据格式不正确，无法读取。");
    EXPECT_NE(journalText.find("\"moving\""), std::string::npos);

    // An unreadable journal refuses every file before anything moves, and is left alone.
    FileEntry gated = ws.file("gated.txt", "g");
    records = ws.run({gated}, {gated.path});
    ASSERT_EQ(records.size(), 1u);
    EXPECT_FALSE(records[0].success);
    EXPECT_EQ(records[0].detail, "数据格式不正确，无法读取。");
    EXPECT_TRUE(exists(gated.path));
    EXPECT_EQ(readFile(ws.journal->path()), "{broken");
}

TEST(FileActionEngine, NamesThatAreNotUtf8AreRefusedWithStorableRecords)
{
    Workspace ws;
    FileEntry bad = ws.file("bad\xff\xfe.txt", "bytes");
    FileEntry good = ws.file("good.txt", "good");
    for (OperationJournal* journal : {ws.journal.get(), static_cast<OperationJournal*>(nullptr)}) {
        auto records = FileActionEngine::execute({bad, good}, ws.root, {}, {bad.path, good.path}, {}, {}, journal);
        ASSERT_EQ(records.size(), 2u);
        EXPECT_FALSE(records[0].success);
        EXPECT_EQ(records[0].detail, "路径不是有效的 UTF-8 文本，无法写入操作记录，请重命名后再试。");
        EXPECT_EQ(records[0].path, ws.root + "/bad\uFFFD\uFFFD.txt");
        EXPECT_TRUE(exists(bad.path)) << "not moved, with or without a journal";
        EXPECT_NO_THROW(checkStorable(records[0]));
        if (journal) {
            EXPECT_TRUE(records[1].success) << records[1].detail;
            HistoryStore history(Locations::applicationSupport() + "/operations.json",
                                 std::shared_ptr<OperationJournal>(journal, [](OperationJournal*) {}));
            history.history() = records;
            EXPECT_EQ(history.saveHistory(false), std::nullopt) << "the history stays writable";
            good = ws.file("good.txt", "good");
        }
    }
}

TEST(FileActionEngine, StopRequestsEndTheRunEarly)
{
    Workspace ws;
    std::vector<FileEntry> plain = {ws.file("p/1", "one"), ws.file("p/2", "two"), ws.file("p/3", "three")};

    // Stopped after the first file: the records so far, the rest untouched.
    std::stop_source source;
    auto records = FileActionEngine::execute(
        plain, ws.root, {}, pathsOf(plain),
        [&](const ActionProgress& p) {
            if (p.completed == 1) source.request_stop();
        },
        {}, ws.journal.get(), source.get_token());
    ASSERT_EQ(records.size(), 1u);
    EXPECT_TRUE(records[0].success);
    EXPECT_TRUE(exists(plain[1].path) && exists(plain[2].path));

    // Stopped while duplicate groups are re-checked: nothing moves, although a group was
    // already examined. The first group is small; the stop arrives while larger ones hash.
    std::vector<FileEntry> files = {ws.file("d/small1", "small"), ws.file("d/small2", "small")};
    const std::string big(16 << 20, 'b'), bigger(16 << 20, 'c');
    for (int i = 0; i < 3; ++i) files.push_back(ws.file("d/big" + std::to_string(i), big));
    for (int i = 0; i < 3; ++i) files.push_back(ws.file("d/bigger" + std::to_string(i), bigger));
    DuplicateReport found = DuplicateEngine::find(files, ws.root);
    ASSERT_EQ(found.groups.size(), 3u);
    std::rotate(found.groups.begin(), found.groups.end() - 1, found.groups.end());
    ASSERT_EQ(found.groups[0].files[0].size, 5);

    int watch = inotify_init1(IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, files[0].path.c_str(), IN_OPEN), 0);
    std::stop_source prePass;
    std::atomic<bool> seen{false};
    std::thread watcher([&] {
        pollfd p{watch, POLLIN, 0};
        if (poll(&p, 1, 10000) == 1) {
            seen = true;
            prePass.request_stop();
        }
    });
    std::unordered_set<std::string> selection = pathsOf(files);
    selection.erase(files[0].path);
    selection.erase(files[2].path);
    selection.erase(files[5].path);
    records = FileActionEngine::execute(files, ws.root, found.groups, selection, {}, {}, ws.journal.get(),
                                        prePass.get_token());
    watcher.join();
    close(watch);
    EXPECT_TRUE(seen) << "the first group was examined";
    EXPECT_TRUE(records.empty());
    for (const auto& f : files) EXPECT_TRUE(exists(f.path)) << f.path;
}

TEST(FileActionEngine, TrashCliRestoresWhatExecuteMoved)
{
    Workspace ws;
    FileEntry file = ws.file("cli/note.txt", "note");
    auto records = ws.run({file}, {file.path});
    ASSERT_EQ(records.size(), 1u);
    ASSERT_TRUE(records[0].success) << records[0].detail;
    std::string folder = ws.root + "/cli";
    CommandResult restore =
        runCommand("cd " + shellQuote(folder) + " && echo 0 | trash-restore " + shellQuote(folder) + " 2>&1");
    EXPECT_EQ(restore.status, 0) << restore.output;
    EXPECT_EQ(inodeOf(file.path), file.inode) << restore.output;
    EXPECT_EQ(readFile(file.path), "note");

    // Tessyn's own restore of that record now finds nothing in the Trash.
    try {
        FileActionEngine::restore(records[0]);
        ADD_FAILURE() << "restored twice";
    } catch (const TessynError& e) {
        EXPECT_EQ(e.message(), "废纸篓来源不存在或已被替换为符号链接。");
    }
}

// Another program swaps each file with one from outside the scan (as an editor's save by
// rename does) while its move is under way: nothing from outside may reach the Trash, and a
// move reported as done must have taken the scanned file.
TEST(FileActionEngine, FilesSwappedDuringTheirMoveAreRefusedAndPutBack)
{
    Workspace ws;
    std::string outside = ws.home.path("outside");
    std::string info = ws.home.dataHome() + "/Trash/info";
    makeDirs(info);
    constexpr int kFiles = 40;
    std::vector<FileEntry> files;
    std::vector<ino_t> strangers;
    for (int i = 0; i < kFiles; ++i) {
        files.push_back(ws.file("data/f" + std::to_string(i) + ".txt", "scanned " + std::to_string(i)));
        strangers.push_back(inodeOf(writeFile(outside + "/g" + std::to_string(i) + ".txt", "other")));
    }

    // The swap lands as the move claims its slot in the Trash, after the engine's own checks.
    int watch = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, info.c_str(), IN_CREATE), 0);
    std::atomic<bool> done{false};
    std::atomic<int> swaps{0};
    std::thread swapper([&] {
        alignas(inotify_event) char buffer[4096];
        while (!done) {
            pollfd p{watch, POLLIN, 0};
            if (poll(&p, 1, 20) != 1) continue;
            ssize_t n = read(watch, buffer, sizeof buffer);
            for (ssize_t at = 0; at < n;) {
                auto* event = reinterpret_cast<inotify_event*>(buffer + at);
                std::string name = event->len ? event->name : "";
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
                auto suffix = name.find(".txt.trashinfo");
                if (name.size() < 2 || name[0] != 'f' || suffix == std::string::npos) continue;
                std::string index = name.substr(1, suffix - 1);
                if (renameat2(AT_FDCWD, (ws.root + "/data/f" + index + ".txt").c_str(), AT_FDCWD,
                              (outside + "/g" + index + ".txt").c_str(), RENAME_EXCHANGE) == 0)
                    ++swaps;
            }
        }
    });
    auto records = ws.run(files, pathsOf(files));
    done = true;
    swapper.join();
    close(watch);

    ASSERT_EQ(records.size(), static_cast<size_t>(kFiles));
    ASSERT_GT(swaps.load(), 0) << "the swaps raced the moves";
    int refused = 0;
    for (int i = 0; i < kFiles; ++i) {
        const Operation& r = records[i];
        if (r.success) {
            ASSERT_TRUE(r.trashPath);
            EXPECT_EQ(inodeOf(*r.trashPath), files[i].inode) << "the Trash holds the scanned file " << r.path;
        } else {
            ++refused;
            EXPECT_EQ(r.detail, kValidation) << r.path;
            EXPECT_FALSE(r.trashPath);
        }
        // Each outside file is where the swap put it or where it was, never in the Trash.
        std::string left = ws.root + "/data/f" + std::to_string(i) + ".txt";
        std::string home = outside + "/g" + std::to_string(i) + ".txt";
        EXPECT_TRUE((exists(left) && inodeOf(left) == strangers[i]) || inodeOf(home) == strangers[i])
            << "outside file " << i << " left its places";
    }
    EXPECT_GE(refused, 1);
    // No .trashinfo is left without its item.
    for (const auto& entry : std::filesystem::directory_iterator(info)) {
        std::string name = entry.path().filename();
        EXPECT_TRUE(exists(ws.home.dataHome() + "/Trash/files/" + name.substr(0, name.size() - 10))) << name;
    }
}

// While file k moves, the journal holds every earlier move as settled and only file k as
// under way, whatever happened to the earlier ones; the last is settled when the run ends.
TEST(FileActionEngine, OneMoveAtATimeIsUnsettled)
{
    Workspace ws;
    std::vector<FileEntry> files;
    for (const char* name : {"a.txt", "b.txt", "c.txt", "d.txt"}) files.push_back(ws.file(name, name));
    std::vector<std::vector<OperationJournal::Entry>> seen;
    int calls = 0;
    auto trash = [&](const std::string& path) {
        seen.push_back(ws.journal->entries());
        if (++calls == 2) throw std::runtime_error("refused: " + path); // a failed move in between
    };
    auto records = ws.run(files, pathsOf(files), {}, trash);
    ASSERT_EQ(records.size(), 4u);
    ASSERT_EQ(seen.size(), 4u);
    for (size_t k = 0; k < seen.size(); ++k) {
        SCOPED_TRACE("move " + std::to_string(k));
        size_t moving = 0;
        for (const auto& entry : seen[k]) {
            if (entry.phase == OperationJournal::kMoving) {
                ++moving;
                EXPECT_EQ(entry.operation.path, files[k].path);
            } else {
                EXPECT_EQ(entry.phase, OperationJournal::kFinished);
            }
        }
        EXPECT_EQ(moving, 1u);
        EXPECT_EQ(seen[k].size(), k + 1) << "the earlier moves are settled, not dropped";
    }
    EXPECT_FALSE(records[1].success);
    for (const auto& entry : ws.journal->entries()) EXPECT_EQ(entry.phase, OperationJournal::kFinished);
}

// A folder on the way to a file that became a link after the engine's checks would lead the
// move elsewhere. Whatever is found there is refused, even another name of the very file (a
// hard link outside the scan), which passes every check of the item itself.
TEST(FileActionEngine, MovesThroughAFolderThatBecameALinkAreRefused)
{
    struct Case {
        const char* name;
        const char* swapped; // the folder exchanged with a link to "elsewhere"
        bool sameFile;       // elsewhere holds another name of the scanned file, else another file
    } cases[] = {
        {"the file's folder, to another name of the file", "scan/data/sub", true},
        {"a folder above, to another name of the file", "scan/data", true},
        {"the file's folder, to another file of that name", "scan/data/sub", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Workspace ws;
        FileEntry scanned = ws.file("data/sub/f.txt", "scanned");
        const std::string swapped = ws.home.path(c.swapped), elsewhere = ws.home.path("elsewhere");
        const std::string below = scanned.path.substr(swapped.size());
        makeDirs(elsewhere + below.substr(0, below.rfind('/')));
        if (c.sameFile) ASSERT_EQ(link(scanned.path.c_str(), (elsewhere + below).c_str()), 0);
        else writeFile(elsewhere + below, "another file");
        const ino_t other = inodeOf(elsewhere + below);
        ASSERT_EQ(symlink(elsewhere.c_str(), (swapped + "-link").c_str()), 0);
        ASSERT_EQ(renameat2(AT_FDCWD, swapped.c_str(), AT_FDCWD, (swapped + "-link").c_str(), RENAME_EXCHANGE), 0);

        Operation prepared;
        prepared.id = newUUID();
        prepared.path = scanned.path;
        prepared.size = scanned.size;
        prepared.resourceID = scanned.resourceID();
        prepared.modified = scanned.modified;
        std::string text = "moved";
        try {
            Trash::trashItem(prepared.path, FileActionEngine::sameItem(prepared));
        } catch (const std::exception& error) {
            text = errorDescription(error);
        }
        EXPECT_EQ(text, kValidation);
        EXPECT_TRUE(exists(elsewhere + below) && inodeOf(elsewhere + below) == other) << "elsewhere keeps its file";
        EXPECT_EQ(inodeOf(swapped + "-link" + below), scanned.inode) << "the scanned file stays in its folder";
        for (const char* folder : {"/Trash/files", "/Trash/info"})
            EXPECT_TRUE(!exists(ws.home.dataHome() + folder) || std::filesystem::is_empty(ws.home.dataHome() + folder))
                << folder;
    }
}

// Running copies share the journal, whose lock each holds for one write at a time: two copies
// moving files and a third restoring records at the same moment all get through, none
// refused only because another held the lock just then. A lock held for good (a stopped
// copy) costs one wait, not one per file.
TEST(FileActionEngine, RunningCopiesShareTheJournalWithoutRefusals)
{
    constexpr int kFiles = 150, kRestores = 20;
    Workspace ws;
    std::vector<FileEntry> files[2];
    for (int copy = 0; copy < 2; ++copy)
        for (int i = 0; i < kFiles; ++i)
            files[copy].push_back(ws.file(std::to_string(copy) + "/f" + std::to_string(i), std::to_string(i)));
    std::vector<FileEntry> earlier;
    for (int i = 0; i < kRestores; ++i) earlier.push_back(ws.file("r/f" + std::to_string(i), std::to_string(i)));
    std::vector<Operation> moved = ws.run(earlier, pathsOf(earlier));

    std::vector<int> failures = forkTogether(3, [&](int copy) {
        OperationJournal own(ws.journal->path());
        int failed = 0;
        if (copy < 2) {
            for (const Operation& record : FileActionEngine::execute(files[copy], ws.root, {}, pathsOf(files[copy]),
                                                                     {}, {}, &own))
                failed += record.success ? 0 : 1;
        } else {
            for (const Operation& record : moved) failed += FileActionEngine::restoreTask(record, own) ? 1 : 0;
        }
        return std::min(failed, 99);
    });
    EXPECT_EQ(failures, std::vector<int>(3, 0));
    for (const auto& entry : ws.journal->entries()) EXPECT_EQ(entry.phase, OperationJournal::kFinished);

    // Held from after the first late file until after the fourth: the first keeps its move but
    // not its receipt, the three meanwhile are refused, and the files after go through again.
    std::vector<FileEntry> late;
    for (int i = 0; i < 6; ++i) late.push_back(ws.file("late/f" + std::to_string(i), "late"));
    std::optional<HeldLock> stopped;
    auto hold = [&](int64_t completed) {
        if (completed == 1) stopped.emplace(ws.journal->path());
        if (completed == 4) stopped.reset();
    };
    auto began = std::chrono::steady_clock::now();
    std::vector<Operation> records =
        FileActionEngine::execute(late, ws.root, {}, pathsOf(late), {}, {}, ws.journal.get(), {}, hold);
    EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(4));
    ASSERT_EQ(records.size(), late.size());
    for (size_t i = 0; i < late.size(); ++i) {
        EXPECT_EQ(records[i].success, i == 0 || i > 3) << i;
        EXPECT_EQ(exists(late[i].path), !records[i].success) << i;
    }
    EXPECT_EQ(records[0].detail.rfind(std::string(kMoved) + "；回执保存失败", 0), 0u) << records[0].detail;
}
