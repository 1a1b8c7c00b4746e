#include "ModelTestSupport.h"

#include "HeldLock.h"
#include "engine/HistoryStore.h"
#include "engine/OperationJournal.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <regex>
#include <set>

namespace {

const char kProcessedTail[] = " 项。移入废纸篓不会立即释放磁盘空间。";
const char kRetryLine[] = "\n失败或未处理项仍保持选择，可核对原因后重试。";

std::string processed(int moved, int failed)
{
    return "已处理 " + std::to_string(moved) + " 项，失败 " + std::to_string(failed) + kProcessedTail;
}

const Operation* recordFor(const AppModel& model, const std::string& path)
{
    for (const Operation& op : model.history())
        if (op.path == path) return &op;
    return nullptr;
}

std::vector<Operation> storedHistory(const std::string& path) { return decodeHistory(readFile(path)); }

size_t journalLength(const std::string& path)
{
    std::string text = readFile(path);
    if (text.empty()) return 0;
    return nlohmann::json::parse(text).size();
}

void selectAll(AppModel& model)
{
    AppModel::PathSet all;
    for (const FileEntry& file : model.report()->files) all.insert(file.path);
    model.setSelection(all);
}

void runTrash(AppModel& model)
{
    model.trashSelected();
    ASSERT_TRUE(model.processing());
    ASSERT_TRUE(waitFor([&] { return !model.processing(); }, 120000));
}

void runRestore(AppModel& model, const Operation& record)
{
    model.restore(record);
    ASSERT_TRUE(waitFor([&] { return !model.processing(); }));
}

} // namespace

TEST(AppModelFileActions, TrashRunRestoreAndClear)
{
    ModelHome env;
    std::string tree = env.home.path("tree");
    std::string d1 = writeFile(tree + "/dup1.txt", "duplicate content");
    std::string d2 = writeFile(tree + "/dup2.txt", "duplicate content");
    std::string d3 = writeFile(tree + "/dup3.txt", "duplicate content");
    std::string plain = writeFile(tree + "/plain.txt", "plain");
    std::string changed = writeFile(tree + "/changed.txt", "changed later");
    std::string other = writeFile(tree + "/other.txt", "other");
    auto model = env.model(env.services(tree));

    model->trashSelected();
    EXPECT_FALSE(model->processing()) << "no folder chosen: nothing starts";

    chooseAndScan(*model);
    model->detectDuplicates();
    ASSERT_TRUE(waitFor([&] { return !model->detectingDuplicates(); }));
    ASSERT_EQ(model->duplicateReport()->groups.size(), 1u);
    std::string groupID = model->duplicateReport()->groups[0].id;

    model->setSelection({d1, plain, changed});
    writeFile(changed, "changed later, and longer now");
    model->trashSelected();
    ASSERT_TRUE(model->processing());
    EXPECT_EQ(model->actionProgress(), (ActionProgress{0, 3, "正在复核所选文件"}));
    model->scan();
    EXPECT_FALSE(model->scanning()) << "no scan while files are processed";
    model->trashSelected(); // refused while processing
    ASSERT_TRUE(waitFor([&] { return !model->processing(); }));

    EXPECT_EQ(model->message(), processed(2, 1) + kRetryLine);
    ASSERT_EQ(model->history().size(), 3u);
    EXPECT_EQ(storedHistory(env.historyPath()), model->history());
    EXPECT_TRUE(OperationJournal(env.journalPath()).entries().empty()) << "the save settled every entry";
    const Operation* refused = recordFor(*model, changed);
    ASSERT_TRUE(refused);
    EXPECT_FALSE(refused->success);
    EXPECT_TRUE(std::filesystem::exists(changed));
    for (const std::string& path : {d1, plain}) {
        const Operation* op = recordFor(*model, path);
        ASSERT_TRUE(op && op->success && op->trashPath) << path;
        EXPECT_FALSE(std::filesystem::exists(path));
        EXPECT_TRUE(std::filesystem::exists(*op->trashPath));
        EXPECT_EQ(op->trashPath->rfind(env.trashFiles() + "/", 0), 0u) << "the isolated home Trash";
    }

    // The report, the duplicate groups and the selection follow what really happened.
    std::set<std::string> left;
    int64_t total = 0;
    for (const FileEntry& file : model->report()->files) {
        left.insert(file.path);
        total += file.size;
    }
    EXPECT_EQ(left, (std::set<std::string>{d2, d3, changed, other}));
    EXPECT_EQ(model->report()->fileSizeTotal, total) << "statistics rebuilt";
    ASSERT_EQ(model->duplicateReport()->groups.size(), 1u) << "a group of three with one trashed stays";
    EXPECT_EQ(model->duplicateReport()->groups[0].id, groupID);
    EXPECT_EQ(model->duplicateReport()->groups[0].files.size(), 2u);
    EXPECT_EQ(model->selection(), AppModel::PathSet{changed}) << "the failed file stays selected";
    ASSERT_EQ(model->selectedFiles().size(), 1u);
    ASSERT_TRUE(waitFor([&] { return !model->filtering(); }));
    EXPECT_EQ(model->queryResults().files.size(), 4u);

    // One more copy trashed: the group is left with one file and disappears.
    model->setSelection({d2, other});
    runTrash(*model);
    EXPECT_EQ(model->message(), processed(2, 0)) << "only the first sentence when everything moved";
    EXPECT_TRUE(model->duplicateReport()->groups.empty());
    EXPECT_TRUE(model->selection().empty());

    // Restore one record.
    Operation moved = *recordFor(*model, plain);
    model->restore(moved);
    EXPECT_TRUE(model->processing());
    EXPECT_TRUE(model->restoring());
    ASSERT_TRUE(waitFor([&] { return !model->processing(); }));
    EXPECT_FALSE(model->restoring());
    EXPECT_EQ(model->message(), "已恢复到原位置。请重新扫描以更新文件列表。");
    EXPECT_TRUE(std::filesystem::exists(plain));
    const Operation* stamped = recordFor(*model, plain);
    ASSERT_TRUE(stamped && stamped->restoredAt);
    EXPECT_EQ(storedHistory(env.historyPath()), model->history());

    // A record already restored is refused without a trace.
    QSignalSpy processing(model.get(), &AppModel::processingChanged);
    model->setMessage(std::nullopt);
    model->restore(*stamped);
    EXPECT_EQ(processing.count(), 0);
    EXPECT_FALSE(model->message().has_value());
    // A stale copy of it is refused by the restore itself.
    model->restore(moved);
    ASSERT_TRUE(waitFor([&] { return !model->processing(); }));
    EXPECT_EQ(model->message(), "恢复失败：废纸篓来源不存在或已被替换为符号链接。");

    // Nothing selected still runs and reports zero.
    model->setSelection({});
    runTrash(*model);
    EXPECT_EQ(model->message(), processed(0, 0));

    model->clearHistory();
    EXPECT_TRUE(model->history().empty());
    EXPECT_EQ(readFile(env.historyPath()), "[]");
    EXPECT_EQ(model->message(), processed(0, 0)) << "no message on success";
}

TEST(AppModelFileActions, StoppedRunAndSaveFailure)
{
    ModelHome env;
    auto model = env.scannedModel(400);
    std::string tree = env.tree();
    selectAll(*model);
    model->trashSelected();
    model->cancelAction();
    ASSERT_TRUE(waitFor([&] { return !model->processing(); }));
    std::smatch parts;
    std::string text = model->message().value_or("");
    ASSERT_TRUE(std::regex_match(text, parts,
                                 std::regex("已处理 (\\d+) 项，失败 (\\d+) 项。移入废纸篓不会立即释放磁盘空间。\n"
                                            "已停止后续处理，(\\d+) 项未处理。\n"
                                            "失败或未处理项仍保持选择，可核对原因后重试。")))
        << text;
    int moved = std::stoi(parts[1]);
    int failed = std::stoi(parts[2]);
    int unprocessed = std::stoi(parts[3]);
    EXPECT_EQ(moved + failed + unprocessed, 400);
    EXPECT_GT(unprocessed, 0);
    EXPECT_EQ(static_cast<int>(model->selection().size()), 400 - moved);

    // The history cannot be saved: the files stay moved, the records stay in memory and the
    // journal keeps their receipts for the next start.
    model->setSelection({tree + "/f00000.txt", tree + "/f00001.txt"});
    std::vector<Operation> before = model->history();
    {
        HeldLock held(env.historyPath());
        runTrash(*model);
    }
    EXPECT_EQ(model->message(), processed(2, 0) + "\n操作记录保存失败：Resource temporarily unavailable");
    EXPECT_EQ(model->history().size(), before.size() + 2);
    EXPECT_FALSE(std::filesystem::exists(tree + "/f00000.txt"));
    EXPECT_EQ(OperationJournal(env.journalPath()).entries().size(), 2u);
    model.reset();
    auto next = env.model();
    EXPECT_EQ(next->recoveryNotes(), std::vector<std::string>{"已从操作回执补全记录；请核对后再恢复。"});
    EXPECT_TRUE(recordFor(*next, tree + "/f00000.txt"));
    EXPECT_EQ(next->history().size(), before.size() + 2);
}

TEST(AppModelFileActions, AcknowledgeInterruptedActions)
{
    ModelHome env;
    auto journal = env.journal();
    journal->record(movedRecord("/data/moving.txt", 10, false), OperationJournal::kMoving);
    journal->record(movedRecord("/data/done.txt", 20), OperationJournal::kFinished);
    auto model = env.model();
    ASSERT_EQ(model->recoveryNotes().size(), 2u);

    model->refreshInstalledApps();
    ASSERT_TRUE(model->maintenanceBusy());
    model->acknowledgeInterruptedActions();
    EXPECT_EQ(model->recoveryNotes().size(), 2u) << "refused while a listing runs";
    ASSERT_TRUE(waitFor([&] { return !model->maintenanceScanning(); }));

    model->acknowledgeInterruptedActions();
    EXPECT_TRUE(model->recoveryNotes().empty());
    EXPECT_EQ(model->message(), "已清除已核对的中断提示，文件未改变。");
    EXPECT_TRUE(journal->entries().empty());

    // A journal that cannot be read keeps the notes.
    ModelHome broken;
    broken.journal()->record(movedRecord("/data/x.txt", 10, false), OperationJournal::kMoving);
    auto stuck = broken.model();
    ASSERT_EQ(stuck->recoveryNotes().size(), 1u);
    writeFile(broken.journalPath(), "garbage");
    stuck->acknowledgeInterruptedActions();
    EXPECT_EQ(stuck->recoveryNotes().size(), 1u);
    EXPECT_EQ(stuck->message()->rfind("无法清除中断日志，原文件已保留：", 0), 0u) << *stuck->message();
    EXPECT_EQ(readFile(broken.journalPath()), "garbage");
}

// With no history file yet, the first run's records are listed and saved newest first, as
// every later run's are: by the model here, and by the program in a fresh home.
TEST(AppModelFileActions, FirstRunHistoryIsNewestFirst)
{
    auto expectNewestFirst = [](const std::vector<Operation>& history, const std::string& where) {
        ASSERT_EQ(history.size(), 5u) << where;
        for (size_t i = 1; i < history.size(); ++i)
            EXPECT_GE(history[i - 1].date, history[i].date) << where << ", record " << i;
        EXPECT_GT(history.front().date, history.back().date) << where << ": one move after another";
    };
    {
        ModelHome env;
        auto model = env.scannedModel(5);
        selectAll(*model);
        std::vector<std::vector<Operation>> published;
        QObject::connect(model.get(), &AppModel::historyChanged, model.get(),
                         [&] { published.push_back(model->history()); });
        ASSERT_FALSE(std::filesystem::exists(env.historyPath()));
        runTrash(*model);
        ASSERT_FALSE(published.empty());
        for (const auto& history : published) expectNewestFirst(history, "published");
        expectNewestFirst(storedHistory(env.historyPath()), "saved");
        EXPECT_EQ(storedHistory(env.historyPath()), model->history());
    }
    {
        ModelHome env;
        makeFiles(env.tree(), 5);
        CommandResult run = runCommand(shellQuote(TESSYN_BENCH_BIN) + " workflow " + shellQuote(env.tree()) +
                                       " --select all 2>&1");
        ASSERT_EQ(run.status, 0) << run.output;
        expectNewestFirst(storedHistory(env.historyPath()), "written by tessyn-bench workflow");
    }
}

// A long run keeps the journal short: the finished moves are settled into the history while
// the run goes on, and the history ends newest first.
TEST(AppModelFileActions, LongRunKeepsTheJournalShort)
{
    ModelHome env;
    std::string tree = env.home.path("tree");
    makeFiles(tree + "/first", 1000, "a");
    makeFiles(tree + "/second", 1000, "b");
    auto model = env.model(env.services(tree + "/first"));
    chooseAndScan(*model);
    selectAll(*model);
    size_t longest = 0;
    QObject::connect(model.get(), &AppModel::actionProgressChanged, model.get(),
                     [&] { longest = std::max(longest, journalLength(env.journalPath())); });
    runTrash(*model);
    EXPECT_EQ(model->message(), processed(1000, 0));
    EXPECT_LT(longest, 300u) << "the journal does not grow with the run";
    EXPECT_TRUE(OperationJournal(env.journalPath()).entries().empty());
    ASSERT_EQ(model->history().size(), 1000u);
    // No history file before the run: the final save still merges (another copy may have
    // written meanwhile), so the records end newest first.
    for (size_t i = 1; i < model->history().size(); ++i)
        ASSERT_GE(model->history()[i - 1].date, model->history()[i].date) << i;
    EXPECT_EQ(storedHistory(env.historyPath()), model->history());

    // With a history file the save sorts newest first, as one save at the end would.
    model.reset();
    model = env.model(env.services(tree + "/second"));
    chooseAndScan(*model);
    selectAll(*model);
    longest = 0;
    QObject::connect(model.get(), &AppModel::actionProgressChanged, model.get(),
                     [&] { longest = std::max(longest, journalLength(env.journalPath())); });
    runTrash(*model);
    EXPECT_LT(longest, 300u);
    ASSERT_EQ(model->history().size(), 2000u);
    for (size_t i = 1; i < model->history().size(); ++i)
        ASSERT_GE(model->history()[i - 1].date, model->history()[i].date) << i;
    std::set<std::string> ids;
    for (const Operation& op : model->history()) ids.insert(op.id);
    EXPECT_EQ(ids.size(), 2000u) << "each record once";
    EXPECT_EQ(storedHistory(env.historyPath()), model->history());
}

TEST(AppModelFileActions, ClearingTheHistoryDuringALongRunKeepsSettledMoves)
{
    ModelHome env;
    auto model = env.scannedModel(600, "c");
    selectAll(*model);
    std::string trashFiles = env.home.dataHome() + "/Trash/files";
    bool cleared = false;
    size_t moved = 0, accounted = 0;
    QObject::connect(model.get(), &AppModel::actionProgressChanged, model.get(), [&] {
        if (cleared || model->actionProgress().completed < 300) return;
        cleared = true;
        model->clearHistory();
        // Were the program to stop here, every file already in the Trash must still be
        // found in the history file or in the journal (the engine may hold the journal's
        // lock right now, so its file is read directly: it is only ever replaced whole).
        for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(trashFiles)) ++moved;
        accounted = storedHistory(env.historyPath()).size() + journalLength(env.journalPath());
    });
    runTrash(*model);
    ASSERT_TRUE(cleared);
    EXPECT_GE(accounted, moved) << "moves settled at a checkpoint survive a clear";
    EXPECT_EQ(model->history().size(), 600u) << "the run's records are published after the clear";
    EXPECT_EQ(storedHistory(env.historyPath()).size(), 600u);
}

TEST(AppModelFileActions, LongRunAfterAnUnreadableHistory)
{
    ModelHome env;
    std::string tree = env.home.path("tree");
    makeFiles(tree, 300);
    writeFile(env.historyPath(), "unreadable");
    auto model = env.model(env.services(tree));
    ASSERT_TRUE(model->message().has_value());
    chooseAndScan(*model);
    selectAll(*model);
    runTrash(*model);
    EXPECT_EQ(model->message(), processed(300, 0));
    size_t copies = 0;
    for (const auto& item : std::filesystem::directory_iterator(env.storeFolder()))
        if (item.path().filename().string().rfind("operations-unreadable-", 0) == 0) {
            ++copies;
            EXPECT_EQ(readFile(item.path()), "unreadable");
        }
    EXPECT_EQ(copies, 1u);
    ASSERT_EQ(model->history().size(), 300u);
    for (size_t i = 1; i < model->history().size(); ++i)
        ASSERT_GE(model->history()[i - 1].date, model->history()[i].date) << "the order of a merging save";
    EXPECT_EQ(storedHistory(env.historyPath()), model->history());
}

// Another running copy saves a record while a long run, started without a history file,
// has already checkpointed: the run's final save merges it instead of replacing the file.
TEST(AppModelFileActions, RecordsOfAnotherCopyDuringALongRunAreKept)
{
    ModelHome env;
    auto model = env.scannedModel(400, "d");
    ASSERT_FALSE(std::filesystem::exists(env.historyPath()));
    selectAll(*model);
    Operation theirs = movedRecord("/elsewhere/theirs.txt", 900000000.0);
    bool saved = false;
    QObject::connect(model.get(), &AppModel::actionProgressChanged, model.get(), [&] {
        // After the first checkpoint the history file exists; the other copy merges into it.
        if (saved || !std::filesystem::exists(env.historyPath())) return;
        HistoryStore other(env.historyPath(), nullptr);
        ASSERT_EQ(other.load(), std::nullopt);
        other.history().insert(other.history().begin(), theirs);
        saved = other.saveHistory(false) == std::nullopt;
    });
    runTrash(*model);
    ASSERT_TRUE(saved) << "the run checkpointed and the other copy saved";
    EXPECT_EQ(model->message(), processed(400, 0));
    std::vector<Operation> stored = storedHistory(env.historyPath());
    EXPECT_EQ(stored.size(), 401u);
    EXPECT_TRUE(std::any_of(stored.begin(), stored.end(), [&](const Operation& op) { return op.id == theirs.id; }))
        << "the other copy's record survives";
    EXPECT_EQ(stored, model->history());
}

// A clear refused by either store's lock writes nothing and says so.
TEST(AppModelFileActions, SaveMessagesSayWhetherTheHistoryWasWritten)
{
    ModelHome env;
    auto model = env.scannedModel(3);
    selectAll(*model);
    runTrash(*model);
    ASSERT_EQ(model->history().size(), 3u);
    std::string busy = std::system_error(EWOULDBLOCK, std::generic_category()).code().message();

    struct Case {
        const char* name;
        std::string lockedStore;
        std::string message;
        size_t stored; // records in the file afterwards
    } cases[] = {
        // A clear drops the journal's receipts before it writes: refused there, it writes nothing.
        {"journal busy", env.journalPath(), "记录清除保存失败：" + busy, 1},
        {"history busy", env.historyPath(), "记录清除保存失败：" + busy, 1},
    };
    for (const Case& c : cases) {
        // A record written behind the model's back (another copy's, which a clear keeps).
        writeFile(env.historyPath(), encodeHistory({movedRecord("/x", 1)}));
        model->setMessage(std::nullopt);
        {
            HeldLock held(c.lockedStore);
            model->clearHistory();
        }
        EXPECT_EQ(model->message(), c.message) << c.name;
        EXPECT_EQ(storedHistory(env.historyPath()).size(), c.stored) << c.name;
    }
}

// While the history is small, a run saves it every 64 files and no sooner: the journal holds
// at most that many moves, and the history is not rewritten after every file.
TEST(AppModelFileActions, ASmallHistoryIsSavedEvery64Files)
{
    struct Case {
        int files;
        int saves; // checkpoints and the end's save
    } cases[] = {{63, 1}, {64, 2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.files);
        ModelHome env;
        auto model = env.scannedModel(c.files);
        selectAll(*model);
        makeDirs(env.storeFolder());
        HistorySaves saves(env.storeFolder());
        runTrash(*model);
        EXPECT_EQ(model->message(), processed(c.files, 0));
        EXPECT_EQ(saves.count(), c.saves);
    }
}

// Checkpoints the history lock refused leave their moves in the journal, where the next
// checkpoint finds them again; the file must still hold each record once at every moment,
// since a crash then would leave it as it is.
TEST(AppModelFileActions, CheckpointsAfterRefusedSavesWriteEachRecordOnce)
{
    ModelHome env;
    auto model = env.scannedModel(1000, "e");
    selectAll(*model);
    auto held = std::make_unique<HeldLock>(env.historyPath());
    size_t checkedAfterRelease = 0, mostRepeated = 0;
    QObject::connect(model.get(), &AppModel::actionProgressChanged, model.get(), [&] {
        // Checkpoints are posted before the progress that follows them: by 200 moves three
        // have been refused.
        if (held && model->actionProgress().completed >= 200) held.reset();
        if (held || !std::filesystem::exists(env.historyPath())) return;
        std::vector<Operation> stored = storedHistory(env.historyPath());
        std::set<std::string> ids;
        for (const Operation& op : stored) ids.insert(op.id);
        mostRepeated = std::max(mostRepeated, stored.size() - ids.size());
        ++checkedAfterRelease;
    });
    runTrash(*model);
    ASSERT_FALSE(held) << "the lock was released during the run";
    ASSERT_GT(checkedAfterRelease, 0u) << "a checkpoint wrote the history after the release";
    EXPECT_EQ(mostRepeated, 0u) << "no record is written twice";
    EXPECT_EQ(model->message(), processed(1000, 0));
    EXPECT_EQ(storedHistory(env.historyPath()), model->history());
}

// Copy X restores while the history is held, so only its journal knows; copy Y, which still
// lists the record as in the Trash, then restores it or saves. After a restart the record
// shows the restore.
TEST(AppModelFileActions, AnotherCopyCannotEraseARestoreReceipt)
{
    struct Case {
        const char* name;
        bool yRestores, ySaves;
    } cases[] = {{"Y restores", true, false}, {"Y saves", false, true}, {"Y restores, then saves", true, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ModelHome env;
        auto x = env.scannedModel(1);
        selectAll(*x);
        runTrash(*x);
        const Operation moved = x->history().at(0);
        auto y = env.model();
        ASSERT_EQ(y->history(), x->history());
        {
            HeldLock held(env.historyPath());
            ASSERT_NO_FATAL_FAILURE(runRestore(*x, moved));
            EXPECT_NE(x->message().value_or("").find("\n记录保存失败："), std::string::npos);
        }
        ASSERT_TRUE(std::filesystem::exists(moved.path));
        if (c.yRestores) {
            ASSERT_NO_FATAL_FAILURE(runRestore(*y, y->history()[0]));
            EXPECT_EQ(y->message(), "恢复失败：废纸篓来源不存在或已被替换为符号链接。");
        }
        if (c.ySaves) {
            EXPECT_EQ(y->saveHistory(false), std::nullopt);
        }
        x.reset();
        y.reset();

        auto restarted = env.model();
        const Operation* record = recordFor(*restarted, moved.path);
        ASSERT_TRUE(record);
        EXPECT_TRUE(record->restoredAt);
        EXPECT_EQ(restarted->recoveryNotes(), std::vector<std::string>{"已从操作回执补全记录；请核对后再恢复。"});
        EXPECT_TRUE(std::filesystem::exists(moved.path));
    }
}

// A restore refused because the old place is taken changed nothing and leaves nothing in the
// journal: the next start reports nothing, and a history cleared meanwhile stays cleared.
TEST(AppModelFileActions, ARefusedRestoreLeavesNothingForTheNextStart)
{
    for (bool clear : {false, true}) {
        SCOPED_TRACE(clear ? "history cleared" : "history kept");
        ModelHome env;
        auto model = env.scannedModel(1);
        selectAll(*model);
        runTrash(*model);
        const Operation moved = model->history()[0];
        writeFile(moved.path, "taken");
        ASSERT_NO_FATAL_FAILURE(runRestore(*model, moved));
        EXPECT_EQ(model->message(), "恢复失败：原位置已有文件，恢复不会覆盖它。请在 Finder 中选择其他位置。");
        EXPECT_TRUE(OperationJournal(env.journalPath()).entries().empty());
        if (clear) model->clearHistory();
        model.reset();

        auto restarted = env.model();
        EXPECT_TRUE(restarted->recoveryNotes().empty());
        EXPECT_EQ(restarted->history(), clear ? std::vector<Operation>{} : std::vector<Operation>{moved});
        EXPECT_EQ(readFile(moved.path), "taken");
        EXPECT_TRUE(std::filesystem::exists(*moved.trashPath));
    }
}

// A file moved to the Trash, put back by a file manager and moved again lands in the same
// place of the Trash with the same identity: the older record, still listed in the Trash,
// restores the very item the newer one moved. Both then show the restore, also after a restart.
TEST(AppModelFileActions, RestoringAnOlderRecordOfTheSameItemSettlesTheNewerToo)
{
    ModelHome env;
    auto model = env.scannedModel(1);
    selectAll(*model);
    runTrash(*model);
    const Operation older = model->history()[0];
    ASSERT_TRUE(older.success && older.trashPath);
    // As a file manager restores: the item back, its info file gone.
    ASSERT_EQ(rename(older.trashPath->c_str(), older.path.c_str()), 0);
    const std::string trash = env.trashFiles().substr(0, env.trashFiles().rfind('/'));
    ASSERT_TRUE(std::filesystem::remove(trash + "/info/" + older.trashPath->substr(env.trashFiles().size() + 1) +
                                        ".trashinfo"));
    chooseAndScan(*model);
    selectAll(*model);
    runTrash(*model);
    ASSERT_EQ(model->history().size(), 2u);
    const Operation newer = model->history()[0];
    ASSERT_EQ(newer.trashPath, older.trashPath);
    ASSERT_EQ(newer.resourceID, older.resourceID);

    model->restore(older);
    ASSERT_TRUE(waitFor([&] { return !model->processing(); }));
    EXPECT_EQ(model->message(), "已恢复到原位置。请重新扫描以更新文件列表。");
    EXPECT_TRUE(std::filesystem::exists(older.path));
    model.reset();
    auto restarted = env.model();
    EXPECT_TRUE(restarted->recoveryNotes().empty());
    ASSERT_EQ(restarted->history().size(), 2u);
    for (const Operation& record : restarted->history())
        EXPECT_TRUE(record.restoredAt) << (record.id == newer.id ? "the newer record" : "the older record");
}

// Another running copy holds the journal's lock for one write at a time: the history save
// after a restore, which lets the journal drop its receipt, waits for it as the restore's own
// journal writes do.
TEST(AppModelFileActions, ARestoreBesideAJournalWriterSucceedsWithoutANote)
{
    ModelHome env;
    auto model = env.scannedModel(1);
    selectAll(*model);
    runTrash(*model);
    model->restore(model->history()[0]);
    // The receipt is written and the outcome waits in the queue: the writer comes right before the save.
    ASSERT_TRUE(waitForWorkersEnded());
    HeldLock writer(env.journalPath(), std::chrono::milliseconds(300));
    ASSERT_TRUE(waitFor([&] { return !model->processing(); }));
    EXPECT_EQ(model->message(), "已恢复到原位置。请重新扫描以更新文件列表。");
    EXPECT_TRUE(OperationJournal(env.journalPath()).entries().empty());
}

// After a clear no file in the store folder holds a cleared record: not the spares writes keep,
// a temporary a killed writer left, nor a receipt the next start would merge back.
TEST(AppModelFileActions, AClearedRecordIsInNoStoreFile)
{
    ModelHome env;
    auto model = env.scannedModel(3);
    selectAll(*model);
    runTrash(*model);
    ASSERT_NO_FATAL_FAILURE(runRestore(*model, model->history()[0]));
    std::vector<std::string> cleared = historyPaths(model->history());
    Operation receipt = model->history()[1];
    receipt.restoredAt = receipt.date + 1; // a restore another copy did
    OperationJournal(env.journalPath()).record(receipt, OperationJournal::kFinished);
    writeFile(env.storeFolder() + "/.operations.json.tmp-Ab12Cd", encodeHistory(model->history()));

    auto holding = [&] {
        std::vector<std::string> found;
        for (const auto& file : std::filesystem::directory_iterator(env.storeFolder())) {
            std::string text = readFile(file.path());
            for (const std::string& path : cleared)
                if (text.find(path) != std::string::npos) found.push_back(file.path().filename().string());
        }
        return found;
    };
    model->setMessage(std::nullopt);
    model->clearHistory();
    EXPECT_EQ(model->message(), std::nullopt);
    EXPECT_EQ(holding(), std::vector<std::string>{});
    model.reset();
    auto restarted = env.model();
    EXPECT_TRUE(restarted->history().empty());
    EXPECT_EQ(holding(), std::vector<std::string>{}) << "after a restart";
}
