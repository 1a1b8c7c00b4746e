#include "services/JournalledTrashMove.h"

#include "engine/FileActionEngine.h"
#include "platform/TextValidity.h"
#include "platform/Trash.h"

namespace MaintenanceEngine {

Operation moveToTrashJournalled(const Operation& prepared, OperationJournal* journal, const TrashFunction& trash,
                                const std::function<void()>& beforeMove)
{
    Operation record = OperationJournal::move(prepared, journal, [&]() -> std::optional<std::string> {
        if (beforeMove) beforeMove();
        if (trash) return trash(prepared.path);
        return Trash::trashItem(prepared.path, FileActionEngine::sameItem(prepared));
    });
    record.detail = displayUtf8(record.detail);
    return record;
}

} // namespace MaintenanceEngine
