#pragma once
#include "services/ApplicationMemory.h"
#include "shell/window/CarriedPage.h"

#include <QDialog>

#include <functional>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

class AppModel;
class NativeActionButton;
class NativeMemoryCheckbox;
class QLabel;
class QVBoxLayout;

// The sheet in which the user ticks the applications to be asked to quit for a memory release.
// The memory page hands it the current candidates whenever the model's list changes. A tick
// belongs to one application, named by its process id, bundle path and name together: when an
// id is taken over by another application between two list refreshes, the tick does not pass
// to it.
class MemoryReleaseReview : public QDialog, public CarriedPage {
    Q_OBJECT
public:
    using Key = std::tuple<int32_t, std::string, std::string>;  // id, bundle path, name
    // Runs the release of the chosen applications once the sheet has closed itself.
    using Release = std::function<void(std::vector<ApplicationMemory> chosen)>;

    MemoryReleaseReview(AppModel& model, std::vector<ApplicationMemory> candidates, Release release,
                        QWidget* parent = nullptr);

    static Key keyOf(const ApplicationMemory& application);

    // Replaces the offered applications; ticks of applications still offered stay.
    void setCandidates(std::vector<ApplicationMemory> candidates);
    const std::vector<ApplicationMemory>& candidates() const { return candidates_; }
    // The ticked applications among those offered, in the offered order.
    std::vector<ApplicationMemory> chosen() const;

    NativeMemoryCheckbox* checkbox(const ApplicationMemory& application) const;

    // The ticks (also of applications no longer offered) pass to the review built in this
    // one's place.
    std::any handOver() override { return selected_; }
    void takeOver(std::any state) override;
    NativeActionButton* cancelButton() const { return cancel_; }
    NativeActionButton* confirmButton() const { return confirm_; }

private:
    struct Row {
        QWidget* widget = nullptr;
        NativeMemoryCheckbox* checkbox = nullptr;
        QLabel* footprint = nullptr;
    };

    AppModel& model_;
    Release release_;
    std::vector<ApplicationMemory> candidates_;
    std::set<Key> selected_;
    std::map<Key, Row> rows_;
    QVBoxLayout* rowsLayout_ = nullptr;
    NativeActionButton* cancel_ = nullptr;
    NativeActionButton* confirm_ = nullptr;

    Row makeRow(const ApplicationMemory& application);
    void refreshConfirm();
    void confirm();
};
