#pragma once
#include "shell/window/LayoutStyle.h"

#include <QPointer>
#include <QSet>
#include <QString>
#include <QTimer>
#include <QToolBar>
#include <QWidget>
#include <functional>
#include <optional>
#include <vector>

class AppModel;
class CachedPageHost;
class NavigationItem;
class NavigationWindowProbe;
class QLabel;
class QPushButton;
class QToolButton;
class StyledLabel;

// The content of a main window: the navigation (a sidebar or a bar along the top), the page
// header, the message banner and the page area, plus the toolbar that the window places.
// Pages are identified by their untranslated Chinese titles. Switching the layout replaces
// only the navigation; the content column and every page built so far stay as they are.
class MainView : public QWidget {
    Q_OBJECT
public:
    static constexpr int mountDelayMs = 16;
    static constexpr int memoryIntervalMs = 3000;
    static constexpr int sidebarWidth = 212;
    // A view shorter than this folds the page header away (the toolbar keeps the page's title)
    // and draws its margins, its spacing and the top bar tighter, leaving the height to the page.
    static constexpr int compactBelowHeight = 580;

    MainView(AppModel& model, const QString& initialPage, std::optional<LayoutStyle> layoutOverride = std::nullopt,
             QWidget* parent = nullptr);
    ~MainView() override;

    AppModel& model() const { return model_; }

    const QString& page() const { return page_; }
    // Shows a page; any identifier is accepted (one that names no page shows the overview).
    void setPage(const QString& page);
    const std::optional<QString>& readyPage() const { return readyPage_; }
    const QSet<QString>& loadedPages() const { return loadedPages_; }

    // The layout shown: the override when given, else the stored setting ("sidebar" unless
    // it holds exactly "top").
    LayoutStyle effectiveLayout() const;
    // The window this view lives in, as its probe last reported; page notifications for other
    // windows are ignored.
    QWidget* navigationWindow() const { return navigationWindow_; }

    // Run once, when the view is first shown.
    void setOnAppear(std::function<void()> onAppear) { onAppear_ = std::move(onAppear); }
    // The toolbar (page title and layout menu); the window takes it over.
    QToolBar* toolBar() const { return toolBar_; }

    CachedPageHost* pageHost() const { return host_; }
    QWidget* sidebar() const { return sidebar_; }
    QWidget* topNavigation() const { return topNavigation_; }
    QWidget* banner() const { return banner_; }
    QLabel* bannerText() const;
    QPushButton* bannerCloseButton() const { return bannerClose_; }
    QLabel* headerTitle() const;
    bool compact() const { return compact_; }
    QWidget* loadingPlaceholder() const { return placeholder_; }
    std::vector<NavigationItem*> navigationItems() const;
    QToolButton* layoutMenuButton() const { return layoutButton_; }
    // The version at the end of the top bar.
    QLabel* topVersionLabel() const;

    // One tick of the 3-second memory timer: samples only while the window is active.
    void memoryTick();

signals:
    void pageChanged(const QString& page);
    void readyPageChanged();

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    AppModel& model_;
    QString page_;
    std::optional<QString> mountingPage_;
    std::optional<QString> readyPage_;
    // A page chosen from the menu or its shortcut: it takes the focus once it is ready.
    std::optional<QString> focusWhenReady_;
    QSet<QString> loadedPages_;
    std::optional<LayoutStyle> layoutOverride_;
    QPointer<QWidget> navigationWindow_;
    std::function<void()> onAppear_;
    bool appeared_ = false;
    bool compact_ = false;

    QTimer memoryTimer_;
    QTimer mountTimer_;
    QString mountTarget_;

    NavigationWindowProbe* probe_ = nullptr;
    QWidget* sidebar_ = nullptr;
    QWidget* sidebarRule_ = nullptr;
    QWidget* topNavigation_ = nullptr;
    std::vector<NavigationItem*> sidebarItems_;
    std::vector<NavigationItem*> topItems_;
    std::vector<std::pair<StyledLabel*, QString>> fixedTexts_;  // label, untranslated text
    StyledLabel* sidebarVersion_ = nullptr;
    StyledLabel* topVersion_ = nullptr;
    QWidget* contentColumn_ = nullptr;
    QWidget* header_ = nullptr;
    StyledLabel* title_ = nullptr;
    StyledLabel* subtitle_ = nullptr;
    QWidget* banner_ = nullptr;
    StyledLabel* bannerText_ = nullptr;
    QPushButton* bannerClose_ = nullptr;
    QWidget* pageArea_ = nullptr;
    CachedPageHost* host_ = nullptr;
    QWidget* placeholder_ = nullptr;
    StyledLabel* placeholderText_ = nullptr;
    QPointer<QToolBar> toolBar_;
    QLabel* toolbarTitle_ = nullptr;
    QToolButton* layoutButton_ = nullptr;

    QWidget* buildSidebar();
    QWidget* buildTopNavigation();
    QWidget* buildBrand();
    QWidget* buildHeader();
    QWidget* buildBanner();
    QWidget* buildPageArea();
    void buildToolBar();
    StyledLabel* fixedText(const QString& text, const QFont& font, bool muted);

    void pageDidChange();
    void startMount();
    void mountTimerFired();
    void didMount(const QString& page);
    void setReadyPage(std::optional<QString> page);
    // Tells the audit which page is shown and which is ready.
    void reportPage();
    void updateHost();
    void refreshChrome();
    void refreshBanner();
    void retranslate();
    void applyLayout();
    void applyCompact();
    void navigationPosted(QWidget* window, const QString& page);
    // Gives the focus to the first control of the shown page, if it has one.
    void focusPage();
};
