#pragma once
#include <QString>
#include <functional>

class AppModel;
class QWidget;

// The pages are built outside the shell and handed to it by the program's composition root;
// the shell itself builds only the overview, and stands in for a page nobody supplies.
struct PageFactory {
    using Navigate = std::function<void(const QString& page)>;
    // The root widget of a main-window page other than the overview; null when not built.
    std::function<QWidget*(const QString& page, AppModel& model, const Navigate& navigate)> page;
    // The content of the settings window; null when not built.
    std::function<QWidget*(AppModel& model)> settings;
};

// Replaces the factory used by every window opened from now on (an empty one: stand-ins only).
void installPageFactory(PageFactory factory);

// The root widget of a main-window page by its identifier: the overview for "概览" and for any
// identifier that names no page. `navigate` switches the window's page.
QWidget* makePageContent(const QString& page, AppModel& model, const PageFactory::Navigate& navigate);

// The content of the settings window.
QWidget* makeSettingsContent(AppModel& model);
