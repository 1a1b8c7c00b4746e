#pragma once
#include <cstddef>
#include <memory>
#include <optional>
#include <plist/plist.h>
#include <string>
#include <string_view>

// Property lists read from application bundles, which anyone may have written. The library
// parses and frees recursively, and expands a binary object each time it is referenced, so
// data is measured first and only handed over when its tree is shallow and small enough.
namespace PropertyList {

// Deepest nesting of arrays and dictionaries accepted; real Info.plist files use a handful.
inline constexpr size_t kDepthLimit = 512;
// Most nodes the parsed tree may hold (a binary object counts once per reference).
inline constexpr size_t kNodeLimit = 1000000;
// Largest property list file that is read.
inline constexpr size_t kFileLimit = 4 * 1024 * 1024;

struct Deleter {
    void operator()(plist_t node) const { plist_free(node); }
};
using Ptr = std::unique_ptr<void, Deleter>;

// True when the XML or binary data, parsed, would nest at most `depth` levels and hold at
// most `nodes` nodes. Measured without recursion; data it cannot measure is not within.
bool within(std::string_view data, size_t depth = kDepthLimit, size_t nodes = kNodeLimit);

// The parsed root, or null when the data is not a property list or is not within the limits.
Ptr parse(std::string_view data);

// A regular file of at most `limit` bytes, opened without following a link or waiting on a
// pipe or device, parsed as above; null otherwise.
Ptr readFile(const std::string& path, size_t limit = kFileLimit);

// The string value of a dictionary's key, or none when missing or not a string. Embedded
// NULs are kept.
std::optional<std::string> stringValue(plist_t dict, const char* key);

} // namespace PropertyList
