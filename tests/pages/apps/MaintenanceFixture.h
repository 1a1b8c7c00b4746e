#pragma once
#include "../../model/ModelTestSupport.h"
#include "../../shell/ShellTestSupport.h"

#include "model/AppModel.h"
#include "pages/apps/MaintenancePage.h"

#include <QWidget>
#include <memory>
#include <string>
#include <vector>

// A temporary home with an Applications folder, a model over it and the maintenance page in a
// shown window. `systemApps` uses the session's real running applications instead of a fake.
struct MaintenanceFixture {
    TempHome home;
    std::string homeFolder;
    std::string appFolder;
    std::shared_ptr<FakeApplications> fakeApps = std::make_shared<FakeApplications>();
    std::unique_ptr<AppModel> model;
    std::unique_ptr<QWidget> window;
    MaintenancePage* page = nullptr;

    MaintenanceFixture();
    ~MaintenanceFixture();

    std::string bundle(const std::string& name, const std::string& bundleID,
                       const std::optional<std::string>& executable = std::nullopt) const;
    // Preferences file, cache folder and support folder of an identifier, with some content.
    std::vector<std::string> relatedItems(const std::string& bundleID) const;
    // Cache files old enough for a plan.
    void oldCacheFiles(const std::string& bundleID, int count) const;

    void start(bool systemApps = false);
    // Waits until the model is neither listing, inspecting nor processing.
    bool settle() const;
    const InstalledApp& installed(const std::string& name) const;
};

// Clicks a row button of the listed application at `path` as the mouse does; false when the
// application is not listed or the row has no such button.
bool clickRowButton(ApplicationList* list, const std::string& path, ApplicationList::RowButton button);
// Clicks the action button of the confirmation shown on `sheet`.
bool confirmOn(QWidget* sheet);
// Saves a picture of the widget's window when TESSYN_SHOTS names a folder.
void saveShot(QWidget* widget, const std::string& name);
