#include "audit/RuntimeAudit.h"
#include "pages/PageCatalog.h"
#include "shell/style/AppAppearance.h"
#include "shell/style/BrandArtwork.h"
#include "shell/LocalizedText.h"
#include "shell/app/ShellHooks.h"
#include "shell/app/TessynApp.h"
#include "update/SoftwareUpdateController.h"
#include "update/UpdateHooks.h"

#include <QApplication>

int main(int argc, char** argv)
{
    SoftwareUpdateController::leaveTlsStateToTheSystemAtExit();
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tessyn"));
    QApplication::setOrganizationName(QStringLiteral("Tessyn"));
    QApplication::setApplicationVersion(QStringLiteral(TESSYN_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral("tessyn"));
    ensureShellResources();
    AppAppearanceModifier::install();
    QApplication::setWindowIcon(BrandArtwork::image());
    installPageFactory(tessynPages());
    SoftwareUpdateController::shared().removeAbandonedDownloads();
    installShellHooks({updateHooks(), RuntimeAudit::shellHooks()});

    TessynApp tessyn;
    tessyn.handleTerminationSignals();
    tessyn.launch();
    return application.exec();
}
