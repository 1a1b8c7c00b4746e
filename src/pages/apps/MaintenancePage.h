#pragma once
#include "pages/apps/ApplicationList.h"
#include "pages/apps/CacheReviewView.h"
#include "pages/apps/UninstallReviewView.h"
#include "services/InstalledApp.h"
#include "shell/window/CarriedPage.h"

#include <QFuture>
#include <QPointer>
#include <QWidget>

#include <memory>
#include <optional>
#include <vector>

class AppModel;
class DisclosureGroup;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QStackedWidget;
class StyledLabel;

// The page "应用与缓存": the inventoried application bundles with a search, the running mark,
// and per application the cache inspection and the uninstall, each ending in its review sheet.
// The page keeps presentation state only (search text, which sheet is open); listing,
// inspecting, cleaning and uninstalling are the model's.
class MaintenancePage : public QWidget, public CarriedPage {
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
    // The listed applications, one row each.
    ApplicationList* list() const { return list_; }
    // The listing the page started when it was built with an empty inventory (finished at once
    // when it started none or the model refused).
    QFuture<void> startupListing() const { return startupListing_; }

    CacheReviewView* cacheSheet() const { return cacheSheet_.data(); }
    UninstallReviewView* uninstallSheet() const { return uninstallSheet_.data(); }

    // The row actions.
    void inspect(const InstalledApp& app);
    void uninstall(const InstalledApp& app);

    // The search, the rules panel, the list's position, an inspection that is to open the
    // cache sheet, and the open sheets pass to the page built in this one's place.
    std::any handOver() override;
    void takeOver(std::any state) override;

private:
    // An inspection whose plan opens the cache sheet when it ends.
    struct Inspection {
        std::string path;
        QFuture<void> done;
        std::shared_ptr<bool> produced;  // it published a plan for this application
    };
    struct Carried {
        QString search;
        bool rulesOpen = false;
        int listPosition = 0;
        ApplicationList::Place listPlace;
        std::optional<Inspection> inspection;
        std::optional<PageCarry> cacheSheet;
        std::optional<InstalledApp> uninstalling;
        std::optional<PageCarry> uninstallSheet;
    };

    AppModel& model_;
    std::vector<InstalledApp> shown_;
    QFuture<void> startupListing_;
    QPointer<CacheReviewView> cacheSheet_;
    QPointer<UninstallReviewView> uninstallSheet_;
    std::optional<Inspection> inspection_;

    QPushButton* refreshButton_ = nullptr;
    QProgressBar* busyIndicator_ = nullptr;
    StyledLabel* countLine_ = nullptr;
    QLineEdit* searchField_ = nullptr;
    QStackedWidget* content_ = nullptr;
    ApplicationList* list_ = nullptr;
    DisclosureGroup* rules_ = nullptr;

    QWidget* buildHeader();
    QWidget* buildContent();
    QWidget* buildRules();
    // After the inventory or the search changed: lists the matching applications.
    void applySearch();
    // After the busy flags or the running snapshot changed.
    void refreshStates();
    void refreshCount();
    void awaitInspection(const Inspection& inspection);
    // The sheets, opened afresh or with what a predecessor's sheet handed over.
    void showCacheSheet(const PageCarry* carry = nullptr);
    void openUninstallSheet(const InstalledApp& app, const PageCarry* carry = nullptr);
};
