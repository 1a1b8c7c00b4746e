#include "services/Uninstall.h"

#include "engine/CancellationError.h"
#include "engine/Dates.h"
#include "engine/Errors.h"
#include "engine/SearchKey.h"
#include "engine/Uuid.h"
#include "platform/Trash.h"
#include "services/InstalledAppInventory.h"
#include "services/MaintenanceEngine.h"

#include <cerrno>

namespace MaintenanceEngine {

Operation uninstall(const InstalledApp& app, const std::vector<std::string>& roots,
                    const std::function<bool()>& isRunning, const RelatedFiles::TrashFunction& trash,
                    OperationJournal* journal, std::stop_token stop)
{
    auto failure = [&](const std::string& text) {
        Operation record;
        record.id = newUUID();
        record.date = dateNow();
        // Stored texts must stay valid UTF-8 for the history to be written at all.
        record.path = displayUtf8(app.path);
        record.size = 0;
        record.success = false;
        record.detail = displayUtf8(text);
        return record;
    };
    try {
        if (isRunning && isRunning()) throw error("应用仍在运行，请保存工作并退出后刷新。");
        InstalledApp current = MaintenanceEngine::app(app.path, roots);
        if (current.identity != app.identity || current.bundleID != app.bundleID || current.modified != app.modified)
            throw error("应用包已变化，请重新扫描并确认。");
        if (stop.stop_requested()) throw CancellationError();
        if (isRunning && isRunning()) throw error("应用刚刚启动，停止卸载。");
        // The journal and the history hold UTF-8 text only; such a bundle cannot be recorded.
        if (!isValidUtf8(app.path))
            throw TessynError("Tessyn", 4, "路径不是有效的 UTF-8 文本，无法写入操作记录，请重命名后再试。");

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
        return RelatedFiles::journalledMove(prepared, journal, trash);
    } catch (const std::exception& error) {
        return failure(errorDescription(error));
    } catch (...) {
        return failure(errorDescription(posixError(EIO)));
    }
}

} // namespace MaintenanceEngine
