#pragma once
#include <QAbstractButton>

// One entry of the sidebar or the top bar: the page's symbol and translated title, filled with
// the accent at low opacity when it is the shown page. The whole rectangle is clickable. Tab
// reaches it (drawn with a focus ring), the arrow keys move to the entries beside it, and
// Return or Space opens its page.
class NavigationItem : public QAbstractButton {
    Q_OBJECT
public:
    NavigationItem(const QString& page, const QString& symbol, bool horizontal, QWidget* parent = nullptr);

    QString page() const { return page_; }
    void setSelected(bool selected);
    bool isSelected() const { return isChecked(); }
    void retranslate();

    QSize sizeHint() const override;
    // In the top bar a narrow window takes room from the side padding, then from the gap
    // after the symbol, and last elides the title.
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void nextCheckState() override;

private:
    QString page_;
    QString symbol_;
    bool horizontal_;

    int horizontalPadding() const { return horizontal_ ? 10 : 13; }
    int verticalPadding() const { return horizontal_ ? 9 : 8; }
    QFont titleFont() const;
    int titleWidth() const;
    void moveFocus(int step);
};
