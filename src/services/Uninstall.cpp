#include "services/Uninstall.h"

#include "engine/CancellationError.h"
#include "engine/Dates.h"
#include "engine/Uuid.h"
#include "platform/Errors.h"
#include "platform/Trash.h"
#include "services/InstalledAppInventory.h"
#include "services/MaintenanceEngine.h"

#include <cerrno>

namespace MaintenanceEngine {

Operation uninstall(const InstalledApp& app, const std::vector<std::string>& roots,
                    const std::function<bool()>& isRunning, const TrashFunction& trash,
                    OperationJournal* journal, std::stop_token stop)
{
    try {
        if (isRunning && isRunning()) throw error("应用仍在运行，请保存工作并退出后刷新。");
        InstalledApp current = MaintenanceEngine::app(app.path, roots);
        if (current.identity != app.identity || current.bundleID != app.bundleID || current.modified != app.modified)
            throw error("应用包已变化，请重新扫描并确认。");
        if (stop.stop_requested()) throw CancellationError();
        if (isRunning && isRunning()) throw error("应用刚刚启动，停止卸载。");
        Trash::requireRecordablePath(app.path);

        Operation prepared;
        prepared.id = newUUID();
        prepared.date = dateNow();
        prepared.path = app.path;
        prepared.size = 0;
        prepared.success = false;
        prepared.detail = "准备移走应用包";
        prepared.resourceID = app.identity;
        prepared.modified = app.modified;
        prepared.kind = "application";
        prepared.bundleID = app.bundleID;
        return moveToTrashJournalled(prepared, journal, trash);
    } catch (const std::exception& error) {
        return failedOperation(app.path, 0, errorDescription(error));
    } catch (...) {
        return failedOperation(app.path, 0, errorDescription(posixError(EIO)));
    }
}

} // namespace MaintenanceEngine
