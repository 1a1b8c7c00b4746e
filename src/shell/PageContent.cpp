#include "shell/PageContent.h"

#include "shell/OverviewPage.h"
#include "shell/PageDestinations.h"
#include "shell/PendingPage.h"

QWidget* makePageContent(const QString& page, AppModel& model, const std::function<void(const QString&)>& navigate)
{
    if (page == Pages::memory || page == Pages::files || page == Pages::maintenance || page == Pages::history ||
        page == Pages::settings)
        return new PendingPage(page);
    return new OverviewPage(model, navigate);
}

QWidget* makeSettingsContent(AppModel&) { return new PendingPage(Pages::settings); }
