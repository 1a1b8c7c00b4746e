#include "engine/DuplicateReport.h"

const FileEntry& DuplicateGroup::suggestedKeep() const
{
    const FileEntry* best = &files.front();
    for (const auto& file : files) {
        if (file.path.size() < best->path.size() ||
            (file.path.size() == best->path.size() && file.path < best->path))
            best = &file;
    }
    return *best;
}
