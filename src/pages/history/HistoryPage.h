#pragma once
#include "engine/Operation.h"

#include <QWidget>

class AppModel;
class HistoryRecordList;
class NativeActionButton;
class QScrollArea;
class QVBoxLayout;
class StyledLabel;

// The page "操作记录": the notes about actions an earlier run left unfinished, with the
// confirmed clearing of them; the records of every move to the Trash, newest first, each
// restorable after a confirmation while it still lies in the Trash; and the way to the Trash
// folder. Everything shown is the model's; the page keeps no state of its own.
class HistoryPage : public QWidget {
    Q_OBJECT
public:
    explicit HistoryPage(AppModel& model, QWidget* parent = nullptr);

    HistoryRecordList* recordList() const { return list_; }

signals:
    // A confirmed restore has ended and the model has published its outcome.
    void restoreFinished();

private:
    AppModel& model_;
    QScrollArea* notesArea_ = nullptr;
    QWidget* notes_ = nullptr;
    QVBoxLayout* notesLayout_ = nullptr;
    NativeActionButton* clearNotes_ = nullptr;
    QWidget* emptyArea_ = nullptr;
    QWidget* header_ = nullptr;
    StyledLabel* count_ = nullptr;
    QWidget* listPanel_ = nullptr;
    HistoryRecordList* list_ = nullptr;

    QWidget* makeEmptyArea();
    QWidget* makeHeader();
    void showNotes();
    void fitNotes();
    void showHistory();
    void showBlocking();
    void confirmRestore(const Operation& record);
    void confirmClearNotes();

protected:
    void resizeEvent(QResizeEvent* event) override;
};
