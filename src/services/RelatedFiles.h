#pragma once
#include "engine/Operation.h"
#include "engine/OperationJournal.h"
#include "services/InstalledApp.h"
#include "services/JournalledTrashMove.h"
#include "services/RelatedItem.h"

#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <utility>
#include <vector>

namespace RelatedFiles {

// The preferences file, cache folder and support-data folder of the application's bundle
// identifier under `home`, with their labels, in that order. Empty for an identifier that
// is not a single plain path component.
std::vector<std::pair<std::string, std::string>> paths(const InstalledApp& app, const std::string& home);

// Snapshots of those locations that exist and may be moved; empty unless exactly one entry
// of `installed` carries the application's bundle identifier. Never throws.
std::vector<RelatedItem> discover(const InstalledApp& app, const std::string& home,
                                  const std::vector<InstalledApp>& installed, std::stop_token stop = {});

using TrashFunction = MaintenanceEngine::TrashFunction;

// Moves one related item the user reviewed to the Trash through the journal, after checking
// that it is still one of the application's related locations, that the application is not
// running and that the item is unchanged since the review. Never throws: a refusal, or a
// failed "moving" entry, gives a failure record; otherwise the record the journal's move
// returns (kind "related-directory" for a folder), restorable when it succeeded.
Operation move(const RelatedItem& item, const InstalledApp& app, const std::string& home,
               const std::function<bool()>& isRunning, OperationJournal* journal,
               const TrashFunction& trash = {}, std::stop_token stop = {});

} // namespace RelatedFiles
