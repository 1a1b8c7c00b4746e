#pragma once
#include <QDialog>

class AppModel;
class NativeActionButton;
class QListView;
class StyledLabel;

// The confirmation asked before selected files move to the Trash: their count and size and
// a list of every selected file (also those the results table does not show), read straight
// from the model's selected files, so a hundred thousand rows cost no copy and no widgets.
// "取消" closes it; "移入废纸篓" closes it, then starts the move.
class MoveConfirmationSheet : public QDialog {
    Q_OBJECT
public:
    MoveConfirmationSheet(AppModel& model, QWidget* parent);

    QListView* list() const { return list_; }
    NativeActionButton* cancelButton() const { return cancel_; }
    NativeActionButton* moveButton() const { return move_; }
    QString summary() const;

private:
    AppModel& model_;
    StyledLabel* summary_ = nullptr;
    QListView* list_ = nullptr;
    NativeActionButton* cancel_ = nullptr;
    NativeActionButton* move_ = nullptr;

    void refresh();
};
