#pragma once
#include <optional>
#include <string>

// Writes an application bundle <folder>/<name>.app with an XML Contents/Info.plist naming
// `bundleID` and the executable "Run", and Contents/MacOS/Run: a copy of `executable` when
// given (so a started copy runs from inside the bundle), else a small script. Returns the
// bundle's path.
std::string makeAppBundle(const std::string& folder, const std::string& name, const std::string& bundleID,
                          const std::optional<std::string>& executable = std::nullopt);

// Property-list data nesting `levels` arrays inside each other (the innermost empty), as XML
// and in the binary format (one object per level, each referring to the next).
std::string nestedXmlPlist(size_t levels);
std::string nestedBinaryPlist(size_t levels);
