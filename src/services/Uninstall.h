#pragma once
#include "engine/Operation.h"
#include "engine/OperationJournal.h"
#include "services/InstalledApp.h"
#include "services/JournalledTrashMove.h"

#include <functional>
#include <stop_token>
#include <string>
#include <vector>

namespace MaintenanceEngine {

// Moves the application bundle the user reviewed to the Trash through the journal, after
// checking that the application is not running, that the bundle still passes the bundle gate
// under `roots` and that its identity, identifier and modification time are the reviewed
// ones, and that the application did not start meanwhile. Never throws: a refusal, a stop
// request or a failed "moving" entry gives a failure record; otherwise the record of kind
// "application" the journal's move returns. `trash` replaces the move to the Trash.
Operation uninstall(const InstalledApp& app, const std::vector<std::string>& roots,
                    const std::function<bool()>& isRunning, const TrashFunction& trash,
                    OperationJournal* journal, std::stop_token stop = {});

} // namespace MaintenanceEngine
