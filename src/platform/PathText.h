#pragma once
#include <string>

// The folder holding an absolute path: "/" for an item directly in the root.
inline std::string parentOf(const std::string& path)
{
    auto slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0) return "/";
    return path.substr(0, slash);
}
