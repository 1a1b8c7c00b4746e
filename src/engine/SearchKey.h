#pragma once
#include <string>
#include <string_view>

// Full Unicode case folding followed by removal of combining marks. The scan folds paths
// and the query folds the search text with this one function, so both always agree.
std::string searchKey(std::string_view text);
