#pragma once
#include <QObject>

// The one software-update controller, shared by the menu, the main view and the settings page.
// Not built yet: it stays idle, and both checks return at once without changing anything.
class SoftwareUpdateController : public QObject {
    Q_OBJECT
public:
    enum class State { idle, checking, current, available, downloading, ready, failed };

    static SoftwareUpdateController& shared();

    State state() const { return state_; }
    // Fetches and checks the update manifest; returns at once while a check or download runs.
    void check();
    // The menu's check, ending in an alert with the result.
    void checkFromMenu();

signals:
    void stateChanged();

private:
    SoftwareUpdateController() = default;
    State state_ = State::idle;
};
