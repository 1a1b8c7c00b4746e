#pragma once
#include "services/InstalledApp.h"
#include "services/RelatedItem.h"

#include <string>
#include <utility>
#include <vector>

namespace RelatedFiles {

// The preferences file, cache folder and support-data folder of the application's bundle
// identifier under `home`, with their labels, in that order. Empty for an identifier that
// is not a single plain path component.
std::vector<std::pair<std::string, std::string>> paths(const InstalledApp& app, const std::string& home);

// Snapshots of those locations that exist and may be moved; empty unless exactly one entry
// of `installed` carries the application's bundle identifier. Never throws.
std::vector<RelatedItem> discover(const InstalledApp& app, const std::string& home,
                                  const std::vector<InstalledApp>& installed, std::stop_token stop = {});

} // namespace RelatedFiles
