#pragma once
#include "pages/apps/ReviewSheet.h"
#include "shell/window/CarriedPage.h"

#include <QPointer>

class CheckableRowList;
class DisclosureGroup;
class NativeActionButton;
class QPushButton;
class QVBoxLayout;
class RoundedPanel;
class StyledLabel;

// The review of one application's cache plan: the old cache files, chosen one by one or all
// listed rows at once, moved to the Trash by the model after a confirmation. The sheet keeps
// only how many rows it lists; the plan, the choice and the progress are the model's. The rows
// are painted in one list, so listing more of them adds rows without touching those listed.
class CacheReviewView : public ReviewSheet, public CarriedPage {
    Q_OBJECT
public:
    static constexpr int kPageRows = 200;
    static constexpr int kRowHeightLimit = 78;

    CacheReviewView(AppModel& model, QWidget* parent);

    // The most height the file list may take: 78 per listed row, at least 78.
    static int listHeightLimit(int limit, int planFiles);

    int limit() const { return limit_; }
    int listedRows() const;
    // Row i lists the plan's file i.
    CheckableRowList* rows() const { return rows_; }
    RoundedPanel* list() const { return list_; }
    QPushButton* loadMoreButton() const { return loadMore_; }
    StyledLabel* summary() const { return summary_; }
    StyledLabel* progressText() const { return progress_; }
    NativeActionButton* selectShownButton() const { return selectShown_; }
    NativeActionButton* clearButton() const { return clear_; }
    NativeActionButton* rescanButton() const { return rescan_; }
    NativeActionButton* stopButton() const { return stop_; }
    NativeActionButton* closeButton() const { return close_; }
    NativeActionButton* cleanButton() const { return clean_; }
    QWidget* planArea() const { return planArea_; }

    void loadMore();
    void selectShown();
    void rescan();
    // Asks for the confirmation, then moves the chosen files.
    void confirmAndClean();

    // The row limit, the notes, the list's position and current row and an open confirmation
    // pass to the sheet built in this one's place; the plan, the ticks and a running clean are
    // the model's.
    std::any handOver() override;
    void takeOver(std::any state) override;

private:
    struct Carried {
        int limit = kPageRows;
        bool notesOpen = false;
        int listPosition = 0;
        int currentRow = -1;
        bool confirming = false;
    };

    int limit_ = kPageRows;
    QPointer<QDialog> confirmation_;

    StyledLabel* title_ = nullptr;
    QWidget* planArea_ = nullptr;
    StyledLabel* root_ = nullptr;
    StyledLabel* summary_ = nullptr;
    RoundedPanel* list_ = nullptr;
    CheckableRowList* rows_ = nullptr;
    QPushButton* loadMore_ = nullptr;
    DisclosureGroup* notes_ = nullptr;
    QVBoxLayout* notesSlot_ = nullptr;
    StyledLabel* message_ = nullptr;
    StyledLabel* progress_ = nullptr;
    NativeActionButton* selectShown_ = nullptr;
    NativeActionButton* clear_ = nullptr;
    NativeActionButton* rescan_ = nullptr;
    NativeActionButton* stop_ = nullptr;
    NativeActionButton* close_ = nullptr;
    NativeActionButton* clean_ = nullptr;

    QWidget* buildButtons();
    // After a new plan or application: every row is made again.
    void rebuildPlan();
    // After a new limit: rows are added or dropped at the end.
    void showRows();
    void refreshTitle();
    void refreshSummary();
    void refreshStates();
    void refreshMessage();
};
