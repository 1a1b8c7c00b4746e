#pragma once
#include "shell/window/CarriedPage.h"

#include <QPointer>
#include <QScrollArea>

class AppModel;
class QDialog;
class NativeActionButton;
class SegmentedControl;
class SoftwareUpdateController;
class SoftwareUpdateView;

// The page "设置", also the whole content of the settings window: the appearance and the
// interface language (both stored settings that every window follows at once), the running
// version, the software-update card, and clearing the history after a confirmation. Its only
// state is whether that confirmation is open.
class SettingsPage : public QScrollArea, public CarriedPage {
    Q_OBJECT
public:
    explicit SettingsPage(AppModel& model, QWidget* parent = nullptr);
    // The same over another update controller than the shared one.
    SettingsPage(AppModel& model, SoftwareUpdateController& updates, QWidget* parent = nullptr);

    SegmentedControl* appearancePicker() const { return appearance_; }
    SoftwareUpdateView* updateCard() const { return updateCard_; }
    NativeActionButton* clearButton() const { return clearButton_; }
    bool confirmingClear() const { return clear_; }
    // Tall enough to show most cards at once where the page sets its window's size.
    QSize sizeHint() const override;

    // The page's position and an open confirmation pass to the page built in this one's place.
    std::any handOver() override;
    void takeOver(std::any state) override;

private:
    AppModel& model_;
    SegmentedControl* appearance_ = nullptr;
    SoftwareUpdateView* updateCard_ = nullptr;
    NativeActionButton* clearButton_ = nullptr;
    bool clear_ = false;
    QPointer<QDialog> clearQuestion_;

    struct Carried {
        int position = 0;
        bool confirmingClear = false;
    };

    void showAppearance();
    void confirmClear();
};
