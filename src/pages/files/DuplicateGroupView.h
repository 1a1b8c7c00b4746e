#pragma once
#include "engine/DuplicateReport.h"

#include <QWidget>
#include <string>
#include <vector>

class AppModel;
class MiddleElidedLabel;
class QCheckBox;
class QComboBox;
class QPushButton;
class QToolButton;
class QVBoxLayout;
class StyledLabel;

// One group of files with identical content: which copy stays, and which copies go. Shows the
// first copies twenty at a time; marks the kept copy; warns when every copy is selected,
// because the move refuses a group without a remaining copy. Its own state is only the kept
// path and how many copies are listed; the selection is the model's.
class DuplicateGroupView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kCopiesPerPage = 20;
    static constexpr int kMostKeepOptions = 100;

    DuplicateGroupView(AppModel& model, DuplicateGroup group, QWidget* parent = nullptr);

    const DuplicateGroup& group() const { return group_; }
    // The group's files changed (some moved away); the kept path and the count stay.
    void setGroup(DuplicateGroup group);

    const std::string& keep() const { return keep_; }
    // The user's choice of the copy to keep (the picker and the rows' keep buttons).
    void setKeep(const std::string& path);
    int visibleCount() const { return visibleCount_; }
    // Puts the group's controls, in the order they are shown, after `previous` in the tab
    // order; returns the last of them.
    QWidget* placeInTabOrder(QWidget* previous);

    // The view's own state, for the view built in its place after a language change. The
    // successor lists as many copies and keeps the same copy; its first showing leaves the
    // selection as it is, for the choice it applied was applied already.
    struct Carried {
        std::string keep;
        int visibleCount = kCopiesPerPage;
    };
    Carried handOver() const { return {keep_, visibleCount_}; }
    void takeOver(const Carried& carried);

    // The parts, for tests.
    QComboBox* picker() const { return picker_; }
    QPushButton* selectShownButton() const { return selectShown_; }
    QPushButton* loadMoreButton() const { return loadMore_; }
    QWidget* wholeGroupWarning() const { return warning_; }
    StyledLabel* heading() const { return heading_; }
    int shownRows() const { return static_cast<int>(rows_.size()); }
    QCheckBox* rowCheckbox(int row) const { return rows_[static_cast<size_t>(row)].check; }
    MiddleElidedLabel* rowName(int row) const { return rows_[static_cast<size_t>(row)].name; }
    QPushButton* rowKeepButton(int row) const { return rows_[static_cast<size_t>(row)].keep; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    struct Row {
        std::string path;
        QString shownName;  // the file name as one line, made once with the row
        QWidget* widget = nullptr;
        QCheckBox* check = nullptr;
        MiddleElidedLabel* name = nullptr;
        QToolButton* preview = nullptr;
        QToolButton* reveal = nullptr;
        QPushButton* keep = nullptr;
    };

    AppModel& model_;
    DuplicateGroup group_;
    std::string keep_;
    int visibleCount_ = kCopiesPerPage;
    bool appeared_ = false;  // the kept copy has been applied to the selection once

    StyledLabel* heading_ = nullptr;
    StyledLabel* basis_ = nullptr;
    QComboBox* picker_ = nullptr;
    QPushButton* selectShown_ = nullptr;
    QVBoxLayout* rowList_ = nullptr;
    std::vector<Row> rows_;
    QPushButton* loadMore_ = nullptr;
    QWidget* warning_ = nullptr;

    size_t shownCount() const;
    void rebuild();
    void rebuildPicker();
    // Gives the kept copy's choice to a group whose selection the user has started.
    void applyKeep();
    Row makeRow(const FileEntry& file);
    // Marks, checkboxes and the warning, from the model's selection.
    void refreshMarks();
    void toggle(const std::string& path, bool on);
};
