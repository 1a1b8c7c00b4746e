#include "pages/PageCatalog.h"

#include "shell/PageDestinations.h"

PageFactory tessynPages()
{
    PageFactory factory;
    factory.page = [](const QString& page, AppModel& model, const PageFactory::Navigate& navigate) -> QWidget* {
        (void)model;
        (void)navigate;
        (void)page;
        return nullptr;
    };
    factory.settings = [](AppModel& model) -> QWidget* {
        (void)model;
        return nullptr;
    };
    return factory;
}
