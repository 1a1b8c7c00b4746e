#pragma once
#include <string>

// The path with every link, "." and ".." resolved, as realpath(3) gives it, and the same
// errors. A path that is already absolute and plain (no ".", "..", empty components or
// trailing slash) and holds no link anywhere is returned as it is after one kernel lookup
// that refuses links, rather than a readlink per component; anything else goes to realpath.
std::string resolvedPath(const std::string& path);

// Whether the path is absolute and written without ".", ".." or empty components.
bool isPlainAbsolutePath(const std::string& path);
