#pragma once
#include "shell/window/FocusSpot.h"

#include <any>

class QAbstractScrollArea;
class QWidget;

// A page (or a sheet of one) that hands its presentation state to the one built in its place.
// Pages draw their texts once, so a language change builds them again; what the model does not
// hold (a search text, open disclosures, list positions, an open sheet with its ticks, a
// question awaiting its answer, a run whose end the sheet still awaits) must not go with the
// old widgets.
class CarriedPage {
public:
    virtual ~CarriedPage() = default;
    // The state, taken just before the widget is dropped. Its sheets and questions close
    // without acting on an answer: the successor opens them again.
    virtual std::any handOver() = 0;
    // What the predecessor handed over, given to its successor once placed. A page gets it
    // before it is first shown, so it never shows (nor applies) the state a new page starts
    // with; a sheet, once its owner has opened it.
    virtual void takeOver(std::any state) = 0;
};

// What passes from a dropped page or sheet to its successor: its own state when it carries
// any, and the control that had the keyboard focus.
class PageCarry {
public:
    static PageCarry from(QWidget* page);
    // Hands the state over, shows the successor if it is not shown yet, then gives the focus
    // back (the state may have listed more rows or opened a sheet).
    void into(QWidget* page) const;

private:
    std::any state_;
    FocusSpot focus_;
};

// Closes a sheet or question of a page being dropped, without its answer being acted on;
// answers that wait for its end hear "no".
void dropWindow(QWidget* window);

// The vertical position of a scrolling list, and putting it back on the rebuilt list once it
// is shown and laid out (as far as the list now reaches).
int listPosition(const QAbstractScrollArea* list);
void restoreListPosition(QAbstractScrollArea* list, int position);
