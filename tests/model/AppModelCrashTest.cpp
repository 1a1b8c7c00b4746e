#include "ModelTestSupport.h"

#include "ChildProcess.h"
#include "engine/HistoryStore.h"
#include "engine/OperationJournal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <sys/wait.h>
#include <thread>

namespace {

std::string percentDecode(const std::string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

// Original path of every item in the home Trash, by its path in files/.
std::map<std::string, std::string> trashedItems(const std::string& trash)
{
    std::map<std::string, std::string> items;
    if (!std::filesystem::exists(trash + "/info")) return items;
    for (const auto& info : std::filesystem::directory_iterator(trash + "/info")) {
        std::string text = readFile(info.path());
        auto at = text.find("\nPath=");
        if (at == std::string::npos) continue;
        auto end = text.find('\n', at + 6);
        std::string name = info.path().filename().string();
        name = name.substr(0, name.size() - std::string(".trashinfo").size());
        items[trash + "/files/" + name] = percentDecode(text.substr(at + 6, end - at - 6));
    }
    return items;
}

// Paths named by the interruption notes that `tessyn-bench start` printed.
std::set<std::string> interruptedPaths(const std::string& output)
{
    std::set<std::string> paths;
    const std::string prefix = "note: 操作中断：";
    const std::string suffix = "。状态未确认";
    size_t at = 0;
    while ((at = output.find(prefix, at)) != std::string::npos) {
        size_t start = at + prefix.size();
        size_t end = output.find(suffix, start);
        paths.insert(output.substr(start, end - start));
        at = end;
    }
    return paths;
}

} // namespace

// A workflow killed at any moment leaves every file accounted for: at its place, or in the
// Trash with a history record or an interruption note, and both stores readable.
TEST(AppModelCrash, KilledWorkflowLosesNothing)
{
    ModelHome env;
    std::string tree = env.home.path("tree");
    std::vector<std::string> files;
    for (int d = 0; d < 10; ++d) {
        auto made = makeFiles(tree + "/d" + std::to_string(d), 300);
        files.insert(files.end(), made.begin(), made.end());
    }
    std::string trash = env.home.dataHome() + "/Trash";
    unsigned seed = std::random_device{}();
    std::mt19937 random(seed);
    SCOPED_TRACE("seed " + std::to_string(seed));

    // Ten kills, spread over a run that moves about a file a millisecond, then a full run.
    constexpr int kKills = 10;
    for (int round = 0; round <= kKills; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        bool finish = round == kKills;
        int delay = std::uniform_int_distribution<int>(20, 900)(random);
        {
            ChildProcess child(TESSYN_BENCH_BIN, {"workflow", tree, "--select", "all"});
            if (finish) {
                int status = child.wait(300);
                ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(delay)); // the moment of the kill
                kill(child.pid(), SIGKILL);
                child.wait(30);
            }
        }
        CommandResult start = runCommand(shellQuote(TESSYN_BENCH_BIN) + " start");
        ASSERT_EQ(start.status, 0) << start.output;
        EXPECT_EQ(start.output.find("message: 操作记录无法读取"), std::string::npos) << start.output;
        EXPECT_EQ(start.output.find("操作日志无法读取"), std::string::npos) << start.output;
        EXPECT_EQ(start.output.find("恢复记录保存失败"), std::string::npos) << start.output;

        std::vector<Operation> history;
        if (std::filesystem::exists(env.historyPath())) {
            ASSERT_NO_THROW(history = decodeHistory(readFile(env.historyPath())));
        }
        std::vector<OperationJournal::Entry> pending;
        ASSERT_NO_THROW(pending = OperationJournal(env.journalPath()).entries());
        for (const auto& entry : pending)
            EXPECT_NE(entry.phase, OperationJournal::kFinished) << "start-up settled every finished entry";
        // Each killed run leaves at most its one move under way unsettled.
        EXPECT_LE(pending.size(), static_cast<size_t>(round + (finish ? 0 : 1)));

        std::map<std::string, const Operation*> movedRecords;
        for (const Operation& op : history)
            if (op.success && op.trashPath) movedRecords[op.path] = &op;
        std::set<std::string> noted = interruptedPaths(start.output);
        std::map<std::string, std::string> inTrash = trashedItems(trash);
        std::map<std::string, std::string> trashByOrigin;
        for (const auto& [item, origin] : inTrash) trashByOrigin[origin] = item;

        size_t present = 0, recorded = 0, interrupted = 0;
        for (const std::string& path : files) {
            if (std::filesystem::exists(path)) {
                ++present;
                EXPECT_FALSE(movedRecords.count(path)) << path << " is in place but recorded as moved";
            } else if (movedRecords.count(path)) {
                ++recorded;
                EXPECT_TRUE(std::filesystem::exists(*movedRecords[path]->trashPath)) << path;
            } else {
                ++interrupted;
                EXPECT_TRUE(noted.count(path)) << path << " left its place without a record or a note";
                EXPECT_TRUE(trashByOrigin.count(path)) << path << " is nowhere";
            }
        }
        // Nothing reached the Trash unaccounted for.
        for (const auto& [item, origin] : inTrash)
            EXPECT_TRUE(movedRecords.count(origin) || noted.count(origin)) << item;
        std::printf("round %d: killed after %d ms: %zu in place, %zu recorded, %zu interrupted\n", round,
                    finish ? -1 : delay, present, recorded, interrupted);
        if (finish) {
            EXPECT_EQ(present, 0u);
        }
        if (HasFailure()) return;
    }
}

// A kill right after the info file got its name, or right before the rename, leaves nothing
// that the next start does not remove: the file stays in place, the Trash holds no entry,
// and trash-list reads it without a parse error.
TEST(AppModelCrash, KillAtEachStepOfAMoveLeavesAReadableTrash)
{
    struct Case {
        const char* step;
        const char* drafts; // "named": as on a file system without unnamed files
    } cases[] = {{"info-named", "unnamed"}, {"move", "unnamed"}, {"info-named", "named"}, {"move", "named"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.step) + " " + c.drafts);
        ModelHome env;
        env.journal();
        const std::string file = writeFile(env.tree() + "/f 1.txt", "content");
        const ino_t inode = inodeOf(file);
        const std::string info = env.home.dataHome() + "/Trash/info";
        {
            ChildProcess child(fixturePath("trash_kill"), {c.step, c.drafts, env.journalPath(), file});
            int status = child.wait(60);
            ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "status " << status;
        }
        ASSERT_FALSE(std::filesystem::is_empty(info)) << "the kill left an info file behind";

        auto model = env.model();
        ASSERT_EQ(model->recoveryNotes().size(), 1u);
        EXPECT_NE(model->recoveryNotes()[0].find(file), std::string::npos) << model->recoveryNotes()[0];
        EXPECT_EQ(inodeOf(file), inode) << "the file never left its place";
        EXPECT_TRUE(std::filesystem::is_empty(info)) << "start-up removes what the kill left";
        EXPECT_TRUE(std::filesystem::is_empty(env.trashFiles()));

        CommandResult list = runCommand("trash-list 2>&1");
        EXPECT_EQ(list.status, 0);
        // Other volumes' Trash folders may list items of their own; this home's Trash lists none.
        EXPECT_EQ(list.output.find("Parse Error"), std::string::npos) << list.output;
        EXPECT_EQ(list.output.find(env.home.root()), std::string::npos) << list.output;
    }
}

// A restore killed right after its rename, before its receipt: the next start says the
// restore was interrupted, also when the journal still held the move's receipt (kept rather
// than replaced by "restoring"), so the record is never silently shown in the Trash.
TEST(AppModelCrash, RestoreKilledAfterItsRenameIsReported)
{
    for (const char* step : {"restored", "restored-settled"}) {
        SCOPED_TRACE(step);
        ModelHome env;
        env.journal();
        const std::string file = writeFile(env.tree() + "/f 1.txt", "content");
        const ino_t inode = inodeOf(file);
        {
            ChildProcess child(fixturePath("trash_kill"), {step, "unnamed", env.journalPath(), file});
            int status = child.wait(60);
            ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "status " << status;
        }
        ASSERT_EQ(inodeOf(file), inode) << "the item is back";

        auto model = env.model();
        const auto& notes = model->recoveryNotes();
        EXPECT_TRUE(std::any_of(notes.begin(), notes.end(), [&](const std::string& note) {
            return note.starts_with("操作中断：" + file + "。");
        })) << "notes: " << notes.size();
        EXPECT_TRUE(std::filesystem::is_empty(env.trashFiles()));
    }
}
