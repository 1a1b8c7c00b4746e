#pragma once
#include "pages/apps/CacheReviewView.h"
#include "pages/apps/UninstallReviewView.h"
#include "services/InstalledApp.h"

#include <QFuture>
#include <QPointer>
#include <QWidget>

#include <vector>

class AppModel;
class DisclosureGroup;
class NativeActionButton;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QStackedWidget;
class QVBoxLayout;
class StyledLabel;

// The page "应用与缓存": the inventoried application bundles with a search, the running mark,
// and per application the cache inspection and the uninstall, each ending in its review sheet.
// The page keeps presentation state only (search text, which sheet is open); listing,
// inspecting, cleaning and uninstalling are the model's.
class MaintenancePage : public QWidget {
    Q_OBJECT
public:
    enum class Content { reading, noApplications, noMatch, list };

    explicit MaintenancePage(AppModel& model, QWidget* parent = nullptr);

    // The applications whose name, else bundle identifier, contains `search` ignoring case;
    // the text is used as typed (spaces count). An empty text keeps every application.
    static std::vector<InstalledApp> visibleApps(const std::vector<InstalledApp>& apps, const QString& search);

    Content content() const;
    const std::vector<InstalledApp>& shownApps() const { return shown_; }
    QPushButton* refreshButton() const { return refreshButton_; }
    QLineEdit* searchField() const { return searchField_; }
    StyledLabel* countLine() const { return countLine_; }
    QProgressBar* busyIndicator() const { return busyIndicator_; }
    DisclosureGroup* rules() const { return rules_; }
    // The row of an application by its path; null when not listed.
    QWidget* row(const std::string& path) const;
    // The listing the page started when it was built with an empty inventory (finished at once
    // when it started none or the model refused).
    QFuture<void> startupListing() const { return startupListing_; }

    CacheReviewView* cacheSheet() const { return cacheSheet_.data(); }
    UninstallReviewView* uninstallSheet() const { return uninstallSheet_.data(); }

    // The row actions.
    void inspect(const InstalledApp& app);
    void uninstall(const InstalledApp& app);

private:
    struct Row {
        InstalledApp app;
        QWidget* widget = nullptr;
        StyledLabel* running = nullptr;
        QPushButton* inspect = nullptr;  // only for an application with a cache rule
        NativeActionButton* uninstall = nullptr;
    };

    AppModel& model_;
    std::vector<InstalledApp> shown_;
    std::vector<Row> rows_;
    QFuture<void> startupListing_;
    QPointer<CacheReviewView> cacheSheet_;
    QPointer<UninstallReviewView> uninstallSheet_;

    QPushButton* refreshButton_ = nullptr;
    QProgressBar* busyIndicator_ = nullptr;
    StyledLabel* countLine_ = nullptr;
    QLineEdit* searchField_ = nullptr;
    QStackedWidget* content_ = nullptr;
    QVBoxLayout* rowColumn_ = nullptr;
    DisclosureGroup* rules_ = nullptr;

    QWidget* buildHeader();
    QWidget* buildContent();
    QWidget* buildRules();
    Row buildRow(const InstalledApp& app);
    // After the inventory changed: one row per application, kept across searches.
    void rebuildRows();
    void chainTabOrder();
    // After the search changed: shows the rows of the matching applications.
    void applySearch();
    // After the busy flags or the running snapshot changed.
    void refreshStates();
    void refreshCount();
    void showCacheSheet();
};
