#include "engine/HistoryStore.h"

#include "engine/Uuid.h"
#include "HeldLock.h"
#include "TestSupport.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

using nlohmann::json;

namespace {

Operation record(const std::string& path, double date)
{
    Operation op;
    op.id = newUUID();
    op.date = date;
    op.path = path;
    op.size = 100;
    op.success = true;
    op.detail = "已移入废纸篓";
    op.trashPath = "/trash" + path;
    op.resourceID = "1:2";
    op.modified = date - 1000.000000123;
    return op;
}

std::vector<std::string> paths(const std::vector<Operation>& history)
{
    std::vector<std::string> out;
    for (const auto& op : history) out.push_back(op.path);
    return out;
}

using Paths = std::vector<std::string>;

struct Stores {
    TempHome home;
    std::string folder = home.path("data/Tessyn");
    std::string historyPath = folder + "/operations.json";
    std::string journalPath = folder + "/pending-actions.json";
    std::shared_ptr<OperationJournal> journal;
    Stores()
    {
        makeDirs(folder);
        journal = std::make_shared<OperationJournal>(journalPath);
    }
    HistoryStore store() { return HistoryStore(historyPath, journal); }
    std::vector<Operation> onDisk() { return decodeHistory(readFile(historyPath)); }
    std::vector<std::string> backups()
    {
        std::vector<std::string> out;
        for (const auto& e : std::filesystem::directory_iterator(folder)) {
            std::string name = e.path().filename().string();
            if (name.rfind("operations-unreadable-", 0) == 0) out.push_back(name);
        }
        return out;
    }
};

const std::string kUnreadablePrefix = "操作记录无法读取；下次保存前会保留原文件副本。";

} // namespace

TEST(HistoryStore, LoadAtStartUp)
{
    Stores s;
    HistoryStore store = s.store();
    EXPECT_EQ(store.load(), std::nullopt) << "no file is not an error";
    EXPECT_TRUE(store.history().empty());
    EXPECT_FALSE(store.needsBackup());

    writeFile(s.historyPath, "[]");
    EXPECT_EQ(store.load(), std::nullopt);
    EXPECT_TRUE(store.history().empty());
    EXPECT_FALSE(store.needsBackup());

    std::vector<Operation> saved{record("/a", 30), record("/b", 20)};
    writeFile(s.historyPath, encodeHistory(saved));
    EXPECT_EQ(store.load(), std::nullopt);
    EXPECT_EQ(store.history(), saved) << "file order is kept";

    for (const std::string& bad : {std::string(""), std::string("{}"), std::string("[{\"id\":1}]"), std::string("[1,2")}) {
        writeFile(s.historyPath, bad);
        auto message = store.load();
        ASSERT_TRUE(message.has_value()) << bad;
        EXPECT_EQ(*message, kUnreadablePrefix + "数据格式不正确，无法读取。");
        EXPECT_TRUE(store.history().empty());
        EXPECT_TRUE(store.needsBackup());
        EXPECT_EQ(readFile(s.historyPath), bad) << "loading never touches the file";
    }

    // A file the user cannot read.
    writeFile(s.historyPath, "[]");
    chmod(s.historyPath.c_str(), 0);
    int status = runAsNobody([&] {
        HistoryStore other(s.historyPath, s.journal);
        auto message = other.load();
        if (!message || !other.needsBackup()) return 1;
        return *message == kUnreadablePrefix + std::system_error(EACCES, std::generic_category()).code().message() ? 0 : 2;
    });
    EXPECT_EQ(status, 0);
}

// A file written oldest first (by an earlier version's first run, or by hand) is listed
// newest first from the start, not only after the next save; equal dates keep file order.
TEST(HistoryStore, LoadListsNewestFirst)
{
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, double>> file;
        Paths listed;
    };
    const std::vector<Case> cases{
        {"newest first already", {{"/c", 30}, {"/b", 20}, {"/a", 10}}, {"/c", "/b", "/a"}},
        {"oldest first", {{"/a", 10}, {"/b", 20}, {"/c", 30}}, {"/c", "/b", "/a"}},
        {"mixed, equal dates", {{"/x", 20}, {"/a", 10}, {"/y", 20}, {"/c", 30}}, {"/c", "/x", "/y", "/a"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Stores s;
        std::vector<Operation> file;
        for (const auto& [path, date] : c.file) file.push_back(record(path, date));
        std::string text = encodeHistory(file);
        writeFile(s.historyPath, text);
        HistoryStore store = s.store();
        EXPECT_EQ(store.load(), std::nullopt);
        EXPECT_EQ(paths(store.history()), c.listed);
        EXPECT_EQ(readFile(s.historyPath), text) << "loading never touches the file";
        EXPECT_EQ(store.saveHistory(false), std::nullopt);
        EXPECT_EQ(paths(s.onDisk()), c.listed);
    }
}

TEST(HistoryStore, SaveWritesAndAcknowledgesTheJournal)
{
    Stores s;
    HistoryStore store = s.store();
    store.load();
    Operation older = record("/older", 100), newer = record("/newer", 200);
    // No file yet, replacing false: the first file is sorted newest first too.
    store.history() = {older, newer};
    s.journal->record(older, "finished");
    Operation pending = record("/pending", 150);
    s.journal->record(pending, "moving");
    EXPECT_EQ(store.saveHistory(false), std::nullopt);
    EXPECT_EQ(paths(s.onDisk()), (Paths{"/newer", "/older"}));
    EXPECT_EQ(s.onDisk(), store.history());
    ASSERT_EQ(s.journal->entries().size(), 1u) << "the finished entry is settled, the unknown one kept";
    EXPECT_EQ(s.journal->entries()[0].operation.path, "/pending");

    struct stat info {};
    ASSERT_EQ(stat((s.historyPath + ".lock").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    // The journal cannot be decoded: the history is written all the same, the error returned,
    // and the journal left as it is.
    writeFile(s.journalPath, "");
    store.history().insert(store.history().begin(), record("/third", 300));
    auto error = store.saveHistory(false);
    EXPECT_EQ(error, std::optional<std::string>("数据格式不正确，无法读取。"));
    EXPECT_EQ(paths(s.onDisk()), (Paths{"/third", "/newer", "/older"})) << "merged, then sorted newest first";
    EXPECT_EQ(readFile(s.journalPath), "");
}

TEST(HistoryStore, MergesWhatAnotherCopyWrote)
{
    Stores s;
    HistoryStore first = s.store(), second = s.store();
    first.load();
    second.load();

    Operation a = record("/a", 100), b = record("/b", 300), tie1 = record("/tie1", 200), tie2 = record("/tie2", 200);
    first.history() = {b, a};
    ASSERT_EQ(first.saveHistory(false), std::nullopt);

    // The second copy knows none of them; its own records are merged with the file's and sorted
    // by date, newest first, equal dates keeping their order.
    Operation c = record("/c", 250);
    second.history() = {tie2, c, tie1};
    ASSERT_EQ(second.saveHistory(false), std::nullopt);
    EXPECT_EQ(paths(second.history()), (Paths{"/b", "/c", "/tie2", "/tie1", "/a"}));
    EXPECT_EQ(s.onDisk(), second.history());

    // restoredAt: taken from the file only when it is later than ours.
    Operation bRestored = b;
    bRestored.restoredAt = 400;
    bRestored.detail = "changed elsewhere";
    Operation cRestored = c;
    cRestored.restoredAt = 500;
    Operation aRestored = a;
    aRestored.restoredAt = 600;
    writeFile(s.historyPath, encodeHistory({bRestored, cRestored, aRestored}));
    Operation cOurs = c;
    cOurs.restoredAt = 700; // later in memory: kept
    Operation aOurs = a;
    aOurs.restoredAt = 600; // equal: ours kept
    aOurs.detail = "ours";
    first.history() = {b, cOurs, aOurs};
    ASSERT_EQ(first.saveHistory(false), std::nullopt);
    ASSERT_EQ(first.history().size(), 3u);
    EXPECT_EQ(first.history()[0].restoredAt, std::optional<double>(400));
    EXPECT_EQ(first.history()[0].detail, "已移入废纸篓") << "only restoredAt is taken over";
    EXPECT_EQ(first.history()[1].restoredAt, std::optional<double>(700));
    EXPECT_EQ(first.history()[2].restoredAt, std::optional<double>(600));
    EXPECT_EQ(first.history()[2].detail, "ours");
    EXPECT_EQ(s.onDisk(), first.history());

    // A disk record with an earlier restore date does not replace a later one in memory, and
    // one without a date does not clear ours.
    Operation bEarlier = b;
    bEarlier.restoredAt = 350;
    Operation cNone = c;
    writeFile(s.historyPath, encodeHistory({bEarlier, cNone}));
    ASSERT_EQ(first.saveHistory(false), std::nullopt);
    EXPECT_EQ(first.history()[0].restoredAt, std::optional<double>(400));
    EXPECT_EQ(first.history()[1].restoredAt, std::optional<double>(700));

    // An unreadable file met during a merge stops the save: nothing written, history unchanged.
    writeFile(s.historyPath, "[{]");
    auto before = first.history();
    EXPECT_TRUE(first.saveHistory(false).has_value());
    EXPECT_EQ(first.history(), before);
    EXPECT_EQ(readFile(s.historyPath), "[{]");
}

TEST(HistoryStore, ClearingReplacesTheFile)
{
    Stores s;
    HistoryStore store = s.store();
    Operation a = record("/a", 1), b = record("/b", 2);
    writeFile(s.historyPath, encodeHistory({b, a}));
    store.load();
    s.journal->record(a, "finished");
    s.journal->record(b, "moving");
    const std::string journalBefore = readFile(s.journalPath);

    store.history().clear();
    EXPECT_EQ(store.saveHistory(true), std::nullopt);
    EXPECT_EQ(readFile(s.historyPath), "[]");
    EXPECT_TRUE(store.history().empty()) << "the records on disk do not come back";
    EXPECT_EQ(s.journal->entries().size(), 2u) << "an empty history settles nothing";

    // replacing also skips the sort.
    store.history() = {a, b};
    EXPECT_EQ(store.saveHistory(true), std::nullopt);
    EXPECT_EQ(paths(s.onDisk()), (Paths{"/a", "/b"}));
}

TEST(HistoryStore, ClearingKeepsWhatAnotherCopySavedSince)
{
    Stores s;
    Operation a = record("/a", 1), b = record("/b", 2);
    writeFile(s.historyPath, encodeHistory({a}));
    HistoryStore ours = s.store(), other = s.store();
    ours.load();
    other.load();
    // A move the other copy finished after this copy's load; its receipt is settled.
    other.history().insert(other.history().begin(), b);
    ASSERT_EQ(other.saveHistory(false), std::nullopt);
    EXPECT_EQ(ours.clear({}), std::nullopt);
    EXPECT_EQ(paths(s.onDisk()), (Paths{"/b"})) << "a record this copy never held is not cleared";
}

TEST(HistoryStore, AClearStoppedAtTheJournalLeavesNoReceiptToBringARecordBack)
{
    Stores s;
    Operation a = record("/a", 1);
    writeFile(s.historyPath, encodeHistory({a}));
    HistoryStore store = s.store();
    store.load();
    s.journal->record(a, "finished"); // a receipt a refused save left
    {
        HeldLock held(s.journalPath); // the clear stops at the journal, as a kill would
        EXPECT_TRUE(store.clear({}).has_value());
    }
    bool receipt = !s.journal->entries().empty();
    EXPECT_FALSE(receipt && s.onDisk().empty()) << "the next start would merge the cleared record back";
}

TEST(HistoryStore, UnreadableHistoryIsCopiedAsideBeforeTheFirstWrite)
{
    Stores s;
    const std::string garbage = "{\"not\": \"a history\"}";
    writeFile(s.historyPath, garbage);
    HistoryStore store = s.store();
    ASSERT_TRUE(store.load().has_value());
    ASSERT_TRUE(store.needsBackup());

    Operation fresh = record("/fresh", 10), newer = record("/newer", 20);
    store.history() = {fresh, newer};
    EXPECT_EQ(store.saveHistory(false), std::nullopt);
    EXPECT_FALSE(store.needsBackup());
    auto copies = s.backups();
    ASSERT_EQ(copies.size(), 1u);
    const std::string& name = copies[0];
    ASSERT_EQ(name.size(), std::string("operations-unreadable-").size() + 36 + 5) << name;
    std::string uuid = name.substr(22, 36);
    EXPECT_EQ(canonicalUUID(uuid), uuid) << "an upper-case UUID";
    EXPECT_EQ(name.substr(58), ".json");
    EXPECT_EQ(readFile(s.folder + "/" + name), garbage);
    EXPECT_EQ(paths(s.onDisk()), (Paths{"/fresh", "/newer"})) << "replaced without merge or sort";

    // Later saves make no further copy.
    EXPECT_EQ(store.saveHistory(false), std::nullopt);
    EXPECT_EQ(s.backups().size(), 1u);
}

TEST(HistoryStore, UnreadableHistoryThatVanishedNoLongerBlocksSaves)
{
    Stores s;
    writeFile(s.historyPath, "garbage");
    HistoryStore store = s.store();
    ASSERT_TRUE(store.load().has_value());
    unlink(s.historyPath.c_str());

    store.history() = {record("/kept", 5)};
    EXPECT_EQ(store.saveHistory(false), std::nullopt) << "a copy of a file that is gone cannot be needed";
    EXPECT_FALSE(store.needsBackup());
    EXPECT_TRUE(s.backups().empty());
    EXPECT_EQ(paths(s.onDisk()), (Paths{"/kept"}));

    EXPECT_EQ(store.saveHistory(false), std::nullopt);
    EXPECT_TRUE(s.backups().empty());
}

TEST(HistoryStore, FailedWriteAfterTheBackupKeepsTheUnreadableFileAside)
{
    Stores s;
    writeFile(s.historyPath, "garbage");
    HistoryStore store = s.store();
    ASSERT_TRUE(store.load().has_value());

    // The copy succeeds but the write fails: the unreadable file is still in place and must
    // not be merged by the next save.
    Operation bad = record("/bad", 1);
    bad.path = std::string("/bad-\xff", 6);
    store.history() = {bad};
    EXPECT_NE(store.saveHistory(false), std::nullopt);
    EXPECT_EQ(readFile(s.historyPath), "garbage");

    store.history() = {record("/good", 2)};
    EXPECT_EQ(store.saveHistory(false), std::nullopt) << "the next save replaces the unreadable file";
    EXPECT_FALSE(store.needsBackup());
    EXPECT_EQ(paths(s.onDisk()), (Paths{"/good"}));
    EXPECT_FALSE(s.backups().empty());
}

TEST(HistoryStore, OtherCopyFailuresKeepTheBackupPending)
{
    Stores s;
    // The unreadable file cannot be copied by this user: the save stops, nothing is written,
    // and the next save tries again.
    writeFile(s.historyPath, "garbage");
    chmod(s.historyPath.c_str(), 0);
    chmod(s.folder.c_str(), 0777);
    int status = runAsNobody([&] {
        HistoryStore store(s.historyPath, std::make_shared<OperationJournal>(s.journalPath));
        if (!store.load()) return 10;
        store.history() = {record("/x", 1)};
        auto error = store.saveHistory(false);
        if (error != std::system_error(EACCES, std::generic_category()).code().message()) return 11;
        if (!store.needsBackup()) return 12;
        auto again = store.saveHistory(false);
        if (!again || !store.needsBackup()) return 13;
        return 0;
    });
    EXPECT_EQ(status, 0);
    chmod(s.historyPath.c_str(), 0644);
    EXPECT_EQ(readFile(s.historyPath), "garbage");
    EXPECT_TRUE(s.backups().empty());
    EXPECT_FALSE(std::filesystem::exists(s.journalPath)) << "the journal is not touched by a stopped save";
}

TEST(HistoryStore, LockHeldElsewhereAndUnstorableRecords)
{
    Stores s;
    HistoryStore store = s.store();
    store.history() = {record("/a", 1)};
    ASSERT_EQ(store.saveHistory(false), std::nullopt);
    const std::string before = readFile(s.historyPath);
    s.journal->record(record("/j", 2), "finished");
    const std::string journalBefore = readFile(s.journalPath);

    store.history().insert(store.history().begin(), record("/b", 3));
    {
        HeldLock other(s.historyPath);
        auto error = store.saveHistory(false);
        ASSERT_TRUE(error.has_value());
        EXPECT_TRUE(*error == std::system_error(EWOULDBLOCK, std::generic_category()).code().message()
                    || *error == std::system_error(EAGAIN, std::generic_category()).code().message()) << *error;
        EXPECT_EQ(readFile(s.historyPath), before);
        EXPECT_EQ(readFile(s.journalPath), journalBefore);
    }
    EXPECT_EQ(store.saveHistory(false), std::nullopt);
    EXPECT_EQ(paths(s.onDisk()), (Paths{"/b", "/a"}));

    // A record that could not be read back fails the save cleanly: no file is written.
    const std::string good = readFile(s.historyPath);
    store.history().push_back(record(std::string("/bad\xc0\xaf"), 0));
    auto error = store.saveHistory(false);
    EXPECT_EQ(error, std::system_error(EILSEQ, std::generic_category()).code().message());
    EXPECT_EQ(readFile(s.historyPath), good);
    store.history().back().path = "/fine";
    store.history().back().date = std::nan("");
    EXPECT_TRUE(store.saveHistory(false).has_value());
    EXPECT_EQ(readFile(s.historyPath), good);
    int temps = 0;
    for (const auto& e : std::filesystem::directory_iterator(s.folder))
        if (e.path().filename().string().find(".tmp-") != std::string::npos) ++temps;
    EXPECT_EQ(temps, 0);
}

TEST(HistoryStore, WritesRemoveTemporaryFilesOfKilledWriters)
{
    Stores s;
    std::string leftover = writeFile(s.folder + "/.operations.json.tmp-Ab12Cd", "half a write");
    std::string unrelated = writeFile(s.folder + "/.notes.txt.tmp-Ab12Cd", "someone else's");
    std::string longer = writeFile(s.folder + "/.operations.json.tmp-Ab12Cd7", "not ours either");
    HistoryStore store = s.store();
    store.history() = {record("/a", 1)};
    ASSERT_EQ(store.saveHistory(false), std::nullopt);
    EXPECT_FALSE(std::filesystem::exists(leftover));
    EXPECT_TRUE(std::filesystem::exists(unrelated));
    EXPECT_TRUE(std::filesystem::exists(longer));
}

// A save after the list lost records it had written (a checkpoint puts its records back
// aside) or after another copy replaced the file still merges what the file holds, whether
// the store last wrote the file or loaded it.
TEST(HistoryStore, SavesKeepWhatTheFileHoldsBeyondTheList)
{
    struct Case {
        const char* name;
        std::function<void(Stores&, HistoryStore&)> between;
        std::vector<std::string> expected;
    };
    const std::vector<Case> cases{
        {"nothing changed", [](Stores&, HistoryStore&) {}, {"/c", "/b", "/a"}},
        {"list lost a record", [](Stores&, HistoryStore& store) { store.history().erase(store.history().begin()); },
         {"/c", "/b", "/a"}},
        {"another copy wrote", [](Stores& s, HistoryStore&) {
             HistoryStore other = s.store();
             ASSERT_EQ(other.load(), std::nullopt);
             other.history().insert(other.history().begin(), record("/x", 2.5));
             ASSERT_EQ(other.saveHistory(false), std::nullopt);
         }, {"/c", "/x", "/b", "/a"}},
        // Rewritten at once in place, same size: the same inode, and its times may not have
        // moved on within the clock's tick.
        {"another copy rewrote it in place", [](Stores& s, HistoryStore& store) {
             std::string text = readFile(s.historyPath);
             std::string id = store.history().front().id;
             auto at = text.find(id);
             ASSERT_NE(at, std::string::npos);
             char& last = text[at + id.size() - 1];
             last = last == '0' ? '1' : '0';
             int fd = open(s.historyPath.c_str(), O_WRONLY);
             ASSERT_GE(fd, 0);
             ASSERT_EQ(pwrite(fd, text.data(), text.size(), 0), static_cast<ssize_t>(text.size()));
             close(fd);
         }, {"/c", "/b", "/b", "/a"}},
    };
    for (const Case& c : cases) for (bool loaded : {false, true}) {
        SCOPED_TRACE(std::string(c.name) + (loaded ? ", loaded" : ", written"));
        Stores s;
        HistoryStore store = s.store();
        store.history() = {record("/b", 2), record("/a", 1)};
        ASSERT_EQ(store.saveHistory(false), std::nullopt);
        if (loaded) {
            store = s.store();
            ASSERT_EQ(store.load(), std::nullopt);
        }
        c.between(s, store);
        store.history().insert(store.history().begin(), record("/c", 3));
        ASSERT_EQ(store.saveHistory(false), std::nullopt);
        EXPECT_EQ(paths(s.onDisk()), c.expected);
        EXPECT_EQ(paths(store.history()), c.expected);
    }
}

// Saves reuse the text of records already written; whatever the list went through, the
// file must be exactly the list's own encoding.
TEST(HistoryStore, EachSaveWritesExactlyTheList)
{
    struct Step {
        const char* name;
        std::function<void(std::vector<Operation>&)> change;
        bool replacing = false;
    };
    const std::vector<Step> steps{
        {"first save of an empty list", [](auto&) {}},
        {"records added to an empty file", [](auto& h) { h = {record("/b", 20), record("/a", 10)}; }},
        {"nothing changed", [](auto&) {}},
        {"one newer record in front", [](auto& h) { h.insert(h.begin(), record("/c", 30)); }},
        {"several newer records, unsorted", [](auto& h) {
             h.insert(h.begin(), {record("/d", 40), record("/f", 60), record("/e", 50)});
         }},
        {"a written record restored", [](auto& h) { h[3].restoredAt = 70; }},
        {"a record older than the written ones", [](auto& h) { h.insert(h.begin(), record("/z", 5)); }},
        {"a written record dropped from the list", [](auto& h) { h.erase(h.begin() + 1); }},
        {"newer record after the fallbacks", [](auto& h) { h.insert(h.begin(), record("/g", 80)); }},
        {"cleared", [](auto& h) { h.clear(); }, true},
        {"a record after clearing", [](auto& h) { h.insert(h.begin(), record("/h", 90)); }},
    };
    Stores s;
    HistoryStore store = s.store();
    ASSERT_EQ(store.load(), std::nullopt);
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        step.change(store.history());
        ASSERT_EQ(store.saveHistory(step.replacing), std::nullopt);
        EXPECT_EQ(readFile(s.historyPath), encodeHistory(store.history()));
        std::vector<Operation> sorted = store.history();
        std::stable_sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) { return a.date > b.date; });
        EXPECT_EQ(store.history(), sorted);
    }
    // The record dropped from the list was still in the file, so the merge kept it.
    EXPECT_EQ(paths(s.onDisk()), (Paths{"/h"}));
}
