#pragma once
#include "pages/apps/ReviewSheet.h"
#include "services/InstalledApp.h"
#include "services/RelatedItem.h"
#include "shell/window/CarriedPage.h"

#include <QFuture>
#include <QPointer>

#include <memory>
#include <set>
#include <string>
#include <unordered_set>
#include <vector>

class NativeActionButton;
class NativeRelatedCheckbox;
class QLabel;
class QProgressBar;
class QVBoxLayout;
class RoundedPanel;
class StyledLabel;
struct Operation;

// The review of one application's uninstall: its related items, found off the main thread,
// are ticked one by one; the model moves the bundle and the ticked items. When the bundle has
// moved but ticked items remain, the sheet stays open to retry them, and it closes by itself
// once nothing chosen is left.
class UninstallReviewView : public ReviewSheet, public CarriedPage {
    Q_OBJECT
public:
    UninstallReviewView(AppModel& model, InstalledApp app, QWidget* parent);

    const InstalledApp& app() const { return app_; }
    const std::vector<RelatedItem>& items() const { return items_; }
    const std::set<std::string>& selection() const { return selection_; }
    bool loading() const { return loading_; }
    bool packageRemoved() const { return packageRemoved_; }

    // The orange note of a related item: the detail of the newest record for its path when
    // that record failed; empty otherwise.
    static std::string failureNote(const std::vector<Operation>& history, const std::string& path);

    NativeRelatedCheckbox* checkbox(const std::string& path) const;
    QLabel* note(const std::string& path) const;
    StyledLabel* explanation() const { return explanation_; }
    RoundedPanel* list() const { return list_; }
    NativeActionButton* closeButton() const { return close_; }
    NativeActionButton* recheckButton() const { return recheck_; }
    NativeActionButton* stopButton() const { return stop_; }
    NativeActionButton* primaryButton() const { return primary_; }

    void setSelected(const std::string& path, bool selected);
    // Discovers the related items again; clears the ticks.
    void recheck();
    // Asks for the confirmation, then uninstalls (or retries the remaining items).
    void confirmAndRun();

    // The items, ticks and mode, a run whose end is still to be reconciled, the list's position
    // and an open confirmation pass to the sheet built in this one's place.
    std::any handOver() override;
    void takeOver(std::any state) override;

signals:
    // Each time the related items found by a discovery have been applied.
    void itemsDiscovered();
    // Each time the sheet has reconciled itself with the history after a model call.
    void reconciled();

private:
    // A model call whose end the sheet reconciles with the history.
    struct Run {
        QFuture<void> done;
        std::unordered_set<std::string> before;  // the record ids before it
        std::vector<std::string> chosen;
    };
    struct Carried {
        std::vector<RelatedItem> items;
        std::set<std::string> selection;
        bool loading = true;
        bool packageRemoved = false;
        std::unordered_set<std::string> ownRecords;
        std::shared_ptr<const Run> run;
        int listPosition = 0;
        bool confirming = false;
    };
    struct Row {
        RelatedItem item;
        QWidget* widget = nullptr;
        NativeRelatedCheckbox* check = nullptr;
        QLabel* note = nullptr;
    };

    InstalledApp app_;
    std::vector<RelatedItem> items_;
    std::set<std::string> selection_;
    bool loading_ = true;
    bool packageRemoved_ = false;
    // The ids of the records written while this sheet's model calls ran.
    std::unordered_set<std::string> ownRecords_;
    std::shared_ptr<const Run> run_;
    int discovery_ = 0;  // only the newest discovery's result is applied
    QPointer<QDialog> confirmation_;
    std::vector<Row> rows_;

    StyledLabel* explanation_ = nullptr;
    RoundedPanel* list_ = nullptr;
    QProgressBar* loadingIndicator_ = nullptr;
    QVBoxLayout* rowColumn_ = nullptr;
    StyledLabel* emptyNote_ = nullptr;
    StyledLabel* message_ = nullptr;
    NativeActionButton* close_ = nullptr;
    NativeActionButton* recheck_ = nullptr;
    QProgressBar* runIndicator_ = nullptr;
    NativeActionButton* stop_ = nullptr;
    NativeActionButton* primary_ = nullptr;

    QWidget* buildButtons();
    void discover(std::vector<InstalledApp> installed);
    void run(const std::vector<RelatedItem>& chosen);
    void awaitRun(std::shared_ptr<const Run> run);
    void reconcile(const std::unordered_set<std::string>& before, const std::vector<std::string>& chosen);
    void rebuildRows();
    void refreshNotes();
    void refreshTexts();
    void refreshStates();
};
