#pragma once
#include <QString>
#include <optional>

class AppModel;

// The interface audit mode. The main view keeps the two page values current; the audit run
// polls them. The run itself is not built yet: startIfRequested does nothing.
namespace RuntimeAudit {
// The page identifier last requested in a main window; empty at start.
extern QString visiblePage;
// The page whose content is mounted and shown; none while a page is being mounted.
extern std::optional<QString> contentPage;

// Starts the audit run once per process when the arguments ask for it.
void startIfRequested(AppModel& model);
}
