#pragma once
#include <QString>
#include <functional>

class AppModel;
class QWidget;

// Builds the root widget of a main-window page by its identifier: the memory, files,
// applications-and-caches, history and settings pages, and the overview for "概览" and for
// any identifier that names none of them. `navigate` switches the window's page.
QWidget* makePageContent(const QString& page, AppModel& model, const std::function<void(const QString&)>& navigate);

// The content of the settings window.
QWidget* makeSettingsContent(AppModel& model);
