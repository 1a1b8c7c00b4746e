#include "model/AppModel.h"
#include "model/PostToModel.h"

#include "engine/Dates.h"
#include "engine/DuplicateEngine.h"
#include "engine/FileEngine.h"
#include "engine/FileQuery.h"
#include "engine/Uuid.h"
#include "platform/Errors.h"
#include "platform/LinuxRunningApplications.h"
#include "platform/Locations.h"
#include "platform/PathText.h"
#include "services/InstalledAppInventory.h"
#include "services/ProcessMemoryReader.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <map>
#include <span>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

const char kDuplicateFilter[] = "重复文件";

// The report's records, kept alive by whoever holds them; none without a report.
ReportRows::Records recordsOf(const std::shared_ptr<const ScanReport>& report)
{
    if (!report) return nullptr;
    return ReportRows::Records(report, &report->files);
}

// Whether something is found at the path, links followed.
bool fileExists(const std::string& path)
{
    struct stat info {};
    return stat(path.c_str(), &info) == 0;
}

std::string resolvedOrSame(const std::string& path)
{
    try {
        return FileEngine::canonicalURL(path);
    } catch (const std::exception&) {
        return path;
    }
}

bool isBelowOrSame(const std::string& path, const std::string& folder)
{
    if (folder.empty()) return false;
    if (path == folder) return true;
    std::string prefix = folder.back() == '/' ? folder : folder + "/";
    return path.rfind(prefix, 0) == 0;
}

// Folders a scan is never started in: the system's root, anything whose resolved path passes
// through a library, system, backup or Trash folder, and the kernel's virtual file systems.
bool isRefusedFolder(const std::string& chosen)
{
    if (chosen == "/") return true;
    std::string resolved = resolvedOrSame(chosen);
    if (resolved == "/") return true;
    size_t start = 0;
    while (start <= resolved.size()) {
        size_t end = resolved.find('/', start);
        if (end == std::string::npos) end = resolved.size();
        std::string_view part(resolved.data() + start, end - start);
        if (part == "Library" || part == "System" || part == "Backups.backupdb" || part == ".Trash") return true;
        if (part.size() > 7 && part.substr(0, 7) == ".Trash-" &&
            std::all_of(part.begin() + 7, part.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return true;
        start = end + 1;
    }
    for (const char* system : {"/proc", "/sys", "/dev", "/run"})
        if (isBelowOrSame(resolved, system)) return true;
    return isBelowOrSame(resolved, resolvedOrSame(Locations::homeTrash()));
}

std::optional<int64_t> statvfsAvailable(const std::string& folder)
{
    struct statvfs info {};
    if (statvfs(folder.c_str(), &info) != 0) return std::nullopt;
    return static_cast<int64_t>(info.f_bavail) * static_cast<int64_t>(info.f_frsize);
}

std::optional<std::string> documentsFolder()
{
    QString path = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (path.isEmpty()) return std::nullopt;
    return QFile::encodeName(path).toStdString();
}

std::optional<std::string> openWithDesktop(const std::string& path)
{
    QProcess process;
    process.setProgram(QStringLiteral("xdg-open"));
    process.setArguments({QFile::decodeName(QByteArray::fromStdString(path))});
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    if (process.startDetached()) return std::nullopt;
    return process.errorString().toStdString();
}

double steadySeconds()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

// The inputs of one query, taken when it was started.
struct AppModel::QueryInput {
    std::string id;
    std::stop_source source;
    ReportRef report;
    DuplicateReportRef duplicates;
    std::string filter;
    std::string search;
    double threshold = 0;
    std::string sort;
};

// The trash run in progress, for the journal checkpoints made while it runs.
struct AppModel::ActionRun {
    std::string id;
    PathSet targets;          // paths of the files handed to the engine
    double startDate = 0;     // records of this run are made after it
    int64_t selectedCount = 0;
    // Records saved at checkpoints: the journal no longer holds them, so until the run
    // publishes its records the history file is their only trace.
    std::vector<Operation> settled;
};

AppModel::AppModel(std::optional<std::string> historyPath, std::optional<std::vector<std::string>> appRoots,
                   std::optional<std::string> userHome, Collaborators collaborators, QObject* parent)
    : QObject(parent),
      services_(std::move(collaborators)),
      journal_(std::make_shared<OperationJournal>(
          parentOf(historyPath ? *historyPath : Locations::applicationSupport() + "/operations.json") +
          "/pending-actions.json")),
      historyStore_(historyPath ? *historyPath : Locations::applicationSupport() + "/operations.json", journal_)
{
    if (!services_.preview) services_.preview = openWithDesktop;
    if (!services_.runningApplications) services_.runningApplications = std::make_shared<LinuxRunningApplications>();
    if (!services_.clock) services_.clock = steadySeconds;
    if (!services_.readMemory) services_.readMemory = [] { return MemorySnapshot::read(); };
    if (!services_.readApplicationMemory) services_.readApplicationMemory = ProcessMemoryReader::read;
    if (!services_.readAvailableSpace) services_.readAvailableSpace = statvfsAvailable;
    if (!services_.documentsFolder) services_.documentsFolder = documentsFolder;

    queryDebounce_.setSingleShot(true);
    queryDebounce_.setInterval(kQueryDebounceMs);
    connect(&queryDebounce_, &QTimer::timeout, this, &AppModel::startQuery);

    scanID_ = newUUID();
    duplicateID_ = newUUID();
    queryID_ = newUUID();
    capacityQueryID_ = newUUID();
    actionID_ = newUUID();

    memory_ = services_.readMemory();

    std::string home = userHome ? *userHome : Locations::homeFolder();
    maintenanceHome_ = resolvedOrSame(home);
    maintenanceAppRoots_ = appRoots ? *appRoots
                                    : std::vector<std::string>{Locations::systemApplications(),
                                                               (home == "/" ? "" : home) + "/Applications"};

    std::error_code created;
    std::filesystem::create_directories(parentOf(historyStore_.historyPath()), created);
    if (created) message_ = "无法创建操作记录目录：" + posixError(created.value()).code().message();

    // Only a file that is there is read: a store folder that could not be made leaves no file.
    if (fileExists(historyStore_.historyPath()))
        if (auto failure = historyStore_.load()) message_ = *failure;
    mergeJournalAtStart();
}

AppModel::~AppModel()
{
    // Cancel everything first so the workers end together, then wait for each.
    for (JobThreads* jobs : {&scanJobs_, &duplicateJobs_, &queryJobs_, &capacityJobs_, &actionJobs_, &restoreJobs_,
                             &memoryJobs_, &releaseJobs_, &maintenanceJobs_})
        jobs->requestStop();
    for (JobThreads* jobs : {&scanJobs_, &duplicateJobs_, &queryJobs_, &capacityJobs_, &actionJobs_, &restoreJobs_,
                             &memoryJobs_, &releaseJobs_, &maintenanceJobs_})
        jobs->join();
}

// ---------------------------------------------------------------------------------------------
// Start-up

void AppModel::mergeJournalAtStart()
{
    std::vector<std::string> notes;
    std::vector<OperationJournal::Entry> entries;
    try {
        if (fileExists(journal_->path())) entries = journal_->entries();
    } catch (const std::exception& error) {
        notes.push_back("操作日志无法读取，已保留原文件；新的移入废纸篓操作将停止：" + errorDescription(error));
        recoveryNotes_ = std::move(notes);
        return;
    }
    bool anyFinished = false;
    std::vector<Operation>& history = historyStore_.history();
    for (OperationJournal::Entry& entry : entries) {
        if (entry.phase == OperationJournal::kFinished) {
            anyFinished = true;
            auto same = std::find_if(history.begin(), history.end(),
                                     [&](const Operation& op) { return op.id == entry.operation.id; });
            if (same != history.end())
                *same = std::move(entry.operation);
            else
                history.insert(history.begin(), std::move(entry.operation));
        } else {
            if (entry.phase == OperationJournal::kMoving) FileActionEngine::removeInterruptedInfo(entry.operation);
            notes.push_back("操作中断：" + entry.operation.path +
                            "。状态未确认，请检查原位置与 Finder 废纸篓；不会自动重试或覆盖。");
        }
    }
    if (anyFinished) {
        if (auto failure = historyStore_.saveHistory(false))
            notes.push_back(saveFailureText("恢复记录保存失败：", *failure));
        else
            notes.push_back("已从操作回执补全记录；请核对后再恢复。");
    }
    recoveryNotes_ = std::move(notes);
}

// ---------------------------------------------------------------------------------------------
// Assignments

void AppModel::setCacheSelection(PathSet paths)
{
    cacheSelection_ = std::move(paths);
    emit cacheSelectionChanged();
}

void AppModel::setMaintenanceStop(bool stop)
{
    maintenanceStop_ = stop;
    emit maintenanceStopChanged();
}

void AppModel::setRoot(std::optional<std::string> folder)
{
    root_ = std::move(folder);
    ++rootGeneration_;
    emit rootChanged();
    refreshAvailableSpace(true);
}

void AppModel::setReport(ReportRef report)
{
    report_ = std::move(report);
    emit reportChanged();
    refreshResults(false);
    refreshSelection();
}

void AppModel::setDuplicateReport(DuplicateReportRef report)
{
    duplicateReport_ = std::move(report);
    emit duplicateReportChanged();
    refreshResults(false);
}

void AppModel::setSelection(PathSet paths)
{
    bool changed = paths != selection_;
    selection_ = std::move(paths);
    emit selectionChanged();
    if (changed) refreshSelection();
}

void AppModel::setFilter(std::string filter)
{
    filter_ = std::move(filter);
    emit filterChanged();
    refreshResults(false);
}

void AppModel::setSearch(std::string search)
{
    search_ = std::move(search);
    emit searchChanged();
    refreshResults(true);
}

void AppModel::setThreshold(double megabytes)
{
    threshold_ = megabytes;
    emit thresholdChanged();
    refreshResults(true);
}

void AppModel::setSort(std::string sort)
{
    sort_ = std::move(sort);
    emit sortChanged();
    refreshResults(false);
}

void AppModel::setMessage(std::optional<std::string> text)
{
    message_ = std::move(text);
    emit messageChanged();
}

void AppModel::setMemoryReleasing(bool value)
{
    memoryReleasing_ = value;
    emit memoryReleasingChanged();
}

void AppModel::setMaintenanceScanning(bool value)
{
    maintenanceScanning_ = value;
    emit maintenanceScanningChanged();
}

void AppModel::setScanning(bool value)
{
    scanning_ = value;
    emit scanningChanged();
}

void AppModel::setDetectingDuplicates(bool value)
{
    detectingDuplicates_ = value;
    emit detectingDuplicatesChanged();
}

void AppModel::setProcessing(bool value)
{
    processing_ = value;
    emit processingChanged();
}

void AppModel::setRestoring(bool value)
{
    restoring_ = value;
    emit restoringChanged();
}

void AppModel::setFiltering(bool value)
{
    filtering_ = value;
    emit filteringChanged();
}

void AppModel::setScanProgress(ScanProgress value)
{
    scanProgress_ = std::move(value);
    emit scanProgressChanged();
}

void AppModel::setDuplicateProgress(DuplicateProgress value)
{
    duplicateProgress_ = std::move(value);
    emit duplicateProgressChanged();
}

void AppModel::setActionProgress(ActionProgress value)
{
    actionProgress_ = std::move(value);
    emit actionProgressChanged();
}

void AppModel::setAvailableSpace(std::optional<int64_t> value)
{
    availableSpace_ = value;
    emit availableSpaceChanged();
}

void AppModel::setCompletedAt(std::optional<double> value)
{
    completedAt_ = value;
    emit completedAtChanged();
}

void AppModel::setMemory(std::optional<MemorySnapshot> value)
{
    memory_ = std::move(value);
    emit memoryChanged();
}

void AppModel::setRecoveryNotes(std::vector<std::string> notes)
{
    recoveryNotes_ = std::move(notes);
    emit recoveryNotesChanged();
}

// ---------------------------------------------------------------------------------------------
// Folder, scan and duplicates

void AppModel::choose()
{
    std::optional<std::string> chosen = services_.chooseFolder ? services_.chooseFolder() : std::nullopt;
    if (!chosen || chosen->empty()) return;
    if (isRefusedFolder(*chosen)) {
        setMessage("请选择普通文件夹，如下载或文稿。首版不扫描系统、Library、备份或废纸篓。");
        return;
    }
    // Results of the old folder must not arrive under the new one: stop its jobs now; their
    // completions still clear the busy flags but publish nothing (see finishScan).
    cancelScanJobs();
    setRoot(std::move(chosen));
    setReport(nullptr);
    setDuplicateReport(nullptr);
    setSelection({});
    setCompletedAt(std::nullopt);
}

void AppModel::scan()
{
    if (!root_ || scanning_ || processing_ || detectingDuplicates_) return;
    setScanning(true);
    setSelection({});
    setReport(nullptr);
    setDuplicateReport(nullptr);
    setCompletedAt(std::nullopt);
    setScanProgress({});

    scanID_ = newUUID();
    std::string id = scanID_;
    uint64_t generation = rootGeneration_;
    std::string folder = *root_;
    std::stop_source source;
    scanTask_ = source;
    scanJobs_.start(source, [this, id, generation, folder](std::stop_token stop) {
        auto progress = [this, id, generation](const ScanProgress& value) {
            post(this, [this, id, generation, value] {
                if (scanID_ == id && scanning_ && rootGeneration_ == generation) setScanProgress(value);
            });
        };
        auto report = std::make_shared<const ScanReport>(FileEngine::scan(folder, progress, stop));
        post(this, [this, generation, report] { finishScan(generation, report); });
    });
}

void AppModel::finishScan(uint64_t rootGeneration, ReportRef report)
{
    bool current = rootGeneration == rootGeneration_;
    if (current) setReport(std::move(report));
    setScanning(false);
    if (current) setCompletedAt(dateNow());
    scanTask_.reset();
}

void AppModel::detectDuplicates()
{
    if (!root_ || !report_ || scanning_ || processing_ || detectingDuplicates_) return;
    setDetectingDuplicates(true);
    setDuplicateReport(nullptr);
    setDuplicateProgress({});
    setSelection({});

    duplicateID_ = newUUID();
    std::string id = duplicateID_;
    uint64_t generation = rootGeneration_;
    ReportRef report = report_;
    std::string folder = *root_;
    std::stop_source source;
    duplicateTask_ = source;
    duplicateJobs_.start(source, [this, id, generation, report, folder](std::stop_token stop) {
        auto progress = [this, id, generation](const DuplicateProgress& value) {
            post(this, [this, id, generation, value] {
                if (duplicateID_ == id && detectingDuplicates_ && rootGeneration_ == generation)
                    setDuplicateProgress(value);
            });
        };
        auto result = std::make_shared<const DuplicateReport>(DuplicateEngine::find(report->files, folder, progress, stop));
        post(this, [this, generation, result] { finishDuplicates(generation, result); });
    });
}

void AppModel::finishDuplicates(uint64_t rootGeneration, DuplicateReportRef report)
{
    if (rootGeneration == rootGeneration_) setDuplicateReport(std::move(report));
    setDetectingDuplicates(false);
    duplicateTask_.reset();
}

void AppModel::cancelScanJobs()
{
    if (scanTask_) scanTask_->request_stop();
    if (duplicateTask_) duplicateTask_->request_stop();
}

// ---------------------------------------------------------------------------------------------
// Query and selection

void AppModel::refreshResults(bool debounce)
{
    if (queryTask_) queryTask_->request_stop();
    queryDebounce_.stop();
    queryID_ = newUUID();

    auto input = std::make_unique<QueryInput>();
    input->id = queryID_;
    input->report = report_;
    input->duplicates = duplicateReport_;
    input->filter = filter_;
    input->search = search_;
    input->threshold = threshold_;
    input->sort = sort_;
    queryTask_ = input->source;
    setFiltering(true);

    pendingQuery_ = std::move(input);
    if (debounce)
        queryDebounce_.start();
    else
        startQuery();
}

void AppModel::startQuery()
{
    std::unique_ptr<QueryInput> input = std::move(pendingQuery_);
    if (!input || input->source.stop_requested()) return;
    std::shared_ptr<const QueryInput> shared(std::move(input));
    queryJobs_.start(shared->source, [this, shared](std::stop_token stop) {
        static const std::vector<FileEntry> none;
        const std::vector<FileEntry>& entries = shared->report ? shared->report->files : none;
        bool duplicateFilter = shared->filter == kDuplicateFilter;
        PathSet duplicatePaths;
        if (duplicateFilter && shared->duplicates)
            for (const DuplicateGroup& group : shared->duplicates->groups)
                for (const FileEntry& file : group.files) duplicatePaths.insert(file.path);

        auto result = std::make_shared<QueryResults>();
        // Positions into the report, which the results keep alive, rather than copies.
        result->files = ReportRows(recordsOf(shared->report),
                                   FileQuery::positions(entries, shared->filter, shared->search, shared->threshold,
                                                        duplicatePaths, shared->sort, stop));
        size_t shown = std::min(kPresentedRows, result->files.size());
        std::vector<FileEntry> head(result->files.begin(), result->files.begin() + static_cast<std::ptrdiff_t>(shown));
        result->presentation = FileQuery::presentation(head, stop);
        if (duplicateFilter && shared->duplicates) {
            if (shared->search.empty()) {
                result->groups = shared->duplicates->groups;
            } else {
                PathSet found;
                for (const FileEntry& file : result->files) found.insert(file.path);
                for (const DuplicateGroup& group : shared->duplicates->groups)
                    if (std::any_of(group.files.begin(), group.files.end(),
                                    [&](const FileEntry& file) { return found.count(file.path) > 0; }))
                        result->groups.push_back(group);
            }
        }
        post(this, [this, shared, result] {
            if (shared->source.stop_requested() || queryID_ != shared->id) return;
            // Freeing a million old rows takes tens of milliseconds: a worker does it, so the
            // window keeps answering while the user types or switches filters.
            auto previous = std::make_shared<QueryResults>(std::move(queryResults_));
            queryResults_ = std::move(*result);
            emit queryResultsChanged();
            setFiltering(false);
            queryJobs_.start(std::stop_source(), [previous = std::move(previous)](std::stop_token) mutable { previous.reset(); });
        });
    });
}

void AppModel::refreshSelection()
{
    std::vector<uint32_t> positions;
    int64_t size = 0;
    if (!selection_.empty() && report_) {
        for (size_t i = 0; i < report_->files.size(); ++i) {
            const FileEntry& file = report_->files[i];
            if (!selection_.count(file.path)) continue;
            positions.push_back(static_cast<uint32_t>(i));
            size += file.size;
        }
    }
    selectedFiles_ = ReportRows(recordsOf(report_), std::move(positions));
    emit selectedFilesChanged();
    selectedSize_ = size;
    emit selectedSizeChanged();
}

void AppModel::selectCopies(const DuplicateGroup& group, const std::string& keeping, std::optional<int> limit)
{
    PathSet next = selection_;
    for (const FileEntry& file : group.files) next.erase(file.path);
    size_t count = group.files.size();
    if (limit) count = std::min(count, static_cast<size_t>(std::max(*limit, 0)));
    for (size_t i = 0; i < count; ++i)
        if (group.files[i].path != keeping) next.insert(group.files[i].path);
    setSelection(std::move(next));
}

// ---------------------------------------------------------------------------------------------
// Free space

void AppModel::refreshAvailableSpace(bool force)
{
    std::optional<std::string> target = root_ ? root_ : services_.documentsFolder();
    if (!target) return;
    double now = services_.clock();
    if (!force && capacityURL_ == target && capacityDate_ && now - *capacityDate_ < kCapacityWindow) return;
    if (capacityTask_) capacityTask_->request_stop();
    capacityQueryID_ = newUUID();
    std::string id = capacityQueryID_;
    capacityURL_ = target;
    capacityDate_ = now;
    setAvailableSpace(std::nullopt);

    std::stop_source source;
    capacityTask_ = source;
    auto read = services_.readAvailableSpace;
    capacityJobs_.start(source, [this, id, source, read, folder = *target](std::stop_token) {
        std::optional<int64_t> value = read(folder);
        post(this, [this, id, source, value] {
            if (source.stop_requested() || capacityQueryID_ != id) return;
            setAvailableSpace(value);
        });
    });
}

// ---------------------------------------------------------------------------------------------
// File actions

// A save that wrote the history and failed only at the journal step after it says so, rather
// than that the history was not saved.
std::string AppModel::saveFailureText(const std::string& words, const std::string& failure) const
{
    return (historyStore_.lastSaveWritten() ? "操作记录已保存，但操作日志未能更新：" : words) + failure;
}

std::optional<std::string> AppModel::saveHistory(bool replacing)
{
    std::optional<std::string> failure = historyStore_.saveHistory(replacing);
    emit historyChanged(); // the merge may have added records and sorted them
    return failure;
}

QFuture<void> AppModel::trashSelected()
{
    if (!root_ || processing_ || scanning_ || detectingDuplicates_) return Completion::now();
    std::vector<FileEntry> files = selectedFiles_.toVector();
    std::vector<DuplicateGroup> groups = duplicateReport_ ? duplicateReport_->groups : std::vector<DuplicateGroup>{};
    PathSet selection = selection_;
    auto selectedCount = static_cast<int64_t>(files.size());

    setProcessing(true);
    setActionProgress({0, selectedCount, "正在复核所选文件"});
    actionID_ = newUUID();
    std::string id = actionID_;

    actionRun_ = std::make_unique<ActionRun>();
    actionRun_->id = id;
    for (const FileEntry& file : files) actionRun_->targets.insert(file.path);
    actionRun_->startDate = dateNow();
    actionRun_->selectedCount = selectedCount;

    std::stop_source source;
    actionTask_ = source;
    std::shared_ptr<OperationJournal> journal = journal_;
    size_t historyAtStart = historyStore_.history().size();
    Completion done;
    actionJobs_.start(source, [this, id, files = std::move(files), root = *root_, groups = std::move(groups),
                               selection = std::move(selection), journal, historyAtStart, done](std::stop_token stop) {
        auto progress = [this, id](const ActionProgress& value) {
            post(this, [this, id, value] { applyActionProgress(id, value); });
        };
        // Checkpoints follow the count of files, so the journal stays as short as planned
        // however fast the files go.
        int64_t lastCheckpoint = 0;
        auto counted = [this, id, historyAtStart, &lastCheckpoint](int64_t completed) {
            auto batch = HistoryStore::checkpointInterval(historyAtStart + static_cast<size_t>(completed));
            if (completed - lastCheckpoint < batch) return;
            lastCheckpoint = completed;
            post(this, [this, id] {
                if (processing_ && actionRun_ && actionRun_->id == id) checkpointAction();
            });
        };
        std::vector<Operation> records = FileActionEngine::execute(files, root, groups, selection, progress, {},
                                                                   journal.get(), stop, counted);
        post(this, [this, id, records = std::move(records), done]() mutable {
            finishAction(id, std::move(records));
            done.finish();
        });
    });
    return done.future();
}

void AppModel::cancelAction()
{
    if (actionTask_) actionTask_->request_stop();
}

void AppModel::applyActionProgress(const std::string& id, const ActionProgress& progress)
{
    if (!processing_ || actionID_ != id) return;
    setActionProgress(progress);
}

// Saves the history with the moves of the running trash action that the journal holds as
// finished, so the journal can drop them. Without this every finished entry stays in the
// journal until the run ends, and the journal, rewritten whole once per file, grows with
// the run. The published history is left as it was: the run's records join it at the end.
void AppModel::checkpointAction()
{
    ActionRun& run = *actionRun_;
    std::vector<OperationJournal::Entry> entries;
    try {
        entries = journal_->entries();
    } catch (const std::exception&) {
        return; // every move fails while the journal cannot be read; nothing to settle
    }
    std::vector<Operation> settled;
    for (OperationJournal::Entry& entry : entries)
        if (entry.phase == OperationJournal::kFinished && entry.operation.date >= run.startDate &&
            run.targets.count(entry.operation.path))
            settled.push_back(std::move(entry.operation));
    if (settled.empty()) return;
    std::vector<Operation>& history = historyStore_.history();
    std::vector<Operation> published = history;
    run.settled.insert(run.settled.end(), settled.begin(), settled.end());
    history.insert(history.begin(), std::make_move_iterator(settled.begin()), std::make_move_iterator(settled.end()));
    // A failure leaves the entries in the journal, which is as safe; the final save reports.
    (void)historyStore_.saveHistory(false);
    history = std::move(published);
}

void AppModel::finishAction(const std::string& id, std::vector<Operation> records)
{
    auto selectedCount = actionProgress_.total;
    if (actionRun_ && actionRun_->id == id) {
        selectedCount = actionRun_->selectedCount;
    }
    actionRun_.reset();
    actionTask_.reset();

    std::vector<Operation>& history = historyStore_.history();
    history.insert(history.begin(), records.begin(), records.end());
    emit historyChanged();
    // Always a merge: after checkpoints the file exists, and another running copy may have
    // added records to it since.
    std::optional<std::string> saveFailure = saveHistory(false);

    PathSet trashed;
    for (const Operation& record : records)
        if (record.success) trashed.insert(record.path);
    auto trashedCount = static_cast<int64_t>(trashed.size());

    if (report_) {
        auto kept = std::make_shared<ScanReport>(*report_);
        std::erase_if(kept->files, [&](const FileEntry& file) { return trashed.count(file.path) > 0; });
        setReport(kept);
        // Only the totals change here, never the files a running query reads.
        kept->rebuildStatistics();
        setReport(kept);
    } else {
        setReport(nullptr);
        setReport(nullptr);
    }

    if (duplicateReport_) {
        auto rebuilt = std::make_shared<DuplicateReport>();
        rebuilt->warnings = duplicateReport_->warnings;
        rebuilt->cancelled = duplicateReport_->cancelled;
        for (const DuplicateGroup& group : duplicateReport_->groups) {
            DuplicateGroup left{group.id, {}};
            for (const FileEntry& file : group.files)
                if (!trashed.count(file.path)) left.files.push_back(file);
            if (left.files.size() >= 2) rebuilt->groups.push_back(std::move(left));
        }
        setDuplicateReport(rebuilt);
    } else {
        setDuplicateReport(nullptr);
    }

    PathSet remaining = selection_;
    for (const std::string& path : trashed) remaining.erase(path);
    setSelection(std::move(remaining));

    setProcessing(false);

    auto recordCount = static_cast<int64_t>(records.size());
    std::string text = "已处理 " + std::to_string(trashedCount) + " 项，失败 " +
                       std::to_string(recordCount - trashedCount) + " 项。移入废纸篓不会立即释放磁盘空间。";
    if (recordCount < selectedCount)
        text += "\n已停止后续处理，" + std::to_string(selectedCount - recordCount) + " 项未处理。";
    if (trashedCount < selectedCount) text += "\n失败或未处理项仍保持选择，可核对原因后重试。";
    if (saveFailure) text += "\n" + saveFailureText("操作记录保存失败：", *saveFailure);
    setMessage(std::move(text));
}

QFuture<void> AppModel::restore(const Operation& record)
{
    if (processing_ || scanning_ || detectingDuplicates_ || record.restoredAt) return Completion::now();
    setProcessing(true);
    setRestoring(true);
    std::shared_ptr<OperationJournal> journal = journal_;
    // A restore is short and is never cancelled: the journal must say how it ended.
    Completion done;
    restoreJobs_.start(std::stop_source(), [this, record, journal, done](std::stop_token) {
        std::optional<std::string> failure = FileActionEngine::restoreTask(record, *journal);
        post(this, [this, id = record.id, failure, done] {
            finishRestore(id, failure);
            done.finish();
        });
    });
    return done.future();
}

void AppModel::finishRestore(const std::string& id, std::optional<std::string> error)
{
    if (error) {
        setMessage("恢复失败：" + *error);
    } else {
        std::vector<Operation>& history = historyStore_.history();
        auto same = std::find_if(history.begin(), history.end(), [&](const Operation& op) { return op.id == id; });
        if (same != history.end()) {
            same->restoredAt = dateNow();
            emit historyChanged();
        }
        std::string text = "已恢复到原位置。请重新扫描以更新文件列表。";
        if (auto failure = saveHistory(false)) text += "\n" + saveFailureText("记录保存失败：", *failure);
        setMessage(std::move(text));
    }
    setProcessing(false);
    setRestoring(false);
}

void AppModel::clearHistory()
{
    std::vector<Operation>& history = historyStore_.history();
    history.clear();
    emit historyChanged();
    // Moves a running trash action has already settled at its checkpoints are no longer in
    // the journal; they stay in the file until the run publishes them with its records.
    if (actionRun_) history = actionRun_->settled;
    std::optional<std::string> failure = historyStore_.saveHistory(true);
    history.clear();
    if (failure) setMessage(saveFailureText("记录清除保存失败：", *failure));
}

void AppModel::acknowledgeInterruptedActions()
{
    if (maintenanceBusy()) return;
    try {
        journal_->discardPending();
    } catch (const std::exception& error) {
        setMessage("无法清除中断日志，原文件已保留：" + errorDescription(error));
        return;
    }
    setRecoveryNotes({});
    setMessage("已清除已核对的中断提示，文件未改变。");
}

// ---------------------------------------------------------------------------------------------
// Installed applications

bool AppModel::maintenanceBusy() const
{
    return processing_ || scanning_ || detectingDuplicates_ || maintenanceScanning_ || memoryReleasing_;
}

QFuture<void> AppModel::refreshInstalledApps()
{
    if (maintenanceBusy()) return Completion::now();
    setMaintenanceScanning(true);
    Completion done;
    maintenanceJobs_.start(std::stop_source(), [this, roots = maintenanceAppRoots_, done](std::stop_token) {
        std::vector<InstalledApp> apps = MaintenanceEngine::discover(roots);
        post(this, [this, apps = std::move(apps), done]() mutable {
            installedApps_ = std::move(apps);
            emit installedAppsChanged();
            updateRunningApplicationSnapshot(services_.runningApplications->list());
            setMaintenanceScanning(false);
            done.finish();
        });
    });
    return done.future();
}

bool AppModel::appIsRunning(const InstalledApp& app) const
{
    for (const RunningApplication& running : services_.runningApplications->list())
        if ((running.bundleIdentifier && *running.bundleIdentifier == app.bundleID) ||
            (running.bundlePath && *running.bundlePath == app.path))
            return true;
    return false;
}

// ---------------------------------------------------------------------------------------------
// Shutdown

bool AppModel::prepareToQuit()
{
    if (processing_) {
        setMessage("文件处理尚未完成，请等待结果保存后再退出。");
        return false;
    }
    cancelScanJobs();
    scanJobs_.stopAndJoin();
    duplicateJobs_.stopAndJoin();
    return true;
}
