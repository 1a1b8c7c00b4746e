#pragma once
#include "shell/window/LayoutStyle.h"

#include <QMainWindow>
#include <functional>
#include <optional>

class AppModel;
class MainView;
class QMenu;

// One main window: the main view with its toolbar, the application's menus in its menu bar,
// and its title in the interface language. Default size 1080 x 720, at least 860 x 600.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int defaultWidth = 1080;
    static constexpr int defaultHeight = 720;
    static constexpr int minimumWidth = 860;
    static constexpr int minimumHeight = 600;

    // Asked when the window is about to close; false keeps it open.
    using CloseGuard = std::function<bool(MainWindow*)>;

    MainWindow(AppModel& model, const QList<QMenu*>& menus, const QString& initialPage = QStringLiteral("概览"),
               std::optional<LayoutStyle> layoutOverride = std::nullopt, QWidget* parent = nullptr);

    MainView* view() const { return view_; }
    void setCloseGuard(CloseGuard guard) { closeGuard_ = std::move(guard); }

    // "Tessyn · 内存与文件管理" for a stored language of exactly "zh-Hans", else the English title.
    static QString titleFor(const QString& languageRaw);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    MainView* view_ = nullptr;
    CloseGuard closeGuard_;
    void retitle();
};
