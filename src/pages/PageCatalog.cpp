#include "pages/PageCatalog.h"

#include "pages/FilesPage.h"
#include "pages/HistoryPage.h"
#include "pages/MaintenancePage.h"
#include "pages/MemoryPage.h"
#include "pages/SettingsPage.h"
#include "shell/PageDestinations.h"

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
