#pragma once
#include "ShellTestSupport.h"
#include "TestSupport.h"

#include "model/AppModel.h"
#include "shell/app/TessynApp.h"

#include <QKeySequence>
#include <QTest>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class MainView;
class MainWindow;

// No running applications.
class NoApplications : public RunningApplications {
public:
    std::vector<RunningApplication> list() override { return {}; }
    bool isRunning(const std::string&, const std::string&) override { return false; }
    std::optional<RunningApplication> lookup(int32_t) override { return std::nullopt; }
    bool requestQuit(const RunningApplication&) override { return false; }
    bool hasTerminated(const RunningApplication&) override { return true; }
};

// A whole program under test: a model whose stores, folders and services stay inside a
// temporary home, and the TessynApp around it. The program's exit is counted, not performed.
struct ShellHarness {
    TempHome home;
    std::optional<std::string> chosenFolder;
    // When set, the folder chooser the model calls instead of answering `chosenFolder`.
    std::function<std::optional<std::string>()> chooser;
    std::optional<MemorySnapshot> memory;  // what every memory sample reads
    int memoryReads = 0;
    int exits = 0;
    std::unique_ptr<TessynApp> app;

    ShellHarness();
    ~ShellHarness();

    AppModel& model() const { return app->model(); }
    // Opens a main window and waits until it is active and its first page is ready.
    MainWindow* openWindow();
    std::string folder(const std::string& name) const;
};

MainView* viewOf(MainWindow* window);
// Makes the window active and waits for it.
bool activate(QWidget* window);
// Presses a shortcut in the window, as the keyboard would.
void press(QWidget* window, const QKeySequence& keys);
// Waits until the view's shown page is mounted and ready.
bool waitReady(MainView* view, const QString& page, int milliseconds = 5000);
// Gives `widget` the keyboard focus as Tab would, in its window made active.
bool focusByKeyboard(QWidget* widget);
// The widgets Tab stops on from `start` once round its window (`start` not listed).
std::vector<QWidget*> tabRound(QWidget* start, int most = 400);
