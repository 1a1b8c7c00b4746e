#pragma once
#include "model/AppModel.h"
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

// Running applications under the test's control; safe to call from the model's workers.
class FakeApplications : public RunningApplications {
public:
    void set(std::vector<RunningApplication> apps)
    {
        std::lock_guard lock(mutex_);
        apps_ = std::move(apps);
    }
    void terminate(int32_t pid)
    {
        std::lock_guard lock(mutex_);
        terminated_.insert(pid);
    }
    // An application asked to quit leaves at once.
    void quitTerminates(bool value)
    {
        std::lock_guard lock(mutex_);
        quitTerminates_ = value;
    }
    void acceptQuit(bool accept)
    {
        std::lock_guard lock(mutex_);
        accept_ = accept;
    }
    std::vector<int32_t> quitRequests()
    {
        std::lock_guard lock(mutex_);
        return quitRequests_;
    }
    int listCalls()
    {
        std::lock_guard lock(mutex_);
        return listCalls_;
    }

    std::vector<RunningApplication> list() override
    {
        std::lock_guard lock(mutex_);
        ++listCalls_;
        return apps_;
    }
    std::optional<RunningApplication> lookup(int32_t pid) override
    {
        std::lock_guard lock(mutex_);
        for (const auto& app : apps_)
            if (app.pid == pid && !terminated_.count(pid)) return app;
        return std::nullopt;
    }
    bool requestQuit(const RunningApplication& app) override
    {
        std::lock_guard lock(mutex_);
        quitRequests_.push_back(app.pid);
        if (accept_ && quitTerminates_) terminated_.insert(app.pid);
        return accept_;
    }
    bool hasTerminated(const RunningApplication& app) override
    {
        std::lock_guard lock(mutex_);
        return terminated_.count(app.pid) > 0;
    }

private:
    std::mutex mutex_;
    std::vector<RunningApplication> apps_;
    std::set<int32_t> terminated_;
    std::vector<int32_t> quitRequests_;
    bool accept_ = true;
    bool quitTerminates_ = false;
    int listCalls_ = 0;
};

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
};

// A record as the trash engine makes it.
Operation movedRecord(const std::string& path, double date, bool success = true);
// Writes files <folder>/<prefix>NNN.txt with distinct contents; returns their paths.
std::vector<std::string> makeFiles(const std::string& folder, int count, const std::string& prefix = "f");
std::vector<std::string> historyPaths(const std::vector<Operation>& history);
// Scans the model's chosen folder and waits for the completion.
void chooseAndScan(AppModel& model);
