#include "audit/RuntimeAudit.h"

namespace RuntimeAudit {

QString visiblePage;
std::optional<QString> contentPage;

void startIfRequested(AppModel&) {}

} // namespace RuntimeAudit
