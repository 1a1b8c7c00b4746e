#include "pages/PageCatalog.h"

#include "pages/HistoryPage.h"
#include "pages/MemoryPage.h"
#include "shell/PageDestinations.h"

PageFactory tessynPages()
{
    PageFactory factory;
    factory.page = [](const QString& page, AppModel& model, const PageFactory::Navigate& navigate) -> QWidget* {
        (void)model;
        (void)navigate;
        (void)page;
        if (page == Pages::history) return new HistoryPage(model);
        if (page == Pages::memory) return new MemoryPage(model);
        return nullptr;
    };
    factory.settings = [](AppModel& model) -> QWidget* {
        (void)model;
        return nullptr;
    };
    return factory;
}
