#pragma once
#include "model/AppModel.h"
#include "FakeApplications.h"
#include "TestSupport.h"

#include <QSignalSpy>
#include <QTest>

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

// Runs the event loop until the condition holds or the time is up.
inline bool waitFor(const std::function<bool()>& condition, int milliseconds = 30000)
{
    return QTest::qWaitFor(condition, milliseconds);
}

// Waits, without serving the event queue, until every worker thread the model started has
// ended, so whatever they post waits in the queue. Worker threads keep the main thread's
// name; Qt's own threads name themselves.
bool waitForWorkersEnded(int milliseconds = 30000);

// Waits for the workers to end, then delivers all they posted: afterwards nothing started
// before can still publish.
bool settleWorkers(int milliseconds = 30000);

RunningApplication runningApp(int32_t pid, std::optional<std::string> name, std::optional<std::string> bundlePath,
                              std::optional<std::string> bundleID = std::nullopt, bool regular = true);

// A temporary home with the model's stores inside it and fakes for the system's services.
struct ModelHome {
    TempHome home;
    std::shared_ptr<FakeApplications> apps = std::make_shared<FakeApplications>();

    std::string storeFolder() const { return home.dataHome() + "/Tessyn"; }
    std::string historyPath() const { return storeFolder() + "/operations.json"; }
    std::string journalPath() const { return storeFolder() + "/pending-actions.json"; }
    std::string trashFiles() const { return home.dataHome() + "/Trash/files"; }

    // The journal the model will open, its folder created.
    std::unique_ptr<OperationJournal> journal() const
    {
        makeDirs(storeFolder());
        return std::make_unique<OperationJournal>(journalPath());
    }

    // Collaborators that touch nothing outside the home; `chosen` answers the folder chooser.
    AppModel::Collaborators services(std::optional<std::string> chosen = std::nullopt) const;
    std::unique_ptr<AppModel> model(AppModel::Collaborators services) const;
    std::unique_ptr<AppModel> model() const { return model(services()); }

    // The folder the scanned models choose.
    std::string tree() const { return home.path("tree"); }
    // `count` files made in tree() (see makeFiles), and a model that chose it and scanned it.
    std::unique_ptr<AppModel> scannedModel(int count, const std::string& prefix = "f") const;
};

// Counts the history's saves in a store folder from now on: each lands by a rename.
class HistorySaves {
public:
    explicit HistorySaves(const std::string& storeFolder);
    ~HistorySaves();
    HistorySaves(const HistorySaves&) = delete;
    HistorySaves& operator=(const HistorySaves&) = delete;
    int count();

private:
    int watch_;
    int count_ = 0;
};

// A record as the trash engine makes it.
Operation movedRecord(const std::string& path, double date, bool success = true);
// Writes files <folder>/<prefix>NNN.txt with distinct contents; returns their paths.
std::vector<std::string> makeFiles(const std::string& folder, int count, const std::string& prefix = "f");
std::vector<std::string> historyPaths(const std::vector<Operation>& history);
// Scans the model's chosen folder and waits for the completion.
void chooseAndScan(AppModel& model);
