#include "pages/PageCatalog.h"

#include "pages/files/FilesPage.h"
#include "pages/history/HistoryPage.h"
#include "pages/apps/MaintenancePage.h"
#include "pages/memory/MemoryPage.h"
#include "pages/settings/SettingsPage.h"
#include "shell/window/PageDestinations.h"

PageFactory tessynPages()
{
    PageFactory factory;
    factory.page = [](const QString& page, AppModel& model, const PageFactory::Navigate&) -> QWidget* {
        if (page == Pages::memory) return new MemoryPage(model);
        if (page == Pages::files) return new FilesPage(model);
        if (page == Pages::maintenance) return new MaintenancePage(model);
        if (page == Pages::history) return new HistoryPage(model);
        if (page == Pages::settings) return new SettingsPage(model);
        return nullptr;
    };
    factory.settings = [](AppModel& model) -> QWidget* { return new SettingsPage(model); };
    return factory;
}
