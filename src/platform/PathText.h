#pragma once
#include <string>

// The folder holding a path: "/" for an item directly in the root, "." for a bare name.
inline std::string parentOf(const std::string& path)
{
    auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// The name after the last slash; the whole text when there is none.
inline std::string lastComponent(const std::string& path)
{
    auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A name inside a folder, without doubling the root's slash.
inline std::string joinPath(const std::string& dir, const std::string& name)
{
    return dir == "/" ? "/" + name : dir + "/" + name;
}
