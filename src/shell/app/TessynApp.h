#pragma once
#include "model/AppModel.h"
#include "shell/window/MainWindow.h"
#include "shell/window/SettingsWindow.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>

class AppMenus;
class TerminationSignals;
class TessynDelegate;

// The running program: the one application model, the shared menus, the main windows and the
// settings window, and the delegate that decides about quitting. Build it after the
// QApplication and the appearance are installed; destroying it closes every window first and
// then ends the model.
class TessynApp : public QObject {
    Q_OBJECT
public:
    // `model` defaults to the user's own (history and settings in the usual places).
    explicit TessynApp(std::unique_ptr<AppModel> model = nullptr, QObject* parent = nullptr);
    ~TessynApp() override;

    AppModel& model() const { return *model_; }
    AppMenus& menus() const { return *menus_; }
    TessynDelegate& delegate() const { return *delegate_; }

    // Shows the first main window and schedules the reopen check.
    void launch();
    // The new-window command.
    MainWindow* openMainWindow();
    QList<MainWindow*> mainWindows() const;
    SettingsWindow* showSettings();

    // The quit command: asks the delegate, then closes every window and ends the program.
    // Returns false when quitting was refused.
    bool quit();
    // How the program ends once quitting is decided; QCoreApplication::quit by default.
    void setExit(std::function<void()> exit) { exit_ = std::move(exit); }
    // SIGTERM and SIGINT ask for quit() from now on.
    void handleTerminationSignals();

private:
    std::unique_ptr<AppModel> model_;
    std::unique_ptr<TessynDelegate> delegate_;
    std::unique_ptr<AppMenus> menus_;
    std::unique_ptr<TerminationSignals> signals_;
    QList<QPointer<MainWindow>> windows_;
    QPointer<MainWindow> lastMain_;
    QPointer<SettingsWindow> settings_;
    std::function<void()> exit_;
    bool terminating_ = false;

    // The main window the menu commands act on: the one used last while it is open, else the
    // newest open one.
    MainWindow* commandWindow() const;
    bool allowClose(MainWindow* window);
    void terminate();
    bool eventFilter(QObject* watched, QEvent* event) override;
};
