#pragma once
#include "services/ApplicationMemory.h"
#include "services/MemoryAdvice.h"
#include "pages/memory/MemoryReleaseReview.h"
#include "shell/window/CachedPageHost.h"
#include "shell/window/CarriedPage.h"

#include <QDialog>
#include <QPointer>
#include <QScrollArea>

#include <optional>
#include <vector>

class AppModel;
class ContentUnavailableView;
class MemoryApplicationList;
class MemoryReleaseResultView;
class MemoryTrendChart;
class NativeActionButton;
class QVBoxLayout;
class SectionCard;
class StyledLabel;

// The page "内存": the advice on the recent samples, the counters of the latest sample, the
// trend of compressor and swap, the memory release with its result, the running applications
// with a normal quit request each, and a way out to the system monitor. Everything shown is
// drawn again from the model; the page keeps only the application awaiting a quit
// confirmation and the open release review.
class MemoryPage : public QScrollArea, public RefreshablePage, public CarriedPage {
    Q_OBJECT
public:
    explicit MemoryPage(AppModel& model, QWidget* parent = nullptr);
    // Closes the review and the quit confirmation with it: both belong to this page, and a
    // page rebuilt for another language must not leave a sheet whose answer nobody takes.
    ~MemoryPage() override;

    void refreshContent() override;
    // The page's and the list's positions, the open review with its ticks and the quit
    // question pass to the page built in this one's place.
    std::any handOver() override;
    void takeOver(std::any state) override;

    // The applications that may be offered for a release, largest footprint first.
    std::vector<ApplicationMemory> releaseCandidates() const;
    // Opens the release review over the current candidates (the release button's action),
    // with what a predecessor's review handed over when given.
    void openReleaseReview(const PageCarry* carry = nullptr);
    // Asks for confirmation before the application is asked to quit (a row button's action).
    void confirmQuit(const ApplicationMemory& application);

    SectionCard* adviceCard() const { return adviceCard_; }
    QWidget* countersCard() const { return countersCard_; }
    ContentUnavailableView* memoryUnavailable() const { return memoryUnavailable_; }
    QWidget* trendCard() const { return trendCard_; }
    MemoryTrendChart* trendChart() const { return trendChart_; }
    NativeActionButton* releaseButton() const { return releaseButton_; }
    QWidget* releaseProgress() const { return releaseProgress_; }
    MemoryReleaseResultView* releaseResult() const { return releaseResult_; }
    MemoryReleaseReview* releaseReview() const { return releaseReview_; }
    MemoryApplicationList* applicationList() const { return applicationList_; }
    NativeActionButton* monitorButton() const { return monitorButton_; }
    QDialog* quitConfirmation() const { return quitConfirmation_; }
    const std::optional<ApplicationMemory>& quitTarget() const { return quitTarget_; }

private:
    struct Carried {
        int position = 0;
        int listPosition = 0;
        std::optional<int32_t> currentApplication;
        std::optional<PageCarry> review;
        std::optional<ApplicationMemory> quitTarget;
    };
    struct CounterRow {
        QWidget* row = nullptr;
        StyledLabel* value = nullptr;
    };

    AppModel& model_;
    std::optional<ApplicationMemory> quitTarget_;
    QPointer<MemoryReleaseReview> releaseReview_;
    QPointer<QDialog> quitConfirmation_;

    QVBoxLayout* stack_ = nullptr;
    std::optional<MemoryAdvice> shownAdvice_;
    SectionCard* adviceCard_ = nullptr;
    QWidget* countersCard_ = nullptr;
    std::vector<CounterRow> counters_;
    StyledLabel* sampledAt_ = nullptr;
    ContentUnavailableView* memoryUnavailable_ = nullptr;
    QWidget* trendCard_ = nullptr;
    MemoryTrendChart* trendChart_ = nullptr;
    NativeActionButton* releaseButton_ = nullptr;
    QWidget* releaseProgress_ = nullptr;
    QVBoxLayout* releaseColumn_ = nullptr;
    MemoryReleaseResultView* releaseResult_ = nullptr;
    MemoryApplicationList* applicationList_ = nullptr;
    StyledLabel* noApplications_ = nullptr;
    NativeActionButton* monitorButton_ = nullptr;

    QWidget* buildCounters();
    QWidget* buildTrend();
    QWidget* buildRelease();
    QWidget* buildApplications();
    QWidget* buildFooter();

    void refreshAdvice();
    void refreshCounters();
    void refreshTrend();
    void refreshRelease();
    void refreshApplications();
};
