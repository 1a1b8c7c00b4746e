#pragma once
#include "engine/HistoryStore.h"
#include "engine/Operation.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

// The history saves a trash run makes while it goes on, so the journal can drop the moves the
// saved history then holds. Without them every finished entry stays in the journal until the
// run ends, and the journal, rewritten whole once per file, grows with the run.
class RunCheckpoints {
public:
    // targets: the paths handed to the run; startDate: its records are made after it.
    RunCheckpoints(std::unordered_set<std::string> targets, double startDate);

    // Saves the history with every move of this run the journal holds as finished, and those
    // saved before, in front; the store's list is left as it was. A failure leaves the moves
    // in the journal, which is as safe: the run's final save reports.
    void save(HistoryStore& store);

    // The moves saved so far, oldest first: until the run's records join the history, the
    // file is their only trace.
    const std::vector<Operation>& settled() const { return settled_; }

private:
    std::unordered_set<std::string> targets_;
    double startDate_;
    std::vector<Operation> settled_;
    std::unordered_set<std::string> settledIDs_;
};

// When a run checkpoints: every HistoryStore::checkpointInterval files of the history the run
// makes (the history at its start plus the files done), counted on the run's own thread.
struct CheckpointPace {
    size_t historyAtStart = 0;
    int64_t last = 0;
    // Whether a checkpoint is due after `completed` files; if so, counts from there.
    bool due(int64_t completed);
};
