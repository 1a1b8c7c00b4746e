#include "engine/OperationJournal.h"

#include "HeldLock.h"
#include "TestSupport.h"
#include "engine/HistoryStore.h"
#include "engine/Uuid.h"
#include "platform/Errors.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <future>
#include <nlohmann/json.hpp>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>

using nlohmann::json;

namespace {

// The text of the failure `body` throws, or "no failure".
std::string failureOf(const std::function<void()>& body)
{
    try {
        body();
    } catch (const std::exception& error) {
        return errorDescription(error);
    }
    return "no failure";
}

Operation makeOperation(const std::string& path, double date = 800000000.25)
{
    Operation op;
    op.id = newUUID();
    op.date = date;
    op.path = path;
    op.size = 10;
    op.detail = "准备移入废纸篓";
    op.resourceID = "2049:77";
    op.modified = 799999999.123456789;
    return op;
}

std::vector<std::string> phases(const std::vector<OperationJournal::Entry>& entries)
{
    std::vector<std::string> out;
    for (const auto& e : entries) out.push_back(e.operation.path + ":" + e.phase);
    return out;
}

bool exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

using Phases = std::vector<std::string>;

} // namespace

TEST(OperationJournal, FileFormatAndFirstUse)
{
    TempHome home;
    makeDirs(home.path("Tessyn"));
    const std::string file = home.path("Tessyn/pending-actions.json");

    // No file: entries() is empty and does not even create the lock file.
    OperationJournal journal(file);
    EXPECT_TRUE(journal.entries().empty());
    EXPECT_FALSE(exists(file + ".lock"));
    EXPECT_FALSE(exists(file));

    // record creates the file with one entry, as a compact array of {operation, phase}.
    Operation a = makeOperation("/data/a.txt");
    a.id = "0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d";
    journal.record(a, OperationJournal::kMoving);
    std::string text = readFile(file);
    EXPECT_EQ(text.find('\n'), std::string::npos) << text;
    EXPECT_EQ(text.find(": "), std::string::npos) << text;
    json list = json::parse(text);
    ASSERT_TRUE(list.is_array());
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].size(), 2u);
    EXPECT_EQ(list[0]["phase"], "moving");
    EXPECT_EQ(list[0]["operation"]["id"], "0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D");
    EXPECT_EQ(list[0]["operation"]["path"], "/data/a.txt");
    a.id = "0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D";
    EXPECT_EQ(journal.entries(), (std::vector<OperationJournal::Entry>{{a, "moving"}}));
    struct stat info {};
    ASSERT_EQ(stat((file + ".lock").c_str(), &info), 0);
    EXPECT_EQ(info.st_size, 0);

    // Entries written elsewhere: other keys ignored, the id in lower case accepted.
    writeFile(file, R"([{"phase":"finished","note":"x","operation":{"id":"aaaaaaaa-bbbb-4ccc-8ddd-eeeeeeeeeeee","date":1.5,"path":"/p","size":0,"success":true,"detail":"d","extra":null}}])");
    auto read = journal.entries();
    ASSERT_EQ(read.size(), 1u);
    EXPECT_EQ(read[0].operation.id, "AAAAAAAA-BBBB-4CCC-8DDD-EEEEEEEEEEEE");
    EXPECT_EQ(read[0].phase, "finished");

    // acknowledge and discardPending create "[]" when there is no file.
    unlink(file.c_str());
    journal.acknowledge({});
    EXPECT_EQ(readFile(file), "[]");
    unlink(file.c_str());
    journal.discardPending();
    EXPECT_EQ(readFile(file), "[]");
}

TEST(OperationJournal, RecordKeepsOneEntryPerIdAtTheEnd)
{
    TempHome home;
    const std::string file = home.path("pending-actions.json");
    OperationJournal journal(file);
    Operation a = makeOperation("/a"), b = makeOperation("/b");

    journal.record(a, "moving");
    journal.record(b, "moving");
    Operation moved = a;
    moved.success = true;
    moved.detail = "已移入废纸篓";
    moved.trashPath = "/trash/a";
    journal.record(moved, "finished");
    auto entries = journal.entries();
    EXPECT_EQ(phases(entries), (Phases{"/b:moving", "/a:finished"}));
    EXPECT_EQ(entries.back().operation, moved);

    // An id that occurs twice in a hand-edited file loses both copies.
    json list = json::parse(readFile(file));
    list.push_back(list[0]);
    list.insert(list.begin(), list[0]);
    writeFile(file, list.dump());
    ASSERT_EQ(journal.entries().size(), 4u);
    journal.record(b, "restoring");
    EXPECT_EQ(phases(journal.entries()), (Phases{"/a:finished", "/b:restoring"}));
}

TEST(OperationJournal, AcknowledgeDropsOnlyWhatTheHistorySettles)
{
    TempHome home;
    const std::string file = home.path("pending-actions.json");
    OperationJournal journal(file);

    Operation finished = makeOperation("/finished");
    Operation movedOk = makeOperation("/moved-ok");
    Operation movedFailed = makeOperation("/moved-failed");
    Operation movedNoTrash = makeOperation("/moved-no-trash-path");
    Operation restored = makeOperation("/restored");
    Operation restoring = makeOperation("/restoring-not-stamped");
    Operation unknown = makeOperation("/not-in-history");
    Operation odd = makeOperation("/odd-phase");
    for (auto* op : {&finished, &movedOk, &movedFailed, &movedNoTrash, &restored, &restoring, &unknown, &odd})
        journal.record(*op, "moving");
    journal.record(finished, "finished");
    journal.record(restored, "restoring");
    journal.record(restoring, "restoring");
    journal.record(odd, "paused");
    const Phases all{"/moved-ok:moving", "/moved-failed:moving", "/moved-no-trash-path:moving",
                     "/not-in-history:moving", "/finished:finished", "/restored:restoring",
                     "/restoring-not-stamped:restoring", "/odd-phase:paused"};
    ASSERT_EQ(phases(journal.entries()), all);

    // An empty history keeps every entry (and still writes the file).
    writeFile(file, readFile(file) + " ");
    journal.acknowledge({});
    EXPECT_EQ(phases(journal.entries()), all);
    EXPECT_NE(readFile(file).back(), ' ') << "acknowledge rewrites the file every time";

    // The decision reads the history's record, never the entry's own copy.
    auto settled = [](Operation op) { op.success = true; op.trashPath = "/trash" + op.path; return op; };
    Operation h1 = finished;
    Operation h2 = settled(movedOk);
    Operation h3 = movedFailed;
    h3.trashPath = "/trash/x"; // failed, so not settled even with a trash path
    Operation h4 = movedNoTrash;
    h4.success = true;
    Operation h5 = settled(restored);
    h5.restoredAt = 800000100.5;
    Operation h6 = settled(restoring);
    Operation h7 = settled(odd);
    h7.restoredAt = 1.0;
    // A later duplicate of an id does not count: the first record of each id wins.
    Operation h3Later = settled(movedFailed);
    journal.acknowledge({h1, h2, h3, h4, h5, h6, h7, h3Later});
    EXPECT_EQ(phases(journal.entries()),
              (Phases{"/moved-failed:moving", "/moved-no-trash-path:moving", "/not-in-history:moving",
                      "/restoring-not-stamped:restoring", "/odd-phase:paused"}));
}

// A save by another running copy, which did not see the restore, must not erase its receipt.
TEST(OperationJournal, ARestoreReceiptWaitsForAHistoryThatKnowsOfTheRestore)
{
    TempHome home;
    OperationJournal journal(home.path("pending-actions.json"));
    Operation moved = makeOperation("/moved"), refused = makeOperation("/refused");
    for (Operation* op : {&moved, &refused}) {
        op->success = true;
        op->trashPath = "/trash" + op->path;
    }
    Operation restored = moved;
    restored.restoredAt = 800000200.5;
    journal.record(restored, "finished");
    journal.record(refused, "finished");

    journal.acknowledge({moved, refused});
    EXPECT_EQ(phases(journal.entries()), (Phases{"/moved:finished"}));
    restored.restoredAt = 800000300.0; // the history's own, later stamp
    journal.acknowledge({restored});
    EXPECT_TRUE(journal.entries().empty());
}

TEST(OperationJournal, DiscardPendingKeepsFinishedEntries)
{
    TempHome home;
    OperationJournal journal(home.path("pending-actions.json"));
    Operation a = makeOperation("/A"), b = makeOperation("/B"), c = makeOperation("/C");
    journal.record(a, "moving");
    journal.record(b, "finished");
    journal.record(c, "restoring");
    journal.discardPending();
    EXPECT_EQ(phases(journal.entries()), (Phases{"/B:finished"}));
}

TEST(OperationJournal, UndecodableJournalBlocksEveryWriteAndIsNeverOverwritten)
{
    TempHome home;
    const std::string file = home.path("pending-actions.json");
    OperationJournal journal(file);
    Operation op = makeOperation("/x");
    const std::string valid = R"({"id":"AAAAAAAA-BBBB-4CCC-8DDD-EEEEEEEEEEEE","date":1,"path":"/p","size":0,"success":true,"detail":"d"})";
    const std::vector<std::string> broken = {
        "",                                     // a 0-byte file
        "{}", "null", "\"moving\"", "[1]", "[[]]", "[{\"phase\":\"moving\"}",
        "[{\"phase\":\"moving\"}]",             // no operation
        "[{\"operation\":" + valid + "}]",      // no phase
        "[{\"operation\":" + valid + ",\"phase\":3}]",
        "[{\"operation\":{\"id\":\"x\"},\"phase\":\"moving\"}]",
        std::string("[\"\xff\"]"),
        "[{\"operation\":" + valid + ",\"phase\":\"finished\"}] trailing"};
    for (const std::string& content : broken) {
        writeFile(file, content);
        EXPECT_THROW(journal.entries(), StoreFormatError) << content;
        EXPECT_THROW(journal.record(op, "moving"), StoreFormatError) << content;
        EXPECT_THROW(journal.acknowledge({op}), StoreFormatError) << content;
        EXPECT_THROW(journal.discardPending(), StoreFormatError) << content;
        bool ran = false;
        EXPECT_THROW(OperationJournal::move(op, &journal, [&] { ran = true; return std::optional<std::string>("/t"); }),
                     StoreFormatError) << content;
        EXPECT_FALSE(ran) << "nothing may move while the journal is unreadable: " << content;
        EXPECT_EQ(readFile(file), content) << "the journal must stay byte for byte";
    }

    // A journal that cannot be read (a folder in its place) fails the same way.
    unlink(file.c_str());
    makeDirs(file);
    try {
        journal.record(op, "moving");
        FAIL() << "a folder was read as a journal";
    } catch (const std::system_error& e) {
        EXPECT_EQ(e.code().value(), EISDIR);
    }
}

TEST(OperationJournal, UnstorableRecordsAndLockFailuresLeaveTheFile)
{
    TempHome home;
    const std::string file = home.path("pending-actions.json");
    OperationJournal journal(file);
    Operation good = makeOperation("/good");
    journal.record(good, "moving");
    const std::string before = readFile(file);

    Operation bad = makeOperation(std::string("/bad\xff"));
    try {
        journal.record(bad, "moving");
        FAIL() << "ill-formed UTF-8 reached the journal";
    } catch (const std::system_error& e) {
        EXPECT_EQ(e.code().value(), EILSEQ);
    }
    EXPECT_THROW(journal.record(good, std::string("fin\xc3")), std::system_error);
    Operation noId = makeOperation("/no-id");
    noId.id = "not-a-uuid";
    EXPECT_THROW(journal.record(noId, "moving"), std::system_error);
    EXPECT_EQ(readFile(file), before);
    EXPECT_EQ(journal.entries().size(), 1u);

    // Another process holding the journal's lock file: every operation fails at once.
    {
        HeldLock other(file);
        for (auto& call : std::vector<std::function<void()>>{
                 [&] { journal.entries(); }, [&] { journal.record(good, "finished"); },
                 [&] { journal.acknowledge({good}); }, [&] { journal.discardPending(); }}) {
            try {
                call();
                ADD_FAILURE() << "an operation ran under a lock held elsewhere";
            } catch (const std::system_error& e) {
                EXPECT_TRUE(e.code().value() == EWOULDBLOCK || e.code().value() == EAGAIN);
            }
        }
        EXPECT_EQ(readFile(file), before);
    }
    // No temporary files are left behind by the failed writes.
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(home.root()))
        if (entry.path().filename().string().find(".tmp-") != std::string::npos) ++files;
    EXPECT_EQ(files, 0);
}

TEST(OperationJournal, MoveBracketsTheBodyWithEntries)
{
    TempHome home;
    const std::string file = home.path("pending-actions.json");
    OperationJournal journal(file);

    // Success: "moving" is written before the body runs, "finished" after.
    Operation prepared = makeOperation("/docs/a.txt");
    Phases seenByBody;
    Operation result = OperationJournal::move(prepared, &journal, [&] {
        seenByBody = phases(journal.entries());
        return std::optional<std::string>("/trash/a.txt");
    });
    EXPECT_EQ(seenByBody, (Phases{"/docs/a.txt:moving"}));
    EXPECT_TRUE(result.success);
    EXPECT_EQ(result.detail, "已移入废纸篓");
    EXPECT_EQ(result.trashPath, "/trash/a.txt");
    EXPECT_EQ(result.id, prepared.id);
    EXPECT_EQ(result.resourceID, prepared.resourceID);
    EXPECT_EQ(journal.entries(), (std::vector<OperationJournal::Entry>{{result, "finished"}}));

    // A body that yields no trash path still counts as moved.
    Operation noPath = OperationJournal::move(makeOperation("/docs/b"), &journal, [] { return std::optional<std::string>(); });
    EXPECT_TRUE(noPath.success);
    EXPECT_FALSE(noPath.trashPath.has_value());

    // The body fails: the record says so and the journal holds "finished".
    Operation failed = OperationJournal::move(makeOperation("/docs/c"), &journal, []() -> std::optional<std::string> {
        throw std::system_error(EPERM, std::generic_category());
    });
    EXPECT_FALSE(failed.success);
    EXPECT_EQ(failed.detail, std::system_error(EPERM, std::generic_category()).code().message());
    EXPECT_EQ(phases(journal.entries()).back(), "/docs/c:finished");

    // The "finished" receipt fails: success stays, detail says so, "moving" stays in the journal.
    Operation receipt = makeOperation("/docs/d");
    Operation kept = OperationJournal::move(receipt, &journal, [&] {
        unlink((file + ".lock").c_str());
        if (symlink("/nonexistent", (file + ".lock").c_str()) != 0) throw std::runtime_error("symlink");
        return std::optional<std::string>("/trash/d");
    });
    EXPECT_TRUE(kept.success);
    EXPECT_EQ(kept.trashPath, "/trash/d");
    EXPECT_EQ(kept.detail, "已移入废纸篓；回执保存失败，请保留废纸篓并检查操作记录：" +
                               std::system_error(ELOOP, std::generic_category()).code().message());
    unlink((file + ".lock").c_str());
    EXPECT_EQ(phases(journal.entries()).back(), "/docs/d:moving");

    // The body fails and so does its receipt: the failure is still reported, nothing thrown.
    Operation both = OperationJournal::move(makeOperation("/docs/e"), &journal, [&]() -> std::optional<std::string> {
        writeFile(file, "garbage");
        throw TessynError("Tessyn", 1, "文件已变化");
    });
    EXPECT_FALSE(both.success);
    EXPECT_EQ(both.detail, "文件已变化");
    EXPECT_EQ(readFile(file), "garbage");

    // Without a journal nothing is written.
    unlink(file.c_str());
    Operation bare = OperationJournal::move(makeOperation("/docs/f"), nullptr, [] { return std::optional<std::string>("/t/f"); });
    EXPECT_TRUE(bare.success);
    EXPECT_EQ(bare.detail, "已移入废纸篓");
    EXPECT_FALSE(exists(file));
}

TEST(OperationJournal, ThreadsOfOneProcessAreSerialised)
{
    TempHome home;
    auto journal = std::make_shared<OperationJournal>(home.path("pending-actions.json"));
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 25; ++i) {
                try {
                    Operation op = makeOperation("/t" + std::to_string(t) + "/" + std::to_string(i));
                    journal->record(op, "moving");
                    journal->record(op, "finished");
                    if (i % 10 == 0) journal->discardPending();
                } catch (const std::exception&) {
                    ++failures;
                }
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(failures.load(), 0) << "the in-process lock must keep threads off each other's lock file";
    auto entries = journal->entries();
    EXPECT_EQ(entries.size(), 200u);
    for (const auto& e : entries) EXPECT_EQ(e.phase, "finished");
}

// A pipe put where a store or its lock file belongs is an unreadable store: reading it never
// waits for a writer (the journal would wait holding its lock), and the message says why.
TEST(OperationJournal, PipesInPlaceOfStoresAreRefusedWithoutWaiting)
{
    TempHome home;
    const std::string journalFile = home.path("pending-actions.json");
    const std::string historyFile = home.path("operations.json");
    OperationJournal journal(journalFile);
    HistoryStore history(historyFile, nullptr);
    const std::string notRegular = "不是普通文件。";

    struct Case {
        const char* name;
        std::string pipe;
        std::function<std::string()> use; // the failure text
    } cases[] = {
        {"journal read", journalFile, [&] { return failureOf([&] { journal.entries(); }); }},
        {"journal write", journalFile, [&] { return failureOf([&] { journal.record(makeOperation("/a"), "moving"); }); }},
        {"history load", historyFile, [&] { return history.load().value_or("loaded"); }},
        {"history save", historyFile, [&] { return history.saveHistory(false).value_or("saved"); }},
        {"journal lock", journalFile + ".lock", [&] { return failureOf([&] { journal.discardPending(); }); }},
    };
    for (const Case& c : cases) {
        unlink(c.pipe.c_str()); // the lock file left by the cases before
        ASSERT_EQ(mkfifo(c.pipe.c_str(), 0600), 0) << c.name;
        auto outcome = std::async(std::launch::async, c.use);
        if (outcome.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
            ADD_FAILURE() << c.name << ": waited on the pipe";
            // Let the blocked reader go so the test can end.
            close(open(c.pipe.c_str(), O_WRONLY | O_NONBLOCK));
        }
        std::string text = outcome.get();
        EXPECT_NE(text.find(notRegular), std::string::npos) << c.name << ": " << text;
        unlink(c.pipe.c_str());
    }
    // Nothing was left locked: with the pipes gone, the stores work again.
    EXPECT_NO_THROW(journal.record(makeOperation("/b"), "moving"));
    EXPECT_EQ(journal.entries().size(), 1u);
}

// Two instances on one file (two running copies): each sees what the other wrote, although
// each keeps what it last wrote to spare itself the reading.
TEST(OperationJournal, WritersTakeTurnsWithoutLosingEntries)
{
    TempHome home;
    const std::string file = home.path("pending-actions.json");
    OperationJournal first(file), second(file);
    std::vector<Operation> ops;
    for (int i = 0; i < 6; ++i) ops.push_back(makeOperation("/data/" + std::to_string(i)));
    struct Step {
        OperationJournal* writer;
        size_t op;
        const char* phase;
    };
    for (const Step& step : std::vector<Step>{{&first, 0, "moving"}, {&second, 1, "moving"}, {&first, 0, "finished"},
                                              {&first, 2, "moving"}, {&second, 3, "moving"}, {&second, 1, "finished"}})
        step.writer->record(ops[step.op], step.phase);
    auto phases = [](OperationJournal& journal) {
        std::vector<std::pair<std::string, std::string>> out;
        for (const auto& e : journal.entries()) out.emplace_back(e.operation.path, e.phase);
        return out;
    };
    const std::vector<std::pair<std::string, std::string>> expected{
        {"/data/0", "finished"}, {"/data/2", "moving"}, {"/data/3", "moving"}, {"/data/1", "finished"}};
    EXPECT_EQ(phases(first), expected);
    EXPECT_EQ(phases(second), expected);

    // A file replaced behind both (same size, new text) is read again, not taken from memory.
    std::string text = readFile(file);
    std::string changed = text;
    changed.replace(changed.find("\"moving\""), 8, "\"rstart\"");
    writeFile(file, changed);
    EXPECT_EQ(first.entries()[1].phase, "rstart");
    EXPECT_EQ(second.entries()[1].phase, "rstart");
}
