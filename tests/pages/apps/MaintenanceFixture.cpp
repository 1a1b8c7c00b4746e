#include "MaintenanceFixture.h"

#include "BundleFixture.h"
#include "engine/FileEngine.h"
#include "services/RelatedFiles.h"
#include "shell/controls/ActionConfirmation.h"

#include <QDialog>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>

#include <cstdlib>

MaintenanceFixture::MaintenanceFixture()
    : homeFolder(FileEngine::canonicalURL(home.root())), appFolder(homeFolder + "/Applications")
{
    ensureShellApp();
    makeDirs(appFolder);
}

MaintenanceFixture::~MaintenanceFixture()
{
    window.reset();
    model.reset();
}

std::string MaintenanceFixture::bundle(const std::string& name, const std::string& bundleID,
                                       const std::optional<std::string>& executable) const
{
    return makeAppBundle(appFolder, name, bundleID, executable);
}

std::vector<std::string> MaintenanceFixture::relatedItems(const std::string& bundleID) const
{
    InstalledApp app;
    app.bundleID = bundleID;
    auto locations = RelatedFiles::paths(app, homeFolder);
    writeFile(locations[0].first, "<plist/>");
    writeFile(locations[1].first + "/blob", "cache");
    writeFile(locations[2].first + "/db/data.sqlite", "support");
    return {locations[0].first, locations[1].first, locations[2].first};
}

void MaintenanceFixture::oldCacheFiles(const std::string& bundleID, int count) const
{
    std::string folder = homeFolder + "/Library/Caches/" + bundleID;
    for (int i = 0; i < count; ++i) {
        std::string path = writeFile(folder + "/c" + std::to_string(1000 + i), std::string(static_cast<size_t>(2000 - i), 'x'));
        setAge(path, 10 * 86400.0);
    }
}

void MaintenanceFixture::start(bool systemApps)
{
    AppModel::Collaborators services;
    services.chooseFolder = [] { return std::optional<std::string>(); };
    services.preview = [](const std::string&) { return std::optional<std::string>(); };
    if (!systemApps) services.runningApplications = fakeApps;
    services.readMemory = [] { return std::optional<MemorySnapshot>(); };
    services.readApplicationMemory = [](const std::vector<ApplicationIdentity>&) { return std::vector<ApplicationMemory>{}; };
    services.readAvailableSpace = [](const std::string&) { return std::optional<int64_t>(); };
    services.documentsFolder = [] { return std::optional<std::string>(); };
    model = std::make_unique<AppModel>(std::nullopt, std::vector<std::string>{appFolder}, homeFolder, std::move(services));
    window = std::make_unique<QWidget>();
    window->resize(900, 640);
    auto* column = new QVBoxLayout(window.get());
    page = new MaintenancePage(*model);
    column->addWidget(page);
    window->show();
    window->activateWindow();
}

bool MaintenanceFixture::settle() const
{
    return waitFor([&] { return !model->maintenanceBusy(); });
}

const InstalledApp& MaintenanceFixture::installed(const std::string& name) const
{
    for (const InstalledApp& app : model->installedApps())
        if (app.name == name) return app;
    throw std::runtime_error("not installed: " + name);
}

bool clickRowButton(ApplicationList* list, const std::string& path, ApplicationList::RowButton button)
{
    int row = list->rowOf(path);
    if (row < 0) return false;
    list->scrollTo(list->model()->index(row, 0));
    QRect rect = list->buttonRect(row, button);
    if (!rect.isValid()) return false;
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
    return true;
}

bool confirmOn(QWidget* sheet)
{
    QDialog* alert = nullptr;
    if (!waitFor([&] { return (alert = sheet->findChild<QDialog*>(QStringLiteral("action-confirmation"))) != nullptr; }, 5000))
        return false;
    QPushButton* action = ActionConfirmation::actionButton(alert);
    if (!action) return false;
    action->click();
    return true;
}

void saveShot(QWidget* widget, const std::string& name)
{
    const char* folder = std::getenv("TESSYN_SHOTS");
    if (!folder || !*folder) return;
    QCoreApplication::processEvents();
    widget->window()->grab().save(QString::fromStdString(std::string(folder) + "/" + name + ".png"));
}
