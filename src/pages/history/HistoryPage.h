#pragma once
#include "engine/Operation.h"
#include "shell/window/CarriedPage.h"

#include <QPointer>
#include <QWidget>
#include <optional>
#include <string>

class AppModel;
class HistoryRecordList;
class QDialog;
class NativeActionButton;
class QScrollArea;
class QVBoxLayout;
class StyledLabel;

// The page "操作记录": the notes about actions an earlier run left unfinished, with the
// confirmed clearing of them; the records of every move to the Trash, newest first, each
// restorable after a confirmation while it still lies in the Trash; and the way to the Trash
// folder. Everything shown is the model's; the page keeps no state of its own.
class HistoryPage : public QWidget, public CarriedPage {
    Q_OBJECT
public:
    explicit HistoryPage(AppModel& model, QWidget* parent = nullptr);

    HistoryRecordList* recordList() const { return list_; }

    // The lists' positions, the current record and an open question pass to the page built
    // in this one's place.
    std::any handOver() override;
    void takeOver(std::any state) override;

signals:
    // A confirmed restore has ended and the model has published its outcome.
    void restoreFinished();

private:
    struct Carried {
        int listPosition = 0;
        int currentRow = -1;
        int notesPosition = 0;
        bool asking = false;
        std::optional<std::string> restoring;  // the record the question is about; none: the notes
    };

    AppModel& model_;
    QPointer<QDialog> question_;
    std::optional<std::string> restoring_;
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
    // `window`: where the question is asked; none: the window of the button pressed last.
    void confirmRestore(const Operation& record, QWidget* window = nullptr);
    void confirmClearNotes(QWidget* window = nullptr);

protected:
    void resizeEvent(QResizeEvent* event) override;
};
