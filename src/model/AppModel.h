#pragma once
#include "engine/DuplicateReport.h"
#include "engine/FileActionEngine.h"
#include "engine/FileEntry.h"
#include "engine/FilePresentation.h"
#include "engine/HistoryStore.h"
#include "engine/Operation.h"
#include "engine/OperationJournal.h"
#include "engine/ReportRows.h"
#include "engine/ScanReport.h"
#include "model/Completion.h"
#include "model/JobThreads.h"
#include "platform/RunningApplications.h"
#include "services/ApplicationMemory.h"
#include "services/CachePlan.h"
#include "services/InstalledApp.h"
#include "services/MemoryReleaseEngine.h"
#include "services/MemorySnapshot.h"
#include "services/RelatedItem.h"

#include <atomic>
#include <QObject>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

// The one application model. Lives on the main thread: every property is read and written
// there, every long job runs on a worker thread owned by the model and hands its result back
// through the event loop, where it is applied only while the job is still the current one.
// Each published property has a getter and a change signal emitted on every assignment.
class AppModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool memoryReleasing READ memoryReleasing NOTIFY memoryReleasingChanged)
    Q_PROPERTY(bool maintenanceScanning READ maintenanceScanning NOTIFY maintenanceScanningChanged)
    Q_PROPERTY(bool maintenanceStop READ maintenanceStop WRITE setMaintenanceStop NOTIFY maintenanceStopChanged)
    Q_PROPERTY(bool scanning READ scanning NOTIFY scanningChanged)
    Q_PROPERTY(bool detectingDuplicates READ detectingDuplicates NOTIFY detectingDuplicatesChanged)
    Q_PROPERTY(bool processing READ processing NOTIFY processingChanged)
    Q_PROPERTY(bool restoring READ restoring NOTIFY restoringChanged)
    Q_PROPERTY(bool filtering READ filtering NOTIFY filteringChanged)
    Q_PROPERTY(qint64 selectedSize READ selectedSize NOTIFY selectedSizeChanged)
    Q_PROPERTY(double threshold READ threshold WRITE setThreshold NOTIFY thresholdChanged)

public:
    using PathSet = std::unordered_set<std::string>;
    using ReportRef = std::shared_ptr<const ScanReport>;               // null: no report
    using DuplicateReportRef = std::shared_ptr<const DuplicateReport>;  // null: no report

    // The published result of the file query.
    struct QueryResults {
        ReportRows files;                                               // in the query's order
        std::unordered_map<std::string, FilePresentation> presentation; // the first 200 files only
        std::vector<DuplicateGroup> groups;                             // only under "重复文件"
    };

    static constexpr size_t kPresentedRows = 200;
    static constexpr size_t kKeptSamples = 120;
    static constexpr double kCapacityWindow = 30.0;   // seconds
    static constexpr int kQueryDebounceMs = 100;
    static constexpr double kReleaseTimeout = 8.0;    // seconds

    // What the model needs from outside; every empty member takes the system's own.
    struct Collaborators {
        // The folder chooser: the chosen folder, or none when the user cancelled.
        std::function<std::optional<std::string>()> chooseFolder;
        // Opens the preview of a file; returns the error text when it could not be started.
        // Default: the desktop's opener (xdg-open), not waited for.
        std::function<std::optional<std::string>(const std::string& path)> preview;
        // The running applications of the session. Default: LinuxRunningApplications.
        std::shared_ptr<RunningApplications> runningApplications;
        // Monotonic seconds, for the free-space window. Default: steady clock.
        std::function<double()> clock;
        // One system memory sample. Default: MemorySnapshot::read().
        std::function<std::optional<MemorySnapshot>()> readMemory;
        // The per-application reading, run on a worker. Default: ProcessMemoryReader::read.
        std::function<std::vector<ApplicationMemory>(const std::vector<ApplicationIdentity>&)> readApplicationMemory;
        // Free bytes for the user on the volume holding the folder, run on a worker.
        // Default: statvfs f_bavail * f_frsize; none when it fails.
        std::function<std::optional<int64_t>(const std::string& folder)> readAvailableSpace;
        // The user's Documents folder, the free-space target while no folder is chosen.
        // Default: the XDG documents folder, else ~/Documents.
        std::function<std::optional<std::string>()> documentsFolder;
    };

    // historyPath: the history file (default <application support>/Tessyn/operations.json);
    // appRoots: the application folders (default /Applications and <home>/Applications);
    // userHome: the home folder (default the user's). Runs the start-up merge of the journal.
    explicit AppModel(std::optional<std::string> historyPath = std::nullopt,
                      std::optional<std::vector<std::string>> appRoots = std::nullopt,
                      std::optional<std::string> userHome = std::nullopt, Collaborators collaborators = {},
                      QObject* parent = nullptr);
    // Cancels every job and waits for its worker.
    ~AppModel() override;

    // --- Published state -------------------------------------------------------------------
    bool memoryReleasing() const { return memoryReleasing_; }
    const std::optional<MemoryReleaseOutcome>& memoryReleaseOutcome() const { return memoryReleaseOutcome_; }
    const std::vector<InstalledApp>& installedApps() const { return installedApps_; }
    bool maintenanceScanning() const { return maintenanceScanning_; }
    const std::optional<InstalledApp>& cacheApp() const { return cacheApp_; }
    const std::optional<CachePlan>& cachePlan() const { return cachePlan_; }
    const PathSet& cacheSelection() const { return cacheSelection_; }
    void setCacheSelection(PathSet paths);
    bool maintenanceStop() const { return maintenanceStop_; }
    void setMaintenanceStop(bool stop);
    const std::optional<MemorySnapshot>& memory() const { return memory_; }
    const std::vector<ApplicationMemory>& applications() const { return applications_; }
    const PathSet& runningApplicationIDs() const { return runningApplicationIDs_; }
    const PathSet& runningApplicationPaths() const { return runningApplicationPaths_; }
    std::optional<double> applicationsDate() const { return applicationsDate_; }

    const std::optional<std::string>& root() const { return root_; }
    // Observer: a forced free-space query.
    void setRoot(std::optional<std::string> folder);
    std::optional<int64_t> availableSpace() const { return availableSpace_; }

    const ReportRef& report() const { return report_; }
    // Observer: the query restarts at once, then the selection summaries are recomputed.
    void setReport(ReportRef report);
    bool scanning() const { return scanning_; }
    const ScanProgress& scanProgress() const { return scanProgress_; }
    const DuplicateReportRef& duplicateReport() const { return duplicateReport_; }
    // Observer: the query restarts at once.
    void setDuplicateReport(DuplicateReportRef report);
    const DuplicateProgress& duplicateProgress() const { return duplicateProgress_; }
    bool detectingDuplicates() const { return detectingDuplicates_; }
    bool processing() const { return processing_; }

    const PathSet& selection() const { return selection_; }
    // Observer: the selection summaries, only when the set changed.
    void setSelection(PathSet paths);
    // The selected records of the report, in report order.
    const ReportRows& selectedFiles() const { return selectedFiles_; }
    qint64 selectedSize() const { return selectedSize_; }

    // "全部文件", "大文件", "旧下载候选", "重复文件" or a category name. Observer: query at once.
    const std::string& filter() const { return filter_; }
    void setFilter(std::string filter);
    // Observer: query after a 100 ms pause.
    const std::string& search() const { return search_; }
    void setSearch(std::string search);
    // Megabytes. Observer: query after a 100 ms pause.
    double threshold() const { return threshold_; }
    void setThreshold(double megabytes);
    // "大小", "最近修改" or "名称". Observer: query at once.
    const std::string& sort() const { return sort_; }
    void setSort(std::string sort);
    const QueryResults& queryResults() const { return queryResults_; }
    bool filtering() const { return filtering_; }

    const std::vector<MemorySnapshot>& memorySamples() const { return memorySamples_; }
    const ActionProgress& actionProgress() const { return actionProgress_; }
    bool restoring() const { return restoring_; }
    const std::vector<Operation>& history() const { return historyStore_.history(); }
    const std::optional<std::string>& message() const { return message_; }
    // The banner's close button clears it.
    void setMessage(std::optional<std::string> text);
    std::optional<double> completedAt() const { return completedAt_; }
    OperationJournal& journal() const { return *journal_; }
    const std::vector<std::string>& recoveryNotes() const { return recoveryNotes_; }
    const std::string& maintenanceHome() const { return maintenanceHome_; }
    const std::vector<std::string>& maintenanceAppRoots() const { return maintenanceAppRoots_; }
    const std::string& historyPath() const { return historyStore_.historyPath(); }

    // --- Folder, scan and duplicates -------------------------------------------------------
    // Asks for a folder; a refused folder only sets the message. Choosing cancels a running
    // scan or duplicate search, whose results then stay unpublished.
    void choose();
    void scan();
    void detectDuplicates();
    // Cancels the running scan, then the running duplicate search.
    void cancelScanJobs();

    // --- Query and selection ---------------------------------------------------------------
    void refreshResults(bool debounce);
    // Replaces the selection inside the group: its first `limit` files (all when none),
    // except the kept one. A negative limit selects nothing of the group.
    void selectCopies(const DuplicateGroup& group, const std::string& keeping, std::optional<int> limit = std::nullopt);

    // --- Free space ------------------------------------------------------------------------
    void refreshAvailableSpace(bool force);

    // --- File actions ----------------------------------------------------------------------
    // The operations returning a future finish it once the model has published their whole
    // outcome (message, history, lists and flags), also when they refuse to start.
    QFuture<void> trashSelected();
    // The stop button of a running trash action.
    void cancelAction();
    QFuture<void> restore(const Operation& record);
    void clearHistory();
    void acknowledgeInterruptedActions();
    // Writes the history file and lets the journal drop what it settles; the error text or none.
    std::optional<std::string> saveHistory(bool replacing);

    // --- Memory and running applications ---------------------------------------------------
    void sampleMemory();
    void updateRunningApplicationSnapshot(const std::vector<RunningApplication>& applications);
    bool appAppearsRunning(const InstalledApp& app) const;
    // Asks the application of the row to quit normally, after checking it is still the same.
    void requestQuit(const ApplicationMemory& row);
    void quickLook(const std::string& path);
    QFuture<void> releaseMemory(const std::vector<ApplicationMemory>& candidates);

    // --- Installed applications ------------------------------------------------------------
    bool maintenanceBusy() const;
    QFuture<void> refreshInstalledApps();
    // Whether a process runs from the application's bundle or one with its identifier, asked now.
    bool appIsRunning(const InstalledApp& app) const;

    // --- Caches and uninstall --------------------------------------------------------------
    // Lists the old files of the application's cache folder into cachePlan.
    QFuture<void> inspectCache(const InstalledApp& app);
    // Moves the chosen files of the plan to the Trash one at a time; the stop request is read
    // between files.
    QFuture<void> cleanCache();
    // Moves the bundle to the Trash, then the chosen related items one at a time.
    QFuture<void> removeApp(const InstalledApp& app, const std::vector<RelatedItem>& related);
    // Moves related items of an application whose bundle is already in the Trash.
    QFuture<void> retryRelated(const InstalledApp& app, const std::vector<RelatedItem>& items);

    // --- Shutdown --------------------------------------------------------------------------
    // The shell's quit decision: refused (with the message) while files are being processed;
    // otherwise the scan and duplicate search are cancelled and their workers joined.
    bool prepareToQuit();

signals:
    void memoryReleasingChanged();
    // After any of the flags maintenanceBusy() reads was set, and before that flag's own signal,
    // so what follows the busy state is current for whoever listens to the flag.
    void maintenanceBusyChanged();
    void memoryReleaseOutcomeChanged();
    void installedAppsChanged();
    void maintenanceScanningChanged();
    void cacheAppChanged();
    void cachePlanChanged();
    void cacheSelectionChanged();
    void maintenanceStopChanged();
    void memoryChanged();
    void applicationsChanged();
    void runningApplicationIDsChanged();
    void runningApplicationPathsChanged();
    void applicationsDateChanged();
    void rootChanged();
    void availableSpaceChanged();
    void reportChanged();
    void scanningChanged();
    void scanProgressChanged();
    void duplicateReportChanged();
    void duplicateProgressChanged();
    void detectingDuplicatesChanged();
    void processingChanged();
    void selectionChanged();
    void selectedFilesChanged();
    void selectedSizeChanged();
    void filterChanged();
    void searchChanged();
    void thresholdChanged();
    void sortChanged();
    void queryResultsChanged();
    void filteringChanged();
    void memorySamplesChanged();
    void actionProgressChanged();
    void restoringChanged();
    void historyChanged();
    void messageChanged();
    void completedAtChanged();
    void recoveryNotesChanged();

private:
    // Job states: the first two in AppModelState.h, the others beside their operations.
    struct QueryInput;
    struct ActionRun;
    struct CacheRun;
    // How a cache clean's worker ended: every file dealt with (or the model said stop at a
    // checkpoint), a stop read before a file, or the application started.
    enum class CacheEnding { done, stopped, appStarted };
    struct RelatedRun;
    class Baton;

    void mergeJournalAtStart();
    void refreshSelection();
    void startQuery();
    void finishScan(uint64_t rootGeneration, ReportRef report);
    void finishDuplicates(uint64_t rootGeneration, DuplicateReportRef report);
    void applyActionProgress(const std::string& id, const ActionProgress& progress);
    void checkpointAction();
    void finishAction(const std::string& id, std::vector<Operation> records);
    void finishRestore(const std::vector<std::string>& ids, std::optional<std::string> error);

    // Assignments that publish.
    void setMemoryReleasing(bool value);
    void setMaintenanceScanning(bool value);
    void setScanning(bool value);
    void setDetectingDuplicates(bool value);
    void setProcessing(bool value);
    void setRestoring(bool value);
    void setFiltering(bool value);
    void setScanProgress(ScanProgress value);
    void setDuplicateProgress(DuplicateProgress value);
    void setActionProgress(ActionProgress value);
    void setAvailableSpace(std::optional<int64_t> value);
    void setCompletedAt(std::optional<double> value);
    void setMemory(std::optional<MemorySnapshot> value);
    void setRecoveryNotes(std::vector<std::string> notes);

    // Steps of the cache clean-up and of the uninstall, each resumed on the main thread.
    void setCacheState(std::optional<InstalledApp> app, std::optional<CachePlan> plan);
    void runCacheClean(const std::shared_ptr<CacheRun>& run);
    void applyCacheRecords(const std::shared_ptr<CacheRun>& run, const std::vector<Operation>& records,
                           bool checkpoint);
    void finishCacheClean(const std::shared_ptr<CacheRun>& run, CacheEnding ending);
    bool saveCacheRun(const std::shared_ptr<CacheRun>& run);
    std::string saveFailureText(const std::string& words, const std::string& failure) const;
    // Lists the applications again off the main thread and goes on with `next` only when
    // exactly `owners` of them carry the run's bundle ID; otherwise ends the run with `refusal`.
    void whenBundleOwners(const std::shared_ptr<RelatedRun>& run, long owners, const char* refusal,
                          void (AppModel::*next)(const std::shared_ptr<RelatedRun>&));
    void uninstallBundle(const std::shared_ptr<RelatedRun>& run);
    void moveRelated(const std::shared_ptr<RelatedRun>& run);
    void applyRelatedRecord(const std::shared_ptr<RelatedRun>& run, const Operation& record);
    void endRelated(const std::shared_ptr<RelatedRun>& run);
    void finishRemoveApp(const std::shared_ptr<RelatedRun>& run);

    Collaborators services_;

    // Memory release, application inventory, cache plans.
    bool memoryReleasing_ = false;
    std::optional<MemoryReleaseOutcome> memoryReleaseOutcome_;
    std::vector<InstalledApp> installedApps_;
    bool maintenanceScanning_ = false;
    std::optional<InstalledApp> cacheApp_;
    std::optional<CachePlan> cachePlan_;
    PathSet cacheSelection_;
    std::atomic<bool> maintenanceStop_ = false; // a cache clean's worker reads it between files
    // Memory and running applications.
    std::optional<MemorySnapshot> memory_;
    std::vector<ApplicationMemory> applications_;
    PathSet runningApplicationIDs_;
    PathSet runningApplicationPaths_;
    std::optional<double> applicationsDate_;
    bool samplingApplications_ = false;
    // Folder and free space.
    std::optional<std::string> root_;
    uint64_t rootGeneration_ = 0;  // counts assignments of root; a job's results need the same
    std::optional<int64_t> availableSpace_;
    std::optional<std::stop_source> capacityTask_;
    std::string capacityQueryID_;
    std::optional<std::string> capacityURL_;
    std::optional<double> capacityDate_;
    // Scan and duplicates.
    ReportRef report_;
    bool scanning_ = false;
    ScanProgress scanProgress_;
    DuplicateReportRef duplicateReport_;
    DuplicateProgress duplicateProgress_;
    bool detectingDuplicates_ = false;
    std::optional<std::stop_source> duplicateTask_;
    std::string scanID_;
    std::string duplicateID_;
    std::optional<std::stop_source> scanTask_;
    std::optional<double> completedAt_;
    // Query and selection.
    bool processing_ = false;
    PathSet selection_;
    ReportRows selectedFiles_;
    qint64 selectedSize_ = 0;
    std::string filter_ = "全部文件";
    std::string search_;
    double threshold_ = 500.0;
    std::string sort_ = "大小";
    QueryResults queryResults_;
    bool filtering_ = false;
    std::optional<std::stop_source> queryTask_;
    std::string queryID_;
    std::unique_ptr<QueryInput> pendingQuery_;  // waiting for the debounce timer
    QTimer queryDebounce_;
    // Memory samples.
    std::vector<MemorySnapshot> memorySamples_;
    // File actions.
    ActionProgress actionProgress_;
    bool restoring_ = false;
    std::optional<std::stop_source> actionTask_;
    std::string actionID_;
    std::unique_ptr<ActionRun> actionRun_;
    std::optional<std::string> message_;
    // Stores.
    std::shared_ptr<OperationJournal> journal_;
    HistoryStore historyStore_;
    std::vector<std::string> recoveryNotes_;
    std::string maintenanceHome_;
    std::vector<std::string> maintenanceAppRoots_;

    // Workers, one set per kind of job; declared last so they are joined first.
    JobThreads scanJobs_;
    JobThreads duplicateJobs_;
    JobThreads queryJobs_;
    JobThreads capacityJobs_;
    JobThreads actionJobs_;
    JobThreads restoreJobs_;
    JobThreads memoryJobs_;
    JobThreads releaseJobs_;
    JobThreads maintenanceJobs_;
};
