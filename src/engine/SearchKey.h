#pragma once
#include <string>
#include <string_view>

// Full Unicode case folding followed by removal of combining marks. The scan folds paths
// and the query folds the search text with this one function, so both always agree.
std::string searchKey(std::string_view text);

// True when the bytes are well-formed UTF-8.
bool isValidUtf8(std::string_view text);

// The text with every ill-formed sequence replaced by U+FFFD, for display.
std::string displayUtf8(std::string_view text);
