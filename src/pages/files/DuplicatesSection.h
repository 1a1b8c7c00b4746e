#pragma once
#include "pages/files/DuplicateGroupView.h"

#include <QWidget>
#include <functional>
#include <map>
#include <string>
#include <vector>

class AppModel;
class ContentUnavailableView;
class DisclosureGroup;
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
    // The group views built so far, in list order.
    const std::vector<DuplicateGroupView*>& groupViews() const { return order_; }
    DuplicateGroupView* groupView(const std::string& id) const;
    // Builds the next groups, as scrolling to the end of the list does.
    void showMoreGroups();
    // The first control of the list that the keyboard can reach; null without groups.
    QWidget* firstControl() const;

    static constexpr size_t kGroupsPerBatch = 50;

    // What the section holds of its own, for the section built in its place after a language
    // change: how many groups it lists, each group's kept copy and listed copies, whether the
    // problems are open, and the list's position.
    struct Carried {
        size_t wanted = kGroupsPerBatch;
        std::map<std::string, DuplicateGroupView::Carried> groups;
        bool warningsOpen = false;
        int listPosition = 0;
    };
    Carried handOver() const;
    void takeOver(const Carried& carried);

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
    // Views by group id, kept while their group is listed so a group keeps its kept copy
    // and its count of shown copies; built a batch at a time as the list scrolls.
    std::map<std::string, DuplicateGroupView*> views_;
    std::vector<DuplicateGroupView*> order_;
    size_t wanted_ = kGroupsPerBatch;
    const Carried* carrying_ = nullptr;  // while taking over: the predecessor's groups

    void refreshGroups();
    // No report: the next one starts afresh, at its first group with its problems folded.
    void forgetReport();
};
