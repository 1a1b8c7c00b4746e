#include "engine/RunCheckpoints.h"

#include "engine/OperationJournal.h"

#include <utility>

RunCheckpoints::RunCheckpoints(std::unordered_set<std::string> targets, double startDate)
    : targets_(std::move(targets)), startDate_(startDate)
{
}

void RunCheckpoints::save(HistoryStore& store)
{
    if (!store.journal()) return;
    std::vector<OperationJournal::Entry> entries;
    try {
        entries = store.journal()->entries();
    } catch (const std::exception&) {
        return; // every move fails while the journal cannot be read; nothing to settle
    }
    // A checkpoint whose save failed left its moves in the journal: they are found again,
    // saved again, but listed once.
    bool found = false;
    for (OperationJournal::Entry& entry : entries)
        if (entry.phase == OperationJournal::kFinished && entry.operation.date >= startDate_ &&
            targets_.count(entry.operation.path)) {
            found = true;
            if (settledIDs_.insert(entry.operation.id).second) settled_.push_back(std::move(entry.operation));
        }
    if (!found) return;
    std::vector<Operation>& history = store.history();
    std::vector<Operation> published = history;
    // Every record this run has settled goes in, not only the new ones: the list then holds
    // all the store wrote last time, and the save need not read the file back and decode it.
    history.insert(history.begin(), settled_.rbegin(), settled_.rend());
    (void)store.saveHistory(false);
    history = std::move(published);
}

bool CheckpointPace::due(int64_t completed)
{
    auto batch = HistoryStore::checkpointInterval(historyAtStart + static_cast<size_t>(completed));
    if (completed - last < batch) return false;
    last = completed;
    return true;
}
