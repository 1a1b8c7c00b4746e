#pragma once
#include "shell/controls/SectionCard.h"

class QProgressBar;
class QPushButton;
class SoftwareUpdateController;
class StyledLabel;

// The software-update card of the settings page: the running version, the controller's status,
// a busy indicator, the check, download and open buttons that fit the controller's state, and
// a note on how the installer is used. It keeps nothing of its own and redraws from the
// controller on each of its changes; a language change rebuilds the page that holds it.
class SoftwareUpdateView : public SectionCard {
    Q_OBJECT
public:
    explicit SoftwareUpdateView(SoftwareUpdateController& updates, QWidget* parent = nullptr);

    QLabel* versionLine() const;
    StyledLabel* statusLine() const { return status_; }
    QProgressBar* busyIndicator() const { return busy_; }
    QPushButton* checkButton() const { return check_; }
    QPushButton* downloadButton() const { return download_; }
    QPushButton* openButton() const { return open_; }
    StyledLabel* note() const { return note_; }

private:
    SoftwareUpdateController& updates_;
    StyledLabel* version_ = nullptr;
    StyledLabel* status_ = nullptr;
    QProgressBar* busy_ = nullptr;
    QPushButton* check_ = nullptr;
    QPushButton* download_ = nullptr;
    QPushButton* open_ = nullptr;
    StyledLabel* note_ = nullptr;

    void refresh();
};
