#include "ModelTestSupport.h"
#include "HeldLock.h"

#include "engine/Dates.h"
#include "engine/FileEngine.h"
#include "engine/HistoryStore.h"
#include "engine/OperationJournal.h"
#include "engine/Uuid.h"
#include "platform/Trash.h"
#include "platform/TrashInfo.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <map>
#include <random>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const char kMerged[] = "已从操作回执补全记录；请核对后再恢复。";

// A move of `file` in a child that dies right before the rename, its info file written and
// flushed; whether it died there.
bool diesBeforeItsRename(const std::string& file)
{
    pid_t child = fork();
    if (child == 0) {
        try {
            Trash::trashItem(file, [](const std::string&, const struct stat&, bool) { _exit(0); });
        } catch (...) {
        }
        _exit(1);
    }
    int status = 0;
    return waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string interruption(const std::string& path)
{
    return "操作中断：" + path + "。状态未确认，请检查原位置与 Finder 废纸篓；不会自动重试或覆盖。";
}

std::vector<std::string> backups(const std::string& folder)
{
    std::vector<std::string> out;
    for (const auto& item : std::filesystem::directory_iterator(folder)) {
        std::string name = item.path().filename().string();
        if (name.rfind("operations-unreadable-", 0) == 0) out.push_back(item.path().string());
    }
    return out;
}

} // namespace

TEST(AppModelStartup, DefaultsWithoutStores)
{
    ModelHome env;
    AppModel model(std::nullopt, std::nullopt, std::nullopt, env.services());
    EXPECT_TRUE(model.history().empty());
    EXPECT_TRUE(model.recoveryNotes().empty());
    EXPECT_FALSE(model.message().has_value());
    EXPECT_EQ(model.historyPath(), env.historyPath()) << "the store lives in the data home's Tessyn folder";
    EXPECT_EQ(model.journal().path(), env.journalPath());
    EXPECT_TRUE(std::filesystem::is_directory(env.storeFolder())) << "the store folder is created at start";
    EXPECT_FALSE(std::filesystem::exists(env.historyPath())) << "nothing is saved without journal entries";
    ASSERT_EQ(model.maintenanceAppRoots().size(), 2u);
    EXPECT_EQ(model.maintenanceAppRoots()[0], "/Applications");
    EXPECT_EQ(model.maintenanceAppRoots()[1], env.home.root() + "/Applications");
    EXPECT_EQ(model.maintenanceHome(), FileEngine::canonicalURL(env.home.root()));
    EXPECT_TRUE(model.memory().has_value()) << "the first memory sample is taken while the model is built";
    EXPECT_EQ(model.filter(), "全部文件");
    EXPECT_EQ(model.sort(), "大小");
    EXPECT_EQ(model.threshold(), 500.0);
    EXPECT_FALSE(model.scanning() || model.processing() || model.detectingDuplicates() || model.maintenanceBusy());

    // Explicit arguments replace every default; the history's folder holds the journal.
    std::string custom = env.home.path("elsewhere/history.json");
    AppModel given(custom, std::vector<std::string>{"/opt/apps"}, env.home.path("other"), env.services());
    EXPECT_EQ(given.journal().path(), env.home.path("elsewhere/pending-actions.json"));
    EXPECT_EQ(given.maintenanceAppRoots(), std::vector<std::string>{"/opt/apps"});
    EXPECT_EQ(given.maintenanceHome(), env.home.path("other")) << "an unresolvable home is kept as given";
}

TEST(AppModelStartup, StoreFolderThatCannotBeCreated)
{
    ModelHome env;
    writeFile(env.home.path("blocker"), "a file where a folder should be");
    AppModel model(env.home.path("blocker/Tessyn/operations.json"), std::nullopt, std::nullopt, env.services());
    ASSERT_TRUE(model.message().has_value());
    EXPECT_EQ(*model.message(), "无法创建操作记录目录：Not a directory");
    EXPECT_TRUE(model.recoveryNotes().empty());
}

TEST(AppModelStartup, HistoryFileStates)
{
    {
        SCOPED_TRACE("an empty array");
        ModelHome env;
        writeFile(env.historyPath(), "[]");
        auto model = env.model();
        EXPECT_TRUE(model->history().empty());
        EXPECT_FALSE(model->message().has_value());
        model->clearHistory();
        EXPECT_TRUE(backups(env.storeFolder()).empty()) << "a readable file needs no backup";
    }
    {
        SCOPED_TRACE("an undecodable file");
        ModelHome env;
        writeFile(env.historyPath(), "{\"not\": \"a list\"}");
        auto model = env.model();
        EXPECT_TRUE(model->history().empty());
        ASSERT_TRUE(model->message().has_value());
        EXPECT_EQ(model->message()->rfind("操作记录无法读取；下次保存前会保留原文件副本。", 0), 0u) << *model->message();
        EXPECT_GT(model->message()->size(), std::string("操作记录无法读取；下次保存前会保留原文件副本。").size())
            << "the error's description follows directly";
        EXPECT_EQ(readFile(env.historyPath()), "{\"not\": \"a list\"}") << "start-up leaves the file alone";
        EXPECT_TRUE(backups(env.storeFolder()).empty());

        model->clearHistory();
        auto copies = backups(env.storeFolder());
        ASSERT_EQ(copies.size(), 1u) << "the next save keeps a copy of the unreadable file";
        EXPECT_EQ(readFile(copies[0]), "{\"not\": \"a list\"}");
        EXPECT_EQ(readFile(env.historyPath()), "[]");
        model->clearHistory();
        EXPECT_EQ(backups(env.storeFolder()).size(), 1u) << "only once";
    }
}

TEST(AppModelStartup, JournalMerge)
{
    {
        SCOPED_TRACE("one moving entry");
        ModelHome env;
        auto journal = env.journal();
        Operation op = movedRecord("/data/a.txt", 100, false);
        journal->record(op, OperationJournal::kMoving);
        auto model = env.model();
        EXPECT_EQ(model->recoveryNotes(), std::vector<std::string>{interruption("/data/a.txt")});
        EXPECT_TRUE(model->history().empty());
        EXPECT_FALSE(std::filesystem::exists(env.historyPath())) << "nothing is saved";
        op.orphanInfoChecked = true;
        EXPECT_EQ(journal->entries(), (std::vector<OperationJournal::Entry>{{op, OperationJournal::kMoving}}))
            << "the entry stays for the user to check, marked as cleaned up after";
    }
    {
        SCOPED_TRACE("a finished entry absent from the history goes first");
        ModelHome env;
        Operation old = movedRecord("/data/old.txt", 50);
        makeDirs(env.storeFolder());
        HistoryStore store(env.historyPath(), nullptr);
        store.history() = {old};
        ASSERT_FALSE(store.saveHistory(true).has_value());
        auto journal = env.journal();
        Operation fresh = movedRecord("/data/new.txt", 100);
        journal->record(fresh, OperationJournal::kFinished);
        auto model = env.model();
        EXPECT_EQ(historyPaths(model->history()), (std::vector<std::string>{"/data/new.txt", "/data/old.txt"}));
        EXPECT_EQ(model->recoveryNotes(), std::vector<std::string>{kMerged});
        EXPECT_EQ(journal->entries().size(), 0u) << "the save lets the journal drop what it settled";
        HistoryStore reread(env.historyPath(), nullptr);
        reread.load();
        EXPECT_EQ(reread.history(), model->history());
    }
    {
        SCOPED_TRACE("a finished entry with a known id replaces that record in place");
        ModelHome env;
        Operation first = movedRecord("/data/first.txt", 300);
        Operation second = movedRecord("/data/second.txt", 200);
        Operation third = movedRecord("/data/third.txt", 100);
        makeDirs(env.storeFolder());
        HistoryStore store(env.historyPath(), nullptr);
        store.history() = {first, second, third};
        ASSERT_FALSE(store.saveHistory(true).has_value());
        Operation restored = second;
        restored.restoredAt = 400;
        env.journal()->record(restored, OperationJournal::kFinished);
        auto model = env.model();
        ASSERT_EQ(model->history().size(), 3u);
        EXPECT_EQ(model->history()[1], restored);
        EXPECT_EQ(model->recoveryNotes(), std::vector<std::string>{kMerged});
    }
    {
        SCOPED_TRACE("mixed entries keep journal order, the save note last");
        ModelHome env;
        auto journal = env.journal();
        journal->record(movedRecord("/data/done1.txt", 10), OperationJournal::kFinished);
        journal->record(movedRecord("/data/restoring.txt", 20), OperationJournal::kRestoring);
        journal->record(movedRecord("/data/done2.txt", 30), OperationJournal::kFinished);
        journal->record(movedRecord("/data/moving.txt", 40, false), OperationJournal::kMoving);
        auto model = env.model();
        EXPECT_EQ(model->recoveryNotes(), (std::vector<std::string>{interruption("/data/restoring.txt"),
                                                                    interruption("/data/moving.txt"), kMerged}));
        EXPECT_EQ(historyPaths(model->history()), (std::vector<std::string>{"/data/done2.txt", "/data/done1.txt"}));
        auto left = journal->entries();
        ASSERT_EQ(left.size(), 2u) << "interrupted entries survive the save";
        EXPECT_EQ(left[0].operation.path, "/data/restoring.txt");
        EXPECT_EQ(left[1].operation.path, "/data/moving.txt");
    }
    {
        SCOPED_TRACE("merged entries older than the file's records, the save refused by another copy");
        ModelHome env;
        makeDirs(env.storeFolder());
        HistoryStore store(env.historyPath(), nullptr);
        store.history() = {movedRecord("/data/newer.txt", 300)};
        ASSERT_FALSE(store.saveHistory(true).has_value());
        env.journal()->record(movedRecord("/data/older.txt", 100), OperationJournal::kFinished);
        HeldLock held(env.historyPath());
        auto model = env.model();
        ASSERT_EQ(model->recoveryNotes().size(), 1u);
        EXPECT_EQ(model->recoveryNotes()[0].rfind("恢复记录保存失败：", 0), 0u) << model->recoveryNotes()[0];
        EXPECT_EQ(historyPaths(model->history()), (std::vector<std::string>{"/data/newer.txt", "/data/older.txt"}))
            << "listed newest first though nothing was saved";
    }
    {
        SCOPED_TRACE("the save of merged entries fails");
        ModelHome env;
        env.journal()->record(movedRecord("/data/x.txt", 10), OperationJournal::kFinished);
        std::filesystem::create_directory(env.historyPath()); // a folder cannot be replaced by the history
        auto model = env.model();
        ASSERT_EQ(model->recoveryNotes().size(), 1u);
        EXPECT_EQ(model->recoveryNotes()[0].rfind("恢复记录保存失败：", 0), 0u) << model->recoveryNotes()[0];
        EXPECT_EQ(historyPaths(model->history()), std::vector<std::string>{"/data/x.txt"}) << "kept in memory";
    }
}

// Hand-edited and hostile journals (ids repeated in the journal and in the history, receipts
// of records the history does not know, interrupted entries between them) merge as merging
// the entries one by one into the list would.
TEST(AppModelStartup, JournalMergeMatchesMergingEntryByEntry)
{
    std::mt19937 random(33);
    const char* phases[] = {"finished", "finished", "finished", "moving", "restoring"};
    for (int round = 0; round < 12; ++round) {
        SCOPED_TRACE(round);
        std::vector<std::string> ids(30);
        for (std::string& id : ids) id = newUUID();
        // Equal dates: the save's stable sort keeps the merged order.
        auto version = [&](const std::string& tag) {
            Operation op = movedRecord("/data/" + tag + ".txt", 700000000.0);
            op.id = ids[random() % ids.size()];
            return op;
        };
        std::vector<Operation> history;
        for (int i = 0; i < 20; ++i) history.push_back(version("h" + std::to_string(i)));

        std::vector<Operation> expected = history;
        std::vector<std::string> notes;
        nlohmann::json journal = nlohmann::json::array();
        for (int i = 0; i < 60; ++i) {
            const Operation op = version("j" + std::to_string(i));
            const std::string phase = phases[random() % 5];
            journal.push_back({{"operation", op}, {"phase", phase}});
            if (phase != "finished") {
                notes.push_back(interruption(op.path));
                continue;
            }
            auto same = std::find_if(expected.begin(), expected.end(), [&](const Operation& e) { return e.id == op.id; });
            if (same != expected.end()) *same = op;
            else expected.insert(expected.begin(), op);
        }
        notes.push_back(kMerged);

        ModelHome env;
        makeDirs(env.storeFolder());
        writeFile(env.historyPath(), encodeHistory(history));
        writeFile(env.journalPath(), dumpStoreJson(journal));
        auto model = env.model();
        EXPECT_EQ(model->history(), expected);
        EXPECT_EQ(model->recoveryNotes(), notes);
    }
}

TEST(AppModelStartup, UndecodableJournal)
{
    ModelHome env;
    writeFile(env.journalPath(), "[{\"phase\": \"moving\"}]");
    auto model = env.model();
    ASSERT_EQ(model->recoveryNotes().size(), 1u);
    const std::string prefix = "操作日志无法读取，已保留原文件；新的移入废纸篓操作将停止：";
    EXPECT_EQ(model->recoveryNotes()[0].rfind(prefix, 0), 0u) << model->recoveryNotes()[0];
    EXPECT_GT(model->recoveryNotes()[0].size(), prefix.size());
    EXPECT_EQ(readFile(env.journalPath()), "[{\"phase\": \"moving\"}]");
    EXPECT_FALSE(std::filesystem::exists(env.historyPath()));
}

// The text of an info file written just now (`written`), made to describe `item`.
static std::string describedNow(const std::string& written, const std::string& item)
{
    std::string text = readFile(written);
    size_t path = text.find("Path=") + 5;
    return text.replace(path, text.find('\n', path) - path, TrashInfo::encodePath(item));
}

// A move killed after its .trashinfo was written but before the rename: the start-up merge
// finds the item still at its place and removes the info file that described nothing, once.
// An info file of that name another tool is writing right now (it writes the info file first
// and moves its item after) is not the move's and stays.
TEST(AppModelStartup, InterruptedMoveLeavesNoBrokenTrashEntry)
{
    enum class Left { ByTheMove, Empty, AnotherToolsNow, AnotherToolsEmptyNow };
    struct Case {
        const char* name;
        Left left;
        bool removed;
    } cases[] = {
        {"the move's own", Left::ByTheMove, true},
        {"an empty one an older version left", Left::Empty, true},
        {"another tool's complete one", Left::AnotherToolsNow, false},
        {"another tool's empty one", Left::AnotherToolsEmptyNow, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ModelHome env;
        std::string file = writeFile(env.home.path("data/report.txt"), "report");
        const bool another = c.left == Left::AnotherToolsNow || c.left == Left::AnotherToolsEmptyNow;
        Operation prepared = movedRecord(file, dateNow() - (another ? 3600 : 0), false);
        prepared.trashPath.reset();
        prepared.resourceID = FileEngine::snapshot(file)->resourceID();
        prepared.detail = "准备移入废纸篓";
        env.journal()->record(prepared, OperationJournal::kMoving);
        // Another item's info file with its item in files/ stays untouched.
        std::string other = Trash::trashItem(writeFile(env.home.path("data/other.txt"), "other"));
        const std::string info = env.home.dataHome() + "/Trash/info", left = info + "/report.txt.trashinfo";
        if (c.left == Left::ByTheMove) ASSERT_TRUE(diesBeforeItsRename(file));
        else writeFile(left, c.left == Left::AnotherToolsNow ? describedNow(info + "/other.txt.trashinfo", file) : "");
        ASSERT_TRUE(std::filesystem::exists(left));
        const std::string text = readFile(left);

        auto model = env.model();
        EXPECT_EQ(model->recoveryNotes(), std::vector<std::string>{interruption(file)});
        EXPECT_EQ(std::filesystem::exists(left), !c.removed);
        EXPECT_TRUE(std::filesystem::exists(info + "/other.txt.trashinfo"));
        EXPECT_EQ(readFile(file), "report");
        EXPECT_EQ(readFile(other), "other");

        // The next start finds the entry dealt with: the note stays, the Trash is left alone.
        model.reset();
        writeFile(left, text);
        model = env.model();
        EXPECT_EQ(model->recoveryNotes(), std::vector<std::string>{interruption(file)});
        EXPECT_TRUE(std::filesystem::exists(left));
    }
}

// Many moves left "moving" and a full Trash: start-up reads the Trash once for all of them,
// opening only the info files whose names those moves could have claimed, each once; the
// rest of the Trash is listed, never read. Read once per move it took minutes.
TEST(AppModelStartup, InterruptedMovesReadTheTrashOnce)
{
    constexpr int kMoves = 40, kOthers = 300;
    ModelHome env;
    const std::string info = env.home.dataHome() + "/Trash/info", files = env.trashFiles();
    auto journal = env.journal();
    std::vector<OperationJournal::Entry> entries;
    std::set<std::string> orphans;
    // The moves ran when the orphans' DeletionDate= says.
    const double movedAt = *TrashInfo::deletionTimeOf(TrashInfo::contents("/", "2024-01-01T00:00:00")) - kReferenceDateOffset;
    for (int i = 0; i < kMoves; ++i) {
        std::string name = "f" + std::to_string(i) + ".txt";
        std::string file = writeFile(env.home.path("data/" + name), name);
        Operation prepared = movedRecord(file, movedAt, false);
        prepared.trashPath.reset();
        prepared.resourceID = FileEngine::snapshot(file)->resourceID();
        entries.push_back({prepared, OperationJournal::kMoving});
        if (i % 4 == 0) {
            writeFile(info + "/" + name + ".trashinfo", TrashInfo::contents(file, "2024-01-01T00:00:00"));
            setAge(info + "/" + name + ".trashinfo", dateNow() - movedAt);
            orphans.insert(name + ".trashinfo");
        }
    }
    journal->record(entries);
    for (int i = 0; i < kOthers; ++i) {
        // Appended, not "g" + ...: GCC 12 warns -Wrestrict on the insert that would make.
        std::string name = std::string("g").append(std::to_string(i)).append(".txt");
        writeFile(files + "/" + name, name);
        writeFile(info + "/" + name + ".trashinfo", TrashInfo::contents("/elsewhere/" + name, "2024-01-01T00:00:00"));
    }
    int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, info.c_str(), IN_OPEN), 0);

    auto model = env.model();
    EXPECT_EQ(model->recoveryNotes().size(), size_t{kMoves});
    std::map<std::string, int> opened;
    alignas(inotify_event) char buffer[65536];
    for (ssize_t n; (n = read(watch, buffer, sizeof buffer)) > 0;)
        for (ssize_t at = 0; at < n;) {
            auto* event = reinterpret_cast<inotify_event*>(buffer + at);
            if (event->len) ++opened[event->name];
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    close(watch);
    std::map<std::string, int> expected;
    for (const std::string& name : orphans) expected[name] = 1;
    EXPECT_EQ(opened, expected);
    for (const std::string& name : orphans) EXPECT_FALSE(std::filesystem::exists(info + "/" + name)) << name;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(info), {}), kOthers);
}

// A move killed after its info file got its name, while another running copy moved the same
// file: the item is in the Trash under the other copy's name, so the killed move's info file
// describes nothing and goes at the next start. It stays while the item is not known to be in
// the Trash: moved elsewhere, or only another file of that path is there.
TEST(AppModelStartup, InterruptedMoveOfAnItemAnotherCopyMovedLeavesNoBrokenEntry)
{
    struct Case {
        const char* name;
        const char* then; // what happened to the file after the kill
        bool removed;
    } cases[] = {
        {"moved to the Trash by another copy", "trashed", true},
        {"moved elsewhere", "elsewhere", false},
        {"replaced, and the new file trashed", "replaced", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ModelHome env;
        std::string file = writeFile(env.home.path("data/report.txt"), "report");
        Operation prepared = movedRecord(file, dateNow(), false);
        prepared.trashPath.reset();
        prepared.resourceID = FileEngine::snapshot(file)->resourceID();
        env.journal()->record(prepared, OperationJournal::kMoving);
        ASSERT_TRUE(diesBeforeItsRename(file));
        const std::string info = env.home.dataHome() + "/Trash/info", left = info + "/report.txt.trashinfo";
        ASSERT_TRUE(std::filesystem::exists(left));
        std::string other;
        if (std::string(c.then) == "elsewhere") {
            ASSERT_EQ(rename(file.c_str(), env.home.path("data/moved.txt").c_str()), 0);
        } else {
            if (std::string(c.then) == "replaced") {
                ASSERT_EQ(rename(file.c_str(), env.home.path("data/moved.txt").c_str()), 0);
                writeFile(file, "a new file at the path");
            }
            other = Trash::trashItem(file);
            ASSERT_EQ(other, env.trashFiles() + "/report 2.txt");
        }

        auto model = env.model();
        EXPECT_EQ(model->recoveryNotes(), std::vector<std::string>{interruption(file)});
        EXPECT_EQ(std::filesystem::exists(left), !c.removed);
        if (!other.empty()) {
            EXPECT_TRUE(std::filesystem::exists(info + "/report 2.txt.trashinfo"));
        }
    }
}
