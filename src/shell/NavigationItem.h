#pragma once
#include <QAbstractButton>

// One entry of the sidebar or the top bar: the page's symbol and translated title, filled with
// the accent at low opacity when it is the shown page. The whole rectangle is clickable.
class NavigationItem : public QAbstractButton {
    Q_OBJECT
public:
    NavigationItem(const QString& page, const QString& symbol, bool horizontal, QWidget* parent = nullptr);

    QString page() const { return page_; }
    void setSelected(bool selected);
    bool isSelected() const { return isChecked(); }
    void retranslate();

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    QString page_;
    QString symbol_;
    bool horizontal_;
    bool keyboardFocus_ = false;  // the ring shows only for focus reached by the keyboard

    int horizontalPadding() const { return horizontal_ ? 10 : 13; }
    int verticalPadding() const { return horizontal_ ? 9 : 8; }
    QFont titleFont() const;
};
