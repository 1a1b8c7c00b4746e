#pragma once
#include "services/ApplicationMemory.h"

#include <vector>

namespace ProcessMemoryReader {

// Walks every process once and charges it to the application it belongs to: the
// application's own process, a descendant of it, or an executable inside its bundle (the
// innermost bundle wins). One result per distinct pid, largest footprint first. Slow: call it
// off the main thread.
std::vector<ApplicationMemory> read(const std::vector<ApplicationIdentity>& identities);

} // namespace ProcessMemoryReader
