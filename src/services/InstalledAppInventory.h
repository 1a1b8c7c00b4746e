#pragma once
#include "platform/Errors.h"
#include "engine/FileEntry.h"
#include "platform/PropertyList.h"
#include "services/InstalledApp.h"

#include <cstddef>
#include <string>
#include <vector>

// The installed-application inventory: the applications directly inside the application
// folders, and the one gate every bundle passes before anything acts on it.
namespace MaintenanceEngine {

// Largest Info.plist that is read.
inline constexpr size_t kInfoPlistLimit = PropertyList::kFileLimit;

// The single gate for bundles: the application bundle at `path` if it lies directly in one of
// `roots` and may be acted on. Throws a "TessynMaintenance" refusal, or the system error of
// the failing file operation.
InstalledApp app(const std::string& path, const std::vector<std::string>& roots);

// The applications directly inside the roots, by name in natural, case-insensitive order;
// equal names keep root order, then listing order. Never throws.
std::vector<InstalledApp> discover(const std::vector<std::string>& roots);

// Reads a property-list file that must still be the file `expected` (same device and inode,
// regular) and at most `limit` bytes now, whatever a snapshot said before. A larger or
// different file is refused with the unrecognised-bundle text; read errors pass through.
std::string readBoundedFile(const std::string& path, const FileEntry& expected, size_t limit = kInfoPlistLimit);

} // namespace MaintenanceEngine
