#pragma once
#include <string>
#include <string_view>

// Writes every byte, retrying short writes and interruptions; throws std::system_error with
// errno on failure.
void writeAll(int fd, std::string_view contents);

// Best-effort fsync of a folder's entries. Once a rename has happened the new entry is in
// place; a failed flush of the folder only weakens durability and is not a failed write.
void syncFolder(const std::string& folder);
