#pragma once
#include <string>
#include <string_view>
#include <vector>

// The mounts this process sees, from /proc/self/mountinfo.
namespace MountTable {

// The mount points listed in mountinfo text (the fifth field of each line, with the octal
// escapes of space, tab, newline and backslash decoded). Lines too short are skipped.
std::vector<std::string> pointsIn(std::string_view mountinfo);

// True when something is mounted anywhere below the canonical folder (not at it). Throws
// std::system_error when the table cannot be read.
bool holdsMountPoint(const std::string& folder);

} // namespace MountTable
