#pragma once
#include <QFont>
#include <QListView>
#include <QStringList>

#include <functional>
#include <vector>

class CheckableRowModel;
class CheckableRowDelegate;

// A list whose rows are each a checkbox beside a few lines of text, for lists a user can make
// thousands of rows long: one view over a model, the rows painted by a delegate and their texts
// made when a row is first drawn, so listing more rows costs no widgets and no per-row layout.
// Every row has the same height: each line is one line of its font, shortened in the middle
// when it does not fit (the whole line shows as a tooltip). A click on a row or Space on the
// current row turns its tick; the list is one stop in the Tab order and shows the focus on the
// current row's checkbox. The owner keeps the ticks: the list asks for them when it paints
// and announces the user's turns.
class CheckableRowList : public QListView {
    Q_OBJECT
public:
    struct Line {
        QFont font;
        bool muted = false;
    };
    // A row's texts, one per line; whether its tick is on.
    using Texts = std::function<QStringList(int row)>;
    using Ticked = std::function<bool(int row)>;

    CheckableRowList(std::vector<Line> lines, Texts texts, Ticked ticked, QWidget* parent = nullptr);
    ~CheckableRowList() override;

    int rowCount() const;
    // More rows than listed are appended, fewer drop the last ones; the others stay as they are.
    void setRowCount(int rows);
    // The rows stand for other items now: all are made again; the current row stays where it was.
    void resetRows(int rows);
    // The ticks changed: the shown rows are drawn again.
    void refreshTicks();
    // Disabled rows cannot be turned.
    void setRowsEnabled(bool enabled);
    bool rowsEnabled() const;

    bool isTicked(int row) const;
    // The row's lines, as made (before any shortening).
    QStringList texts(int row) const;
    int rowHeight() const;
    // Where the row's checkbox is drawn, in viewport coordinates; empty when not laid out.
    QRect checkRect(int row) const;

signals:
    // The user turned the row's tick to `ticked`.
    void toggled(int row, bool ticked);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index, const QEvent* event) const override;

private:
    friend class CheckableRowModel;
    friend class CheckableRowDelegate;

    CheckableRowModel* model_ = nullptr;
    CheckableRowDelegate* delegate_ = nullptr;

    void followRowCount();
};
