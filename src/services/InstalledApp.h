#pragma once
#include <string>

// One application bundle that may be uninstalled or have its caches cleaned.
// `identity` ("<device>:<inode>") and `modified` of the bundle folder are its fingerprint.
struct InstalledApp {
    std::string path;     // canonical path of the bundle folder, ending in ".app"
    std::string name;     // display name
    std::string bundleID;
    std::string identity;
    double modified = 0;  // seconds since 2001

    const std::string& id() const { return path; }
    bool operator==(const InstalledApp&) const = default;
};
