#pragma once
#include <cstdint>
#include <optional>
#include <stop_token>
#include <string>

// One per-user location that belongs to an application (preferences file, cache folder,
// support-data folder), with the fingerprint taken when the user reviewed it.
struct RelatedItem {
    std::string path;     // canonical absolute path
    std::string label;
    std::string identity; // "<device>:<inode>"
    double modified = 0;  // seconds since 2001
    double changed = 0;   // seconds since 2001
    bool directory = false;
    int64_t size = 0;     // bytes of a regular file; 0 for a folder
    std::optional<std::string> signature; // tree signature of a folder

    const std::string& id() const { return path; }
    bool operator==(const RelatedItem&) const = default;

    // Most entries a folder may hold to be signed.
    static constexpr size_t kSignatureEntryLimit = 100000;

    // The fingerprint of a regular file or a folder at a canonical path. Throws a
    // "TessynMaintenance" refusal, the system error of the resolution, or what
    // treeSignature() throws.
    static RelatedItem snapshot(const std::string& path, const std::string& label, std::stop_token stop = {});

    // The value stored in `signature` and in an operation's treeSignature.
    // Lower-case hex SHA-256 over the sorted metadata lines of every entry below the folder
    // ("/relative|dev:ino|mode|size|mtime s:ns|ctime s:ns", joined with "\n"). Links are not
    // followed, and a folder mounted inside is refused. Throws a "TessynMaintenance" refusal,
    // the system error that stopped the walk,
    // or std::system_error(ECANCELED) when `stop` is requested (checked per entry). With
    // `identity` ("<device>:<inode>"), the folder opened must be that one, or nothing is signed.
    // Uses a fixed number of descriptors however deep the tree.
    static std::string treeSignature(const std::string& folder, std::stop_token stop = {},
                                     const std::optional<std::string>& identity = std::nullopt);
};
