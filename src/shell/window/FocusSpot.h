#pragma once
#include <QString>

class QWidget;

// Where the keyboard focus sits in a widget tree, kept so that the same tree built again (a
// page rebuilt in another language) can give the focus back to the same control. The control
// is found by its object name when that is unique in the tree, else by its place among the
// focusable widgets under its nearest uniquely named ancestor.
class FocusSpot {
public:
    // The focus of root's window when it lies inside root; an empty spot otherwise.
    static FocusSpot in(const QWidget* root);

    bool isEmpty() const { return index_ < 0; }
    // Focuses the matching control under `root`; false when there is none.
    bool restore(QWidget* root) const;

private:
    QString anchor_;     // object name of the uniquely named ancestor; empty: the root itself
    QString className_;  // the control's class, which the match must share
    int index_ = -1;     // place among the anchor's focusable widgets, the anchor first
};

// The control after `from` in the tab order that lies in `scope` and can take the focus now,
// going round within `scope`. Scroll areas, and widgets that pass the focus on to another
// (a scroll area's viewport), are left out, as Tab leaves them out: they show no focus.
QWidget* nextTabStop(QWidget* from, QWidget* scope);
