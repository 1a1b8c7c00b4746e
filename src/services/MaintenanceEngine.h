#pragma once
#include "engine/Errors.h"
// The inventory is reached through this header by callers that have not yet moved over.
#include "services/InstalledAppInventory.h"

#include <string>

// The maintenance components (the inventory, cache plans, uninstall) share one namespace and
// one refusal.
namespace MaintenanceEngine {

// The refusal of every maintenance step: domain "TessynMaintenance", code 1.
inline TessynError error(const std::string& message) { return TessynError("TessynMaintenance", 1, message); }

} // namespace MaintenanceEngine
