#include "shell/window/AppMenus.h"

#include "model/AppModel.h"
#include "shell/app/AppSettings.h"
#include "shell/app/AppVersion.h"
#include "shell/LocalizedText.h"
#include "shell/window/MainWindow.h"
#include "shell/window/NavigationBus.h"
#include "shell/window/PageDestinations.h"
#include "shell/app/ShellHooks.h"
#include "shell/app/VisibleWindows.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMessageBox>
#include <QTimer>

AppMenus::AppMenus(AppModel& model, Commands commands, QObject* parent)
    : QObject(parent), model_(model), commands_(std::move(commands))
{
    QMenu* app = addMenu(QStringLiteral("Tessyn"));
    addItem(app, QStringLiteral("新建窗口"), QKeySequence(Qt::CTRL | Qt::Key_N), [this] {
        if (commands_.newWindow) commands_.newWindow();
    });
    app->addSeparator();
    QAction* about = addItem(app, QStringLiteral("关于 Tessyn"), QKeySequence(), [this] { showAbout(); });
    about->setMenuRole(QAction::AboutRole);
    addItem(app, QStringLiteral("检查更新…"), QKeySequence(), [] {
        // Started on a later turn, as its own task of the main thread.
        QTimer::singleShot(0, qApp, [] {
            if (const auto& check = shellHooks().update.checkFromMenu) check();
        });
    });
    addItem(app, QStringLiteral("设置…"), QKeySequence(Qt::CTRL | Qt::Key_Comma), [this] {
        if (commands_.showSettings) commands_.showSettings();
    });
    app->addSeparator();
    QAction* quit = addItem(app, QStringLiteral("退出 Tessyn"), QKeySequence(Qt::CTRL | Qt::Key_Q), [this] {
        if (commands_.quit) commands_.quit();
    });
    quit->setMenuRole(QAction::QuitRole);

    QMenu* organise = addMenu(QStringLiteral("整理"));
    addItem(organise, QStringLiteral("选择文件夹…"), QKeySequence(Qt::CTRL | Qt::Key_O), [this] { model_.choose(); });
    addItem(organise, QStringLiteral("扫描所选目录"), QKeySequence(Qt::CTRL | Qt::Key_R), [this] { model_.scan(); });

    QMenu* pages = addMenu(QStringLiteral("页面"));
    int digit = 0;
    for (const PageDestination& destination : Pages::destinations()) {
        ++digit;
        addItem(pages, destination.title, QKeySequence(Qt::CTRL | (Qt::Key_0 + digit)),
                [this, page = destination.title] {
                    QWidget* main = commands_.mainWindow ? commands_.mainWindow() : nullptr;
                    QWidget* target = navigationTarget(main);
                    // A window behind its confirmation keeps its page until that is answered.
                    if (blockedByModal(target)) return;
                    NavigationBus::shared().post(target, page);
                    // Asked from another window (the settings window): the page comes to the front.
                    if (target && target != QApplication::activeWindow()) {
                        target->raise();
                        target->activateWindow();
                    }
                });
    }

    QMenu* layout = addMenu(QStringLiteral("布局"));
    addItem(layout, QStringLiteral("侧栏工作台"), QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_1), [] {
        AppSettings::shared().setValue(AppSettings::layoutKey, QStringLiteral("sidebar"));
    });
    addItem(layout, QStringLiteral("顶部导航"), QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_2), [] {
        AppSettings::shared().setValue(AppSettings::layoutKey, QStringLiteral("top"));
    });

    for (auto signal : {&AppModel::rootChanged, &AppModel::maintenanceBusyChanged})
        connect(&model_, signal, this, &AppMenus::refreshEnabled);
    connect(&AppSettings::shared(), &AppSettings::changed, this, [this](const QString& key) {
        if (key == AppSettings::languageKey) retranslate();
    });
    retranslate();
    refreshEnabled();
}

AppMenus::~AppMenus()
{
    for (auto& [menu, title] : menus_) delete menu;
}

QMenu* AppMenus::addMenu(const QString& title)
{
    auto* menu = new QMenu();
    menu->setObjectName(QStringLiteral("menu-") + title);
    menus_.emplace_back(menu, title);
    return menu;
}

QAction* AppMenus::addItem(QMenu* menu, const QString& title, const QKeySequence& shortcut, std::function<void()> run)
{
    QAction* action = menu->addAction(QString());
    action->setObjectName(title);
    action->setShortcut(shortcut);
    // The menu bar belongs to the main windows; the commands work in every window of the
    // program, the settings window too.
    action->setShortcutContext(Qt::ApplicationShortcut);
    action->setMenuRole(QAction::NoRole);
    connect(action, &QAction::triggered, this, [run = std::move(run)] {
        // Keys pressed in a confirmation or a sheet are that dialog's, whether or not another
        // main window's menu bar could take them.
        if (QWidget* active = QApplication::activeWindow(); active && active->isModal()) return;
        run();
    });
    actions_.emplace_back(action, title);
    return action;
}

QList<QMenu*> AppMenus::menus() const
{
    QList<QMenu*> list;
    for (const auto& [menu, title] : menus_) list.append(menu);
    return list;
}

QMenu* AppMenus::menu(const QString& title) const
{
    for (const auto& [menu, untranslated] : menus_)
        if (untranslated == title) return menu;
    return nullptr;
}

QAction* AppMenus::action(const QString& title) const
{
    for (const auto& [action, untranslated] : actions_)
        if (untranslated == title) return action;
    return nullptr;
}

void AppMenus::retranslate()
{
    for (const auto& [menu, title] : menus_) menu->setTitle(plainTitle(L(title)));
    for (const auto& [action, title] : actions_) action->setText(plainTitle(L(title)));
}

void AppMenus::refreshEnabled()
{
    bool busy = model_.maintenanceBusy();
    action(QStringLiteral("选择文件夹…"))->setEnabled(!busy);
    action(QStringLiteral("扫描所选目录"))->setEnabled(model_.root().has_value() && !busy);
}

void AppMenus::showAbout()
{
    QWidget* parent = QApplication::activeWindow();
    if (!parent && commands_.mainWindow) parent = commands_.mainWindow();
    QString version = L(QStringLiteral("版本 ") + AppVersion::version() + QStringLiteral("（构建 ") + AppVersion::build() +
                        QStringLiteral("）"));
    QMessageBox::about(parent, L(QStringLiteral("关于 Tessyn")), QStringLiteral("Tessyn\n") + version);
}

QWidget* AppMenus::navigationTarget(QWidget* mainWindow)
{
    QWidget* active = QApplication::activeWindow();
    if (qobject_cast<MainWindow*>(active)) return active;
    // Only main windows show pages; from another window the main window last active is meant.
    if (mainWindow && mainWindow->isVisible()) return mainWindow;
    if (active) return active;
    return firstVisibleWindow();
}
