#include "shell/AppMenus.h"

#include "model/AppModel.h"
#include "shell/AppSettings.h"
#include "shell/LocalizedText.h"
#include "shell/NavigationBus.h"
#include "shell/PageDestinations.h"
#include "shell/ShellHooks.h"
#include "shell/VisibleWindows.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QTimer>

AppMenus::AppMenus(AppModel& model, Commands commands, QObject* parent)
    : QObject(parent), model_(model), commands_(std::move(commands))
{
    QMenu* app = addMenu(QStringLiteral("Tessyn"));
    addItem(app, QStringLiteral("新建窗口"), QKeySequence(Qt::CTRL | Qt::Key_N), [this] {
        if (commands_.newWindow) commands_.newWindow();
    });
    app->addSeparator();
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
                    NavigationBus::shared().post(navigationTarget(main), page);
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
    action->setMenuRole(QAction::NoRole);
    connect(action, &QAction::triggered, this, [run = std::move(run)] { run(); });
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

QWidget* AppMenus::navigationTarget(QWidget* mainWindow)
{
    if (QWidget* active = QApplication::activeWindow()) return active;
    if (mainWindow && mainWindow->isVisible()) return mainWindow;
    return firstVisibleWindow();
}
