#pragma once
#include <string>

// Display strings of one file row.
struct FilePresentation {
    std::string size;
    std::string date;
    std::string parent;
    bool operator==(const FilePresentation&) const = default;
};
