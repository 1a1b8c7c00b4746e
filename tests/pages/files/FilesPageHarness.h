#pragma once
#include "../../shell/MainWindowTestSupport.h"

#include "model/AppModel.h"
#include "pages/files/FilesPage.h"

#include "shell/controls/StyledLabel.h"

#include <QAbstractButton>
#include <QWidget>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class MainWindow;

// A files page over the model of a program whose stores, Trash and folder chooser stay inside
// a temporary home: in a window of its own, or in a main window of the program with its
// header and message banner. The window goes before the program.
struct FilesPageHarness {
    enum class Host { ownWindow, mainWindow };

    ShellHarness shell;
    TempHome& home;
    std::optional<std::string>& chosen;  // what the folder chooser answers
    AppModel* model;
    std::unique_ptr<QWidget> window;
    MainWindow* mainWindow = nullptr;
    FilesPage* page = nullptr;

    explicit FilesPageHarness(QSize size = QSize(1000, 760), Host host = Host::ownWindow);
    ~FilesPageHarness();

    // The window the page is shown in.
    QWidget* shownWindow() const;

    std::string trashFiles() const { return home.dataHome() + "/Trash/files"; }
    // Chooses the folder and scans it through the page's buttons, waiting for the result.
    void chooseAndScan(const std::string& folder);
    // Waits until the model has no query running.
    bool settled(int milliseconds = 10000);
};

// Writes `count` files <folder>/<prefix>NNNNN.txt, the later ones larger, so the size order
// is the reverse of the name order. Returns the paths, smallest first.
std::vector<std::string> writeFiles(const std::string& folder, int count, const std::string& prefix = "f");
// A report of synthetic entries (not on disk) for layout and speed checks.
std::shared_ptr<ScanReport> syntheticReport(size_t count);
// Clicks a button as the mouse would.
void click(QAbstractButton* button);
// The paths of the rows the table shows, in order.
std::vector<std::string> shownPaths(const NativeFileTable* table);
