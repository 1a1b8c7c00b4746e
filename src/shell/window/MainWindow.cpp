#include "shell/window/MainWindow.h"

#include "shell/app/AppSettings.h"
#include "shell/style/BrandArtwork.h"
#include "shell/window/MainView.h"

#include <QCloseEvent>
#include <QMenu>
#include <QMenuBar>
#include <QToolBar>

MainWindow::MainWindow(AppModel& model, const QList<QMenu*>& menus, const QString& initialPage,
                       std::optional<LayoutStyle> layoutOverride, QWidget* parent)
    : QMainWindow(parent)
{
    setObjectName(QStringLiteral("main-window"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowIcon(BrandArtwork::image());
    setUnifiedTitleAndToolBarOnMac(true);
    view_ = new MainView(model, initialPage, layoutOverride);
    setCentralWidget(view_);
    addToolBar(Qt::TopToolBarArea, view_->toolBar());
    for (QMenu* menu : menus) menuBar()->addMenu(menu);
    setMinimumSize(minimumWidth, minimumHeight);
    resize(defaultWidth, defaultHeight);
    retitle();
    connect(&AppSettings::shared(), &AppSettings::changed, this, [this](const QString& key) {
        if (key == AppSettings::languageKey) retitle();
    });
}

QString MainWindow::titleFor(const QString& languageRaw)
{
    return languageRaw == QStringLiteral("zh-Hans") ? QStringLiteral("Tessyn · 内存与文件管理")
                                                   : QStringLiteral("Tessyn · Memory & Files");
}

void MainWindow::retitle() { setWindowTitle(titleFor(AppSettings::shared().languageRaw())); }

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (closeGuard_ && !closeGuard_(this)) {
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}
