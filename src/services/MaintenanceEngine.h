#pragma once
#include "platform/Errors.h"

#include <string>

// The maintenance components (the inventory, cache plans, uninstall) share one namespace and
// one refusal.
namespace MaintenanceEngine {

// The refusal of every maintenance step: domain "TessynMaintenance", code 1.
inline TessynError error(const std::string& message) { return TessynError("TessynMaintenance", 1, message); }

} // namespace MaintenanceEngine
