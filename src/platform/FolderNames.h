#pragma once
#include <cstddef>
#include <limits>
#include <string>
#include <vector>

// The names in one folder, without "." and "..", in the order the file system gives them.
struct FolderNames {
    std::vector<std::string> names;
    // errno of a failed open or read, 0 when none; a listing cut short keeps what it read.
    int error = 0;
};

// Lists the folder at `path`, a link to a folder followed; at most `limit` names are read.
FolderNames listFolder(const std::string& path, size_t limit = std::numeric_limits<size_t>::max());

// Lists the folder open at `folderFd` from its start. The descriptor stays open and the
// caller's, for acting on the names relative to the folder that was read.
FolderNames listFolder(int folderFd, size_t limit = std::numeric_limits<size_t>::max());
