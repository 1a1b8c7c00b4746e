#pragma once
#include "engine/Operation.h"
#include "engine/OperationJournal.h"

#include <functional>
#include <optional>
#include <string>

// The last step shared by uninstalling a bundle and moving a related item: the reviewed item
// goes to the Trash under the journal, so a crash leaves a record to finish or roll back.
namespace MaintenanceEngine {

// A replacement for the move to the Trash: gets the item's path, returns its path in the
// Trash (or none) and throws on failure.
using TrashFunction = std::function<std::optional<std::string>(const std::string& path)>;

// Moves the prepared record's item (a bundle or a related item) to the Trash under the
// journal; `beforeMove` runs just before the move and refuses it by throwing. Throws what the
// journal's move throws.
Operation moveToTrashJournalled(const Operation& prepared, OperationJournal* journal, const TrashFunction& trash,
                                const std::function<void()>& beforeMove = {});

} // namespace MaintenanceEngine
