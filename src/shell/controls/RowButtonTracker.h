#pragma once
#include <QObject>
#include <QRect>
#include <functional>
#include <optional>

class QAbstractItemView;
class QModelIndex;

// Scrolls `index` into sight before a key acts on its row: in the view, and in every scroll area
// the view lies in.
void revealRow(QAbstractItemView* view, const QModelIndex& index);

// A button painted inside a row of an item view: the row and which of the row's buttons.
struct RowButtonHit {
    int row = -1;
    int button = 0;
    bool operator==(const RowButtonHit&) const = default;
};

// Hover, press and release of the buttons a delegate paints in the rows of an item view, so
// they behave like real buttons without a widget per row. Only the left button presses one, a
// quick second click included, and the button acts when the left button is released over it.
// The press takes the event, so the row's selection stays as it was; every other event goes
// on to the view. Reached from the keyboard with no current row, the view starts on its first
// row, so that a key acts on a row (and the row shows the focus) at once.
class RowButtonTracker : public QObject {
public:
    using HitTest = std::function<std::optional<RowButtonHit>(const QPoint& viewportPos)>;
    using Rect = std::function<QRect(const RowButtonHit&)>;
    using Action = std::function<void(const RowButtonHit&)>;

    // Watches `view` and its viewport for as long as the view lives (the tracker is its child).
    // `hitAt` finds the button under a point, `rectOf` where a button is drawn, `clicked` acts;
    // `pressed`, when given, runs as a button goes down.
    RowButtonTracker(QAbstractItemView* view, HitTest hitAt, Rect rectOf, Action clicked, Action pressed = {});

    std::optional<RowButtonHit> hovered() const { return hovered_; }
    std::optional<RowButtonHit> pressed() const { return pressed_; }
    // While blocked a press on a button is still taken, but nothing goes down.
    void setBlocked(bool blocked);
    // Lets go of the button held down: the rows changed and it may stand for another item now.
    void cancelPress() { pressed_.reset(); }
    void setHovered(std::optional<RowButtonHit> hovered);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QAbstractItemView* view_;
    HitTest hitAt_;
    Rect rectOf_;
    Action clicked_;
    Action pressedHook_;
    bool blocked_ = false;
    std::optional<RowButtonHit> hovered_;
    std::optional<RowButtonHit> pressed_;

    void repaint(const std::optional<RowButtonHit>& hit);
};
