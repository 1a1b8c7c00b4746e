#include "shell/app/TessynApp.h"

#include "model/AppModel.h"
#include "shell/window/AppMenus.h"
#include "shell/app/AppSettings.h"
#include "shell/DesktopServices.h"
#include "shell/window/MainView.h"
#include "shell/window/MainWindow.h"
#include "shell/ModelServices.h"
#include "shell/window/SettingsWindow.h"
#include "shell/app/TessynDelegate.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QTimer>

TessynApp::TessynApp(std::unique_ptr<AppModel> model, QObject* parent)
    : QObject(parent), model_(std::move(model)), delegate_(std::make_unique<TessynDelegate>())
{
    if (!model_)
        model_ = std::make_unique<AppModel>(std::nullopt, std::nullopt, std::nullopt, ModelServices::collaborators());
    // The quit decision runs when the last main window closes, not Qt's automatic quit.
    QApplication::setQuitOnLastWindowClosed(false);
    exit_ = [] { QCoreApplication::quit(); };

    AppMenus::Commands commands;
    commands.newWindow = [this] { openMainWindow(); };
    commands.showSettings = [this] { showSettings(); };
    commands.quit = [this] {
        if (quit()) return;
        // Refused: the reason is in a main window's banner, which the settings window lacks.
        MainWindow* main = commandWindow();
        if (!main || qobject_cast<MainWindow*>(QApplication::activeWindow())) return;
        main->raise();
        main->activateWindow();
    };
    commands.mainWindow = [this]() -> QWidget* { return commandWindow(); };
    menus_ = std::make_unique<AppMenus>(*model_, commands);

    // Qt's own dialogs (the folder chooser) speak the interface language too.
    DesktopServices::applyQtTranslations(currentLanguage());
    connect(&AppSettings::shared(), &AppSettings::changed, this, [](const QString& key) {
        if (key == AppSettings::languageKey) DesktopServices::applyQtTranslations(currentLanguage());
    });
}

TessynApp::~TessynApp()
{
    terminating_ = true;
    signals_.reset();
    delete settings_;
    for (const auto& window : windows_) delete window;
    menus_.reset();
    model_.reset();
}

void TessynApp::launch()
{
    openMainWindow();
    delegate_->applicationDidFinishLaunching(menus_->menus());
}

MainWindow* TessynApp::openMainWindow()
{
    auto* window = new MainWindow(*model_, menus_->menus());
    window->setCloseGuard([this](MainWindow* closing) { return allowClose(closing); });
    window->view()->setOnAppear([this] { delegate_->model = model_.get(); });
    window->installEventFilter(this);
    windows_.append(window);
    lastMain_ = window;
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}

MainWindow* TessynApp::commandWindow() const
{
    if (lastMain_ && lastMain_->isVisible()) return lastMain_;
    // The main window used last has closed: the newest one still open takes the commands.
    const QList<MainWindow*> open = mainWindows();
    for (auto window = open.rbegin(); window != open.rend(); ++window)
        if ((*window)->isVisible()) return *window;
    return nullptr;
}

QList<MainWindow*> TessynApp::mainWindows() const
{
    QList<MainWindow*> list;
    for (const auto& window : windows_)
        if (window) list.append(window);
    return list;
}

SettingsWindow* TessynApp::showSettings()
{
    if (!settings_) settings_ = new SettingsWindow(*model_);
    settings_->show();
    settings_->raise();
    settings_->activateWindow();
    return settings_;
}

bool TessynApp::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::WindowActivate)
        if (auto* window = qobject_cast<MainWindow*>(watched)) lastMain_ = window;
    return QObject::eventFilter(watched, event);
}

bool TessynApp::allowClose(MainWindow* window)
{
    if (terminating_) return true;
    for (MainWindow* other : mainWindows())
        if (other != window && other->isVisible()) return true;
    // The last main window: closing it quits the program, so it takes the quit decision.
    if (!delegate_->applicationShouldTerminate()) return false;
    terminating_ = true;
    QTimer::singleShot(0, this, [this] { terminate(); });
    return true;
}

bool TessynApp::quit()
{
    if (terminating_) return true;
    if (!delegate_->applicationShouldTerminate()) return false;
    terminating_ = true;
    terminate();
    return true;
}

void TessynApp::terminate()
{
    if (settings_) settings_->close();
    for (MainWindow* window : mainWindows()) window->close();
    if (exit_) exit_();
}

void TessynApp::handleTerminationSignals()
{
    if (signals_) return;
    signals_ = std::make_unique<TerminationSignals>();
    connect(signals_.get(), &TerminationSignals::received, this, [this] { quit(); });
}
