#pragma once
// Private to src/model: the run states several of the model's sources need complete (the
// members holding them are destroyed in AppModel.cpp, filled in the query and action files).
#include "model/AppModel.h"

#include "engine/RunCheckpoints.h"

#include <stop_token>
#include <string>
#include <unordered_set>
#include <vector>

// A run's records come in the order the files were done, oldest first; the history lists
// the newest first, from the first run on.
inline void putInFront(std::vector<Operation>& history, const std::vector<Operation>& records)
{
    history.insert(history.begin(), records.rbegin(), records.rend());
}

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
    RunCheckpoints checkpoints;
    int64_t selectedCount = 0;
};
