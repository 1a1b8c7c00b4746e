#pragma once
#include "pages/files/DuplicatesSection.h"
#include "pages/files/MoveConfirmationSheet.h"
#include "shell/window/CarriedPage.h"

#include <QPointer>
#include <QWidget>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

class AppModel;
class DisclosureGroup;
struct FileEntry;
class MiddleElidedLabel;
class NativeActionButton;
class NativeFileTable;
class QBoxLayout;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QScrollArea;
class QToolButton;
class SectionCard;
class SpaceSummaryView;
class StyledLabel;

// The page "文件": choose a folder, scan it, narrow the result with filters and search, look
// for duplicate content, select files and move them to the Trash after a confirmation. Its
// own state is presentation only: whether the confirmation is open and how many result rows
// the table gets; everything else is read from the model and redrawn when the model says so.
// The page fits the window and never scrolls as a whole: the results table (or the duplicate
// list) takes the height the other areas leave and does the scrolling.
class FilesPage : public QWidget, public CarriedPage {
    Q_OBJECT
public:
    static constexpr int kPageRows = 100;
    // Below this height the table would get fewer than three rows beside the other areas at
    // their roomy spacing: the areas then draw tighter, and the table keeps the height.
    static constexpr int kRoomyHeight = 532;
    // Below this height even the tighter areas leave the table fewer than three rows: "Load
    // More" then joins the scan notes' line under the table.
    static constexpr int kTightHeight = 460;

    explicit FilesPage(AppModel& model, QWidget* parent = nullptr);

    int limit() const { return limit_; }
    MoveConfirmationSheet* sheet() const { return sheet_; }

    // The controls, for the window's tests and the audit.
    QWidget* header() const { return header_; }
    QWidget* filterBar() const { return filterBar_; }
    QWidget* emptyState() const { return empty_; }
    QWidget* scanCard() const { return scanCard_; }
    QWidget* duplicateCard() const { return duplicateCard_; }
    QWidget* resultsArea() const { return results_; }
    QWidget* selectionBar() const { return selectionBar_; }
    // The areas above the selection bar; they scroll only in a window too short for all of them.
    QScrollArea* areas() const { return areas_; }
    StyledLabel* selectionCaption() const { return selectionCaption_; }
    QWidget* noMatch() const { return noMatch_; }
    DisclosureGroup* scanNotes() const { return scanNotes_; }
    SpaceSummaryView* spaceSummary() const { return summary_; }
    DuplicatesSection* duplicates() const { return duplicates_; }
    NativeFileTable* table() const { return table_; }
    QPushButton* chooseButton() const { return choose_; }
    QPushButton* changeFolderButton() const { return changeFolder_; }
    QPushButton* scanButton() const { return scan_; }
    QPushButton* stopButton() const { return stop_; }
    QPushButton* chip(const std::string& filter) const;
    QPushButton* kindsButton() const { return kinds_; }
    QPushButton* sortButton() const { return sortMenu_; }
    QLineEdit* searchField() const { return search_; }
    QToolButton* clearSearchButton() const { return clearSearch_; }
    QLineEdit* thresholdField() const { return threshold_; }
    QPushButton* selectPageButton() const { return selectPage_; }
    QPushButton* loadMoreButton() const { return loadMore_; }
    QPushButton* clearSelectionButton() const { return clearSelection_; }
    QPushButton* stopActionButton() const { return stopAction_; }
    NativeActionButton* reviewButton() const { return review_; }
    StyledLabel* matchLabel() const { return matches_; }
    StyledLabel* selectedLabel() const { return selected_; }
    StyledLabel* actionCounter() const { return counter_; }
    QWidget* filteringBadge() const { return filteringBadge_; }
    QWidget* partialBadge() const { return partialBadge_; }
    QWidget* actionProgress() const { return actionGroup_; }
    QWidget* oldDownloadsCaption() const { return oldDownloads_; }
    StyledLabel* kindLabel() const { return kindText_; }

    // How many rows are listed, the notes, the duplicate groups, the lists' positions and an
    // open confirmation pass to the page built in this one's place.
    std::any handOver() override;
    void takeOver(std::any state) override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    // What the model replaced while a handed-over state waited for its page.
    class Replaced;
    struct Carried {
        int limit = kPageRows;
        bool notesOpen = false;
        int tablePosition = 0;
        int areasPosition = 0;
        DuplicatesSection::Carried duplicates;
        std::optional<PageCarry> sheet;
        std::shared_ptr<Replaced> replaced;
    };

    AppModel& model_;
    int limit_ = kPageRows;
    std::string seenFilter_;
    std::string seenSearch_;
    // "检测重复文件" was pressed with the focus on it: the list takes the focus when it comes,
    // unless the user has moved the focus from where the page left it.
    bool focusDuplicatesWhenShown_ = false;
    QPointer<QWidget> focusLeftOn_;
    QPointer<MoveConfirmationSheet> sheet_;
    bool compact_ = false;
    bool tight_ = false;
    // What a short page draws tighter: the spacing of these layouts (each with its roomy
    // spacing) and the insets of the panels.
    std::vector<std::pair<QBoxLayout*, int>> spaced_;
    std::vector<QBoxLayout*> insets_;
    QBoxLayout* folderNames_ = nullptr;
    QBoxLayout* selectionStack_ = nullptr;
    QBoxLayout* selectionLine_ = nullptr;
    QBoxLayout* resultsStack_ = nullptr;
    QBoxLayout* notesLine_ = nullptr;

    QScrollArea* areas_ = nullptr;
    QWidget* header_ = nullptr;
    MiddleElidedLabel* folderName_ = nullptr;
    MiddleElidedLabel* folderPath_ = nullptr;
    QPushButton* changeFolder_ = nullptr;
    QPushButton* scan_ = nullptr;
    QPushButton* stop_ = nullptr;

    QWidget* filterBar_ = nullptr;
    QWidget* chipRow_ = nullptr;
    std::map<std::string, QPushButton*> chips_;
    QPushButton* kinds_ = nullptr;
    QWidget* searchRow_ = nullptr;
    QLineEdit* search_ = nullptr;
    QToolButton* clearSearch_ = nullptr;
    QWidget* thresholdGroup_ = nullptr;
    QLineEdit* threshold_ = nullptr;
    QPushButton* sortMenu_ = nullptr;
    QWidget* oldDownloads_ = nullptr;
    QWidget* kindLabel_ = nullptr;
    StyledLabel* kindText_ = nullptr;

    QWidget* scanCard_ = nullptr;
    StyledLabel* scanCounts_ = nullptr;
    StyledLabel* scanBytes_ = nullptr;
    MiddleElidedLabel* scanCurrent_ = nullptr;
    QWidget* duplicateCard_ = nullptr;
    QProgressBar* duplicateBar_ = nullptr;
    StyledLabel* duplicateCounts_ = nullptr;
    MiddleElidedLabel* duplicateCurrent_ = nullptr;

    QWidget* empty_ = nullptr;
    StyledLabel* emptyTitle_ = nullptr;
    StyledLabel* emptyDescription_ = nullptr;
    QPushButton* choose_ = nullptr;

    QWidget* results_ = nullptr;
    SpaceSummaryView* summary_ = nullptr;
    StyledLabel* matches_ = nullptr;
    QWidget* filteringBadge_ = nullptr;
    QPushButton* selectPage_ = nullptr;
    QWidget* partialBadge_ = nullptr;
    DuplicatesSection* duplicates_ = nullptr;
    QWidget* tableFrame_ = nullptr;
    NativeFileTable* table_ = nullptr;
    QPushButton* loadMore_ = nullptr;
    QWidget* noMatch_ = nullptr;
    DisclosureGroup* scanNotes_ = nullptr;
    QScrollArea* scanNotesBox_ = nullptr;
    QWidget* scanNoteLines_ = nullptr;

    QWidget* selectionBar_ = nullptr;
    StyledLabel* selected_ = nullptr;
    QPushButton* clearSelection_ = nullptr;
    QWidget* actionGroup_ = nullptr;
    StyledLabel* counter_ = nullptr;
    QPushButton* stopAction_ = nullptr;
    NativeActionButton* review_ = nullptr;
    StyledLabel* selectionCaption_ = nullptr;

    bool busy() const;
    void setCompact(bool compact);
    void setTight(bool tight);

    QWidget* buildHeader();
    QWidget* buildFilterBar();
    QWidget* buildScanCard();
    QWidget* buildDuplicateCard();
    QWidget* buildEmptyState();
    QWidget* buildResults();
    QWidget* buildSelectionBar();

    // Redraws, each from what the model publishes.
    void refreshAreas();
    void refreshHeader();
    void refreshFilterBar();
    void refreshScanProgress();
    void refreshDuplicateProgress();
    void refreshResults();
    void refreshTable();
    void refreshTableSelection();
    std::set<std::string> selectedAmong(const std::vector<FileEntry>& rows) const;
    void refreshScanNotes();
    void refreshSelectionBar();

    // The page's focused control went away with its area: the next control of the page takes
    // the focus instead of whatever follows in the window.
    void keepFocusInPage(QWidget* lost);
    void focusDuplicatesIfAwaited();

    // A new filter or search starts again at the first page of rows; true when it did.
    bool resetLimitOnNewQuery();
    void selectCurrentPage();
    void tableSelectionChanged();
    void openConfirmation(const PageCarry* carry = nullptr);
};
