#include "ModelTestSupport.h"
#include "platform/Trash.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <mutex>
#include <sys/mount.h>
#include <thread>
#include "QtWaits.h"

namespace {

// Holds a worker until the test opens it.
class Gate {
public:
    void wait()
    {
        std::unique_lock lock(mutex_);
        open_.wait(lock, [&] { return opened_; });
    }
    void open()
    {
        std::lock_guard lock(mutex_);
        opened_ = true;
        open_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable open_;
    bool opened_ = false;
};

DuplicateGroup groupOf(std::vector<std::string> paths)
{
    DuplicateGroup group;
    group.id = std::string(64, 'a');
    for (auto& path : paths) group.files.push_back(FileEntry(path, 1, 0, 1, 1, 0, std::nullopt));
    return group;
}

AppModel::PathSet set(std::initializer_list<std::string> paths) { return AppModel::PathSet(paths); }

// A model whose folder chooser answers what `chosen` holds at the time.
std::unique_ptr<AppModel> modelChoosing(const ModelHome& env, const std::string& chosen)
{
    AppModel::Collaborators services = env.services();
    services.chooseFolder = [&chosen] { return std::optional<std::string>(chosen); };
    return env.model(services);
}

void expectRefused(AppModel& model, std::string& chosen, const std::vector<std::string>& folders,
                   const std::string& refusal = "请选择普通文件夹，如下载或文稿。Tessyn 不扫描自己的记录文件夹。")
{
    for (const std::string& folder : folders) {
        SCOPED_TRACE(folder);
        model.setMessage(std::nullopt);
        chosen = folder;
        model.choose();
        EXPECT_EQ(model.message(), refusal);
        EXPECT_FALSE(model.root().has_value());
    }
}

std::vector<std::string> scannedPaths(const AppModel& model)
{
    std::vector<std::string> found;
    for (const FileEntry& file : model.report()->files) found.push_back(file.path);
    return found;
}

} // namespace

TEST(AppModelScan, OneScanAtATimeAndItsCompletion)
{
    ModelHome env;
    std::string tree = env.home.path("tree");
    makeFiles(tree, 300);
    auto model = env.model(env.services(tree));

    model->scan();
    EXPECT_FALSE(model->scanning()) << "no folder chosen: nothing starts";
    model->detectDuplicates();
    EXPECT_FALSE(model->detectingDuplicates());

    model->choose();
    ASSERT_EQ(model->root(), tree);
    model->detectDuplicates();
    EXPECT_FALSE(model->detectingDuplicates()) << "no report yet: nothing starts and nothing is shown";
    EXPECT_FALSE(model->message().has_value());

    QSignalSpy scanning(model.get(), &AppModel::scanningChanged);
    ScanProgress atCompletion;
    QObject::connect(model.get(), &AppModel::scanningChanged, model.get(), [&] {
        if (!model->scanning()) atCompletion = model->scanProgress();
    });
    model->scan();
    model->scan();
    EXPECT_TRUE(model->scanning());
    EXPECT_EQ(scanning.count(), 1) << "the second call starts nothing";
    ASSERT_TRUE(waitFor([&] { return !model->scanning(); }));
    EXPECT_EQ(scanning.count(), 2);
    ASSERT_TRUE(model->report());
    EXPECT_EQ(model->report()->files.size(), 300u);
    EXPECT_FALSE(model->report()->cancelled);
    EXPECT_TRUE(model->completedAt().has_value());
    ASSERT_TRUE(waitFor([&] { return !model->filtering(); }));
    EXPECT_EQ(model->scanProgress(), atCompletion) << "no progress report is applied after the completion";
    EXPECT_EQ(model->scanProgress().inspected, model->report()->inspected);
    EXPECT_EQ(model->queryResults().files.size(), 300u) << "the new report is queried";

    // A new scan clears the old results before it reads anything.
    model->setSelection(set({model->report()->files[0].path}));
    model->detectDuplicates();
    ASSERT_TRUE(waitFor([&] { return !model->detectingDuplicates(); }));
    EXPECT_TRUE(model->duplicateReport());
    model->scan();
    EXPECT_TRUE(model->selection().empty());
    EXPECT_FALSE(model->report());
    EXPECT_FALSE(model->duplicateReport());
    EXPECT_FALSE(model->completedAt().has_value());
    EXPECT_EQ(model->scanProgress(), ScanProgress{});
    ASSERT_TRUE(waitFor([&] { return !model->scanning(); }));
}

TEST(AppModelScan, CancelPublishesThePartialReport)
{
    ModelHome env;
    std::string tree = env.home.path("tree");
    for (int d = 0; d < 30; ++d) makeFiles(tree + "/d" + std::to_string(d), 100);
    auto model = env.model(env.services(tree));
    model->choose();

    model->scan();
    model->cancelScanJobs();
    EXPECT_TRUE(model->scanning()) << "the flag is cleared by the completion only";
    ASSERT_TRUE(waitFor([&] { return !model->scanning(); }));
    ASSERT_TRUE(model->report());
    EXPECT_TRUE(model->report()->cancelled);
    EXPECT_TRUE(model->completedAt().has_value());

    model->scan();
    ASSERT_TRUE(waitFor([&] { return !model->scanning(); }));
    ASSERT_EQ(model->report()->files.size(), 3000u);
    model->detectDuplicates();
    model->cancelScanJobs();
    EXPECT_TRUE(model->detectingDuplicates());
    ASSERT_TRUE(waitFor([&] { return !model->detectingDuplicates(); }));
    ASSERT_TRUE(model->duplicateReport());
    EXPECT_TRUE(model->duplicateReport()->cancelled);
}

// Choosing another folder while a job runs must not publish the old folder's results under
// the new one.
TEST(AppModelScan, ChoosingAnotherFolderDropsTheRunningJobsResults)
{
    ModelHome env;
    std::string first = env.home.path("first");
    std::string second = env.home.path("second");
    for (int d = 0; d < 20; ++d) makeFiles(first + "/d" + std::to_string(d), 100);
    makeFiles(second, 3, "other");
    std::string chosen = first;
    auto model = modelChoosing(env, chosen);

    model->choose();
    model->scan();
    chosen = second;
    model->choose();
    EXPECT_EQ(model->root(), second);
    ASSERT_TRUE(waitFor([&] { return !model->scanning(); })) << "the old scan still clears its flag";
    EXPECT_FALSE(model->report()) << "the first folder's report is not published under the second";
    EXPECT_FALSE(model->completedAt().has_value());

    // The same when the old scan has already finished on its worker and only its progress
    // and completion wait in the event queue.
    chosen = first;
    model->choose();
    model->scan();
    ASSERT_TRUE(waitForWorkersEnded()) << "the queue is not served meanwhile";
    chosen = second;
    model->choose();
    ASSERT_TRUE(waitFor([&] { return !model->scanning(); }));
    EXPECT_FALSE(model->report());
    EXPECT_EQ(model->scanProgress(), ScanProgress{}) << "nor its progress";
    model->scan();
    ASSERT_TRUE(waitFor([&] { return !model->scanning(); }));
    ASSERT_EQ(model->report()->files.size(), 3u);

    chosen = first;
    model->choose();
    model->scan();
    ASSERT_TRUE(waitFor([&] { return !model->scanning(); }));
    ASSERT_EQ(model->report()->files.size(), 2000u);
    model->detectDuplicates();
    ASSERT_TRUE(waitForWorkersEnded()) << "the queue is not served meanwhile";
    chosen = second;
    model->choose();
    ASSERT_TRUE(waitFor([&] { return !model->detectingDuplicates(); }));
    EXPECT_FALSE(model->duplicateReport()) << "the first folder's duplicates are not published either";
    EXPECT_EQ(model->duplicateProgress(), DuplicateProgress{});
    EXPECT_FALSE(model->report());

    // Choosing the same folder again still drops what was started before.
    model->scan();
    ASSERT_TRUE(waitFor([&] { return !model->scanning(); }));
    model->detectDuplicates();
    model->choose();
    ASSERT_TRUE(waitFor([&] { return !model->detectingDuplicates(); }));
    EXPECT_FALSE(model->duplicateReport());
}

TEST(AppModelScan, RefusedFolders)
{
    ModelHome env;
    std::string chosen;
    auto model = modelChoosing(env, chosen);

    makeDirs(env.home.path("Library/Mail"));
    makeDirs(env.home.path("ok/System"));
    makeDirs(env.home.path("Trashy/.Trash-1000/files"));
    makeDirs(env.home.path("plain"));
    makeDirs(env.trashFiles());
    std::filesystem::create_directory_symlink(env.home.path("ok/System"), env.home.path("link"));
    expectRefused(*model, chosen,
                  {"/", env.home.path("Library/Mail"), env.home.path("link"), env.home.path("Trashy/.Trash-1000/files"),
                   env.trashFiles(), "/proc/self", "/sys"},
                  "请选择普通文件夹，如下载或文稿。首版不扫描系统、Library、备份或废纸篓。");
    std::filesystem::create_directory_symlink(env.home.path("plain"), env.home.path("fine"));
    chosen = env.home.path("fine");
    model->setMessage(std::nullopt);
    model->choose();
    EXPECT_EQ(model->root(), env.home.path("fine")) << "accepted folders are kept as chosen, not resolved";
    EXPECT_FALSE(model->message().has_value());

    // Cancelling the chooser changes nothing.
    AppModel::Collaborators cancelling = env.services(std::nullopt);
    auto other = env.model(cancelling);
    QSignalSpy root(other.get(), &AppModel::rootChanged);
    other->choose();
    EXPECT_EQ(root.count(), 0);
}

// Tessyn's own store folder is refused however it is named, and a folder that holds it is
// scanned without it: its history, journal and lock files are never offered for a move.
TEST(AppModelScan, OwnDataFolderIsRefusedAndSkipped)
{
    ModelHome env;
    std::string chosen;
    auto model = modelChoosing(env, chosen);
    // Its stores as a running copy leaves them, locks included.
    model->clearHistory();
    env.journal()->record(movedRecord("/data/a.txt", 10), OperationJournal::kMoving);
    makeDirs(env.storeFolder() + "/inside");
    ASSERT_TRUE(std::filesystem::exists(env.historyPath() + ".lock"));

    std::filesystem::create_directory_symlink(env.storeFolder(), env.home.path("store-link"));
    std::filesystem::create_directory_symlink(env.home.dataHome(), env.home.path("data-link"));
    const std::string store = env.storeFolder();
    expectRefused(*model, chosen,
                  {store, store + "/", store + "/inside", env.home.path("store-link"), env.home.path("data-link/Tessyn"),
                   env.home.dataHome() + "/nowhere/../Tessyn", store + "/missing/..",
                   env.home.path("data-link/Tessyn/inside")});

    writeFile(env.home.dataHome() + "/notes/Tessyn/kept.txt", "another folder of that name");
    writeFile(env.home.dataHome() + "/plain.txt", "plain");
    model->setMessage(std::nullopt);
    chosen = env.home.dataHome();
    chooseAndScan(*model);
    EXPECT_FALSE(model->message().has_value()) << "a folder holding the store is accepted";
    std::vector<std::string> found = scannedPaths(*model);
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, (std::vector<std::string>{env.home.dataHome() + "/notes/Tessyn/kept.txt",
                                                env.home.dataHome() + "/plain.txt"}));
}

// `source` also reachable at `target` while this lives (needs the right to mount).
struct BindMount {
    std::string target;
    bool mounted = false;
    BindMount(const std::string& source, std::string at) : target(std::move(at))
    {
        makeDirs(target);
        mounted = mount(source.c_str(), target.c_str(), nullptr, MS_BIND, nullptr) == 0;
    }
    ~BindMount()
    {
        if (mounted) umount2(target.c_str(), MNT_DETACH);
    }
};

// The store folder reached through a bind mount is the same folder: refused when chosen, and
// skipped in a scan of a folder that reaches it that way.
TEST(AppModelScan, OwnDataFolderIsKnownAlsoThroughABindMount)
{
    ModelHome env;
    std::string chosen;
    auto model = modelChoosing(env, chosen);
    model->clearHistory();
    ASSERT_TRUE(std::filesystem::exists(env.historyPath() + ".lock"));
    writeFile(env.home.dataHome() + "/plain.txt", "plain");
    BindMount store(env.storeFolder(), env.home.path("elsewhere/store"));
    BindMount data(env.home.dataHome(), env.home.path("elsewhere/data"));
    if (!store.mounted || !data.mounted) GTEST_SKIP() << "bind mounts need the right to mount";

    expectRefused(*model, chosen, {store.target, store.target + "/"});

    model->setMessage(std::nullopt);
    chosen = data.target;
    chooseAndScan(*model);
    EXPECT_EQ(scannedPaths(*model), std::vector<std::string>{data.target + "/plain.txt"});
}

// The Trash and its files/ and info/ reached through a bind mount are the same folders:
// refused when chosen, and skipped in a scan of a folder that reaches them that way.
TEST(AppModelScan, TrashFoldersAreKnownAlsoThroughABindMount)
{
    for (const char* folder : {"Trash", "Trash/files", "Trash/info"}) {
        SCOPED_TRACE(folder);
        ModelHome env;
        std::string chosen;
        auto model = modelChoosing(env, chosen);
        Trash::trashItem(writeFile(env.home.path("trashed.txt"), "trashed"));
        std::string plain = writeFile(env.home.path("elsewhere/plain.txt"), "plain");
        BindMount trash(env.home.dataHome() + "/" + folder, env.home.path("elsewhere/bound"));
        if (!trash.mounted) GTEST_SKIP() << "bind mounts need the right to mount";

        expectRefused(*model, chosen, {trash.target, trash.target + "/files"},
                      "请选择普通文件夹，如下载或文稿。首版不扫描系统、Library、备份或废纸篓。");
        model->setMessage(std::nullopt);
        chosen = env.home.path("elsewhere");
        chooseAndScan(*model);
        EXPECT_EQ(scannedPaths(*model), std::vector<std::string>{plain});
    }
}

TEST(AppModelQuery, RefreshesAndDebounce)
{
    ModelHome env;
    auto model = env.scannedModel(250);
    std::string tree = env.tree();
    EXPECT_EQ(model->queryResults().files.size(), 250u);
    EXPECT_EQ(model->queryResults().presentation.size(), 200u) << "only the first 200 rows are formatted";
    for (size_t i = 0; i < 200; ++i)
        EXPECT_TRUE(model->queryResults().presentation.count(model->queryResults().files[i].path));

    QSignalSpy published(model.get(), &AppModel::queryResultsChanged);
    for (int i = 0; i < 5; ++i) {
        model->setSearch("/f0000" + std::to_string(i + 1));
        EXPECT_TRUE(model->filtering());
        if (i < 4) QTest::qWait(20);  // typing pace, well inside the debounce: not a wait for anything
    }
    ASSERT_TRUE(waitFor([&] { return !model->filtering(); }));
    ASSERT_TRUE(settleWorkers()) << "anything still pending has published now";
    EXPECT_EQ(published.count(), 1) << "a burst of edits publishes once";
    ASSERT_EQ(model->queryResults().files.size(), 1u);
    EXPECT_EQ(model->queryResults().files[0].path, tree + "/f00005.txt") << "computed from the last value";

    published.clear();
    model->setFilter(model->filter());
    EXPECT_TRUE(model->filtering()) << "assigning the current value still queries";
    ASSERT_TRUE(waitFor([&] { return !model->filtering(); }));
    EXPECT_EQ(published.count(), 1);

    // A menu choice does not wait: it cancels a pending debounced query and runs at once.
    published.clear();
    model->setSearch("");
    model->setSort("名称");
    ASSERT_TRUE(waitFor([&] { return !model->filtering(); }));
    ASSERT_TRUE(settleWorkers());
    EXPECT_EQ(published.count(), 1);
    EXPECT_EQ(model->queryResults().files.size(), 250u);
    EXPECT_EQ(model->queryResults().files[0].path, tree + "/f00000.txt");

    model->setThreshold(0.0);
    model->setFilter("大文件");
    ASSERT_TRUE(waitFor([&] { return !model->filtering(); }));
    EXPECT_EQ(model->queryResults().files.size(), 250u);
}

TEST(AppModelQuery, DuplicateGroups)
{
    ModelHome env;
    std::string tree = env.home.path("tree");
    writeFile(tree + "/a1.txt", "same A");
    writeFile(tree + "/a2.txt", "same A");
    writeFile(tree + "/b1.txt", "same BB");
    writeFile(tree + "/b2.txt", "same BB");
    writeFile(tree + "/b3.txt", "same BB");
    writeFile(tree + "/single.txt", "alone");
    auto model = env.model(env.services(tree));
    chooseAndScan(*model);

    model->setFilter("重复文件");
    ASSERT_TRUE(waitFor([&] { return !model->filtering(); }));
    EXPECT_TRUE(model->queryResults().files.empty()) << "no duplicate report yet";
    EXPECT_TRUE(model->queryResults().groups.empty());

    model->detectDuplicates();
    ASSERT_TRUE(waitFor([&] { return !model->detectingDuplicates() && !model->filtering(); }));
    ASSERT_EQ(model->duplicateReport()->groups.size(), 2u);
    EXPECT_EQ(model->queryResults().groups, model->duplicateReport()->groups) << "every group, unchanged, in order";
    EXPECT_EQ(model->queryResults().files.size(), 5u);

    model->setSearch("a2.txt");
    ASSERT_TRUE(waitFor([&] { return !model->filtering(); }));
    ASSERT_EQ(model->queryResults().groups.size(), 1u);
    EXPECT_EQ(model->queryResults().groups[0].files.size(), 2u) << "groups are narrowed, not their members";
    EXPECT_EQ(model->queryResults().groups[0].files[0].path, tree + "/a1.txt");

    model->setSearch("");
    model->setFilter("全部文件");
    ASSERT_TRUE(waitFor([&] { return !model->filtering(); }));
    EXPECT_TRUE(model->queryResults().groups.empty()) << "groups only under the duplicate filter";
    EXPECT_EQ(model->queryResults().files.size(), 6u);
}

TEST(AppModelSelection, SummariesAndCopies)
{
    ModelHome env;
    std::string tree = env.home.path("tree");
    writeFile(tree + "/big.txt", std::string(300, 'x'));
    writeFile(tree + "/small.txt", std::string(20, 'y'));
    auto model = env.model(env.services(tree));
    chooseAndScan(*model);

    QSignalSpy files(model.get(), &AppModel::selectedFilesChanged);
    QSignalSpy selection(model.get(), &AppModel::selectionChanged);
    model->setSelection(set({tree + "/small.txt", tree + "/big.txt", "/not/scanned"}));
    EXPECT_EQ(files.count(), 1);
    ASSERT_EQ(model->selectedFiles().size(), 2u);
    EXPECT_EQ(model->selectedFiles()[0].path, tree + "/big.txt") << "report order";
    EXPECT_EQ(model->selectedSize(), 320) << "a path outside the report is not counted";
    model->setSelection(model->selection());
    EXPECT_EQ(selection.count(), 2) << "every assignment is published";
    EXPECT_EQ(files.count(), 1) << "an unchanged set is not summarised again";

    DuplicateGroup group = groupOf({"/g/1", "/g/2", "/g/3"});
    model->setSelection(set({"/outside", "/g/1"}));
    model->selectCopies(group, "/g/2");
    EXPECT_EQ(model->selection(), set({"/outside", "/g/1", "/g/3"}));
    model->selectCopies(group, "/g/1", 1);
    EXPECT_EQ(model->selection(), set({"/outside"})) << "the kept copy counts against the limit";
    model->selectCopies(group, "/g/3", 2);
    EXPECT_EQ(model->selection(), set({"/outside", "/g/1", "/g/2"}));
    model->selectCopies(group, "/g/3", 10);
    EXPECT_EQ(model->selection(), set({"/outside", "/g/1", "/g/2"}));
    model->selectCopies(group, "/g/3", -1);
    EXPECT_EQ(model->selection(), set({"/outside"})) << "a negative limit selects nothing of the group";
}

TEST(AppModelFreeSpace, WindowAndStaleQueries)
{
    ModelHome env;
    double now = 1000;
    std::mutex mutex;
    std::vector<std::string> reads;
    std::map<std::string, std::shared_ptr<Gate>> gates;
    AppModel::Collaborators services = env.services();
    services.clock = [&] { return now; };
    services.readAvailableSpace = [&](const std::string& folder) -> std::optional<int64_t> {
        std::shared_ptr<Gate> gate;
        {
            std::lock_guard lock(mutex);
            reads.push_back(folder);
            if (gates.count(folder)) gate = gates[folder];
        }
        if (gate) gate->wait();
        if (folder.find("fails") != std::string::npos) return std::nullopt;
        return static_cast<int64_t>(folder.size());
    };
    auto readCount = [&] {
        std::lock_guard lock(mutex);
        return reads.size();
    };
    std::string chosen;
    services.chooseFolder = [&] { return std::optional<std::string>(chosen); };
    makeDirs(env.home.path("Documents"));
    auto model = env.model(services);

    model->refreshAvailableSpace(false);
    ASSERT_TRUE(waitFor([&] { return model->availableSpace().has_value(); }));
    EXPECT_EQ(reads.back(), env.home.path("Documents")) << "without a folder the Documents volume is asked";
    now += 10;
    model->sampleMemory();
    EXPECT_EQ(readCount(), 1u) << "within 30 s of the last query nothing is asked";
    EXPECT_TRUE(model->availableSpace().has_value());
    now += 21;
    model->sampleMemory();
    ASSERT_TRUE(waitFor([&] { return readCount() == 2; })) << "31 s later a new query starts";

    makeDirs(env.home.path("a"));
    chosen = env.home.path("a");
    model->choose();
    ASSERT_TRUE(waitFor([&] { return readCount() == 3; })) << "assigning root always queries";
    now += 1;
    model->setRoot(model->root());
    ASSERT_TRUE(waitFor([&] { return readCount() == 4; })) << "even one second later";

    // A query overtaken by a newer one never publishes, even when it finishes last.
    auto slow = std::make_shared<Gate>();
    gates[env.home.path("a")] = slow;
    model->setRoot(env.home.path("a"));
    EXPECT_FALSE(model->availableSpace().has_value()) << "no value while a query runs";
    ASSERT_TRUE(waitFor([&] { return readCount() == 5; }));
    model->setRoot(env.home.path("bb"));
    ASSERT_TRUE(waitFor([&] { return model->availableSpace().has_value(); }));
    EXPECT_EQ(*model->availableSpace(), static_cast<int64_t>(env.home.path("bb").size()));
    QSignalSpy space(model.get(), &AppModel::availableSpaceChanged);
    slow->open();
    ASSERT_TRUE(settleWorkers());
    EXPECT_EQ(space.count(), 0);
    EXPECT_EQ(*model->availableSpace(), static_cast<int64_t>(env.home.path("bb").size()));

    model->setRoot(env.home.path("fails"));
    ASSERT_TRUE(waitFor([&] { return readCount() == 7; }));
    ASSERT_TRUE(settleWorkers());
    EXPECT_FALSE(model->availableSpace().has_value()) << "a failed read publishes nothing";

    // The real reading: statvfs of the folder's volume.
    AppModel real(std::nullopt, std::nullopt, std::nullopt, env.services(env.home.root()));
    real.choose();
    ASSERT_TRUE(waitFor([&] { return real.availableSpace().has_value(); }));
    EXPECT_GT(*real.availableSpace(), 0);
}

// A fresh account often has no Documents folder: before a folder is chosen the home's volume
// is measured then, so the free space is known.
TEST(AppModelFreeSpace, WithoutDocumentsTheHomeVolumeIsMeasured)
{
    enum class Documents { present, missing, unknown };
    for (Documents documents : {Documents::present, Documents::missing, Documents::unknown}) {
        SCOPED_TRACE(documents == Documents::present ? "with Documents"
                     : documents == Documents::missing ? "without Documents"
                                                       : "no Documents location known");
        ModelHome env;
        if (documents == Documents::present) makeDirs(env.home.path("Documents"));
        std::mutex mutex;
        std::vector<std::string> reads;
        AppModel::Collaborators services = env.services();
        if (documents == Documents::unknown) services.documentsFolder = [] { return std::optional<std::string>(); };
        services.readAvailableSpace = [&](const std::string& folder) -> std::optional<int64_t> {
            std::lock_guard lock(mutex);
            reads.push_back(folder);
            return 1;
        };
        auto model = env.model(services);
        model->refreshAvailableSpace(true);
        ASSERT_TRUE(settleWorkers());
        std::lock_guard lock(mutex);
        EXPECT_EQ(reads, std::vector<std::string>{documents == Documents::present ? env.home.path("Documents")
                                                                                  : model->maintenanceHome()});

        // The real reading: statvfs of that volume.
        AppModel::Collaborators measuring = env.services();
        measuring.documentsFolder = services.documentsFolder;
        AppModel real(std::nullopt, std::nullopt, std::nullopt, measuring);
        real.refreshAvailableSpace(true);
        ASSERT_TRUE(settleWorkers());
        ASSERT_TRUE(real.availableSpace().has_value());
        EXPECT_GT(*real.availableSpace(), 0);
    }
}

// Query results and selection summaries are the report's own records, not copies, and stay
// readable after the model has moved on to another report.
TEST(AppModelQuery, ResultsReferToTheReportsRecords)
{
    ModelHome env;
    auto model = env.scannedModel(30);
    model->setFilter("全部文件");
    QTRY_VERIFY(!model->filtering());
    AppModel::ReportRef report = model->report();
    const auto& rows = model->queryResults().files;
    ASSERT_EQ(rows.size(), report->files.size());
    auto inReport = [&](const FileEntry& file) {
        return &file >= report->files.data() && &file < report->files.data() + report->files.size();
    };
    for (const FileEntry& file : rows) EXPECT_TRUE(inReport(file)) << file.path;
    model->setSelection(set({report->files[3].path, report->files[1].path}));
    ASSERT_EQ(model->selectedFiles().size(), 2u);
    EXPECT_EQ(&model->selectedFiles()[0], &report->files[1]) << "report order, the report's record";
    EXPECT_EQ(&model->selectedFiles()[1], &report->files[3]);

    ReportRows kept = model->queryResults().files;
    ReportRows keptSelection = model->selectedFiles();
    std::vector<FileEntry> before = kept.toVector();
    std::string firstSelected = keptSelection[0].path;
    std::weak_ptr<const ScanReport> old = report;
    report.reset();
    model->setReport(std::make_shared<ScanReport>());
    QTRY_VERIFY(!model->filtering());
    EXPECT_TRUE(model->queryResults().files.empty());
    EXPECT_TRUE(model->selectedFiles().empty());
    EXPECT_FALSE(old.expired()) << "kept alive by the rows still held";
    EXPECT_EQ(kept.toVector(), before);
    EXPECT_EQ(keptSelection[0].path, firstSelected);
    kept = {};
    keptSelection = {};
    QTRY_VERIFY2(old.expired(), "and freed with the last of them");
}
