#pragma once
#include <QWidget>
#include <functional>

class AppModel;
class ContentUnavailableView;
class DisclosureGroup;
class QLabel;
class QPushButton;
class QVBoxLayout;
class StyledLabel;

// What the results area shows under the filter "重复文件": before a duplicate search, an offer
// to start one; after it, the number of groups, a note when the search was stopped, the groups
// (or a nothing-found view) and the search's per-file problems.
class DuplicatesSection : public QWidget {
    Q_OBJECT
public:
    // `busy` tells whether a scan, file action or duplicate search runs.
    DuplicatesSection(AppModel& model, std::function<bool()> busy, QWidget* parent = nullptr);

    // Redraws from the model.
    void refresh();

    QPushButton* detectButton() const { return detect_; }
    QWidget* startForm() const { return start_; }
    QWidget* reportForm() const { return report_; }
    StyledLabel* countLabel() const { return count_; }
    QWidget* cancelledLabel() const { return cancelled_; }
    ContentUnavailableView* nothingFound() const { return nothingFound_; }
    QWidget* groupList() const { return groups_; }
    DisclosureGroup* warnings() const { return warnings_; }

private:
    AppModel& model_;
    std::function<bool()> busy_;
    QWidget* start_ = nullptr;
    QPushButton* detect_ = nullptr;
    QWidget* report_ = nullptr;
    StyledLabel* count_ = nullptr;
    QWidget* cancelled_ = nullptr;
    ContentUnavailableView* nothingFound_ = nullptr;
    QWidget* groups_ = nullptr;
    QVBoxLayout* groupRows_ = nullptr;
    DisclosureGroup* warnings_ = nullptr;
    StyledLabel* warningText_ = nullptr;
};
