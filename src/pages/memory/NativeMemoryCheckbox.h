#pragma once
#include <QCheckBox>

// The checkbox of one row of the memory release review, titled with an application name as it
// is. The owner shows its bound value with setValue(); a click by the user is reported through
// valueWritten() with the new state. In a row too narrow for the whole name the title is
// shortened with an ellipsis before anything beside it gives way.
class NativeMemoryCheckbox : public QCheckBox {
    Q_OBJECT
public:
    NativeMemoryCheckbox(const QString& title, bool value, QWidget* parent = nullptr);

    QString title() const { return title_; }
    void setValue(bool value) { setChecked(value); }
    bool value() const { return isChecked(); }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void valueWritten(bool value);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QString title_;
    void elide();
};
