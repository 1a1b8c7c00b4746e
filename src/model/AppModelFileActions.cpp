// The file actions of the model: moving the selection to the Trash under the journal with its
// checkpoints, restoring a record, clearing the history and the interrupted-action notes.
#include "model/AppModel.h"
#include "model/AppModelState.h"
#include "model/PostToModel.h"

#include "engine/Dates.h"
#include "engine/Uuid.h"
#include "platform/Errors.h"

#include <algorithm>

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

    PathSet targets;
    for (const FileEntry& file : files) targets.insert(file.path);
    actionRun_ = std::make_unique<ActionRun>(ActionRun{id, RunCheckpoints(std::move(targets), dateNow()), selectedCount});

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
        CheckpointPace pace{historyAtStart};
        auto counted = [this, id, &pace](int64_t completed) {
            if (!pace.due(completed)) return;
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

// The published history is left as it was: the run's records join it at the end.
void AppModel::checkpointAction()
{
    actionRun_->checkpoints.save(historyStore_);
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
    putInFront(history, records);
    // Always a merge: after checkpoints the file exists, and another running copy may have
    // added records to it since. The save announces the history.
    std::optional<std::string> saveFailure = saveHistory(false);

    PathSet trashed;
    for (const Operation& record : records)
        if (record.success) trashed.insert(record.path);
    auto trashedCount = static_cast<int64_t>(trashed.size());

    if (report_) {
        auto kept = std::make_shared<ScanReport>(*report_);
        std::erase_if(kept->files, [&](const FileEntry& file) { return trashed.count(file.path) > 0; });
        // The totals are right before the report is published: each publication starts a
        // query and walks the whole report for the selection.
        kept->rebuildStatistics();
        setReport(kept);
    } else {
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
    if (saveFailure) text.append("\n").append(saveFailureText("操作记录保存失败：", *saveFailure));
    setMessage(std::move(text));
}

QFuture<void> AppModel::restore(const Operation& record)
{
    if (processing_ || scanning_ || detectingDuplicates_ || record.restoredAt) return Completion::now();
    setProcessing(true);
    setRestoring(true);
    // Records of the same item in the same place of the Trash: moved again after it came back
    // some other way (a file manager), the item this restore takes back is theirs too.
    std::vector<Operation> alsoBack;
    std::vector<std::string> ids{record.id};
    for (const Operation& op : historyStore_.history())
        if (op.id != record.id && op.success && !op.restoredAt && op.trashPath && op.trashPath == record.trashPath &&
            op.resourceID == record.resourceID && op.path == record.path) {
            alsoBack.push_back(op);
            ids.push_back(op.id);
        }
    std::shared_ptr<OperationJournal> journal = journal_;
    // A restore is short and is never cancelled: the journal must say how it ended.
    Completion done;
    restoreJobs_.start(std::stop_source(), [this, record, alsoBack, ids, journal, done](std::stop_token) {
        std::optional<std::string> failure = FileActionEngine::restoreTask(record, *journal, alsoBack);
        post(this, [this, ids, failure, done] {
            finishRestore(ids, failure);
            done.finish();
        });
    });
    return done.future();
}

void AppModel::finishRestore(const std::vector<std::string>& ids, std::optional<std::string> error)
{
    if (error) {
        setMessage("恢复失败：" + *error);
    } else {
        const double restoredAt = dateNow();
        for (Operation& op : historyStore_.history())
            if (std::find(ids.begin(), ids.end(), op.id) != ids.end() && !op.restoredAt) op.restoredAt = restoredAt;
        std::string text = "已恢复到原位置。请重新扫描以更新文件列表。";
        if (auto failure = saveHistory(false)) text.append("\n").append(saveFailureText("记录保存失败：", *failure));
        setMessage(std::move(text));
    }
    setProcessing(false);
    setRestoring(false);
}

void AppModel::clearHistory()
{
    // Moves a running trash action has already settled at its checkpoints are no longer in
    // the journal; they stay in the file until the run publishes them with its records.
    std::vector<Operation> kept;
    if (actionRun_) putInFront(kept, actionRun_->checkpoints.settled());
    std::optional<std::string> failure = historyStore_.clear(std::move(kept));
    historyStore_.history().clear();
    emit historyChanged();
    if (failure) setMessage(saveFailureText("记录清除保存失败：", *failure));
}

void AppModel::acknowledgeInterruptedActions()
{
    if (maintenanceBusy()) return;
    try {
        OperationJournal::whenFree([&] { journal_->discardPending(); });
    } catch (const std::exception& error) {
        setMessage("无法清除中断日志，原文件已保留：" + errorDescription(error));
        return;
    }
    setRecoveryNotes({});
    setMessage("已清除已核对的中断提示，文件未改变。");
}
