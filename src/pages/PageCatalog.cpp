#include "pages/PageCatalog.h"

#include "pages/FilesPage.h"
#include "shell/PageDestinations.h"

PageFactory tessynPages()
{
    PageFactory factory;
    factory.page = [](const QString& page, AppModel& model, const PageFactory::Navigate& navigate) -> QWidget* {
        if (page == Pages::files) return new FilesPage(model, navigate);
        return nullptr;
    };
    factory.settings = [](AppModel& model) -> QWidget* {
        (void)model;
        return nullptr;
    };
    return factory;
}
