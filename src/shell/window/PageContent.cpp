#include "shell/window/PageContent.h"

#include "shell/window/OverviewPage.h"
#include "shell/window/PageDestinations.h"
#include "shell/window/PendingPage.h"

namespace {

PageFactory& installedFactory()
{
    static PageFactory factory;
    return factory;
}

} // namespace

void installPageFactory(PageFactory factory) { installedFactory() = std::move(factory); }

QWidget* makePageContent(const QString& page, AppModel& model, const PageFactory::Navigate& navigate)
{
    bool named = page == Pages::memory || page == Pages::files || page == Pages::maintenance ||
                 page == Pages::history || page == Pages::settings;
    if (!named) return new OverviewPage(model, navigate);
    if (const auto& build = installedFactory().page)
        if (QWidget* built = build(page, model, navigate)) return built;
    return new PendingPage(page);
}

QWidget* makeSettingsContent(AppModel& model)
{
    if (const auto& build = installedFactory().settings)
        if (QWidget* built = build(model)) return built;
    return new PendingPage(Pages::settings);
}
