#include "model/AppModel.h"
#include "model/AppModelState.h"
#include "model/PostToModel.h"

#include "engine/Dates.h"
#include "engine/DuplicateEngine.h"
#include "engine/FileEngine.h"
#include "engine/Uuid.h"
#include "platform/Errors.h"
#include "platform/LinuxRunningApplications.h"
#include "platform/Locations.h"
#include "platform/PathText.h"
#include "platform/Trash.h"
#include "services/InstalledAppInventory.h"
#include "services/ProcessMemoryReader.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <iterator>
#include <unordered_map>
#include <sys/stat.h>
#include <sys/statvfs.h>

namespace {

// Whether something is found at the path, links followed.
bool fileExists(const std::string& path)
{
    struct stat info {};
    return stat(path.c_str(), &info) == 0;
}

bool isBelowOrSame(const std::string& path, const std::string& folder)
{
    if (folder.empty()) return false;
    if (path == folder) return true;
    std::string prefix = folder.back() == '/' ? folder : folder + "/";
    return path.rfind(prefix, 0) == 0;
}

// Whether the resolved folder or one above it is one of these folders (device, inode): a bind
// mount shows a folder under another path.
bool isInsideAnyOf(const std::filesystem::path& resolved, const std::vector<std::pair<dev_t, ino_t>>& folders)
{
    for (std::filesystem::path folder = resolved; !folder.empty(); folder = folder.parent_path()) {
        struct stat info {};
        if (stat(folder.c_str(), &info) == 0 &&
            std::find(folders.begin(), folders.end(), std::pair{info.st_dev, info.st_ino}) != folders.end())
            return true;
        if (folder == folder.parent_path()) break;
    }
    return false;
}

// Folders a scan is never started in: the system's root, anything whose resolved path passes
// through a library, system, backup or Trash folder, and the kernel's virtual file systems.
bool isRefusedFolder(const std::string& chosen)
{
    if (chosen == "/") return true;
    std::string resolved = FileEngine::canonicalOrSame(chosen);
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
    return isBelowOrSame(resolved, FileEngine::canonicalOrSame(Locations::homeTrash())) ||
           isInsideAnyOf(resolved, Trash::folderIdentities(resolved));
}

// The path with links, "." and ".." resolved as far as it exists, the rest taken as written.
std::string resolvedAsFarAsItExists(const std::string& path)
{
    std::error_code error;
    std::filesystem::path resolved = std::filesystem::weakly_canonical(path, error);
    return error ? std::filesystem::path(path).lexically_normal().string() : resolved.string();
}

// Tessyn's own store folder and anything in it: its history, journal and lock files must
// never be offered for a move.
bool isOwnDataFolder(const std::string& chosen)
{
    std::string store = resolvedAsFarAsItExists(Locations::applicationSupport());
    std::filesystem::path resolved = resolvedAsFarAsItExists(chosen);
    if (isBelowOrSame(resolved.string(), store)) return true;
    struct stat own {};
    if (stat(store.c_str(), &own) != 0) return false;
    return isInsideAnyOf(resolved, {{own.st_dev, own.st_ino}});
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

// The history file: the one given, or the user's own.
std::string historyFile(const std::optional<std::string>& given)
{
    return given ? *given : Locations::applicationSupport() + "/operations.json";
}

} // namespace

AppModel::AppModel(std::optional<std::string> historyPath, std::optional<std::vector<std::string>> appRoots,
                   std::optional<std::string> userHome, Collaborators collaborators, QObject* parent)
    : QObject(parent),
      services_(std::move(collaborators)),
      journal_(std::make_shared<OperationJournal>(parentOf(historyFile(historyPath)) + "/pending-actions.json")),
      historyStore_(historyFile(historyPath), journal_)
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
    maintenanceHome_ = FileEngine::canonicalOrSame(home);
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
        // Another running copy holds the lock only for one write at a time.
        if (fileExists(journal_->path())) OperationJournal::whenFree([&] { entries = journal_->entries(); });
    } catch (const std::exception& error) {
        notes.push_back("操作日志无法读取，已保留原文件；新的移入废纸篓操作将停止：" + errorDescription(error));
        recoveryNotes_ = std::move(notes);
        return;
    }
    bool anyFinished = false;
    std::vector<Operation>& history = historyStore_.history();
    // One pass with an index by id: a receipt replaces the first record of its id, else it
    // goes in front (a later receipt of the same id replaces that one), so the list is built
    // once however long the journal.
    std::unordered_map<std::string, size_t> known;
    known.reserve(history.size());
    for (size_t i = 0; i < history.size(); ++i) known.try_emplace(history[i].id, i);
    std::vector<Operation> added; // oldest first
    std::vector<Operation> interrupted;
    std::unordered_map<std::string, size_t> addedAt;
    for (OperationJournal::Entry& entry : entries) {
        if (entry.phase == OperationJournal::kFinished) {
            anyFinished = true;
            if (auto same = known.find(entry.operation.id); same != known.end()) {
                history[same->second] = std::move(entry.operation);
            } else if (auto again = addedAt.find(entry.operation.id); again != addedAt.end()) {
                added[again->second] = std::move(entry.operation);
            } else {
                addedAt.emplace(entry.operation.id, added.size());
                added.push_back(std::move(entry.operation));
            }
        } else {
            if (entry.phase == OperationJournal::kMoving && !entry.operation.orphanInfoChecked)
                interrupted.push_back(entry.operation);
            notes.push_back("操作中断：" + entry.operation.path +
                            "。状态未确认，请检查原位置与 Finder 废纸篓；不会自动重试或覆盖。");
        }
    }
    // All in one call, which lists each Trash once. Done once per move: the entry stays, for
    // the note, until the user clears the notes, and later starts leave the Trash alone.
    if (!interrupted.empty()) {
        FileActionEngine::removeInterruptedInfo(interrupted);
        try {
            OperationJournal::whenFree([&] { journal_->markOrphanInfoChecked(interrupted); });
        } catch (const std::exception&) {
            // The next start then checks once more, no less carefully.
        }
    }
    if (!added.empty()) {
        std::vector<Operation> merged;
        merged.reserve(added.size() + history.size());
        std::move(added.rbegin(), added.rend(), std::back_inserter(merged));
        std::move(history.begin(), history.end(), std::back_inserter(merged));
        history = std::move(merged);
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
// History

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
    emit maintenanceBusyChanged();
    emit memoryReleasingChanged();
}

void AppModel::setMaintenanceScanning(bool value)
{
    maintenanceScanning_ = value;
    emit maintenanceBusyChanged();
    emit maintenanceScanningChanged();
}

void AppModel::setScanning(bool value)
{
    scanning_ = value;
    emit maintenanceBusyChanged();
    emit scanningChanged();
}

void AppModel::setDetectingDuplicates(bool value)
{
    detectingDuplicates_ = value;
    emit maintenanceBusyChanged();
    emit detectingDuplicatesChanged();
}

void AppModel::setProcessing(bool value)
{
    processing_ = value;
    emit maintenanceBusyChanged();
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
    if (isOwnDataFolder(*chosen)) {
        setMessage("请选择普通文件夹，如下载或文稿。Tessyn 不扫描自己的记录文件夹。");
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
// Free space

void AppModel::refreshAvailableSpace(bool force)
{
    std::optional<std::string> target = root_;
    if (!target) {
        target = services_.documentsFolder();
        // A fresh account often has no Documents folder (or none is known); its volume is then
        // the home's.
        if (!target || !fileExists(*target)) target = maintenanceHome_;
    }
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
    return services_.runningApplications->isRunning(app.path, app.bundleID);
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
