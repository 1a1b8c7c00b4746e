#pragma once
#include <QObject>

class QWidget;

// Keeps a pass of the wheel from changing a choice. A control that changes its value on the
// wheel (combo box, spin box, slider) never takes the wheel, focused or not, and the wheel never
// gives it focus; the wheel goes on to the widgets around it, so the list or page that holds
// the control scrolls instead. Clicks and keys change the control as usual.
class WheelGuard : public QObject {
    Q_OBJECT
public:
    // Guards `control` for as long as it lives (the guard is its child).
    static void install(QWidget* control);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit WheelGuard(QWidget* control);
};
