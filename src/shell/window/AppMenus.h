#pragma once
#include <QList>
#include <QObject>
#include <QString>
#include <functional>
#include <vector>

class AppModel;
class QAction;
class QMenu;
class QWidget;

// The application's menus, shared by the menu bars of all main windows (Ctrl stands for
// Command, Alt for Option):
//   "Tessyn"  "新建窗口" Ctrl+N, "关于 Tessyn" (name, version and build), "检查更新…",
//             "设置…" Ctrl+, and "退出 Tessyn" Ctrl+Q
//   "整理"    "选择文件夹…" Ctrl+O and "扫描所选目录" Ctrl+R, disabled while the model is busy
//   "页面"    the six pages, Ctrl+1 to Ctrl+6, posted to one window through the NavigationBus
// The shortcuts work whatever window of the program is active.
//   "布局"    "侧栏工作台" Ctrl+Alt+1 and "顶部导航" Ctrl+Alt+2, written to "tessyn.layout"
// Titles are the Chinese texts, shown through L and retitled on a language change.
class AppMenus : public QObject {
    Q_OBJECT
public:
    struct Commands {
        std::function<void()> newWindow;
        std::function<void()> showSettings;
        std::function<void()> quit;
        // The main window most recently active, if any.
        std::function<QWidget*()> mainWindow;
    };

    AppMenus(AppModel& model, Commands commands, QObject* parent = nullptr);
    ~AppMenus() override;

    // In menu-bar order.
    QList<QMenu*> menus() const;
    // A menu or item by its untranslated title; null when there is none.
    QMenu* menu(const QString& title) const;
    QAction* action(const QString& title) const;

    // The window a page command addresses: the active window when it is a main window, else
    // the given main window when it is visible, else the active window, else the first visible
    // window; null when no window is visible.
    static QWidget* navigationTarget(QWidget* mainWindow);

private:
    AppModel& model_;
    Commands commands_;
    std::vector<std::pair<QMenu*, QString>> menus_;
    std::vector<std::pair<QAction*, QString>> actions_;

    QMenu* addMenu(const QString& title);
    QAction* addItem(QMenu* menu, const QString& title, const QKeySequence& shortcut, std::function<void()> run);
    void retranslate();
    void refreshEnabled();
    void showAbout();
};
